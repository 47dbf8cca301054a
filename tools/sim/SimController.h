// The simulated R4T8: its memory, history, readings, relay, clock and debug mode, and the
// answer to every request of the command table. No I/O; time is passed in.
#pragma once

#include <QDateTime>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "DemoSite.h"
#include "SimHistory.h"
#include "protocol/Frame.h"

namespace r4t8::sim {

struct ControllerSettings {
    std::string password = "5807";  // up to 4 characters; missing ones are 0x00 on the line
    std::string model = "R4T1";
    std::string version = "V2.3 20140105";
};

// The moment a request is handled: monotonic milliseconds and the PC's local wall clock.
struct Moment {
    int64_t monoMs = 0;
    QDateTime localNow;
};

class SimController {
  public:
    explicit SimController(ControllerSettings settings);

    // The reply payload to a request, or nothing for a request that gets no answer (an
    // unknown command, or a data request of the wrong size).
    std::optional<Bytes> Handle(uint8_t command, const Bytes& payload, const Moment& now);

    // The reply to a refused request: status 0, or for the requests without a status byte
    // the nearest thing to a refusal (see --help).
    static Bytes RefusalPayload(uint8_t command);

    ConfigImage& Memory() { return *m_memory; }
    const ConfigImage& Memory() const { return *m_memory; }
    // What a factory reset restores (all 0xFF unless loaded).
    ConfigImage& FactoryImage() { return *m_factory; }
    SimHistory& History() { return m_history; }
    // The demo site whose sensors and GPS the current readings show; none: fixed readings.
    void SetSite(std::shared_ptr<const DemoSite> site) { m_site = std::move(site); }

    void SetStoreWrong(bool on) { m_storeWrong = on; }

    bool DebugOn() const { return m_debugOn; }
    // 'O' released, 'C' closed for a time, 'P' pulsing.
    char RelayMode() const { return m_relayMode; }
    bool RelayClosed(int64_t monoMs) const;
    // The controller's clock at `now`, as DeviceTime.
    Bytes DeviceTimeAt(const QDateTime& localNow) const;
    int WritesStored() const { return m_writes; }
    int WriteDoneCount() const { return m_writeDone; }

  private:
    Bytes Status(bool ok) const { return {static_cast<uint8_t>(ok ? 1 : 0)}; }
    Bytes HandleLogin(const Bytes& p) const;
    Bytes ReadBlock(uint32_t address) const;
    bool EraseBlock(uint32_t address);
    bool WriteBlock(uint32_t address, const uint8_t* data);
    bool Relay(const Bytes& p, int64_t monoMs);
    bool SetTime(const Bytes& p, const QDateTime& localNow);
    Bytes CurrentData(const Moment& now) const;

    ControllerSettings m_settings;
    // Held on the heap: 64 KiB each.
    std::unique_ptr<ConfigImage> m_memory;
    std::unique_ptr<ConfigImage> m_factory;
    SimHistory m_history;
    std::shared_ptr<const DemoSite> m_site;
    bool m_storeWrong = false;
    bool m_debugOn = false;
    char m_relayMode = 'O';
    int64_t m_relayStartMs = 0;
    uint16_t m_closeSeconds = 0;
    uint16_t m_pulseSeconds = 0;
    uint16_t m_intervalSeconds = 0;
    uint8_t m_pulseCount = 0;
    // Device clock minus PC clock, in milliseconds of naive wall time.
    int64_t m_clockOffsetMs = 0;
    int m_writes = 0;
    int m_writeDone = 0;
};

}  // namespace r4t8::sim
