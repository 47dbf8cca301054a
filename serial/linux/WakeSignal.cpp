#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "serial/PortBackend.h"

namespace r4t8::detail {

namespace {

// An eventfd: a write makes it readable, a read of its counter makes it quiet again.
class EventFdWakeSignal : public IWakeSignal {
  public:
    explicit EventFdWakeSignal(int fd) : m_fd(fd) {}
    ~EventFdWakeSignal() override { ::close(m_fd); }
    EventFdWakeSignal(const EventFdWakeSignal&) = delete;
    EventFdWakeSignal& operator=(const EventFdWakeSignal&) = delete;

    int Descriptor() const override { return m_fd; }
    void Signal() override {
        const uint64_t one = 1;
        (void)!::write(m_fd, &one, sizeof one);
    }
    void Clear() override {
        uint64_t count = 0;
        (void)!::read(m_fd, &count, sizeof count);
    }

  private:
    int m_fd;
};

}  // namespace

std::unique_ptr<IWakeSignal> MakeWakeSignal(int& err) {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        err = errno;
        return nullptr;
    }
    return std::make_unique<EventFdWakeSignal>(fd);
}

}  // namespace r4t8::detail
