#!/usr/bin/env python3
"""Writes mlg/edges-v0.mlg and mlg/edges-v3.mlg: MLG datalogs built byte by byte (not by the
program's writer) to exercise the reader's edge cases. Written for the torvik-cli tests; the
expected dump-mlg output of each is in golden/."""

import pathlib
import struct

OUT = pathlib.Path(__file__).parent / "mlg"


def text(value, width):
    return value + b"\0" * (width - len(value))


def header(version, info_start, data_begin, record_length, field_count):
    info = struct.pack(">I" if version >= 2 else ">H", info_start)
    return (b"MLVLG\0" + struct.pack(">HI", version, 0x01020304) + info +
            struct.pack(">IHH", data_begin, record_length, field_count))


def descriptor(version, data_type, name, tail=bytes.fromhex("00 3F800000 00000000 00"),
               units=b"u", category=b"cat"):
    d = bytes([data_type]) + text(name, 34) + text(units, 10) + tail
    return d + text(category, 34) if version >= 2 else d


def record(counter, timestamp, values):
    return bytes([0, counter]) + struct.pack(">H", timestamp) + bytes.fromhex(values) + b"\x5A"


def marker(counter, timestamp, message):
    return bytes([1, counter]) + struct.pack(">H", timestamp) + text(message, 50)


def edges_v3():
    # A 34-character name without terminator, scale 0.5, transform -40, digits -2; a two-byte
    # bit field with a Latin-1 name; a field (code 103, two bytes) beyond the 4-byte record whose
    # texts need quoting in CSV and whose scale and transform are NaN and minus infinity.
    fields = (descriptor(3, 2, b"N" * 34, bytes.fromhex("07 3F000000 C2200000 FE")) +
              descriptor(3, 11, b"Status\xB0", bytes.fromhex("01 02 0A0B0C0D 06 000000")) +
              descriptor(3, 103, b'beyond, "x"', bytes.fromhex("00 7FC00000 FF800000 FD"),
                         units=b"a\nb", category=b'x"y'))
    info = b"speeduino\xB0\nline, two\0"                  # the info text is never quoted
    info_start = 24 + len(fields)
    blocks = (
        bytes.fromhex("02 FF 7E")                        # stray bytes are skipped one by one
        + marker(0, 9, b"first")                         # before any record: time 0
        + record(0, 0, "0005 F00F")                      # counter 0 at time 0 first: real data
        + record(1, 65000, "0001 0000")
        + bytes.fromhex("80")
        + marker(2, 11, b"Going \xE9 Off\0\x01\x02")     # 0xE9 reads "?", bytes after 0x00 unread
        + record(3, 100, "0000 0000")                    # 65000 -> 100: the clock wrapped
        + record(4, 200, "0000 0000")
        + record(5, 40000, "0000 0000")
        + record(6, 10000, "0000 0000")                  # a drop of exactly 30000: no wrap
        + record(7, 9999, "0000 0000")
        + record(8, 65535, "0000 0000")
        + record(9, 35534, "0006 0000")                  # a drop of 30001: a wrap
        + marker(10, 12, b"x" * 50)                      # a message without terminator
        + marker(11, 13, b"two\nlines")
        + bytes.fromhex("03 03")
        + record(0, 0, "0000 0000")                      # zero padding ends the log
        + record(11, 20, "0007 0000")
        + marker(12, 1, b"after"))
    data_begin = info_start + len(info)
    return header(3, info_start, data_begin, 4, 3) + fields + info + blocks


def edges_v0():
    # Version 0 takes the short layout of version 1.
    return header(0, 0, 22 + 55, 2, 1) + descriptor(0, 2, b"a") + record(0, 1, "0102")


OUT.joinpath("edges-v3.mlg").write_bytes(edges_v3())
OUT.joinpath("edges-v0.mlg").write_bytes(edges_v0())
