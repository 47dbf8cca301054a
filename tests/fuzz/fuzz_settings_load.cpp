// The whole load: arbitrary bytes as a settings file on disk, loaded into the settings
// record; then saved over and loaded again, which must give the same record.
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>

#include "FuzzSupport.h"
#include "config/DeviceSettings.h"
#include "support/FakeUserInterface.h"
#include "ui/file/SettingsFile.h"

using namespace r4t8;

namespace {

// Texts that a save and a load give back unchanged. The others follow the classic profile
// rules instead: line breaks cannot be written, outer blanks and one pair of quotes are taken
// off when read, and bytes that were no text in the file's code page read as U+FFFD, which
// the code page cannot hold either.
bool Representable(const QString& t) {
    if (t.isEmpty()) return true;
    if (t.contains(u'\r') || t.contains(u'\n') || t.contains(QChar(0xFFFD))) return false;
    if (t.front().isSpace() || t.back().isSpace() || t.front() == u'\0' || t.back() == u'\0')
        return false;
    return t.front() != u'"' && t.front() != u'\'';
}

bool SameRecord(const DeviceSettings& a, const DeviceSettings& b) {
    for (const FieldSpec& f : a.Specs()) {
        const bool textSame = !Representable(a.Text(f.name)) || a.Text(f.name) == b.Text(f.name);
        if (!textSame || a.Index(f.name) != b.Index(f.name) ||
            a.Checked(f.name) != b.Checked(f.name) || a.Time(f.name) != b.Time(f.name) ||
            a.Enabled(f.name) != b.Enabled(f.name)) {
            std::fprintf(stderr, "differs: %s: '%s' / '%s'\n", qPrintable(f.name),
                         a.Text(f.name).toUtf8().toHex().constData(),
                         b.Text(f.name).toUtf8().toHex().constData());
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.ini"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    testing::FakeUserInterface ui;
    DeviceSettings first(&ui);
    SettingsFile::Load(path, first, ui);

    // Saving merges into the same file; loading that gives what was saved.
    R4T8_FUZZ_CHECK(SettingsFile::Save(path, first, ui));
    DeviceSettings second(&ui);
    SettingsFile::Load(path, second, ui);
    R4T8_FUZZ_CHECK(SameRecord(first, second));
    return 0;
}
