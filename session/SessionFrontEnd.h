// Everything a front end shows of the session, in the small interfaces of the layers that
// report it.
#pragma once

#include <type_traits>

#include "operations/OperationViews.h"
#include "protocol/Outcome.h"
#include "protocol/UserInterfaces.h"
#include "session/SessionControls.h"

namespace r4t8 {

// All of them in one: the window, r4t8ctl, the benchmarks and the tests' fake each show
// everything.
class IFullFrontEnd : public IMessages,
                      public IProgress,
                      public IOutcomes,
                      public IFrameLog,
                      public IOperationFields,
                      public IExportHost,
                      public ISessionControls {};

struct SessionFrontEnd {
    IMessages& messages;
    IProgress& progress;
    IOutcomes& outcomes;
    IFrameLog& log;
    IOperationFields& fields;
    IExportHost& exportHost;
    ISessionControls& controls;

    SessionFrontEnd(IMessages& m, IProgress& p, IOutcomes& o, IFrameLog& l, IOperationFields& f,
                    IExportHost& e, ISessionControls& c)
        : messages(m), progress(p), outcomes(o), log(l), fields(f), exportHost(e), controls(c) {}
    // One front end (or fake) that shows all of it.
    template <typename T>
    requires std::is_base_of_v<IMessages, T> && std::is_base_of_v<IProgress, T> &&
        std::is_base_of_v<IOutcomes, T> && std::is_base_of_v<IFrameLog, T> &&
        std::is_base_of_v<IOperationFields, T> && std::is_base_of_v<IExportHost, T> &&
        std::is_base_of_v<ISessionControls, T>
        SessionFrontEnd(T& all)  // NOLINT(google-explicit-constructor)
        : SessionFrontEnd(all, all, all, all, all, all, all) {}
};

}  // namespace r4t8
