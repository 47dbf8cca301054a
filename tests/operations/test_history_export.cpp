// The export of a downloaded history: the workbook checked by xlrd, the CSV byte by byte,
// the folder, the stop button, the messages and the progress bar.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
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
    HistoryExport exporter{ui, ui, time};
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

// `count` records that vary the time, sensors 1 and 3 (present or not, fractions), longitude and
// speed, with the rows they must give.
void ManyRecords(int count, HistoryTable& t, std::vector<QStringList>& expected) {
    for (int i = 0; i < count; ++i) {
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
    }
}

// Beyond one sheet's 65,536 rows the records go on in "Sheet2", under the same header.
TEST_F(ExportTest, SeventyThousandRecordsRoundTrip) {
    HistoryTable t;
    std::vector<QStringList> expected;
    ManyRecords(70000, t, expected);
    QByteArray csv = kGbkHeader;
    for (const QStringList& row : expected) csv += row.join(',').toLatin1() + "\r\n";
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

// Where the lines LibreOffice gave for one sheet first differ from the header and rows
// expected, or "" when they match; a whole sheet is too much for a plain comparison.
std::string SheetDifference(const QString& sheet, const QStringList& lines,
                            const std::vector<QStringList>& rows) {
    QStringList want{kHeader.join(',')};
    for (const QStringList& r : rows) want << r.join(',');
    for (qsizetype i = 0; i < std::max(lines.size(), want.size()); ++i) {
        const QString got = i < lines.size() ? lines[i] : QStringLiteral("(no line)");
        const QString exp = i < want.size() ? want[i] : QStringLiteral("(no line)");
        if (got != exp)
            return QStringLiteral("%1 line %2: got \"%3\", want \"%4\"")
                .arg(sheet)
                .arg(i + 1)
                .arg(got, exp)
                .toStdString();
    }
    return {};
}

// A reader other than ours and xlrd: LibreOffice loads the three-sheet workbook of 150,000
// records and gives back every cell's text. The README's test command installs it, so a
// missing soffice is a broken set-up, not a reason to skip.
TEST_F(ExportTest, LibreOfficeReadsTheWorkbook) {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    ASSERT_FALSE(soffice.isEmpty())
        << "soffice is missing: ./dev.sh installs it (libreoffice-calc-nogui)";
    HistoryTable t;
    std::vector<QStringList> expected;
    ManyRecords(150000, t, expected);
    ASSERT_EQ(Run(t), Outcome::Succeeded);

    // Every sheet to its own UTF-8 file "<name>-SheetN.csv"; the cells' texts as shown. As
    // root, soffice needs a profile folder it can write.
    const QString out = QDir(dir.path()).filePath("lo");
    QProcess lo;
    lo.setProcessChannelMode(QProcess::MergedChannels);
    lo.start(soffice,
             {"-env:UserInstallation=" +
                  QUrl::fromLocalFile(QDir(dir.path()).filePath("profile")).toString(),
              "--headless", "--convert-to",
              "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1",
              "--outdir", out, exporter.WorkbookPath()});
    ASSERT_TRUE(lo.waitForFinished(100000)) << "soffice did not finish";
    // soffice exits 0 even when it could not load the file: the sheets' files tell.
    const QString log = QString::fromUtf8(lo.readAll());
    EXPECT_EQ(lo.exitCode(), 0) << log.toStdString();
    const QString base = QDir(out).filePath(QFileInfo(exporter.WorkbookPath()).completeBaseName());
    EXPECT_FALSE(QFile::exists(base + "-Sheet4.csv"));

    constexpr auto kPerSheet = HistoryExport::kRecordsPerSheet;
    for (int sheet = 0; sheet < 3; ++sheet) {
        const QString name = QStringLiteral("Sheet%1").arg(sheet + 1);
        const QString file = base + "-" + name + ".csv";
        ASSERT_TRUE(QFile::exists(file)) << file.toStdString() << " missing; soffice said:\n"
                                         << log.toStdString();
        const auto from = expected.begin() + sheet * kPerSheet;
        const auto to =
            expected.begin() + std::min<size_t>((sheet + 1) * kPerSheet, expected.size());
        EXPECT_EQ(
            SheetDifference(name, QString::fromUtf8(Read(file)).split('\n', Qt::SkipEmptyParts),
                            {from, to}),
            "");
    }
}

}  // namespace
}  // namespace r4t8
