#include "serial/PortList.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>
#include <tuple>

namespace r4t8 {

namespace {

std::tuple<int, QString, long> sortKey(const QString& path) {
    static const QRegularExpression kSplit(QStringLiteral("^(.*?)([0-9]*)$"));
    const auto m = kSplit.match(QFileInfo(path).fileName());
    const QString stem = m.captured(1);
    const long number = m.captured(2).isEmpty() ? -1 : m.captured(2).toLong();
    const int rank = stem == QStringLiteral("ttyUSB")   ? 0
                     : stem == QStringLiteral("ttyACM") ? 1
                     : stem == QStringLiteral("ttyS")   ? 3
                                                        : 2;
    return {rank, stem, number};
}

}  // namespace

std::vector<PortInfo> MakePortList(const std::vector<FoundPort>& found,
                                   const std::map<QString, QString>& links) {
    std::vector<PortInfo> ports;
    ports.reserve(found.size());
    for (const FoundPort& f : found) {
        PortInfo info;
        info.name = f.path;
        info.description = f.description.isEmpty() ? f.manufacturer : f.description;
        if (auto it = links.find(QFileInfo(f.path).fileName()); it != links.end())
            info.stablePath = it->second;
        ports.push_back(std::move(info));
    }
    std::stable_sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return sortKey(a.name) < sortKey(b.name);
    });
    return ports;
}

std::map<QString, QString> StableLinks(const QString& byIdDir) {
    std::map<QString, QString> links;
    const QDir dir(byIdDir);
    // Sorted by name, so that of several links to one port the same one wins every time.
    for (const QFileInfo& fi :
         dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!fi.isSymLink()) continue;
        const QString target = QFileInfo(fi.symLinkTarget()).fileName();
        if (!target.isEmpty()) links.try_emplace(target, fi.absoluteFilePath());
    }
    return links;
}

std::vector<PortInfo> ListSerialPorts() {
    std::vector<FoundPort> found;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        // The kernel may know a port whose device node this system lacks (a container's own
        // /dev, a node removed a moment ago): only what can be opened is offered.
        if (!QFileInfo::exists(info.systemLocation())) continue;
        found.push_back({info.systemLocation(), info.description(), info.manufacturer()});
    }
    return MakePortList(found, StableLinks(QStringLiteral("/dev/serial/by-id")));
}

}  // namespace r4t8
