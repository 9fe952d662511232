"""Text in the application's character set, from pyodbc through the unixODBC
Driver Manager to the dBASE driver and back. Under a UTF-8 locale (LANG=C.UTF-8)
pyodbc writes 'Ève', '€' and 'Œuvre' in SQL text and in parameters (its
defaults and SQL_C_CHAR in UTF-8) and reads them back as SQL_C_CHAR in UTF-8, and dbfread and python3-dbf read the same characters from ANSI
(Windows-1252) and IBMPC (code page 437) tables; a character Windows-1252 cannot
hold is refused with nothing stored. Under the C locale (LC_ALL=C) the driver's
narrow text stays Windows-1252 bytes, as before."""

import locale
import os
import shutil
import sys
import tempfile
import unittest

import dbf
import dbfread
import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import flattest_tables  # noqa: E402

DRIVER = os.environ["KV_DBASE_DRIVER"]
WORDS = ["\u00c8ve", "\u20ac", "\u0152uvre"]  # Ève, €, Œuvre
RUBLE = "\u20bd"  # not in Windows-1252
UTF8 = locale.nl_langinfo(locale.CODESET) == "UTF-8"

# Each table's code page as the driver names it and as Python does, and
# words it can hold.
CHARSETS = [("ANSI", "cp1252", WORDS), ("IBMPC", "cp437", ["\u00c9t\u00e9", "\u00c7a", "\u00dcber"])]


class CharsetTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kvcs")
        cls.data = os.path.join(cls.dir, "data")
        os.mkdir(cls.data)
        flattest_tables.private_configuration(cls.dir, f"[KvDbase]\nDriver={DRIVER}\nSetup={DRIVER}\n",
                                              f"[Tables]\nDriver=KvDbase\nDatabase={cls.data}\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def connect(self, charset):
        cnxn = pyodbc.connect(f"DSN=Tables;Charset={charset}", autocommit=True)
        flattest_tables.read_text_in_locale(cnxn)
        return cnxn

    def make_table(self, name, codec="cp1252"):
        """An empty table written by python3-dbf in the code page codec."""
        table = dbf.Table(os.path.join(self.data, name + ".dbf"), "N N(3,0); WORD C(12); NOTE M",
                          codepage=codec, dbf_type="db3")
        table.close()

    def stored(self, name, codec):
        """What the table file holds, as dbfread and python3-dbf read it."""
        path = os.path.join(self.data, name + ".dbf")
        read = [(int(r["N"]), r["WORD"].rstrip()) for r in dbfread.DBF(path, encoding=codec)]
        table = dbf.Table(path, codepage={"cp1252": "cp1252", "cp437": "cp437"}[codec])
        table.open(dbf.READ_ONLY)
        try:
            other = [(int(r.n), r.word.rstrip()) for r in table]
        finally:
            table.close()
        self.assertEqual(sorted(read), sorted(other))
        return sorted(read)


@unittest.skipUnless(UTF8, "needs a UTF-8 locale")
class Utf8LocaleTest(CharsetTest):
    def test_literals_and_parameters_read_back_by_other_programs(self):
        for charset, codec, words in CHARSETS:
            with self.subTest(charset=charset):
                name = "lit" + charset[:3].lower()
                self.make_table(name, codec)
                cnxn = self.connect(charset)
                expected = []
                n = 0
                for word in words:
                    n += 1
                    cnxn.execute(f"INSERT INTO {name} (N, WORD) VALUES ({n}, '{word}')")
                    expected.append((n, word))
                    n += 1
                    cnxn.execute(f"INSERT INTO {name} (N, WORD) VALUES (?, ?)", n, word)
                    expected.append((n, word))
                # Parameters as SQL_C_CHAR in the locale's code set, too.
                cnxn.setencoding(encoding="utf-8", ctype=pyodbc.SQL_CHAR)
                for word in words:
                    n += 1
                    cnxn.execute(f"INSERT INTO {name} (N, WORD) VALUES (?, ?)", n, word)
                    expected.append((n, word))
                rows = cnxn.execute(f"SELECT N, WORD FROM {name} ORDER BY N").fetchall()
                self.assertEqual([(int(r[0]), r[1].rstrip()) for r in rows], expected)
                # A condition in SQL text finds the same characters.
                count = cnxn.execute(f"SELECT COUNT(*) FROM {name} WHERE WORD = '{words[0]}'").fetchone()[0]
                self.assertEqual(count, 3)
                cnxn.close()
                self.assertEqual(self.stored(name, codec), expected)

    def test_a_character_outside_windows_1252_is_refused_and_nothing_stored(self):
        self.make_table("refused")
        cnxn = self.connect("ANSI")
        cnxn.execute("INSERT INTO refused (N, WORD) VALUES (1, 'kept')")
        attempts = [("literal", lambda: cnxn.execute(f"INSERT INTO refused (N, WORD) VALUES (2, '{RUBLE}')")),
                    ("update", lambda: cnxn.execute(f"UPDATE refused SET WORD = 'x{RUBLE}'")),
                    ("parameter", lambda: cnxn.execute("INSERT INTO refused (N, WORD) VALUES (?, ?)", 3, RUBLE))]
        for how, attempt in attempts:
            with self.subTest(how=how):
                with self.assertRaises(pyodbc.Error) as caught:
                    attempt()
                self.assertIn("U+20BD", str(caught.exception))
        cnxn.setencoding(encoding="utf-8", ctype=pyodbc.SQL_CHAR)
        with self.assertRaises(pyodbc.Error) as caught:
            cnxn.execute("INSERT INTO refused (N, WORD) VALUES (?, ?)", 4, "a" + RUBLE)
        # 22005, which unixODBC hands an ODBC 3 application as 22018.
        self.assertIn("22018", str(caught.exception))
        self.assertIn("U+20BD", str(caught.exception))
        rows = cnxn.execute("SELECT N, WORD FROM refused").fetchall()
        self.assertEqual([(int(r[0]), r[1].rstrip()) for r in rows], [(1, "kept")])
        cnxn.close()
        self.assertEqual(self.stored("refused", "cp1252"), [(1, "kept")])

    def test_long_text_in_a_memo_comes_back_whole(self):
        # Long enough that pyodbc sends it at execution and reads it in
        # pieces; the decoding line is the one the README gives for values
        # of 2,047 characters or more.
        text = "\u00c8ve \u20ac \u0152uvre " * 700
        self.make_table("memos")
        cnxn = self.connect("ANSI")
        cnxn.setencoding(encoding="utf-8", ctype=pyodbc.SQL_CHAR)
        cnxn.execute("INSERT INTO memos (N, WORD, NOTE) VALUES (1, 'a', ?)", text)
        self.assertEqual(cnxn.execute("SELECT NOTE FROM memos").fetchone()[0], text)
        cnxn.close()
        memo = [r["NOTE"] for r in dbfread.DBF(os.path.join(self.data, "memos.dbf"), encoding="cp1252")]
        self.assertEqual(memo, [text])

    def test_messages_come_in_the_locale(self):
        self.make_table("named")
        cnxn = self.connect("ANSI")
        with self.assertRaises(pyodbc.Error) as caught:
            cnxn.execute("SELECT t\u00e9l\u00e9 FROM named")
        self.assertIn("t\u00e9l\u00e9", str(caught.exception))
        cnxn.close()


@unittest.skipIf(UTF8, "needs the C locale")
class CLocaleTest(CharsetTest):
    def test_text_stays_windows_1252_bytes(self):
        self.make_table("cbytes")
        cnxn = self.connect("ANSI")
        cnxn.setencoding(encoding="cp1252", ctype=pyodbc.SQL_CHAR)
        for n, word in enumerate(WORDS, 1):
            cnxn.execute("INSERT INTO cbytes (N, WORD) VALUES (?, ?)", n, word)
        rows = cnxn.execute("SELECT N, WORD FROM cbytes ORDER BY N").fetchall()
        self.assertEqual([r[1].rstrip() for r in rows], WORDS)
        cnxn.close()
        self.assertEqual(self.stored("cbytes", "cp1252"), list(enumerate(WORDS, 1)))


if __name__ == "__main__":
    unittest.main()
