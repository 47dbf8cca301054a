// ConfigArchive: the per-controller folders of configuration backups. Each backup is the raw
// 1,024 bytes of the four blocks, the same blocks as a settings file, and a small metadata
// file, all named by the time it was taken.
#pragma once

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

#include "config/DeviceSettings.h"
#include "config/RawBlocks.h"

namespace r4t8 {

struct BackupEntry {
    QString folder;  // the controller's folder
    QString stem;    // e.g. "2026-12-08_03-10-36"
    QDateTime time;
    QString deviceNumber;  // empty when the controller's was blank
    QString model;

    QString BinPath() const { return folder + '/' + stem + QStringLiteral(".bin"); }
    QString IniPath() const { return folder + '/' + stem + QStringLiteral(".ini"); }
    QString MetaPath() const { return folder + '/' + stem + QStringLiteral(".json"); }
};

class ConfigArchive {
  public:
    explicit ConfigArchive(QString root);
    // Under the user's data folder, shared by the window and r4t8ctl.
    static QString DefaultRoot();
    const QString& Root() const { return m_root; }

    // Stores a backup of `blocks`; `decoded` is the same blocks decoded into a settings
    // record. On failure nothing of it is left behind and `error` says why.
    std::optional<BackupEntry> Store(const RawBlocks& blocks, const DeviceSettings& decoded,
                                     const QString& model, const QDateTime& now, QString& error);
    // Every complete backup of every controller, newest first.
    std::vector<BackupEntry> List() const;

    // The device number, else the model, made safe as a folder name.
    static QString FolderName(const QString& deviceNumber, const QString& model);
    // The raw blocks of a backup file; nothing (and `error`) unless it holds exactly 1,024
    // bytes.
    static std::optional<RawBlocks> LoadBlocks(const QString& binPath, QString& error);

  private:
    QString m_root;
};

}  // namespace r4t8
