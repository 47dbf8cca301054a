// The small interfaces through which the toolkit-free code tells the user what happens: the
// message boxes, the status bar with the progress bar, and the two frame logs. Each front end
// implements those it shows; none of them runs the front end's event loop.
#pragma once

#include <QString>
#include <type_traits>

#include "protocol/Outcome.h"

namespace r4t8 {

// YesNoDefaultNo: a Yes/No question whose default answer (Enter, closing the box) is No, for a
// step that gives up a safeguard.
enum class MsgButtons { Ok, YesNo, OkCancel, YesNoDefaultNo };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// Modal message boxes.
class IMessages {
  public:
    virtual ~IMessages() = default;
    // Returns after the user answered. The window runs a nested event loop meanwhile, during
    // which received bytes keep arriving (the receiver queues them).
    virtual MsgAnswer ShowMessage(const QString& text, const QString& caption,
                                  MsgButtons buttons = MsgButtons::Ok) = 0;
};

// The status bar `stat1` and the progress bar `pb_write` over its panel 3.
class IProgress {
  public:
    virtual ~IProgress() = default;
    // Panel index 0..3 (StatusPanel below).
    virtual void SetStatusText(int panel, const QString& text) = 0;
    // An immediate repaint of the status bar.
    virtual void RepaintStatus() = 0;
    // `pb_write`, 0..80.
    virtual void SetProgress(int position) = 0;
    virtual void SetProgressVisible(bool visible) = 0;
};

// The frames in hex, on the hidden page.
class IFrameLog {
  public:
    virtual ~IFrameLog() = default;
    // Send log `mmo1`: text appended as is (it carries its own CR LF line breaks).
    virtual void AppendSendLog(const QString& text) = 0;
    // Receive log `mmo2`: one line added.
    virtual void AppendReceiveLogLine(const QString& line) = 0;
};

// What a sequence reports through: its messages, the status and progress bars, its outcome.
struct Reporting {
    IMessages& messages;
    IProgress& progress;
    IOutcomes& outcomes;

    Reporting(IMessages& m, IProgress& p, IOutcomes& o) : messages(m), progress(p), outcomes(o) {}
    // One front end (or fake) that shows all three.
    template <typename T>
    requires std::is_base_of_v<IMessages, T> && std::is_base_of_v<IProgress, T> &&
        std::is_base_of_v<IOutcomes, T>
        Reporting(T& all) : messages(all), progress(all), outcomes(all) {}
};

}  // namespace r4t8
