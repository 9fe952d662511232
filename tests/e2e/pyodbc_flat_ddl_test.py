"""CREATE and DROP, and parameters, on the test file driver from pyodbc with
its default settings (manual commit, text sent as SQL_C_WCHAR/SQL_WVARCHAR),
through the unixODBC Driver Manager."""

import os
import struct
import sys
import unittest

import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402


def header_flags(path):
    """The flag byte of each column in a table file's header."""
    with open(path, "rb") as f:
        data = f.read()
    count = struct.unpack_from("<H", data, 20)[0]
    return [data[24 + 48 * i + 33] for i in range(count)]


class FlatDdlTest(flattest_tables.DataSourceTest):
    PREFIX = "kvflatddl"

    def path(self, table):
        return os.path.join(self.data, table + ".ftt")

    def assertRefused(self, cursor, sql, state, text):
        with self.assertRaises(pyodbc.Error) as caught:
            cursor.execute(sql)
        self.assertEqual(caught.exception.args[0], state, sql)
        self.assertIn(text, caught.exception.args[1], sql)

    def test_create_index_and_drop(self):
        cnxn = pyodbc.connect("DSN=Files")
        cursor = cnxn.cursor()
        cursor.execute("CREATE TABLE emp (id INTEGER, name CHAR(10), note LONG VARCHAR(200), "
                       "sal NUMERIC(10,2) NOT NULL)")
        # NOT NULL is not kept by the test format: a warning, not a failure.
        self.assertTrue(any("The not null constraint specified for column SAL has been ignored." in m[1]
                            for m in cursor.messages), cursor.messages)
        self.assertTrue(os.path.exists(self.path("emp")))
        self.assertRefused(cursor, "CREATE TABLE EMP (a CHAR(1))", "42S01", "File already exists:")
        self.assertRefused(cursor, "CREATE TABLE t (a CHAR(10), A CHAR(5))", "42000",
                           "Column name is not unique: A")
        self.assertRefused(cursor, "CREATE TABLE t (a CHAR(10) b CHAR(5))", "42000",
                           "Expecting a ',' after the definition of column number 1.")
        self.assertRefused(cursor, "CREATE TABLE t (a NUMERIC(5,7))", "42000", "Invalid scale specified.")
        self.assertRefused(cursor, "CREATE TABLE t (a CHAR(70000))", "42000",
                           "Width or precision for column A may not be greater than 65000.")
        self.assertFalse(os.path.exists(self.path("t")))

        cursor.execute("CREATE UNIQUE INDEX byid ON emp (id DESC)")
        self.assertEqual(header_flags(self.path("emp"))[0], 0x1 | 0x2 | 0x4)
        self.assertRefused(cursor, "DROP INDEX byid", "42000",
                           "index-name syntax should be: [index-qualifier.]index-identifier")
        cursor.execute("DROP INDEX emp.id")
        self.assertEqual(header_flags(self.path("emp"))[0], 0)

        self.assertRefused(cursor, "DROP TABLE nope", "42S02", "Table does not exist:")
        cursor.execute("DROP TABLE Emp")
        self.assertFalse(os.path.exists(self.path("emp")))
        cnxn.close()

    def test_type_list_names_creation_parameters(self):
        cnxn = pyodbc.connect("DSN=Files")
        params = {row[0]: row[5] for row in cnxn.cursor().getTypeInfo()}
        self.assertEqual(params["CHAR"], "length")
        self.assertEqual(params["LONG VARCHAR"], "max length")
        self.assertEqual(params["NUMERIC"], "precision,scale")
        self.assertIsNone(params["INTEGER"])
        cnxn.close()

    def test_dropping_an_open_table(self):
        cnxn = pyodbc.connect("DSN=Files", autocommit=True)
        cursor = cnxn.cursor()
        cursor.execute("CREATE TABLE held (k INTEGER)")
        reader = cnxn.cursor()
        reader.execute("SELECT k FROM held")
        self.assertRefused(cursor, "DROP TABLE held", "42000", "You cannot delete a file that is already open:")
        reader.close()
        cursor.execute("DROP TABLE held")
        cnxn.close()


class FlatParameterBindTest(flattest_tables.DataSourceTest):
    """What pyodbc's parameters meet when a SELECT executes: the type check,
    wide text converted to the single-byte character set, NULL, embedded NULs.
    (Fetching the rows is the business of FlatParameterTest.)"""

    PREFIX = "kvflatddl"

    def test_parameters_of_an_executed_select(self):
        cnxn = pyodbc.connect("DSN=Files")
        cursor = cnxn.cursor()
        cursor.execute("CREATE TABLE words (id INTEGER, word CHAR(10), raw BINARY(2))")
        # Text with characters of Windows-1252 beyond ASCII, a number, NULL,
        # bytes: all accepted.
        cursor.execute("SELECT id FROM words WHERE word = ? AND id = ?", "caf\u00e9 \u20ac", 1)
        cursor.execute("SELECT id FROM words WHERE word = ?", None)
        cursor.execute("SELECT id FROM words WHERE raw = ?", b"AB")
        # Text where the statement compares with a number: 07006.
        with self.assertRaises(pyodbc.Error) as caught:
            cursor.execute("SELECT id FROM words WHERE id = ?", "one")
        self.assertEqual(caught.exception.args[0], "07006")
        self.assertIn("The SQL type given for parameter 1 is inconsistent with its use in the SQL Statement.",
                      caught.exception.args[1])
        # A character the connection's character set lacks is an error,
        # never a silent "?".
        with self.assertRaises(pyodbc.Error):
            cursor.execute("SELECT id FROM words WHERE word = ?", "\u4e00")
        # A zero character inside the text.
        with self.assertRaises(pyodbc.Error) as caught:
            cursor.execute("SELECT id FROM words WHERE word = ?", "ab\x00c")
        self.assertIn("Embedded NULL terminators are not allowed", caught.exception.args[1])
        cnxn.rollback()
        cursor.close()
        cnxn.cursor().execute("DROP TABLE words")
        cnxn.close()


class FlatParameterTest(flattest_tables.DataSourceTest):
    """Parameters with pyodbc's defaults through INSERT and SELECT."""

    PREFIX = "kvflatddl"

    def setUp(self):
        self.cnxn = pyodbc.connect("DSN=Files")
        flattest_tables.read_text_in_locale(self.cnxn)
        self.cursor = self.cnxn.cursor()
        self.cursor.execute("CREATE TABLE words (id INTEGER, word CHAR(10), memo LONG VARCHAR(100), "
                            "raw BINARY(2))")
        self.cursor.execute("INSERT INTO words (id, word) VALUES (?, ?)", 1, "caf\u00e9 \u20ac")

    def tearDown(self):
        self.cnxn.rollback()
        self.cursor.execute("DROP TABLE words")
        self.cnxn.close()

    def test_wide_text_compares(self):
        self.assertEqual([tuple(row) for row in
                          self.cursor.execute("SELECT id FROM words WHERE word = ?", "caf\u00e9 \u20ac").fetchall()],
                         [(1,)])
        # The row is still pending: it reads padded, as it will after commit.
        self.assertEqual(self.cursor.execute("SELECT word FROM words").fetchone()[0], "caf\u00e9 \u20ac    ")
        with self.assertRaises(pyodbc.Error):
            self.cursor.execute("SELECT id FROM words WHERE word = ?", "\u4e00")

    def test_null_matches_nothing(self):
        self.assertEqual(self.cursor.execute("SELECT id FROM words WHERE word = ?", None).fetchall(), [])

    def test_long_values(self):
        self.cursor.execute("INSERT INTO words (id, memo, raw) VALUES (?, ?, ?)", 2, "x" * 100, b"AB")
        self.assertEqual(tuple(self.cursor.execute("SELECT memo, raw FROM words WHERE id = 2").fetchone()),
                         ("x" * 100, b"AB"))


if __name__ == "__main__":
    unittest.main()
