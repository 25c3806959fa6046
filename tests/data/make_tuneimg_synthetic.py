#!/usr/bin/env python3
"""Writes tuneimg-synthetic.bin: the three pages of tunefields.ini end to end (288 + 512 + 128
bytes, little-endian). Written for the torvik-cli tests; rerun it after changing the layout."""

import math
import pathlib
import struct


def page1():
    p = bytearray(288)
    struct.pack_into("<B", p, 0, 157)            # reqFuel 15.7 ms
    struct.pack_into("<B", p, 1, 2)              # divider
    struct.pack_into("<H", p, 2, 1250)           # injOpen 1.250 ms
    struct.pack_into("<H", p, 4, 40)             # crankRPM 400
    struct.pack_into("<b", p, 6, -17)            # tpsMin
    struct.pack_into("<h", p, 7, -155)           # advOffset -15.5 deg (odd offset)
    struct.pack_into("<I", p, 9, 123456789)      # odometer 12345678.9 km
    struct.pack_into("<i", p, 13, -98765)        # knockRetard -987.65 deg
    struct.pack_into("<f", p, 17, 14.7)          # stoich
    struct.pack_into("<B", p, 21, 125)           # boostLimit 250 kPa
    struct.pack_into("<B", p, 22, 0xA5)          # oddType: unknown type, read as one byte
    # injLayout 3 (bits 0-1), engineType 1 (bit 2), bit 3 spare set, nCylinders 6 (bits 4-7)
    struct.pack_into("<B", p, 23, 0b0110_1111)
    # algorithm 2 (bits 0-2), triggerTeeth 36 (bits 3-11), bits 12-14 spare 0b101, useLambda 1
    struct.pack_into("<H", p, 24, 2 | (36 << 3) | (0b101 << 12) | (1 << 15))
    p[26:42] = b"Synthetic tune\0\0"            # tuneName, two trailing NULs
    p[42:50] = b"TK-0001!"                       # vehicleId fills its 8 bytes
    struct.pack_into("<B", p, 50, 0b11)          # fuelUnits 1, tempUnits 1
    struct.pack_into("<H", p, 51, 43210)         # injFlow: 432.10 with fuelUnits 1
    struct.pack_into("<b", p, 53, -20)           # coldAdvance: (-20 + 10) x 0.5 with tempUnits 1
    # sensorFlags 0xABC in bits 8-19, flexEnabled in bit 31, the other bits set as noise
    struct.pack_into("<I", p, 54, (0xABC << 8) | (1 << 31) | 0x7F)
    struct.pack_into("<B", p, 58, 85)            # idleAdvRpm 850 / idleAdvAlias 85
    p[60:64] = bytes([5, 10, 20, 255])           # primePulse
    struct.pack_into("<4h", p, 64, 0, 80, 200, 510)  # fanCurve
    for i in range(72, 272):                     # bytes no constant covers
        p[i] = (i * 7) & 0xFF
    p[272:288] = bytes(range(240, 256))          # spareTail
    return p


def page2():
    p = bytearray(512)
    for r in range(16):                          # veTable: 16 columns x 16 rows, row-major
        for c in range(16):
            p[r * 16 + c] = (40 + 3 * r + 4 * c) & 0xFF
    p[256:272] = bytes(5 + 5 * i for i in range(16))          # rpmBins 500..8000
    p[272:288] = bytes(10 + 7 * i for i in range(16))         # mapBins
    struct.pack_into("<10H", p, 288, *[180, 175, 168, 154, 134, 121, 112, 104, 102, 100])
    struct.pack_into("<10h", p, 308, *[0, 110, 230, 400, 530, 650, 770, 900, 1200, 2550])
    afr = [11.5, 12.0, 12.5, 13.0, 13.2, 13.8, 14.7, 14.7, 12.8, 13.1, 14.2, 15.5,
           math.pi, 1.0 / 3.0, 7.25, 24.999]
    struct.pack_into("<16f", p, 328, *afr)
    struct.pack_into("<8b", p, 392, -128, -64, -1, 0, 1, 63, 100, 127)
    struct.pack_into("<4I", p, 400, 0, 1, 500000, 4294967295)
    struct.pack_into("<4i", p, 416, -2147483648, -1, 720, 2147483647)
    struct.pack_into("<32H", p, 432, *[50 + 3 * i for i in range(32)])
    p[496:512] = bytes(range(0, 256, 16))
    return p


def page3():
    p = bytearray(128)
    p[0] = 135                                   # fanOn 95 C
    p[1] = 130                                   # fanOff 90 C
    struct.pack_into("<H", p, 2, 4500)           # launchRpm
    p[4] = 0b1111_1010                           # launchMode 2 (bits 0-2), other bits noise
    struct.pack_into("<16H", p, 6, *[i * 4096 + 17 for i in range(16)])
    p[38:70] = b"line one\0junk after the NUL!".ljust(32, b"\0")
    p[127] = 0xEE
    return p


pages = [page1(), page2(), page3()]
assert [len(p) for p in pages] == [288, 512, 128]
image = b"".join(pages)
pathlib.Path(__file__).with_name("tuneimg-synthetic.bin").write_bytes(image)
