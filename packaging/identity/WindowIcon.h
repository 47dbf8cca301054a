// The window program's icon in every size drawn for it.
#pragma once

#include <QIcon>

namespace r4t8 {

// Null when the icon resource is not linked in.
QIcon WindowIcon();

}  // namespace r4t8
