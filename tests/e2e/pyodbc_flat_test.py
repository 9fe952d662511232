"""The file SQL engine through the unixODBC Driver Manager: pyodbc, an ODBC 3
application with its default settings, connects to the test file driver,
reads the engine's SQLGetInfo rows, sets the engine's connection options and
gets its messages."""

import os
import sys
import unittest

import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402

DRIVER = os.environ["KV_FLATTEST_DRIVER"]

SQL_ATTR_TRANSLATE_OPTION = 107


class FlatDriverTest(flattest_tables.DataSourceTest):
    SOURCE = {"setup": True, "keys": "ValidateDB=1\n"}

    def test_engine_information_rows(self):
        cnxn = pyodbc.connect("DSN=Files")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DRIVER_NAME), os.path.basename(DRIVER))
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_IDENTIFIER_QUOTE_CHAR), "`")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_SEARCH_PATTERN_ESCAPE), "~")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_CATALOG_NAME_SEPARATOR), "/")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_MAX_TABLE_NAME_LEN), 251)
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_MAX_CATALOG_NAME_LEN), 4095)
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_NULL_COLLATION), 2)
        # DBD::ODBC asks every driver for its DBMS name and version.
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DBMS_NAME), "FlatTest")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DBMS_VER), "01.00.0000")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_SPECIAL_CHARACTERS), "~@#$%^&*_-+=\\}{;:?/><,.![]")
        cnxn.close()

    def test_manual_commit_by_default(self):
        # pyodbc turns autocommit off when it connects; commit and rollback
        # of an empty transaction succeed.
        cnxn = pyodbc.connect("DSN=Files")
        self.assertFalse(cnxn.autocommit)
        cnxn.commit()
        cnxn.rollback()
        cnxn.autocommit = True
        cnxn.autocommit = False
        cnxn.close()

    def test_translation_options_are_refused(self):
        cnxn = pyodbc.connect("DSN=Files", autocommit=True)
        with self.assertRaises(pyodbc.Error) as caught:
            cnxn.set_attr(SQL_ATTR_TRANSLATE_OPTION, 1)
        self.assertIn("HYC00", str(caught.exception))
        cnxn.close()

    def test_validate_db_with_a_file_names_it(self):
        not_a_directory = os.path.join(self.dir, "odbc.ini")
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect(f"DRIVER={{KvFlatTest}};DB={not_a_directory};VDB=1")
        text = str(caught.exception)
        self.assertIn("HY000", text)
        self.assertIn("[KESTRANE][ODBC FlatTest driver]The filename does not exist: " + not_a_directory, text)

    def test_a_bad_cache_size_fails_the_connect(self):
        with self.assertRaises(pyodbc.Error):
            pyodbc.connect(f"DRIVER={{KvFlatTest}};DB={self.data};CSZ=lots")


if __name__ == "__main__":
    unittest.main()
