#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <utility>

#include "PtyFixture.h"
#include "serial/PortList.h"
#include "serial/PortWatcher.h"
#include "serial/linux/UdevMonitor.h"

namespace r4t8 {
namespace {

TEST(PortList, LabelsAndOrdersWhatTheLibraryFound) {
    // In the order udev enumerates them, which is no order a user expects.
    const std::vector<FoundPort> found = {
        {"/dev/ttyS10", "", ""},
        {"/dev/ttyUSB10", "CP2102 USB to UART Bridge Controller", "Silicon Labs"},
        {"/dev/ttyS0", "", ""},
        {"/dev/ttyACM0", "", "Arduino (www.arduino.cc)"},
        {"/dev/ttyUSB2", "FT232R USB UART", "FTDI"},
        {"/dev/ttyAMA0", "", ""},
        {"/dev/rfcomm0", "", ""},
        {"/dev/ttyUSB", "", ""},  // no number: before the numbered ones of its kind
    };
    const std::map<QString, QString> links = {
        {"ttyUSB2", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        {"ttyUSB7", "/dev/serial/by-id/usb-gone-if00-port0"},  // a port not found: no entry
    };
    const std::vector<PortInfo> expected = {
        {"/dev/ttyUSB", "", ""},
        {"/dev/ttyUSB2", "FT232R USB UART",
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        {"/dev/ttyUSB10", "CP2102 USB to UART Bridge Controller", ""},
        {"/dev/ttyACM0", "Arduino (www.arduino.cc)", ""},
        {"/dev/rfcomm0", "", ""},
        {"/dev/ttyAMA0", "", ""},
        {"/dev/ttyS0", "", ""},
        {"/dev/ttyS10", "", ""},
    };
    EXPECT_EQ(MakePortList(found, links), expected);
    EXPECT_TRUE(MakePortList({}, links).empty());
}

TEST(PortList, StableLinksAreReadFromTheFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto link = [&](const QString& target, const QString& name) {
        ASSERT_TRUE(QFile::link(target, dir.filePath(name))) << name.toStdString();
    };
    // udev makes relative links; two links to one port keep the first by name.
    link("../../ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    link("../../ttyUSB0", "usb-zz-second-link-if00-port0");
    link("/dev/ttyACM0", "usb-Arduino_Uno_7543-if00");
    link("../../ttyUSB1", "usb-Prolific_PL2303-if00-port0");
    QFile plain(dir.filePath("not-a-link"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    const std::map<QString, QString> expected = {
        {"ttyUSB0", dir.filePath("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0")},
        {"ttyACM0", dir.filePath("usb-Arduino_Uno_7543-if00")},
        {"ttyUSB1", dir.filePath("usb-Prolific_PL2303-if00-port0")},
    };
    EXPECT_EQ(StableLinks(dir.path()), expected);
    EXPECT_TRUE(StableLinks(dir.filePath("missing")).empty());
}

TEST(PortList, LiveSystemEntriesAreOpenablePaths) {
    for (const PortInfo& p : ListSerialPorts()) {
        EXPECT_TRUE(p.name.startsWith(QStringLiteral("/dev/"))) << p.name.toStdString();
        EXPECT_TRUE(QFileInfo::exists(p.name)) << p.name.toStdString();
        EXPECT_FALSE(p.name.startsWith(QStringLiteral("/dev/pts/"))) << p.name.toStdString();
    }
}

TEST(PortList, DeviceGroupNamesTheOwningGroup) {
    EXPECT_EQ(DeviceGroup(QStringLiteral("/")), QStringLiteral("root"));
    EXPECT_TRUE(DeviceGroup(QStringLiteral("/nonexistent/ttyUSB0")).isEmpty());
}

// A plug monitor whose news the test makes: readable through an eventfd, as the real one is
// through its socket.
class TestPlugMonitor : public IPlugMonitor {
  public:
    TestPlugMonitor() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~TestPlugMonitor() override { ::close(m_fd); }

    // News of a device; `serial` says whether it was a tty.
    void Announce(bool serial) {
        m_serial = m_serial || serial;
        const uint64_t one = 1;
        ASSERT_EQ(::write(m_fd, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    }
    int Descriptor() const override { return m_fd; }
    bool TakeNews() override {
        uint64_t count = 0;
        (void)!::read(m_fd, &count, sizeof count);
        return std::exchange(m_serial, false);
    }

  private:
    int m_fd;
    bool m_serial = false;
};

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

// What the watcher relies on from any monitor: a descriptor that stays quiet without news,
// and a look at the news that never blocks.
void ExpectQuietMonitor(IPlugMonitor& monitor) {
    ASSERT_GE(monitor.Descriptor(), 0);
    EXPECT_FALSE(Readable(monitor.Descriptor()));
    EXPECT_FALSE(monitor.TakeNews());
    EXPECT_FALSE(Readable(monitor.Descriptor()));
}

TEST(PlugMonitorContract, TestMonitor) {
    TestPlugMonitor monitor;
    ExpectQuietMonitor(monitor);
    monitor.Announce(true);
    EXPECT_TRUE(Readable(monitor.Descriptor()));
    EXPECT_TRUE(monitor.TakeNews());
    ExpectQuietMonitor(monitor);
}

TEST(PlugMonitorContract, UdevMonitor) {
    // The socket udevd makes is only looked for; a file in its place lets the real monitor be
    // made where udevd does not run.
    QTemporaryDir dir;
    QFile control(dir.filePath("control"));
    ASSERT_TRUE(control.open(QIODevice::WriteOnly));
    control.close();
    auto monitor = detail::OpenUdevMonitor(control.fileName());
    if (!monitor) GTEST_SKIP() << "no netlink socket for udev's monitor here";
    ExpectQuietMonitor(*monitor);
}

TEST(PlugMonitor, NoneWhereUdevIsNotRunning) {
    EXPECT_EQ(detail::OpenUdevMonitor(QStringLiteral("/nonexistent/udev/control")), nullptr);
}

TEST(PortWatcher, ReportsOnlyRealChanges) {
    std::vector<PortInfo> current = {{QStringLiteral("/dev/ttyS0"), {}, {}}};
    PortWatcher watcher(nullptr, [&] { return current; });
    std::vector<std::vector<PortInfo>> seen;
    QObject::connect(&watcher, &PortWatcher::PortsChanged, &watcher,
                     [&](const std::vector<PortInfo>& p) { seen.push_back(p); });
    watcher.Start();
    EXPECT_TRUE(watcher.IsActive());
    watcher.Poll();
    EXPECT_TRUE(seen.empty());

    current.push_back({QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"), {}});
    watcher.Poll();
    watcher.Poll();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], current);

    current[1].description = QStringLiteral("other adapter");  // same name, another device
    watcher.Poll();
    current.erase(current.begin() + 1);
    watcher.Poll();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2], current);
    EXPECT_EQ(watcher.Ports(), current);
    watcher.Stop();
    EXPECT_FALSE(watcher.IsActive());
}

TEST(PortWatcher, ListsAgainOnlyWhenTheMonitorReportsASerialDevice) {
    std::vector<PortInfo> current = {{QStringLiteral("/dev/ttyS0"), {}, {}}};
    int listings = 0;
    auto owned = std::make_unique<TestPlugMonitor>();
    TestPlugMonitor& monitor = *owned;
    PortWatcher watcher(
        nullptr,
        [&] {
            ++listings;
            return current;
        },
        std::move(owned), 20);
    std::vector<std::vector<PortInfo>> seen;
    QObject::connect(&watcher, &PortWatcher::PortsChanged, &watcher,
                     [&](const std::vector<PortInfo>& p) { seen.push_back(p); });
    EXPECT_FALSE(watcher.Polling());
    watcher.Start();
    ASSERT_EQ(listings, 1);
    EXPECT_TRUE(watcher.IsActive());

    current.push_back({QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"), {}});
    testing::PumpFor(100);  // no news, no look: the interval given is for polling only
    EXPECT_EQ(listings, 1);
    monitor.Announce(false);  // another kind of device
    ASSERT_TRUE(testing::PumpUntil([&] { return !Readable(monitor.Descriptor()); }));
    EXPECT_EQ(listings, 1);

    monitor.Announce(true);
    ASSERT_TRUE(testing::PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(listings, 2);
    EXPECT_EQ(seen.back(), current);

    watcher.Stop();
    EXPECT_FALSE(watcher.IsActive());
    monitor.Announce(true);
    testing::PumpFor(100);
    EXPECT_EQ(listings, 2);
}

TEST(PortWatcher, WithoutAMonitorLooksNowAndThen) {
    std::vector<PortInfo> current = {{QStringLiteral("/dev/ttyS0"), {}, {}}};
    PortWatcher watcher(
        nullptr, [&] { return current; }, nullptr, 20);
    std::vector<std::vector<PortInfo>> seen;
    QObject::connect(&watcher, &PortWatcher::PortsChanged, &watcher,
                     [&](const std::vector<PortInfo>& p) { seen.push_back(p); });
    EXPECT_TRUE(watcher.Polling());
    watcher.Start();
    EXPECT_TRUE(watcher.IsActive());

    current.push_back({QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"), {}});
    ASSERT_TRUE(testing::PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen.back(), current);
    current.pop_back();  // pulled out
    ASSERT_TRUE(testing::PumpUntil([&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen.back(), current);
}

}  // namespace
}  // namespace r4t8
