#!/usr/bin/env python3
"""Writes the Excel 5 workbooks of this folder that are built record by record
from the BIFF5 layout rather than by a spreadsheet program: cell layouts
that gnumeric does not write (MULRK records opening a table's rows, an
embedded chart substream between rows, the 1904 date system). The compound
file is version 3 with one FAT sector; "Book" is padded past 4096 bytes so
that it lives in sectors of its own. Run from this folder:
    /usr/bin/python3 make_built_books.py
"""
import os
import struct


def rec(rtype, data=b""):
    return struct.pack("<HH", rtype, len(data)) + data


def bof(kind):
    return rec(0x0809, struct.pack("<HHHH", 0x0500, kind, 0x096C, 0x07C9))


def xf(fmt):
    return rec(0x00E0, struct.pack("<HH", 0, fmt) + bytes(12))


def label(row, col, text, xfi=15):
    return rec(0x0204, struct.pack("<HHHH", row, col, xfi, len(text)) + text.encode("latin-1"))


def number(row, col, value, xfi=15):
    return rec(0x0203, struct.pack("<HHHd", row, col, xfi, value))


def rk_int(value):
    return (value << 2) | 2


def rk(row, col, value, xfi=15):
    return rec(0x027E, struct.pack("<HHHI", row, col, xfi, rk_int(value)))


def mulrk(row, col, entries):
    data = struct.pack("<HH", row, col)
    for xfi, value in entries:
        data += struct.pack("<HI", xfi, rk_int(value))
    return rec(0x00BD, data + struct.pack("<H", col + len(entries) - 1))


def name(text, sheet, row1, row2, col1, col2):
    formula = bytes([0x3B]) + struct.pack("<H", 0xFFFF) + bytes(8) + struct.pack("<HHHHBB", sheet, sheet, row1,
                                                                                 row2, col1, col2)
    return rec(0x0018, struct.pack("<HBBHHHBBBB", 0, 0, len(text), len(formula), 0, 0, 0, 0, 0, 0)
               + text.encode("latin-1") + formula)


def mulrk_book():
    """Data (A1:C6) on Sheet1, dates counted from 1904:
    row 0  A, B, When                  (LABEL)
    row 1  1, 2, 100 as a date         (one MULRK: the table's first row)
    row 2  5.5, 7                      (NUMBER, RK), then an embedded chart
           whose records 0x1003 and 0x100A share their low bytes with
           NUMBER and EOF
    row 3  empty
    row 4  -, 8, 101 as a date         (MULRK from column 1)
    row 5  9 in column 3, outside the area: no row of the table
    row 6  "below", 1                  (below the area)"""
    sheet = b"".join([
        bof(0x0010),
        label(0, 0, "A"), label(0, 1, "B"), label(0, 2, "When"),
        mulrk(1, 0, [(15, 1), (15, 2), (16, 100)]),
        number(2, 0, 5.5), rk(2, 1, 7),
        bof(0x0020), rec(0x1003, bytes(12)), rec(0x100A, bytes(10)), rec(0x000A),
        mulrk(4, 1, [(15, 8), (16, 101)]),
        rk(5, 3, 9),
        label(6, 0, "below"), rk(6, 1, 1),
        rec(0x000A),
    ])
    def globals_with(sheet_offset):
        return b"".join([
            bof(0x0005),
            rec(0x0042, struct.pack("<H", 1252)),
            rec(0x0022, struct.pack("<H", 1)),
            rec(0x041E, struct.pack("<HB", 164, 10) + b"yyyy-mm-dd"),
            b"".join(xf(0) for _ in range(16)), xf(164),
            rec(0x0085, struct.pack("<IBB", sheet_offset, 0, 0) + bytes([6]) + b"Sheet1"),
            name("Data", 0, 0, 5, 0, 2),
            rec(0x000A),
        ])
    head = globals_with(0)
    stream = globals_with(len(head)) + sheet
    return stream + bytes(max(0, 4608 - len(stream)))


def compound(stream_name, stream):
    """A version 3 compound file: header, FAT (sector 0), directory (1), the
    stream (2 on)."""
    end, free = 0xFFFFFFFE, 0xFFFFFFFF
    count = (len(stream) + 511) // 512
    fat = [0xFFFFFFFD, end] + [2 + i + 1 if i + 1 < count else end for i in range(count)]
    fat += [free] * (128 - len(fat))
    header = (bytes.fromhex("D0CF11E0A1B11AE1") + bytes(16) + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6)
              + bytes(10) + struct.pack("<IIIIIIII", 1, 1, 0, 4096, end, 0, end, 0)
              + struct.pack("<I", 0) + struct.pack("<I", free) * 108)

    def entry(text, etype, child, right, start, size):
        encoded = text.encode("utf-16-le")
        return (encoded + bytes(64 - len(encoded)) + struct.pack("<HBB", len(encoded) + 2, etype, 1)
                + struct.pack("<III", free, right, child) + bytes(36) + struct.pack("<II", start, size) + bytes(4))

    directory = (entry("Root Entry", 5, 1, free, end, 0) + entry(stream_name, 2, free, free, 2, len(stream))
                 + bytes(256))
    body = struct.pack("<128I", *fat) + directory + stream + bytes(count * 512 - len(stream))
    return header + body


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "mulrk1904.xls"), "wb") as f:
        f.write(compound("Book", mulrk_book()))


if __name__ == "__main__":
    main()
