// Fault options of the simulated controller: what to do wrong, and how often. Parsed from the
// command line and from the "fault" command on standard input with the same names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ChaosSchedule.h"

namespace r4t8::sim {

// Answer status 0 for one command code: every request of it, or only its Nth occurrence
// (counted from when the refusal was set).
struct Refusal {
    uint8_t command = 0;
    int occurrence = 0;  // 0: every request
    int seen = 0;
};

struct FaultOptions {
    uint64_t seed = 1;
    std::vector<Refusal> refusals;
    int dropNext = 0;
    double dropRate = 0.0;
    int corruptNext = 0;
    double corruptRate = 0.0;
    int duplicateNext = 0;
    double duplicateRate = 0.0;
    int delayMs = 0;
    bool garbage = false;
    bool strayA5 = false;
    int trickleMs = 0;
    bool burst = false;
    double bitflipRate = 0.0;
    bool pace = false;
    int hangupAfter = -1;  // -1: never
    bool storeWrong = false;
    // Random per-reply schedules; while on, the reply faults above (drop, corrupt, duplicate,
    // delay) give way to them.
    ChaosSettings chaos;
};

// True when `name` (without leading dashes) is a fault option.
bool IsFaultOption(const std::string& name);
// True when the fault option takes a value.
bool FaultOptionTakesValue(const std::string& name);

// Sets one option; returns an empty string or the reason the value was refused.
std::string ApplyFaultOption(FaultOptions& options, const std::string& name,
                             const std::string& value);

// Applies a whitespace-separated list such as "drop-next 2 --delay=300 garbage", or "clear"
// (every fault off, the seed kept). Nothing is changed when any item is refused.
std::string ApplyFaultSpec(FaultOptions& options, const std::string& spec);

// Accepts a command code as a number (decimal or 0x hex) or as its name ("cmd_login").
bool ParseCommandCode(const std::string& text, uint8_t& code);

// The lines of --help that describe the fault options.
const char* FaultOptionsHelp();

}  // namespace r4t8::sim
