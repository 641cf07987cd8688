#include "app/CopyText.h"

namespace {

const wchar_t CellSeparator = L'\t';
const wchar_t SpanMarker = L'\v';
const wchar_t* const LineEnd = L"\r\n";

// The row's two cells: a spanning row is one cell, the value cell then stays empty.
void SplitRow(const std::wstring& text, std::wstring& item, std::wstring& value)
{
    if (!text.empty() && text.back() == SpanMarker) {
        item = ClipboardCell(text.substr(0, text.size() - 1));
        value.clear();
        return;
    }
    size_t tab = text.find(CellSeparator);
    item = ClipboardCell(text.substr(0, tab));
    value = tab == std::wstring::npos ? std::wstring() : ClipboardCell(text.substr(tab + 1));
}

std::wstring SensorName(const std::vector<TreeRowText>& rows, size_t valueRow)
{
    for (size_t i = valueRow; i-- > 0;) {
        if (rows[i].level < 2) {
            std::wstring item, value;
            SplitRow(rows[i].text, item, value);
            return rows[i].level == 1 ? item : std::wstring();
        }
    }
    return std::wstring();
}

std::wstring ValueLine(const std::vector<TreeRowText>& rows, size_t index)
{
    std::wstring item, value;
    SplitRow(rows[index].text, item, value);
    return SensorName(rows, index) + CellSeparator + item + CellSeparator + value + LineEnd;
}

}  // namespace

std::wstring ClipboardCell(const std::wstring& cell)
{
    std::wstring clean;
    clean.reserve(cell.size());
    for (wchar_t c : cell) {
        if (c == SpanMarker) continue;
        clean += (c < 0x20 || c == 0x7F) ? L' ' : c;
    }
    return clean;
}

std::wstring CopyRowText(const std::vector<TreeRowText>& rows, int selected)
{
    if (selected < 0 || (size_t)selected >= rows.size()) return std::wstring();
    const TreeRowText& row = rows[(size_t)selected];
    if (row.level == 0) return CopyAllText(rows);
    if (row.level >= 2) return ValueLine(rows, (size_t)selected);
    std::wstring item, value;
    SplitRow(row.text, item, value);
    std::wstring text = item + LineEnd;
    for (size_t i = (size_t)selected + 1; i < rows.size() && rows[i].level >= 2; i++) text += ValueLine(rows, i);
    return text;
}

std::wstring CopyAllText(const std::vector<TreeRowText>& rows)
{
    std::wstring text = std::wstring(L"Sensor") + CellSeparator + L"Item" + CellSeparator + L"Value" + LineEnd;
    for (size_t i = 0; i < rows.size(); i++)
        if (rows[i].level >= 2) text += ValueLine(rows, i);
    return text;
}
