// The file dialogs of the settings file buttons; tests answer them without a dialog.
#pragma once

#include <QString>

class QWidget;

namespace r4t8 {

class IFileChooser {
  public:
    virtual ~IFileChooser() = default;
    // Empty when the user cancelled.
    virtual QString SaveFileName(const QString& folder, const QString& proposedName) = 0;
    virtual QString OpenFileName(const QString& folder) = 0;
};

// The folder the settings file dialogs start in: the program's own folder where it can be
// written (a developer's build); otherwise, as for a program installed in /usr/bin, the user's
// documents folder, made when missing, or failing that the home folder.
QString SettingsDialogFolder(const QString& programFolder, const QString& documents);
// The same for this program and this user.
QString SettingsDialogFolder();

// A classic "caption|pattern|caption|pattern" filter as QFileDialog takes it. The pattern "*.*"
// means every file, as it does where these filters come from, so it becomes "*".
QString QtFileFilter(const QString& classic);

// QFileDialog. Save: the settings filter, default suffix "ini", the proposed name, no overwrite
// question. Open: its own filter, no default suffix (a name typed without one is taken as it
// stands), a file that need not exist, and the name the dialog last held proposed again.
// Both show the filter captions as they stand, without the patterns Qt would append.
class DialogFileChooser : public IFileChooser {
  public:
    explicit DialogFileChooser(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }
    QString SaveFileName(const QString& folder, const QString& proposedName) override;
    QString OpenFileName(const QString& folder) override;

  private:
    QWidget* m_parent;
    QString m_lastOpened;  // what the open dialog last held
};

}  // namespace r4t8
