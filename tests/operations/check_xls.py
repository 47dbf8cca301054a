"""Checks a workbook written by the export with an independent reader (xlrd).

Usage: check_xls.py WORKBOOK EXPECTATION.json
The expectation lists the sheets in order, each with its rows of cell texts ("" for an
empty cell), the column widths in 1/256 of a character, the cells that are centred and the
cells with the text number format "@" (rows and columns from 0). Prints OK, or what differs.
"""
import json
import sys

import xlrd


def main():
    path, expectation = sys.argv[1], sys.argv[2]
    with open(expectation, encoding="utf-8") as f:
        want = json.load(f)
    book = xlrd.open_workbook(path, formatting_info=True)
    problems = []
    if book.biff_version != 80:
        problems.append("biff_version %r" % book.biff_version)
    if book.nsheets != len(want["sheets"]):
        problems.append("%d sheets, want %d" % (book.nsheets, len(want["sheets"])))
    for index, ws in enumerate(want["sheets"][: book.nsheets]):
        sheet = book.sheet_by_index(index)
        where = sheet.name
        if sheet.name != ws["name"]:
            problems.append("sheet %d named %r, want %r" % (index, sheet.name, ws["name"]))
        rows = ws["rows"]
        if sheet.nrows != len(rows):
            problems.append("%s: %d rows, want %d" % (where, sheet.nrows, len(rows)))
        for r, row in enumerate(rows[: sheet.nrows]):
            for c, text in enumerate(row):
                if c >= sheet.ncols:
                    ctype, value = xlrd.XL_CELL_EMPTY, ""
                else:
                    ctype, value = sheet.cell_type(r, c), sheet.cell_value(r, c)
                if text == "":
                    ok = ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK)
                else:
                    ok = ctype == xlrd.XL_CELL_TEXT and value == text
                if not ok:
                    problems.append("%s (%d,%d): %r type %d, want %r" % (where, r, c, value, ctype, text))
            if len(problems) > 20:
                break
        widths = {int(k): v for k, v in ws.get("widths", {}).items()}
        got = {c: info.width for c, info in sheet.colinfo_map.items()}
        if got != widths:
            problems.append("%s widths %r, want %r" % (where, got, widths))
        centred = {tuple(x) for x in ws.get("centred", [])}
        texts = {tuple(x) for x in ws.get("text_format", [])}
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                xf = book.xf_list[sheet.cell_xf_index(r, c)]
                align = xf.alignment.hor_align
                if (align == 2) != ((r, c) in centred):
                    problems.append("%s (%d,%d) alignment %d" % (where, r, c, align))
                fmt = book.format_map[xf.format_key].format_str
                if (fmt == "@") != ((r, c) in texts):
                    problems.append("%s (%d,%d) format %r" % (where, r, c, fmt))
            if r > 3:
                break  # formats are only set in the first rows
    if problems:
        print("\n".join(problems[:30]))
        return 1
    print("OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
