#include "ui/window/FileChooser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

#include "ui/file/SettingsFile.h"

namespace r4t8 {

namespace {

QString Run(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

bool WritableFolder(const QString& folder) {
    const QFileInfo info(folder);
    return !folder.isEmpty() && info.isDir() && info.isWritable();
}

}  // namespace

QString SettingsDialogFolder(const QString& programFolder, const QString& documents) {
    if (WritableFolder(programFolder)) return programFolder;
    if (!documents.isEmpty() && QDir().mkpath(documents) && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

QString SettingsDialogFolder() {
    return SettingsDialogFolder(
        QCoreApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

QString QtFileFilter(const QString& classic) {
    const QStringList parts = classic.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(u';', Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p.trimmed() == QLatin1String("*.*")) p = QStringLiteral("*");
        filters << parts.at(i) + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters.join(QStringLiteral(";;"));
}

QString DialogFileChooser::SaveFileName(const QString& folder, const QString& proposedName) {
    QFileDialog dialog(m_parent, QString(), folder, QtFileFilter(SettingsFile::kSaveFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(SettingsFile::kDefaultExtension);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.selectFile(proposedName);
    return Run(dialog);
}

QString DialogFileChooser::OpenFileName(const QString& folder) {
    // A name held from last time opens its own folder, as the dialog did when it was last used.
    const QFileInfo last(m_lastOpened);
    const QString start = m_lastOpened.isEmpty() ? folder : last.absolutePath();
    QFileDialog dialog(m_parent, QString(), start, QtFileFilter(SettingsFile::kLoadFilter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A name typed for a file that is not there loads as an empty file.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!m_lastOpened.isEmpty()) dialog.selectFile(last.fileName());
    const QString chosen = Run(dialog);
    if (!chosen.isEmpty()) m_lastOpened = chosen;
    return chosen;
}

}  // namespace r4t8
