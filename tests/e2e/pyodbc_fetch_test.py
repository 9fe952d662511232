"""Result columns and fetching from pyodbc, an ODBC 3 application with its
default settings, on the test driver's fixed tables
(drivers/test/test_table.h). pyodbc reads character columns as SQL_C_WCHAR,
which the driver converts from Windows-1252 to UTF-16LE."""

import datetime
import decimal
import unittest

import pyodbc

from pyodbc_connect_test import PrivateOdbc


class PyodbcFetchTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.odbc = PrivateOdbc("[Plain]\nDriver=KvTest\nDriverName=Plain\n")

    @classmethod
    def tearDownClass(cls):
        cls.odbc.remove()

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

    def test_rows_of_numbers(self):
        cnxn = pyodbc.connect("DSN=Plain", autocommit=True)
        rows = cnxn.cursor().execute("SELECT N FROM NUMBERS 30").fetchall()
        self.assertEqual([r.N for r in rows], list(range(1, 31)))
        cnxn.close()


if __name__ == "__main__":
    unittest.main()
