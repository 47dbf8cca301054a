#include "ui/window/FileChooser.h"

#include <QFileDialog>

#include "ui/file/SettingsFile.h"

namespace r4t8 {

namespace {

QString Run(QFileDialog& dialog) {
    dialog.setDefaultSuffix(SettingsFile::kDefaultExtension);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

}  // namespace

QString DialogFileChooser::SaveFileName(const QString& folder, const QString& proposedName) {
    QFileDialog dialog(m_parent, QString(), folder, SettingsFile::kSaveFilterQt);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(proposedName);
    return Run(dialog);
}

QString DialogFileChooser::OpenFileName(const QString& folder) {
    QFileDialog dialog(m_parent, QString(), folder, SettingsFile::kLoadFilterQt);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A name typed for a file that is not there loads as an empty file.
    dialog.setFileMode(QFileDialog::AnyFile);
    return Run(dialog);
}

}  // namespace r4t8
