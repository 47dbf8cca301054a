#include "serial/linux/LineSettings.h"

#include <cstdint>
#include <utility>

namespace r4t8::detail {

namespace {

bool standardSpeed(uint32_t baud, speed_t& out) {
    static const std::pair<uint32_t, speed_t> kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& [rate, speed] : kRates) {
        if (rate == baud) {
            out = speed;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ComposeLineSettings(const LineConfig& line, termios& t) {
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[static_cast<int>(line.byteSize)];
    switch (line.parity) {
        case TParity::None:
            break;
        case TParity::Odd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case TParity::Even:
            t.c_cflag |= PARENB;
            break;
        case TParity::Mark:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case TParity::Space:
            t.c_cflag |= PARENB | CMSPAR;
            break;
    }
    if (line.stopBits != TStopBits::_1) t.c_cflag |= CSTOPB;
    if (line.outxCtsFlow || line.rtsControl == TRtsControl::RtsHandshake) t.c_cflag |= CRTSCTS;

    t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY | IGNPAR | PARMRK);
    if (line.parityCheck) t.c_iflag |= INPCK;
    if (line.outxXonXoffFlow) t.c_iflag |= IXON;
    if (line.inxXonXoffFlow) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(line.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(line.xoffChar);
    // The descriptor is non-blocking and the read thread waits in poll().
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    speed_t speed = B9600;
    const bool standard = standardSpeed(line.baudRate, speed);
    if (standard) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    return standard;
}

bool ComposeLineSettings(const TComm& comm, termios& t) {
    return ComposeLineSettings(LineConfigOf(comm), t);
}

}  // namespace r4t8::detail
