#include "serial/PortList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <tuple>

namespace r4t8 {

namespace {

QString readAttribute(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.read(256)).trimmed();
}

// Older kernels lack the sysfs "type" file; ask the driver instead.
bool uartTypeKnownByIoctl(const QString& devPath) {
    const int fd = ::open(devPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct ss{};
    const bool ok = ioctl(fd, TIOCGSERIAL, &ss) == 0 && ss.type != PORT_UNKNOWN;
    ::close(fd);
    return ok;
}

bool isRealUart(const QString& classDir, const QString& devPath) {
    const QString type = readAttribute(classDir + QStringLiteral("/type"));
    if (!type.isEmpty()) return type != QStringLiteral("0");
    return uartTypeKnownByIoctl(devPath);
}

// Product, else interface, else manufacturer, from the device and the USB levels above it.
QString describe(const QString& classDir) {
    QString dir = QFileInfo(classDir + QStringLiteral("/device")).canonicalFilePath();
    if (dir.isEmpty()) return {};
    QString interfaceName;
    QString manufacturer;
    for (int depth = 0; depth < 4 && !dir.isEmpty(); ++depth) {
        const QString product = readAttribute(dir + QStringLiteral("/product"));
        if (!product.isEmpty()) return product;
        if (interfaceName.isEmpty()) interfaceName = readAttribute(dir + QStringLiteral("/interface"));
        if (manufacturer.isEmpty()) manufacturer = readAttribute(dir + QStringLiteral("/manufacturer"));
        const QString parent = QFileInfo(dir).path();
        if (parent == dir || parent.endsWith(QStringLiteral("/sys/devices"))) break;
        dir = parent;
    }
    return !interfaceName.isEmpty() ? interfaceName : manufacturer;
}

// Which /dev/serial/by-id link points at each kernel name.
std::map<QString, QString> byIdLinks(const QString& devDir) {
    std::map<QString, QString> links;
    QDir byId(devDir + QStringLiteral("/serial/by-id"));
    for (const QFileInfo& fi : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (!fi.isSymLink()) continue;
        const QString target = QFileInfo(fi.symLinkTarget()).fileName();
        if (!target.isEmpty() && !links.count(target)) links[target] = fi.absoluteFilePath();
    }
    return links;
}

std::tuple<int, QString, long> sortKey(const QString& kernelName) {
    static const QRegularExpression kSplit(QStringLiteral("^(.*?)([0-9]*)$"));
    const auto m = kSplit.match(kernelName);
    const QString stem = m.captured(1);
    const long number = m.captured(2).isEmpty() ? -1 : m.captured(2).toLong();
    const int rank = stem == QStringLiteral("ttyUSB") ? 0 : stem == QStringLiteral("ttyACM") ? 1
                   : stem == QStringLiteral("ttyS")   ? 3 : 2;
    return {rank, stem, number};
}

}  // namespace

std::vector<PortInfo> ListSerialPorts(const QString& root) {
    const QString base = QDir::cleanPath(root);
    const QString prefix = base == QStringLiteral("/") ? QString() : base;
    const QString classRoot = prefix + QStringLiteral("/sys/class/tty");
    const QString devDir = prefix + QStringLiteral("/dev");
    const auto links = byIdLinks(devDir);

    std::vector<std::pair<QString, PortInfo>> found;
    const QStringList names = QDir(classRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& kernelName : names) {
        const QString classDir = classRoot + QLatin1Char('/') + kernelName;
        // Virtual consoles and ptys have no device behind them.
        if (!QFileInfo::exists(classDir + QStringLiteral("/device"))) continue;
        const QString devPath = devDir + QLatin1Char('/') + kernelName;
        if (!QFileInfo::exists(devPath)) continue;
        if (kernelName.startsWith(QStringLiteral("ttyS")) && !isRealUart(classDir, devPath)) continue;
        PortInfo info;
        info.name = devPath;
        info.description = describe(classDir);
        if (auto it = links.find(kernelName); it != links.end()) info.stablePath = it->second;
        found.emplace_back(kernelName, std::move(info));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return sortKey(a.first) < sortKey(b.first); });
    std::vector<PortInfo> result;
    result.reserve(found.size());
    for (auto& f : found) result.push_back(std::move(f.second));
    return result;
}

QString DeviceGroup(const QString& devicePath) {
    struct stat st {};
    if (::stat(devicePath.toLocal8Bit().constData(), &st) != 0) return {};
    group grp{};
    group* found = nullptr;
    char buf[4096];
    if (getgrgid_r(st.st_gid, &grp, buf, sizeof buf, &found) != 0 || !found) return {};
    return QString::fromLocal8Bit(found->gr_name);
}

}  // namespace r4t8
