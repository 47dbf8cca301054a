// SafeWrite: a write that cannot lose a configuration. Reads the controller's blocks and
// stores them in the archive before the first erase, writes, waits for write-done, reads
// the blocks back and compares them byte for byte, and offers the backup when they differ.
// Toolkit-free: the window and r4t8ctl drive the same steps.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "config/RawBlocks.h"
#include "protocol/TimeSource.h"
#include "protocol/UserInterfaces.h"
#include "safety/ConfigArchive.h"
#include "safety/SettingsDiff.h"
#include "session/DeviceSession.h"

namespace r4t8 {

struct SafeWriteOptions {
    bool backup = true;
    bool verify = true;
    // Before writing, list the fields that will change against the blocks just read and ask.
    bool confirmChanges = false;
    // When the backup cannot be stored, ask whether to write without it (default: no)
    // instead of refusing the write.
    bool askWithoutBackup = false;
};

struct SafeWriteReport {
    Outcome outcome = Outcome::Failed;
    std::optional<BackupEntry> backup;      // stored before the write
    std::optional<RawBlocks> backupBlocks;  // what the controller held before the write
    bool written = false;                   // the write sequence and write-done succeeded
    bool verified = false;                  // read back identical to what was sent
    std::vector<ConfigBlock> mismatched;    // blocks the first verify found different
    VerifyDiff mismatch;                    // and what in them: fields sent and read back
    bool restored = false;                  // the backup went back and verified
    QString error;                          // the message shown when it failed
    std::optional<WriteReport> blocks;      // where a write that did not finish left them
    // Blocks may be erased and the backup was offered, but not restored: the front end
    // points at the backup (the window opens the archive page on it).
    bool backupOffered = false;
};

class SafeWrite {
  public:
    SafeWrite(DeviceSession& session, ConfigArchive& archive, ITimeSource& time, Reporting report);
    ~SafeWrite();
    SafeWrite(const SafeWrite&) = delete;
    SafeWrite& operator=(const SafeWrite&) = delete;

    void SetOptions(const SafeWriteOptions& options) { m_options = options; }
    const SafeWriteOptions& Options() const { return m_options; }

    // The session's settings record, as "写入设置" writes it. Starting again while one runs
    // starts over, as a second click on the button does.
    void WriteSettings();
    // Raw blocks (a restore from the archive), through the same sequence.
    void WriteBlocks(const RawBlocks& blocks);
    // Only the backup: read and store.
    void BackupOnly();

    bool Running() const { return m_phase != Phase::Idle; }
    const SafeWriteReport& Report() const { return m_report; }
    // Called once per run when it ends, after its messages.
    void SetOnFinished(std::function<void(const SafeWriteReport&)> callback) {
        m_onFinished = std::move(callback);
    }

  private:
    enum class Job { Settings, Blocks, BackupOnly };
    enum class Phase { Idle, BackupRead, Writing, WaitWriteDone, VerifyRead };

    void Start(Job job);
    void OnBackupRead(bool ok, const RawBlocks& blocks);
    bool ConfirmChanges(const RawBlocks& current);
    void BeginWrite();
    void OnVerifyRead(bool ok, const RawBlocks& blocks);
    // A write that failed with blocks that may be erased: offers the backup just taken.
    void WriteFailed(Outcome outcome);
    void OnOutcome(Operation op, Outcome outcome);
    void Fail(Outcome outcome, const QString& message);
    void Finish(Outcome outcome);
    // A raw-read callback that is ignored once this run is over.
    ConfigSequences::RawReadDone Bind(void (SafeWrite::*handler)(bool, const RawBlocks&));

    DeviceSession& m_session;
    ConfigArchive& m_archive;
    ITimeSource& m_time;
    Reporting m_reporting;
    SafeWriteOptions m_options;
    int m_listener = 0;
    Phase m_phase = Phase::Idle;
    Job m_job = Job::Settings;
    RawBlocks m_target{};
    bool m_restoring = false;
    unsigned m_run = 0;
    SafeWriteReport m_report;
    std::function<void(const SafeWriteReport&)> m_onFinished;
};

}  // namespace r4t8
