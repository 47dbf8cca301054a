// The programs' version and the window program's desktop id, as the project sets them.
#pragma once

#include <QString>

namespace r4t8 {

// "1.19"
QString ProgramVersion();

// The reverse-DNS id that names the desktop entry, the icon and the AppStream file.
QString DesktopId();

// What --version prints: "<program> 1.19", with a line end.
QString VersionText(const QString& program);

}  // namespace r4t8
