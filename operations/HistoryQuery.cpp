#include "HistoryQuery.h"

#include <QFileInfo>
#include <algorithm>
#include <cstring>

#include "HistoryExport.h"
#include "HistoryPage.h"
#include "protocol/Captions.h"

namespace r4t8 {

namespace {

uint8_t YearByte(const QDate& d) { return static_cast<uint8_t>(((d.year() % 100) + 100) % 100); }

}  // namespace

HistoryQuery::HistoryQuery(ISender& sender, Reporting report, IExportHost& host, ITimeSource& time)
    : m_sender(sender), m_report(report), m_host(host), m_time(time) {}

void HistoryQuery::Button1Click(const QDate& from, const QDate& to) {
    m_sender.Args().historyRange = {
        YearByte(from), static_cast<uint8_t>(from.month()), static_cast<uint8_t>(from.day()),
        YearByte(to),   static_cast<uint8_t>(to.month()),   static_cast<uint8_t>(to.day())};
    m_pageIndex = 1;
    m_pageCount = 0;
    m_requestedPage = 0;
    m_table.clear();
    m_lastPage.clear();
    m_state = State::Counting;
    m_sender.SendCommand(cmd_history_count);
    m_exportAbort = false;
    m_report.progress.SetProgressVisible(true);
    m_report.progress.SetProgress(0);
}

void HistoryQuery::RegisterReplies(ReplyDispatcher& dispatcher) {
    // Both handlers tell a late copy of an earlier step's reply apart themselves.
    dispatcher.Register(cmd_history_count, [this](const ReplyRecord& r) { OnCountReply(r); });
    dispatcher.Register(cmd_history_page, [this](const ReplyRecord& r) { OnPageReply(r); });
}

void HistoryQuery::OnCountReply(const ReplyRecord& reply) {
    // A count reply is only taken for the count request (a late copy of it after a resend
    // would otherwise restart the paging).
    if (m_state != State::Counting || m_sender.OutstandingCommand() != cmd_history_count) {
        m_sender.RejectReply();
        return;
    }
    const uint16_t pages =
        static_cast<uint16_t>((reply.payloadCount > 0 ? reply.payload[0] : 0) |
                              (reply.payloadCount > 1 ? reply.payload[1] << 8 : 0));
    m_pageCount = pages;
    if (pages == 0) {
        m_state = State::Idle;
        m_report.messages.ShowMessage(QStringLiteral("该时间段未查询到数据"), kAppTitle);
        m_report.outcomes.OperationFinished(Operation::HistoryQuery, Outcome::Succeeded);
        return;
    }
    m_state = State::Paging;
    RequestPage(1);
}

void HistoryQuery::RequestPage(uint16_t page) {
    m_requestedPage = page;
    m_sender.Args().historyPageIndex = page;
    m_sender.SendCommand(cmd_history_page);
    // Wraps to 0 only after page 65535; the state, not the index, says what comes next.
    m_pageIndex = page == 0 ? 0 : static_cast<uint16_t>(page + 1);
}

bool HistoryQuery::IsLateDuplicate(const ReplyRecord& reply) const {
    // Replies carry no page number. Two pages with records are never byte for byte alike
    // (their time stamps differ), so such a repeat is the second reply to a resent request.
    // Repeats of pages without records are taken: dropping them could stall a range of
    // empty pages, and storing them adds nothing.
    const size_t n = std::min<size_t>(reply.payloadCount, reply.payload.size());
    return m_lastPage.size() == n && n >= 2 && m_lastPage[0] == 0x7F && m_lastPage[1] == 0x7F &&
           std::memcmp(m_lastPage.data(), reply.payload.data(), n) == 0;
}

void HistoryQuery::OnPageReply(const ReplyRecord& reply) {
    // A reply this query is not waiting for leaves the page request outstanding, resent as
    // before.
    if ((m_state != State::Paging && m_state != State::Closing) ||
        m_sender.OutstandingCommand() != cmd_history_page || IsLateDuplicate(reply)) {
        m_sender.RejectReply();
        return;
    }

    if (m_state == State::Closing) {
        // The reply to the closing request: its payload is ignored.
        m_state = State::Idle;
        Export();
        return;
    }

    m_report.progress.SetStatusText(kStatusTextPanel, QStringLiteral("正在接收历史数据"));
    m_report.progress.RepaintStatus();
    const size_t n = std::min<size_t>(reply.payloadCount, reply.payload.size());
    m_lastPage.assign(reply.payload.begin(), reply.payload.begin() + static_cast<ptrdiff_t>(n));
    const HistoryPageResult page = ParseHistoryPage(reply.payload.data(), n, m_table);

    // The next request goes out after the message: the box holds the sequence until closed.
    if (page.undefinedItem)
        m_report.messages.ShowMessage(QStringLiteral("读取历史数据出现未定义项"), kAppTitle);

    if (m_requestedPage < m_pageCount) {
        RequestPage(static_cast<uint16_t>(m_requestedPage + 1));
    } else {
        m_state = State::Closing;
        RequestPage(0);
    }
}

void HistoryQuery::Export() {
    ExportFolders folders = DefaultExportFolders();
    if (!m_exportFolder.isEmpty()) folders.preferred = m_exportFolder;
    if (m_fallbackSet) folders.fallback = m_exportFallback;
    // The export lets the window handle its events once per record, and a click there may
    // start the next query, which empties m_table: export a table of its own.
    HistoryTable records = std::move(m_table);
    m_table.clear();
    HistoryExport exporter(m_report, m_host, m_time);
    exporter.Run(
        records, [this] { return m_exportAbort; }, folders);
    m_lastExportFolder = QFileInfo(exporter.WorkbookPath()).absolutePath();
    // Kept for the chart also when the export failed or was stopped.
    m_lastDownload = std::move(records);
    m_report.progress.SetProgressVisible(false);
    m_report.outcomes.OperationFinished(Operation::HistoryQuery, Outcome::Succeeded);
}

}  // namespace r4t8
