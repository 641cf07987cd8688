#!/usr/bin/env python3
"""Writes an archive as an MS-DOS host would: attribute bytes, a DOS date and time, a
folder entry, and one file with an extended-time extra field."""
import struct
import sys
import zipfile

path = sys.argv[1]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    folder = zipfile.ZipInfo("sub/", date_time=(2021, 6, 15, 10, 30, 0))
    folder.create_system = 0
    folder.external_attr = 0x10
    z.writestr(folder, b"")
    locked = zipfile.ZipInfo("sub/locked.txt", date_time=(2021, 6, 15, 10, 30, 20))
    locked.create_system = 0
    locked.external_attr = 0x01 | 0x20  # read-only, archive
    z.writestr(locked, b"read only content\r\n")
    stamped = zipfile.ZipInfo("stamped.txt", date_time=(2000, 1, 1, 0, 0, 0))
    stamped.create_system = 0
    stamped.external_attr = 0x20
    stamped.extra = struct.pack("<HHBi", 0x5455, 5, 1, 1234567890)
    z.writestr(stamped, b"stamped")
