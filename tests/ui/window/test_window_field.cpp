// The window in the field: a port list that follows adapters, a lost port in the middle of
// an exchange, timed current-data queries around other requests, and the chart pages.
#include <pty.h>
#include <unistd.h>

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDir>
#include <QLineSeries>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <algorithm>

#include "protocol/CommandSender.h"
#include "session/DeviceSession.h"
#include "session/PortBinding.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/ui/window/WindowFixture.h"
#include "ui/window/ChartPage.h"
#include "ui/window/LiveChart.h"
#include "ui/window/WindowProgram.h"

namespace r4t8::testing {
namespace {

size_t Occurrences(const Bytes& haystack, const Bytes& raw) {
    const Bytes line = EscapeFrame(raw);
    size_t n = 0;
    for (auto it = haystack.begin();
         (it = std::search(it, haystack.end(), line.begin(), line.end())) != haystack.end();
         it += static_cast<ptrdiff_t>(line.size()))
        ++n;
    return n;
}

void SaveShot(QWidget* w, const QString& name) {
    QDir().mkpath(QStringLiteral(R4T8_TEST_OUTPUT));
    const QString path = QStringLiteral(R4T8_TEST_OUTPUT "/") + name;
    EXPECT_TRUE(w->grab().save(path)) << path.toStdString();
}

// A history of one day: sensor 2 missing for an hour, sensor 4 absent, the GPS lost for a
// while along a track, speed only while moving.
HistoryTable KnownHistory() {
    HistoryTable table;
    for (int i = 0; i < 48; ++i) {
        HistoryRecord r;
        r.year = 24;
        r.month = 5;
        r.day = 6;
        r.hour = static_cast<uint8_t>(i / 2);
        r.minute = static_cast<uint8_t>((i % 2) * 30);
        r.sensor[0] = 20 + 5 * std::sin(i / 8.0);
        r.sensor[1] = 40 + i * 0.5;
        r.sensor[2] = 3.3 - (i % 7) * 0.1;
        r.sensorPresent[0] = 1;
        r.sensorPresent[1] = (i >= 20 && i < 22) ? 0 : 1;
        r.sensorPresent[2] = 1;
        if (i < 30 || i > 34) {
            r.longitude = static_cast<uint32_t>(116300000 + i * 1200);
            r.latitude = static_cast<uint32_t>(39900000 + (i * i) * 40);
        }
        if (i % 12 < 8) r.speed = static_cast<uint32_t>(100 + (i % 12) * 50);
        table.push_back(r);
    }
    return table;
}

class FieldWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        time.SetWallClock(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        session = std::make_unique<DeviceSession>(port, time, window->UserInterface(), settings);
        window->AttachSession(session.get());
        window->AttachLiveData(session.get());
        window->SetTimeSource(&time);
        session->AddOutcomeListener([this](Operation op, Outcome o) {
            outcomes.push_back({op, o});
        });
        Click(Find<QPushButton>("btn8"));
    }
    void TearDown() override {
        window->AttachLiveData(nullptr);
        window->AttachSession(nullptr);
        session.reset();
        WindowTest::TearDown();
    }
    void Reply(uint8_t command, const Bytes& payload) {
        const Bytes line = EscapeFrame(BuildReplyFrame(command, payload));
        session->cm1ReceiveData(line.data(), static_cast<uint16_t>(line.size()));
        QApplication::processEvents();
    }
    void LogIn() {
        Click(Find<QPushButton>("btn7"));
        const QByteArray raw = QByteArray(1, '\x01') + "R4T4" + QByteArray("\0V2\0", 4);
        Reply(cmd_login, Bytes(raw.begin(), raw.end()));
        presenter.shown.clear();
    }
    // Sensor 1 reads `value`, sensor 2 is absent.
    void ReplyCurrentData(float value) {
        uint8_t v[4];
        std::memcpy(v, &value, 4);
        Reply(cmd_current_data, {0x01, 0x00, v[0], v[1], v[2], v[3]});
    }
    size_t Polls() const { return Occurrences(port.written, BuildCurrentDataFrame()); }

    RecordingPort port;
    FakeTimeSource time;
    std::unique_ptr<DeviceSession> session;
    std::vector<std::pair<Operation, Outcome>> outcomes;
};

TEST_F(FieldWindowTest, TimedQueriesWaitForARunningReadAndResumeAfter) {
    LogIn();
    auto* live = Find<QCheckBox>("chk_live");
    ASSERT_TRUE(live->isEnabled());
    Click(live);
    ASSERT_TRUE(live->isChecked());
    EXPECT_EQ(Polls(), 1u);  // at once
    ReplyCurrentData(21.5f);
    time.Advance(5000);
    EXPECT_EQ(Polls(), 2u);
    ReplyCurrentData(22.0f);
    ASSERT_EQ(window->Readings().Samples().size(), 2u);
    EXPECT_EQ(window->Readings().Samples()[1].sensor[0], 22.0);
    EXPECT_FALSE(window->Readings().Samples()[1].sensor[1].has_value());
    EXPECT_EQ(window->LiveCharts()->Shown()[0].size(), 1u);
    EXPECT_EQ(window->LiveCharts()->Shown()[0][0].size(), 2u);

    time.Advance(4500);
    Click(Find<QPushButton>("btn_load"));
    for (int block = 0; block < 4; ++block) {
        // The poll falls due during the read and must not go out.
        time.Advance(900);
        EXPECT_EQ(Polls(), 2u) << "block " << block;
        EXPECT_TRUE(window->Poller()->Waiting());
        // Blocks unlike each other: alike ones would be confirmed by a further read each.
        Reply(cmd_read_block, Bytes(256, static_cast<uint8_t>(0xF0 + block)));
    }
    ASSERT_TRUE(presenter.Texts().contains("读取结束"))
        << presenter.Texts().join(',').toStdString();
    time.Advance(LivePoller::kRetryMs);
    EXPECT_EQ(Polls(), 3u);
    EXPECT_FALSE(window->Poller()->Waiting());
}

TEST_F(FieldWindowTest, IntervalComesFromTheEditAndStopEndsPolling) {
    LogIn();
    Type("edt_live_interval", "2x0");  // digits only
    EXPECT_EQ(Find<QLineEdit>("edt_live_interval")->text(), "20");
    Click(Find<QCheckBox>("chk_live"));
    ReplyCurrentData(1.0f);
    time.Advance(19000);
    EXPECT_EQ(Polls(), 1u);
    time.Advance(1000);
    EXPECT_EQ(Polls(), 2u);
    ReplyCurrentData(1.0f);

    Click(Find<QPushButton>("btn_stop"));
    EXPECT_FALSE(Find<QCheckBox>("chk_live")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chk_live")->isEnabled());
    time.Advance(60000);
    EXPECT_EQ(Polls(), 2u);
}

TEST_F(FieldWindowTest, ASilentControllerEndsPollingAfterOneTimeOut) {
    LogIn();
    Click(Find<QCheckBox>("chk_live"));
    time.Advance(4000);  // three resends, then the time-out
    EXPECT_EQ(presenter.Texts(), QStringList{"发送命令超时"});
    EXPECT_FALSE(Find<QCheckBox>("chk_live")->isChecked());
    EXPECT_EQ(window->StatusText(2), "定时查询已停止");
    time.Advance(60000);
    EXPECT_EQ(presenter.Texts().size(), 1);
}

TEST_F(FieldWindowTest, AHangupMidReadStopsItWithoutResends) {
    LogIn();
    Click(Find<QPushButton>("btn_load"));
    Reply(cmd_read_block, Bytes(256, 0xFF));
    const size_t written = port.written.size();
    window->OnRequestHangup(QString());

    EXPECT_EQ(presenter.Texts(), QStringList{"串口已断开，操作已停止"});
    EXPECT_EQ(window->PortState() % 2, 0);
    EXPECT_FALSE(window->LampIsGreen());
    EXPECT_EQ(Find<QPushButton>("btn8")->text(), "打开串口");
    EXPECT_FALSE(Find<QPushButton>("btn_load")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("btn7")->isEnabled());
    EXPECT_EQ(window->StatusText(2), "串口已断开");
    EXPECT_EQ(session->Sender().OutstandingCommand(), 0);
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back(), std::make_pair(Operation::ReadSettings, Outcome::Aborted));

    time.Advance(10000);
    EXPECT_EQ(port.written.size(), written);  // nothing resent into the dead port
    EXPECT_FALSE(presenter.Texts().contains("发送命令超时"));

    // Open again: the next exchange starts clean.
    Click(Find<QPushButton>("btn8"));
    ASSERT_EQ(window->PortState() % 2, 1);
    LogIn();
    Click(Find<QPushButton>("btn_load"));
    for (int block = 0; block < 4; ++block) Reply(cmd_read_block, Bytes(256, 0xFF));
    EXPECT_TRUE(presenter.Texts().contains("读取结束"));
}

TEST_F(FieldWindowTest, AHangupWhileIdleOnlyTellsTheStatusBar) {
    LogIn();
    window->OnRequestHangup(QString());
    EXPECT_TRUE(presenter.Texts().isEmpty());
    EXPECT_EQ(window->StatusText(2), "串口已断开");
    EXPECT_EQ(window->PortState() % 2, 0);
}

TEST_F(FieldWindowTest, HistoryChartsSplitAtGapsAndZoomByDragging) {
    LogIn();
    window->ShowHistoryCharts(KnownHistory());
    ChartPage* page = window->HistoryCharts();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->RecordCount(), 48u);
    // Sensor 2 has a gap, so its series is split; sensor 4 has no point at all.
    EXPECT_EQ(page->Shown().sensors[1].size(), 2u);
    EXPECT_TRUE(page->Shown().sensors[3].empty());
    EXPECT_EQ(page->Shown().track.size(), 2u);
    int sensorLines = 0;
    for (QAbstractSeries* s : page->SensorView()->chart()->series())
        if (qobject_cast<QLineSeries*>(s)) ++sensorLines;
    EXPECT_EQ(sensorLines, 1 + 2 + 1 + 1);  // one empty series keeps sensor 4 in the legend
    EXPECT_EQ(page->SensorView()->rubberBand(), QChartView::RectangleRubberBand);

    window->Pages()->setCurrentWidget(page);
    QApplication::processEvents();
    SaveShot(window.get(), "chart_history.png");
}

TEST_F(FieldWindowTest, ADownloadReachesTheChartsAndStaysUntilTheNext) {
    LogIn();
    QTemporaryDir exports;
    session->History().SetExportFolders(exports.path(), exports.path());
    Click(Find<QPushButton>("Button1"));
    Reply(cmd_history_count, {1, 0});
    // One record: 24-05-06 10:20:30, sensor 1 = 2.5 (item type 1, channel 0).
    const float value = 2.5f;
    uint8_t v[4];
    std::memcpy(v, &value, 4);
    Reply(cmd_history_page, {0x7F, 0x7F, 24, 5, 6, 10, 20, 30, 0x01, 0x00, v[0], v[1], v[2], v[3]});
    Reply(cmd_history_page, {});
    ASSERT_FALSE(session->History().LastDownload().empty())
        << presenter.Texts().join(',').toStdString();
    EXPECT_EQ(window->HistoryCharts()->RecordCount(), 1u);
    ASSERT_EQ(window->HistoryCharts()->Shown().sensors[0].size(), 1u);
    EXPECT_EQ(window->HistoryCharts()->Shown().sensors[0][0].front().y(), 2.5);

    // A query that found nothing clears the charts: they showed another range.
    Click(Find<QPushButton>("Button1"));
    Reply(cmd_history_count, {0, 0});
    EXPECT_TRUE(presenter.Texts().contains("该时间段未查询到数据"));
    EXPECT_EQ(window->HistoryCharts()->RecordCount(), 0u);
    EXPECT_TRUE(window->HistoryCharts()->Shown().sensors[0].empty());
    for (QChartView* view :
         {window->HistoryCharts()->SensorView(), window->HistoryCharts()->SpeedView(),
          window->HistoryCharts()->TrackView()})
        for (QAbstractSeries* s : view->chart()->series()) {
            if (auto* line = qobject_cast<QLineSeries*>(s)) {
                EXPECT_EQ(line->count(), 0);
            }
        }
}

TEST_F(FieldWindowTest, LiveChartScreenshot) {
    LogIn();
    Click(Find<QCheckBox>("chk_live"));
    for (int i = 0; i < 60; ++i) {
        ReplyCurrentData(static_cast<float>(25 + 3 * std::sin(i / 6.0)));
        time.Advance(5000);
    }
    EXPECT_EQ(window->LiveCharts()->Shown()[0].size(), 1u);
    window->Pages()->setCurrentWidget(window->LiveCharts());
    QApplication::processEvents();
    SaveShot(window.get(), "chart_live.png");
    window->Pages()->setCurrentIndex(2);
    QApplication::processEvents();
    SaveShot(window.get(), "operations_live_controls.png");
}

TEST(NoAccessReasonTest, NamesTheGroupToJoin) {
    const char* const cases[][2] = {
        {"dialout", "无权限：请将用户加入 dialout 组后重新登录"},
        {"uucp", "无权限：请将用户加入 uucp 组后重新登录"},
        {"", "无权限：请将用户加入 dialout 组后重新登录"},
        {"root", "无权限：请将用户加入 dialout 组后重新登录"},
    };
    for (const auto& c : cases) EXPECT_EQ(NoAccessReason(c[0]), QString::fromUtf8(c[1])) << c[0];
}

// The real program with a fake port lister, and a pty as the port it opens.
class PortListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        program = std::make_unique<WindowProgram>(&presenter, nullptr, [this] { return ports; });
    }
    void TearDown() override {
        program.reset();
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
    QComboBox* Combo() { return program->Window().findChild<QComboBox*>("cbox_com"); }
    QStringList Items() {
        QStringList out;
        for (int i = 0; i < Combo()->count(); ++i) out << Combo()->itemText(i);
        return out;
    }
    void Plug(const std::vector<PortInfo>& now) {
        ports = now;
        program->Watcher().Poll();
    }

    std::vector<PortInfo> ports{{"/dev/ttyUSB0", "FT232R USB UART", "/dev/serial/by-id/usb-FTDI"}};
    FakePresenter presenter;
    std::unique_ptr<WindowProgram> program;
    int master = -1, slave = -1;
};

const PortInfo kAcm{"/dev/ttyACM0", "CDC ACM", ""};
const PortInfo kUsb{"/dev/ttyUSB0", "FT232R USB UART", "/dev/serial/by-id/usb-FTDI"};

TEST_F(PortListTest, EntriesKeepThePathAndCarryTheAdapterName) {
    program->Create();
    EXPECT_EQ(Items(), QStringList{"/dev/ttyUSB0"});
    EXPECT_EQ(Combo()->currentText(), "/dev/ttyUSB0");
    EXPECT_EQ(Combo()->itemData(0, Qt::UserRole + 1).toString(), "FT232R USB UART");
    EXPECT_TRUE(Combo()->itemData(0, Qt::ToolTipRole).toString().contains("usb-FTDI"));
    EXPECT_TRUE(program->Watcher().IsActive());
}

TEST_F(PortListTest, FollowsPluggingAndKeepsWhatWasTyped) {
    program->Create();
    Combo()->setEditText("/dev/ttyMINE");
    Plug({kUsb, kAcm});
    EXPECT_EQ(Items(), (QStringList{"/dev/ttyUSB0", "/dev/ttyACM0"}));
    EXPECT_EQ(Combo()->currentText(), "/dev/ttyMINE");

    Combo()->setCurrentIndex(1);
    Plug({kAcm});  // the other adapter pulled: the choice stays
    EXPECT_EQ(Items(), QStringList{"/dev/ttyACM0"});
    EXPECT_EQ(Combo()->currentText(), "/dev/ttyACM0");

    Plug({});  // the chosen one pulled: its name stays, to be plugged back
    EXPECT_TRUE(Items().isEmpty());
    EXPECT_EQ(Combo()->currentText(), "/dev/ttyACM0");
    Plug({kAcm});
    EXPECT_EQ(Combo()->currentIndex(), 0);
}

TEST_F(PortListTest, AnAdapterPluggedIntoAnEmptyListIsChosen) {
    ports = {};
    program->Create();
    EXPECT_EQ(Combo()->currentText(), "");
    Plug({kUsb});
    EXPECT_EQ(Combo()->currentText(), "/dev/ttyUSB0");
}

TEST_F(PortListTest, TheListWaitsWhileThePortIsOpen) {
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const QString pty = QString::fromLocal8Bit(ttyname(slave));
    program->Create(pty);
    program->Window().btn8Click();
    ASSERT_EQ(program->Window().PortState(), 1) << presenter.Texts().join(',').toStdString();
    Plug({kUsb, kAcm});
    EXPECT_EQ(Items(), QStringList{"/dev/ttyUSB0"});
    program->Window().btn8Click();
    EXPECT_EQ(Items(), (QStringList{"/dev/ttyUSB0", "/dev/ttyACM0"}));
    EXPECT_EQ(Combo()->currentText(), pty);
}

}  // namespace
}  // namespace r4t8::testing
