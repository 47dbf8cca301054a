#include "Workbook.h"

#include <QFile>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "Biff8.h"
#include "CompoundFile.h"

namespace r4t8::workbook {

namespace {

bool InSheet(uint32_t row, uint16_t column) {
    return row >= 1 && row <= Worksheet::kMaxRows && column >= 1 &&
           column <= Worksheet::kMaxColumns;
}

bool Before(uint32_t r1, uint16_t c1, uint32_t r2, uint16_t c2) {
    return r1 < r2 || (r1 == r2 && c1 < c2);
}

// The file's horizontal alignment code for an automation value; -1 when there is none.
int AlignmentCode(int value) {
    if (value >= 1 && value <= 7) return value - 1;
    switch (value) {
        case -4131:
            return 1;  // left
        case -4108:
            return 2;  // centre
        case -4152:
            return 3;  // right
        case -4130:
            return 5;  // justify
        default:
            return -1;
    }
}

}  // namespace

bool Worksheet::SetCell(uint32_t row, uint16_t column, QStringView text) {
    if (!InSheet(row, column)) return false;
    const auto n = static_cast<uint32_t>(std::min<qsizetype>(text.size(), kMaxTextLength));
    const Cell cell{row - 1, static_cast<uint16_t>(column - 1),
                    static_cast<uint32_t>(m_text.size()), n};
    const bool inOrder =
        m_cells.empty() || Before(m_cells.back().row, m_cells.back().column, cell.row, cell.column);
    // Cleared in order: the cell was never written, so there is nothing to clear.
    if (n == 0 && inOrder) return true;
    m_ordered = m_ordered && inOrder;
    m_text.append(reinterpret_cast<const char16_t*>(text.utf16()), n);
    m_cells.push_back(cell);
    return true;
}

void Worksheet::Normalise() const {
    if (m_ordered) return;
    std::stable_sort(m_cells.begin(), m_cells.end(), [](const Cell& a, const Cell& b) {
        return Before(a.row, a.column, b.row, b.column);
    });
    // Of several writes to one cell the last wins; a last write of "" leaves it empty.
    size_t out = 0;
    for (size_t i = 0; i < m_cells.size(); ++i) {
        if (i + 1 < m_cells.size() && m_cells[i + 1].row == m_cells[i].row &&
            m_cells[i + 1].column == m_cells[i].column)
            continue;
        if (m_cells[i].textLength) m_cells[out++] = m_cells[i];
    }
    m_cells.resize(out);
    m_ordered = true;
}

const std::vector<Worksheet::Cell>& Worksheet::Cells() const {
    Normalise();
    return m_cells;
}

QString Worksheet::CellText(uint32_t row, uint16_t column) const {
    if (!InSheet(row, column)) return {};
    Normalise();
    const uint32_t r = row - 1;
    const auto c = static_cast<uint16_t>(column - 1);
    const auto it = std::lower_bound(m_cells.begin(), m_cells.end(), std::pair(r, c),
                                     [](const Cell& a, const std::pair<uint32_t, uint16_t>& k) {
                                         return Before(a.row, a.column, k.first, k.second);
                                     });
    if (it == m_cells.end() || it->row != r || it->column != c) return {};
    return QString(reinterpret_cast<const QChar*>(m_text.data() + it->textOffset),
                   static_cast<qsizetype>(it->textLength));
}

void Worksheet::SetColumnWidth(uint16_t column, double characters) {
    if (column < 1 || column > kMaxColumns) return;
    if (m_widths.size() < column) m_widths.resize(column, 0);
    const double units = std::isfinite(characters) ? std::round(characters * 256.0) : 0.0;
    m_widths[column - 1u] = static_cast<uint16_t>(std::clamp(units, 0.0, 65535.0));
}

double Worksheet::ColumnWidth(uint16_t column) const {
    if (column < 1 || column > m_widths.size() || !m_widths[column - 1u]) return 0;
    return m_widths[column - 1u] / 256.0;
}

Worksheet::Format& Worksheet::FormatAt(uint32_t row, uint16_t column) {
    const uint32_t r = row - 1;
    const auto c = static_cast<uint16_t>(column - 1);
    auto it = std::lower_bound(m_formats.begin(), m_formats.end(), std::pair(r, c),
                               [](const Format& a, const std::pair<uint32_t, uint16_t>& k) {
                                   return Before(a.row, a.column, k.first, k.second);
                               });
    if (it == m_formats.end() || it->row != r || it->column != c)
        it = m_formats.insert(it, Format{r, c, 0, false});
    return *it;
}

void Worksheet::SetTextFormat(uint32_t row, uint16_t column) {
    if (InSheet(row, column)) FormatAt(row, column).text = true;
}

bool Worksheet::SetHorizontalAlignment(uint32_t row, uint16_t column, int value) {
    const int code = AlignmentCode(value);
    if (!InSheet(row, column) || code < 0) return false;
    FormatAt(row, column).align = static_cast<uint8_t>(code);
    return true;
}

Workbook::Workbook() { m_sheets.emplace_back(QStringLiteral("Sheet1")); }

Worksheet& Workbook::AddSheet() {
    return m_sheets.emplace_back(QStringLiteral("Sheet%1").arg(m_sheets.size() + 1));
}

std::vector<uint8_t> Workbook::BuildStream() const { return BuildBiff8Stream(m_sheets); }

bool ReplaceFile(const QString& path, const std::function<bool(QIODevice&)>& write,
                 QString* error) {
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    auto failed = [&] {
        if (error) *error = file.errorString();
        return false;
    };
    if (!file.open()) return failed();
    if (!write(file) || !file.flush()) return failed();
    // The temporary file's own mode (0600) would hide the export from other users.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    if (std::rename(QFile::encodeName(file.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    file.setAutoRemove(false);  // it is the file at `path` now
    return true;
}

bool Workbook::SaveAs(const QString& path, QString* error) const {
    return ReplaceFile(
        path, [this](QIODevice& out) { return WriteCompoundFile(out, BuildStream()); }, error);
}

void Workbook::Close() {
    m_sheets.clear();
    m_sheets.emplace_back(QStringLiteral("Sheet1"));
}

}  // namespace r4t8::workbook
