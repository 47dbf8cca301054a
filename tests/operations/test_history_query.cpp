// The history query against a scripted controller: the requests it sends, what it stores,
// and the replies it must not take.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstring>

#include "operations/HistoryQuery.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/support/RecordingSender.h"

namespace r4t8 {
namespace {

using testing::FakeTimeSource;
using testing::FakeUserInterface;
using testing::MakeReply;
using testing::RecordingSender;

// Page k holds one record whose sensor 1 is k: the stored order shows what was taken.
Bytes PageWithRecord(int k) {
    Bytes p = {
        0x7F, 0x7F, 14, 1, 5, 9, static_cast<uint8_t>(k % 60), static_cast<uint8_t>(k / 60 % 60)};
    const float v = static_cast<float>(k);
    uint8_t f[4];
    std::memcpy(f, &v, 4);
    p.insert(p.end(), {0x01, 0x00, f[0], f[1], f[2], f[3], 0xFF});
    return p;
}

class HistoryQueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        query.SetExportFolders(dir.path(), QString());
    }

    // Decodes the last frame sent; -1 for a page number when it is no page request.
    int LastPageRequested() const {
        uint8_t cmd = 0;
        Bytes payload;
        if (sender.frames.empty() || !ParseRawFrame(sender.frames.back(), cmd, payload) ||
            cmd != cmd_history_page || payload.size() != 2)
            return -1;
        return payload[0] | payload[1] << 8;
    }

    // Answers every request as the controller does until nothing more is sent; returns the
    // page numbers requested in order.
    std::vector<int> Serve(int pages) {
        std::vector<int> requested;
        query.OnCountReply(MakeReply(cmd_history_count, {static_cast<uint8_t>(pages & 0xFF),
                                                         static_cast<uint8_t>(pages >> 8)}));
        size_t seen = 0;
        while (sender.frames.size() > seen) {
            seen = sender.frames.size();
            const int page = LastPageRequested();
            if (page < 0) break;
            requested.push_back(page);
            query.OnPageReply(
                MakeReply(cmd_history_page, page ? PageWithRecord(page) : Bytes{0xFF}));
        }
        return requested;
    }

    QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files); }

    QTemporaryDir dir;
    RecordingSender sender;
    FakeUserInterface ui;
    FakeTimeSource time;
    HistoryQuery query{sender, ui, ui, time};
};

TEST_F(HistoryQueryTest, StartSendsTheDateRangeAndResets) {
    query.RaiseAbort();
    query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
    ASSERT_EQ(sender.frames.size(), 1u);
    const QByteArray sent(reinterpret_cast<const char*>(sender.frames[0].data()),
                          static_cast<qsizetype>(sender.frames[0].size()));
    EXPECT_EQ(sent.toHex(' ').toUpper(), "A5 0B 00 15 01 00 01 00 0E 01 01 0E 01 1F 9F FF A5");
    EXPECT_FALSE(query.ExportAbortFlag());
    EXPECT_TRUE(ui.progressVisible);
    EXPECT_EQ(ui.progress, 0);
    EXPECT_EQ(query.PageIndex(), 1);
    EXPECT_TRUE(query.Table().empty());
}

TEST_F(HistoryQueryTest, FetchesEveryPageThenClosesWithPageZero) {
    for (int pages : {1, 3, 255, 256, 300}) {
        SCOPED_TRACE(pages);
        sender.frames.clear();
        ui.messages.clear();
        query.Button1Click(QDate(2014, 1, 1), QDate(2014, 12, 31));
        const std::vector<int> requested = Serve(pages);
        ASSERT_EQ(requested.size(), static_cast<size_t>(pages) + 1);
        for (int k = 0; k < pages; ++k) ASSERT_EQ(requested[static_cast<size_t>(k)], k + 1);
        EXPECT_EQ(requested.back(), 0);

        const HistoryTable& got = query.LastDownload();
        ASSERT_EQ(got.size(), static_cast<size_t>(pages));
        for (int k = 0; k < pages; ++k)
            ASSERT_DOUBLE_EQ(got[static_cast<size_t>(k)].sensor[0], k + 1);
        EXPECT_TRUE(query.Table().empty());
        EXPECT_FALSE(query.Running());
        EXPECT_FALSE(ui.progressVisible);
        EXPECT_EQ(ui.MessageTexts().count(QStringLiteral("导出历史数据成功")), 1);
        EXPECT_EQ(ui.outcomes.back(), std::make_pair(Operation::HistoryQuery, Outcome::Succeeded));
    }
    // One workbook and one CSV per run (the fake clock stands still, so the names repeat).
    EXPECT_EQ(Files().size(), 2);
}

TEST_F(HistoryQueryTest, PageNumbersAbove255CarryTheHighByte) {
    query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
    Serve(300);
    uint8_t cmd = 0;
    Bytes payload;
    // frames: count, pages 1..300, page 0
    ASSERT_TRUE(ParseRawFrame(sender.frames[256], cmd, payload));
    EXPECT_EQ(payload, (Bytes{0x00, 0x01}));
    EXPECT_EQ(sender.frames[256], BuildHistoryPageFrame(256));
}

// r4t8ctl names the folder the files went to, which is not the one asked for where that one
// cannot be written.
TEST_F(HistoryQueryTest, RemembersTheFolderItsExportWroteTo) {
    const QString docs = QDir(dir.path()).filePath(QStringLiteral("home/Documents"));
    struct Case {
        QString preferred;
        QString expected;
    };
    for (const Case& c :
         {Case{dir.path(), dir.path()}, Case{QStringLiteral("/dev/null/program"), docs}}) {
        SCOPED_TRACE(c.preferred.toStdString());
        query.SetExportFolders(c.preferred, docs);
        query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
        Serve(1);
        EXPECT_EQ(query.LastExportFolder(), c.expected);
        EXPECT_EQ(QDir(c.expected).entryList({QStringLiteral("SAVE_CSV_*.csv")}).size(), 1);
    }
}

TEST_F(HistoryQueryTest, NoDataEndsTheQuery) {
    query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
    EXPECT_TRUE(Serve(0).empty());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("该时间段未查询到数据"));
    EXPECT_EQ(ui.messages[0].caption, QStringLiteral("R4T8报警器设置软件"));
    EXPECT_EQ(sender.frames.size(), 1u);  // nothing but the count request
    EXPECT_TRUE(ui.progressVisible);
    EXPECT_FALSE(query.Running());
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(HistoryQueryTest, LateDuplicatePageIsNotStoredAsTheNextPage) {
    // Replies are handed over as the real sender dispatches them: a reply the query refuses
    // must leave its request outstanding, or the genuine reply after it is ignored too.
    auto page = [this](const Bytes& payload) {
        sender.Dispatch([&] { query.OnPageReply(MakeReply(cmd_history_page, payload)); });
    };
    query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
    sender.Dispatch([&] { query.OnCountReply(MakeReply(cmd_history_count, {3, 0})); });
    page(PageWithRecord(1));
    ASSERT_EQ(LastPageRequested(), 2);
    const size_t sent = sender.frames.size();
    // The second reply to a resent request for page 1.
    page(PageWithRecord(1));
    EXPECT_EQ(sender.frames.size(), sent);
    EXPECT_EQ(query.Table().size(), 1u);
    EXPECT_EQ(sender.rejects, 1);
    EXPECT_EQ(sender.OutstandingCommand(), cmd_history_page);

    page(PageWithRecord(2));
    page(PageWithRecord(3));
    ASSERT_EQ(LastPageRequested(), 0);
    page(PageWithRecord(3));  // late, while closing
    EXPECT_TRUE(query.Running());
    EXPECT_EQ(sender.OutstandingCommand(), cmd_history_page);
    page({0xFF});
    EXPECT_FALSE(query.Running());
    ASSERT_EQ(query.LastDownload().size(), 3u);
    for (int k = 0; k < 3; ++k)
        EXPECT_DOUBLE_EQ(query.LastDownload()[static_cast<size_t>(k)].sensor[0], k + 1);
}

TEST_F(HistoryQueryTest, RepeatedEmptyPagesStillAdvance) {
    query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
    query.OnCountReply(MakeReply(cmd_history_count, {2, 0}));
    query.OnPageReply(MakeReply(cmd_history_page, {0xFF}));
    query.OnPageReply(MakeReply(cmd_history_page, {0xFF}));
    EXPECT_EQ(LastPageRequested(), 0);
}

TEST_F(HistoryQueryTest, RepliesOutsideTheirRequestAreIgnored) {
    // Before any query.
    query.OnPageReply(MakeReply(cmd_history_page, PageWithRecord(1)));
    query.OnCountReply(MakeReply(cmd_history_count, {5, 0}));
    EXPECT_TRUE(sender.frames.empty());

    query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
    // A page reply while the count request is outstanding.
    query.OnPageReply(MakeReply(cmd_history_page, PageWithRecord(1)));
    EXPECT_EQ(sender.frames.size(), 1u);
    EXPECT_TRUE(query.Table().empty());

    query.OnCountReply(MakeReply(cmd_history_count, {2, 0}));
    // A second count reply (after a resend) must not restart the paging.
    query.OnCountReply(MakeReply(cmd_history_count, {2, 0}));
    EXPECT_EQ(sender.frames.size(), 2u);

    // Another request replaced the page request (say, the clock): its page-coded reply
    // would be a stray.
    sender.SendFrame(BuildGetTimeFrame());
    query.OnPageReply(MakeReply(cmd_history_page, PageWithRecord(1)));
    EXPECT_TRUE(query.Table().empty());
}

TEST_F(HistoryQueryTest, StatusPerPageAndUndefinedItemMessage) {
    query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
    query.OnCountReply(MakeReply(cmd_history_count, {2, 0}));
    ui.status.clear();
    const int repaints = ui.repaints;
    Bytes bad = PageWithRecord(1);
    bad.insert(bad.end() - 1, {0x7F, 0x7F, 14, 1, 5, 9, 0, 0, 0x09, 0, 0, 0, 0, 0});
    query.OnPageReply(MakeReply(cmd_history_page, bad));
    EXPECT_EQ(ui.status[2], QStringLiteral("正在接收历史数据"));
    EXPECT_GT(ui.repaints, repaints);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("读取历史数据出现未定义项"));
    EXPECT_EQ(query.Table().size(), 1u);  // the record before the bad one
    EXPECT_EQ(LastPageRequested(), 2);    // and the query goes on
}

TEST_F(HistoryQueryTest, StopGivesUpTheExportButKeepsTheDownload) {
    query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
    query.OnCountReply(MakeReply(cmd_history_count, {2, 0}));
    query.OnPageReply(MakeReply(cmd_history_page, PageWithRecord(1)));
    query.RaiseAbort();
    // The paging goes on after stop: the reply to the request already sent still comes.
    query.OnPageReply(MakeReply(cmd_history_page, PageWithRecord(2)));
    query.OnPageReply(MakeReply(cmd_history_page, {0xFF}));
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_FALSE(ui.MessageTexts().contains(QStringLiteral("导出历史数据成功")));
    EXPECT_EQ(query.LastDownload().size(), 2u);
    EXPECT_FALSE(ui.progressVisible);
}

// The export yields to the window once per record; a new query started there must not pull
// the records from under it.
TEST_F(HistoryQueryTest, NewQueryStartedDuringTheExport) {
    query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
    query.OnCountReply(MakeReply(cmd_history_count, {1, 0}));
    Bytes page;
    for (int k = 0; k < 15; ++k) {  // 15 records of 14 bytes fill most of a payload
        const Bytes r = PageWithRecord(k + 1);
        page.insert(page.end(), r.begin(), r.end() - 1);
    }
    page.push_back(0xFF);
    query.OnPageReply(MakeReply(cmd_history_page, page));
    int events = 0;
    ui.onProcessEvents = [&] {
        if (++events == 3) query.Button1Click(QDate(2015, 1, 1), QDate(2015, 1, 31));
    };
    query.OnPageReply(MakeReply(cmd_history_page, {0xFF}));
    EXPECT_EQ(events, 15);
    EXPECT_EQ(query.LastDownload().size(), 15u);
    EXPECT_TRUE(query.Running());  // the new query waits for its count
    EXPECT_TRUE(query.Table().empty());
}

TEST_F(HistoryQueryTest, SecondClickRestarts) {
    query.Button1Click(QDate(2014, 1, 1), QDate(2014, 1, 31));
    query.OnCountReply(MakeReply(cmd_history_count, {3, 0}));
    query.OnPageReply(MakeReply(cmd_history_page, PageWithRecord(1)));
    query.Button1Click(QDate(2015, 2, 1), QDate(2015, 2, 2));
    EXPECT_TRUE(query.Table().empty());
    EXPECT_EQ(query.PageIndex(), 1);
    EXPECT_EQ(Serve(2), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(query.LastDownload().size(), 2u);
}

}  // namespace
}  // namespace r4t8
