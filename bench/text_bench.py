"""The text driver against SQLite and Python's csv module: a filtered scan
(1% of the rows by AMOUNT) over a CSV file of ROWS lines that Python's csv
module writes, through pyodbc and the text driver; the same rows imported
into SQLite (import not counted) through the SQLite ODBC driver; and Python's
csv module reading the file. Prints the best of --repeat runs of each, the
ratios, and the peak memory of each run's process.

    /usr/bin/python3 bench/text_bench.py --driver build/drivers/text/libkvtext.so [-n 1000000] [-r 3]

Needs python3-pyodbc and libsqliteodbc (apt-get install libsqliteodbc).
"""

import argparse
import csv
import os
import random
import resource
import sqlite3
import subprocess
import sys
import tempfile
import time

SQL = "SELECT COUNT(*), SUM(GRP) FROM big WHERE AMOUNT > 9900"
SQLITE_DRIVER = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so"


def write_tables(directory, rows):
    random.seed(7)
    with open(os.path.join(directory, "big.csv"), "w", newline="") as f:
        w = csv.writer(f)
        for i in range(1, rows + 1):
            w.writerow([i, i % 1000, f"{random.randint(0, 999999) / 100:.2f}", f"NAME{random.randint(0, 99999999):08d}"])
    with open(os.path.join(directory, "KVTXT.INI"), "w", newline="") as f:
        f.write("[Defined Tables]\r\nbig.csv=big\r\n[big]\r\nFILE=big.csv\r\nFLN=0\r\nTT=Comma\r\nCharset=ANSI\r\n"
                "FIELD1=ID,NUMERIC,9,0,9,0,\r\nFIELD2=GRP,NUMERIC,4,0,4,0,\r\n"
                "FIELD3=AMOUNT,NUMERIC,8,2,10,0,\r\nFIELD4=NAME,VARCHAR,20,0,20,0,\r\n")
    db = sqlite3.connect(os.path.join(directory, "big.db"))
    db.execute("CREATE TABLE big (ID INTEGER, GRP INTEGER, AMOUNT DOUBLE, NAME CHAR(20))")
    with open(os.path.join(directory, "big.csv"), newline="") as f:
        db.executemany("INSERT INTO big VALUES (?, ?, ?, ?)",
                       ((int(a), int(b), float(c), d) for a, b, c, d in csv.reader(f)))
    db.commit()
    db.close()


def one_run(kind, directory, driver):
    """Runs one measurement in this process and prints seconds, result and peak KiB."""
    if kind == "csv":
        start = time.perf_counter()
        count = total = 0
        with open(os.path.join(directory, "big.csv"), newline="") as f:
            for row in csv.reader(f):
                if float(row[2]) > 9900:
                    count += 1
                    total += int(row[1])
        result = (count, total)
    else:
        import pyodbc
        os.environ["ODBCSYSINI"] = directory
        os.environ["ODBCINI"] = os.path.join(directory, "user.ini")
        if kind == "text":
            cnxn = pyodbc.connect(f"DRIVER={{{'KvText'}}};DB={directory}", autocommit=True)
        else:
            cnxn = pyodbc.connect(f"DRIVER={{SQLite3}};Database={os.path.join(directory, 'big.db')}")
        start = time.perf_counter()
        row = cnxn.execute(SQL).fetchone()
        result = (int(row[0]), int(row[1]))
    seconds = time.perf_counter() - start
    print(seconds, result[0], result[1], resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("-n", "--rows", type=int, default=1000000)
    parser.add_argument("-r", "--repeat", type=int, default=3)
    parser.add_argument("--run", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.run:
        one_run(args.run[0], args.run[1], args.driver)
        return
    with tempfile.TemporaryDirectory(prefix="kvtextbench") as directory:
        write_tables(directory, args.rows)
        with open(os.path.join(directory, "odbcinst.ini"), "w") as f:
            f.write(f"[KvText]\nDriver={os.path.abspath(args.driver)}\n[SQLite3]\nDriver={SQLITE_DRIVER}\n")
        open(os.path.join(directory, "user.ini"), "w").close()
        best = {}
        for kind in ("sqlite", "text", "csv"):
            runs = []
            for _ in range(args.repeat):
                out = subprocess.run([sys.executable, __file__, "--driver", args.driver, "--run", kind, directory],
                                     check=True, capture_output=True, text=True).stdout.split()
                runs.append((float(out[0]), (out[1], out[2]), int(out[3])))
            best[kind] = min(runs)
            print(f"{kind:7} {best[kind][0]:8.3f} s  rows/sum {best[kind][1]}  peak {best[kind][2] // 1024} MiB")
        same = best["text"][1] == best["sqlite"][1] == best["csv"][1]
        print(f"text / sqlite {best['text'][0] / best['sqlite'][0]:.2f}x (aim 1.0x), "
              f"text / python csv {best['text'][0] / best['csv'][0]:.2f}x, results {'agree' if same else 'DIFFER'}")


if __name__ == "__main__":
    main()
