"""Result columns and fetching from pyodbc, an ODBC 3 application with its
default settings and with the driver's own character set, on the test
driver's fixed tables (drivers/test/test_table.h).

With its defaults pyodbc asks for character columns as SQL_C_WCHAR. For an
ODBC 2 driver unixODBC 2.3.11 passes that on as SQL_C_CHAR with half the
buffer and widens the answer itself; its widening writes one UTF-16 unit past
the application's buffer whenever the answer fills the halved buffer (it
converts the terminator too, then terminates again), so a value of 2047
characters or more cannot be read safely that way whatever an ODBC 2 driver
answers: pyodbc only grows its 4096-byte buffer when told of more data than it
offered, and then the widening overruns it. Its widening also reads the bytes
in the application's locale and counts one character a byte. Row 1 of ALLTYPES
holds a 5003-character text, so the default path reads the other rows, and
the whole table is read with the locale's character set declared
(setdecoding: SQL_C_CHAR pieces, decoded by pyodbc as the driver wrote them)."""

import datetime
import decimal
import unittest

import pyodbc

import flattest_tables
from pyodbc_connect_test import PrivateOdbcTest


def long_text():
    """Row 1's NOTES: numbered phrases cut to 5000 characters, then "END"."""
    text, i = "", 0
    while len(text) < 5000:
        text += f"line {i} of the notes; "
        i += 1
    return text[:5000] + "END"


class PyodbcFetchTest(PrivateOdbcTest):
    DATA_SOURCES = "[Plain]\nDriver=KvTest\nDriverName=Plain\n"

    def test_description_of_every_type(self):
        cnxn = pyodbc.connect("DSN=Plain", autocommit=True)
        cursor = cnxn.cursor().execute("SELECT * FROM ALLTYPES")
        described = {d[0]: (d[1], d[4], d[5], d[6]) for d in cursor.description}
        self.assertEqual(described["ID"], (int, 10, 0, False))
        self.assertEqual(described["SMALL"][0], int)
        self.assertEqual(described["DBL"][0], float)
        self.assertEqual(described["PACKED"], (decimal.Decimal, 9, 2, True))
        self.assertEqual(described["DAY"][0], datetime.date)
        self.assertEqual(described["TIMEV"][0], datetime.time)
        self.assertEqual(described["STAMP"][0], datetime.datetime)
        for name in ("CODE", "NAME", "NOTES"):
            self.assertEqual(described[name][0], str, name)
        for name in ("DATA", "BLOB"):
            self.assertEqual(described[name][0], bytearray, name)
        cnxn.close()

    def test_every_column_of_every_row_in_the_drivers_character_set(self):
        cnxn = pyodbc.connect("DSN=Plain", autocommit=True)
        flattest_tables.read_text_in_locale(cnxn)
        rows = cnxn.cursor().execute("SELECT * FROM ALLTYPES").fetchall()
        self.assertEqual(len(rows), 3)
        first = rows[0]
        self.assertEqual(
            tuple(first)[:18],
            (1, True, -5, 200, -1234, 60000, self.ulong(4000000000), -9000000000000, 10000000000,
             decimal.Decimal("1234567.89"), decimal.Decimal("123456.789"), 1.5, 3.25,
             datetime.date(2024, 2, 29), datetime.time(13, 45, 30),
             datetime.datetime(2024, 2, 29, 13, 45, 30, 123000), "ABC       ", "caf\xe9"))
        self.assertEqual(first.NOTES, long_text())
        self.assertEqual(first.DATA, b"\x00\x01\xfe\xff")
        self.assertEqual(first.BLOB, bytes(i & 0xFF for i in range(300)))
        self.assertEqual(tuple(rows[1]), (2,) + (None,) * 20)
        self.assertEqual(tuple(rows[2])[16:], ("          ", "", "short", b"", b"\x7f"))
        cnxn.close()

    def test_rows_without_long_text_with_the_defaults(self):
        cnxn = pyodbc.connect("DSN=Plain", autocommit=True)
        cursor = cnxn.cursor().execute("SELECT * FROM ALLTYPES")
        cursor.skip(1)
        null_row, edges = cursor.fetchall()
        self.assertEqual(tuple(null_row), (2,) + (None,) * 20)
        self.assertEqual(
            tuple(edges),
            (3, False, 127, 0, 32767, 0, 0, 9223372036854775807, 0, decimal.Decimal("-0.01"),
             decimal.Decimal("-0.500"), -2.5, -1e100, datetime.date(1900, 1, 1), datetime.time(0, 0),
             datetime.datetime(1999, 12, 31, 23, 59, 59), "          ", "", "short", b"", b"\x7f"))
        cnxn.close()

    @staticmethod
    def ulong(value):
        # pyodbc asks for an unsigned INTEGER column as SQL_C_ULONG and gets
        # the unsigned value, then makes its Python int through a signed
        # 32-bit integer: 4000000000 arrives as -294967296.
        return value - (1 << 32) if value >= (1 << 31) else value

    def test_rows_of_numbers(self):
        cnxn = pyodbc.connect("DSN=Plain", autocommit=True)
        rows = cnxn.cursor().execute("SELECT N FROM NUMBERS 30").fetchall()
        self.assertEqual([r.N for r in rows], list(range(1, 31)))
        cnxn.close()


if __name__ == "__main__":
    unittest.main()
