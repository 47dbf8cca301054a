// The enabling rules and initial state of the relay group's edits.
#pragma once

#include <QString>

namespace r4t8 {

// Which of `Edit8` (close time), `Edit10` (pulse time), `Edit11` (interval) and `Edit12`
// (count) are enabled.
struct RelayEnables {
    bool edit8 = true;
    bool edit10 = false;
    bool edit11 = false;
    bool edit12 = false;
    bool operator==(const RelayEnables&) const = default;
};

// At window creation: close mode, so only the close time is editable.
constexpr RelayEnables kRelayInitialEnables{true, false, false, false};

// Texts of the edits at window creation.
inline QString RelayDefaultEdit8() { return QStringLiteral("10"); }
inline QString RelayDefaultEdit10() { return QStringLiteral("3"); }
inline QString RelayDefaultEdit11() { return QStringLiteral("1"); }
inline QString RelayDefaultEdit12() { return QStringLiteral("5"); }

// `ComboBox1` change: item 0 enables the close edit, item 1 the three pulse edits; typed
// text (no item, index -1) leaves the edits as they are.
RelayEnables ComboBox1Change(int itemIndex, RelayEnables current);

// `Edit12` change: in close mode the pulse edits stay disabled.
RelayEnables Edit12Change(int comboItemIndex, RelayEnables current);

}  // namespace r4t8
