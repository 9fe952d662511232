"""Connecting to the test driver from pyodbc, an ODBC 3 application, through
the unixODBC Driver Manager with a private odbcinst.ini/odbc.ini."""

import os
import shutil
import tempfile
import unittest

import pyodbc

DRIVER = os.environ["KV_TEST_DRIVER"]
DRIVER2 = os.environ["KV_TEST_DRIVER2"]


class PrivateOdbc:
    """Writes odbcinst.ini and odbc.ini into a temporary directory and points
    the Driver Manager at them."""

    def __init__(self, data_sources):
        self.dir = tempfile.mkdtemp(prefix="kvpy")
        with open(os.path.join(self.dir, "odbcinst.ini"), "w") as f:
            f.write(f"[KvTest]\nDriver={DRIVER}\nSetup={DRIVER}\n\n")
            f.write(f"[KvTest2]\nDriver={DRIVER2}\nSetup={DRIVER2}\n")
        with open(os.path.join(self.dir, "odbc.ini"), "w") as f:
            f.write(data_sources)
        open(os.path.join(self.dir, "user.ini"), "w").close()
        os.environ["ODBCSYSINI"] = self.dir
        os.environ["ODBCINI"] = os.path.join(self.dir, "user.ini")

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class PrivateOdbcTest(unittest.TestCase):
    """A test class over its own data sources of the test drivers: DATA_SOURCES
    is the text of its odbc.ini, written for the class and removed after it."""

    DATA_SOURCES = ""

    @classmethod
    def setUpClass(cls):
        cls.odbc = PrivateOdbc(cls.DATA_SOURCES)

    @classmethod
    def tearDownClass(cls):
        cls.odbc.remove()


class PyodbcConnectTest(PrivateOdbcTest):
    DATA_SOURCES = (
        "[Alpha]\nDriver=KvTest\nDriverName=Alpha\n\n"
        "[Beta]\nDriver=KvTest2\nDriverName=Beta\n\n"
        "[Refusing]\nDriver=KvTest\nDriverName=Alpha\nFailLogon=1\n\n"
        "[BadNumber]\nDriver=KvTest\nYieldProc=x\n\n"
        "[Shared]\nDriver=KvTest\nDriverName=Shared\nWorkArounds=4\nOneConnection=1\n"
    )

    def test_connect_with_a_data_source(self):
        cnxn = pyodbc.connect("DSN=Alpha", autocommit=True)
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DBMS_NAME), "Alpha")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DRIVER_NAME), "libkvtest.so")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DRIVER_ODBC_VER), "02.01")
        cnxn.close()

    def test_connect_with_a_driver_string(self):
        cnxn = pyodbc.connect("DRIVER={KvTest};DriverName=Gamma")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_DBMS_NAME), "Gamma")
        cnxn.close()

    def test_two_driver_libraries_in_one_process(self):
        alpha = pyodbc.connect("DSN=Alpha")
        beta = pyodbc.connect("DSN=Beta")
        self.assertEqual(alpha.getinfo(pyodbc.SQL_DRIVER_NAME), "libkvtest.so")
        self.assertEqual(beta.getinfo(pyodbc.SQL_DRIVER_NAME), "libkvtest2.so")
        self.assertEqual(beta.getinfo(pyodbc.SQL_DBMS_NAME), "Beta")
        alpha.close()
        beta.close()

    def test_driver_message_reaches_the_application(self):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect("DSN=Refusing;UID=bob")
        state, message = caught.exception.args[0], caught.exception.args[1]
        self.assertEqual(state, "08004")
        self.assertIn("[KESTRANE][ODBC Alpha driver]The test data source refused the logon of 'bob'.", message)

    def test_general_error_is_mapped_for_an_odbc3_application(self):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect("DSN=BadNumber")
        state, message = caught.exception.args[0], caught.exception.args[1]
        self.assertEqual(state, "HY000")  # S1000 as the Driver Manager maps it
        self.assertIn("[KESTRANE][ODBC Test driver]Number contains an invalid character: x", message)


    def test_sixteen_bit_info_types(self):
        cnxn = pyodbc.connect("DSN=Alpha")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_MAX_USER_NAME_LEN), 0)
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_MAX_CURSOR_NAME_LEN), 18)
        cnxn.close()

    def test_one_connection_data_source_is_shared(self):
        first = pyodbc.connect("DSN=Shared;UID=alice", autocommit=True)
        second = pyodbc.connect("DSN=Shared;UID=bob", autocommit=True)
        self.assertEqual(second.getinfo(pyodbc.SQL_USER_NAME), "alice")
        second.close()
        self.assertEqual(first.getinfo(pyodbc.SQL_USER_NAME), "alice")
        first.close()
        third = pyodbc.connect("DSN=Shared;UID=carol", autocommit=True)
        self.assertEqual(third.getinfo(pyodbc.SQL_USER_NAME), "carol")
        third.close()


if __name__ == "__main__":
    unittest.main()
