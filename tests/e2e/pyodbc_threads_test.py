"""Threads from pyodbc (an ODBC 3 application that lets other threads run
while a call is in the driver), on the test file driver and the dBASE driver:
threads sharing one connection with a cursor each, threads connecting at the
same time, and Cursor.cancel from another thread stopping a long join. Waits
are on conditions with generous limits, never on times that decide the
outcome."""

import os
import shutil
import struct
import sys
import tempfile
import threading
import unittest

import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402

FLATTEST = os.environ["KV_FLATTEST_DRIVER"]
DBASE = os.environ["KV_DBASE_DRIVER"]


class ThreadsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kvthreads")
        cls.tmp = os.path.join(cls.dir, "tmp")
        os.mkdir(cls.tmp)
        os.environ["TMPDIR"] = cls.tmp
        for name in ("files", "tables"):
            os.mkdir(os.path.join(cls.dir, name))
        flattest_tables.private_configuration(
            cls.dir, f"[KvFlatTest]\nDriver={FLATTEST}\n\n[KvDbase]\nDriver={DBASE}\n",
            f"[Files]\nDriver=KvFlatTest\nDatabase={cls.dir}/files\n\n"
            f"[Tables]\nDriver=KvDbase\nDatabase={cls.dir}/tables\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def each_driver(self):
        """The connection strings of both drivers."""
        return ("DSN=Files", "DSN=Tables")

    def empty_data(self, connection_string):
        """Empties the data directory of connection_string's data source."""
        data = os.path.join(self.dir, "files" if connection_string == "DSN=Files" else "tables")
        for name in os.listdir(data):
            os.remove(os.path.join(data, name))

    def fill(self, cnxn, rows, name="T"):
        """Table name (ID NUMERIC(10,0), NAME CHAR(10)) with rows 1 .. rows:
        made by SQL on the test file driver, written as a dBASE III file for
        the dBASE driver, which makes no tables."""
        if cnxn.getinfo(pyodbc.SQL_DRIVER_NAME) == os.path.basename(DBASE):
            header = bytearray(32)
            header[0] = 3
            header[1:4] = bytes([126, 1, 1])
            struct.pack_into("<IHH", header, 4, rows, 32 + 2 * 32 + 1, 21)
            fields = b""
            for field, kind in ((b"ID", b"N"), (b"NAME", b"C")):
                descriptor = bytearray(32)
                descriptor[0:len(field)] = field
                descriptor[11] = kind[0]
                descriptor[16] = 10
                fields += bytes(descriptor)
            records = b"".join(b" %10d%-10s" % (i, b"N%d" % i) for i in range(1, rows + 1))
            with open(os.path.join(self.dir, "tables", name + ".dbf"), "wb") as f:
                f.write(bytes(header) + fields + b"\r" + records + b"\x1a")
            return
        autocommit = cnxn.autocommit
        cnxn.autocommit = False
        cursor = cnxn.cursor()
        cursor.execute(f"CREATE TABLE {name} (ID NUMERIC(10,0), NAME CHAR(10))")
        if rows:
            cursor.executemany(f"INSERT INTO {name} VALUES (?, ?)", [(i, f"N{i}") for i in range(1, rows + 1)])
        cnxn.commit()
        cursor.close()
        cnxn.autocommit = autocommit

    @staticmethod
    def run_threads(count, work):
        """Runs work(index) on count threads; returns the exceptions raised."""
        failures = []

        def body(index):
            try:
                work(index)
            except Exception as error:  # noqa: BLE001 - reported by the test
                failures.append(repr(error))

        threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(120)
        return failures

    def test_threads_share_one_connection(self):
        for connection_string in self.each_driver():
            with self.subTest(connection_string=connection_string):
                self.empty_data(connection_string)
                cnxn = pyodbc.connect(connection_string, autocommit=True)
                self.fill(cnxn, 30)
                self.fill(cnxn, 0, "U")

                def work(index):
                    for round_ in range(20):
                        cursor = cnxn.cursor()
                        cursor.execute("INSERT INTO U VALUES (?, 'w')", index * 1000 + round_)
                        rows = cursor.execute("SELECT ID, NAME FROM T ORDER BY ID").fetchall()
                        if [int(r[0]) for r in rows] != list(range(1, 31)):
                            raise AssertionError(f"thread {index} read {len(rows)} rows")
                        cursor.close()

                self.assertEqual(self.run_threads(8, work), [])
                self.assertEqual(cnxn.cursor().execute("SELECT COUNT(*) FROM U").fetchone()[0], 8 * 20)
                cnxn.close()

    def test_threads_connect_at_once(self):
        for connection_string in self.each_driver():
            with self.subTest(connection_string=connection_string):
                self.empty_data(connection_string)
                cnxn = pyodbc.connect(connection_string)
                self.fill(cnxn, 3)
                cnxn.close()

                def work(index):
                    for _ in range(10):
                        other = pyodbc.connect(connection_string)
                        count = other.cursor().execute("SELECT COUNT(*) FROM T").fetchone()[0]
                        if count != 3:
                            raise AssertionError(f"thread {index} counted {count}")
                        other.close()

                self.assertEqual(self.run_threads(8, work), [])

    def open_scratch_files(self):
        """Descriptors of this process on files in the private $TMPDIR."""
        found = []
        for fd in os.listdir("/proc/self/fd"):
            try:
                target = os.readlink(f"/proc/self/fd/{fd}")
            except OSError:
                continue
            if target.startswith(self.tmp + "/"):
                found.append(target)
        return found

    def test_cancel_from_another_thread(self):
        for connection_string in self.each_driver():
            with self.subTest(connection_string=connection_string):
                self.empty_data(connection_string)
                cnxn = pyodbc.connect(connection_string)
                self.fill(cnxn, 2500)
                cursor = cnxn.cursor()
                before = set(self.open_scratch_files())
                # The join's work comes with the first fetch; its sort is
                # running once it holds a scratch file of its own.
                cursor.execute("SELECT A.ID, B.NAME FROM T A, T B ORDER BY B.NAME, A.ID")
                outcome = {}

                def run():
                    try:
                        cursor.fetchone()
                        outcome["result"] = "finished"
                    except pyodbc.Error as error:
                        outcome["result"] = error.args[0]

                runner = threading.Thread(target=run)
                runner.start()
                while runner.is_alive() and not set(self.open_scratch_files()) - before:
                    runner.join(0.01)
                self.assertTrue(runner.is_alive(), "the join ended before it was seen sorting")
                self.assertEqual(os.listdir(self.tmp), [], "scratch files have no name")
                cursor.cancel()
                runner.join(60)
                self.assertEqual(outcome.get("result"), "HY008")
                self.assertEqual(set(self.open_scratch_files()) - before, set())
                self.assertEqual(cursor.execute("SELECT COUNT(*) FROM T").fetchone()[0], 2500)
                cnxn.close()


if __name__ == "__main__":
    unittest.main()
