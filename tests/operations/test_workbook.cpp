// The workbook layer, read back by an independent reader (xlrd): cells, formats, widths and
// the shared string table split over CONTINUE records.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "XlsCheck.h"
#include "operations/workbook/Biff8.h"
#include "operations/workbook/Workbook.h"

namespace r4t8::workbook {
namespace {

using r4t8::testing::CheckWorkbook;
using r4t8::testing::ExpectedSheet;

class WorkbookTest : public ::testing::Test {
  protected:
    QString Path(const char* name) const { return QDir(dir.path()).filePath(name); }
    QTemporaryDir dir;
};

TEST_F(WorkbookTest, CellsFormatsAndWidthsReadBack) {
    Workbook book;
    Worksheet& s = book.Sheet(0);
    s.SetColumnWidth(1, 20);
    s.SetColumnWidth(3, 15);
    s.SetTextFormat(2, 1);
    s.SetHorizontalAlignment(1, 1, kAlignCentre);
    s.SetHorizontalAlignment(1, 2, kAlignCentre);
    s.SetHorizontalAlignment(3, 3, kAlignCentre);  // formatted, never written: stays empty
    s.SetCell(1, 1, u"时间");
    s.SetCell(1, 2, u"Ünïcode ok");
    s.SetCell(2, 1, u"14-01-05 09:30:00");
    s.SetCell(2, 3, u"first");
    s.SetCell(2, 3, u"second");  // the last write wins
    s.SetCell(2, 2, u"gone");
    s.SetCell(2, 2, u"");  // and "" clears
    s.SetCell(3, 1, u"12.5");

    EXPECT_EQ(s.CellText(2, 3), QStringLiteral("second"));
    EXPECT_EQ(s.CellText(2, 2), QString());
    EXPECT_EQ(s.CellText(1, 1), QStringLiteral("时间"));
    EXPECT_DOUBLE_EQ(s.ColumnWidth(1), 20);
    EXPECT_DOUBLE_EQ(s.ColumnWidth(2), 0);

    ASSERT_TRUE(book.SaveAs(Path("cells.xls")));
    ExpectedSheet want{
        QStringLiteral("Sheet1"),
        {{"时间", "Ünïcode ok", ""}, {"14-01-05 09:30:00", "", "second"}, {"12.5", "", ""}},
        {{0, 5120}, {2, 3840}},
        {{0, 0}, {0, 1}, {2, 2}},
        {{1, 0}}};
    EXPECT_EQ(CheckWorkbook(Path("cells.xls"), {want}), "OK");
}

TEST_F(WorkbookTest, EmptyWorkbookAndSeveralSheets) {
    Workbook book;
    ASSERT_TRUE(book.SaveAs(Path("empty.xls")));
    EXPECT_EQ(
        CheckWorkbook(Path("empty.xls"), {ExpectedSheet{QStringLiteral("Sheet1"), {}, {}, {}, {}}}),
        "OK");
    EXPECT_GE(QFile(Path("empty.xls")).size(), 512 + 4096);

    book.Sheet(0).SetCell(1, 1, u"a");
    Worksheet& second = book.AddSheet();
    EXPECT_EQ(second.Name(), QStringLiteral("Sheet2"));
    second.SetCell(2, 2, u"b");
    ASSERT_TRUE(book.SaveAs(Path("two.xls")));
    EXPECT_EQ(
        CheckWorkbook(Path("two.xls"),
                      {ExpectedSheet{QStringLiteral("Sheet1"), {{"a"}}, {}, {}, {}},
                       ExpectedSheet{QStringLiteral("Sheet2"), {{"", ""}, {"", "b"}}, {}, {}, {}}}),
        "OK");

    book.Close();
    EXPECT_EQ(book.SheetCount(), 1);
    EXPECT_EQ(book.Sheet(0).CellText(1, 1), QString());
}

TEST_F(WorkbookTest, LimitsOfTheSheet) {
    Worksheet s(QStringLiteral("S"));
    EXPECT_TRUE(s.SetCell(65536, 256, u"last"));
    EXPECT_FALSE(s.SetCell(65537, 1, u"x"));
    EXPECT_FALSE(s.SetCell(1, 257, u"x"));
    EXPECT_FALSE(s.SetCell(0, 1, u"x"));
    EXPECT_FALSE(s.SetCell(1, 0, u"x"));
    EXPECT_FALSE(s.SetHorizontalAlignment(1, 1, 8));
    EXPECT_TRUE(s.SetHorizontalAlignment(1, 1, -4108));
    EXPECT_EQ(s.Formats().at(0).align, 2);  // centre in the file
    EXPECT_EQ(s.CellText(65536, 256), QStringLiteral("last"));
    EXPECT_EQ(s.Cells().size(), 1u);

    const QString huge(40000, QChar(u'x'));
    s.SetCell(5, 5, huge);
    EXPECT_EQ(s.CellText(5, 5).size(), Worksheet::kMaxTextLength);
}

TEST_F(WorkbookTest, CellsWrittenOutOfOrderAreSorted) {
    Workbook book;
    Worksheet& s = book.Sheet(0);
    s.SetCell(3, 1, u"c");
    s.SetCell(1, 2, u"b");
    s.SetCell(1, 1, u"a");
    s.SetCell(3, 1, u"C");
    ASSERT_EQ(s.Cells().size(), 3u);
    EXPECT_EQ(s.Cells()[0].row, 0u);
    EXPECT_EQ(s.Cells()[0].column, 0u);
    ASSERT_TRUE(book.SaveAs(Path("order.xls")));
    EXPECT_EQ(CheckWorkbook(
                  Path("order.xls"),
                  {ExpectedSheet{
                      QStringLiteral("Sheet1"), {{"a", "b"}, {"", ""}, {"C", ""}}, {}, {}, {}}}),
              "OK");
}

// The first string leaves `spare` bytes of the first SST record; the next string then has
// to start in, or split into, a CONTINUE record (the string's header is never split; a split
// character array goes on after a repeated option flags byte).
struct SplitCase {
    int spare;
    bool wide;  // the second string needs 16-bit characters
};

class SstSplit : public WorkbookTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(SstSplit, StringsAcrossRecordBoundaries) {
    const SplitCase c = GetParam();
    // SST body: 8 bytes of counts, then 3 header bytes + 1 byte per compressed character.
    const int firstLength = static_cast<int>(kMaxRecordData) - 8 - 3 - c.spare;
    const QString first(firstLength, QChar(u'a'));
    QString second;
    for (int i = 0; i < 9000; ++i) second.append(QChar(c.wide ? 0x4E00 + i % 200 : u'0' + i % 10));
    const QString third = QStringLiteral("third 第三");

    Workbook book;
    Worksheet& s = book.Sheet(0);
    s.SetCell(1, 1, first);
    s.SetCell(1, 2, second);
    s.SetCell(1, 3, third);
    const QString name = QStringLiteral("split%1%2.xls").arg(c.spare).arg(c.wide ? "w" : "n");
    ASSERT_TRUE(book.SaveAs(Path(name.toUtf8().constData())));
    EXPECT_EQ(CheckWorkbook(
                  Path(name.toUtf8().constData()),
                  {ExpectedSheet{QStringLiteral("Sheet1"), {{first, second, third}}, {}, {}, {}}}),
              "OK");

    // No record of the stream is longer than the format allows.
    const std::vector<uint8_t> stream = book.BuildStream();
    for (size_t at = 0; at + 4 <= stream.size();) {
        const size_t len = stream[at + 2] | stream[at + 3] << 8;
        ASSERT_LE(len, kMaxRecordData) << "record at " << at;
        at += 4 + len;
    }
}

INSTANTIATE_TEST_SUITE_P(Boundaries, SstSplit,
                         ::testing::Values(SplitCase{0, false}, SplitCase{1, false},
                                           SplitCase{2, false}, SplitCase{3, false},
                                           SplitCase{4, false}, SplitCase{3, true},
                                           SplitCase{4, true}, SplitCase{5, true},
                                           SplitCase{6, true}, SplitCase{100, true}),
                         [](const auto& info) {
                             return (info.param.wide ? "Wide" : "Narrow") +
                                    std::to_string(info.param.spare);
                         });

TEST_F(WorkbookTest, ManyMixedStringsOverManyContinueRecords) {
    Workbook book;
    Worksheet& s = book.Sheet(0);
    ExpectedSheet want{QStringLiteral("Sheet1"), {}, {}, {}, {}};
    for (int r = 0; r < 400; ++r) {
        QStringList row;
        for (int col = 0; col < 5; ++col) {
            QString t;
            const int n = (r * 37 + col * 101) % 97 + 1;
            for (int i = 0; i < n; ++i)
                t.append((r + col) % 3 == 0 ? QChar(0x4E00 + (i + r) % 500)
                                            : QChar(u'A' + (i + col) % 26));
            s.SetCell(static_cast<uint32_t>(r + 1), static_cast<uint16_t>(col + 1), t);
            row << t;
        }
        want.rows.push_back(row);
    }
    ASSERT_TRUE(book.SaveAs(Path("many.xls")));
    EXPECT_EQ(CheckWorkbook(Path("many.xls"), {want}), "OK");
}

TEST_F(WorkbookTest, SaveFailureIsReported) {
    Workbook book;
    QString error;
    EXPECT_FALSE(book.SaveAs(QStringLiteral("/dev/null/cannot/be.xls"), &error));
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
}  // namespace r4t8::workbook
