// Text for comma-separated files as spreadsheets read them: quoted fields, numbers with a
// "." whatever the user's locale, times as ISO 8601.
#pragma once

#include <windows.h>

#include <string>

// Appends `length` characters of `text` to `out` as UTF-8 (may throw std::bad_alloc).
void AppendUtf8(std::string& out, const wchar_t* text, size_t length);

// Appends one field: as it is, or in double quotes (a quote doubled) when it holds a comma,
// a quote, a line break, or blanks at either end.
void AppendCsvField(std::wstring& line, const wchar_t* text);

// The shortest text that reads back as exactly `number`, with "." as the decimal point and
// no thousands separator ("0.1", "-2.5e-07", "1e+300"); "NaN", "Infinity" or "-Infinity"
// for numbers that are not finite. Answers the length written, 0 when it does not fit.
// With `single` the number is a float's, and the text the shortest that reads back as that
// float ("0.1" for 0.1f, not its double's 17 digits).
int FormatInvariantNumber(double number, wchar_t* text, int capacity, bool single = false);
// The same as single-byte text, for lines written as UTF-8.
int FormatInvariantNumber(double number, char* text, int capacity, bool single = false);

// "2026-12-09T07:11:37.123": a local time in ISO 8601 with milliseconds.
int FormatIsoLocalTime(const SYSTEMTIME& local, wchar_t* text, int capacity);
int FormatIsoLocalTime(const SYSTEMTIME& local, char* text, int capacity);
