// The "备份" page: the archive's backups, and what can be done with one (load it into the
// window, restore it to the controller, compare it with the window), plus the choice to see
// the fields a write will change before it starts.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "config/DeviceSettings.h"
#include "protocol/UserInterfaces.h"
#include "safety/ConfigArchive.h"
#include "safety/SafeWrite.h"

class QCheckBox;
class QPushButton;
class QTableWidget;

namespace r4t8 {

class DeviceSession;

class ArchivePage : public QWidget {
    Q_OBJECT

  public:
    // `archiveRoot` and `preferencesFile` empty: the user's data folder and the program's
    // own QSettings.
    ArchivePage(DeviceSettings& settings, Reporting ui, const QString& archiveRoot = {},
                const QString& preferencesFile = {}, QWidget* parent = nullptr);
    ~ArchivePage() override;

    // The session the writes go through; null drops the safe write (before the session
    // goes away).
    void Attach(DeviceSession* session, ITimeSource* time);
    // The write the window's "写入设置" runs; null while no session is attached.
    SafeWrite* Safe() const { return m_safe.get(); }
    ConfigArchive& Archive() { return m_archive; }

    void Refresh();
    // Row of the table, newest first; -1 for none.
    void SelectRow(int row);
    void LoadSelected();
    void RestoreSelected();
    void CompareSelected();
    bool ConfirmBeforeWrite() const;
    // Selects the backup stored as `binPath`; false when the list does not hold it.
    bool SelectBackup(const QString& binPath);

  Q_SIGNALS:
    // A write left blocks that may be erased and its backup was not restored: the window
    // shows this page with that backup selected.
    void backupToRestore();

  private:
    const BackupEntry* Selected();
    std::optional<RawBlocks> SelectedBlocks();
    void ApplyOptions();
    void SetPreference(bool on);

    DeviceSettings& m_settings;
    Reporting m_ui;
    ConfigArchive m_archive;
    QString m_preferencesFile;
    std::unique_ptr<SafeWrite> m_safe;
    std::vector<BackupEntry> m_entries;
    QTableWidget* m_table = nullptr;
    QCheckBox* m_confirm = nullptr;
    QPushButton* m_restore = nullptr;
};

}  // namespace r4t8
