"""The file engine's catalog from pyodbc through the unixODBC Driver Manager:
cursor.tables(), columns(), statistics() and rowIdColumns() on a data source
of the test file driver, and cursor.tables() on one of the dBASE driver."""

import os
import shutil
import sys
import tempfile
import unittest

import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402

DRIVER = os.environ["KV_FLATTEST_DRIVER"]
DBASE_DRIVER = os.environ.get("KV_DBASE_DRIVER")
DBASE_DATA = os.environ.get("KV_DBASE_DATA")


WORK = None


def setUpModule():
    """One private odbcinst.ini/odbc.ini: Files (the test file driver over a
    scratch directory of tables made here) and Dbf (the dBASE driver over
    copies of two files other programs wrote)."""
    global WORK
    WORK = tempfile.mkdtemp(prefix="kvflatcat")
    files = os.path.join(WORK, "files")
    dbf = os.path.join(WORK, "dbf")
    os.mkdir(files)
    os.mkdir(dbf)
    drivers = f"[KvFlatTest]\nDriver={DRIVER}\n"
    if DBASE_DRIVER:
        drivers += f"[KvDbase]\nDriver={DBASE_DRIVER}\n"
    flattest_tables.private_configuration(
        WORK, drivers, f"[Files]\nDriver=KvFlatTest\nDatabase={files}\n[Dbf]\nDriver=KvDbase\nDatabase={dbf}\n")
    if DBASE_DATA:
        for name in ("people3.dbf", "towns_ogr.dbf"):
            shutil.copy(os.path.join(DBASE_DATA, name), dbf)
    cnxn = pyodbc.connect("DSN=Files", autocommit=True)
    cursor = cnxn.cursor()
    cursor.execute("CREATE TABLE emp (id INTEGER, name CHAR(10), amount DOUBLE PRECISION, "
                   "abc CHAR(3), hired DATE, note LONG VARCHAR(200))")
    cursor.execute("CREATE UNIQUE INDEX byid ON emp (id)")
    cursor.execute("CREATE INDEX byname ON emp (name DESC)")
    cursor.execute("CREATE TABLE Dept (code CHAR(2), title CHAR(20))")
    cursor.execute("CREATE UNIQUE INDEX bycode ON Dept (code)")
    cursor.execute("CREATE UNIQUE INDEX bytitle ON Dept (title)")
    cnxn.close()


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


class FlatCatalogTest(unittest.TestCase):
    data = property(lambda self: os.path.join(WORK, "files"))

    def setUp(self):
        self.cnxn = pyodbc.connect("DSN=Files")
        self.cursor = self.cnxn.cursor()

    def tearDown(self):
        self.cnxn.close()

    def test_tables_list_every_table_file(self):
        rows = [tuple(r) for r in self.cursor.tables()]
        self.assertEqual(rows, [(self.data, None, "Dept", "TABLE", None),
                                (self.data, None, "emp", "TABLE", None)])
        self.assertEqual([r.table_name for r in self.cursor.tables(table="E%")], ["emp"])
        self.assertEqual(self.cursor.tables(tableType="VIEW").fetchall(), [])
        self.assertEqual([r.table_name for r in self.cursor.tables(tableType="TABLE,VIEW")], ["Dept", "emp"])
        with self.assertRaises(pyodbc.Error) as caught:
            self.cursor.tables(schema="X")
        self.assertEqual(caught.exception.args[0], "HYC00")
        self.assertIn("Driver not capable", caught.exception.args[1])

    def test_columns_with_their_lengths(self):
        rows = self.cursor.columns(table="emp").fetchall()
        self.assertEqual([(r.column_name, r.data_type, r.type_name, r.precision, r.length,
                           r.scale, r.radix, r.nullable) for r in rows],
                         [("ID", 4, "INTEGER", 10, 4, 0, 10, 1),
                          ("NAME", 1, "CHAR", 10, 10, None, None, 1),
                          ("AMOUNT", 8, "DOUBLE", 15, 8, None, 10, 1),
                          ("ABC", 1, "CHAR", 3, 3, None, None, 1),
                          ("HIRED", 9, "DATE", 10, 6, None, None, 1),
                          ("NOTE", -1, "LONG VARCHAR", 200, 200, None, None, 1)])
        # Every type name is one the type list gives (and CREATE TABLE takes).
        listed = {r.type_name for r in self.cursor.getTypeInfo()}
        self.assertLessEqual({r.type_name for r in rows}, listed)
        self.assertTrue(all(r.table_qualifier == self.data and r.table_owner is None and r.remarks is None
                            for r in rows))
        # The column pattern ignores case and keeps the table's order.
        self.assertEqual([r.column_name for r in self.cursor.columns(table="EMP", column="a%")], ["AMOUNT", "ABC"])
        self.assertEqual([(r.table_name, r.column_name) for r in self.cursor.columns(column="%T%")],
                         [("Dept", "TITLE"), ("emp", "AMOUNT"), ("emp", "NOTE")])
        self.assertEqual(self.cursor.columns(table="nope").fetchall(), [])

    def test_statistics_from_the_indexes(self):
        rows = self.cursor.statistics("emp").fetchall()
        self.assertEqual([(r.non_unique, r.index_name, r.type, r.seq_in_index, r.column_name, r.collation)
                          for r in rows],
                         [(0, "ID", 3, 1, "ID", "A"), (1, "NAME", 3, 1, "NAME", "D"),
                          (None, None, 0, None, None, None)])
        self.assertEqual([r.index_name for r in self.cursor.statistics("emp", unique=True)], ["ID", None])
        self.assertEqual(self.cursor.statistics("nope").fetchall(), [])

    def test_row_identifiers(self):
        # pyodbc asks for the transaction's scope: the ROWID pseudo column.
        rows = [tuple(r) for r in self.cursor.rowIdColumns("emp")]
        self.assertEqual(rows, [(1, "ROWID", 8, "DOUBLE", 15, 8, None, 2)])
        self.assertEqual([tuple(r) for r in self.cursor.rowIdColumns("DEPT")], rows)
        self.assertEqual(self.cursor.rowIdColumns("nope").fetchall(), [])
        self.assertEqual(self.cursor.rowVerColumns("emp").fetchall(), [])


@unittest.skipUnless(DBASE_DRIVER and DBASE_DATA, "the dBASE driver and its data are not given")
class DbaseCatalogTest(unittest.TestCase):
    def test_tables_and_columns_of_other_programs_files(self):
        cnxn = pyodbc.connect("DSN=Dbf")
        cursor = cnxn.cursor()
        data = os.path.join(WORK, "dbf")
        self.assertEqual([tuple(r) for r in cursor.tables()],
                         [(data, None, "people3", "TABLE", None), (data, None, "towns_ogr", "TABLE", None)])
        # PRECISION, LENGTH (the sign and the point take a byte each) and SCALE.
        self.assertEqual([(r.column_name, r.data_type, r.precision, r.length, r.scale)
                          for r in cursor.columns(table="PEOPLE3")],
                         [("NAME", 1, 20, 20, None), ("AGE", 3, 3, 4, 0), ("SALARY", 3, 9, 11, 2),
                          ("BORN", 9, 10, 6, None), ("ACTIVE", -7, 1, 1, 0)])
        # No index files are read: the table's row only, and no row identifier.
        self.assertEqual([r.type for r in cursor.statistics("towns_ogr")], [0])
        self.assertEqual(cursor.rowIdColumns("towns_ogr").fetchall(), [])
        cnxn.close()


if __name__ == "__main__":
    unittest.main()
