"""Catalog functions from pyodbc on the test driver's catalog
(drivers/test/test_catalog.h). pyodbc reads catalog rows by position, and
unixODBC passes the ODBC 2 column names through."""

import unittest

import pyodbc

from pyodbc_connect_test import PrivateOdbcTest


class PyodbcCatalogTest(PrivateOdbcTest):
    DATA_SOURCES = "[Cat]\nDriver=KvTest\nDriverName=Cat\n"

    def setUp(self):
        self.cnxn = pyodbc.connect("DSN=Cat", autocommit=True)
        self.cursor = self.cnxn.cursor()

    def tearDown(self):
        self.cnxn.close()

    def test_tables_in_type_order_with_nulls(self):
        rows = [tuple(r) for r in self.cursor.tables()]
        self.assertEqual([(r[2], r[3]) for r in rows],
                         [("SYS_INFO", "SYSTEM TABLE"), ("ALLTYPES", "TABLE"), ("MY_TABLE", "TABLE"),
                          ("MYXTABLE", "TABLE"), ("NUMBERS", "TABLE"), ("NUMBERS_V", "VIEW")])
        self.assertEqual(rows[0][0], None)
        self.assertEqual(rows[0][1], None)
        self.assertEqual(rows[1][4], "every internal form of a value")
        self.assertEqual(rows[3][4], None)

    def test_tables_by_type_list_and_pattern(self):
        names = [r[2] for r in self.cursor.tables(tableType="'TABLE','VIEW'")]
        self.assertNotIn("SYS_INFO", names)
        self.assertIn("NUMBERS_V", names)
        names = [r[2] for r in self.cursor.tables(table="NUM%")]
        self.assertEqual(names, ["NUMBERS", "NUMBERS_V"])

    def test_columns_from_the_driver_and_the_own_search(self):
        rows = [tuple(r) for r in self.cursor.columns(table="MY_TABLE")]
        # MY_TABLE once (the driver's), MYXTABLE through SELECT * ("_" matches "X").
        self.assertEqual([(r[2], r[3]) for r in rows],
                         [("MY_TABLE", "ID"), ("MY_TABLE", "NAME"), ("MY_TABLE", "PRICE"), ("MY_TABLE", "CODE"),
                          ("MYXTABLE", "X")])
        price = rows[2]
        self.assertEqual(price[4:11], (3, "DECIMAL", 10, 12, 2, 10, 1))
        name = rows[1]
        self.assertEqual((name[8], name[9]), (None, None))
        self.assertIsNone(rows[4][11])
        # A table that cannot be read is left out of the search without an error.
        self.assertEqual([r[3] for r in self.cursor.columns(table="SYS%")], [])
        self.assertEqual([r[3] for r in self.cursor.columns(table="NUMBERS_V", column="N")], ["N"])

    def test_statistics_index_rows_then_table_row(self):
        rows = [tuple(r) for r in self.cursor.statistics("MY_TABLE")]
        self.assertEqual([(r[3], r[5], r[6], r[8]) for r in rows],
                         [(0, "A_NAME_KEY", 3, "NAME"), (0, "B_ID_KEY", 3, "ID"), (1, "C_CODE_IDX", 3, "CODE"),
                          (None, None, 0, None)])
        self.assertEqual((rows[0][10], rows[0][11]), (None, None))
        self.assertEqual((rows[3][10], rows[3][11]), (3, None))
        unique = [r[5] for r in self.cursor.statistics("MY_TABLE", unique=True)]
        self.assertEqual(unique, ["A_NAME_KEY", "B_ID_KEY", None])

    def test_row_id_columns_and_primary_keys(self):
        rows = [tuple(r) for r in self.cursor.rowIdColumns("MY_TABLE", nullable=True)]
        self.assertEqual(rows, [(2, "NAME", 12, "VARCHAR", 40, 40, None, 1)])
        rows = [tuple(r) for r in self.cursor.rowIdColumns("MY_TABLE", nullable=False)]
        self.assertEqual(rows, [(2, "ID", 4, "INTEGER", 10, 4, 0, 1)])
        self.assertEqual([tuple(r) for r in self.cursor.rowVerColumns("MY_TABLE")], [])
        rows = [tuple(r) for r in self.cursor.primaryKeys("MY_TABLE")]
        self.assertEqual(rows, [(None, None, "MY_TABLE", "ID", 1, "B_ID_KEY")])

    def test_catalog_call_after_a_query(self):
        # pyodbc closes the cursor (SQL_CLOSE) before a catalog call, which
        # is what lets the call through after an open result.
        self.cursor.execute("SELECT * FROM NUMBERS 3")
        self.cursor.fetchone()
        self.assertEqual(len(self.cursor.tables().fetchall()), 6)

    def test_too_long_name_names_the_limit(self):
        with self.assertRaises(pyodbc.Error) as caught:
            self.cursor.tables(table="T" * 65)
        self.assertIn("was larger than SQL_MAX_TABLE_NAME_LEN from SQLGetInfo (64)", str(caught.exception))


if __name__ == "__main__":
    unittest.main()
