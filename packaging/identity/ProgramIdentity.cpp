#include "packaging/identity/ProgramIdentity.h"

namespace r4t8 {

QString ProgramVersion() { return QStringLiteral(R4T8_VERSION); }

QString DesktopId() { return QStringLiteral(R4T8_APP_ID); }

QString VersionText(const QString& program) { return program + u' ' + ProgramVersion() + u'\n'; }

}  // namespace r4t8
