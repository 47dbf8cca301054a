// Command line of r4t8-sim.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "FaultOptions.h"
#include "SimController.h"

namespace r4t8::sim {

struct SimOptions {
    bool help = false;
    bool version = false;
    std::string link;         // symlink to the pty slave
    std::string device;       // serve this tty instead of a new pty
    std::string logFile;      // frame log; standard error when empty
    std::string memoryFile;   // initial memory image (65536 bytes)
    std::string factoryFile;  // image that a factory reset restores (65536 bytes)
    ControllerSettings controller;
    bool generateHistory = false;
    bool demo = false;  // the demo site: configured memory, its history and readings
    std::optional<int> historyPages;
    int debugIntervalMs = 500;
    FaultOptions faults;
};

// Parses argv (without the program name); returns an empty string or the error.
std::string ParseSimOptions(const std::vector<std::string>& args, SimOptions& options);

std::string SimHelpText();

}  // namespace r4t8::sim
