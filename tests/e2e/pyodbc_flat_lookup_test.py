"""Index ranges and sorted lookups of the file SQL engine through the
unixODBC Driver Manager, from pyodbc: the same query over a table with an
index on the columns it compares, one with a descending index and one
without any gives the same rows, and those rows are the ones the query asks
for; joins and correlated subqueries over a table without a usable index
(read through the engine's sorted lookup) give the rows of the nested loop;
a lookup key too long fails with the engine's message."""

import os
import random
import sys
import unittest

import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402

INDEXED, DESCENDING = 0x1, 0x4
NAMES = ["BA", "BAKER", "BANKS", "BAZ", "ADAMS", "CARR", "ZED", "B", "BB", "BA%X", "", "CA"]
DEPTS = ["A", "B", "C", "D"]


def make_rows(count, seed):
    rng = random.Random(seed)
    rows = []
    for i in range(1, count + 1):
        sal = None if rng.random() < 0.05 else float(rng.randrange(0, 60) * 10)
        rows.append((i, rng.choice(NAMES), rng.choice(DEPTS), sal))
    return rows


class FlatLookupTest(flattest_tables.CursorTest):
    PREFIX = "kvflatlookup"

    @classmethod
    def tables(cls, data):
        cls.pay = make_rows(300, 17)
        cls.small = make_rows(40, 5)
        for name, name_flags, sal_flags, rows in (("pay", INDEXED, INDEXED, cls.pay),
                                                  ("payd", 0, DESCENDING, cls.pay),
                                                  ("payx", 0, 0, cls.pay),
                                                  ("small", 0, 0, cls.small)):
            flattest_tables.write_table(os.path.join(data, name + ".ftt"),
                                        [("ID", "I", 4, 0), ("NAME", "C", 10, name_flags),
                                         ("DEPT", "C", 4, 0), ("SAL", "D", 8, sal_flags)], rows)
        flattest_tables.write_table(os.path.join(data, "wide.ftt"), [("W", "C", 2043, 0)], [])

    def rows(self, sql):
        """The rows of sql as a sorted list, texts without padding blanks."""
        return sorted(tuple(v.rstrip(" ") if isinstance(v, str) else v for v in row)
                      for row in self.cursor.execute(sql).fetchall())

    def test_results_through_an_index_equal_those_without(self):
        # Each condition with the rows it selects, computed here.
        cases = [
            ("SAL >= 200", lambda r: r[3] is not None and r[3] >= 200),
            ("SAL BETWEEN 200 AND 400", lambda r: r[3] is not None and 200 <= r[3] <= 400),
            ("SAL = 100 OR DEPT = 'C'", lambda r: r[3] == 100 or r[2] == "C"),
            ("NAME LIKE 'BA%'", lambda r: r[1].startswith("BA")),
            ("SAL > 300", lambda r: r[3] is not None and r[3] > 300),
            ("SAL < 150", lambda r: r[3] is not None and r[3] < 150),
            ("NAME = 'BAKER'", lambda r: r[1] == "BAKER"),
            ("NAME >= 'BAN' AND NAME < 'C'", lambda r: "BAN" <= r[1] < "C"),
            ("NAME LIKE 'BA\\%%'", lambda r: r[1].startswith("BA%")),
        ]
        for condition, wanted in cases:
            expected = sorted((r[0],) for r in self.pay if wanted(r))
            self.assertTrue(expected, condition)
            for table in ("pay", "payd", "payx"):
                self.assertEqual(self.rows(f"SELECT ID FROM {table} WHERE {condition}"), expected,
                                 f"{table}: {condition}")

    def test_joins_without_an_index_equal_the_nested_loop(self):
        conditions = [
            "b.SAL = a.SAL",
            "a.SAL = b.SAL AND a.DEPT = 'A'",
            "b.SAL > a.SAL + 500",
            "b.SAL BETWEEN a.SAL - 10 AND a.SAL + 10 AND b.DEPT = a.DEPT",
            "b.NAME = a.NAME AND b.ID < a.ID",
            "b.DEPT = a.DEPT AND b.SAL = a.SAL AND b.ID <> a.ID",
            "b.SAL = a.SAL OR b.NAME = 'ZED'",
        ]
        for condition in conditions:
            items = "SELECT a.ID, b.ID FROM small a, "
            # Under an OR with a false term nothing bounds the inner table:
            # the nested loop reads it for each outer row.
            plain = self.rows(items + f"payx b WHERE ({condition}) OR 1 = 0")
            self.assertTrue(plain, condition)
            self.assertEqual(self.rows(items + f"payx b WHERE {condition}"), plain, condition)
            self.assertEqual(self.rows(items + f"pay b WHERE {condition}"), plain, condition)
        # One join checked against rows computed here (no NULL salaries).
        expected = sorted((a[0], b[0]) for a in self.small for b in self.pay
                          if a[3] is not None and b[3] == a[3] and a[2] == b[2])
        self.assertEqual(self.rows("SELECT a.ID, b.ID FROM small a, payx b "
                                   "WHERE b.SAL = a.SAL AND b.DEPT = a.DEPT AND a.SAL IS NOT NULL"), expected)

    def test_correlated_subqueries_without_an_index(self):
        forms = [
            "EXISTS (SELECT ID FROM payx b WHERE b.SAL = a.SAL AND b.ID <> a.ID)",
            "a.SAL >= ALL (SELECT SAL FROM payx b WHERE b.DEPT = a.DEPT AND b.NAME = a.NAME)",
            "(SELECT COUNT(*) FROM payx b WHERE b.SAL < a.SAL AND b.DEPT = a.DEPT) < 5",
        ]
        for form in forms:
            sql = f"SELECT ID FROM small a WHERE {form}"
            plain = sql[:sql.rfind(")")] + " OR 1 = 0" + sql[sql.rfind(")"):]
            self.assertEqual(self.rows(sql), self.rows(plain), form)
        expected = sorted((a[0],) for a in self.small
                          if any(b[3] == a[3] and a[3] is not None for b in self.pay))
        self.assertEqual(self.rows("SELECT ID FROM small a WHERE a.SAL IS NOT NULL AND "
                                   "EXISTS (SELECT ID FROM payx b WHERE b.SAL = a.SAL)"), expected)

    def test_a_lookup_key_too_long_fails(self):
        with self.assertRaises(pyodbc.Error) as caught:
            self.rows("SELECT a.ID FROM small a, wide w WHERE w.W = a.NAME")
        self.assertIn("Stack overflow in expression evaluator.  Query aborted!", str(caught.exception))


if __name__ == "__main__":
    unittest.main()
