#include "SimOptions.h"

#include <cerrno>
#include <cstdlib>

namespace r4t8::sim {

namespace {

bool ParseInt(const std::string& text, long lo, long hi, int& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

const char* const kValueOptions[] = {"link",           "device",        "log",   "memory",
                                     "factory-memory", "password",      "model", "version-text",
                                     "history-pages",  "debug-interval"};

bool TakesValue(const std::string& name) {
    for (const char* n : kValueOptions) {
        if (name == n) return true;
    }
    return FaultOptionTakesValue(name);
}

}  // namespace

std::string ParseSimOptions(const std::vector<std::string>& args, SimOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            continue;
        }
        if (arg == "--version") {
            o.version = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) return "unexpected argument: " + arg;
        std::string name = arg.substr(2);
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.erase(eq);
            hasValue = true;
        }
        const bool known =
            TakesValue(name) || IsFaultOption(name) || name == "generate-history" || name == "demo";
        if (!known) return "unknown option: --" + name;
        if (TakesValue(name) && !hasValue) {
            if (i + 1 >= args.size()) return "missing value for --" + name;
            value = args[++i];
        }
        if (name == "link") {
            o.link = value;
        } else if (name == "device") {
            o.device = value;
        } else if (name == "log") {
            o.logFile = value;
        } else if (name == "memory") {
            o.memoryFile = value;
        } else if (name == "factory-memory") {
            o.factoryFile = value;
        } else if (name == "password") {
            if (value.size() > 4) return "the password has at most 4 characters";
            o.controller.password = value;
        } else if (name == "model") {
            o.controller.model = value;
        } else if (name == "version-text") {
            o.controller.version = value;
        } else if (name == "generate-history") {
            o.generateHistory = true;
        } else if (name == "demo") {
            o.demo = true;
        } else if (name == "history-pages") {
            int n = 0;
            if (!ParseInt(value, 0, 65535, n)) return "bad value for --history-pages: " + value;
            o.historyPages = n;
        } else if (name == "debug-interval") {
            int n = 0;
            if (!ParseInt(value, 1, 3600000, n)) return "bad value for --debug-interval: " + value;
            o.debugIntervalMs = n;
        } else {
            if (const std::string err = ApplyFaultOption(o.faults, name, value); !err.empty())
                return err;
        }
    }
    if (o.controller.model.size() + o.controller.version.size() + 3 > kReplyPayloadSize)
        return "model and version text are too long for the login reply";
    return {};
}

std::string SimHelpText() {
    std::string s = R"(Usage: r4t8-sim [options]
A simulated R4T8 controller. It opens a pseudo-terminal (or serves --device), prints the path
of the port as the first line of standard output, and answers the tool's requests until it
gets SIGTERM or SIGINT, its standard input ends, or the command "quit".

Controller:
  --link PATH             also make PATH a symlink to the port (removed at exit)
  --device PATH           serve this existing tty (e.g. one end of a null-modem cable)
  --log FILE              write the frame log to FILE instead of standard error
  --password P            login password, up to 4 characters (default 5807)
  --model M               model reported at login (default R4T1)
  --version-text V        version reported at login (default "V2.3 20140105")
  --demo                  a configured controller at a plausible site instead of a blank
                          one: a refrigerated truck of a cold chain in Beijing (four
                          temperature sensors, GPS). All four configuration blocks are
                          set (--memory replaces them); the history holds a record every
                          5 minutes for 2014 and for the 30 days up to the end of today,
                          with delivery rounds, door openings, weekends switched off and
                          records without a GPS fix; the current readings follow the same
                          model at the controller's clock (--generate-history not needed)
  --memory FILE           initial 65536-byte memory image (default all FF)
  --factory-memory FILE   image a factory reset restores (default all FF)
  --generate-history      history records for every day of 2014 and for the days around
                          today (45 before to 1 after), one to six a day
  --history-pages N       any range with start <= end has exactly N pages (0..65535)
  --debug-interval MS     period of the debug frames while debug mode is on (default 500)
  -h, --help              this text
  --version               the program's version

)";
    s += FaultOptionsHelp();
    s += R"(
Standard input, one command a line (a character device such as /dev/zero is not read):
  dump PATH               write the memory image to PATH (atomically); answers "dumped PATH"
  fault SPEC              change fault options, e.g. "fault drop-next 1"; answers "fault ok"
  history pages N|off     force the page count, or go back to the records; "history ok"
  history generate        replace the records with the generated set, the demo site's with
                          --demo ("history clear": none)
  status                  "status debug=0|1 relay=O|C|P closed=0|1 answered=N writes=N"
  quit                    answers "bye" and exits
Errors are answered with a line starting "error ".

Frame log (standard error or --log), one line per event:
  RX <hex>     a request that passed the checks, unescaped, both delimiters included
  TX <hex>     a frame queued for sending, unescaped (after a checksum corruption)
  BAD <hex>    a received frame that failed the checks, as received
  DROP <hex>   a reply withheld by a drop fault
  # <text>     a note
<hex> is upper-case bytes separated by single blanks.
)";
    return s;
}

}  // namespace r4t8::sim
