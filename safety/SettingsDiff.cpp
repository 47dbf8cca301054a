#include "safety/SettingsDiff.h"

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

// "label：" once, also for the captions that end in a colon of their own ("端口：").
QString Lead(const QString& label) {
    QString l = label;
    while (l.endsWith(QStringLiteral("：")) || l.endsWith(u':')) l.chop(1);
    return l + QStringLiteral("：");
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

VerifyDiff DiffVerify(const RawBlocks& sent, const RawBlocks& readBack,
                      const DeviceSettings& like) {
    VerifyDiff diff;
    diff.blocks = DifferingBlocks(sent, readBack);
    for (ConfigBlock block : diff.blocks) {
        // Only this block read back: the fields that change are this block's own.
        RawBlocks one = sent;
        const size_t at = RawIndex(block) * kBlockSize;
        std::copy_n(readBack.begin() + static_cast<ptrdiff_t>(at), kBlockSize,
                    one.begin() + static_cast<ptrdiff_t>(at));
        const std::vector<FieldChange> fields = DiffBlocks(sent, one, like);
        if (fields.empty()) diff.bytesOnly.push_back(block);
        diff.fields.insert(diff.fields.end(), fields.begin(), fields.end());
    }
    return diff;
}

QString FormatVerify(const VerifyDiff& diff, size_t limit) {
    QStringList lines;
    lines << QStringLiteral("校验失败，控制器中的以下设置与写入的不一致：") +
                 BlockNames(diff.blocks);
    for (size_t i = 0; i < diff.fields.size() && i < limit; ++i) {
        const FieldChange& c = diff.fields[i];
        lines << Lead(c.label) + QStringLiteral("写入 ") + c.before + QStringLiteral("，读回 ") +
                     c.after;
    }
    if (diff.fields.size() > limit)
        lines << QStringLiteral("……另有 %1 项不一致").arg(diff.fields.size() - limit);
    for (ConfigBlock block : diff.bytesOnly)
        lines << BlockGroupName(block) + QStringLiteral("：各项设置相同，但块中的字节不同");
    return lines.join('\n');
}

QString FormatChanges(const std::vector<FieldChange>& changes) {
    QStringList lines;
    for (const FieldChange& c : changes)
        lines << Lead(c.label) + c.before + QStringLiteral(" → ") + c.after;
    return lines.join('\n');
}

}  // namespace r4t8
