// The export of a downloaded history to a workbook ("SAVE<time>.xls") and a CSV file
// ("SAVE_CSV_<time>.csv"), with the questions that open them.
#pragma once

#include <QString>
#include <array>
#include <functional>

#include "HistoryQuery.h"
#include "operations/OperationViews.h"
#include "protocol/TimeSource.h"
#include "protocol/UserInterfaces.h"

namespace r4t8 {

// Where the files go: `preferred` when it is a writable folder, else `fallback` (created
// when missing), else `preferred` all the same, so that the save reports the failure.
struct ExportFolders {
    QString preferred;
    QString fallback;
};

// The executable's folder (when an application object exists) and the user's documents.
ExportFolders DefaultExportFolders();

// The record's time as "yy-mm-dd hh:nn:ss"; a time that is no date (month 0, day 32) is
// written as the received numbers in the same shape.
QString RecordTimeText(const HistoryRecord& record);

// value / divisor (a power of ten) as the general float text shows it: "12.5", "0".
QString ScaledIntegerText(uint32_t value, uint32_t divisor);

// The nine cell texts of a record's row; empty for absent values.
std::array<QString, 9> RecordRowTexts(const HistoryRecord& record);

class HistoryExport {
  public:
    // A sheet holds the header and at most this many records; more go on in "Sheet2"...
    static constexpr int kRecordsPerSheet = 65535;

    HistoryExport(Reporting report, IExportHost& host, ITimeSource& time)
        : m_report(report), m_host(host), m_time(time) {}

    // Writes both files and asks to open them. `aborted` is asked once per record, after
    // the window has handled its events; when it says yes the export ends silently and
    // writes nothing.
    Outcome Run(const HistoryTable& table, const std::function<bool()>& aborted,
                const ExportFolders& folders);

    // The full paths of the last run's files (set even when the run failed or stopped).
    const QString& WorkbookPath() const { return m_workbookPath; }
    const QString& CsvPath() const { return m_csvPath; }

  private:
    // `folders.preferred`, or the fallback when that cannot be written (then said in the status
    // bar); the current folder when both are empty.
    QString ChooseFolder(const ExportFolders& folders, bool& fellBack);
    // The Ok/Cancel question, and the desktop's failure code when opening fails.
    void OfferToOpen(const QString& path, const QString& question, const QString& errorText);

    Reporting m_report;
    IExportHost& m_host;
    ITimeSource& m_time;
    QString m_workbookPath;
    QString m_csvPath;
};

}  // namespace r4t8
