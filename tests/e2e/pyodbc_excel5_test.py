"""The Excel 5 driver through the unixODBC Driver Manager from pyodbc: tables
of defined names in workbooks gnumeric wrote, their values compared with what
xlrd reads from the same cells, declared and guessed column types, the
connection's keys and answers, and the errors of workbooks that cannot be
read."""

import ctypes
import datetime
import os
import shutil
import sys
import tempfile
import unittest

import pyodbc
import xlrd

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402

DRIVER = os.environ["KV_EXCEL5_DRIVER"]
DATA = os.environ["KV_EXCEL_DATA"]


CONFIG = None


def setUpModule():
    """One unixODBC configuration for the whole file (the installer keeps
    what it read of it for the process): the workbooks copied, a damaged
    one, the driver as its own setup library and the data source Book."""
    global CONFIG
    CONFIG = tempfile.mkdtemp(prefix="kvxls")
    for name in ("sales.xls", "sales97.xls", "lo_sales97.xls", "mulrk1904.xls"):
        shutil.copy(os.path.join(DATA, name), CONFIG)
    with open(os.path.join(CONFIG, "damaged.xls"), "wb") as f:
        f.write(open(os.path.join(DATA, "sales.xls"), "rb").read()[:3000])
    flattest_tables.private_configuration(
        CONFIG, f"[KvExcel5]\nDriver={DRIVER}\nSetup={DRIVER}\n",
        f"[Book]\nDriver=KvExcel5\nDatabase={os.path.join(CONFIG, 'sales.xls')}\n")


def tearDownModule():
    shutil.rmtree(CONFIG, ignore_errors=True)


def xlrd_rows(path, name):
    """The rows of a defined name's area as xlrd reads them: (header, rows),
    rows without any cell left out, cells as (ctype, value)."""
    book = xlrd.open_workbook(path)
    area = next(n for n in book.name_obj_list if n.name == name and n.scope == -1)
    sheet_index, _, row1, row2, col1, col2 = area.result.value[0].coords
    sheet = book.sheet_by_index(sheet_index)
    cell = lambda r, c: sheet.cell(r, c) if r < sheet.nrows and c < sheet.ncols else xlrd.sheet.Cell(0, "")
    header = [cell(row1, c).value for c in range(col1, col2)]
    rows = []
    for r in range(row1 + 1, row2):
        cells = [cell(r, c) for c in range(col1, col2)]
        if any(c.ctype != xlrd.XL_CELL_EMPTY for c in cells):
            rows.append(cells)
    return book, header, rows


class Excel5DriverTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = CONFIG
        cls.book = os.path.join(cls.dir, "sales.xls")
        cls.built = os.path.join(cls.dir, "mulrk1904.xls")

    def connect(self, extra=""):
        cnxn = pyodbc.connect("DSN=Book" + extra, autocommit=True)
        cnxn.setdecoding(pyodbc.SQL_CHAR, encoding="utf-8")
        return cnxn

    def assert_rows_as_xlrd_reads(self, cnxn, path, name):
        book, header, expected = xlrd_rows(path, name)
        cursor = cnxn.execute(f"SELECT * FROM {path}\\{name}")
        self.assertEqual([d[0] for d in cursor.description], header)
        rows = cursor.fetchall()
        self.assertEqual(len(rows), len(expected))
        for got, cells in zip(rows, expected):
            for value, cell in zip(got, cells):
                if cell.ctype == xlrd.XL_CELL_EMPTY or cell.ctype == xlrd.XL_CELL_ERROR:
                    self.assertIsNone(value)
                elif cell.ctype == xlrd.XL_CELL_TEXT:
                    self.assertEqual(value, cell.value)
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    self.assertEqual(value, bool(cell.value))
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    self.assertEqual(value, cell.value)
                elif cell.ctype == xlrd.XL_CELL_DATE:
                    if isinstance(value, datetime.time):
                        try:
                            _, _, _, h, mi, s = xlrd.xldate_as_tuple(cell.value % 1, book.datemode)
                        except xlrd.xldate.XLDateAmbiguous:
                            h = mi = s = 0  # xlrd rounds 0.999999 to the next day's midnight
                        self.assertEqual(value, datetime.time(h, mi, s))
                        continue
                    if cell.value < 61:
                        continue  # xlrd counts Excel's 29 February 1900; serials before it differ by a day
                    y, mo, d, h, mi, s = xlrd.xldate_as_tuple(cell.value, book.datemode)
                    if isinstance(value, datetime.datetime):
                        self.assertEqual(value, datetime.datetime(y, mo, d, h, mi, s))
                    else:
                        self.assertEqual(value, datetime.date(y, mo, d))
        return cursor

    def test_values_equal_what_xlrd_reads(self):
        cnxn = self.connect()
        cursor = self.assert_rows_as_xlrd_reads(cnxn, self.book, "Sales")
        types = [d[1] for d in cursor.description]
        self.assertEqual(types, [str, float, float, datetime.date, bool, datetime.datetime, datetime.time])
        cnxn.close()

    def test_mulrk_rows_chart_substreams_and_1904_dates(self):
        cnxn = self.connect()
        self.assert_rows_as_xlrd_reads(cnxn, self.built, "Data")
        rows = cnxn.execute(f"SELECT * FROM {self.built}\\Data").fetchall()
        self.assertEqual([tuple(r) for r in rows], [(1.0, 2.0, datetime.date(1904, 4, 10)), (5.5, 7.0, None),
                                                    (None, 8.0, datetime.date(1904, 4, 11))])
        cnxn.close()

    def test_a_workbook_named_in_the_statement(self):
        cnxn = self.connect()
        rows = cnxn.execute(f"SELECT * FROM {self.book}\\Stock").fetchall()
        self.assertEqual([tuple(r) for r in rows], [("Bolt", 100.0), ("Nut", 250.0)])
        rows = cnxn.execute("SELECT Name FROM Sales WHERE Qty > 3 ORDER BY Name").fetchall()
        self.assertEqual([r[0] for r in rows], ["Kiwi", "Pear"])
        cnxn.close()

    def test_declared_columns(self):
        cnxn = self.connect()
        cursor = cnxn.execute("SELECT * FROM Sales (CHAR(3), INTEGER, MONEY, DATE, LOGICAL, TIMESTAMP, TIME)")
        self.assertEqual([d[1] for d in cursor.description],
                         [str, float, float, datetime.datetime, bool, datetime.datetime, datetime.time])
        first = cursor.fetchone()
        self.assertEqual(first[0], "App")
        self.assertEqual(first[3], datetime.datetime(2024, 3, 15))
        # A declared list shorter than the area leaves the other columns to
        # be CHAR, text of a number in its General format.
        cursor = cnxn.execute("SELECT Qty FROM Sales (CHAR(10), CHAR(10))")
        self.assertEqual([r[0] for r in cursor.fetchall()], ["3.00", "10.25", "-2.00", "3.14"])
        for text, message in [("Sales (CHAR(300))", "Character width must be between 1 and 255."),
                              ("Sales (CHAR(x))", "Syntax error in data type portion of SQL statement"),
                              ("Sales (BLOB)", "Syntax error in SQL statement: BLOB"),
                              ("Sales (NUMBER NUMBER)", "Missing ',' or ')' in SQL statement"),
                              ("Sales (NUMBER", "Missing right parenthesis")]:
            with self.subTest(text=text):
                with self.assertRaises(pyodbc.Error) as caught:
                    cnxn.execute("SELECT * FROM " + text)
                self.assertIn(message, str(caught.exception))
        cnxn.close()

    def test_field_guessing_off_gives_text(self):
        cnxn = self.connect(";FieldGuessing=0")
        cursor = cnxn.execute("SELECT Qty, Sold, Paid FROM Sales")
        self.assertEqual([(d[1], d[3]) for d in cursor.description], [(str, 12), (str, 22), (str, 4)])
        rows = cursor.fetchall()
        self.assertEqual([r[0] for r in rows], ["3.00", "10.25", "-2.00", "3.14"])
        self.assertEqual(rows[0][1], "2024-03-15 00:00:00")
        self.assertEqual([r[2] for r in rows], ["T", "F", None, "T"])
        cnxn.close()

    def test_scan_rows_decides_the_types(self):
        # With one row scanned, Name is text and At a time; a later text in a
        # number column reads as NULL.
        cnxn = self.connect(";ScanRows=1")
        cursor = cnxn.execute("SELECT Name, Total FROM Sales")
        self.assertEqual([d[1] for d in cursor.description], [str, float])
        self.assertEqual([tuple(r) for r in cursor.fetchall()],
                         [("Apple", 4.5), ("Pear", 15.375), ("Plum", None), ("Kiwi", None)])
        cnxn.close()
        with self.assertRaises(pyodbc.Error) as caught:
            self.connect(";ScanRows=many")
        self.assertIn("HY009", str(caught.exception))

    def test_tables_and_answers(self):
        cnxn = self.connect()
        names = [t.table_name for t in cnxn.cursor().tables()]
        self.assertEqual(names, sorted(["Noheads", "lower", "Sales", "Stock",
                                        "LongNameOfFortyCharactersForTheTest12345",
                                        "LongNameOfFortyCharactersForThe"], key=str.upper))
        # An area whose first row holds a label only in its first column.
        columns = [c.column_name for c in cnxn.cursor().columns(table="Noheads")]
        self.assertEqual(columns, ["Apple", "FIELD2", "FIELD3"])
        columns = [(c.column_name, c.type_name) for c in cnxn.cursor().columns(table="Stock")]
        self.assertEqual(columns, [("Item", "CHAR"), ("Count", "NUMBER")])
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DBMS_VER), "05.00.0000")
        self.assertTrue(cnxn.getinfo(pyodbc.SQL_DATA_SOURCE_READ_ONLY))  # "Y"
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_IDENTIFIER_CASE), 3)
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_FILE_USAGE), 2)
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DRIVER_NAME), os.path.basename(DRIVER))
        types = [(t.type_name, t.data_type) for t in cnxn.cursor().getTypeInfo()]
        self.assertEqual(sorted(types), sorted([("LOGICAL", -7), ("NUMBER", 8), ("DATE", 9), ("TIME", 10),
                                                ("TIMESTAMP", 11), ("CHAR", 12)]))
        cnxn.close()

    def test_names_that_are_no_tables(self):
        cnxn = self.connect()
        for name in ["SALES", "One", "Relative", "Both", "Local", "Print_Area", "LOWER"]:
            with self.subTest(name=name):
                with self.assertRaises(pyodbc.Error) as caught:
                    cnxn.execute(f"SELECT * FROM {name}")
                self.assertIn("42S02", str(caught.exception))
                self.assertIn(f"The table {name} was not found in the workbook", str(caught.exception))
        # A name of 40 characters is found whole; its first 32 characters
        # name another table, never this one.
        long_rows = cnxn.execute("SELECT * FROM LongNameOfFortyCharactersForTheTest12345").fetchall()
        short_rows = cnxn.execute("SELECT * FROM LongNameOfFortyCharactersForThe").fetchall()
        self.assertEqual(len(long_rows[0]), 2)
        self.assertEqual([tuple(r) for r in short_rows], [("Bolt", 100.0), ("Nut", 250.0)])
        self.assertEqual(cnxn.execute("SELECT COUNT(*) FROM lower").fetchone()[0], 2)
        cnxn.close()

    def test_workbooks_that_cannot_be_read(self):
        # LibreOffice writes Excel 97 workbooks only ("Workbook", no "Book").
        cases = [("sales97.xls", "Cannot open stream Book.  OLE error code (2)."),
                 ("lo_sales97.xls", "Cannot open stream Book.  OLE error code (2)."),
                 ("missing.xls", "Workbook does not exist: "),
                 ("damaged.xls", "")]
        for name, message in cases:
            with self.subTest(name=name):
                with self.assertRaises(pyodbc.Error) as caught:
                    pyodbc.connect(f"DRIVER={{KvExcel5}};DBQ=x;Database={os.path.join(self.dir, name)}")
                self.assertIn(message, str(caught.exception))
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect("DRIVER={KvExcel5}")
        self.assertIn("Insufficient information to connect to the data source.", str(caught.exception))

    def test_the_driver_is_read_only(self):
        cnxn = self.connect()
        for statement in ["INSERT INTO Sales (Name) VALUES ('x')", "DELETE FROM Sales",
                          "UPDATE Sales SET Qty = 1", "CREATE TABLE t (a CHAR(1))", "DROP TABLE Sales"]:
            with self.subTest(statement=statement):
                with self.assertRaises(pyodbc.Error):
                    cnxn.execute(statement)
        cnxn.close()


class Excel5SetupTest(unittest.TestCase):
    """ConfigDSN through unixODBC's installer (SQLConfigDataSource), without a
    window and with the setup dialog played from a script."""

    def setUp(self):
        self.dir = CONFIG
        self.installer = ctypes.CDLL("libodbcinst.so.2")
        self.installer.SQLConfigDataSource.argtypes = [ctypes.c_void_p, ctypes.c_ushort, ctypes.c_char_p,
                                                       ctypes.c_char_p]

    def tearDown(self):
        os.environ.pop("KV_DIALOG_SCRIPT", None)

    def configure(self, attributes, window=None):
        text = "".join(a + "\0" for a in attributes).encode() + b"\0"
        return self.installer.SQLConfigDataSource(window, 1, b"KvExcel5", text)

    def section(self, name):
        values, inside = {}, False
        with open(os.environ["ODBCINI"]) as f:
            for line in f:
                line = line.strip()
                if line.startswith("["):
                    inside = line[1:-1] == name
                elif inside and "=" in line:
                    key, value = line.split("=", 1)
                    values[key.strip()] = value.strip()
        return values

    def test_the_six_keys_with_their_defaults(self):
        book = os.path.join(DATA, "sales.xls")
        self.assertEqual(self.configure(["DSN=Plain", f"Database={book}"]), 1)
        values = self.section("Plain")
        self.assertEqual({k: values.get(k) for k in ["Database", "ScanRows", "FileOpenCache", "CacheSize",
                                                     "IntlSort"]},
                         {"Database": book, "ScanRows": "25", "FileOpenCache": "0", "CacheSize": "256",
                          "IntlSort": "0"})
        cnxn = pyodbc.connect("DSN=Plain")
        self.assertEqual(cnxn.execute("SELECT COUNT(*) FROM Stock").fetchone()[0], 2)
        cnxn.close()

    def test_the_setup_dialog(self):
        script = os.path.join(self.dir, "setup.txt")
        with open(script, "w") as f:
            f.write("dialog ODBC Excel 5 Driver Setup\n"
                    "expect 302 25\nexpect 304 256\nexpect-check 303 0\n"
                    f"text 300 {os.path.join(DATA, 'sales.xls')}\ntext 302 0\ncheck 303\nclick 9\n"
                    "expect-enabled 1 0\ntext 401 Scripted\nexpect-enabled 1 1\nok\n")
        os.environ["KV_DIALOG_SCRIPT"] = script
        # Without a name the dialog asks for one; OK waits for it.
        self.assertEqual(self.configure([], window=ctypes.c_void_p(1)), 1)
        values = self.section("Scripted")
        self.assertEqual((values.get("ScanRows"), values.get("IntlSort")), ("0", "1"))
        self.assertEqual(values.get("Database"), os.path.join(DATA, "sales.xls"))


if __name__ == "__main__":
    unittest.main()
