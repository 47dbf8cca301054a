#include "SimController.h"

#include <algorithm>
#include <cstring>

namespace r4t8::sim {

namespace {

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void PutItem(Bytes& out, uint8_t type, uint8_t channel, uint32_t value) {
    out.insert(out.end(),
               {type, channel, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

void PutFloat(Bytes& out, uint8_t type, uint8_t channel, float f) {
    uint32_t v = 0;
    std::memcpy(&v, &f, sizeof v);
    PutItem(out, type, channel, v);
}

// Wall time without a zone, so that a DST change of the PC does not move the device clock.
QDateTime Naive(const QDateTime& local) { return QDateTime(local.date(), local.time(), Qt::UTC); }

bool BlockInRange(uint32_t address) { return address <= kConfigImageSize - kBlockSize; }

}  // namespace

SimController::SimController(ControllerSettings settings)
    : m_settings(std::move(settings)),
      m_memory(std::make_unique<ConfigImage>()),
      m_factory(std::make_unique<ConfigImage>()) {
    m_memory->fill(0xFF);
    m_factory->fill(0xFF);
}

std::optional<Bytes> SimController::Handle(uint8_t command, const Bytes& p, const Moment& now) {
    const size_t n = p.size();
    switch (command) {
        case cmd_login:
            return n == 4 ? HandleLogin(p) : Status(false);
        case cmd_read_block:
            if (n != 4) return std::nullopt;
            return ReadBlock(Le32(p.data()));
        case cmd_erase_block:
            return Status(n == 4 && EraseBlock(Le32(p.data())));
        case cmd_write_block:
            return Status(n == 4 + kBlockSize && WriteBlock(Le32(p.data()), p.data() + 4));
        case cmd_write_done:
            ++m_writeDone;
            return Status(true);
        case cmd_factory_reset:
            *m_memory = *m_factory;
            m_debugOn = false;
            m_relayMode = 'O';
            return Status(true);
        case cmd_history_count: {
            if (n != 6) return std::nullopt;
            const uint16_t pages = m_history.StartQuery(p.data());
            return Bytes{static_cast<uint8_t>(pages & 0xFF), static_cast<uint8_t>(pages >> 8)};
        }
        case cmd_history_page:
            if (n != 2) return std::nullopt;
            return m_history.Page(Le16(p.data()));
        case cmd_current_data:
            return CurrentData(now);
        case cmd_relay:
            return Status(Relay(p, now.monoMs));
        case cmd_debug_mode:
            if (n != 1 || p[0] > 1) return Status(false);
            m_debugOn = p[0] == 1;
            return Status(true);
        case cmd_set_time:
            return Status(SetTime(p, now.localNow));
        case cmd_get_time:
            return DeviceTimeAt(now.localNow);
        default:
            return std::nullopt;
    }
}

Bytes SimController::RefusalPayload(uint8_t command) {
    switch (command) {
        case cmd_history_count:
            return {0x00, 0x00};
        case cmd_history_page:
            return {0xFF};
        case cmd_get_time:
            return Bytes(6, 0x00);
        default:
            return {0x00};
    }
}

Bytes SimController::HandleLogin(const Bytes& p) const {
    uint8_t expected[4] = {0, 0, 0, 0};
    std::memcpy(expected, m_settings.password.data(),
                std::min<size_t>(4, m_settings.password.size()));
    if (!std::equal(p.begin(), p.end(), expected)) return Status(false);
    Bytes out = {1};
    out.insert(out.end(), m_settings.model.begin(), m_settings.model.end());
    out.push_back(0);
    out.insert(out.end(), m_settings.version.begin(), m_settings.version.end());
    out.push_back(0);
    // The reply must fit the tool's 256-byte payload area.
    if (out.size() > kReplyPayloadSize) out.resize(kReplyPayloadSize);
    return out;
}

Bytes SimController::ReadBlock(uint32_t address) const {
    Bytes out(kBlockSize, 0xFF);
    for (size_t i = 0; i < kBlockSize; ++i) {
        const uint64_t a = static_cast<uint64_t>(address) + i;
        if (a < kConfigImageSize) out[i] = (*m_memory)[a];
    }
    return out;
}

bool SimController::EraseBlock(uint32_t address) {
    if (!BlockInRange(address)) return false;
    std::fill_n(m_memory->begin() + address, kBlockSize, 0xFF);
    return true;
}

bool SimController::WriteBlock(uint32_t address, const uint8_t* data) {
    if (!BlockInRange(address)) return false;
    auto block = m_memory->begin() + address;
    // Flash: only an erased block takes a write.
    if (!std::all_of(block, block + kBlockSize, [](uint8_t b) { return b == 0xFF; })) return false;
    std::copy_n(data, kBlockSize, block);
    if (m_storeWrong) block[0] ^= 0x01;
    ++m_writes;
    return true;
}

bool SimController::Relay(const Bytes& p, int64_t monoMs) {
    if (p.size() < 2 || p[0] != 0x01) return false;
    switch (p[1]) {
        case 'C':
            if (p.size() != 4) return false;
            m_closeSeconds = Le16(&p[2]);
            break;
        case 'P':
            if (p.size() != 7) return false;
            m_pulseSeconds = Le16(&p[2]);
            m_intervalSeconds = Le16(&p[4]);
            m_pulseCount = p[6];
            break;
        case 'O':
            if (p.size() != 2) return false;
            break;
        default:
            return false;
    }
    m_relayMode = static_cast<char>(p[1]);
    m_relayStartMs = monoMs;
    return true;
}

bool SimController::RelayClosed(int64_t monoMs) const {
    const int64_t t = monoMs - m_relayStartMs;
    switch (m_relayMode) {
        case 'C':
            return t < static_cast<int64_t>(m_closeSeconds) * 1000;
        case 'P': {
            const int64_t period =
                (static_cast<int64_t>(m_pulseSeconds) + m_intervalSeconds) * 1000;
            if (period <= 0 || t >= period * m_pulseCount) return false;
            return t % period < static_cast<int64_t>(m_pulseSeconds) * 1000;
        }
        default:
            return false;
    }
}

bool SimController::SetTime(const Bytes& p, const QDateTime& localNow) {
    if (p.size() != 6) return false;
    const QDate d(2000 + p[0], p[1], p[2]);
    if (!d.isValid() || p[3] > 23 || p[4] > 59 || p[5] > 59) return false;
    const QDateTime device(d, QTime(p[3], p[4], p[5]), Qt::UTC);
    m_clockOffsetMs = Naive(localNow).msecsTo(device);
    return true;
}

Bytes SimController::DeviceTimeAt(const QDateTime& localNow) const {
    const QDateTime t = Naive(localNow).addMSecs(m_clockOffsetMs);
    return {static_cast<uint8_t>(t.date().year() % 100), static_cast<uint8_t>(t.date().month()),
            static_cast<uint8_t>(t.date().day()),        static_cast<uint8_t>(t.time().hour()),
            static_cast<uint8_t>(t.time().minute()),     static_cast<uint8_t>(t.time().second())};
}

Bytes SimController::CurrentData(const Moment& now) const {
    Bytes out;
    if (m_site) {
        // The site as the controller's own clock sees it; without a fix no GPS items.
        const QDateTime clock = Naive(now.localNow).addMSecs(m_clockOffsetMs);
        const SiteReading r = m_site->ReadingAt(DemoSite::WallSeconds(clock));
        for (uint8_t ch = 0; ch < 4; ++ch) PutFloat(out, 0x01, ch, r.sensors[ch]);
        if (r.gps) {
            for (uint8_t k = 0; k < 4; ++k)
                PutItem(out, 0x50, static_cast<uint8_t>(0x50 + k), (*r.gps)[k]);
        }
    } else {
        PutFloat(out, 0x01, 0, 25.5f);
        PutFloat(out, 0x01, 1, 26.25f);
        PutFloat(out, 0x01, 2, -3.5f);
        PutFloat(out, 0x01, 3, 60.0f);
        PutItem(out, 0x50, 0x50, 116397128);
        PutItem(out, 0x50, 0x51, 39916527);
        PutItem(out, 0x50, 0x52, 125);
        PutItem(out, 0x50, 0x53, 2705);
    }
    PutFloat(out, 0x10, 0x10, 23.0f);
    PutFloat(out, 0x20, 0x20, RelayClosed(now.monoMs) ? 1.0f : 0.0f);
    PutFloat(out, 0x30, 0x30, 1.0f);
    return out;
}

}  // namespace r4t8::sim
