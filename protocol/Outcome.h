// The sequences that report an outcome, and where they report it. Front ends without message
// boxes (the command-line program, tests) and code that chains sequences (backup, write,
// verify) follow these instead of the message texts.
#pragma once

namespace r4t8 {

enum class Operation {
    Login,
    ReadSettings,
    WriteSettings,
    WriteDone,
    FactoryReset,
    HistoryQuery,
    HistoryExport,
    CurrentData,
    Relay,
    DebugMode,
    SetTime,
    GetTime,
};

enum class Outcome { Succeeded, Failed, TimedOut, Aborted };

// Told once when a sequence ends, after its messages.
class IOutcomes {
  public:
    virtual ~IOutcomes() = default;
    virtual void OperationFinished(Operation op, Outcome outcome) = 0;
};

}  // namespace r4t8
