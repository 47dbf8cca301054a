#include "serial/linux/UdevMonitor.h"

#include <libudev.h>
#include <unistd.h>

namespace r4t8 {

namespace detail {

namespace {

class UdevMonitor : public IPlugMonitor {
  public:
    UdevMonitor(udev* context, udev_monitor* monitor) : m_udev(context), m_monitor(monitor) {}
    ~UdevMonitor() override {
        udev_monitor_unref(m_monitor);
        udev_unref(m_udev);
    }
    UdevMonitor(const UdevMonitor&) = delete;
    UdevMonitor& operator=(const UdevMonitor&) = delete;

    int Descriptor() const override { return udev_monitor_get_fd(m_monitor); }
    bool TakeNews() override {
        // The socket is non-blocking: this ends with null once nothing is left.
        bool any = false;
        while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
            any = true;
            udev_device_unref(device);
        }
        return any;
    }

  private:
    udev* m_udev;
    udev_monitor* m_monitor;
};

}  // namespace

std::unique_ptr<IPlugMonitor> OpenUdevMonitor(const QString& controlPath) {
    if (::access(controlPath.toLocal8Bit().constData(), F_OK) != 0) return nullptr;
    udev* context = udev_new();
    if (!context) return nullptr;
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    // The filter runs in the kernel: other subsystems' events never wake us.
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor) udev_monitor_unref(monitor);
        udev_unref(context);
        return nullptr;
    }
    return std::make_unique<UdevMonitor>(context, monitor);
}

}  // namespace detail

std::unique_ptr<IPlugMonitor> OpenPlugMonitor() {
    return detail::OpenUdevMonitor(QStringLiteral("/run/udev/control"));
}

}  // namespace r4t8
