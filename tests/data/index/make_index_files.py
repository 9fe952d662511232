#!/usr/bin/env python3
"""Writes .NDX and .MDX files byte by byte from the file formats, with trees
shaped as no program of this project shapes them, and beside each file a
listing of its entries in index order (one line a key: the key's bytes in
hex, a blank, the record number; a tag's listing is FILE.TAG.txt).

The trees differ from what the driver writes: roots that are not the last
page, pages between them that no tree uses (filled with 0xEE), leaves and
interior pages filled to differing counts below the most a page holds,
bytes behind the last key of a page left as garbage (0xEE), the key bytes
of the child behind an interior page's keys left as garbage, a numeric
zero packed with another exponent,
and tag directories whose name tree was built in an order of its own.

Usage: make_index_files.py [directory]   (default: the script's own)
Only the standard library is used; the output is the same on every run.
"""
import os
import struct
import sys

GARBAGE = 0xEE


def page(size):
    return bytearray([GARBAGE]) * size


def put(buffer, offset, data):
    buffer[offset:offset + len(data)] = data


# ---------------------------------------------------------------- keys

def text_key(text, length):
    data = text.encode("ascii")[:length]
    return data + b" " * (length - len(data))


def double_key(value):
    return struct.pack("<d", value)


def bcd_key(value):
    """The .MDX packed decimal: byte 0 = 52 + the position of the decimal
    point, byte 1 = 0x41 (0xC1 negative), then 15 digits two a byte."""
    key = bytearray(12)
    if value == 0:
        # Zero, with the exponent a C library's ecvt gives it (point after
        # the first digit); its digits are all 0 whatever the exponent.
        key[0], key[1] = 53, 0x41
        return bytes(key)
    mantissa, exponent = ("%.14e" % abs(value)).split("e")
    digits = mantissa.replace(".", "")
    key[0] = 52 + int(exponent) + 1
    key[1] = 0xC1 if value < 0 else 0x41
    for i, d in enumerate(digits):
        if i % 2 == 0:
            key[2 + i // 2] |= int(d) << 4
        else:
            key[2 + i // 2] |= int(d)
    return bytes(key)


# ---------------------------------------------------------------- trees

def chunks(items, sizes):
    out, at = [], 0
    for size in sizes:
        out.append(items[at:at + size])
        at += size
    assert at == len(items), (at, len(items))
    return out


class Tree:
    """A tree laid out by hand: each level a list of pages, each page a
    list of entries; leaf entries (key, record), interior entries (key,
    child index into the level below) and the last child of an interior
    page behind its keys."""

    def __init__(self, entries, leaf_sizes, interior_sizes):
        self.levels = [chunks(entries, leaf_sizes)]
        for sizes in interior_sizes:
            below = self.levels[-1]
            children = list(range(len(below)))
            self.levels.append(chunks(children, sizes))
        assert len(self.levels[-1]) == 1, "one root"

    def highest(self, level, index):
        """The highest key under page index of a level."""
        while level > 0:
            index = self.levels[level][index][-1]
            level -= 1
        return self.levels[0][index][-1][0]


def listing(entries):
    return "".join("%s %d\n" % (key.hex(), record) for key, record in entries)


def write(directory, name, data, entries=None, listing_name=None):
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)
    if entries is not None:
        with open(os.path.join(directory, listing_name or name + ".txt"), "w") as f:
            f.write(listing(entries))


# ---------------------------------------------------------------- .NDX

def ndx_file(tree, numbers, dbase2, key_length, entry_size, max_keys, key_type, key_text):
    """numbers: the page number of each page, level by level; pages of the
    file not named there are garbage."""
    pointer = "<H" if dbase2 else "<I"
    width = 2 if dbase2 else 4
    head = 2 if dbase2 else 4
    key_at = 4 if dbase2 else 8
    eof = max(max(level) for level in numbers) + 2  # one garbage page at the end too
    data = bytearray(page(512 * eof))
    header = bytearray(512)
    root = numbers[-1][0]
    if dbase2:
        struct.pack_into("<HH", header, 2, root, eof)
        header[6], header[7], header[8], header[9] = key_length + 2, key_length + 4, max_keys, key_type
        put(header, 10, key_text.encode("ascii"))
    else:
        struct.pack_into("<IIxxxxHHHH", header, 0, root, eof, key_length, max_keys, key_type, entry_size)
        put(header, 24, key_text.encode("ascii"))
    put(data, 0, header)
    for level, pages in enumerate(tree.levels):
        for index, entries in enumerate(pages):
            p = page(512)
            count = len(entries) if level == 0 else len(entries) - 1
            if dbase2:
                p[0], p[1] = count, 0
            else:
                struct.pack_into("<I", p, 0, count)
            for i, entry in enumerate(entries):
                at = head + i * entry_size
                if level == 0:
                    key, record = entry
                    struct.pack_into(pointer + pointer[1], p, at, 0, record)
                    put(p, at + key_at, key)
                else:
                    child = numbers[level - 1][entry]
                    struct.pack_into(pointer + pointer[1], p, at, child, 0)
                    if i < count:
                        put(p, at + key_at, tree.highest(level - 1, entry))
            put(data, 512 * numbers[level][index], p)
    return bytes(data)


def make_ndx(directory):
    # dBASE III, character keys C(10): 60 keys with duplicates, leaves
    # filled 3 to 25 (a page holds 25), the root at page 1, a garbage page
    # between the leaves.
    names = ["SMITH", "JONES", "BROWN", "TAYLOR", "WILSON", "DAVIES", "EVANS", "THOMAS", "JOHNSON", "ROBERTS"]
    entries = sorted((text_key(names[(r * 7) % 10] + str(r % 4), 10), r) for r in range(1, 61))
    tree = Tree(entries, [3, 25, 7, 1, 14, 10], [[6]])
    numbers = [[3, 4, 6, 7, 8, 9], [1]]  # page 2 and page 5 are garbage
    write(directory, "hand3.ndx", ndx_file(tree, numbers, False, 10, 20, 25, 0, "NAME+STR(ID,1)"), entries)

    # dBASE III, numeric keys (doubles), three levels: the header says 4
    # keys a page (a page could hold 31); the root in the middle.
    values = [((r * 37) % 41 - 20) * 0.75 for r in range(1, 41)]
    entries = sorted((double_key(v), r) for r, v in enumerate(values, 1))
    entries.sort(key=lambda e: (struct.unpack("<d", e[0])[0], e[1]))
    tree = Tree(entries, [4, 2, 3, 4, 1, 4, 4, 3, 4, 4, 3, 4], [[3, 4, 5], [3]])
    numbers = [[2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14], [15, 16, 17], [13]]
    write(directory, "hand3n.ndx", ndx_file(tree, numbers, False, 8, 16, 4, 1, "AMOUNT"), entries)

    # dBASE II, character keys C(6): u16 fields, two levels.
    entries = sorted((text_key("K%02d" % ((r * 5) % 23), 6), r) for r in range(1, 31))
    tree = Tree(entries, [9, 4, 10, 7], [[4]])
    numbers = [[2, 3, 5, 6], [4]]
    write(directory, "hand2.ndx", ndx_file(tree, numbers, True, 6, 10, 50, 0, "CODE"), entries)


# ---------------------------------------------------------------- .MDX

def mdx_file(name, page_size, tags, order):
    """tags: dicts of name, type, key length, flags, key and FOR texts,
    tree, page numbers (blocks) and header block; order: the order the
    tags are put into the name tree."""
    blocks = page_size // 512
    eof = max(max(max(level) for level in t["numbers"]) for t in tags) + blocks
    eof = max(eof, max(t["header"] for t in tags) + 2)
    eof += blocks  # a garbage page at the end
    data = bytearray(page(512 * eof))
    header = bytearray(2048)
    header[0] = 2
    header[1:4] = bytes([124, 5, 17])
    put(header, 4, name.encode("ascii"))
    struct.pack_into("<HHBBB", header, 20, blocks, page_size, 1, 48, 32)
    header[28] = len(tags)
    struct.pack_into("<I", header, 32, eof)
    header[44:47] = bytes([124, 5, 17])
    # The name tree, built by inserting in the order given.
    left, right, parent = {}, {}, {}
    root = None
    for tag in order:
        if root is None:
            root = tag
            parent[tag] = 0
            continue
        at = root
        while True:
            side = left if tags[tag]["name"] < tags[at]["name"] else right
            if at in side:
                at = side[at]
            else:
                side[at] = tag
                parent[tag] = at + 1
                break
    header[512 + 17] = root + 1
    for i, t in enumerate(tags):
        e = bytearray(32)
        struct.pack_into("<I", e, 0, t["header"])
        put(e, 4, t["name"].encode("ascii"))
        e[16] = left[i] + 1 if i in left else 0
        e[17] = right[i] + 1 if i in right else 0
        e[18] = parent[i]
        e[19], e[20] = 2, ord(t["type"])
        put(header, 512 + 32 * (i + 1), e)
    put(data, 0, header)

    for t in tags:
        length = t["length"]
        entry_size = (length + 7) & ~3
        max_keys = t.get("max_keys", (page_size - 12) // entry_size)
        th = bytearray(1024)
        tree, numbers = t["tree"], t["numbers"]
        struct.pack_into("<II", th, 0, numbers[-1][0], 9)
        th[8], th[9] = t["flags"], ord(t["type"])
        struct.pack_into("<HHBxH", th, 12, length, max_keys, 1 if t["type"] == "D" else 0, entry_size)
        th[20] = 3
        put(th, 24, t["key"].encode("ascii"))
        if t.get("for"):
            th[245] = 1
            put(th, 762, t["for"].encode("ascii"))
        put(data, 512 * t["header"], th)
        for level, pages in enumerate(tree.levels):
            for index, entries in enumerate(pages):
                p = page(page_size)
                count = len(entries) if level == 0 else len(entries) - 1
                struct.pack_into("<II", p, 0, count, 0x1234)
                for i, entry in enumerate(entries):
                    at = 8 + i * entry_size
                    if level == 0:
                        key, record = entry
                        struct.pack_into("<I", p, at, record)
                        put(p, at + 4, key)
                    else:
                        struct.pack_into("<I", p, at, numbers[level - 1][entry])
                        if i < count:
                            put(p, at + 4, tree.highest(level - 1, entry))
                if level == 0:
                    struct.pack_into("<I", p, 8 + count * entry_size, 0)
                put(data, 512 * numbers[level][index], p)
    return bytes(data)


def make_mdx(directory):
    # 1024-byte pages (2 blocks); three tags put into the name tree as
    # NAME, AMOUNT, BORN, the roots not at the end.
    names = ["SMITH", "JONES", "BROWN", "TAYLOR", "WILSON", "DAVIES", "EVANS", "THOMAS"]
    name_entries = sorted((text_key(names[(r * 3) % 8], 12), r) for r in range(1, 101))
    amounts = [((r * 29) % 31 - 15) * 1.5 for r in range(1, 101)]
    amounts[10] = 0.0
    amounts[11] = -0.01
    amounts[12] = 0.01
    amount_entries = sorted(((bcd_key(v), r) for r, v in enumerate(amounts, 1)),
                            key=lambda e: (amounts[e[1] - 1], e[1]))
    born = [2451545.0 + (r * 17) % 50 for r in range(1, 101)]
    born[4] = 1e100  # the blank date sorts after every date
    # Descending: keys from high to low, equal keys from high record to low.
    born_entries = sorted(((double_key(v), r) for r, v in enumerate(born, 1)),
                          key=lambda e: (-born[e[1] - 1], -e[1]))
    tags = [
        {"name": "NAME", "type": "C", "length": 12, "flags": 0x10, "key": "NAME", "for": "ACTIVE",
         "tree": Tree(name_entries, [30, 7, 63], [[3]]), "numbers": [[8, 14, 10], [12]], "header": 4},
        {"name": "AMOUNT", "type": "N", "length": 12, "flags": 0x10, "key": "AMOUNT",
         "tree": Tree(amount_entries, [20, 40, 40], [[3]]), "numbers": [[16, 18, 20], [22]], "header": 6},
        {"name": "BORN", "type": "D", "length": 8, "flags": 0x18, "key": "BORN",
         "tree": Tree(born_entries, [50, 50], [[2]]), "numbers": [[24, 28], [26]], "header": 30},
    ]
    write(directory, "hand.mdx", mdx_file("HAND", 1024, tags, [0, 1, 2]))
    for t in tags:
        entries = [e for leaf in t["tree"].levels[0] for e in leaf]
        with open(os.path.join(directory, "hand.mdx.%s.txt" % t["name"]), "w") as f:
            f.write(listing(entries))

    # 512-byte pages (1 block), one tag of C(20) with 8 keys a page (the
    # header says 8 of the 22 that fit), three levels, the root first.
    entries = sorted((text_key("ITEM%03d" % ((r * 11) % 37), 20), r) for r in range(1, 51))
    tags = [{"name": "ITEM", "type": "C", "length": 20, "flags": 0, "key": "ITEM", "max_keys": 8,
             "tree": Tree(entries, [8, 3, 8, 7, 8, 8, 8], [[3, 4], [2]]),
             "numbers": [[7, 8, 9, 10, 11, 12, 13], [5, 6], [4]], "header": 14}]
    write(directory, "hand512.mdx", mdx_file("HAND", 512, tags, [0]))
    with open(os.path.join(directory, "hand512.mdx.ITEM.txt"), "w") as f:
        f.write(listing(entries))


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    make_ndx(directory)
    make_mdx(directory)


if __name__ == "__main__":
    main()
