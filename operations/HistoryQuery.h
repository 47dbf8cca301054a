// The history query (count, pages 1..N, closing page 0) and its table of records.
#pragma once

#include <QDate>
#include <QString>
#include <cstdint>
#include <vector>

#include "operations/OperationViews.h"
#include "protocol/Frame.h"
#include "protocol/ReplyDispatcher.h"
#include "protocol/Sender.h"
#include "protocol/TimeSource.h"
#include "protocol/UserInterfaces.h"

namespace r4t8 {

struct HistoryRecord {
    uint16_t year = 0;  // year minus 2000, as received
    uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    double sensor[4] = {0, 0, 0, 0};
    uint8_t sensorPresent[4] = {0, 0, 0, 0};
    uint32_t longitude = 0xFFFFFFFF;  // value x 1000000
    uint32_t latitude = 0xFFFFFFFF;   // value x 1000000
    uint32_t speed = 0xFFFFFFFF;      // value x 10
    uint32_t direction = 0xFFFFFFFF;  // value x 10
};

// Grows as records arrive: no record of a range is dropped.
using HistoryTable = std::vector<HistoryRecord>;

class HistoryQuery {
  public:
    // `host`: where the export opens its files.
    HistoryQuery(ISender& sender, Reporting report, IExportHost& host, ITimeSource& time);

    // Hands the count and page replies to this object.
    void RegisterReplies(ReplyDispatcher& dispatcher);

    void Button1Click(const QDate& from, const QDate& to);  // "导出"
    void OnCountReply(const ReplyRecord& reply);            // cmd_history_count
    void OnPageReply(const ReplyRecord& reply);             // cmd_history_page

    // "停止" raises the abort flag; the export gives up at its next record.
    void RaiseAbort() { m_exportAbort = true; }
    bool ExportAbortFlag() const { return m_exportAbort; }

    // Where the export writes; empty: the executable's folder, else the user's documents.
    void SetExportFolder(const QString& folder) { m_exportFolder = folder; }

    // Both folders at once: the export falls back to `fallback` when `preferred` is not a
    // writable folder (an empty `preferred`: the executable's folder).
    void SetExportFolders(const QString& preferred, const QString& fallback) {
        m_exportFolder = preferred;
        m_exportFallback = fallback;
        m_fallbackSet = true;
    }

    // The folder the last export chose (the fallback when the preferred one could not be
    // written); empty before the first export.
    const QString& LastExportFolder() const { return m_lastExportFolder; }

    const HistoryTable& Table() const { return m_table; }
    // The records of the last completed download, kept until the next one.
    const HistoryTable& LastDownload() const { return m_lastDownload; }
    uint16_t PageCount() const { return m_pageCount; }
    // The next page to request; 0 while the closing request is outstanding (and, only
    // after page 65535 has been requested, then too: RequestedPage() tells them apart).
    uint16_t PageIndex() const { return m_pageIndex; }
    // The page number of the page request outstanding (0: the closing request).
    uint16_t RequestedPage() const { return m_requestedPage; }
    // True from the count request until the closing reply has been handled.
    bool Running() const { return m_state != State::Idle; }

  private:
    enum class State { Idle, Counting, Paging, Closing };

    void RequestPage(uint16_t page);
    bool IsLateDuplicate(const ReplyRecord& reply) const;
    void Export();

    State m_state = State::Idle;
    uint16_t m_requestedPage = 0;
    // The last page stored: a resent request may bring its reply twice.
    std::vector<uint8_t> m_lastPage;
    QString m_exportFallback;
    bool m_fallbackSet = false;
    ISender& m_sender;
    Reporting m_report;
    IExportHost& m_host;
    ITimeSource& m_time;
    HistoryTable m_table;
    HistoryTable m_lastDownload;
    uint16_t m_pageCount = 0;
    uint16_t m_pageIndex = 0;
    bool m_exportAbort = false;
    QString m_exportFolder;
    QString m_lastExportFolder;
};

}  // namespace r4t8
