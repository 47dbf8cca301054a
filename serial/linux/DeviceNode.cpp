#include <grp.h>
#include <sys/stat.h>

#include "serial/PortList.h"

namespace r4t8 {

QString DeviceGroup(const QString& devicePath) {
    struct stat st {};
    if (::stat(devicePath.toLocal8Bit().constData(), &st) != 0) return {};
    group grp{};
    group* found = nullptr;
    char buf[4096];
    if (getgrgid_r(st.st_gid, &grp, buf, sizeof buf, &found) != 0 || !found) return {};
    return QString::fromLocal8Bit(found->gr_name);
}

}  // namespace r4t8
