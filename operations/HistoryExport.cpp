#include "HistoryExport.h"

#include <iconv.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>

#include "NumberText.h"
#include "protocol/Captions.h"
#include "workbook/Workbook.h"

namespace r4t8 {

namespace {

const QString kExporting = QStringLiteral("导出历史数据");
const QString kSaveFailed =
    QStringLiteral("不能正确操作Excel文件。可能是该文件已被其他程序打开, 或系统错误。");
const std::array<QString, 9> kHeaders = {
    QStringLiteral("时间"),    QStringLiteral("传感器1"), QStringLiteral("传感器2"),
    QStringLiteral("传感器3"), QStringLiteral("传感器4"), QStringLiteral("经度"),
    QStringLiteral("纬度"),    QStringLiteral("速度"),    QStringLiteral("方向")};
constexpr uint32_t kAbsent = 0xFFFFFFFF;
constexpr int kProgressMax = 80;

// Appends text in the GBK code page (the system code page the CSV is read in). ASCII, all
// that the data rows hold, is copied as it is.
class GbkWriter {
  public:
    GbkWriter() : m_cd(iconv_open("GBK", "UTF-8")) {}
    ~GbkWriter() {
        if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
    }
    GbkWriter(const GbkWriter&) = delete;
    GbkWriter& operator=(const GbkWriter&) = delete;

    void Append(QByteArray& out, const QString& text) {
        const qsizetype n = text.size();
        const QChar* in16 = text.constData();
        qsizetype i = 0;
        while (i < n && in16[i].unicode() < 0x80) ++i;
        if (i == n) {
            const qsizetype at = out.size();
            out.resize(at + n);
            char* o = out.data() + at;
            for (qsizetype k = 0; k < n; ++k) o[k] = static_cast<char>(in16[k].unicode());
            return;
        }
        QByteArray utf8 = text.toUtf8();
        if (m_cd == reinterpret_cast<iconv_t>(-1)) {
            out.append(utf8);
            return;
        }
        char* in = utf8.data();
        size_t inLeft = static_cast<size_t>(utf8.size());
        char buf[256];
        while (inLeft > 0) {
            char* o = buf;
            size_t oLeft = sizeof buf;
            const size_t r = iconv(m_cd, &in, &inLeft, &o, &oLeft);
            out.append(buf, static_cast<qsizetype>(o - buf));
            if (r == static_cast<size_t>(-1) && errno != E2BIG) {
                // A character GBK does not have: one '?' for its UTF-8 sequence.
                out.append('?');
                do {
                    ++in;
                    --inLeft;
                } while (inLeft > 0 && (static_cast<uint8_t>(*in) & 0xC0) == 0x80);
            }
        }
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    }

  private:
    iconv_t m_cd;
};

void Put2(QChar*& p, unsigned v) {
    if (v >= 100) {
        // Only a received time that is no date carries such numbers; keep them whole.
        const QString digits = QString::number(v);
        for (QChar c : digits) *p++ = c;
        return;
    }
    *p++ = QChar(u'0' + v / 10);
    *p++ = QChar(u'0' + v % 10);
}

}  // namespace

QString ScaledIntegerText(uint32_t value, uint32_t divisor) {
    // An unsigned 32-bit value over a power of ten has at most 10 significant digits, well
    // within the 15 of the general float text, which therefore shows its exact decimal:
    // integer arithmetic gives the same text without printf.
    // Below 0.0001 the general text switches to the exponent form ("1E-6"): leave it to it.
    if (value != 0 && static_cast<uint64_t>(value) * 10000u < divisor)
        return GeneralFloatText(static_cast<double>(value) / divisor);
    char16_t buf[24];
    char16_t* end = buf + 24;
    char16_t* p = end;
    uint32_t whole = value / divisor;
    uint32_t fraction = value % divisor;
    int places = 0;
    for (uint32_t d = divisor; d > 1; d /= 10) ++places;
    bool any = false;
    for (int i = 0; i < places; ++i) {
        const uint32_t digit = fraction % 10;
        fraction /= 10;
        if (digit || any) {
            *--p = static_cast<char16_t>(u'0' + digit);
            any = true;
        }
    }
    if (any) *--p = u'.';
    do {
        *--p = static_cast<char16_t>(u'0' + whole % 10);
        whole /= 10;
    } while (whole);
    return QString(reinterpret_cast<const QChar*>(p), end - p);
}

namespace {

QString GpsText(uint32_t value, uint32_t divisor) {
    return value == kAbsent ? QString() : ScaledIntegerText(value, divisor);
}

bool WritableFolder(const QString& folder) {
    const QFileInfo info(folder);
    return !folder.isEmpty() && info.isDir() && info.isWritable();
}

void SetUpSheet(workbook::Worksheet& sheet, bool first) {
    sheet.SetColumnWidth(1, 20);
    sheet.SetColumnWidth(6, 15);
    sheet.SetColumnWidth(7, 15);
    if (first) sheet.SetTextFormat(2, 1);
    for (uint16_t c = 1; c <= 9; ++c) sheet.SetHorizontalAlignment(1, c, workbook::kAlignCentre);
    for (uint16_t c = 1; c <= 9; ++c) sheet.SetCell(1, c, kHeaders[c - 1u]);
}

}  // namespace

ExportFolders DefaultExportFolders() {
    ExportFolders f;
    if (QCoreApplication::instance()) f.preferred = QCoreApplication::applicationDirPath();
    f.fallback = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return f;
}

QString RecordTimeText(const HistoryRecord& r) {
    // The received numbers, two digits each: a real date prints exactly as the date would,
    // and a time that is no date (month 0, day 32) no longer fails the whole export.
    const unsigned year = (2000u + r.year) % 100u;
    QChar buf[32];
    QChar* p = buf;
    Put2(p, year);
    *p++ = u'-';
    Put2(p, r.month);
    *p++ = u'-';
    Put2(p, r.day);
    *p++ = u' ';
    Put2(p, r.hour);
    *p++ = u':';
    Put2(p, r.minute);
    *p++ = u':';
    Put2(p, r.second);
    return QString(buf, p - buf);
}

std::array<QString, 9> RecordRowTexts(const HistoryRecord& r) {
    std::array<QString, 9> t;
    t[0] = RecordTimeText(r);
    for (int s = 0; s < 4; ++s)
        if (r.sensorPresent[s]) t[1 + s] = FormatZeroHash(r.sensor[s]);
    t[5] = GpsText(r.longitude, 1000000);
    t[6] = GpsText(r.latitude, 1000000);
    t[7] = GpsText(r.speed, 10);
    t[8] = GpsText(r.direction, 10);
    return t;
}

namespace {

// Rows of the workbook and lines of the CSV, record by record; false as soon as `aborted` says
// so (asked once per record, after the host has had its turn).
bool WriteRows(const HistoryTable& table, const std::function<bool()>& aborted, IExportHost& host,
               IProgress& progress, workbook::Workbook& book, QByteArray& csv) {
    const auto count = static_cast<int64_t>(table.size());
    SetUpSheet(book.Sheet(0), true);
    book.Sheet(0).Reserve(
        static_cast<size_t>(std::min<int64_t>(count, HistoryExport::kRecordsPerSheet)) * 9,
        static_cast<size_t>(std::min<int64_t>(count, HistoryExport::kRecordsPerSheet)) * 60);

    GbkWriter gbk;
    csv.reserve(static_cast<qsizetype>(count * 80 + 256));
    auto appendLine = [&](const std::array<QString, 9>& texts) {
        for (size_t c = 0; c < texts.size(); ++c) {
            if (c) csv.append(',');
            gbk.Append(csv, texts[c]);
        }
        csv.append("\r\n", 2);
    };
    appendLine(kHeaders);

    const int64_t step = count / 10;
    workbook::Worksheet* sheet = &book.Sheet(0);
    for (int64_t i = 0; i < count; ++i) {
        host.ProcessEvents();
        if (aborted && aborted()) return false;
        if (count < 10) {
            progress.SetProgress(kProgressMax);
        } else if ((i + 1) % step == 0) {
            // Counts not a multiple of 10 reach 80 before the end: the bar stops there.
            progress.SetProgress(
                static_cast<int>(std::min<int64_t>(kProgressMax, ((i + 1) * 8) / step)));
        }
        const int64_t inSheet = i % HistoryExport::kRecordsPerSheet;
        if (i > 0 && inSheet == 0) {
            sheet = &book.AddSheet();
            SetUpSheet(*sheet, false);
            const int64_t left = std::min<int64_t>(count - i, HistoryExport::kRecordsPerSheet);
            sheet->Reserve(static_cast<size_t>(left) * 9, static_cast<size_t>(left) * 60);
        }
        const std::array<QString, 9> texts = RecordRowTexts(table[static_cast<size_t>(i)]);
        const auto row = static_cast<uint32_t>(inSheet + 2);
        for (uint16_t c = 0; c < 9; ++c)
            if (!texts[c].isEmpty()) sheet->SetCell(row, static_cast<uint16_t>(c + 1), texts[c]);
        appendLine(texts);
    }
    return true;
}

}  // namespace

Outcome HistoryExport::Run(const HistoryTable& table, const std::function<bool()>& aborted,
                           const ExportFolders& folders) {
    m_report.progress.SetStatusText(kStatusTextPanel, kExporting);
    m_report.progress.RepaintStatus();
    bool fellBack = false;
    const QString folder = ChooseFolder(folders, fellBack);
    const QString stamp = m_time.CurrentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
    const QDir dir(folder);
    m_workbookPath = dir.filePath(QStringLiteral("SAVE") + stamp + QStringLiteral(".xls"));
    m_csvPath = dir.filePath(QStringLiteral("SAVE_CSV_") + stamp + QStringLiteral(".csv"));

    workbook::Workbook book;
    QByteArray csv;
    if (!WriteRows(table, aborted, m_host, m_report.progress, book, csv)) {
        book.Close();
        m_report.outcomes.OperationFinished(Operation::HistoryExport, Outcome::Aborted);
        return Outcome::Aborted;
    }
    if (!book.SaveAs(m_workbookPath) || !workbook::ReplaceFile(m_csvPath, [&csv](QIODevice& out) {
            return out.write(csv) == csv.size();
        })) {
        book.Close();
        m_report.progress.SetStatusText(kStatusTextPanel, QString());
        m_report.progress.RepaintStatus();
        m_report.messages.ShowMessage(kSaveFailed, kAppTitle);
        m_report.outcomes.OperationFinished(Operation::HistoryExport, Outcome::Failed);
        return Outcome::Failed;
    }
    book.Close();

    // Off the executable's folder the user is told where the files went.
    m_report.progress.SetStatusText(kStatusTextPanel, fellBack
                                                          ? QStringLiteral("历史数据已保存到") +
                                                                QDir::toNativeSeparators(folder)
                                                          : QString());
    m_report.progress.RepaintStatus();
    m_report.messages.ShowMessage(QStringLiteral("导出历史数据成功"), kAppTitle);
    OfferToOpen(m_workbookPath, QStringLiteral("是否打开保存的excel文件"),
                QStringLiteral("打开文件错误代码"));
    OfferToOpen(m_csvPath, QStringLiteral("是否打开保存的CSV文件?"),
                QStringLiteral("打开文件错误代码:"));
    m_report.outcomes.OperationFinished(Operation::HistoryExport, Outcome::Succeeded);
    return Outcome::Succeeded;
}

QString HistoryExport::ChooseFolder(const ExportFolders& folders, bool& fellBack) {
    QString folder = folders.preferred;
    fellBack = false;
    if (!WritableFolder(folder) && !folders.fallback.isEmpty() && QDir().mkpath(folders.fallback) &&
        WritableFolder(folders.fallback)) {
        folder = folders.fallback;
        fellBack = true;
        m_report.progress.SetStatusText(
            kStatusTextPanel, kExporting + QStringLiteral("到") + QDir::toNativeSeparators(folder));
        m_report.progress.RepaintStatus();
    }
    return folder.isEmpty() ? QDir::currentPath() : folder;
}

// The two error texts differ by a colon; users and their notes know both as they are.
void HistoryExport::OfferToOpen(const QString& path, const QString& question,
                                const QString& errorText) {
    if (m_report.messages.ShowMessage(question, kQuestionCaption, MsgButtons::OkCancel) !=
        MsgAnswer::Ok)
        return;
    const int code = m_host.OpenWithDesktop(path);
    if (code != 0) m_report.messages.ShowMessage(errorText + QString::number(code), kAppTitle);
}

}  // namespace r4t8
