#!/usr/bin/env python3
"""Reads a recording back as a spreadsheet would and checks it.

check_recording.py FILE COUNTER_SENSOR LATE_SENSOR [--cut]
The counter sensor's "CUSTOM VALUE1" must hold consecutive whole numbers (every report
exactly once, in order); the late sensor must appear. With --cut the file may end in the
middle of a line (a write failed), and everything before that line must still read.
Prints what it found; exits 1 on the first fault.
"""
import csv
import io
import re
import sys


def fail(text):
    print("FAULT: " + text)
    sys.exit(1)


def main():
    path, counter_name, late_name = sys.argv[1:4]
    cut = "--cut" in sys.argv[4:]
    data = open(path, "rb").read()
    if not data.startswith(b"\xef\xbb\xbf"):
        fail("no UTF-8 byte-order mark")
    if cut and not data.endswith(b"\r\n"):
        data = data[: data.rfind(b"\r\n") + 2]
    if b"\n" in data.replace(b"\r\n", b""):
        fail("a line does not end in CR LF")
    rows = list(csv.reader(io.StringIO(data.decode("utf-8-sig"), newline="")))
    if not rows or rows[0] != ["Time", "Sensor", "Sensor ID", "Item", "Value"]:
        fail("header %r" % (rows[:1],))
    time_form = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}$")
    id_form = re.compile(r"^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$")
    counters, late = [], 0
    for row in rows[1:]:
        if row and row[0].startswith("#"):
            fail("a comment line: %r" % (row,))
        if len(row) != 5:
            fail("row of %d fields: %r" % (len(row), row))
        time, sensor, sensor_id, item, value = row
        if not time_form.match(time) or not id_form.match(sensor_id):
            fail("time or ID: %r" % (row,))
        if sensor == counter_name and item == "CUSTOM VALUE1":
            counters.append((time, int(value)))
        if sensor == late_name:
            late += 1
    if len(counters) < 20:
        fail("only %d counter rows" % len(counters))
    for (time_a, a), (time_b, b) in zip(counters, counters[1:]):
        if b != a + 1:
            fail("counter %d followed by %d" % (a, b))
        if time_b < time_a:
            fail("time %s after %s" % (time_b, time_a))
    if not late and not cut:
        fail("no row of the sensor that arrived late")
    print("counter rows %d (%d..%d), late rows %d, rows %d" % (len(counters), counters[0][1], counters[-1][1], late,
                                                               len(rows) - 1))


main()
