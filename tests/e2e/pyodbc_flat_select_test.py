"""SELECT on the test file driver from pyodbc with its default settings,
through the unixODBC Driver Manager: rows of plain and computed columns of
every type, WHERE, ORDER BY, DISTINCT, aggregates, joins, long values, and
parameters."""

import datetime
import os
import sys
import unittest

import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402


class FlatSelectTest(flattest_tables.CursorTest):
    PREFIX = "kvflatsel"
    STANDARD_TABLES = True

    def setUp(self):
        super().setUp()
        flattest_tables.read_text_in_locale(self.cnxn)

    def rows(self, sql, *params):
        """The rows of sql, CHAR values without their padding blanks."""
        return [tuple(v.rstrip(" ") if isinstance(v, str) else v for v in row)
                for row in self.cursor.execute(sql, *params).fetchall()]

    def test_select_star_gives_every_column_of_every_row(self):
        rows = self.rows("SELECT * FROM emp")
        self.assertEqual(len(rows), 4)
        self.assertEqual(rows[0], (1, "SMITH", 1000.5, datetime.date(1995, 7, 4), True, "first of all",
                                   b"\x01\xab"))
        self.assertEqual(rows[1][5], "x" * 25)
        # NULLs of every type; a text beyond ASCII in the connection's
        # character set.
        self.assertEqual(rows[2], (3, "caf\u00e9", None, None, None, None, None))
        names = [d[0] for d in self.cursor.description]
        self.assertEqual(names, ["ID", "NAME", "SAL", "HIRED", "ACTIVE", "NOTE", "CODE"])

    def test_computed_items_and_where(self):
        self.assertEqual(self.rows("SELECT id, sal + 1, name FROM emp WHERE sal > 500 AND id < 10"),
                         [(1, 1001.5, "SMITH"), (2, 2001.0, "JONES")])
        self.assertEqual(self.rows("SELECT id * 2, UPPER(name) FROM emp WHERE id = 3"), [(6, "CAF\u00c9")])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE name = 'NOBODY'"), [])

    def test_dates_and_times(self):
        # A stored date with a time of day, read as a date; a date computed
        # from it keeps the day.
        self.assertEqual(self.rows("SELECT hired, hired + 1 FROM emp WHERE id = 1"),
                         [(datetime.date(1995, 7, 4), datetime.date(1995, 7, 5))])
        self.assertEqual(self.rows("SELECT hired FROM emp WHERE id = 4"), [(datetime.date(1999, 12, 31),)])

    def test_order_by_distinct_and_aggregates(self):
        self.assertEqual(self.rows("SELECT id FROM emp ORDER BY id DESC"), [(4,), (3,), (2,), (1,)])
        self.assertEqual([r[0] for r in self.rows("SELECT name FROM emp ORDER BY name")],
                         ["ADAMS", "JONES", "SMITH", "caf\u00e9"])
        self.assertEqual(self.rows("SELECT DISTINCT active FROM emp"), [(None,), (False,), (True,)])
        self.assertEqual(self.rows("SELECT COUNT(*), SUM(sal), MAX(name) FROM emp"), [(4, 3150.75, "caf\u00e9")])
        self.assertEqual(self.rows("SELECT COUNT(*) FROM emp WHERE id > 100"), [(0,)])

    def test_join(self):
        self.assertEqual(self.rows("SELECT e.name, d.title FROM emp e, dept d WHERE e.id = d.id ORDER BY 1"),
                         [("JONES", "Sales"), ("SMITH", "Accounting")])

    def test_correlated_subqueries_under_a_join(self):
        # The subquery names the second table of the join: its answer waits
        # until that table stands on a row.
        cases = [
            ("NOT EXISTS (SELECT * FROM dept x WHERE x.id = d.id AND x.title = 'Sales')", ["Accounting"]),
            ("EXISTS (SELECT * FROM dept x WHERE x.id = d.id AND x.title = 'Sales')", ["Sales"]),
            ("NOT (NOT EXISTS (SELECT * FROM dept x WHERE x.id = d.id AND x.title = 'Sales'))", ["Sales"]),
            ("d.id NOT IN (SELECT x.id FROM dept x WHERE x.id = d.id AND x.title = 'Sales')", ["Accounting"]),
            ("d.title <> (SELECT x.title FROM dept x WHERE x.id = d.id AND x.title = 'Sales')", []),
        ]
        for condition, titles in cases:
            sql = f"SELECT d.title FROM emp e, dept d WHERE e.id = d.id AND {condition} ORDER BY 1"
            self.assertEqual([r[0] for r in self.rows(sql)], titles, condition)

    def test_uncorrelated_in_subquery_read_once_an_execution(self):
        # The subquery's values are read once an execution and searched for
        # each row; a new execution with another parameter reads them again.
        sql = "SELECT id FROM emp WHERE id IN (SELECT d.id FROM dept d WHERE d.id < ?) ORDER BY id"
        self.assertEqual(self.rows(sql, 10), [(1,), (2,)])
        self.assertEqual(self.rows(sql, 2), [(1,)])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE id NOT IN (SELECT id FROM dept) ORDER BY id"),
                         [(3,), (4,)])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE name IN (SELECT UPPER(title) FROM dept)"), [])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE name = ANY (SELECT name FROM emp WHERE id > 3)"),
                         [(4,)])
        self.assertEqual(self.rows("SELECT title FROM dept WHERE id <> ALL (SELECT id FROM emp) ORDER BY 1"),
                         [("Nobody",)])

    def test_edges_of_labels_round_and_bit_parameters(self):
        # An expression's label is cut to the column-name limit the driver
        # reports, however long the expression's text.
        limit = self.cnxn.getinfo(pyodbc.SQL_MAX_COLUMN_NAME_LEN)
        self.cursor.execute("SELECT id" + " " * 40000 + "+ 1 FROM dept WHERE id = 1")
        self.assertEqual(len(self.cursor.description[0][0]), limit)
        self.assertEqual(self.cursor.fetchall()[0][0], 2)
        # ROUND with more places than a double holds leaves the value, with
        # fewer than any magnitude gives 0.
        self.assertEqual(self.rows("SELECT ROUND(1.5, 400), ROUND(2.25, 1), ROUND(123.5, -400), ROUND(-2.5, 0) "
                                   "FROM dept WHERE id = 1"), [(1.5, 2.3, 0.0, -3.0)])
        # A BIT parameter compared with a number is the number 1 or 0.
        self.assertEqual(self.rows("SELECT id FROM emp WHERE id = ?", True), [(1,)])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE id - 1 = ?", False), [(1,)])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE active = ? ORDER BY id", True), [(1,), (4,)])

    def test_long_text_in_pieces_through_getdata(self):
        # pyodbc reads a long column with SQLGetData in pieces.
        self.assertEqual(self.rows("SELECT note FROM emp WHERE id = 2"), [("x" * 25,)])
        # Longer than any piece, with characters beyond ASCII: whole and
        # unchanged, whatever C type pyodbc reads it with.
        self.assertEqual([row[0] for row in self.cursor.execute("SELECT body FROM memo ORDER BY id")],
                         [flattest_tables.MEMO_ROWS[0][1], flattest_tables.MEMO_ROWS[1][1]])
        # An empty long text is NULL.
        self.assertEqual(self.rows("SELECT note FROM emp WHERE id = 4"), [(None,)])

    def test_parameters_with_defaults(self):
        self.assertEqual(self.rows("SELECT id FROM emp WHERE name = ?", "caf\u00e9"), [(3,)])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE id = ?", 2), [(2,)])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE sal < ?", 1000.75), [(1,), (4,)])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE hired = ?", datetime.date(2000, 2, 29)), [(2,)])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE code = ?", b"AB"), [(2,)])
        self.assertEqual(self.rows("SELECT id FROM emp WHERE name = ?", None), [])
        # One statement, executed again with other values.
        for value, expected in ((1, [(1,)]), (4, [(4,)]), (5, [])):
            self.assertEqual(self.rows("SELECT id FROM emp WHERE id = ?", value), expected)

    def test_reexecution_and_fetch_after_the_end(self):
        self.cursor.execute("SELECT id FROM emp")
        self.assertEqual(len(self.cursor.fetchall()), 4)
        self.assertIsNone(self.cursor.fetchone())
        self.cursor.execute("SELECT id FROM emp WHERE id > 2")
        self.assertEqual([r[0] for r in self.cursor.fetchall()], [3, 4])

    def test_escape_clauses(self):
        self.assertEqual(self.rows("SELECT ID FROM emp WHERE HIRED = {d '1995-07-04'}"), [(1,)])
        self.assertEqual(self.rows("SELECT {fn ucase({fn lcase(NAME)})}, {fn lcase(NAME)} FROM emp "
                                   "WHERE ID = 2"), [("JONES", "jones")])
        self.assertEqual(self.rows("SELECT {fn concat('A', NAME)} FROM emp WHERE ID = 1"), [("ASMITH",)])
        (today,), = self.rows("SELECT {fn curdate()} FROM emp WHERE ID = 1")
        self.assertIn(today, (datetime.date.today(), datetime.date.today() - datetime.timedelta(days=1)))
        with self.assertRaises(pyodbc.Error) as caught:
            self.cursor.execute("SELECT {fn nosuchfunction(NAME)} FROM emp")
        self.assertEqual(caught.exception.args[0], "42000")  # 37000 as unixODBC maps it for ODBC 3


if __name__ == "__main__":
    unittest.main()
