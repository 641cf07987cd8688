#!/usr/bin/env python3
"""Writes an update-like archive whose files carry the hidden, system and read-only
attributes, as an MS-DOS host records them, plus an entry named like a device.

    make_guarded_archive.py ARCHIVE CONTENT
"""
import sys
import zipfile

path, content = sys.argv[1], sys.argv[2].encode("ascii")
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for name, attributes in (("hidden.txt", 0x02), ("system.txt", 0x04), ("sub/all.txt", 0x27),
                             ("plain.txt", 0x20)):
        info = zipfile.ZipInfo(name, date_time=(2021, 6, 15, 10, 30, 0))
        info.create_system = 0
        info.external_attr = attributes
        z.writestr(info, content)
