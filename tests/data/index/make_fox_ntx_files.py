#!/usr/bin/env python3
"""Writes a FoxPro standard .IDX, a FoxPro .CDX and a Clipper .NTX file
byte by byte from the file formats, with trees shaped as no program of
this project shapes them, and beside each file a listing of its entries in
index order (one line an entry: the key's bytes in hex, a blank, the
record number; a tag's listing is FILE.TAG.txt).

The shapes: roots that are neither the first nor the last node, nodes no
tree uses (filled with 0xEE, one of them on the .IDX free list), leaves
filled to differing counts, equal keys running across leaves, .NTX items
laid out in the reverse order of their positions (the offset table says
where each is), .CDX leaves whose keys share prefixes and end in blanks.

Usage: make_fox_ntx_files.py [directory]   (default: the script's own)
Only the standard library is used; the output is the same on every run.
"""
import os
import struct
import sys

GARBAGE = 0xEE
NONE = 0xFFFFFFFF


def text_key(text, length):
    data = text.encode("ascii")[:length]
    return data + b" " * (length - len(data))


def listing(entries):
    return "".join("%s %d\n" % (key.hex(), record) for key, record in entries)


# ---------------------------------------------------------------- FoxPro .IDX

def idx_node(attributes, left, right, entries):
    """A standard node: entries of (key, big-endian value)."""
    node = bytearray(512)
    struct.pack_into("<HHII", node, 0, attributes, len(entries), left, right)
    at = 12
    for key, value in entries:
        node[at:at + len(key)] = key
        struct.pack_into(">I", node, at + len(key), value)
        at += len(key) + 4
    return node


def make_idx():
    length = 10
    keys = []
    # Leaves of 5, 35 (full) and 12 keys; the key DUP runs from the first
    # leaf into the second.
    names = ["ALPHA", "BRAVO", "CHARLIE", "DUP", "DUP"] + ["DUP"] * 4 + \
            ["K%03d" % i for i in range(31)] + ["ZULU%02d" % i for i in range(12)]
    for record, name in enumerate(names, start=1):
        keys.append((text_key(name, length), record * 3))
    keys.sort()
    leaves = [keys[0:5], keys[5:40], keys[40:52]]
    # Node offsets: leaves at 512, 2560, 3584; root at 1536; 1024 a free
    # node (garbage behind its link).
    at = [512, 2560, 3584]
    data = bytearray(4096)
    header = bytearray(512)
    struct.pack_into("<IIIHB", header, 0, 1536, 1024, 4096, length, 0)
    header[16:16 + 4] = b"NAME"
    data[0:512] = header
    for i, leaf in enumerate(leaves):
        left = at[i - 1] if i > 0 else NONE
        right = at[i + 1] if i + 1 < len(at) else NONE
        data[at[i]:at[i] + 512] = idx_node(2, left, right, leaf)
    root = idx_node(1, NONE, NONE, [(leaf[-1][0], at[i]) for i, leaf in enumerate(leaves)])
    data[1536:2048] = root
    free = bytearray([GARBAGE]) * 512
    struct.pack_into("<I", free, 0, NONE)
    data[1024:1536] = free
    return bytes(data), keys


# ---------------------------------------------------------------- FoxPro .CDX

WIDTHS = [(14, 1, 1, 2), (12, 2, 2, 2), (18, 3, 3, 3), (16, 4, 4, 3),
          (14, 5, 5, 3), (12, 6, 6, 3), (18, 7, 7, 4), (16, 8, 8, 4)]


def widths_for(length):
    row = 7 if length >= 128 else max([b for b in range(1, 8) if length & (1 << b)] or [0])
    return WIDTHS[row]


def compact_leaf(attributes, left, right, entries, length):
    rb, db, tb, size = widths_for(length)
    node = bytearray(512)
    struct.pack_into("<HHII", node, 0, attributes, len(entries), left, right)
    end = 512
    previous = None
    for i, (key, record) in enumerate(entries):
        trailing = len(key) - len(key.rstrip(b" "))
        n = length - trailing
        duplicate = 0
        if previous is not None and previous.strip(b" ") and n:
            while duplicate < n and key[duplicate] == previous[duplicate]:
                duplicate += 1
        stored = key[duplicate:n]
        end -= len(stored)
        node[end:end + len(stored)] = stored
        value = record | (duplicate << rb) | (trailing << (rb + db))
        node[24 + i * size:24 + (i + 1) * size] = value.to_bytes(size, "little")
        previous = key
    free = end - 24 - len(entries) * size
    assert free >= 0
    struct.pack_into("<HIBBBBBB", node, 12, free, (1 << rb) - 1, (1 << db) - 1, (1 << tb) - 1, rb, db, tb, size)
    return node


def compact_interior(attributes, left, right, entries):
    node = bytearray(512)
    struct.pack_into("<HHII", node, 0, attributes, len(entries), left, right)
    at = 12
    for key, record, child in entries:
        node[at:at + len(key)] = key
        struct.pack_into(">II", node, at + len(key), record, child)
        at += len(key) + 8
    return node


def tag_header(root, length, options, key_text):
    header = bytearray(1024)
    struct.pack_into("<IIIHBB", header, 0, root, 0, 7, length, options, 1)
    text = key_text.encode("ascii")
    struct.pack_into("<HHHHH", header, 502, 0, len(text) + 1, 1, 0, len(text) + 1)
    header[512:512 + len(text)] = text
    return header


def make_cdx():
    # Layout: 0 directory header; 1024 directory leaf; 1536 tag CITY
    # header; 2560 garbage; 3072 NAME root (interior); 3584 NAME header;
    # 4608, 5120 NAME leaves; 5632 CITY root leaf.
    data = bytearray([GARBAGE]) * 6144
    name_length, city_length = 12, 8
    people = ["SMITH", "SMITHE", "SMITHERS", "SMYTHE", "JONES", "JONESY", "BROWN", "", "AB", "ABC", "ABCD"]
    names = []
    for i in range(60):
        names.append((text_key(people[i % len(people)] + ("" if i < 11 else str(i % 7)), name_length), 100 + i))
    names.sort()
    left, right = names[:26], names[26:]
    cities = sorted((text_key(c, city_length), r) for r, c in enumerate(
        ["PARIS", "PARMA", "PARIS", "OSLO", "", "LIMA", "LIMA", "ROME", "ROMA"], start=1))
    directory = tag_header(1024, 10, 0xE0, "")
    data[0:1024] = directory
    data[1024:1536] = compact_leaf(3, NONE, NONE, sorted([(text_key("CITY", 10), 1536), (text_key("NAME", 10), 3584)]), 10)
    data[1536:2560] = tag_header(5632, city_length, 0x60, "CITY")
    data[3584:4608] = tag_header(3072, name_length, 0x60, "UPPER(NAME)")
    data[3072:3584] = compact_interior(1, NONE, NONE, [(left[-1][0], left[-1][1], 4608), (right[-1][0], right[-1][1], 5120)])
    data[4608:5120] = compact_leaf(2, NONE, 5120, left, name_length)
    data[5120:5632] = compact_leaf(2, 4608, NONE, right, name_length)
    data[5632:6144] = compact_leaf(3, NONE, NONE, cities, city_length)
    return bytes(data), {"NAME": names, "CITY": cities}


# ---------------------------------------------------------------- Clipper .NTX

def ntx_page(max_items, key_size, items, last):
    """Items laid out in the reverse order of their positions."""
    page = bytearray(1024)
    item_size = key_size + 8
    struct.pack_into("<H", page, 0, len(items))
    first = 2 * max_items + 4
    for position in range(max_items + 1):
        struct.pack_into("<H", page, 2 + 2 * position, first + (max_items - position) * item_size)
    for position in range(len(items) + 1):
        at = first + (max_items - position) * item_size
        if position < len(items):
            child, record, key = items[position]
            struct.pack_into("<II", page, at, child, record)
            page[at + 8:at + 8 + key_size] = key
        else:
            struct.pack_into("<I", page, at, last)
    return page


def make_ntx():
    key_size, max_items, half = 10, 40, 20
    keys = sorted((text_key("C%04d" % ((i * 37) % 90), key_size), i + 1) for i in range(90))
    # Leaves of 30, 25 and 33 items around two root items; the root at
    # 3072 lies between the leaves (1024, 2048, 4096), the last page a leaf.
    first, second, third = keys[0:30], keys[31:56], keys[57:90]
    root_items = [(1024, keys[30][1], keys[30][0]), (2048, keys[56][1], keys[56][0])]
    header = bytearray(1024)
    struct.pack_into("<HHIIHHHHH", header, 0, 6, 1, 3072, 0, key_size + 8, key_size, 0, max_items, half)
    header[22:22 + 4] = b"CODE"
    data = bytearray(5120)
    data[0:1024] = header
    leaf = lambda items: ntx_page(max_items, key_size, [(0, r, k) for k, r in items], 0)
    data[1024:2048] = leaf(first)
    data[2048:3072] = leaf(second)
    data[3072:4096] = ntx_page(max_items, key_size, root_items, 4096)
    data[4096:5120] = leaf(third)
    return bytes(data), keys


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    idx, idx_keys = make_idx()
    cdx, cdx_tags = make_cdx()
    ntx, ntx_keys = make_ntx()
    files = {"hand.idx": idx, "hand.idx.txt": listing(idx_keys).encode(), "hand.cdx": cdx,
             "hand.ntx": ntx, "hand.ntx.txt": listing(ntx_keys).encode()}
    for tag, entries in cdx_tags.items():
        files["hand.cdx.%s.txt" % tag] = listing(entries).encode()
    for name, data in files.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
