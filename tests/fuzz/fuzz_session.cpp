// The whole receive-and-dispatch path of a session: arbitrary line bytes and well-formed
// replies of every code, mixed with the clicks that start the sequences (login, read, write,
// history, current data, clock, relay, debug, reset) and time moving on a fake clock. Message
// boxes and the export's event handling run further steps while they are open, as the window's
// nested event loops do.
#include <fuzzer/FuzzedDataProvider.h>

#include <QDate>
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "config/DeviceSettings.h"
#include "protocol/CommandSender.h"
#include "protocol/FrameReceiver.h"
#include "protocol/ProtocolTestUtil.h"
#include "session/DeviceSession.h"
#include "support/FakeTimeSource.h"
#include "support/FakeUserInterface.h"

using namespace r4t8;

namespace {

constexpr uint8_t kCodes[] = {
    cmd_login,         cmd_write_block,   cmd_read_block,   cmd_erase_block,  cmd_write_done,
    cmd_factory_reset, cmd_history_count, cmd_history_page, cmd_current_data, cmd_relay,
    cmd_debug_mode,    cmd_debug_data,    cmd_set_time,     cmd_get_time};

struct Harness {
    explicit Harness(FuzzedDataProvider& provider, const QString& exportDir) : fdp(provider) {
        session.History().SetExportFolders(exportDir, exportDir);
        ui.whileMessageOpen = [this](const QString&) { Nested(); };
        ui.onProcessEvents = [this] {
            if (fdp.ConsumeIntegralInRange<int>(0, 7) == 0) Nested();
        };
        port.onWrite = [](const Bytes& line) {
            // Every request fits the largest escaped frame and is delimited.
            R4T8_FUZZ_CHECK(line.size() >= 2 && line.size() <= kMaxEscapedFrame);
            R4T8_FUZZ_CHECK(line.front() == kFrameDelimiter && line.back() == kFrameDelimiter);
        };
    }

    void Nested() {
        fuzz::DepthGuard guard(depth, 3);
        if (!guard.Allowed()) return;
        const int steps = fdp.ConsumeIntegralInRange<int>(0, 3);
        for (int i = 0; i < steps && fdp.remaining_bytes() > 0; ++i) Step();
    }

    void Feed(const Bytes& line) {
        if (fdp.ConsumeBool()) {
            for (uint8_t b : line) session.cm1ReceiveData(&b, 1);
        } else {
            // The port hands over at most 65535 bytes per event.
            session.cm1ReceiveData(line.data(), static_cast<uint16_t>(line.size()));
        }
    }

    Bytes Payload() {
        const size_t n = fdp.ConsumeIntegralInRange<size_t>(0, kReplyPayloadSize);
        return fdp.ConsumeBytes<uint8_t>(n);
    }

    QString Text() {
        const std::string s = fdp.ConsumeRandomLengthString(24);
        return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
    }

    QDate Date() {
        return QDate(2000 + fdp.ConsumeIntegralInRange<int>(0, 130),
                     fdp.ConsumeIntegralInRange<int>(1, 12),
                     fdp.ConsumeIntegralInRange<int>(1, 28));
    }

    void Step() {
        switch (fdp.ConsumeIntegralInRange<int>(0, 17)) {
            case 0: {  // raw line bytes
                const std::vector<uint8_t> b =
                    fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(1, 300));
                Feed(b);
                break;
            }
            case 1:
            case 2: {  // a correct reply of any code
                const uint8_t code = fdp.ConsumeBool()
                                         ? kCodes[fdp.ConsumeIntegralInRange<size_t>(0, 13)]
                                         : fdp.ConsumeIntegral<uint8_t>();
                Feed(EscapeFrame(BuildReplyFrame(code, Payload())));
                break;
            }
            case 3: {  // a correct reply to the request on the line
                const uint8_t code = session.Sender().OutstandingCommand();
                Feed(EscapeFrame(BuildReplyFrame(code ? code : cmd_debug_data, Payload())));
                break;
            }
            case 4:
                session.btn7Click(Text());
                break;
            case 5:
                session.Config().btn_loadClick();
                break;
            case 6:
                session.Config().btn_downClick();
                break;
            case 7: {
                const QDate from = Date();
                session.History().Button1Click(from, fdp.ConsumeBool() ? from : Date());
                break;
            }
            case 8:
                session.Operations().btn_inquire_curdatClick();
                break;
            case 9:
                session.Operations().btn_acquiretimeClick();
                break;
            case 10:
                if (fdp.ConsumeBool())
                    session.Operations().Button5Click();
                else
                    session.Operations().btn_padlockregulationClick();
                break;
            case 11: {
                RelayInputs in;
                in.comboIndex = fdp.ConsumeIntegralInRange<int>(-1, 1);
                in.edit8 = Text();
                in.edit10 = Text();
                in.edit11 = Text();
                in.edit12 = Text();
                if (fdp.ConsumeBool())
                    session.Operations().Button3Click(in);
                else
                    session.Operations().Button2Click();
                break;
            }
            case 12:
                if (fdp.ConsumeBool())
                    session.Operations().Button4Click(
                        Date(), QTime(fdp.ConsumeIntegralInRange<int>(0, 23),
                                      fdp.ConsumeIntegralInRange<int>(0, 59), 0));
                else
                    session.Operations().btn_setcurtimeClick();
                break;
            case 13:
                session.Operations().btn_industrialClick();
                break;
            case 14:
                session.btn_stopClick();
                break;
            case 15:
                time.Advance(fdp.ConsumeIntegralInRange<int>(0, 6000));
                break;
            case 16: {  // the user edits a field, so the write sequence meets any value
                const auto& specs = settings.Specs();
                const FieldSpec& f = specs[fdp.ConsumeIntegralInRange<size_t>(0, specs.size() - 1)];
                if (fdp.ConsumeBool())
                    settings.SetText(f.name, Text());
                else
                    settings.SetIndex(f.name, fdp.ConsumeIntegralInRange<int>(-1, 4));
                break;
            }
            case 17:
                ui.answers.push_back(fdp.ConsumeBool() ? MsgAnswer::Yes : MsgAnswer::No);
                break;
        }
    }

    FuzzedDataProvider& fdp;
    testing::FakeTimeSource time;
    testing::FakeUserInterface ui;
    testing::RecordingPort port{&time};
    DeviceSettings settings{&ui};
    DeviceSession session{port, time, ui, settings};
    int depth = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir exportDir;
    FuzzedDataProvider fdp(data, size);
    {
        Harness h(fdp, exportDir.path());
        while (fdp.remaining_bytes() > 0) h.Step();
        // Whatever happened, the resend timer gives up in bounded time.
        h.time.Advance(60000);
        R4T8_FUZZ_CHECK(!h.session.Commands().tmr_cf().IsActive());
        R4T8_FUZZ_CHECK(!h.session.Receiver().Busy());
        R4T8_FUZZ_CHECK(h.session.Receiver().QueuedFrames() == 0);
    }
    // Exported files of this input are not needed by the next.
    QDir dir(exportDir.path());
    for (const QString& f : dir.entryList(QDir::Files)) dir.remove(f);
    return 0;
}
