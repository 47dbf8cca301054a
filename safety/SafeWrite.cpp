#include "safety/SafeWrite.h"

#include "protocol/Captions.h"
#include "safety/SettingsDiff.h"

namespace r4t8 {

namespace {}  // namespace

SafeWrite::SafeWrite(DeviceSession& session, ConfigArchive& archive, ITimeSource& time,
                     Reporting report)
    : m_session(session), m_archive(archive), m_time(time), m_reporting(report) {
    m_listener = m_session.AddOutcomeListener(
        [this](Operation op, Outcome outcome) { OnOutcome(op, outcome); });
}

SafeWrite::~SafeWrite() { m_session.RemoveOutcomeListener(m_listener); }

void SafeWrite::WriteSettings() { Start(Job::Settings); }

void SafeWrite::WriteBlocks(const RawBlocks& blocks) {
    m_target = blocks;
    Start(Job::Blocks);
}

void SafeWrite::BackupOnly() { Start(Job::BackupOnly); }

ConfigSequences::RawReadDone SafeWrite::Bind(void (SafeWrite::*handler)(bool, const RawBlocks&)) {
    const unsigned run = m_run;
    return [this, run, handler](bool ok, const RawBlocks& blocks) {
        if (run == m_run) (this->*handler)(ok, blocks);
    };
}

void SafeWrite::Start(Job job) {
    ++m_run;
    m_job = job;
    m_restoring = false;
    m_report = SafeWriteReport{};
    const bool readFirst = job == Job::BackupOnly || m_options.backup || m_options.confirmChanges;
    // A field that cannot be written ends the write before anything is sent; no backup is
    // needed for that, and the write names the field itself.
    RawBlocks unused;
    const bool refused = job == Job::Settings && EncodeBlocks(m_session.Settings(), unused);
    if (!readFirst || refused) {
        BeginWrite();
        return;
    }
    m_phase = Phase::BackupRead;
    m_session.Config().ReadBlocksRaw(Bind(&SafeWrite::OnBackupRead));
}

void SafeWrite::OnBackupRead(bool ok, const RawBlocks& blocks) {
    if (m_phase != Phase::BackupRead) return;
    if (!ok) {
        Fail(Outcome::Aborted, QStringLiteral("备份失败，未写入：读取被中断"));
        return;
    }
    m_report.backupBlocks = blocks;
    if (m_job == Job::BackupOnly || m_options.backup) {
        DeviceSettings decoded;
        SetUpLike(m_session.Settings(), decoded);
        DecodeBlocks(blocks, decoded);
        QString error;
        m_report.backup =
            m_archive.Store(blocks, decoded, m_session.Model(), m_time.CurrentDateTime(), error);
        if (!m_report.backup) {
            if (m_job == Job::BackupOnly) {
                Fail(Outcome::Failed, QStringLiteral("备份失败：") + error);
                return;
            }
            if (!m_options.askWithoutBackup) {
                Fail(Outcome::Failed, QStringLiteral("备份失败，未写入：") + error);
                return;
            }
            // The blocks just read stay in memory, so a failed verify can still restore them.
            m_phase = Phase::Idle;  // no outcomes are taken while the box is open
            const unsigned run = m_run;
            const QString question =
                QStringLiteral("备份失败：") + error + QStringLiteral("\n是否不备份，直接写入？");
            const MsgAnswer answer = m_reporting.messages.ShowMessage(question, kQuestionCaption,
                                                                      MsgButtons::YesNoDefaultNo);
            if (run != m_run) return;  // another run started meanwhile
            if (answer != MsgAnswer::Yes) {
                m_report.error = QStringLiteral("备份失败，未写入：") + error;
                Finish(Outcome::Aborted);
                return;
            }
        }
    }
    if (m_job == Job::BackupOnly) {
        Finish(Outcome::Succeeded);
        return;
    }
    if (m_options.confirmChanges && !ConfirmChanges(blocks)) {
        Finish(Outcome::Aborted);
        return;
    }
    BeginWrite();
}

bool SafeWrite::ConfirmChanges(const RawBlocks& current) {
    std::vector<FieldChange> changes;
    if (m_job == Job::Settings) {
        const WriteDiff diff = DiffWrite(current, m_session.Settings());
        // A field that cannot be written: the write itself names it and sends nothing.
        if (diff.problem) return true;
        changes = diff.changes;
    } else {
        changes = DiffBlocks(current, m_target, m_session.Settings());
    }
    const QString text = changes.empty()
                             ? QStringLiteral("与控制器中的设置相比没有改变。\n是否写入？")
                             : QStringLiteral("以下设置将改变：\n") + FormatChanges(changes) +
                                   QStringLiteral("\n是否写入？");
    return m_reporting.messages.ShowMessage(text, kQuestionCaption, MsgButtons::YesNo) ==
           MsgAnswer::Yes;
}

void SafeWrite::BeginWrite() {
    m_phase = Phase::Writing;
    if (m_job == Job::Settings)
        m_session.Config().btn_downClick();
    else
        m_session.Config().WriteBlocksRaw(m_target);
}

void SafeWrite::OnOutcome(Operation op, Outcome outcome) {
    switch (m_phase) {
        case Phase::Idle:
            return;
        case Phase::BackupRead:
        case Phase::VerifyRead:
            // A raw read reports only through its callback; any failure reported for the
            // read (a time-out, a reply that is no whole block) ends this run.
            if (op != Operation::ReadSettings || outcome == Outcome::Succeeded) return;
            ++m_run;  // the read will not end by itself now
            {
                const QString why = outcome == Outcome::TimedOut ? QStringLiteral("控制器无应答")
                                                                 : QStringLiteral("读取失败");
                Fail(outcome, m_phase == Phase::BackupRead
                                  ? QStringLiteral("备份失败，未写入：") + why
                                  : QStringLiteral("校验未完成：") + why);
            }
            return;
        case Phase::Writing:
            if (op != Operation::WriteSettings) return;
            if (outcome == Outcome::Succeeded)
                m_phase = Phase::WaitWriteDone;
            else
                WriteFailed(outcome);  // the sequence showed its own messages
            return;
        case Phase::WaitWriteDone:
            if (op != Operation::WriteDone) return;
            if (outcome != Outcome::Succeeded) {
                Finish(outcome);
                return;
            }
            if (!m_restoring) m_report.written = true;
            if (!m_options.verify) {
                Finish(Outcome::Succeeded);
                return;
            }
            m_phase = Phase::VerifyRead;
            m_session.Config().ReadBlocksRaw(Bind(&SafeWrite::OnVerifyRead));
            return;
    }
}

void SafeWrite::OnVerifyRead(bool ok, const RawBlocks& blocks) {
    if (m_phase != Phase::VerifyRead) return;
    if (!ok) {
        Fail(Outcome::Aborted, QStringLiteral("校验未完成：读取被中断"));
        return;
    }
    const VerifyDiff mismatch =
        DiffVerify(m_session.Config().LastWrittenBlocks(), blocks, m_session.Settings());
    const std::vector<ConfigBlock>& differing = mismatch.blocks;
    if (differing.empty()) {
        m_reporting.progress.SetStatusText(kStatusTextPanel, QStringLiteral("写入已校验"));
        m_reporting.progress.RepaintStatus();
        if (m_restoring) {
            m_report.restored = true;
            Finish(Outcome::Failed);  // what was asked for is not on the controller
        } else {
            m_report.verified = true;
            Finish(Outcome::Succeeded);
        }
        return;
    }
    // The fields let an installer tell a controller that normalises a value from one that
    // lost a block.
    const QString text = FormatVerify(mismatch);
    if (m_restoring || !m_report.backupBlocks) {
        if (!m_restoring) {
            m_report.mismatched = differing;
            m_report.mismatch = mismatch;
        }
        Fail(Outcome::Failed, text);
        return;
    }
    m_report.mismatched = differing;
    m_report.mismatch = mismatch;
    m_report.error = text;
    if (m_reporting.messages.ShowMessage(text + QStringLiteral("\n是否恢复备份？"),
                                         kQuestionCaption, MsgButtons::YesNo) != MsgAnswer::Yes) {
        Finish(Outcome::Failed);
        return;
    }
    m_restoring = true;
    m_job = Job::Blocks;
    m_target = *m_report.backupBlocks;
    BeginWrite();
}

void SafeWrite::WriteFailed(Outcome outcome) {
    const WriteReport where = m_session.Config().LastWriteReport();
    if (!m_restoring) m_report.blocks = where;
    if (m_restoring || !where.AnyErased() || !m_report.backup || !m_report.backupBlocks) {
        Finish(outcome);
        return;
    }
    m_phase = Phase::Idle;  // no outcome is taken while the question is open
    const QString question = QStringLiteral("写入前的备份已保存：") + m_report.backup->BinPath() +
                             QStringLiteral("\n是否将备份恢复到控制器？");
    if (m_reporting.messages.ShowMessage(question, kQuestionCaption, MsgButtons::YesNo) !=
        MsgAnswer::Yes) {
        m_report.backupOffered = true;
        Finish(outcome);
        return;
    }
    m_restoring = true;
    m_job = Job::Blocks;
    m_target = *m_report.backupBlocks;
    BeginWrite();
}

void SafeWrite::Fail(Outcome outcome, const QString& message) {
    m_report.error = message;
    m_phase = Phase::Idle;  // no more outcomes are taken while the box is open
    m_reporting.messages.ShowMessage(message, kAppTitle, MsgButtons::Ok);
    Finish(outcome);
}

void SafeWrite::Finish(Outcome outcome) {
    m_phase = Phase::Idle;
    m_report.outcome = outcome;
    if (m_onFinished) m_onFinished(m_report);
}

}  // namespace r4t8
