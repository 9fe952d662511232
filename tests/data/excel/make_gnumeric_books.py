#!/usr/bin/env python3
"""Writes the Excel 5 workbooks of this folder with gnumeric's ssconvert.

Each workbook is described here as gnumeric's own XML, written to a scratch
folder and converted with
    ssconvert --export-type=Gnumeric_Excel:excel_biff7 <name>.gnumeric <name>.xls
(excel_biff8 for the Excel 97 workbook). Run from this folder:
    /usr/bin/python3 make_gnumeric_books.py
"""
import os
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape

# A cell: (row, column, value); a str starting with "=" is a formula, other
# str a text, bool a boolean, int/float a number.
def cell_xml(row, col, value):
    if isinstance(value, bool):
        return f'<gnm:Cell Row="{row}" Col="{col}" ValueType="20">{"TRUE" if value else "FALSE"}</gnm:Cell>'
    if isinstance(value, (int, float)):
        return f'<gnm:Cell Row="{row}" Col="{col}" ValueType="40">{value!r}</gnm:Cell>'
    if value.startswith("="):
        return f'<gnm:Cell Row="{row}" Col="{col}">{escape(value)}</gnm:Cell>'
    return f'<gnm:Cell Row="{row}" Col="{col}" ValueType="60">{escape(value)}</gnm:Cell>'


def sheet_xml(name, cells, formats, local_names=()):
    styles = "".join(
        f'<gnm:StyleRegion startCol="{c}" startRow="0" endCol="{c}" endRow="65535">'
        f'<gnm:Style Format="{escape(f)}"/></gnm:StyleRegion>' for c, f in formats)
    names = "".join(f"<gnm:Name><gnm:name>{n}</gnm:name><gnm:value>{escape(v)}</gnm:value>"
                    "<gnm:position>A1</gnm:position></gnm:Name>" for n, v in local_names)
    rows = max(r for r, _, _ in cells)
    cols = max(c for _, c, _ in cells)
    return (f"<gnm:Sheet><gnm:Name>{name}</gnm:Name><gnm:MaxCol>{cols}</gnm:MaxCol><gnm:MaxRow>{rows}</gnm:MaxRow>"
            + (f"<gnm:Names>{names}</gnm:Names>" if names else "")
            + f"<gnm:Styles>{styles}</gnm:Styles><gnm:Cells>"
            + "".join(cell_xml(*c) for c in cells) + "</gnm:Cells></gnm:Sheet>")


def book_xml(sheets, names):
    index = "".join(f"<gnm:SheetName>{s[0]}</gnm:SheetName>" for s in sheets)
    defined = "".join(f"<gnm:Name><gnm:name>{n}</gnm:name><gnm:value>{escape(v)}</gnm:value>"
                      "<gnm:position>A1</gnm:position></gnm:Name>" for n, v in names)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<gnm:Workbook xmlns:gnm="http://www.gnumeric.org/v10.dtd">'
            + f"<gnm:SheetNameIndex>{index}</gnm:SheetNameIndex><gnm:Names>{defined}</gnm:Names>"
            + "<gnm:Sheets>" + "".join(sheet_xml(*s) for s in sheets) + "</gnm:Sheets></gnm:Workbook>\n")


SALES_CELLS = [
    (0, 0, "Name"), (0, 1, "Qty"), (0, 2, "Total"), (0, 3, "Sold"), (0, 4, "Paid"), (0, 5, "When"), (0, 6, "At"),
    (1, 0, "Apple"), (1, 1, 3), (1, 2, "=B2*1.5"), (1, 3, 45366), (1, 4, True), (1, 5, 45366.75), (1, 6, 0.5),
    (2, 0, '=CONCATENATE("Pe","ar")'), (2, 1, 10.25), (2, 2, "=B3*1.5"), (2, 3, 36526), (2, 4, False),
    (2, 5, 1.25), (2, 6, 0.999999),
    (4, 0, "Plum"), (4, 1, -2), (4, 2, "=1/0"), (4, 3, 1), (4, 6, 0.25),
    (5, 0, "Kiwi"), (5, 1, 3.14159), (5, 4, "=B6>3"),
    (7, 0, "after the area"), (7, 1, 99),
]
SALES_FORMATS = [(3, "m/d/yy"), (5, "yyyy-mm-dd hh:mm"), (6, "hh:mm:ss")]
OTHER_CELLS = [(0, 0, "Item"), (0, 1, "Count"), (1, 0, "Bolt"), (1, 1, 100), (2, 0, "Nut"), (2, 1, 250)]
SALES_NAMES = [
    ("Sales", "Sheet1!$A$1:$G$6"),
    ("lower", "Sheet1!$A$1:$B$3"),
    ("One", "Sheet1!$A$1"),
    ("Relative", "Sheet1!A1:B3"),
    ("Both", "Sheet1:Other!$A$1:$B$2"),
    ("Stock", "Other!$A$1:$B$3"),
    ("Noheads", "Sheet1!$A$2:$C$3"),
    ("LongNameOfFortyCharactersForTheTest12345", "Sheet1!$A$1:$B$3"),
    ("LongNameOfFortyCharactersForThe", "Other!$A$1:$B$3"),
]

BOOKS = {
    "sales.xls": ("excel_biff7", book_xml(
        [("Sheet1", SALES_CELLS, SALES_FORMATS, [("Local", "Sheet1!$A$1:$B$3")]), ("Other", OTHER_CELLS, [])],
        SALES_NAMES)),
    "sales97.xls": ("excel_biff8", book_xml([("Sheet1", OTHER_CELLS, [])], [("Stock", "Sheet1!$A$1:$B$3")])),
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    only = sys.argv[1:]
    with tempfile.TemporaryDirectory() as scratch:
        for name, (export, xml) in BOOKS.items():
            if only and name not in only:
                continue
            source = os.path.join(scratch, name.replace(".xls", ".gnumeric"))
            with open(source, "w", encoding="utf-8") as f:
                f.write(xml)
            subprocess.run(["ssconvert", "--export-type=Gnumeric_Excel:" + export, source,
                            os.path.join(here, name)], check=True)


if __name__ == "__main__":
    main()
