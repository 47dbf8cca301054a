#include "serial/PortList.h"
#include "serial/PortWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "PtyFixture.h"

namespace r4t8 {
namespace {

// A fake /sys and /dev laid out the way the kernel and udev lay them out.
class FakeSystem {
public:
    FakeSystem() { EXPECT_TRUE(m_dir.isValid()); }
    QString Root() const { return m_dir.path(); }
    QString Path(const QString& rel) const { return m_dir.filePath(rel); }

    void Write(const QString& rel, const QByteArray& text) {
        QDir().mkpath(QFileInfo(Path(rel)).path());
        QFile f(Path(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    void Link(const QString& target, const QString& rel) {
        QDir().mkpath(QFileInfo(Path(rel)).path());
        ASSERT_TRUE(QFile::link(target, Path(rel))) << rel.toStdString();
    }
    void DevNode(const QString& name) { Write(QStringLiteral("dev/") + name, {}); }

    // A tty whose device directory is `deviceDir` (under sys/devices).
    void Tty(const QString& name, const QString& deviceDir) {
        QDir().mkpath(Path(QStringLiteral("sys/devices/") + deviceDir));
        QDir().mkpath(Path(QStringLiteral("sys/class/tty/") + name));
        Link(Path(QStringLiteral("sys/devices/") + deviceDir),
             QStringLiteral("sys/class/tty/%1/device").arg(name));
    }
    // A USB serial adapter: usb device dir with product/manufacturer, interface dir, tty dir.
    void UsbAdapter(const QString& name, const QString& usbDev, const QByteArray& product,
                    const QByteArray& manufacturer, const QByteArray& interfaceName,
                    bool ttyBelowInterface) {
        const QString dev = QStringLiteral("pci0000:00/usb1/") + usbDev;
        const QString intf = dev + QStringLiteral("/") + usbDev + QStringLiteral(":1.0");
        if (!product.isEmpty()) Write(QStringLiteral("sys/devices/%1/product").arg(dev), product + "\n");
        if (!manufacturer.isEmpty())
            Write(QStringLiteral("sys/devices/%1/manufacturer").arg(dev), manufacturer + "\n");
        if (!interfaceName.isEmpty())
            Write(QStringLiteral("sys/devices/%1/interface").arg(intf), interfaceName + "\n");
        Tty(name, ttyBelowInterface ? intf + QStringLiteral("/") + name : intf);
        DevNode(name);
    }
    void OnBoard(const QString& name, const QByteArray& type) {
        Tty(name, QStringLiteral("platform/serial8250/") + name);
        if (!type.isNull()) Write(QStringLiteral("sys/class/tty/%1/type").arg(name), type + "\n");
        DevNode(name);
    }

private:
    QTemporaryDir m_dir;
};

TEST(PortList, ListsRealPortsWithDescriptionsInOrder) {
    FakeSystem sys;
    sys.UsbAdapter(QStringLiteral("ttyUSB10"), QStringLiteral("1-3"), "CP2102 USB to UART Bridge Controller",
                   "Silicon Labs", {}, true);
    sys.UsbAdapter(QStringLiteral("ttyUSB2"), QStringLiteral("1-1"), "FT232R USB UART", "FTDI",
                   "FT232R USB UART", true);
    sys.UsbAdapter(QStringLiteral("ttyACM0"), QStringLiteral("1-2"), {}, "Arduino",
                   "CDC Abstract Control Model (ACM)", false);
    sys.OnBoard(QStringLiteral("ttyS0"), "4");
    sys.OnBoard(QStringLiteral("ttyS1"), "0");  // PORT_UNKNOWN: no UART behind it
    sys.OnBoard(QStringLiteral("ttyS10"), "4");
    // A virtual console has no device link; a tty whose node is missing cannot be opened.
    QDir().mkpath(sys.Path(QStringLiteral("sys/class/tty/tty0")));
    sys.DevNode(QStringLiteral("tty0"));
    sys.Tty(QStringLiteral("ttyUSB5"), QStringLiteral("pci0000:00/usb1/1-9/1-9:1.0/ttyUSB5"));
    sys.Link(QStringLiteral("../../ttyUSB2"),
             QStringLiteral("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));

    const auto ports = ListSerialPorts(sys.Root());
    const QString dev = sys.Path(QStringLiteral("dev/"));
    struct Expect {
        const char* name;
        const char* description;
        bool stable;
    };
    const Expect expected[] = {
        {"ttyUSB2", "FT232R USB UART", true},
        {"ttyUSB10", "CP2102 USB to UART Bridge Controller", false},
        {"ttyACM0", "CDC Abstract Control Model (ACM)", false},
        {"ttyS0", "", false},
        {"ttyS10", "", false},
    };
    ASSERT_EQ(ports.size(), std::size(expected));
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].name, dev + QString::fromLatin1(expected[i].name)) << i;
        EXPECT_EQ(ports[i].description, QString::fromUtf8(expected[i].description)) << i;
        EXPECT_EQ(!ports[i].stablePath.isEmpty(), expected[i].stable) << i;
    }
    EXPECT_TRUE(ports[0].stablePath.endsWith(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0")));
}

TEST(PortList, MissingTreeGivesAnEmptyList) {
    EXPECT_TRUE(ListSerialPorts(QStringLiteral("/nonexistent-root-for-test")).empty());
}

TEST(PortList, LiveSystemEntriesAreOpenablePaths) {
    for (const PortInfo& p : ListSerialPorts()) {
        EXPECT_TRUE(p.name.startsWith(QStringLiteral("/dev/"))) << p.name.toStdString();
        EXPECT_TRUE(QFileInfo::exists(p.name)) << p.name.toStdString();
    }
}

TEST(PortList, DeviceGroupNamesTheOwningGroup) {
    EXPECT_EQ(DeviceGroup(QStringLiteral("/")), QStringLiteral("root"));
    EXPECT_TRUE(DeviceGroup(QStringLiteral("/nonexistent/ttyUSB0")).isEmpty());
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

TEST(PortWatcher, TimerNoticesAnAdapterInTheFakeTree) {
    FakeSystem sys;
    sys.OnBoard(QStringLiteral("ttyS0"), "4");
    const QString root = sys.Root();
    PortWatcher watcher(nullptr, [root] { return ListSerialPorts(root); }, 20);
    std::vector<std::vector<PortInfo>> seen;
    QObject::connect(&watcher, &PortWatcher::PortsChanged, &watcher,
                     [&](const std::vector<PortInfo>& p) { seen.push_back(p); });
    watcher.Start();
    ASSERT_EQ(watcher.Ports().size(), 1u);

    sys.UsbAdapter(QStringLiteral("ttyUSB0"), QStringLiteral("1-1"), "FT232R USB UART", "FTDI", {}, true);
    ASSERT_TRUE(testing::PumpUntil([&] { return !seen.empty(); }));
    ASSERT_EQ(seen.back().size(), 2u);
    EXPECT_EQ(seen.back()[0].description, "FT232R USB UART");

    ASSERT_TRUE(QFile::remove(sys.Path(QStringLiteral("dev/ttyUSB0"))));  // pulled out
    ASSERT_TRUE(testing::PumpUntil([&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen.back().size(), 1u);
}

}  // namespace
}  // namespace r4t8
