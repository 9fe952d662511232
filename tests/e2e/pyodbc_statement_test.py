"""Statements and transactions of the test driver from pyodbc, an ODBC 3
application, through the unixODBC Driver Manager. The test driver's
statements COMMITS, ROLLBACKS and BEGUN report as their row count how many
transactions reached the driver (drivers/test/test_statement.h)."""

import unittest

import pyodbc

from pyodbc_connect_test import PrivateOdbcTest


class PyodbcStatementTest(PrivateOdbcTest):
    DATA_SOURCES = "[Plain]\nDriver=KvTest\nDriverName=Plain\n"

    def count(self, cnxn, what):
        return cnxn.cursor().execute(what).rowcount

    def test_row_counts(self):
        cnxn = pyodbc.connect("DSN=Plain", autocommit=True)
        cursor = cnxn.cursor()
        self.assertEqual(cursor.execute("INSERT INTO t VALUES (1)").rowcount, 1)
        self.assertEqual(cursor.execute("UPDATE t SET a = 2").rowcount, 1)
        self.assertEqual(cursor.execute("PACK t").rowcount, -1)
        cnxn.close()

    def test_switching_autocommit_on_commits_the_open_transaction(self):
        cnxn = pyodbc.connect("DSN=Plain", autocommit=False)
        cnxn.cursor().execute("INSERT INTO t VALUES (1)")
        self.assertEqual(self.count(cnxn, "COMMITS"), 0)
        self.assertEqual(self.count(cnxn, "BEGUN"), 1)
        cnxn.autocommit = True
        self.assertEqual(self.count(cnxn, "COMMITS"), 1, "the open transaction was committed")
        cnxn.close()

    def test_commit_and_rollback(self):
        cnxn = pyodbc.connect("DSN=Plain", autocommit=True)
        cnxn.cursor().execute("INSERT INTO t VALUES (1)")
        cnxn.commit()
        cnxn.rollback()
        self.assertEqual(self.count(cnxn, "COMMITS") + self.count(cnxn, "ROLLBACKS"), 0,
                         "in autocommit mode nothing reaches the driver")
        cnxn.autocommit = False
        cnxn.cursor().execute("DELETE FROM t")
        cnxn.commit()
        self.assertEqual(self.count(cnxn, "COMMITS"), 1)
        cnxn.rollback()
        self.assertEqual(self.count(cnxn, "ROLLBACKS"), 1)
        cnxn.commit()
        self.assertEqual(self.count(cnxn, "COMMITS"), 2)
        cnxn.close()

    def test_a_statement_the_data_source_refuses(self):
        cnxn = pyodbc.connect("DSN=Plain", autocommit=True)
        with self.assertRaises(pyodbc.ProgrammingError) as caught:
            cnxn.cursor().execute("FAIL now")
        self.assertIn("The test data source cannot run 'FAIL now'.", str(caught.exception))
        # The cursor stays usable.
        self.assertEqual(cnxn.cursor().execute("INSERT INTO t VALUES (1)").rowcount, 1)
        cnxn.close()


if __name__ == "__main__":
    unittest.main()
