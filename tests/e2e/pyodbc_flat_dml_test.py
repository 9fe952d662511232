"""INSERT, UPDATE and DELETE on the test file driver from pyodbc with its
default settings, through the unixODBC Driver Manager: row counts, the
parse errors an application meets, parameters (wide text of Windows-1252
beyond ASCII), and transactions: a second connection sees nothing until
commit, rollback leaves the table file byte for byte, and a commit that
fails on one table reports the error."""

import contextlib
import datetime
import multiprocessing
import os
import resource
import shutil
import signal
import sys
import unittest

import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402


class FlatDmlTest(flattest_tables.DataSourceTest):
    PREFIX = "kvflatdml"
    STANDARD_TABLES = True

    def setUp(self):
        self.cnxn = self.connect()
        # pyodbc starts in manual-commit mode; most tests write directly.
        self.cnxn.autocommit = True
        self.cursor = self.cnxn.cursor()
        self.cursor.execute("CREATE TABLE people (id INTEGER, name CHAR(10), sal DOUBLE)")
        self.cursor.execute("CREATE UNIQUE INDEX people_id ON people (id)")

    def tearDown(self):
        self.cnxn.rollback()
        self.cnxn.autocommit = True
        for table in ("people", "ta", "tb", "tc"):
            try:
                self.cursor.execute(f"DROP TABLE {table}")
            except pyodbc.Error:
                pass
        self.cnxn.close()

    @staticmethod
    def connect():
        cnxn = pyodbc.connect("DSN=Files")
        flattest_tables.read_text_in_locale(cnxn)
        return cnxn

    def rows(self, sql, *params, cursor=None):
        cursor = cursor or self.cursor
        return [tuple(v.rstrip(" ") if isinstance(v, str) else v for v in row)
                for row in cursor.execute(sql, *params).fetchall()]

    def file_bytes(self, table):
        with open(os.path.join(self.data, f"{table}.ftt"), "rb") as f:
            return f.read()

    def error_of(self, sql, *params):
        with self.assertRaises(pyodbc.Error) as caught:
            self.cursor.execute(sql, *params)
        return caught.exception.args[0], caught.exception.args[1]

    def test_insert_update_delete_count_their_rows(self):
        self.assertEqual(self.cursor.execute("INSERT INTO people VALUES (1, 'ANN', 10)").rowcount, 1)
        self.assertEqual(self.cursor.execute("INSERT INTO people (name, id) VALUES ('BOB', 2)").rowcount, 1)
        self.assertEqual(self.cursor.execute("INSERT INTO people (id, name, sal) VALUES (?, ?, ?)",
                                             3, "CY", 30.5).rowcount, 1)
        self.assertEqual(self.rows("SELECT * FROM people ORDER BY id"),
                         [(1, "ANN", 10.0), (2, "BOB", None), (3, "CY", 30.5)])
        # SET a = ? through a correlation name.
        self.assertEqual(self.cursor.execute("UPDATE people p SET p.sal = ? WHERE p.id >= ?", 99.5, 2).rowcount, 2)
        self.assertEqual(self.cursor.execute("UPDATE people SET sal = sal + 1 WHERE id = 99").rowcount, 0)
        self.assertEqual(self.rows("SELECT id, sal FROM people ORDER BY id"), [(1, 10.0), (2, 99.5), (3, 99.5)])
        self.assertEqual(self.cursor.execute("DELETE FROM people WHERE sal > ?", 50).rowcount, 2)
        self.assertEqual(self.rows("SELECT id FROM people"), [(1,)])
        # pyodbc binds None as SQL_VARCHAR whatever the column: NULL is taken
        # for a number column too.
        self.assertEqual(self.cursor.execute("INSERT INTO people (id, name, sal) VALUES (?, ?, ?)",
                                             4, "DI", None).rowcount, 1)
        self.assertEqual(self.cursor.execute("UPDATE people SET sal = ? WHERE id = ?", None, 1).rowcount, 1)
        self.assertEqual(self.rows("SELECT id, sal FROM people ORDER BY id"), [(1, None), (4, None)])

    def test_errors_an_application_meets(self):
        cases = [
            ("INSERT INTO people VALUES (1, 'A', 2, 3)", "21S01",
             "An incorrect number of values appear in the VALUES clause of an INSERT statement"),
            ("INSERT INTO people (id+1) VALUES (2)", "42000",
             "An expression was found where an UPDATE column name should appear"),
            ("INSERT INTO people (id, name) VALUES ('x', 'y')", "42000",
             "An INSERT value didn't match the data type of its corresponding column"),
            ("UPDATE people SET sal = 'x'", "42000",
             "An UPDATE expression didn't match the data type of its corresponding column"),
            ("DELETE people WHERE id = 1", "42000", "Missing FROM keyword in DELETE statement"),
            ("DELETE FROM people, emp", "42000", "Join in update is not allowed."),
        ]
        for sql, state, text in cases:
            with self.subTest(sql=sql):
                got_state, got_text = self.error_of(sql)
                self.assertEqual(got_state, state)
                self.assertIn(text, got_text)
        # A duplicate of a unique key, and a value the column cannot hold.
        self.cursor.execute("INSERT INTO people VALUES (1, 'ANN', 10)")
        self.assertEqual(self.error_of("INSERT INTO people VALUES (1, 'AGAIN', 0)")[0], "HY000")
        self.assertEqual(self.error_of("UPDATE people SET name = 'FAR TOO LONG A NAME'")[0], "22001")
        self.assertEqual(self.rows("SELECT * FROM people"), [(1, "ANN", 10.0)])

    def test_wide_text_beyond_ascii_is_stored_and_compared(self):
        # pyodbc sends str as SQL_C_WCHAR / SQL_WVARCHAR.
        self.cursor.execute("INSERT INTO people (id, name) VALUES (?, ?)", 1, "caf\u00e9 \u20ac")
        self.cursor.execute("INSERT INTO people (id, name) VALUES (?, ?)", 2, "plain")
        self.assertEqual(self.rows("SELECT name FROM people WHERE id = 1"), [("caf\u00e9 \u20ac",)])
        self.assertEqual(self.rows("SELECT id FROM people WHERE name = ?", "caf\u00e9 \u20ac"), [(1,)])
        self.cursor.execute("UPDATE people SET name = ? WHERE name = ?", "\u20ac\u00e9", "plain")
        self.assertEqual(self.rows("SELECT name FROM people WHERE id = 2"), [("\u20ac\u00e9",)])
        # A character Windows-1252 cannot hold is refused, never stored as garbage.
        with self.assertRaises(pyodbc.Error):
            self.cursor.execute("INSERT INTO people (id, name) VALUES (?, ?)", 3, "\u4e00")
        self.assertEqual(self.rows("SELECT id FROM people ORDER BY id"), [(1,), (2,)])

    def test_manual_commit_hides_changes_until_commit(self):
        self.cursor.execute("INSERT INTO people VALUES (1, 'ANN', 10)")
        before = self.file_bytes("people")
        self.cnxn.autocommit = False
        self.cursor.execute("INSERT INTO people VALUES (2, 'BOB', 20)")
        self.cursor.execute("UPDATE people SET sal = 11 WHERE id = 1")
        self.cursor.execute("INSERT INTO people VALUES (3, 'CY', 30)")
        self.cursor.execute("DELETE FROM people WHERE id = 3")
        self.assertEqual(self.rows("SELECT id, sal FROM people ORDER BY id"), [(1, 11.0), (2, 20.0)])
        other = self.connect()
        self.assertEqual(self.rows("SELECT id, sal FROM people", cursor=other.cursor()), [(1, 10.0)])
        self.assertEqual(self.file_bytes("people"), before)

        self.cnxn.rollback()
        self.assertEqual(self.file_bytes("people"), before)
        self.assertEqual(self.rows("SELECT id, sal FROM people"), [(1, 10.0)])

        self.cursor.execute("UPDATE people SET sal = 12 WHERE id = 1")
        self.cursor.execute("INSERT INTO people VALUES (4, 'DEE', 40)")
        self.assertEqual(self.rows("SELECT id, sal FROM people", cursor=other.cursor()), [(1, 10.0)])
        self.cnxn.commit()
        self.assertEqual(self.rows("SELECT id, sal FROM people ORDER BY id", cursor=other.cursor()),
                         [(1, 12.0), (4, 40.0)])
        other.close()

    def test_pending_rows_read_as_they_will_after_commit(self):
        self.cursor.execute("CREATE TABLE ta (a INTEGER, b CHAR(5), c DOUBLE, d DATE, e NUMERIC(10,2), "
                            "f BIT, g BINARY(2))")
        self.cnxn.autocommit = False
        self.cursor.executemany("INSERT INTO ta VALUES (?, ?, ?, ?, ?, ?, ?)",
                                [(1, None, None, None, None, None, None),
                                 (None, "Oslo", 2.5, datetime.date(2020, 1, 2), 7.25, True, b"\x01\x02")])
        self.cursor.execute("INSERT INTO ta (a) VALUES (3)")
        sql = "SELECT a, b, c, d, e, f, g FROM ta ORDER BY a"
        pending = self.cursor.execute(sql).fetchall()
        # NULL sorts first.
        self.assertEqual(tuple(pending[1]), (1,) + (None,) * 6)
        self.assertEqual(pending[0][1], "Oslo ")
        self.cnxn.commit()
        self.assertEqual(self.cursor.execute(sql).fetchall(), pending)
        # An update waiting in the log reads as the stored row will.
        self.cursor.execute("UPDATE ta SET b = 'x', c = NULL, f = NULL WHERE a = 1")
        pending = self.cursor.execute(sql).fetchall()
        self.cnxn.commit()
        self.assertEqual(self.cursor.execute(sql).fetchall(), pending)
        self.assertEqual(tuple(pending[1]), (1, "x    ", None, None, None, None, None))

    def test_long_text_waits_in_the_change_log(self):
        self.cursor.execute("CREATE TABLE ta (id INTEGER, note LONG VARCHAR(9000))")
        self.cnxn.autocommit = False
        self.cursor.execute("INSERT INTO ta VALUES (1, ?)", "y" * 6000)
        self.cursor.execute("UPDATE ta SET note = ? WHERE id = 1", "z" * 7000)
        self.assertEqual(self.rows("SELECT note FROM ta"), [("z" * 7000,)])
        self.cnxn.commit()
        other = self.connect()
        self.assertEqual(self.rows("SELECT id, note FROM ta", cursor=other.cursor()), [(1, "z" * 7000)])
        other.close()

    def test_a_commit_that_fails_keeps_what_it_did_not_write(self):
        for table in ("ta", "tb", "tc"):
            self.cursor.execute(f"CREATE TABLE {table} (id INTEGER, name CHAR(4))")
            self.cursor.execute(f"CREATE UNIQUE INDEX {table}_id ON {table} (id)")
        before = {table: self.file_bytes(table) for table in ("ta", "tb", "tc")}
        self.cnxn.autocommit = False
        self.cursor.execute("INSERT INTO ta VALUES (1, 'one')")
        # Two pending rows with one key: the commit finds them before it
        # writes anything, and says which table holds them.
        self.cursor.execute("INSERT INTO tb VALUES (1, 'one')")
        self.cursor.execute("INSERT INTO tb VALUES (1, 'two')")
        self.cursor.execute("INSERT INTO tc VALUES (1, 'one')")
        for attempt in range(2):
            with self.assertRaises(pyodbc.Error) as caught:
                self.cnxn.commit()
            self.assertIn("tb.ftt could not be committed", caught.exception.args[1])
            self.assertEqual({table: self.file_bytes(table) for table in before}, before)
        self.assertEqual(len(self.rows("SELECT id FROM tb")), 2)
        self.cnxn.rollback()
        self.assertEqual({table: self.file_bytes(table) for table in before}, before)
        for table in before:
            self.assertEqual(self.rows(f"SELECT id FROM {table}"), [])

    def test_a_commit_that_fails_while_writing_keeps_the_rest(self):
        self.cursor.execute("CREATE TABLE ta (id INTEGER, name CHAR(4))")
        self.cursor.execute("INSERT INTO ta VALUES (5, 'old')")
        self.cnxn.autocommit = False
        for key in (1, 2, 3):
            self.cursor.execute("INSERT INTO ta VALUES (?, 'new')", key)
        # The file may grow by one record only: the second append fails as
        # on a full disk (the size limit of this process stands in for it).
        record = 1 + 5 + 5
        limit = len(self.file_bytes("ta")) + record
        with file_size_limit(limit):
            with self.assertRaises(pyodbc.Error) as caught:
                self.cnxn.commit()
        self.assertIn("ta.ftt could not be committed", caught.exception.args[1])
        other = self.connect()
        self.assertEqual(self.rows("SELECT id FROM ta ORDER BY id", cursor=other.cursor()), [(1,), (5,)])
        other.close()
        # What was not written is still in the transaction: a second commit
        # writes it, not a success over dropped rows.
        self.assertEqual(self.rows("SELECT id FROM ta ORDER BY id"), [(1,), (2,), (3,), (5,)])
        self.cnxn.commit()
        other = self.connect()
        self.assertEqual(self.rows("SELECT id FROM ta ORDER BY id", cursor=other.cursor()),
                         [(1,), (2,), (3,), (5,)])
        other.close()

    def test_commits_of_two_processes_all_arrive(self):
        self.cursor.execute("CREATE TABLE ta (p INTEGER, n INTEGER, id INTEGER)")
        self.cursor.execute("CREATE UNIQUE INDEX ta_id ON ta (id)")
        rows = 150
        for mode in ("manual", "autocommit"):
            with multiprocessing.get_context("fork").Pool(2) as pool:
                done = pool.starmap(insert_rows, [(p, rows, mode) for p in (1, 2)])
            self.assertEqual(done, [rows, rows], mode)
        # Every commit that reported success is in the file, each key once;
        # the index sees the other process's rows.
        self.assertEqual(self.rows("SELECT COUNT(*), COUNT(DISTINCT id) FROM ta"), [(4 * rows, 4 * rows)])
        self.assertEqual(self.rows("SELECT p, n FROM ta WHERE id = 2149"), [(2, 149)])
        with self.assertRaises(pyodbc.Error):
            self.cursor.execute("INSERT INTO ta VALUES (1, 0, 2149)")


def insert_rows(process, rows, mode):
    """Inserts rows through a connection of its own, committing each; the
    number that reported success."""
    cnxn = pyodbc.connect("DSN=Files", autocommit=mode == "autocommit")
    cursor = cnxn.cursor()
    done = 0
    base = process * 1000 + (100000 if mode == "autocommit" else 0)
    for n in range(rows):
        cursor.execute("INSERT INTO ta VALUES (?, ?, ?)", process, n, base + n)
        if mode == "manual":
            cnxn.commit()
        done += 1
    cnxn.close()
    return done


@contextlib.contextmanager
def file_size_limit(size):
    """Writes of this process beyond size bytes of a file fail (EFBIG)."""
    old_handler = signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    resource.setrlimit(resource.RLIMIT_FSIZE, (size, hard))
    try:
        yield
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
        signal.signal(signal.SIGXFSZ, old_handler)


if __name__ == "__main__":
    unittest.main()
