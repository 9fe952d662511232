"""The dBASE driver through the unixODBC Driver Manager from pyodbc, an ODBC 3
application with its default settings: connections with every CreateType,
SQLGetInfo by dialect, the driver's messages, and SELECT, INSERT, UPDATE and
DELETE on tables and memo files that dbfread and python3-dbf read and write
too."""

import os
import shutil
import sys
import tempfile
import unittest

import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402

DRIVER = os.environ["KV_DBASE_DRIVER"]
DATA = os.environ["KV_DBASE_DATA"]


class DbaseDriverTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kvdbf")
        cls.data = os.path.join(cls.dir, "data")
        os.mkdir(cls.data)
        for name in ("people3.dbf", "towns_ogr.dbf", "stock_xb.dbf", "memo3v.dbf", "memo3v.dbt",
                     "memofp.dbf", "memofp.fpt"):
            shutil.copy(os.path.join(DATA, name), cls.data)
        flattest_tables.private_configuration(cls.dir, f"[KvDbase]\nDriver={DRIVER}\nSetup={DRIVER}\n",
                                              f"[Tables]\nDriver=KvDbase\nDatabase={cls.data}\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_every_create_type_by_its_dialect(self):
        cases = [("DBASE2", "dBASE II", "01.00.0000 dBASE II", 32),
                 ("dbase3", "dBASE III", "01.00.0000 dBASE III", 255),
                 ("DBASE4", "dBASE IV", "02.00.0000 dBASE IV", 255),
                 ("DBASE5", "dBASE V", "05.00.0000 dBASE V", 1024),
                 ("CLIPPER", "Clipper", "05.20.0000 Clipper", 255),
                 ("FOXBASE", "FoxBASE", "01.00.0000 FoxBASE", 255),
                 ("FOXPRO1", "FoxPro", "01.00.0000 FoxPro", 255),
                 ("foxpro25", "FoxPro", "02.50.0000 FoxPro", 255)]
        for create_type, name, version, columns in cases:
            with self.subTest(create_type=create_type):
                cnxn = pyodbc.connect(f"DRIVER={{KvDbase}};DB={self.data};CreateType={create_type}")
                self.assertEqual(cnxn.getinfo(pyodbc.SQL_DBMS_NAME), name)
                self.assertEqual(cnxn.getinfo(pyodbc.SQL_DBMS_VER), version)
                self.assertEqual(cnxn.getinfo(pyodbc.SQL_MAX_COLUMNS_IN_TABLE), columns)
                self.assertEqual(cnxn.getinfo(pyodbc.SQL_DRIVER_NAME), os.path.basename(DRIVER))
                cnxn.close()

    def test_clipper_has_no_row_size_limit(self):
        cnxn = pyodbc.connect("DSN=Tables;CT=CLIPPER")
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_MAX_ROW_SIZE), 0)
        self.assertEqual(cnxn.getinfo(pyodbc.SQL_MAX_COLUMN_NAME_LEN), 10)
        cnxn.close()

    def test_an_unknown_create_type_fails_the_connect(self):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect(f"DSN=Tables;CreateType=DBASE6")
        text = str(caught.exception)
        self.assertIn("HY009", text)
        self.assertIn("[KESTRANE][ODBC dBASE driver]Invalid argument value.", text)

    def test_manual_commit_by_default(self):
        cnxn = pyodbc.connect("DSN=Tables")
        self.assertFalse(cnxn.autocommit)
        cnxn.commit()
        cnxn.rollback()
        cnxn.close()

    def test_select_star_reads_what_other_programs_wrote(self):
        cnxn = pyodbc.connect("DSN=Tables", autocommit=True)
        flattest_tables.read_text_in_locale(cnxn)
        rows = cnxn.execute("SELECT * FROM towns_ogr").fetchall()
        self.assertEqual([r[0].rstrip() for r in rows], ["Oslo", "Bergen", "Troms\u00f8"])
        self.assertEqual(rows[2][2], None)
        rows = cnxn.execute("SELECT * FROM people3 (CHARSET=IBMPC)").fetchall()
        self.assertEqual([r[0].rstrip() for r in rows], ["Alice", "Carol", "Dave \u00e9"])
        cnxn.close()

    def test_changes_are_read_back_by_dbfread_and_python_dbf(self):
        import dbf
        import dbfread
        cnxn = pyodbc.connect("DSN=Tables", autocommit=True)
        cnxn.execute("INSERT INTO stock_xb (ITEM, PRICE, INSTOCK, ADDED) VALUES ('drill', -3.5, 1, {d '2001-02-03'})")
        cnxn.execute("UPDATE stock_xb SET PRICE = 13 WHERE ITEM = 'hammer'")
        cnxn.execute("DELETE FROM stock_xb WHERE ITEM = 'nails'")
        cnxn.close()
        path = os.path.join(self.data, "stock_xb.dbf")
        table = dbfread.DBF(path)
        self.assertEqual([(r["ITEM"], float(r["PRICE"])) for r in table], [("hammer", 13.0), ("drill", -3.5)])
        self.assertEqual(sorted(r["ITEM"] for r in table.deleted), ["nails", "saw"])
        t = dbf.Table(path)
        t.open()
        self.assertEqual(len(t), 4)
        t.close()

    def test_table_options(self):
        cnxn = pyodbc.connect("DSN=Tables", autocommit=True)
        self.assertEqual(len(cnxn.execute("SELECT * FROM people3 (RECORDS=DELETED)").fetchall()), 1)
        self.assertEqual(len(cnxn.execute("SELECT * FROM people3 (RECORDS=ALL, LOCKING=NONE)").fetchall()), 4)
        with self.assertRaises(pyodbc.Error) as caught:
            cnxn.execute("SELECT * FROM people3 (FOO=1)")
        self.assertIn("Unknown option: FOO", str(caught.exception))
        cnxn.close()

    def test_memo_values_of_other_programs_whole_and_in_pieces(self):
        cnxn = pyodbc.connect("DSN=Tables", autocommit=True)
        flattest_tables.read_text_in_locale(cnxn)
        rows = cnxn.execute("SELECT CODE, REMARK FROM memo3v (CHARSET=IBMPC)").fetchall()
        self.assertEqual(rows[2][1], "x" * 600 + "END")
        self.assertEqual(rows[3][1], "line one\r\nline two \u00e9")
        rows = cnxn.execute("SELECT REMARK FROM memofp").fetchall()
        self.assertEqual(rows[2][0], "y" * 120 + "END")
        cnxn.execute("UPDATE memo3v SET REMARK = ? WHERE CODE = 'K1'", "z" * 5000)
        self.assertEqual(cnxn.execute("SELECT REMARK FROM memo3v WHERE CODE = 'K1'").fetchone()[0], "z" * 5000)
        cnxn.close()

    def test_two_connections_updating_one_row(self):
        first = pyodbc.connect("DSN=Tables", autocommit=False)
        second = pyodbc.connect("DSN=Tables", autocommit=True)
        first.execute("UPDATE stock_xb SET PRICE = 1 WHERE ITEM = 'hammer'")
        with self.assertRaises(pyodbc.Error) as caught:
            second.execute("UPDATE stock_xb SET PRICE = 2 WHERE ITEM = 'hammer'")
        self.assertIn("The record is locked by another user.", str(caught.exception))
        self.assertIn("HY000", str(caught.exception))
        first.commit()
        first.close()
        second.close()

    def test_a_read_only_table_refuses_every_write_alike(self):
        # A table file this process may not write opens read only. As root
        # every file is writable: the writes run as an unprivileged user.
        directory = tempfile.mkdtemp(prefix="kvdbfro")
        os.chmod(directory, 0o755)
        os.chmod(self.dir, 0o755)  # the private odbcinst.ini
        for name in ("memo3v.dbf", "memo3v.dbt"):
            shutil.copy(os.path.join(DATA, name), directory)
            os.chmod(os.path.join(directory, name), 0o444)
        statements = ["UPDATE memo3v SET REMARK = 'x' WHERE CODE = 'K1'",
                      "INSERT INTO memo3v (CODE, REMARK) VALUES ('K9', 'new')",
                      "UPDATE memo3v SET CODE = 'K8' WHERE CODE = 'K1'",
                      "DELETE FROM memo3v WHERE CODE = 'K1'"]
        reader, writer = os.pipe()
        child = os.fork()
        if child == 0:
            status = 1
            try:
                os.close(reader)
                if os.geteuid() == 0:
                    os.setgid(65534)
                    os.setuid(65534)
                cnxn = pyodbc.connect(f"DRIVER={{KvDbase}};DB={directory}", autocommit=True)
                messages = []
                for sql in statements:
                    try:
                        cnxn.execute(sql)
                        messages.append("no error")
                    except pyodbc.Error as e:
                        messages.append(e.args[1])
                os.write(writer, "\n".join(messages).encode())
                status = 0
            except Exception as e:  # noqa: BLE001 - reported through the pipe
                os.write(writer, f"child failed: {e!r}".encode())
            finally:
                os._exit(status)
        os.close(writer)
        with os.fdopen(reader) as f:
            messages = f.read().split("\n")
        os.waitpid(child, 0)
        shutil.rmtree(directory, ignore_errors=True)
        self.assertEqual(len(messages), len(statements), messages)
        for sql, message in zip(statements, messages):
            self.assertIn("Cannot modify a table which has been opened read only.", message, sql)

    def _hand_table(self, name, fields, records):
        """Writes a dBASE III table byte by byte: fields (name, type,
        length, decimals), records as their text after the deletion byte."""
        import struct
        header = 32 + 32 * len(fields) + 1
        record = 1 + sum(f[2] for f in fields)
        out = bytearray(struct.pack("<BBBBIHH", 3, 124, 5, 6, len(records), header, record) + bytes(20))
        for fname, ftype, length, decimals in fields:
            out += fname.encode().ljust(11, b"\0") + ftype.encode() + bytes(4) + bytes([length, decimals]) + bytes(14)
        out += b"\r"
        for r in records:
            out += b" " + r.encode("latin-1").ljust(record - 1)
        out += b"\x1a"
        with open(os.path.join(self.data, name), "wb") as f:
            f.write(out)

    def test_fields_named_in_lower_case(self):
        self._hand_table("places.dbf", [("id", "N", 5, 0), ("name", "C", 10, 0)], ["    1Oslo", "    2Bergen"])
        cnxn = pyodbc.connect("DSN=Tables", autocommit=True)
        rows = cnxn.execute("SELECT name FROM places WHERE id = ?", 2).fetchall()
        self.assertEqual([r[0].rstrip() for r in rows], ["Bergen"])
        self.assertEqual([d[0] for d in cnxn.execute("SELECT * FROM places").description], ["id", "name"])
        cnxn.execute("INSERT INTO places (id, name) VALUES (3, 'Troms')")
        self.assertEqual(cnxn.execute("SELECT COUNT(*) FROM places WHERE NAME = 'Troms'").fetchone()[0], 1)
        cnxn.close()

    def test_a_number_beyond_its_declaration_is_an_error_for_that_value(self):
        # N(10,0) holding 1e300: an error for the row, never 301 digits for
        # a column of size 10.
        self._hand_table("huge.dbf", [("N", "N", 10, 0)], ["        42", "     1e300"])
        cnxn = pyodbc.connect("DSN=Tables", autocommit=True)
        cursor = cnxn.execute("SELECT N FROM huge")
        self.assertEqual(cursor.fetchone()[0], 42)
        with self.assertRaises(pyodbc.Error) as caught:
            cursor.fetchone()
        self.assertIn("Unsupported decimal format.", str(caught.exception))
        with self.assertRaises(pyodbc.Error) as caught:
            cnxn.execute("SELECT N FROM huge WHERE N > 0").fetchall()
        self.assertIn("22003", str(caught.exception))
        cnxn.close()

    def test_floats_and_decimals_round_alike(self):
        import decimal
        self._hand_table("rounds.dbf", [("I", "N", 3, 0), ("F", "N", 6, 2)], [])
        cnxn = pyodbc.connect("DSN=Tables", autocommit=True)
        for value in (2.5, decimal.Decimal("2.5")):
            cnxn.execute("INSERT INTO rounds (I, F) VALUES (?, ?)", value, value / 20)
        rows = cnxn.execute("SELECT I, F FROM rounds").fetchall()
        self.assertEqual([tuple(r) for r in rows], [(3, decimal.Decimal("0.13"))] * 2)
        cnxn.close()

    def test_messages_name_files_as_they_are_on_disk(self):
        # The application writes BROKEN; the file is Broken.dbf.
        with open(os.path.join(self.data, "Broken.dbf"), "wb") as f:
            f.write(b"\x03" + bytes(10))
        cnxn = pyodbc.connect("DSN=Tables", autocommit=True)
        with self.assertRaises(pyodbc.Error) as caught:
            cnxn.execute("SELECT * FROM BROKEN")
        self.assertIn(os.path.join(self.data, "Broken.dbf"), str(caught.exception))
        cnxn.close()

    # ---- a full disk. The disk is filled deterministically with the file
    # size limit (RLIMIT_FSIZE) of a child process: with SIGXFSZ ignored a
    # write past the limit fails as a write to a full disk does.

    def _space_table(self, name, rows):
        """A dBASE III table with a memo file, written by python3-dbf."""
        import dbf
        t = dbf.Table(os.path.join(self.data, name + ".dbf"), "CODE C(6); NAME C(30); REMARK M", dbf_type="db3")
        t.open(dbf.READ_WRITE)
        for i in range(rows):
            t.append((f"C{i}", f"name {i}", f"remark {i}"))
        t.close()

    def _state(self, name):
        """The bytes of the table's two files and the rows dbfread reads."""
        import dbfread
        files = {}
        for ext in ("dbf", "dbt"):
            with open(os.path.join(self.data, f"{name}.{ext}"), "rb") as f:
                files[ext] = f.read()
        rows = [(r["CODE"], r["NAME"], r["REMARK"]) for r in dbfread.DBF(os.path.join(self.data, name + ".dbf"))]
        return files, rows

    def _in_child(self, work):
        """Runs work() in a child process and returns its result (JSON)."""
        import json
        import signal
        reader, writer = os.pipe()
        child = os.fork()
        if child == 0:
            status = 1
            try:
                os.close(reader)
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                os.write(writer, json.dumps(work()).encode())
                status = 0
            except BaseException as e:  # noqa: BLE001 - reported through the pipe
                os.write(writer, json.dumps(f"child failed: {e!r}").encode())
            finally:
                os._exit(status)
        os.close(writer)
        with os.fdopen(reader) as f:
            result = json.loads(f.read())
        os.waitpid(child, 0)
        return result

    def test_a_commit_on_a_full_disk_writes_nothing_and_stays_whole(self):
        import resource
        # What each transaction changes, and which file the limit is set
        # just above: the table's records, or its memo file.
        cases = [("appends", "dbf", [("UPDATE {t} SET NAME = ? WHERE CODE = ?", [(f"new {i}", f"C{i}") for i in range(100)]),
                                     ("INSERT INTO {t} (CODE, NAME) VALUES (?, ?)", [(f"N{i}", f"added {i}") for i in range(600)])]),
                 ("memo updates", "dbt", [("UPDATE {t} SET REMARK = ? WHERE CODE = ?", [("m" * 3000, f"C{i}") for i in range(300)])]),
                 ("memo appends", "dbt", [("INSERT INTO {t} (CODE, REMARK) VALUES (?, ?)", [(f"M{i}", "a" * 3000) for i in range(200)])])]
        for number, (label, limited, statements) in enumerate(cases):
            for ending in ("retry", "rollback"):
                with self.subTest(case=label, ending=ending):
                    name = f"full{number}{ending[:2]}"
                    self._space_table(name, 500)
                    before = self._state(name)

                    def work():
                        cnxn = pyodbc.connect("DSN=Tables", autocommit=False)
                        for sql, params in statements:
                            cnxn.cursor().executemany(sql.format(t=name), params)
                        size = os.path.getsize(os.path.join(self.data, f"{name}.{limited}"))
                        resource.setrlimit(resource.RLIMIT_FSIZE, (size + 1024, resource.RLIM_INFINITY))
                        try:
                            cnxn.commit()
                            return "the commit succeeded"
                        except pyodbc.Error as e:
                            failure = str(e)
                        unchanged = self._state(name) == before
                        resource.setrlimit(resource.RLIMIT_FSIZE, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
                        if ending == "retry":
                            cnxn.commit()
                        else:
                            cnxn.rollback()
                            cnxn.commit()
                        cnxn.close()
                        return [failure, unchanged]

                    result = self._in_child(work)
                    self.assertIsInstance(result, list, result)
                    failure, unchanged = result
                    # pyodbc shows the first diagnostic, which names the
                    # table; the reason follows it.
                    self.assertIn(f"{name}.dbf could not be committed", failure)
                    self.assertTrue(unchanged, "the failed commit changed the files")
                    files, rows = self._state(name)
                    if ending == "rollback":
                        self.assertEqual(rows, before[1])
                        continue
                    expected = {code: (code, nm, remark) for code, nm, remark in before[1]}
                    for sql, params in statements:
                        for p in params:
                            if sql.startswith("UPDATE") and "NAME" in sql:
                                expected[p[1]] = (p[1], p[0], expected[p[1]][2])
                            elif sql.startswith("UPDATE"):
                                expected[p[1]] = (p[1], expected[p[1]][1], p[0])
                            elif "REMARK" in sql:
                                expected[p[0]] = (p[0], "", p[1])
                            else:
                                expected[p[0]] = (p[0], p[1], None)
                    wanted = list(expected.values())
                    # Compared without difflib, which is slow on lists this long.
                    mismatch = next((pair for pair in zip(rows, wanted) if pair[0] != pair[1]), None)
                    self.assertEqual((len(rows), mismatch), (len(wanted), None))

    def test_an_insert_on_a_full_disk_leaves_the_files_as_they_were(self):
        import resource
        self._space_table("fullins", 3)
        before = self._state("fullins")
        size = os.path.getsize(os.path.join(self.data, "fullins.dbf"))

        def work():
            cnxn = pyodbc.connect("DSN=Tables", autocommit=True)
            # Room for part of the record, none for its memo value.
            resource.setrlimit(resource.RLIMIT_FSIZE, (size + 23, resource.RLIM_INFINITY))
            messages = []
            for sql in ("INSERT INTO fullins (CODE, NAME) VALUES ('X', 'x')",
                        "INSERT INTO fullins (CODE, REMARK) VALUES ('Y', 'memo text')"):
                try:
                    cnxn.execute(sql)
                    messages.append("no error")
                except pyodbc.Error as e:
                    messages.append(str(e))
            cnxn.close()
            return messages

        messages = self._in_child(work)
        self.assertIsInstance(messages, list, messages)
        for message in messages:
            self.assertIn("Insufficient disk space.", message)
        self.assertEqual(self._state("fullins"), before)


    def test_the_everyday_shape_on_a_fresh_table(self):
        """CREATE TABLE, executemany INSERT, SELECT, UPDATE, DELETE and DROP
        TABLE as an application writes them, in autocommit and in manual-commit
        mode, with pyodbc's default encoding and text read in the locale's
        code set (README); the rows are what dbfread reads from the file."""
        import dbfread
        for autocommit in (True, False):
            for decoding in (flattest_tables.APP_ENCODING,):
                with self.subTest(autocommit=autocommit, decoding=decoding):
                    cnxn = pyodbc.connect("DSN=Tables", autocommit=autocommit)
                    flattest_tables.read_text_in_locale(cnxn)
                    table = f"every_{int(autocommit)}_u"
                    cursor = cnxn.cursor()
                    cursor.execute(f"CREATE TABLE {table} (NAME CHAR(20), QTY NUMERIC(6,2), NOTE MEMO)")
                    cursor.executemany(f"INSERT INTO {table} (NAME, QTY, NOTE) VALUES (?, ?, ?)",
                                       [("Ann", 1.5, "note \u00e9"), ("Bob", 2, None), ("Caf\u00e9", -3.25, "x" * 600)])
                    if not autocommit:
                        cnxn.commit()
                    rows = cursor.execute(f"SELECT NAME, QTY, NOTE FROM {table} ORDER BY NAME").fetchall()
                    self.assertEqual([(r[0].rstrip(), float(r[1])) for r in rows],
                                     [("Ann", 1.5), ("Bob", 2.0), ("Caf\u00e9", -3.25)])
                    self.assertEqual(rows[0][2], "note \u00e9")
                    self.assertEqual(rows[2][2], "x" * 600)
                    self.assertEqual(cursor.execute(f"UPDATE {table} SET QTY = 7 WHERE NAME = 'Bob'").rowcount, 1)
                    self.assertEqual(cursor.execute(f"DELETE FROM {table} WHERE NAME = 'Ann'").rowcount, 1)
                    if not autocommit:
                        cnxn.commit()
                    read = list(dbfread.DBF(os.path.join(self.data, f"{table}.DBF"), encoding="cp1252"))
                    self.assertEqual([(r["NAME"], r["QTY"]) for r in read], [("Bob", 7), ("Caf\u00e9", -3.25)])
                    cursor.close()
                    cnxn.execute(f"DROP TABLE {table}")
                    if not autocommit:
                        cnxn.commit()
                    self.assertFalse(os.path.exists(os.path.join(self.data, f"{table}.DBF")))
                    self.assertFalse(os.path.exists(os.path.join(self.data, f"{table}.DBT")))
                    cnxn.close()

    def test_create_table_errors_reach_the_application(self):
        cnxn = pyodbc.connect("DSN=Tables;ModifySql=0", autocommit=True)
        cases = [("CREATE TABLE bad (A NUMERIC(20,2))", "42000",
                  "A numeric column's width must be between 1 and 20 (19 if column has a decimal): A"),
                 ("CREATE TABLE bad (1ABC CHAR(1))", "42000", "Column name contains illegal characters: 1ABC"),
                 ("DROP TABLE nothere", "42S02", "Cannot drop table nothere.  Table does not exist.")]
        for sql, state, text in cases:
            with self.subTest(sql=sql):
                with self.assertRaises(pyodbc.Error) as caught:
                    cnxn.execute(sql)
                self.assertIn(state, str(caught.exception))
                self.assertIn(text, str(caught.exception))
        cnxn.close()

if __name__ == "__main__":
    unittest.main()
