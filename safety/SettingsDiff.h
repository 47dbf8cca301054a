// The fields in which two configurations differ, by caption, as the user reads them.
#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "config/RawBlocks.h"

namespace r4t8 {

struct FieldChange {
    QString name;   // control name
    QString label;  // group caption, then the field's caption
    QString before;
    QString after;
};

// Fields the configuration blocks carry whose values differ, in settings-file order.
std::vector<FieldChange> DiffSettings(const DeviceSettings& before, const DeviceSettings& after);

// What writing `window` would change on a controller that holds `current`: both sides as
// the controller holds them (the window's values encoded and decoded again, so "25.3" and
// "25.30" are one value). Fails with the field that cannot be encoded.
struct WriteDiff {
    std::vector<FieldChange> changes;
    std::optional<FieldProblem> problem;
};
WriteDiff DiffWrite(const RawBlocks& current, const DeviceSettings& window);
// The same for two sets of blocks, decoded as they would be into `like`.
std::vector<FieldChange> DiffBlocks(const RawBlocks& before, const RawBlocks& after,
                                    const DeviceSettings& like);

// One line per change: "label: before → after".
QString FormatChanges(const std::vector<FieldChange>& changes);

// What a read-back shows against what was written: the fields that read back otherwise
// (before: as sent, after: as read back), block by block, and the blocks whose bytes differ
// although every field reads back the same (bytes that no field owns).
struct VerifyDiff {
    std::vector<ConfigBlock> blocks;  // every block whose bytes differ
    std::vector<FieldChange> fields;
    std::vector<ConfigBlock> bytesOnly;
    bool Empty() const { return blocks.empty(); }
};
VerifyDiff DiffVerify(const RawBlocks& sent, const RawBlocks& readBack, const DeviceSettings& like);
// The blocks named in a first line, then one line per field ("label：写入 X，读回 Y"), the
// first `limit` of them and a count of the rest, then the blocks differing in bytes only.
QString FormatVerify(const VerifyDiff& diff, size_t limit = 20);

}  // namespace r4t8
