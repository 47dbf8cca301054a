#include "packaging/identity/WindowIcon.h"

#include <QDir>

namespace r4t8 {

QIcon WindowIcon() {
    QIcon icon;
    // Each size as drawn: a window manager picks its own, without Qt scaling a larger one.
    const QDir folder(QStringLiteral(":/r4t8/icons"));
    for (const QString& name : folder.entryList({QStringLiteral("r4t8-config-*.png")}))
        icon.addFile(folder.filePath(name));
    return icon;
}

}  // namespace r4t8
