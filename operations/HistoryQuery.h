// The history query (count, pages 1..N, closing page 0) and its table of records.
#pragma once

#include <QDate>
#include <QString>

#include <cstdint>
#include <vector>

#include "protocol/Frame.h"
#include "protocol/Interfaces.h"
#include "protocol/Sender.h"

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
    HistoryQuery(ISender& sender, IUserInterface& ui, ITimeSource& time);

    void Button1Click(const QDate& from, const QDate& to);  // "导出"
    void OnCountReply(const ReplyRecord& reply);  // cmd_history_count
    void OnPageReply(const ReplyRecord& reply);   // cmd_history_page

    // "停止" raises the abort flag; the export gives up at its next record.
    void RaiseAbort() { m_exportAbort = true; }
    bool ExportAbortFlag() const { return m_exportAbort; }

    // Where the export writes; empty: the executable's folder, else the user's documents.
    void SetExportFolder(const QString& folder) { m_exportFolder = folder; }

    const HistoryTable& Table() const { return m_table; }
    // The records of the last completed download, kept until the next one.
    const HistoryTable& LastDownload() const { return m_lastDownload; }
    uint16_t PageCount() const { return m_pageCount; }
    uint16_t PageIndex() const { return m_pageIndex; }

private:
    ISender& m_sender;
    IUserInterface& m_ui;
    ITimeSource& m_time;
    HistoryTable m_table;
    HistoryTable m_lastDownload;
    uint16_t m_pageCount = 0;
    uint16_t m_pageIndex = 0;
    bool m_exportAbort = false;
    QString m_exportFolder;
};

}  // namespace r4t8
