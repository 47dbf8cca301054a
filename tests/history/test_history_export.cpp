// The export of a downloaded history: the workbook checked by xlrd, the CSV byte by byte,
// the folder, the stop button, the messages and the progress bar.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstring>
#include <random>

#include "XlsCheck.h"
#include "operations/HistoryExport.h"
#include "operations/NumberText.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"

namespace r4t8 {
namespace {

using testing::CheckWorkbook;
using testing::ExpectedSheet;
using testing::FakeTimeSource;
using testing::FakeUserInterface;

const QString kFailed =
    QStringLiteral("不能正确操作Excel文件。可能是该文件已被其他程序打开, 或系统错误。");
// The header line as the CSV holds it: GBK.
const QByteArray kGbkHeader = QByteArray::fromHex(
    "cab1bce4 2c b4abb8d0c6f731 2c b4abb8d0c6f732 2c b4abb8d0c6f733 2c b4abb8d0c6f734 2c"
    " beadb6c8 2c ceb3b6c8 2c cbd9b6c8 2c b7bdcff2 0d0a");
const QStringList kHeader = {"时间", "传感器1", "传感器2", "传感器3", "传感器4",
                             "经度", "纬度",    "速度",    "方向"};

HistoryRecord Rec(int yy, int mm, int dd, int hh, int nn, int ss) {
    HistoryRecord r;
    r.year = static_cast<uint16_t>(yy);
    r.month = static_cast<uint8_t>(mm);
    r.day = static_cast<uint8_t>(dd);
    r.hour = static_cast<uint8_t>(hh);
    r.minute = static_cast<uint8_t>(nn);
    r.second = static_cast<uint8_t>(ss);
    return r;
}

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    Outcome Run(const HistoryTable& table, ExportFolders folders = {}) {
        if (folders.preferred.isEmpty() && folders.fallback.isEmpty())
            folders.preferred = dir.path();
        return exporter.Run(
            table, [this] { return abort; }, folders);
    }
    QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files); }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    FakeUserInterface ui;
    FakeTimeSource time;
    HistoryExport exporter{ui, time};
    bool abort = false;
};

// The integer path of the GPS texts must match the general float text of the quotient.
TEST(ScaledIntegerText, MatchesTheGeneralFloatText) {
    std::vector<uint32_t> values = {0,        1,         9,          10,         11,
                                    100,      999999,    1000000,    1000001,    12500000,
                                    23456789, 100000000, 4294967294, 4294967295, 1234567890};
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) values.push_back(static_cast<uint32_t>(rng()) >> (rng() % 32));
    for (uint32_t v : values) {
        for (uint32_t d : {10u, 1000000u}) {
            ASSERT_EQ(ScaledIntegerText(v, d), GeneralFloatText(static_cast<double>(v) / d))
                << v << " / " << d;
        }
    }
}

TEST_F(ExportTest, RowsCellByCellInBothFiles) {
    HistoryTable t;
    HistoryRecord a = Rec(14, 1, 5, 9, 30, 0);  // the worked page's record
    a.sensor[0] = 25.5f;
    a.sensorPresent[0] = 1;
    a.longitude = 12500000;
    t.push_back(a);
    t.push_back(Rec(14, 12, 31, 23, 59, 59));  // time only
    HistoryRecord b = Rec(99, 2, 28, 0, 0, 1);
    b.sensor[1] = 12.3456;
    b.sensorPresent[1] = 1;
    b.sensor[2] = 7.0;
    b.sensorPresent[2] = 1;
    b.sensor[3] = -0.004;
    b.sensorPresent[3] = 1;
    b.longitude = 0;
    b.latitude = 23456789;
    b.speed = 125;
    b.direction = 0xFFFFFFFE;  // not absent: unsigned, so large
    t.push_back(b);
    t.push_back(Rec(14, 0, 32, 25, 61, 61));  // no date: written as received
    t.push_back(Rec(114, 2, 29, 8, 7, 6));    // 2114 is no leap year either

    ASSERT_EQ(Run(t), Outcome::Succeeded);
    EXPECT_EQ(exporter.WorkbookPath(), QDir(dir.path()).filePath("SAVE2026-12-07_03-10-36.xls"));
    EXPECT_EQ(exporter.CsvPath(), QDir(dir.path()).filePath("SAVE_CSV_2026-12-07_03-10-36.csv"));

    const std::vector<QStringList> rows = {
        kHeader,
        {"14-01-05 09:30:00", "25.5", "", "", "", "12.5", "", "", ""},
        {"14-12-31 23:59:59", "", "", "", "", "", "", "", ""},
        {"99-02-28 00:00:01", "", "12.35", "7", "0", "0", "23.456789", "12.5", "429496729.4"},
        {"14-00-32 25:61:61", "", "", "", "", "", "", "", ""},
        {"14-02-29 08:07:06", "", "", "", "", "", "", "", ""},
    };
    ExpectedSheet want{
        QStringLiteral("Sheet1"), rows, {{0, 5120}, {5, 3840}, {6, 3840}}, {}, {{1, 0}}};
    for (int c = 0; c < 9; ++c) want.centred.emplace_back(0, c);
    EXPECT_EQ(CheckWorkbook(exporter.WorkbookPath(), {want}), "OK");

    const QByteArray csv = Read(exporter.CsvPath());
    EXPECT_EQ(csv, kGbkHeader +
                       "14-01-05 09:30:00,25.5,,,,12.5,,,\r\n"
                       "14-12-31 23:59:59,,,,,,,,\r\n"
                       "99-02-28 00:00:01,,12.35,7,0,0,23.456789,12.5,429496729.4\r\n"
                       "14-00-32 25:61:61,,,,,,,,\r\n"
                       "14-02-29 08:07:06,,,,,,,,\r\n");

    EXPECT_EQ(ui.status[2], QString());  // cleared at the end
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"导出历史数据成功", "是否打开保存的excel文件",
                                              "是否打开保存的CSV文件?"}));
    EXPECT_EQ(ui.messages[1].caption, QStringLiteral("提示"));
    EXPECT_EQ(ui.messages[1].buttons, MsgButtons::OkCancel);
    EXPECT_TRUE(ui.opened.empty());  // both questions answered Cancel
    EXPECT_EQ(ui.outcomes.back(), std::make_pair(Operation::HistoryExport, Outcome::Succeeded));
}

TEST_F(ExportTest, EmptyTableGivesTheHeaderAlone) {
    ASSERT_EQ(Run({}), Outcome::Succeeded);
    EXPECT_EQ(Read(exporter.CsvPath()), kGbkHeader);
    // The text format of (2, 1) is set all the same: that cell is there, blank.
    ExpectedSheet want{
        QStringLiteral("Sheet1"), {kHeader, {""}}, {{0, 5120}, {5, 3840}, {6, 3840}}, {}, {{1, 0}}};
    for (int c = 0; c < 9; ++c) want.centred.emplace_back(0, c);
    EXPECT_EQ(CheckWorkbook(exporter.WorkbookPath(), {want}), "OK");
    EXPECT_TRUE(ui.progressHistory.empty());
}

TEST_F(ExportTest, StopMidExportWritesNothingAndSaysNothing) {
    HistoryTable t(50, Rec(14, 1, 5, 9, 30, 0));
    int events = 0;
    ui.onProcessEvents = [&] {
        if (++events == 20) abort = true;  // "停止" pressed while the rows are written
    };
    EXPECT_EQ(Run(t), Outcome::Aborted);
    EXPECT_EQ(events, 20);
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.outcomes.back(), std::make_pair(Operation::HistoryExport, Outcome::Aborted));
}

TEST_F(ExportTest, UnwritableFolderGivesTheFailureMessage) {
    HistoryTable t(3, Rec(14, 1, 5, 9, 30, 0));
    EXPECT_EQ(Run(t, {QStringLiteral("/dev/null/nowhere"), QString()}), Outcome::Failed);
    EXPECT_EQ(ui.MessageTexts(), QStringList{kFailed});
    EXPECT_EQ(ui.status[2], QString());
    EXPECT_EQ(ui.outcomes.back(), std::make_pair(Operation::HistoryExport, Outcome::Failed));
}

TEST_F(ExportTest, FallsBackToTheDocumentsFolderAndSaysWhere) {
    const QString docs = QDir(dir.path()).filePath("home/Documents");
    HistoryTable t(2, Rec(14, 1, 5, 9, 30, 0));
    ASSERT_EQ(Run(t, {QStringLiteral("/dev/null/program"), docs}), Outcome::Succeeded);
    EXPECT_TRUE(QFile::exists(QDir(docs).filePath("SAVE2026-12-07_03-10-36.xls")));
    EXPECT_TRUE(QFile::exists(QDir(docs).filePath("SAVE_CSV_2026-12-07_03-10-36.csv")));
    EXPECT_TRUE(ui.status[2].contains(docs)) << ui.status[2].toStdString();
}

TEST_F(ExportTest, ProgressSteps) {
    struct Case {
        size_t records;
        std::vector<int> progress;
    };
    const Case cases[] = {
        {1, {80}},
        {9, std::vector<int>(9, 80)},
        {10, {8, 16, 24, 32, 40, 48, 56, 64, 72, 80}},
        {25, {8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 80, 80}},  // kept within the bar's 80
        {1000, {8, 16, 24, 32, 40, 48, 56, 64, 72, 80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.records);
        ui.progressHistory.clear();
        ASSERT_EQ(Run(HistoryTable(c.records, Rec(14, 1, 5, 9, 30, 0))), Outcome::Succeeded);
        EXPECT_EQ(ui.progressHistory, c.progress);
    }
}

TEST_F(ExportTest, OpeningTheFilesAndItsFailures) {
    ui.answers = {MsgAnswer::Ok, MsgAnswer::Ok, MsgAnswer::Ok, MsgAnswer::Ok, MsgAnswer::Ok};
    ui.openResult = 2;
    ASSERT_EQ(Run(HistoryTable(1, Rec(14, 1, 5, 9, 30, 0))), Outcome::Succeeded);
    EXPECT_EQ(ui.opened, (std::vector<QString>{exporter.WorkbookPath(), exporter.CsvPath()}));
    EXPECT_EQ(ui.MessageTexts(),
              (QStringList{"导出历史数据成功", "是否打开保存的excel文件", "打开文件错误代码2",
                           "是否打开保存的CSV文件?", "打开文件错误代码:2"}));
}

// Beyond one sheet's 65,536 rows the records go on in "Sheet2", under the same header.
TEST_F(ExportTest, SeventyThousandRecordsRoundTrip) {
    constexpr int kCount = 70000;
    HistoryTable t;
    std::vector<QStringList> expected;
    QByteArray csv = kGbkHeader;
    for (int i = 0; i < kCount; ++i) {
        HistoryRecord r = Rec(i % 100, 1 + i % 12, 1 + i % 28, i % 24, i / 24 % 60, i % 60);
        r.sensor[0] = i % 1000;
        r.sensorPresent[0] = 1;
        r.sensor[2] = (i % 400) / 4.0;  // .25 steps
        r.sensorPresent[2] = i % 2;
        r.longitude = static_cast<uint32_t>(i) * 1000u;
        if (i % 3) r.speed = static_cast<uint32_t>(i);
        t.push_back(r);
        const QString s3 = i % 2 ? QString::number((i % 400) / 4.0) : QString();
        const QString speed =
            i % 3 ? QString::number(i / 10) + (i % 10 ? "." + QString::number(i % 10) : "")
                  : QString();
        const QStringList row = {
            QString::asprintf("%02d-%02d-%02d %02d:%02d:%02d", i % 100, 1 + i % 12, 1 + i % 28,
                              i % 24, i / 24 % 60, i % 60),
            QString::number(i % 1000),
            "",
            s3,
            "",
            QString::number(i / 1000.0, 'g', 15),
            "",
            speed,
            ""};
        expected.push_back(row);
        csv += row.join(',').toLatin1() + "\r\n";
    }
    ASSERT_EQ(Run(t), Outcome::Succeeded);
    EXPECT_EQ(Read(exporter.CsvPath()), csv);

    ExpectedSheet one{
        QStringLiteral("Sheet1"), {kHeader}, {{0, 5120}, {5, 3840}, {6, 3840}}, {}, {{1, 0}}};
    ExpectedSheet two{
        QStringLiteral("Sheet2"), {kHeader}, {{0, 5120}, {5, 3840}, {6, 3840}}, {}, {}};
    for (int c = 0; c < 9; ++c) {
        one.centred.emplace_back(0, c);
        two.centred.emplace_back(0, c);
    }
    one.rows.insert(one.rows.end(), expected.begin(),
                    expected.begin() + HistoryExport::kRecordsPerSheet);
    two.rows.insert(two.rows.end(), expected.begin() + HistoryExport::kRecordsPerSheet,
                    expected.end());
    EXPECT_EQ(CheckWorkbook(exporter.WorkbookPath(), {one, two}), "OK");
}

// A second reader where one is installed: LibreOffice loads the workbook and gives back
// the same texts.
TEST_F(ExportTest, LibreOfficeReadsTheWorkbook) {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) GTEST_SKIP() << "LibreOffice is not installed";
    HistoryTable t;
    HistoryRecord a = Rec(14, 1, 5, 9, 30, 0);
    a.sensor[0] = 25.5;
    a.sensorPresent[0] = 1;
    a.longitude = 12500000;
    t.push_back(a);
    t.push_back(Rec(14, 1, 5, 9, 31, 0));
    ASSERT_EQ(Run(t), Outcome::Succeeded);

    const QString out = QDir(dir.path()).filePath("lo");
    QProcess lo;
    lo.setProcessChannelMode(QProcess::MergedChannels);
    lo.setEnvironment(QProcess::systemEnvironment() << "HOME=" + dir.path());
    lo.start(soffice, {"--headless", "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76",
                       "--outdir", out, exporter.WorkbookPath()});
    ASSERT_TRUE(lo.waitForFinished(100000));
    const QString converted =
        QDir(out).filePath(QFileInfo(exporter.WorkbookPath()).completeBaseName() + ".csv");
    const QString text = QString::fromUtf8(Read(converted));
    ASSERT_FALSE(text.isEmpty()) << QString::fromUtf8(lo.readAll()).toStdString();
    EXPECT_EQ(text.split('\n', Qt::SkipEmptyParts),
              (QStringList{kHeader.join(','), "14-01-05 09:30:00,25.5,,,,12.5,,,",
                           "14-01-05 09:31:00,,,,,,,,"}));
}

}  // namespace
}  // namespace r4t8
