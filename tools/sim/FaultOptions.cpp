#include "FaultOptions.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "protocol/Frame.h"

namespace r4t8::sim {

namespace {

enum class Kind { Flag, Count, Rate, Millis, Refuse, Seed, Hangup, Chaos, ChaosMode };

struct OptionDef {
    const char* name;
    Kind kind;
};

constexpr OptionDef kOptions[] = {
    {"seed", Kind::Seed},
    {"refuse", Kind::Refuse},
    {"drop-next", Kind::Count},
    {"drop-rate", Kind::Rate},
    {"corrupt-checksum-next", Kind::Count},
    {"corrupt-rate", Kind::Rate},
    {"duplicate-next", Kind::Count},
    {"duplicate-rate", Kind::Rate},
    {"delay", Kind::Millis},
    {"garbage", Kind::Flag},
    {"stray-a5", Kind::Flag},
    {"trickle", Kind::Millis},
    {"burst", Kind::Flag},
    {"bitflip", Kind::Rate},
    {"pace", Kind::Flag},
    {"hangup-after", Kind::Hangup},
    {"store-wrong", Kind::Flag},
    {"chaos", Kind::Chaos},
    {"chaos-mode", Kind::ChaosMode},
    {"chaos-max-delay", Kind::Millis},
};

const OptionDef* Find(const std::string& name) {
    for (const auto& d : kOptions) {
        if (name == d.name) return &d;
    }
    return nullptr;
}

bool ParseInteger(const std::string& text, long long lo, long long hi, long long& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool ParseUnsigned64(const std::string& text, uint64_t& out) {
    if (text.empty() || text[0] == '-') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0') return false;
    out = v;
    return true;
}

bool ParseRate(const std::string& text, double& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    // The negated test also refuses NaN.
    if (errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
    out = v;
    return true;
}

// Flags also take an explicit on/off at run time ("fault garbage off").
bool ParseFlag(const std::string& text, bool& out) {
    if (text.empty() || text == "on" || text == "1" || text == "true") {
        out = true;
        return true;
    }
    if (text == "off" || text == "0" || text == "false") {
        out = false;
        return true;
    }
    return false;
}

constexpr std::pair<const char*, uint8_t> kCommandNames[] = {
    {"cmd_login", cmd_login},
    {"cmd_write_block", cmd_write_block},
    {"cmd_read_block", cmd_read_block},
    {"cmd_erase_block", cmd_erase_block},
    {"cmd_write_done", cmd_write_done},
    {"cmd_factory_reset", cmd_factory_reset},
    {"cmd_history_count", cmd_history_count},
    {"cmd_history_page", cmd_history_page},
    {"cmd_current_data", cmd_current_data},
    {"cmd_relay", cmd_relay},
    {"cmd_debug_mode", cmd_debug_mode},
    {"cmd_set_time", cmd_set_time},
    {"cmd_get_time", cmd_get_time},
};

}  // namespace

bool IsFaultOption(const std::string& name) { return Find(name) != nullptr; }

bool FaultOptionTakesValue(const std::string& name) {
    const OptionDef* d = Find(name);
    return d != nullptr && d->kind != Kind::Flag;
}

bool ParseCommandCode(const std::string& text, uint8_t& code) {
    for (const auto& [name, value] : kCommandNames) {
        if (text == name) {
            code = value;
            return true;
        }
    }
    long long v = 0;
    if (!ParseInteger(text, 0, 255, v)) return false;
    code = static_cast<uint8_t>(v);
    return true;
}

namespace {

void SetFlag(FaultOptions& o, const std::string& name, bool on) {
    if (name == "garbage") o.garbage = on;
    if (name == "stray-a5") o.strayA5 = on;
    if (name == "burst") o.burst = on;
    if (name == "pace") o.pace = on;
    if (name == "store-wrong") o.storeWrong = on;
}

void SetCount(FaultOptions& o, const std::string& name, int n) {
    if (name == "drop-next") o.dropNext = n;
    if (name == "corrupt-checksum-next") o.corruptNext = n;
    if (name == "duplicate-next") o.duplicateNext = n;
}

void SetRate(FaultOptions& o, const std::string& name, double p) {
    if (name == "drop-rate") o.dropRate = p;
    if (name == "corrupt-rate") o.corruptRate = p;
    if (name == "duplicate-rate") o.duplicateRate = p;
    if (name == "bitflip") o.bitflipRate = p;
}

void SetMillis(FaultOptions& o, const std::string& name, int ms) {
    if (name == "delay") o.delayMs = ms;
    if (name == "trickle") o.trickleMs = ms;
    if (name == "chaos-max-delay") o.chaos.maxDelayMs = ms;
}

bool SetHangup(FaultOptions& o, const std::string& value) {
    long long n = 0;
    if (value == "off") {
        o.hangupAfter = -1;
        return true;
    }
    if (!ParseInteger(value, 0, 100000000, n)) return false;
    o.hangupAfter = static_cast<int>(n);
    return true;
}

bool SetChaos(FaultOptions& o, const std::string& value) {
    if (value == "off") {
        o.chaos.on = false;
        return true;
    }
    uint64_t s = 0;
    if (!ParseUnsigned64(value, s)) return false;
    o.chaos.on = true;
    o.chaos.seed = s;
    return true;
}

// "CMD" or "CMD:N"; "off" drops every refusal.
bool AddRefusal(FaultOptions& o, const std::string& value) {
    if (value == "off") {
        o.refusals.clear();
        return true;
    }
    Refusal r;
    const auto colon = value.find(':');
    if (!ParseCommandCode(value.substr(0, colon), r.command)) return false;
    if (colon != std::string::npos) {
        long long n = 0;
        if (!ParseInteger(value.substr(colon + 1), 1, 100000000, n)) return false;
        r.occurrence = static_cast<int>(n);
    }
    o.refusals.push_back(r);
    return true;
}

// Sets nothing when the value is refused.
bool ApplyValue(FaultOptions& o, Kind kind, const std::string& name, const std::string& value) {
    long long n = 0;
    switch (kind) {
        case Kind::Flag: {
            bool on = false;
            if (!ParseFlag(value, on)) return false;
            SetFlag(o, name, on);
            return true;
        }
        case Kind::Count:
            if (!ParseInteger(value, 0, 1000000, n)) return false;
            SetCount(o, name, static_cast<int>(n));
            return true;
        case Kind::Rate: {
            double p = 0;
            if (!ParseRate(value, p)) return false;
            SetRate(o, name, p);
            return true;
        }
        case Kind::Millis:
            if (!ParseInteger(value, 0, 3600000, n)) return false;
            SetMillis(o, name, static_cast<int>(n));
            return true;
        case Kind::Hangup:
            return SetHangup(o, value);
        case Kind::Seed:
            return ParseUnsigned64(value, o.seed);
        case Kind::Chaos:
            return SetChaos(o, value);
        case Kind::ChaosMode:
            return ParseChaosMode(value, o.chaos.mode);
        case Kind::Refuse:
            return AddRefusal(o, value);
    }
    return false;
}

}  // namespace

std::string ApplyFaultOption(FaultOptions& o, const std::string& name, const std::string& value) {
    const OptionDef* d = Find(name);
    if (d == nullptr) return "unknown fault option: " + name;
    if (!ApplyValue(o, d->kind, name, value)) return "bad value for " + name + ": '" + value + "'";
    return {};
}

std::string ApplyFaultSpec(FaultOptions& options, const std::string& spec) {
    std::istringstream in(spec);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) return "empty fault spec";

    FaultOptions next = options;
    if (words.size() == 1 && words[0] == "clear") {
        next = FaultOptions{};
        next.seed = options.seed;
        options = next;
        return {};
    }
    for (size_t i = 0; i < words.size(); ++i) {
        std::string name = words[i];
        while (!name.empty() && name[0] == '-') name.erase(0, 1);
        std::string value;
        const auto eq = name.find('=');
        const bool inlineValue = eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name.erase(eq);
        }
        if (!IsFaultOption(name)) return "unknown fault option: " + name;
        if (!inlineValue) {
            const bool nextIsValue =
                i + 1 < words.size() && words[i + 1][0] != '-' && !IsFaultOption(words[i + 1]);
            if (FaultOptionTakesValue(name)) {
                if (!nextIsValue) return "missing value for " + name;
                value = words[++i];
            } else if (nextIsValue) {
                value = words[++i];  // "garbage off"
            }
        }
        const std::string err = ApplyFaultOption(next, name, value);
        if (!err.empty()) return err;
    }
    options = next;
    return {};
}

const char* FaultOptionsHelp() {
    return R"(Fault injection (every choice is deterministic for a given --seed; all of them can
also be changed at run time with the "fault" command, e.g. "fault drop-next 2 delay 300"):
  --seed N                    seed of every random choice (default 1)
  --refuse CMD[:N]            answer status 0 to command CMD (a code such as 18 or 0x12, or a
                              name such as cmd_erase_block), or only to its Nth occurrence;
                              may be repeated. A refused request is not carried out. Requests
                              without a status byte get: read block 00, history count 00 00,
                              history page FF, current data 00, get time six 00 (month 0).
  --drop-next N               do not send the next N replies
  --drop-rate P               do not send a reply with probability P (0..1)
  --corrupt-checksum-next N   send the next N replies with a wrong checksum
  --corrupt-rate P            wrong checksum with probability P
  --duplicate-next N          send the next N replies twice
  --duplicate-rate P          send a reply twice with probability P
  --delay MS                  send every reply MS milliseconds after its request arrived
                              (requests are still read meanwhile)
  --garbage                   random bytes other than A5 before every frame sent
  --stray-a5                  stray bytes before every frame sent: an optional AA, then one to
                              three A5
  --trickle MS                send one byte every MS milliseconds
  --burst                     hold each frame back and send it in one write with the next one
  --bitflip P                 flip one bit of a byte sent with probability P per byte
  --pace                      pace the output at 115200 baud, 10 bits a byte (86.8 us a byte)
  --hangup-after N            after N requests answered (and their replies written) close the
                              line and exit
  --store-wrong               a block write stores its first data byte with bit 0 flipped, and
                              still reports success
  --chaos SEED|off            a random schedule per reply, drawn from SEED: lost, corrupted,
                              late (up to 3.5 s), trickled, duplicated after a gap; answers
                              keep their order and begin within 4.4 s of their request. Takes
                              the place of --drop-*, --corrupt-*, --duplicate-* and --delay
  --chaos-mode MODE           hostile (default): any mix; recoverable: every request also gets
                              one correct reply within 3.5 s of its first copy; slow: no faults,
                              every copy answered after the same delay
  --chaos-max-delay MS        longest answer delay a chaos schedule draws (default 3500)
At run time a flag takes on/off ("fault garbage off"), "refuse off" and "hangup-after off" clear
those, and "fault clear" switches every fault off.
)";
}

}  // namespace r4t8::sim
