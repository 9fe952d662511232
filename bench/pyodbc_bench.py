"""The pyodbc shape of bench/odbc_bench.cpp: runs one SQL text on a
connection string through pyodbc (SQLFetch and SQLGetData per column) with
fetchall, and prints the line bench/run-engine-bench.sh reads:

  rows=<count> checksum=<16 hex digits> seconds=<time>

The checksum is odbc_bench's: an order-free sum of FNV-1a hashes of each row's
canonical values (text without trailing blanks, numbers with four decimals and
without ".0000", dates as YYYY-MM-DD), so both clients print the same sum for
the same rows. The time covers execute and fetchall, not the connect; the best
of --repeat runs is printed.

Usage: pyodbc_bench.py [--repeat R] CONNECTION-STRING SQL
"""

import argparse
import datetime
import decimal
import sys
import time

import pyodbc

FNV_OFFSET = 14695981039346656037
FNV_PRIME = 1099511628211
MASK = (1 << 64) - 1


def fnv(value, data):
    for byte in data:
        value = ((value ^ byte) * FNV_PRIME) & MASK
    return value


def number_text(number):
    text = "%.4f" % number
    if text.endswith(".0000"):
        text = text[:-5]
    return "0" if text == "-0" else text


def canonical(value):
    if value is None:
        return b"\0N"
    if isinstance(value, (int, float, decimal.Decimal)) and not isinstance(value, bool):
        return number_text(float(value)).encode()
    if isinstance(value, (datetime.date, datetime.datetime)):
        return value.isoformat().encode()
    text = str(value).rstrip(" ")
    if text and len(text) < 40:
        try:
            return number_text(float(text)).encode()
        except ValueError:
            pass
    return text.encode()


def checksum(rows):
    total = 0
    for row in rows:
        value = FNV_OFFSET
        for column in row:
            value = fnv(value, canonical(column))
            value = fnv(value, b"\x1f")
        total = (total + value) & MASK
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("connection")
    parser.add_argument("sql")
    args = parser.parse_args()
    try:
        connection = pyodbc.connect(args.connection, autocommit=True)
    except pyodbc.Error as error:
        print(error, file=sys.stderr)
        return 1
    best = None
    rows = []
    for _ in range(max(1, args.repeat)):
        cursor = connection.cursor()
        start = time.perf_counter()
        try:
            cursor.execute(args.sql)
            rows = cursor.fetchall()
        except pyodbc.Error as error:
            print(error, file=sys.stderr)
            return 1
        seconds = time.perf_counter() - start
        cursor.close()
        best = seconds if best is None else min(best, seconds)
    print("rows=%d checksum=%016x seconds=%.4f" % (len(rows), checksum(rows), best))
    return 0


if __name__ == "__main__":
    sys.exit(main())
