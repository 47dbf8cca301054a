// A small in-memory workbook of text cells that saves itself as an Excel 97-2003 (.xls) file:
// what the history export needs of a spreadsheet, without one.
#pragma once

#include <QIODevice>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace r4t8::workbook {

// The automation value for a centred cell ("HorizontalAlignment" := 3).
constexpr int kAlignCentre = 3;

// One sheet: text cells addressed from (1, 1), as the spreadsheet's automation does.
class Worksheet {
  public:
    static constexpr uint32_t kMaxRows = 65536;  // the file format's limit
    static constexpr uint16_t kMaxColumns = 256;
    static constexpr int kMaxTextLength = 32767;  // longer texts are cut

    explicit Worksheet(QString name) : m_name(std::move(name)) {}

    const QString& Name() const { return m_name; }
    // Room for this many cells and UTF-16 units of text, so that a large table is written
    // without reallocations.
    void Reserve(size_t cells, size_t textUnits) {
        m_cells.reserve(cells);
        m_text.reserve(textUnits);
    }

    // Writes the text of a cell; an empty text clears it. False when the cell lies outside
    // the sheet.
    bool SetCell(uint32_t row, uint16_t column, QStringView text);
    // The cell's text; empty for an empty cell.
    QString CellText(uint32_t row, uint16_t column) const;

    // Width in characters ("ColumnWidth"); 0 or less: back to the default.
    void SetColumnWidth(uint16_t column, double characters);
    double ColumnWidth(uint16_t column) const;
    // "numberformatlocal" := "@": the cell shows its content as text.
    void SetTextFormat(uint32_t row, uint16_t column);
    // "HorizontalAlignment" := value (1 general, 2 left, 3 centre, 4 right, 5 fill,
    // 6 justify, 7 centre across selection; the named constants -4131, -4108, -4152, -4130
    // are accepted too). False for any other value.
    bool SetHorizontalAlignment(uint32_t row, uint16_t column, int value);

    // Cells as they go into the file: in row, then column order, the last write winning.
    struct Cell {
        uint32_t row;         // from 0
        uint16_t column;      // from 0
        uint32_t textOffset;  // into Text()
        uint32_t textLength;  // 0: a formatted cell without a value
    };
    struct Format {
        uint32_t row;     // from 0
        uint16_t column;  // from 0
        uint8_t align;    // the file's horizontal alignment code, 0 = general
        bool text;
    };
    const std::vector<Cell>& Cells() const;
    const std::u16string& Text() const { return m_text; }
    const std::vector<Format>& Formats() const { return m_formats; }
    // Column widths in 1/256 of a character, indexed from 0; 0 = default.
    const std::vector<uint16_t>& Widths() const { return m_widths; }

  private:
    Format& FormatAt(uint32_t row, uint16_t column);
    void Normalise() const;

    QString m_name;
    // Mutable: reading back sorts the cells written out of order once.
    mutable std::vector<Cell> m_cells;
    mutable bool m_ordered = true;
    std::u16string m_text;
    std::vector<Format> m_formats;
    std::vector<uint16_t> m_widths;
};

// Writes a file through a temporary file beside it that is renamed over `path` once
// complete, so a failed write never leaves a partial file and an existing one stays until
// then. Not synced to disk: that would cost more than the export itself.
bool ReplaceFile(const QString& path, const std::function<bool(QIODevice&)>& write,
                 QString* error = nullptr);

// A workbook as the export uses it: "workBooks.Add", the sheets, "saveas", "close".
class Workbook {
  public:
    Workbook();  // one sheet, "Sheet1"

    int SheetCount() const { return static_cast<int>(m_sheets.size()); }
    Worksheet& Sheet(int index) { return m_sheets[static_cast<size_t>(index)]; }
    const Worksheet& Sheet(int index) const { return m_sheets[static_cast<size_t>(index)]; }
    // Appends "Sheet" + its number.
    Worksheet& AddSheet();

    // Writes the file (replacing it only when the whole file was written). On failure
    // returns false and, when error is given, says why.
    bool SaveAs(const QString& path, QString* error = nullptr) const;
    // Drops every sheet's content; the workbook is then a new one again. There is no
    // application to quit beside it.
    void Close();

    // The "Workbook" stream (the records of the file, without the compound-file wrapper).
    std::vector<uint8_t> BuildStream() const;

  private:
    std::deque<Worksheet> m_sheets;  // deque: references stay valid as sheets are added
};

}  // namespace r4t8::workbook
