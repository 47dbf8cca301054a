#include "RelayRules.h"

namespace r4t8 {

RelayEnables ComboBox1Change(int itemIndex, RelayEnables current) {
    switch (itemIndex) {
        case 0:
            return {true, false, false, false};
        case 1:
            return {false, true, true, true};
        default:
            return current;
    }
}

RelayEnables Edit12Change(int comboItemIndex, RelayEnables current) {
    if (comboItemIndex == 0) current.edit10 = current.edit11 = current.edit12 = false;
    return current;
}

}  // namespace r4t8
