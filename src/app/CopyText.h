// The text that copying puts on the clipboard: rows of the sensor tree as
// "Sensor<TAB>Item<TAB>Value" lines, CR LF after each.
#pragma once

#include <string>
#include <vector>

struct TreeRowText {
    int level;  // 0 the root, 1 a sensor, 2 a value
    std::wstring text;
};

// A cell as it may go to the clipboard: the span marker goes, every other control
// character becomes a blank (so that a cell never splits a line or a column).
std::wstring ClipboardCell(const std::wstring& cell);

// "Copy": a value row as one line, a sensor row as its name and its value rows, the root
// as the whole tree. An index outside the rows gives nothing.
std::wstring CopyRowText(const std::vector<TreeRowText>& rows, int selected);
// "Copy All": a header line, then one line per value row in tree order.
std::wstring CopyAllText(const std::vector<TreeRowText>& rows);
