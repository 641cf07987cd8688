#!/usr/bin/env python3
"""Writes the explode benchmark's archive: the test suite's imploding encoder on about a
megabyte of text and of binary data, in each dictionary size and tree count.

    make-imploded-bench.py ARCHIVE
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "archive"))
import make_imploded  # noqa: E402


def main():
    text = make_imploded.sample_text() * 34
    binary = make_imploded.sample_binary() * 85
    entries = []
    for large in (False, True):
        for literal_tree in (False, True):
            flags = (2 if large else 0) | (4 if literal_tree else 0)
            for name, data in (("text", text), ("data", binary)):
                entries.append(("%s-%d.bin" % (name, flags), flags,
                                make_imploded.implode(data, large, literal_tree), data))
    make_imploded.write_zip(sys.argv[1], entries)


if __name__ == "__main__":
    main()
