// SettingsFile: saves the settings record to an INI settings file and loads it back, with the
// sections, keys, encodings and order the installers' existing files use. Works on the
// DeviceSettings model only, so any front end can use it.
#pragma once

#include <QDateTime>
#include <QString>
#include <vector>

#include "config/DeviceSettings.h"

namespace r4t8 {

class IMessages;

// How a control's value stands in the file.
enum class ValueEncoding {
    Text,   // the text as it is
    Index,  // selected item index in decimal, -1 for none
    Flag,   // "1" checked, "0" not
    Time,   // "HH:mm:ss", 24-hour
};

struct SettingsEntry {
    QString section;  // as addressed when writing ("other" for uploadtel)
    QString key;
    QString control;
    ValueEncoding encoding;
};

class SettingsFile {
  public:
    // Dialog filters in the "caption|pattern|caption|pattern" form.
    static inline const QString kSaveFilter = QStringLiteral("ini文件|*.ini|(*.*)|*.*");
    static inline const QString kLoadFilter = QStringLiteral("INI文件|*.ini|(*.*)|*.*");
    static inline const QString kDefaultExtension = QStringLiteral("ini");

    // Merges the settings into the file (existing content kept) and writes it at once. On
    // failure shows "Unable to write to <full name>." and leaves the old file untouched.
    static bool Save(const QString& path, const DeviceSettings& settings, IMessages& ui);
    // Sets the fields from the file; a missing or foreign file reads as all keys missing.
    // Forgets what the last read kept for writing back (DeviceSettings::ForgetRead).
    // `ui` receives the limit message of edt_gprstimeup while loading.
    static void Load(const QString& path, DeviceSettings& settings, IMessages& ui);

    // "setini" + "yyyy-mm-dd_hh-nn-ss", e.g. setini2026-12-07_03-10-36.
    static QString ProposedFileName(const QDateTime& now);
    // Adds ".ini" when the file name has no extension.
    static QString WithDefaultExtension(const QString& path);

    // Every entry in the order a file written from scratch holds them.
    static const std::vector<SettingsEntry>& Layout();

    static QString FormatTime(const QTime& time);
    // "H:m", "HH:mm" or "HH:mm:ss" (blanks around allowed); an invalid QTime otherwise.
    static QTime ParseTime(const QString& text);
};

}  // namespace r4t8
