"""Writes table files of the test file driver (drivers/flattest/flattest_format.h)
with rows, so that end-to-end tests can read known data before INSERT exists
and without depending on it.

Usage from a shell script:
    python3 flattest_tables.py DIR
writes the tables of standard_tables() into DIR."""

import datetime
import locale
import os
import shutil
import struct
import sys
import tempfile
import unittest

# The code set of this process's locale, which the drivers' narrow text
# crosses in: UTF-8, or Windows-1252 bytes under the C locale.
APP_ENCODING = "utf-8" if locale.nl_langinfo(locale.CODESET) == "UTF-8" else "cp1252"


def read_text_in_locale(cnxn):
    """Has pyodbc read character columns as SQL_C_CHAR in the locale's code
    set. With its defaults it asks for SQL_C_WCHAR, which unixODBC 2.3.11
    widens for an ODBC 2 driver counting one character a byte: a value with
    characters of several bytes comes with a U+0000 for each extra byte."""
    import pyodbc
    cnxn.setdecoding(pyodbc.SQL_CHAR, encoding=APP_ENCODING)


# Day number of 0001-01-01 in the engine's date form.
DAY_ONE = 1721426


def date_value(value):
    """A datetime.date or datetime.datetime as the engine's date double."""
    if isinstance(value, datetime.datetime):
        day = value.date().toordinal() - 1 + DAY_ONE
        seconds = value.hour * 3600 + value.minute * 60 + value.second
        return day + seconds / 86400.0
    return float(value.toordinal() - 1 + DAY_ONE)


def column_size(kind, width):
    return 1 + width + (4 if kind == "L" else 0)


def write_table(path, columns, rows):
    """columns: (name, type char, width, flags); rows: tuples of Python values,
    None for NULL."""
    header = bytearray(b"KVFTTBL1")
    header_bytes = 24 + 48 * len(columns)
    widths = []
    for name, kind, width, flags in columns:
        if kind == "I":
            width = 4
        elif kind in "DT":
            width = 8
        elif kind == "Y":
            width = 1
        widths.append(width)
    record_width = 1 + sum(column_size(c[1], w) for c, w in zip(columns, widths))
    header += struct.pack("<IIIHH", header_bytes, len(rows), record_width, len(columns), 0)
    for (name, kind, width, flags), w in zip(columns, widths):
        entry = name.encode("ascii").ljust(32, b"\0")
        entry += struct.pack("<cBH", kind.encode("ascii"), flags, w)
        entry += bytes(12)
        header += entry
    data = bytearray(header)
    for row in rows:
        record = bytearray(b" ")
        for (name, kind, width, flags), w, value in zip(columns, widths, row):
            if value is None:
                record += b"\1" + bytes(w + (4 if kind == "L" else 0))
                continue
            record += b"\0"
            if kind == "I":
                record += struct.pack("<i", value)
            elif kind == "D":
                record += struct.pack("<d", value)
            elif kind == "T":
                record += struct.pack("<d", date_value(value))
            elif kind == "Y":
                record += b"\1" if value else b"\0"
            elif kind == "C":
                record += value.encode("cp1252").ljust(w, b" ")[:w]
            elif kind == "B":
                record += bytes(value).ljust(w, b"\0")[:w]
            elif kind == "L":
                raw = value.encode("cp1252") if isinstance(value, str) else bytes(value)
                record += struct.pack("<I", len(raw)) + raw.ljust(w, b"\0")[:w]
        data += record
    with open(path, "wb") as f:
        f.write(data)


EMP_COLUMNS = [("ID", "I", 4, 0x3), ("NAME", "C", 10, 0x1), ("SAL", "D", 8, 0), ("HIRED", "T", 8, 0),
               ("ACTIVE", "Y", 1, 0), ("NOTE", "L", 100, 0), ("CODE", "B", 2, 0)]
EMP_ROWS = [
    (1, "SMITH", 1000.5, datetime.date(1995, 7, 4), True, "first of all", b"\x01\xab"),
    (2, "JONES", 2000.0, datetime.date(2000, 2, 29), False, "x" * 25, b"AB"),
    (3, "caf\u00e9", None, None, None, None, None),
    (4, "ADAMS", 150.25, datetime.datetime(1999, 12, 31, 23, 59, 59), True, "", b"\0\0"),
]
DEPT_COLUMNS = [("ID", "I", 4, 0), ("TITLE", "C", 12, 0)]
DEPT_ROWS = [(1, "Accounting"), (2, "Sales"), (9, "Nobody")]
# Long texts longer than any piece a fetch reads at once. (Text read by an
# application as SQL_C_WCHAR is widened by the Driver Manager with the
# locale's character set, not the driver: only characters that Latin-1 and
# Windows-1252 share read back the same under every locale.)
MEMO_COLUMNS = [("ID", "I", 4, 0), ("BODY", "L", 4000, 0)]
MEMO_ROWS = [(1, "caf\u00e9 cr\u00e8me " * 200), (2, "".join(chr(65 + i % 26) for i in range(3000)))]


def standard_tables(directory):
    write_table(f"{directory}/emp.ftt", EMP_COLUMNS, EMP_ROWS)
    write_table(f"{directory}/dept.ftt", DEPT_COLUMNS, DEPT_ROWS)
    write_table(f"{directory}/memo.ftt", MEMO_COLUMNS, MEMO_ROWS)


if __name__ == "__main__":
    standard_tables(sys.argv[1])


def private_configuration(directory, drivers, sources):
    """Makes directory the unixODBC configuration of this process: drivers
    as the text of its odbcinst.ini, sources as the text of its odbc.ini, an
    empty user.ini, and ODBCSYSINI and ODBCINI pointing there."""
    with open(os.path.join(directory, "odbcinst.ini"), "w") as f:
        f.write(drivers)
    with open(os.path.join(directory, "odbc.ini"), "w") as f:
        f.write(sources)
    open(os.path.join(directory, "user.ini"), "w").close()
    os.environ["ODBCSYSINI"] = directory
    os.environ["ODBCINI"] = os.path.join(directory, "user.ini")


def private_data_source(prefix, driver, setup=False, keys=""):
    """A temporary directory for one test class: an empty data/ for its
    tables, odbcinst.ini naming the test file driver (and the same library
    as its setup library when setup), odbc.ini with the data source Files
    over data/ (and the further lines keys), and ODBCSYSINI and ODBCINI
    pointing there. Returns (directory, data directory); the caller removes
    the directory."""
    directory = tempfile.mkdtemp(prefix=prefix)
    data = os.path.join(directory, "data")
    os.mkdir(data)
    setup_line = f"Setup={driver}\n" if setup else ""
    private_configuration(directory, f"[KvFlatTest]\nDriver={driver}\n{setup_line}",
                          f"[Files]\nDriver=KvFlatTest\nDatabase={data}\n{keys}")
    return directory, data


class DataSourceTest(unittest.TestCase):
    """A test class over a private data source of the test file driver (the
    library KV_FLATTEST_DRIVER names): setUpClass makes it in a directory
    named after PREFIX, with the further arguments SOURCE of
    private_data_source, and writes the class's tables through
    tables(data) (the standard tables when STANDARD_TABLES is set);
    tearDownClass removes it."""

    PREFIX = "kvflat"
    SOURCE = {}
    STANDARD_TABLES = False

    @classmethod
    def setUpClass(cls):
        cls.dir, cls.data = private_data_source(cls.PREFIX, os.environ["KV_FLATTEST_DRIVER"], **cls.SOURCE)
        cls.tables(cls.data)

    @classmethod
    def tables(cls, data):
        """Writes the class's tables into the data directory."""
        if cls.STANDARD_TABLES:
            standard_tables(data)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)


class CursorTest(DataSourceTest):
    """A DataSourceTest whose every test has a connection to Files with
    pyodbc's default settings (self.cnxn) and a cursor of it (self.cursor)."""

    def setUp(self):
        import pyodbc
        self.cnxn = pyodbc.connect("DSN=Files")
        self.cursor = self.cnxn.cursor()

    def tearDown(self):
        self.cnxn.close()
