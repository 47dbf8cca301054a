#include "Biff8.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

namespace r4t8::workbook {

namespace {

// Record types.
constexpr uint16_t kBof = 0x0809;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kCodepage = 0x0042;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kDateMode = 0x0022;
constexpr uint16_t kFont = 0x0031;
constexpr uint16_t kFormat = 0x041E;
constexpr uint16_t kXf = 0x00E0;
constexpr uint16_t kStyle = 0x0293;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kExtSst = 0x00FF;
constexpr uint16_t kDefColWidth = 0x0055;
constexpr uint16_t kColInfo = 0x007D;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kBlank = 0x0201;
constexpr uint16_t kWindow2 = 0x023E;

constexpr uint16_t kBiff8 = 0x0600;
constexpr uint16_t kUtf16Codepage = 1200;
constexpr uint16_t kTextFormatIndex = 49;  // the built-in "@"
constexpr uint16_t kStyleXfCount = 15;     // XFs 0..14 are style XFs, 15 the default cell XF
constexpr uint16_t kDefaultCellXf = 15;
constexpr int kFontCount = 5;  // read as fonts 0, 1, 2, 3 and 5: index 4 is never used

class Out {
  public:
    std::vector<uint8_t> bytes;

    size_t Size() const { return bytes.size(); }
    void U8(uint8_t v) { bytes.push_back(v); }
    void U16(uint16_t v) {
        const size_t at = bytes.size();
        bytes.resize(at + 2);
        bytes[at] = static_cast<uint8_t>(v);
        bytes[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void Patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    }
    // Record header; the length is filled in by End().
    void Begin(uint16_t type) {
        U16(type);
        m_lengthAt = bytes.size();
        U16(0);
    }
    void End() {
        const size_t n = bytes.size() - m_lengthAt - 2;
        bytes[m_lengthAt] = static_cast<uint8_t>(n);
        bytes[m_lengthAt + 1] = static_cast<uint8_t>(n >> 8);
    }
    size_t RecordDataSize() const { return bytes.size() - m_lengthAt - 2; }
    size_t RecordStart() const { return m_lengthAt - 2; }

    // Characters of a string, one byte each when every one fits in Latin-1.
    void Chars(const char16_t* p, size_t n, bool compressed) {
        const size_t at = bytes.size();
        bytes.resize(at + n * (compressed ? 1 : 2));
        uint8_t* o = bytes.data() + at;
        if (compressed) {
            for (size_t i = 0; i < n; ++i) o[i] = static_cast<uint8_t>(p[i]);
        } else {
            for (size_t i = 0; i < n; ++i) {
                o[2 * i] = static_cast<uint8_t>(p[i]);
                o[2 * i + 1] = static_cast<uint8_t>(p[i] >> 8);
            }
        }
    }

  private:
    size_t m_lengthAt = 0;
};

bool Compressible(const char16_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] > 0xFF) return false;
    return true;
}

// ShortXLUnicodeString: one-byte count, option flags, characters (names of fonts, sheets).
void ShortString(Out& out, std::u16string_view s) {
    const bool c = Compressible(s.data(), s.size());
    out.U8(static_cast<uint8_t>(s.size()));
    out.U8(c ? 0 : 1);
    out.Chars(s.data(), s.size(), c);
}

void Record(Out& out, uint16_t type, std::initializer_list<uint16_t> words) {
    out.Begin(type);
    for (uint16_t w : words) out.U16(w);
    out.End();
}

void Bof(Out& out, uint16_t substreamType) {
    out.Begin(kBof);
    out.U16(kBiff8);
    out.U16(substreamType);
    out.U16(0x0DBB);  // build
    out.U16(0x07CC);  // year
    out.U32(0);       // file history flags
    out.U32(0x0006);  // lowest version that can read all records
    out.End();
}

void Font(Out& out) {
    out.Begin(kFont);
    out.U16(200);     // height in twips: 10 points
    out.U16(0);       // no italic, no strike-out
    out.U16(0x7FFF);  // the window text colour
    out.U16(400);     // normal weight
    out.U16(0);       // no super- or subscript
    out.U8(0);        // no underline
    out.U8(0);        // family
    out.U8(0);        // character set
    out.U8(0);
    ShortString(out, u"Arial");
    out.End();
}

// One XF record. attrFlags: the attribute groups this XF sets itself (bits 2..7 of byte 9).
void Xf(Out& out, uint16_t font, uint16_t format, bool style, uint8_t align, uint8_t attrFlags) {
    out.Begin(kXf);
    out.U16(font);
    out.U16(format);
    // Locked; a style XF has no parent (0xFFF), a cell XF inherits from the Normal style.
    out.U16(style ? 0xFFF5 : 0x0001);
    out.U8(static_cast<uint8_t>(align | 0x20));  // vertical: bottom
    out.U8(0);                                   // no rotation
    out.U8(0);                                   // no indent, left-to-right context
    out.U8(attrFlags);
    out.U32(0);  // no borders
    out.U32(0);
    out.U16(0x20C0);  // pattern colours: window text / window back
    out.End();
}

struct XfKey {
    uint8_t align;
    bool text;
    bool operator==(const XfKey&) const = default;
};

// Writes the shared string table with its CONTINUE records; records the bucket starts for
// EXTSST as (stream position, offset within its record).
class SstWriter {
  public:
    SstWriter(Out& out, uint32_t total, uint32_t dsst) : m_out(out), m_dsst(dsst) {
        m_out.Begin(kSst);
        m_out.U32(total);
        m_out.U32(total);  // every string is stored once per cell
    }
    void Add(const char16_t* p, size_t n) {
        const bool c = Compressible(p, n);
        const size_t charSize = c ? 1 : 2;
        // The string's header (and at least one character) must not be split.
        if (Space() < 3 + (n ? charSize : 0)) Continue();
        if (m_count++ % m_dsst == 0)
            m_buckets.emplace_back(static_cast<uint32_t>(m_out.Size()),
                                   static_cast<uint16_t>(m_out.Size() - m_out.RecordStart()));
        m_out.U16(static_cast<uint16_t>(n));
        m_out.U8(c ? 0 : 1);
        for (;;) {
            const size_t fit = std::min(n, Space() / charSize);
            m_out.Chars(p, fit, c);
            p += fit;
            n -= fit;
            if (n == 0) break;
            // A split character array goes on after the option flags byte again.
            Continue();
            m_out.U8(c ? 0 : 1);
        }
    }
    void Finish() {
        m_out.End();
        m_out.Begin(kExtSst);
        m_out.U16(static_cast<uint16_t>(m_dsst));
        for (const auto& [ib, cb] : m_buckets) {
            m_out.U32(ib);
            m_out.U16(cb);
            m_out.U16(0);
        }
        m_out.End();
    }

  private:
    size_t Space() const { return kMaxRecordData - m_out.RecordDataSize(); }
    void Continue() {
        m_out.End();
        m_out.Begin(kContinue);
    }

    Out& m_out;
    uint32_t m_dsst;
    uint32_t m_count = 0;
    std::vector<std::pair<uint32_t, uint16_t>> m_buckets;
};

void Cells(Out& out, const Worksheet& sheet, const std::vector<XfKey>& xfKeys,
           uint32_t& nextString) {
    const auto& cells = sheet.Cells();
    const auto& formats = sheet.Formats();
    auto xfOf = [&](const Worksheet::Format& f) {
        const XfKey key{f.align, f.text};
        const auto it = std::find(xfKeys.begin(), xfKeys.end(), key);
        return static_cast<uint16_t>(kDefaultCellXf + 1 + (it - xfKeys.begin()));
    };
    size_t fi = 0;
    auto before = [](uint32_t r1, uint16_t c1, uint32_t r2, uint16_t c2) {
        return r1 < r2 || (r1 == r2 && c1 < c2);
    };
    for (size_t ci = 0; ci <= cells.size(); ++ci) {
        const bool haveCell = ci < cells.size();
        // Formatted cells without a value become BLANK records in their place.
        while (fi < formats.size() && (!haveCell || before(formats[fi].row, formats[fi].column,
                                                           cells[ci].row, cells[ci].column))) {
            Record(out, kBlank,
                   {static_cast<uint16_t>(formats[fi].row), formats[fi].column, xfOf(formats[fi])});
            ++fi;
        }
        if (!haveCell) break;
        const auto& cell = cells[ci];
        uint16_t xf = kDefaultCellXf;
        if (fi < formats.size() && formats[fi].row == cell.row && formats[fi].column == cell.column)
            xf = xfOf(formats[fi++]);
        out.Begin(kLabelSst);
        out.U16(static_cast<uint16_t>(cell.row));
        out.U16(cell.column);
        out.U16(xf);
        out.U32(nextString++);
        out.End();
    }
}

void SheetSubstream(Out& out, const Worksheet& sheet, bool first, const std::vector<XfKey>& xfKeys,
                    uint32_t& nextString) {
    Bof(out, 0x0010);
    Record(out, kDefColWidth, {8});
    const auto& widths = sheet.Widths();
    for (size_t c = 0; c < widths.size(); ++c) {
        if (!widths[c]) continue;
        out.Begin(kColInfo);
        out.U16(static_cast<uint16_t>(c));
        out.U16(static_cast<uint16_t>(c));
        out.U16(widths[c]);
        out.U16(kDefaultCellXf);
        out.U16(0x0002);  // custom width
        out.U16(0);
        out.End();
    }

    uint32_t rowFirst = UINT32_MAX, rowLast = 0;
    uint16_t colFirst = UINT16_MAX, colLast = 0;
    auto cover = [&](uint32_t r, uint16_t c) {
        rowFirst = std::min(rowFirst, r);
        rowLast = std::max(rowLast, r);
        colFirst = std::min(colFirst, c);
        colLast = std::max(colLast, c);
    };
    for (const auto& c : sheet.Cells()) cover(c.row, c.column);
    for (const auto& f : sheet.Formats()) cover(f.row, f.column);
    out.Begin(kDimensions);
    const bool empty = rowFirst == UINT32_MAX;
    out.U32(empty ? 0 : rowFirst);
    out.U32(empty ? 0 : rowLast + 1);
    out.U16(empty ? 0 : colFirst);
    out.U16(empty ? 0 : static_cast<uint16_t>(colLast + 1));
    out.U16(0);
    out.End();

    Cells(out, sheet, xfKeys, nextString);

    out.Begin(kWindow2);
    // Grid, headers, zeros, default grid colour, outline symbols; the first sheet is the
    // selected and shown one.
    out.U16(first ? 0x06B6 : 0x00B6);
    out.U16(0);
    out.U16(0);
    out.U32(0x40);  // grid colour: the default
    out.U16(0);
    out.U16(0);
    out.U32(0);
    out.End();
    Record(out, kEof, {});
}

}  // namespace

std::vector<uint8_t> BuildBiff8Stream(const std::deque<Worksheet>& sheets) {
    Out out;
    size_t strings = 0, textUnits = 0;
    std::vector<XfKey> xfKeys;
    for (const auto& s : sheets) {
        strings += s.Cells().size();
        for (const auto& c : s.Cells()) textUnits += c.textLength;
        for (const auto& f : s.Formats()) {
            const XfKey key{f.align, f.text};
            if (std::find(xfKeys.begin(), xfKeys.end(), key) == xfKeys.end()) xfKeys.push_back(key);
        }
    }
    // Room for the strings, their headers, the cell records and a margin for the rest.
    out.bytes.reserve(textUnits * 2 + strings * (3 + 14) + 8192);

    Bof(out, 0x0005);
    Record(out, kCodepage, {kUtf16Codepage});
    out.Begin(kWindow1);
    for (uint16_t w : {0, 0, 0x2EE0, 0x1B58, 0x0038, 0, 0, 1, 0x0258}) out.U16(w);
    out.End();
    Record(out, kDateMode, {0});
    for (int i = 0; i < kFontCount; ++i) Font(out);

    out.Begin(kFormat);
    out.U16(kTextFormatIndex);
    out.U16(1);
    out.U8(0);
    out.U8('@');
    out.End();

    Xf(out, 0, 0, true, 0, 0);
    for (uint16_t i = 1; i < kStyleXfCount; ++i)
        Xf(out, i <= 2 ? 1 : i <= 4 ? 2 : 0, 0, true, 0, 0xF4);
    Xf(out, 0, 0, false, 0, 0);
    for (const XfKey& k : xfKeys)
        Xf(out, 0, k.text ? kTextFormatIndex : 0, false, k.align,
           static_cast<uint8_t>((k.text ? 0x04 : 0) | (k.align ? 0x10 : 0)));

    Record(out, kStyle, {0x8000, 0xFF00});  // the built-in Normal style on XF 0

    std::vector<size_t> offsetAt;
    for (const auto& s : sheets) {
        out.Begin(kBoundSheet);
        offsetAt.push_back(out.Size());
        out.U32(0);  // stream position of the sheet's BOF, patched below
        out.U16(0);  // visible worksheet
        const QString& name = s.Name();
        ShortString(out,
                    std::u16string_view(reinterpret_cast<const char16_t*>(name.utf16()),
                                        static_cast<size_t>(std::min<qsizetype>(name.size(), 31))));
        out.End();
    }

    // Excel keeps EXTSST to at most 128 buckets of at least 8 strings.
    const uint32_t dsst = std::max<uint32_t>(8, static_cast<uint32_t>((strings + 127) / 128));
    SstWriter sst(out, static_cast<uint32_t>(strings), dsst);
    for (const auto& s : sheets)
        for (const auto& c : s.Cells()) sst.Add(s.Text().data() + c.textOffset, c.textLength);
    sst.Finish();
    Record(out, kEof, {});

    uint32_t nextString = 0;
    for (size_t i = 0; i < sheets.size(); ++i) {
        out.Patch32(offsetAt[i], static_cast<uint32_t>(out.Size()));
        SheetSubstream(out, sheets[i], i == 0, xfKeys, nextString);
    }
    return std::move(out.bytes);
}

}  // namespace r4t8::workbook
