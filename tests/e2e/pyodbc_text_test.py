"""The text driver through the unixODBC Driver Manager from pyodbc: files
that Python's csv module and gnumeric's ssconvert wrote, defined in
KVTXT.INI, read as tables; rows that INSERT appends read back by Python's
csv module; the append lock between processes; SQLGetInfo, the type table
and the table listing."""

import csv
import fcntl
import locale
import multiprocessing
import os
import shutil
import sys
import tempfile
import threading
import time
import unittest

import struct

import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402

DRIVER = os.environ["KV_TEXT_DRIVER"]
DATA = os.environ["KV_TEXT_DATA"]

# Under the C locale the driver's text is Windows-1252 as the tables keep it.
locale.setlocale(locale.LC_ALL, "C")


def connect(data, extra="", autocommit=True):
    cnxn = pyodbc.connect(f"DRIVER={{KvText}};DB={data};{extra}", autocommit=autocommit)
    cnxn.setdecoding(pyodbc.SQL_CHAR, encoding="cp1252")
    cnxn.setencoding(encoding="cp1252")
    return cnxn


F_OFD_SETLK = 37


def ofd_lock(f, kind):
    """An open-file-description lock (as the driver takes) on the append
    byte: kind fcntl.F_WRLCK or fcntl.F_UNLCK."""
    fcntl.fcntl(f, F_OFD_SETLK, struct.pack("hhqqi4x", kind, 0, 0x7FFFFFFF, 1, 0))


def append_rows(data, worker, count):
    cnxn = connect(data)
    for i in range(count):
        cnxn.execute("INSERT INTO people (NAME, AGE, NOTE) VALUES (?, ?, ?)",
                     f"w{worker}-{i}", worker, "x" * (i % 25))
    cnxn.close()


class TextDriverTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kvtxt")
        flattest_tables.private_configuration(cls.dir, f"[KvText]\nDriver={DRIVER}\nSetup={DRIVER}\n", "")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        self.data = tempfile.mkdtemp(prefix="data", dir=self.dir)
        for name in os.listdir(DATA):
            if name != "NOTES.md":
                shutil.copy(os.path.join(DATA, name), self.data)

    def file(self, name):
        return os.path.join(self.data, name)

    def test_reads_what_python_csv_wrote(self):
        cnxn = connect(self.data)
        rows = cnxn.execute("SELECT NAME, AGE, BORN, NOTE FROM people").fetchall()
        self.assertEqual([tuple(r) for r in rows], [
            ("Alice", 34, __import__("datetime").date(1990, 4, 1), 'likes "quotes"'),
            ("Bob, Jr.", 41, __import__("datetime").date(1983, 12, 31), "two\nlines"),
            ("Carol", None, None, None),
            ("Dav\u00e9", 7, __import__("datetime").date(2017, 1, 9), "caf\u00e9"),
        ])
        # A file is also its own table name.
        self.assertEqual(cnxn.execute("SELECT COUNT(*) FROM people.csv").fetchone()[0], 4)
        rows = cnxn.execute("SELECT NAME FROM people WHERE AGE > 10 ORDER BY NAME DESC").fetchall()
        self.assertEqual([r[0] for r in rows], ["Bob, Jr.", "Alice"])
        cnxn.close()

    def test_tab_fixed_and_ssconvert_files(self):
        import datetime
        cnxn = connect(self.data)
        rows = cnxn.execute("SELECT REGION, AMOUNT, DAY FROM sales").fetchall()
        self.assertEqual([tuple(r) for r in rows], [("North", 1200.5, datetime.date(1995, 3, 1)),
                                                     ("South", -75.0, datetime.date(1999, 12, 31)),
                                                     ("East", None, None)])
        # Fixed-width, code page 437: the e acute comes back as itself.
        rows = cnxn.execute("SELECT ITEM, QTY, MADE FROM fixed").fetchall()
        self.assertEqual([tuple(r) for r in rows], [("Widget", 12, datetime.date(1995, 7, 4)),
                                                     ("Gadget \u00e9", 7, datetime.date(2024, 2, 29)),
                                                     ("Gizmo", None, None)])
        rows = cnxn.execute("SELECT CITY, POP FROM cities WHERE POP > 300000").fetchall()
        self.assertEqual([tuple(r) for r in rows], [("Oslo", 709000)])
        self.assertEqual(cnxn.execute("SELECT CITY FROM cities WHERE POP < 300000").fetchone()[0],
                         "Bergen, Vestland")
        cnxn.close()

    def test_insert_is_read_back_by_python_csv(self):
        import datetime
        cnxn = connect(self.data)
        cnxn.execute("INSERT INTO people VALUES ('Eve \"E\", the second', 29, {d '2001-02-03'}, '')")
        cnxn.execute("INSERT INTO people (NAME, AGE, BORN) VALUES (?, ?, ?)", "Fay", 3,
                     datetime.date(2020, 5, 6))
        cnxn.execute("INSERT INTO people (NAME) VALUES ('caf\u00e9')")
        with open(self.file("people.csv"), newline="", encoding="cp1252") as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[-3:], [['Eve "E", the second', "29", "2001-02-03", ""],
                                     ["Fay", "3", "2020-05-06", ""],
                                     ["caf\u00e9", "", "", ""]])
        with open(self.file("people.csv"), "rb") as f:
            self.assertTrue(f.read().endswith(b'"caf\xe9",,"",""\r\n'))
        got = cnxn.execute("SELECT NAME, AGE, BORN FROM people WHERE NAME LIKE 'Eve%'").fetchone()
        self.assertEqual(tuple(got), ('Eve "E", the second', 29, datetime.date(2001, 2, 3)))
        # Fixed rows are values left-justified at their columns' offsets.
        cnxn.execute("INSERT INTO fixed VALUES ('Sprocket', 99, {d '1999-01-02'})")
        with open(self.file("fixed.txt"), "rb") as f:
            self.assertTrue(f.read().endswith(b"Sprocket  99     19990102\r\n"))
        self.assertEqual(cnxn.execute("SELECT QTY FROM fixed WHERE ITEM = 'Sprocket'").fetchone()[0], 99)
        cnxn.close()

    def test_manual_commit_appends_at_commit(self):
        cnxn = connect(self.data, autocommit=False)
        with open(self.file("cities_ss.csv"), "rb") as f:
            before = f.read()
        cnxn.execute("INSERT INTO cities VALUES ('Narvik', 14000)")
        cnxn.execute("INSERT INTO cities VALUES ('Bodø', 53000)")
        rows = cnxn.execute("SELECT CITY FROM cities WHERE POP < 60000").fetchall()
        self.assertEqual(sorted(r[0] for r in rows), ["Bodø", "Narvik"])
        cnxn.rollback()
        with open(self.file("cities_ss.csv"), "rb") as f:
            self.assertEqual(f.read(), before)
        cnxn.execute("INSERT INTO cities VALUES ('Narvik', 14000)")
        cnxn.execute("INSERT INTO cities VALUES ('Bodø', 53000)")
        cnxn.commit()
        with open(self.file("cities_ss.csv"), newline="", encoding="cp1252") as f:
            self.assertEqual(list(csv.reader(f))[-2:], [["Narvik", "14000"], ["Bodø", "53000"]])
        cnxn.close()

    def test_insert_refusals_leave_the_file_unchanged(self):
        cnxn = connect(self.data)
        with open(self.file("people.csv"), "rb") as f:
            before = f.read()
        cases = [("INSERT INTO people (NAME) VALUES ('" + "n" * 21 + "')", "22001"),
                 ("INSERT INTO people (AGE) VALUES (12345)", "22003"),
                 ("INSERT INTO sales (DAY) VALUES ({d '2024-01-01'})", "two-digit year mask"),
                 ("UPDATE people SET AGE = 1", "HYC00"),
                 ("DELETE FROM people", "HYC00")]
        for sql, expected in cases:
            with self.subTest(sql=sql):
                with self.assertRaises(pyodbc.Error) as caught:
                    cnxn.execute(sql)
                self.assertIn(expected, str(caught.exception))
        with open(self.file("people.csv"), "rb") as f:
            self.assertEqual(f.read(), before)
        cnxn.close()

    def test_appends_after_a_last_line_without_line_end_or_an_end_mark(self):
        cases = [(b"A,1\r\nB,2", b"A,1\r\nB,2\r\n\"C\",3\r\n"),
                 (b"A,1\r\nB,2\r\n\x1a", b"A,1\r\nB,2\r\n\"C\",3\r\n"),
                 (b"A,1\r\nB,2\x1a", b"A,1\r\nB,2\r\n\"C\",3\r\n"),
                 (b"", b"\"C\",3\r\n")]
        for before, after in cases:
            with self.subTest(before=before):
                with open(self.file("raw.txt"), "wb") as f:
                    f.write(before)
                with open(self.file("KVTXT.INI"), "a", newline="") as f:
                    with open(self.file("KVTXT.INI")) as ini:
                        defined = "[raw]" in ini.read()
                    if not defined:
                        f.write("[raw]\r\nFILE=raw.txt\r\nFLN=0\r\nTT=Comma\r\nCharset=ANSI\r\n"
                                "FIELD1=K,VARCHAR,5,0,5,0,\r\nFIELD2=V,NUMERIC,5,0,5,0,\r\n")
                cnxn = connect(self.data)
                cnxn.execute("INSERT INTO raw VALUES ('C', 3)")
                self.assertEqual([r[0] for r in cnxn.execute("SELECT K FROM raw").fetchall()],
                                 [c for c in "ABC" if c.encode() in before or c == "C"])
                cnxn.close()
                with open(self.file("raw.txt"), "rb") as f:
                    self.assertEqual(f.read(), after)

    def test_text_after_a_closing_quote_does_not_swallow_rows(self):
        with open(self.file("raw.txt"), "wb") as f:
            f.write(b'"ab"cd,1\r\nnext,2\r\n"x""y",3\r\n')
        with open(self.file("KVTXT.INI"), "a", newline="") as f:
            f.write("[raw]\r\nFILE=raw.txt\r\nFLN=0\r\nFIELD1=K,VARCHAR,5,0,5,0,\r\nFIELD2=V,NUMERIC,5,0,5,0,\r\n")
        cnxn = connect(self.data)
        rows = cnxn.execute("SELECT K, V FROM raw").fetchall()
        self.assertEqual([tuple(r) for r in rows], [("abcd", 1), ("next", 2), ('x"y', 3)])
        with open(self.file("raw.txt"), newline="") as f:
            self.assertEqual([r[0] for r in csv.reader(f)], ["abcd", "next", 'x"y'])
        cnxn.close()

    def test_four_processes_append_every_row_once(self):
        workers = [multiprocessing.Process(target=append_rows, args=(self.data, w, 40)) for w in range(4)]
        for p in workers:
            p.start()
        for p in workers:
            p.join(120)
            self.assertEqual(p.exitcode, 0)
        with open(self.file("people.csv"), newline="", encoding="cp1252") as f:
            rows = list(csv.reader(f))[5:]
        self.assertEqual(sorted(r[0] for r in rows), sorted(f"w{w}-{i}" for w in range(4) for i in range(40)))
        for r in rows:
            w, i = r[0][1:].split("-")
            self.assertEqual(r[1:], [w, "", "x" * (int(i) % 25)])

    def test_an_insert_waits_for_the_append_lock(self):
        cnxn = connect(self.data)
        with open(self.file("people.csv"), "r+b") as f:
            ofd_lock(f, fcntl.F_WRLCK)
            # Another program holds the lock: the INSERT waits, then fails.
            started = time.monotonic()
            with self.assertRaises(pyodbc.Error) as caught:
                cnxn.execute("INSERT INTO people (NAME) VALUES ('late')")
            self.assertGreater(time.monotonic() - started, 1.0)
            self.assertIn("locked by another user", str(caught.exception))
            # Let go while it waits: the row goes in.
            timer = threading.Timer(0.5, lambda: ofd_lock(f, fcntl.F_UNLCK))
            timer.start()
            started = time.monotonic()
            cnxn.execute("INSERT INTO people (NAME) VALUES ('waited')")
            self.assertGreater(time.monotonic() - started, 0.4)
            timer.join()
        self.assertEqual(cnxn.execute("SELECT COUNT(*) FROM people WHERE NAME = 'waited'").fetchone()[0], 1)
        cnxn.close()

    def test_only_the_append_byte_is_the_lock(self):
        cnxn = connect(self.data)
        with open(self.file("people.csv"), "r+b") as f:
            # A lock on the byte before it does not hold an INSERT up.
            fcntl.fcntl(f, F_OFD_SETLK, struct.pack("hhqqi4x", fcntl.F_WRLCK, 0, 0x7FFFFFFE, 1, 0))
            started = time.monotonic()
            cnxn.execute("INSERT INTO people (NAME) VALUES ('quick')")
            self.assertLess(time.monotonic() - started, 1.0)
        cnxn.close()

    def test_rows_beyond_64_mib_are_found_again(self):
        # A header line of 65 MiB puts every row past 0x04000000 bytes, the
        # most a 32-bit record number could name.
        with open(self.file("raw.txt"), "wb") as f:
            f.write(b"H" * (65 << 20) + b"\r\n")
            for i in range(50):
                f.write(b"k%02d,%d\r\n" % (i, i))
        with open(self.file("KVTXT.INI"), "a", newline="") as f:
            f.write("[raw]\r\nFILE=raw.txt\r\nFLN=1\r\nFIELD1=K,VARCHAR,5,0,5,0,\r\nFIELD2=V,NUMERIC,5,0,5,0,\r\n")
        cnxn = connect(self.data)
        rows = cnxn.execute("SELECT K, V FROM raw WHERE V >= 40 ORDER BY V DESC").fetchall()
        self.assertEqual([tuple(r) for r in rows], [(f"k{i:02d}", i) for i in range(49, 39, -1)])
        cnxn.execute("INSERT INTO raw VALUES ('new', 99)")
        self.assertEqual(cnxn.execute("SELECT K FROM raw WHERE V = 99").fetchone()[0], "new")
        cnxn.close()

    def test_rows_another_program_appends_are_seen(self):
        cnxn = connect(self.data)
        cursor = cnxn.cursor()
        self.assertEqual(cursor.execute("SELECT COUNT(*) FROM cities").fetchone()[0], 2)
        with open(self.file("cities_ss.csv"), "a", newline="", encoding="cp1252") as f:
            csv.writer(f).writerow(["Troms\u00f8", "77000"])
        self.assertEqual(cursor.execute("SELECT COUNT(*) FROM cities").fetchone()[0], 3)
        cnxn.close()

    def test_info_types_and_listing(self):
        cnxn = connect(self.data, "EE=txt,csv,TXT, csv ,NONE")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DBMS_VER), "01.00.0000")
        self.assertFalse(cnxn.getinfo(pyodbc.SQL_DATA_SOURCE_READ_ONLY))
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_MAX_COLUMN_NAME_LEN), 32)
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DRIVER_NAME), os.path.basename(DRIVER))
        names = sorted({r.type_name for r in cnxn.cursor().getTypeInfo(0)})
        self.assertEqual(names, ["DATE", "NUMERIC", "VARCHAR"])
        with open(self.file("loose.txt"), "w") as f:
            f.write("a\n")
        with open(self.file("README"), "w") as f:
            f.write("b\n")
        tables = [r.table_name for r in cnxn.cursor().tables()]
        # Defined tables, and files of the extensions (NONE: without one);
        # a defined file is not listed again by its file name.
        self.assertEqual(sorted(tables, key=str.lower), ["cities", "fixed", "loose.txt", "people", "README", "sales"])
        cnxn.close()
        cnxn = pyodbc.connect(f"DRIVER={{KvText}};DB={self.data}", readonly=True)
        self.assertTrue(cnxn.getinfo(pyodbc.SQL_DATA_SOURCE_READ_ONLY))
        cnxn.close()

    def test_missing_and_undefined_tables(self):
        cnxn = connect(self.data)
        with self.assertRaises(pyodbc.Error) as caught:
            cnxn.execute("SELECT * FROM nothing.csv")
        self.assertIn("42S02", str(caught.exception))
        with open(self.file("loose.txt"), "w") as f:
            f.write("a\n")
        with self.assertRaises(pyodbc.Error) as caught:
            cnxn.execute("SELECT * FROM loose.txt")
        self.assertIn("File name missing in INI file.", str(caught.exception))
        # A FILE with a directory part never reaches outside the directory.
        with open(self.file("KVTXT.INI"), "a", newline="") as f:
            f.write("[escape]\r\nFILE=../people.csv\r\nFIELD1=A,VARCHAR,5,0,5,0,\r\n")
        with self.assertRaises(pyodbc.Error) as caught:
            cnxn.execute("SELECT * FROM escape")
        self.assertIn("Invalid FILE value '../people.csv'", str(caught.exception))
        with self.assertRaises(pyodbc.Error) as caught:
            connect(self.data, "TT=Character;DC='\"'")
        self.assertIn("Invalid delimiter character", str(caught.exception))
        cnxn.close()

    def test_the_schema_file_is_one_configparser_reads(self):
        import configparser
        parser = configparser.ConfigParser()
        parser.read(self.file("KVTXT.INI"))
        self.assertEqual(parser["Defined Tables"]["people.csv"], "people")
        self.assertEqual(parser["fixed"]["FIELD3"], "MADE,DATE,8,0,8,17,yyyymmdd")


if __name__ == "__main__":
    unittest.main()
