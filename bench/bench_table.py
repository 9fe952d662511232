"""Writes the benchmark tables, the same rows in every form the benchmark
compares:

  BIG  (ID INTEGER, GRP INTEGER, AMOUNT DOUBLE, NAME CHAR(20)), ROWS rows;
       ID 1..ROWS (unique index), GRP 0..999, AMOUNT 0.00..9999.99,
       NAME "NAME" and 8 digits (not indexed);
  DEPT (GRP INTEGER, DNAME CHAR(20)), 1,000 rows, GRP 0..999 (unique index);
  INS  the shape of BIG, empty (unique index on ID): the INSERT target.

Forms: --flat DIR writes the test file driver's table files (big.ftt,
dept.ftt, ins.ftt; the layout of drivers/flattest/flattest_format.h);
--sqlite FILE a SQLite database with the same tables and indexes; --dbf DIR
dBASE III tables (big.dbf, dept.dbf: ID N(8,0), GRP N(4,0), AMOUNT N(10,2),
NAME C(20); DNAME C(20)) without index files; --empty-ins rewrites only the
empty INS table of the forms named.

--staff writes, instead of those, the table STAFF of the ORDER BY, GROUP BY
and fetch benchmark (ID N(8,0), NAME C(12), DEPT C(6), SAL N(6,0), HIRED D:
41 bytes a record) into the SQLite file and as staff.dbf into the --dbf
directory: ID 1..ROWS, NAME "N" and 8 digits in no order, DEPT one of 50,
SAL 0..9999, HIRED a day of 1990..2017.

The row function mirrors benchRow() of bench/odbc_bench.cpp, whose insert
mode adds rows of the same table.
"""

import argparse
import datetime
import os
import sqlite3
import struct

DEPTS = 1000


def bench_row(row_id):
    mixed = (row_id * 2654435761) & 0xFFFFFFFF
    grp = (mixed >> 12) % DEPTS
    amount = (mixed % 1000000) / 100.0
    name = "NAME%08u" % (((row_id * 40503 + 17) & 0xFFFFFFFF) % 100000000)
    return row_id, grp, amount, name


def dept_row(grp):
    return grp, "DEPT%04d" % grp


# ---- the test file driver's format

FLAT_INDEXED, FLAT_UNIQUE = 0x1, 0x2


def flat_sizes(columns):
    return [1 + width for _, _, width, _ in columns]


def write_flat(path, columns, rows):
    """columns: (name, type 'I'/'D'/'C', width, flags); rows: an iterable of
    tuples, written one at a time."""
    record_width = 1 + sum(flat_sizes(columns))
    header_bytes = 24 + 48 * len(columns)
    tmp = path + ".tmp"
    count = 0
    with open(tmp, "wb") as out:
        out.write(b"\0" * header_bytes)
        packers = []
        for _, kind, width, _ in columns:
            if kind == "I":
                packers.append(lambda v: struct.pack("<i", v))
            elif kind == "D":
                packers.append(lambda v: struct.pack("<d", v))
            else:
                packers.append(lambda v, w=width: v.encode("ascii").ljust(w, b" ")[:w])
        chunk = []
        for row in rows:
            parts = [b" "]
            for pack, value in zip(packers, row):
                parts.append(b"\0")
                parts.append(pack(value))
            chunk.append(b"".join(parts))
            count += 1
            if len(chunk) == 10000:
                out.write(b"".join(chunk))
                chunk = []
        out.write(b"".join(chunk))
        header = b"KVFTTBL1" + struct.pack("<IIIHH", header_bytes, count, record_width, len(columns), 0)
        for name, kind, width, flags in columns:
            header += name.encode("ascii").ljust(32, b"\0")
            header += struct.pack("<BBH", ord(kind), flags, width) + b"\0" * 12
        out.seek(0)
        out.write(header)
    os.replace(tmp, path)


BIG_FLAT = [("ID", "I", 4, FLAT_INDEXED | FLAT_UNIQUE), ("GRP", "I", 4, 0), ("AMOUNT", "D", 8, 0),
            ("NAME", "C", 20, 0)]
DEPT_FLAT = [("GRP", "I", 4, FLAT_INDEXED | FLAT_UNIQUE), ("DNAME", "C", 20, 0)]


def write_flat_tables(directory, rows, empty_ins_only):
    os.makedirs(directory, exist_ok=True)
    write_flat(os.path.join(directory, "ins.ftt"), BIG_FLAT, [])
    if empty_ins_only:
        return
    write_flat(os.path.join(directory, "big.ftt"), BIG_FLAT, (bench_row(i) for i in range(1, rows + 1)))
    write_flat(os.path.join(directory, "dept.ftt"), DEPT_FLAT, (dept_row(g) for g in range(DEPTS)))


# ---- SQLite

SQLITE_SCHEMA = """
CREATE TABLE BIG (ID INTEGER, GRP INTEGER, AMOUNT DOUBLE, NAME CHAR(20));
CREATE TABLE DEPT (GRP INTEGER, DNAME CHAR(20));
CREATE TABLE INS (ID INTEGER, GRP INTEGER, AMOUNT DOUBLE, NAME CHAR(20));
CREATE UNIQUE INDEX DEPT_GRP ON DEPT (GRP);
CREATE UNIQUE INDEX INS_ID ON INS (ID);
"""


def write_sqlite(path, rows, empty_ins_only):
    if empty_ins_only:
        db = sqlite3.connect(path)
        db.execute("DELETE FROM INS")
        db.commit()
        db.execute("VACUUM")
        db.close()
        return
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path)
    db.executescript(SQLITE_SCHEMA)
    db.executemany("INSERT INTO BIG VALUES (?, ?, ?, ?)", (bench_row(i) for i in range(1, rows + 1)))
    db.executemany("INSERT INTO DEPT VALUES (?, ?)", (dept_row(g) for g in range(DEPTS)))
    db.execute("CREATE UNIQUE INDEX BIG_ID ON BIG (ID)")
    db.commit()
    db.execute("ANALYZE")
    db.close()


# ---- dBASE III

def write_dbf(path, fields, rows):
    """fields: (name, type 'N'/'C'/'D', length, decimals); rows: an iterable."""
    record_length = 1 + sum(length for _, _, length, _ in fields)
    header_length = 32 + 32 * len(fields) + 1
    today = datetime.date.today()
    formats = []
    for _, kind, length, decimals in fields:
        if kind == "D":
            formats.append(lambda v: v.strftime("%Y%m%d").encode("ascii"))
        elif kind == "N":
            formats.append(lambda v, l=length, d=decimals: ("%*.*f" % (l, d, v)).encode("ascii"))
        else:
            formats.append(lambda v, l=length: v.encode("ascii").ljust(l, b" ")[:l])
    tmp = path + ".tmp"
    count = 0
    with open(tmp, "wb") as out:
        out.write(b"\0" * header_length)
        chunk = []
        for row in rows:
            chunk.append(b" " + b"".join(f(v) for f, v in zip(formats, row)))
            count += 1
            if len(chunk) == 10000:
                out.write(b"".join(chunk))
                chunk = []
        out.write(b"".join(chunk))
        out.write(b"\x1a")
        header = struct.pack("<BBBBIHH", 0x03, today.year - 1900, today.month, today.day, count, header_length,
                             record_length) + b"\0" * 20
        for name, kind, length, decimals in fields:
            header += name.encode("ascii").ljust(11, b"\0") + kind.encode("ascii") + b"\0" * 4
            header += struct.pack("<BB", length, decimals) + b"\0" * 14
        header += b"\x0d"
        out.seek(0)
        out.write(header)
    os.replace(tmp, path)


BIG_DBF = [("ID", "N", 8, 0), ("GRP", "N", 4, 0), ("AMOUNT", "N", 10, 2), ("NAME", "C", 20, 0)]
DEPT_DBF = [("GRP", "N", 4, 0), ("DNAME", "C", 20, 0)]


def write_dbf_tables(directory, rows):
    os.makedirs(directory, exist_ok=True)
    write_dbf(os.path.join(directory, "big.dbf"), BIG_DBF, (bench_row(i) for i in range(1, rows + 1)))
    write_dbf(os.path.join(directory, "dept.dbf"), DEPT_DBF, (dept_row(g) for g in range(DEPTS)))


# ---- the STAFF table

STAFF_DBF = [("ID", "N", 8, 0), ("NAME", "C", 12, 0), ("DEPT", "C", 6, 0), ("SAL", "N", 6, 0), ("HIRED", "D", 8, 0)]
STAFF_FIRST_DAY = datetime.date(1990, 1, 1).toordinal()


def staff_row(row_id):
    mixed = (row_id * 2654435761) & 0xFFFFFFFF
    name = "N%08u" % (((row_id * 40503 + 17) & 0xFFFFFFFF) % 100000000)
    dept = "D%03d" % ((mixed >> 8) % 50)
    salary = (mixed >> 3) % 10000
    hired = datetime.date.fromordinal(STAFF_FIRST_DAY + (mixed >> 16) % 10000)
    return row_id, name, dept, salary, hired


def write_staff(dbf_directory, sqlite_path, rows):
    if dbf_directory:
        os.makedirs(dbf_directory, exist_ok=True)
        write_dbf(os.path.join(dbf_directory, "staff.dbf"), STAFF_DBF, (staff_row(i) for i in range(1, rows + 1)))
    if sqlite_path:
        if os.path.exists(sqlite_path):
            os.remove(sqlite_path)
        db = sqlite3.connect(sqlite_path)
        db.execute("CREATE TABLE STAFF (ID INTEGER, NAME CHAR(12), DEPT CHAR(6), SAL INTEGER, HIRED DATE)")
        db.executemany("INSERT INTO STAFF VALUES (?, ?, ?, ?, ?)",
                       ((i, n, d, s, h.isoformat()) for i, n, d, s, h in (staff_row(r) for r in range(1, rows + 1))))
        db.commit()
        db.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=1000000)
    parser.add_argument("--flat", metavar="DIR")
    parser.add_argument("--sqlite", metavar="FILE")
    parser.add_argument("--dbf", metavar="DIR")
    parser.add_argument("--empty-ins", action="store_true")
    parser.add_argument("--staff", action="store_true")
    args = parser.parse_args()
    if not 1 <= args.rows <= 99999999:
        parser.error("--rows must be 1..99999999")
    if args.staff:
        write_staff(args.dbf, args.sqlite, args.rows)
        return
    if args.flat:
        write_flat_tables(args.flat, args.rows, args.empty_ins)
    if args.sqlite:
        write_sqlite(args.sqlite, args.rows, args.empty_ins)
    if args.dbf and not args.empty_ins:
        write_dbf_tables(args.dbf, args.rows)


if __name__ == "__main__":
    main()
