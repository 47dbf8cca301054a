#include "ui/file/SettingsDiff.h"

#include <QStringList>
#include <algorithm>

#include "config/BlockCodecs.h"
#include "ui/file/SettingsFile.h"

namespace r4t8 {

namespace {

// The bytes a read left for a field, as "(07)", or nothing.
QString KeptText(const KeptBytes& kept) {
    if (kept.empty()) return QString();
    QStringList hex;
    for (size_t i = 0; i < kept.size; ++i)
        hex << QStringLiteral("%1").arg(kept.bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral(" (") + hex.join(' ') + ')';
}

QString ShownValue(const DeviceSettings& s, const SettingsEntry& e) {
    switch (e.encoding) {
        case ValueEncoding::Text:
            return s.Text(e.control);
        case ValueEncoding::Index: {
            const int i = s.Index(e.control);
            const QStringList items = s.Items(e.control);
            if (i >= 0 && i < items.size()) return items.at(i);
            // No entry: what goes to the controller is the code the read left, if any.
            const QString text = s.Text(e.control);
            return (text.isEmpty() ? QStringLiteral("未选择") : text) +
                   KeptText(s.ReadBytes(e.control));
        }
        case ValueEncoding::Flag:
            return s.Checked(e.control) ? QStringLiteral("选中") + KeptText(s.ReadBytes(e.control))
                                        : QStringLiteral("未选中");
        case ValueEncoding::Time:
            return SettingsFile::FormatTime(s.Time(e.control));
    }
    return QString();
}

// A list without an entry writes the bytes a read left it, 0xFF where there are none.
bool SameListBytes(const KeptBytes& a, const KeptBytes& b) {
    for (size_t i = 0; i < std::max(a.size, b.size); ++i)
        if ((i < a.size ? a.bytes[i] : 0xFF) != (i < b.size ? b.bytes[i] : 0xFF)) return false;
    return true;
}

// Equal when the settings file would record the same value and the encoders would write the
// same bytes: a list without an entry and a checked flag write back what a read left them.
bool SameValue(const DeviceSettings& a, const DeviceSettings& b, const SettingsEntry& e) {
    switch (e.encoding) {
        case ValueEncoding::Text:
            return a.Text(e.control) == b.Text(e.control);
        case ValueEncoding::Index:
            return a.Index(e.control) == b.Index(e.control) &&
                   (a.Index(e.control) >= 0 ||
                    SameListBytes(a.ReadBytes(e.control), b.ReadBytes(e.control)));
        case ValueEncoding::Flag:
            return a.Checked(e.control) == b.Checked(e.control) &&
                   (!a.Checked(e.control) || a.ReadBytes(e.control) == b.ReadBytes(e.control));
        case ValueEncoding::Time:
            return SettingsFile::FormatTime(a.Time(e.control)) ==
                   SettingsFile::FormatTime(b.Time(e.control));
    }
    return true;
}

}  // namespace

std::vector<FieldChange> DiffSettings(const DeviceSettings& before, const DeviceSettings& after) {
    std::vector<FieldChange> out;
    for (const SettingsEntry& e : SettingsFile::Layout()) {
        // The login password of the settings file is no part of the controller's blocks.
        if (e.section == QLatin1String("COM")) continue;
        if (SameValue(before, after, e)) continue;
        out.push_back(
            {e.control, FieldLabel(after, e.control), ShownValue(before, e), ShownValue(after, e)});
    }
    return out;
}

std::vector<FieldChange> DiffBlocks(const RawBlocks& before, const RawBlocks& after,
                                    const DeviceSettings& like) {
    DeviceSettings a, b;
    SetUpLike(like, a);
    SetUpLike(like, b);
    DecodeBlocks(before, a);
    DecodeBlocks(after, b);
    return DiffSettings(a, b);
}

WriteDiff DiffWrite(const RawBlocks& current, const DeviceSettings& window) {
    WriteDiff diff;
    RawBlocks written;
    diff.problem = EncodeBlocks(window, written);
    if (!diff.problem) diff.changes = DiffBlocks(current, written, window);
    return diff;
}

QString FormatChanges(const std::vector<FieldChange>& changes) {
    QStringList lines;
    for (const FieldChange& c : changes)
        lines << c.label + QStringLiteral("：") + c.before + QStringLiteral(" → ") + c.after;
    return lines.join('\n');
}

}  // namespace r4t8
