"""Statements with parameters from pyodbc through the unixODBC Driver Manager
against the test driver's table ITEMS (drivers/test/test_items.h): execute
and executemany with pyodbc's default bindings (str as SQL_C_WCHAR with
SQL_WVARCHAR, int, float, date, None, bytes) and with text sent as
SQL_C_CHAR. Row counts of UPDATE and DELETE show which rows a value
matched, so a value that arrived changed finds no row."""

import datetime
import unittest

import pyodbc

from pyodbc_connect_test import PrivateOdbcTest


class PyodbcParamsTest(PrivateOdbcTest):
    DATA_SOURCES = "[Items]\nDriver=KvTest\n"

    def connect(self, narrow=False):
        cnxn = pyodbc.connect("DSN=Items", autocommit=True)
        if narrow:
            cnxn.setdecoding(pyodbc.SQL_CHAR, encoding="latin1")
            cnxn.setdecoding(pyodbc.SQL_WCHAR, encoding="latin1", ctype=pyodbc.SQL_CHAR)
            cnxn.setencoding(encoding="latin1", ctype=pyodbc.SQL_CHAR)
        return cnxn

    def check_round_trip(self, narrow):
        cnxn = self.connect(narrow)
        cursor = cnxn.cursor()
        made = datetime.date(1999, 12, 31)
        insert = "INSERT INTO ITEMS (ID, NAME, PRICE, MADE, DATA) VALUES (?, ?, ?, ?, ?)"
        self.assertEqual(cursor.execute(insert, 1, "O'Brien", 2.5, made, b"\x00\xff").rowcount, 1)
        self.assertEqual(cursor.execute(insert, 2, None, None, None, None).rowcount, 1)
        # Every value arrived as it was sent: each matches its row exactly.
        match = "UPDATE ITEMS SET PRICE = ? WHERE ID = ? AND NAME = ? AND MADE = ? AND DATA = ?"
        self.assertEqual(cursor.execute(match, 3.5, 1, "O'Brien", made, b"\x00\xff").rowcount, 1)
        self.assertEqual(cursor.execute(match, 3.5, 1, "O'Brie", made, b"\x00\xff").rowcount, 0)
        self.assertEqual(cursor.execute("UPDATE ITEMS SET PRICE = 1 WHERE ID = ? AND PRICE = ?", 1, 3.5).rowcount, 1)
        self.assertEqual(cursor.execute("UPDATE ITEMS SET ID = 2 WHERE ID = 2 AND NAME IS NULL").rowcount, 1,
                         "None arrived as NULL")
        self.assertEqual(cursor.execute("UPDATE ITEMS SET NAME = ? WHERE ID = ?", None, 1).rowcount, 1)
        self.assertEqual(cursor.execute("DELETE FROM ITEMS WHERE NAME IS NULL").rowcount, 2)
        cnxn.close()

    def test_round_trip_with_default_bindings(self):
        self.check_round_trip(narrow=False)

    def test_round_trip_with_narrow_text(self):
        self.check_round_trip(narrow=True)

    def test_select_with_parameters_reads_the_values_back(self):
        for narrow in (False, True):
            cnxn = self.connect(narrow)
            cursor = cnxn.cursor()
            made = datetime.date(2001, 2, 3)
            cursor.executemany("INSERT INTO ITEMS (ID, NAME, PRICE, MADE, DATA) VALUES (?, ?, ?, ?, ?)",
                               [(1, "O'Neil", 1.25, made, b"\x01\x02"), (2, None, None, None, None)])
            row = cursor.execute("SELECT ID, NAME, PRICE, MADE, DATA FROM ITEMS WHERE NAME = ? AND ID = ?",
                                 "O'Neil", 1).fetchone()
            self.assertEqual(tuple(row), (1, "O'Neil", 1.25, made, b"\x01\x02"))
            rows = cursor.execute("SELECT ID, NAME FROM ITEMS WHERE NAME IS NULL").fetchall()
            self.assertEqual([tuple(r) for r in rows], [(2, None)])
            self.assertEqual(cursor.execute("SELECT ID FROM ITEMS WHERE ID = ?", 3).fetchall(), [])
            self.assertEqual(cursor.execute("DELETE FROM ITEMS").rowcount, 2)
            cnxn.close()

    def test_executemany_counts_every_row(self):
        cnxn = self.connect()
        cursor = cnxn.cursor()
        rows = [(10, "a"), (11, "bb"), (12, None), (13, "dddd"), (2 ** 40 % 1000, "e")]
        cursor.executemany("INSERT INTO ITEMS (ID, NAME) VALUES (?, ?)", rows)
        self.assertEqual(cursor.execute("DELETE FROM ITEMS WHERE ID = ?", 11).rowcount, 1)
        self.assertEqual(cursor.execute("DELETE FROM ITEMS").rowcount, 4)
        cnxn.close()

    def test_a_long_text_arrives_whole(self):
        cnxn = self.connect()
        cursor = cnxn.cursor()
        note = "".join(chr(ord("a") + i % 26) for i in range(20000))
        cursor.execute("INSERT INTO ITEMS (ID, NOTE) VALUES (?, ?)", 7, note)
        self.assertEqual(cursor.execute("DELETE FROM ITEMS WHERE NOTE LIKE ?", note[:-1] + "!").rowcount, 0)
        self.assertEqual(cursor.execute("DELETE FROM ITEMS WHERE NOTE LIKE ?", note).rowcount, 1)
        cnxn.close()

    def test_a_character_the_data_source_lacks_is_an_error(self):
        cnxn = self.connect()
        with self.assertRaises(pyodbc.Error) as raised:
            cnxn.cursor().execute("INSERT INTO ITEMS (ID, NAME) VALUES (?, ?)", 1, "\u03a9")
        self.assertIn("U+03A9", str(raised.exception))
        self.assertEqual(cnxn.cursor().execute("DELETE FROM ITEMS").rowcount, 0, "nothing was inserted")
        cnxn.close()


if __name__ == "__main__":
    unittest.main()
