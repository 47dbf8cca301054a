// The system's own captions and the status bar panels they and the sequences use, in one place.
#pragma once

#include <QString>

namespace r4t8 {

// The application title: the caption of every message box that reports an outcome.
inline const QString kAppTitle = QStringLiteral("R4T8报警器设置软件");
// The caption of the Yes/No and OK/Cancel questions.
inline const QString kQuestionCaption = QStringLiteral("提示");
// The caption of the resend time-out's box ("发送命令超时").
inline const QString kTimeOutCaption = QStringLiteral("Information");

// The panels of the status bar `stat1`.
enum StatusPanel : int {
    kPortStatePanel = 0,   // "串口状态："
    kLampPanel = 1,        // the red or green lamp
    kStatusTextPanel = 2,  // what is going on, and why a port would not open
    kProgressPanel = 3,    // `pb_write` lies over it
};

}  // namespace r4t8
