// Records what the code shows to the user and answers its questions from a script.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "operations/OperationViews.h"
#include "protocol/Outcome.h"
#include "protocol/UserInterfaces.h"
#include "session/SessionControls.h"
#include "session/SessionFrontEnd.h"

namespace r4t8::testing {

class FakeUserInterface : public IFullFrontEnd {
  public:
    struct Message {
        QString text;
        QString caption;
        MsgButtons buttons;
    };

    MsgAnswer ShowMessage(const QString& text, const QString& caption,
                          MsgButtons buttons) override {
        messages.push_back({text, caption, buttons});
        // Runs while the "box is open": tests feed bytes here to check re-entrancy.
        if (whileMessageOpen) whileMessageOpen(text);
        if (buttons != MsgButtons::Ok && !questionAnswers.empty()) {
            const MsgAnswer a = questionAnswers.front();
            questionAnswers.pop_front();
            return a;
        }
        if (!answers.empty()) {
            const MsgAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        switch (buttons) {
            case MsgButtons::YesNo:
                return MsgAnswer::Yes;
            case MsgButtons::YesNoDefaultNo:
                return MsgAnswer::No;  // the box's default
            case MsgButtons::OkCancel:
                return MsgAnswer::Cancel;
            case MsgButtons::Ok:
                break;
        }
        return MsgAnswer::Ok;
    }
    void SetStatusText(int panel, const QString& text) override { status[panel] = text; }
    void RepaintStatus() override { ++repaints; }
    void SetProgress(int position) override {
        progressHistory.push_back(position);
        progress = position;
    }
    void SetProgressVisible(bool visible) override { progressVisible = visible; }
    void AppendSendLog(const QString& text) override { sendLog += text; }
    void AppendReceiveLogLine(const QString& line) override { receiveLog.push_back(line); }
    void ProcessEvents() override {
        if (onProcessEvents) onProcessEvents();
    }
    void OperationFinished(Operation op, Outcome outcome) override {
        outcomes.emplace_back(op, outcome);
    }
    void SetLoginEnabled(bool e) override { loginEnabled = e; }
    void SetDeviceControlsEnabled(bool e) override { deviceControlsEnabled = e; }
    void ShowDeviceTime(const QDateTime& t) override { deviceTimes.push_back(t); }
    void SetCurrentDataCell(int column, const QString& text) override { cells[column] = text; }
    void AppendDebugOutput(bool received, const QString& text) override {
        (received ? memo1 : memo2) += text;
    }
    int OpenWithDesktop(const QString& path) override {
        opened.push_back(path);
        return openResult;
    }

    QStringList MessageTexts() const {
        QStringList out;
        for (const auto& m : messages) out << m.text;
        return out;
    }

    std::vector<Message> messages;
    std::deque<MsgAnswer> answers;
    // Answers to questions only (Yes/No, OK/Cancel boxes), taken before `answers`.
    std::deque<MsgAnswer> questionAnswers;
    std::function<void(const QString&)> whileMessageOpen;
    std::function<void()> onProcessEvents;
    std::map<int, QString> status;
    int repaints = 0;
    int progress = 0;
    std::vector<int> progressHistory;
    bool progressVisible = false;
    QString sendLog;
    QStringList receiveLog;
    std::vector<std::pair<Operation, Outcome>> outcomes;
    bool loginEnabled = false;
    bool deviceControlsEnabled = false;
    std::vector<QDateTime> deviceTimes;
    std::map<int, QString> cells;
    QString memo1, memo2;
    std::vector<QString> opened;
    int openResult = 0;
};

}  // namespace r4t8::testing
