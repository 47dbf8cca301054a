// What every random-schedule run checks, whether it runs in virtual time or over a pty: the
// sequences, the time a run may take, and what a success must hold.
//
// The time a run may take. A request goes out at 0, 1, 2 and 3 s and its time-out comes at
// 4 s (kTimeOutMs). Before it goes out it may wait until no frame of an earlier request of
// its code can arrive: at most the reply window kReplyWindowMs. Frames that could still be an
// earlier request's (they all begin within that window) may make it send a confirming copy,
// which gets the whole resend cycle again. So one step of a sequence ends within
// kStepBoundMs = 2 * kReplyWindowMs + kTimeOutMs of the step before it, and a run within
// its number of steps times that. A run that has not ended by then has stalled.
#pragma once

#include <QDateTime>
#include <QString>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/ConfigSequences.h"
#include "config/DeviceSettings.h"
#include "config/RawBlocks.h"
#include "operations/HistoryPage.h"
#include "operations/HistoryQuery.h"
#include "protocol/Frame.h"
#include "protocol/ReplyTiming.h"
#include "support/Variants.h"

namespace r4t8::chaos {

constexpr int64_t kStepBoundMs = 2 * reply_timing::kReplyWindowMs + reply_timing::kTimeOutMs;

enum class Seq {
    Login,
    Read,
    Write,
    History,
    CurrentData,
    Relay,
    ClockSet,
    ClockGet,
    Debug,
    FactoryReset,
    BackupWriteVerify,
};

struct SeqInfo {
    Seq seq;
    const char* key;
    // The message of a success; empty: a success shows none.
    const char* success;
    // Requests of a clean run (a history run adds one per page).
    int steps;
};

inline const std::vector<SeqInfo>& Sequences() {
    static const std::vector<SeqInfo> list = {
        {Seq::Login, "login", "密码正确", 1},
        {Seq::Read, "read", "读取结束", 4},
        {Seq::Write, "write", "写入成功", 9},
        {Seq::History, "history", "导出历史数据成功", 2},
        {Seq::CurrentData, "current", "", 1},
        {Seq::Relay, "relay", "操作成功", 1},
        {Seq::ClockSet, "clockset", "设置时间成功", 1},
        {Seq::ClockGet, "clockget", "", 1},
        {Seq::Debug, "debug", "开启调试模式成功", 1},
        {Seq::FactoryReset, "factory", "工厂化成功", 1},
        // Backup read, write and write-done, verify read; a restore writes and verifies again.
        {Seq::BackupWriteVerify, "safewrite", "写入成功", 4 + 9 + 4 + 9 + 4},
    };
    return list;
}

inline const SeqInfo* FindSequence(const std::string& key) {
    for (const SeqInfo& s : Sequences())
        if (key == s.key) return &s;
    return nullptr;
}

inline int64_t RunBoundMs(const SeqInfo& info, int pages = 0) {
    return (info.steps + pages) * kStepBoundMs;
}

// The controller's memory at the start: two settings sets whose blocks all differ, a blank
// controller (four equal blocks), and one whose blocks come in equal pairs.
enum class Memory { Configured, Blank, Pairs };
inline const char* MemoryName(Memory m) {
    return m == Memory::Configured ? "configured" : m == Memory::Blank ? "blank" : "pairs";
}

inline ConfigImage StartImage(Memory kind) {
    ConfigImage image = matrix::VariantImage(0);
    if (kind == Memory::Blank) image.fill(0xFF);
    if (kind == Memory::Pairs) {
        std::copy_n(image.begin() + 1024, kBlockSize, image.begin() + 2048);
        std::copy_n(image.begin() + 3072, kBlockSize, image.begin() + 4096);
    }
    return image;
}

// The first field whose value differs, or "".
inline std::string DifferingField(const DeviceSettings& a, const DeviceSettings& b) {
    for (const auto& spec : a.Specs()) {
        const QString& n = spec.name;
        if (a.Text(n) != b.Text(n) || a.Index(n) != b.Index(n) || a.Checked(n) != b.Checked(n) ||
            a.Time(n) != b.Time(n))
            return n.toStdString() + ": \"" + a.Text(n).toStdString() + "\" instead of \"" +
                   b.Text(n).toStdString() + "\"";
    }
    return {};
}

// The settings a read of `memory` must show: `got` with the blocks decoded over it, so that
// the fields the blocks do not carry (model, version...) are left as they are.
inline std::string CheckRead(const DeviceSettings& got, const ConfigImage& memory) {
    DeviceSettings want = got;
    DecodeBlocks(BlocksFromImage(memory), want);
    return DifferingField(got, want);
}

inline std::vector<uint8_t> BlockOf(const ConfigImage& image, uint32_t address) {
    return {image.begin() + address, image.begin() + address + kBlockSize};
}

// After a write that did not succeed: every block as it was, as it was to be written, or
// erased where the report says it may be; and what the report calls written or unchanged is.
inline std::string CheckFailedWrite(const ConfigImage& memory, const ConfigImage& start,
                                    const ConfigImage& target, const WriteReport& report,
                                    bool reportExact) {
    auto listed = [](const std::vector<ConfigBlock>& v, ConfigBlock b) {
        return std::find(v.begin(), v.end(), b) != v.end();
    };
    for (size_t i = 0; i < 4; ++i) {
        const ConfigBlock b = matrix::kBlocks[i];
        const uint32_t a = matrix::kBlockAddresses[i];
        const auto now = BlockOf(memory, a);
        const bool asStart = now == BlockOf(start, a);
        const bool asTarget = now == BlockOf(target, a);
        const bool erased = now == std::vector<uint8_t>(kBlockSize, 0xFF);
        const std::string where = "block " + std::to_string(a);
        if (!asStart && !asTarget && !(erased && listed(report.mayBeErased, b)))
            return where + (erased ? " erased but not reported so" : " holds other data");
        if (!reportExact) continue;
        if (listed(report.written, b) && !asTarget) return where + " reported written";
        if (listed(report.unchanged, b) && !asStart) return where + " reported unchanged";
    }
    return {};
}

// Payloads of the replies of `command` the simulator put on the line ("TX" lines of its log).
inline std::vector<Bytes> SentPayloads(const std::vector<std::string>& log, uint8_t command) {
    std::vector<Bytes> out;
    for (const std::string& line : log) {
        if (line.rfind("TX ", 0) != 0) continue;
        Bytes raw;
        std::istringstream in(line.substr(3));
        for (std::string tok; in >> tok;)
            raw.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
        uint8_t cmd = 0;
        Bytes payload;
        if (ParseRawFrame(raw, cmd, payload) && cmd == command) out.push_back(payload);
    }
    return out;
}

inline bool SameRecords(const HistoryTable& a, const HistoryTable& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const HistoryRecord &x = a[i], &y = b[i];
        if (x.year != y.year || x.month != y.month || x.day != y.day || x.hour != y.hour ||
            x.minute != y.minute || x.second != y.second || x.longitude != y.longitude ||
            x.latitude != y.latitude || x.speed != y.speed || x.direction != y.direction)
            return false;
        for (int k = 0; k < 4; ++k)
            if (x.sensorPresent[k] != y.sensorPresent[k] ||
                (x.sensorPresent[k] && x.sensor[k] != y.sensor[k]))
                return false;
    }
    return true;
}

// The records of a sequence of page payloads, as the query stores them.
inline HistoryTable RecordsOf(const std::vector<Bytes>& pages) {
    HistoryTable table;
    for (const Bytes& p : pages) ParseHistoryPage(p.data(), p.size(), table);
    return table;
}

}  // namespace r4t8::chaos
