// A controller faked in memory behind the port, for the safe write's tests.
#pragma once

#include <cstring>
#include <deque>
#include <vector>

#include "config/RawBlocks.h"
#include "protocol/Frame.h"
#include "protocol/Port.h"
#include "protocol/TimeSource.h"
#include "session/DeviceSession.h"

namespace r4t8::testing {

// Answers every request from a memory image; replies are queued and handed to the session
// by Pump(), so they never arrive inside the send that asked for them.
class FakeController : public IPort {
  public:
    FakeController() { memory.fill(0xFF); }

    bool WriteBytes(const uint8_t* data, size_t count) override {
        if (count < 2) return false;
        const Bytes raw = [&] {
            Bytes r{kFrameDelimiter};
            const Bytes inner = UnescapeFrame(data + 1, count - 2);
            r.insert(r.end(), inner.begin(), inner.end());
            r.push_back(kFrameDelimiter);
            return r;
        }();
        uint8_t command = 0;
        Bytes payload;
        if (!ParseRawFrame(raw, command, payload)) return true;
        requests.push_back(command);
        if (silent) return true;
        uint32_t address = 0;
        if (payload.size() >= 4) std::memcpy(&address, payload.data(), 4);
        switch (command) {
            case cmd_login:
                Reply(command, {1, 'R', '4', 'T', '1', 0, 'V', '1', 0});
                break;
            case cmd_read_block:
                Reply(command, Bytes(memory.begin() + address, memory.begin() + address + 256));
                break;
            case cmd_erase_block:
                if (++erases == refuseErase) {
                    Reply(command, {0});
                    break;
                }
                std::fill_n(memory.begin() + address, 256, 0xFF);
                Reply(command, {1});
                break;
            case cmd_write_block:
                std::copy_n(payload.begin() + 4, 256, memory.begin() + address);
                if (storeWrong) memory[address] ^= 0x01;
                Reply(command, {1});
                break;
            default:
                Reply(command, {1});
        }
        return true;
    }

    void Pump(DeviceSession& session) {
        while (!pending.empty()) {
            const Bytes frame = pending.front();
            pending.pop_front();
            session.cm1ReceiveData(frame.data(), static_cast<uint16_t>(frame.size()));
        }
    }

    RawBlocks Blocks() const { return BlocksFromImage(memory); }

    ConfigImage memory;
    std::vector<uint8_t> requests;
    std::deque<Bytes> pending;
    bool storeWrong = false;
    bool silent = false;
    int refuseErase = 0;  // the nth erase is refused; 0: none
    int erases = 0;

  private:
    void Reply(uint8_t command, const Bytes& payload) {
        pending.push_back(EscapeFrame(BuildReplyFrame(command, payload)));
    }
};

}  // namespace r4t8::testing
