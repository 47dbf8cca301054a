#include "safety/ConfigArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>

#include "protocol/UserInterfaces.h"
#include "ui/file/SettingsFile.h"

namespace r4t8 {

namespace {

const QString kStampFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss");

// SettingsFile reports through a message box; here the reason goes into the backup's error.
class CollectingUi : public IMessages {
  public:
    MsgAnswer ShowMessage(const QString& text, const QString&, MsgButtons) override {
        message = text;
        return MsgAnswer::Ok;
    }
    QString message;
};

bool WriteWhole(const QString& path, const QByteArray& bytes, QString& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = QStringLiteral("无法写入 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

}  // namespace

ConfigArchive::ConfigArchive(QString root) : m_root(std::move(root)) {}

QString ConfigArchive::DefaultRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/r4t8config/backups");
}

QString ConfigArchive::FolderName(const QString& deviceNumber, const QString& model) {
    QString name = deviceNumber.trimmed().isEmpty() ? model.trimmed() : deviceNumber.trimmed();
    QString safe;
    for (QChar c : name) {
        const bool bad = c.unicode() < 0x20 || c.unicode() == 0x7F || c.unicode() >= 0x80 ||
                         QStringLiteral("/\\:*?\"<>|").contains(c);
        safe += bad ? QChar('_') : c;
    }
    // No hidden folders and no "." or "..".
    while (safe.startsWith('.')) safe[0] = '_';
    return safe.isEmpty() ? QStringLiteral("unknown") : safe;
}

std::optional<BackupEntry> ConfigArchive::Store(const RawBlocks& blocks,
                                                const DeviceSettings& decoded, const QString& model,
                                                const QDateTime& now, QString& error) {
    BackupEntry entry;
    entry.deviceNumber = DeviceNumberOf(blocks);
    entry.model = model;
    entry.time = now;
    entry.folder = m_root + '/' + FolderName(entry.deviceNumber, model);
    if (!QDir().mkpath(entry.folder)) {
        error = QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(entry.folder));
        return std::nullopt;
    }
    // Two backups within one second (a restore right after a write) keep both.
    const QString base = now.toString(kStampFormat);
    entry.stem = base;
    for (int n = 2; QFile::exists(entry.BinPath()) || QFile::exists(entry.MetaPath()); ++n)
        entry.stem = base + '_' + QString::number(n);

    auto discard = [&entry] {
        QFile::remove(entry.BinPath());
        QFile::remove(entry.IniPath());
        QFile::remove(entry.MetaPath());
    };
    const QByteArray raw(reinterpret_cast<const char*>(blocks.data()),
                         static_cast<qsizetype>(blocks.size()));
    if (!WriteWhole(entry.BinPath(), raw, error)) {
        discard();
        return std::nullopt;
    }
    CollectingUi quiet;
    if (!SettingsFile::Save(entry.IniPath(), decoded, quiet)) {
        error = quiet.message.isEmpty()
                    ? QStringLiteral("无法写入 %1").arg(QDir::toNativeSeparators(entry.IniPath()))
                    : quiet.message;
        discard();
        return std::nullopt;
    }
    // The metadata comes last: a backup without it is not listed.
    const QJsonObject meta{{"time", now.toString(Qt::ISODate)},
                           {"deviceNumber", entry.deviceNumber},
                           {"model", model}};
    if (!WriteWhole(entry.MetaPath(), QJsonDocument(meta).toJson(), error)) {
        discard();
        return std::nullopt;
    }
    return entry;
}

std::vector<BackupEntry> ConfigArchive::List() const {
    std::vector<BackupEntry> out;
    const QDir root(m_root);
    for (const QString& sub : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir dir(root.filePath(sub));
        for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files)) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024) continue;
            const QJsonObject meta = QJsonDocument::fromJson(file.readAll()).object();
            BackupEntry e;
            e.folder = dir.path();
            e.stem = name.chopped(5);
            e.time = QDateTime::fromString(meta.value("time").toString(), Qt::ISODate);
            e.deviceNumber = meta.value("deviceNumber").toString();
            e.model = meta.value("model").toString();
            if (!e.time.isValid() || QFileInfo(e.BinPath()).size() != kRawBlocksSize) continue;
            out.push_back(e);
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const BackupEntry& a, const BackupEntry& b) {
        return a.time != b.time ? a.time > b.time : a.stem > b.stem;
    });
    return out;
}

std::optional<RawBlocks> ConfigArchive::LoadBlocks(const QString& binPath, QString& error) {
    QFile file(binPath);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("无法打开 %1").arg(QDir::toNativeSeparators(binPath));
        return std::nullopt;
    }
    const QByteArray bytes = file.read(kRawBlocksSize + 1);
    if (bytes.size() != static_cast<qsizetype>(kRawBlocksSize)) {
        error = QStringLiteral("%1 不是有效的备份文件").arg(QDir::toNativeSeparators(binPath));
        return std::nullopt;
    }
    RawBlocks blocks;
    std::copy(bytes.begin(), bytes.end(), blocks.begin());
    return blocks;
}

}  // namespace r4t8
