#include "ui/LineChart.h"

#include <math.h>
#include <stdio.h>

#include <limits.h>

#include <algorithm>

#include "common/CsvText.h"
#include "platform/WindowObjects.h"
#include "ui/Clipboard.h"

const wchar_t LineChart::ClassName[] = L"OrvaneLineChart";
const double LineChart::Span = 60.0;

namespace {

// Distinct colours, the darker ones first, for lines on white.
const COLORREF Palette[] = {RGB(31, 119, 180), RGB(214, 39, 40),  RGB(44, 160, 44),   RGB(255, 127, 14),
                            RGB(148, 103, 189), RGB(140, 86, 75), RGB(227, 119, 194), RGB(23, 190, 207),
                            RGB(127, 127, 127), RGB(188, 189, 34)};
const int PaletteSize = (int)(sizeof(Palette) / sizeof(Palette[0]));
const COLORREF GridColour = RGB(225, 225, 225);
const COLORREF AxisColour = RGB(120, 120, 120);

// A number as short as it can be written and read back, "." for the decimal point.
void NumberText(double value, wchar_t* text, int capacity)
{
    if (!FormatInvariantNumber(value, text, capacity, false) && capacity > 0) text[0] = L'\0';
}

void TextAt(HDC dc, int x, int y, const wchar_t* text, UINT align)
{
    SetTextAlign(dc, align);
    TextOutW(dc, x, y, text, (int)wcslen(text));
}

}  // namespace

AxisTicks RoundTicks(double low, double high, int most)
{
    AxisTicks ticks = {0, 1, 2};
    if (most < 2) most = 2;
    if (!(low == low) || !(high == high) || fabs(low) > 1e300 || fabs(high) > 1e300) return ticks;
    if (high < low) std::swap(low, high);
    if (high - low < 1e-12 * (fabs(low) + fabs(high)) || high == low) {
        // No width: one unit around the value, or a tenth of its size.
        double half = low == 0 ? 1 : fabs(low) * 0.1;
        low -= half;
        high += half;
    }
    double raw = (high - low) / (double)(most - 1);
    double power = pow(10.0, floor(log10(raw)));
    // The smallest round step that needs no more marks than allowed; a ratio within a
    // billionth of a whole number counts as whole (0.001 / 0.001 may not give exactly 1).
    for (int round = 0; round < 4; round++, power *= 10) {
        for (double factor : {1.0, 2.0, 5.0}) {
            double step = factor * power;
            double first = floor(low / step + 1e-9) * step;
            double last = ceil(high / step - 1e-9) * step;
            int count = (int)floor((last - first) / step + 0.5) + 1;
            if (count <= most) {
                ticks.first = first;
                ticks.step = step;
                ticks.count = count < 2 ? 2 : count;
                return ticks;
            }
        }
    }
    return ticks;
}

void TickText(double value, double step, wchar_t* text, int capacity)
{
    int decimals = 0;
    if (step > 0 && step < 1) decimals = (int)ceil(-log10(step) - 1e-9);
    if (decimals > 12) decimals = 12;
    // Marks are whole multiples of the step: a value within a hundredth of a step of zero is zero.
    if (fabs(value) < step * 1e-2) value = 0;
    if (fabs(value) >= 1e15 || decimals > 6) {
        // Very large or very fine marks: the number's own shortest text ("2e+15", "1e-08").
        NumberText(value, text, capacity);
        return;
    }
    _snwprintf(text, (size_t)capacity, L"%.*f", decimals, value);
    text[capacity - 1] = L'\0';
}

void SampleRing::Add(double time, double value)
{
    if (m_count == m_items.size()) {
        if (m_items.size() < m_limit) {
            // Grows in place, the oldest moved to the front.
            std::vector<Sample> larger;
            larger.reserve(std::min(m_limit, m_items.empty() ? (size_t)256 : m_items.size() * 2));
            for (size_t i = 0; i < m_count; i++) larger.push_back(At(i));
            larger.resize(larger.capacity());
            m_items.swap(larger);
            m_head = 0;
        } else {
            // Full: the oldest sample makes room.
            m_head = (m_head + 1) % m_items.size();
            m_count--;
        }
    }
    m_items[(m_head + m_count) % m_items.size()] = {time, value};
    m_count++;
}

void SampleRing::DropBefore(double time)
{
    while (m_count > 0 && At(0).time < time) {
        m_head = (m_head + 1) % m_items.size();
        m_count--;
    }
}

size_t SampleRing::FirstAtOrAfter(double time) const
{
    size_t low = 0, high = m_count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (At(middle).time < time)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void ColumnSummary::Reset(double width, size_t count)
{
    m_width = width > 0 ? width : 1;
    Column empty = {LLONG_MIN, 0, 0, 0, 0};
    m_columns.assign(count ? count : 1, empty);
}

void ColumnSummary::Add(double time, double value)
{
    if (m_columns.empty()) return;
    long long index = IndexOf(time);
    size_t count = m_columns.size();
    Column& column = m_columns[(size_t)(((index % (long long)count) + (long long)count) % (long long)count)];
    if (column.index != index) {
        column = {index, value, value, value, value};
        return;
    }
    if (value < column.low) column.low = value;
    if (value > column.high) column.high = value;
    column.last = value;
}

const ColumnSummary::Column* ColumnSummary::Find(long long index) const
{
    if (m_columns.empty() || index == LLONG_MIN) return nullptr;
    size_t count = m_columns.size();
    const Column& column = m_columns[(size_t)(((index % (long long)count) + (long long)count) % (long long)count)];
    return column.index == index ? &column : nullptr;
}

bool LineChart::Register(HINSTANCE instance)
{
    WNDCLASSEXW kind;
    ZeroMemory(&kind, sizeof(kind));
    kind.cbSize = sizeof(kind);
    if (GetClassInfoExW(instance, ClassName, &kind)) return true;
    kind.cbSize = sizeof(kind);
    kind.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    kind.lpfnWndProc = WindowProc;
    kind.hInstance = instance;
    kind.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    kind.lpszClassName = ClassName;
    return RegisterClassExW(&kind) != 0;
}

LineChart::LineChart()
    : m_window(nullptr), m_now(0), m_paintedNow(-1), m_changed(true), m_samplesAdded(false), m_paused(false)
{
}

LineChart::~LineChart()
{
    Detach();
}

int LineChart::Attach(HWND window)
{
    wchar_t kind[64] = L"";
    if (!window || !GetClassNameW(window, kind, 64) || wcscmp(kind, ClassName) != 0) return 0;
    Detach();
    m_window = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)this);
    InvalidateRect(window, nullptr, FALSE);
    return 1;
}

void LineChart::Detach()
{
    if (m_window) SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
    m_window = nullptr;
}

int LineChart::AddSeries(const wchar_t* name)
{
    Series series;
    series.name.Assign(name);
    series.latest = 0;
    series.any = false;
    m_series.push_back(std::move(series));
    m_changed = true;
    return (int)m_series.size() - 1;
}

COLORREF LineChart::SeriesColour(int series) const
{
    return Palette[(series < 0 ? 0 : series) % PaletteSize];
}

void LineChart::AddSample(int series, double time, double value)
{
    if (series < 0 || series >= (int)m_series.size() || !(value == value)) return;
    Series& target = m_series[(size_t)series];
    target.samples.Add(time, value);
    if (target.columns.Count() > 0) target.columns.Add(time, value);
    target.latest = value;
    // The first sample of a series changes the legend's layout: at once.
    if (!target.any) m_changed = true;
    target.any = true;
    m_samplesAdded = true;
}

void LineChart::SetNow(double time)
{
    if (m_paused || !m_note.IsEmpty()) return;
    m_now = time;
    for (Series& series : m_series) series.samples.DropBefore(time - Span);
}

void LineChart::SetNote(const wchar_t* note)
{
    m_note.Assign(note ? note : L"");
    m_changed = true;
}

void LineChart::SetPaused(bool paused)
{
    if (m_paused == paused) return;
    m_paused = paused;
    m_changed = true;
    if (m_window) InvalidateRect(m_window, nullptr, FALSE);
}

void LineChart::Refresh()
{
    if (!m_window || m_paused) return;
    RECT client;
    GetClientRect(m_window, &client);
    double pixel = Span / (double)std::max(1L, client.right - client.left);
    // The curve moves a pixel every `pixel` seconds: new samples in between change only the
    // newest column and the legend, which may wait a tenth of a second.
    bool moved = fabs(m_now - m_paintedNow) >= pixel;
    bool samplesWaited = m_samplesAdded && fabs(m_now - m_paintedNow) >= 0.1;
    if (!m_changed && !moved && !samplesWaited) return;
    InvalidateRect(m_window, nullptr, FALSE);
}

void LineChart::LegendLabel(size_t series, WideString& label) const
{
    label.Assign(m_series[series].name);
    if (m_series[series].any) label.AppendFormat(L" = %.7g", m_series[series].latest);
}

int LineChart::LayOutLegend(HDC dc, int left, int right, std::vector<POINT>* places) const
{
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    int x = left, lines = 1;
    WideString label;
    for (size_t s = 0; s < m_series.size(); s++) {
        LegendLabel(s, label);
        SIZE size = {0, 0};
        GetTextExtentPoint32W(dc, label, label.Length(), &size);
        int width = 20 + size.cx;
        // An entry that does not fit goes to the next line, unless it starts one.
        if (x > left && x + width > right) {
            x = left;
            lines++;
        }
        if (places) places->push_back({x, (lines - 1) * (metrics.tmHeight + 2)});
        x += width + 16;
    }
    return lines;
}

RECT LineChart::PlotArea(HDC dc, const RECT& area, int& legendHeight) const
{
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    int line = metrics.tmHeight;
    SIZE widest = {0, 0};
    GetTextExtentPoint32W(dc, L"-000000.000", 11, &widest);
    RECT plot = area;
    plot.left += widest.cx + 10;
    plot.right -= 16;
    legendHeight = LayOutLegend(dc, plot.left, plot.right, nullptr) * (line + 2) + 6;
    plot.top += legendHeight + 6;
    plot.bottom -= line + 10;
    if (plot.right < plot.left + 10) plot.right = plot.left + 10;
    if (plot.bottom < plot.top + 10) plot.bottom = plot.top + 10;
    return plot;
}

void LineChart::Draw(HDC dc, const RECT& area) const
{
    HFONT font = m_window ? (HFONT)SendMessageW(m_window, WM_GETFONT, 0, 0) : nullptr;
    if (!font) font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    GdiHolder background;
    background.CreateSolidBrush(GetSysColor(COLOR_WINDOW));
    FillRect(dc, &area, (HBRUSH)background.Handle());

    int legendHeight = 0;
    RECT plot = PlotArea(dc, area, legendHeight);
    double left = m_now - Span;

    // Each series summed up per pixel column of this width (again when the width changed).
    int columns = std::max(1L, plot.right - plot.left);
    double stretch = Span / (double)columns;
    for (Series& series : m_series) {
        if (series.columns.Width() == stretch && series.columns.Count() == (size_t)columns + 4) continue;
        series.columns.Reset(stretch, (size_t)columns + 4);
        for (size_t i = 0; i < series.samples.Size(); i++)
            series.columns.Add(series.samples.At(i).time, series.samples.At(i).value);
    }
    long long firstColumn = (long long)floor(left / stretch), lastColumn = (long long)floor(m_now / stretch);

    // The visible range of every series together.
    double low = 0, high = 0;
    bool any = false;
    for (const Series& series : m_series) {
        for (long long k = firstColumn; k <= lastColumn; k++) {
            const ColumnSummary::Column* column = series.columns.Find(k);
            if (!column) continue;
            if (!any || column->low < low) low = column->low;
            if (!any || column->high > high) high = column->high;
            any = true;
        }
    }
    int most = std::max(2, (int)((plot.bottom - plot.top) / 30) + 1);
    AxisTicks ticks = RoundTicks(any ? low : 0, any ? high : 1, std::min(most, 11));
    double bottomValue = ticks.first, topValue = ticks.first + ticks.step * (ticks.count - 1);
    double height = (double)(plot.bottom - plot.top), width = (double)(plot.right - plot.left);
    auto yOf = [&](double value) {
        return plot.bottom - (int)floor((value - bottomValue) / (topValue - bottomValue) * height + 0.5);
    };
    auto xOf = [&](double time) { return plot.left + (int)floor((time - left) / Span * width + 0.5); };

    // Grid, marks and their texts.
    GdiHolder gridPen, axisPen;
    gridPen.Attach(CreatePen(PS_SOLID, 1, GridColour));
    axisPen.Attach(CreatePen(PS_SOLID, 1, AxisColour));
    HGDIOBJ oldPen = SelectObject(dc, gridPen.Handle());
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    wchar_t text[64];
    for (int i = 0; i < ticks.count; i++) {
        double value = ticks.first + ticks.step * i;
        int y = yOf(value);
        MoveToEx(dc, plot.left, y, nullptr);
        LineTo(dc, plot.right, y);
        TickText(value, ticks.step, text, 64);
        TextAt(dc, plot.left - 6, y - metrics.tmHeight / 2, text, TA_RIGHT | TA_TOP);
    }
    int timeStep = width < 360 ? 20 : 10;
    for (int seconds = 0; seconds <= (int)Span; seconds += timeStep) {
        int x = plot.right - (int)floor(seconds / Span * width + 0.5);
        MoveToEx(dc, x, plot.top, nullptr);
        LineTo(dc, x, plot.bottom);
        if (seconds == 0)
            wcscpy(text, L"0 s");
        else
            _snwprintf(text, 64, L"-%d", seconds);
        text[63] = L'\0';
        TextAt(dc, x, plot.bottom + 4, text, (seconds == 0 ? TA_RIGHT : TA_CENTER) | TA_TOP);
    }
    SelectObject(dc, axisPen.Handle());
    MoveToEx(dc, plot.left, plot.top, nullptr);
    LineTo(dc, plot.left, plot.bottom);
    LineTo(dc, plot.right, plot.bottom);

    // The lines: within each pixel column only its first, lowest, highest and last points
    // are drawn, however many samples fall into it.
    int saved = SaveDC(dc);
    IntersectClipRect(dc, plot.left, plot.top, plot.right + 1, plot.bottom + 1);
    std::vector<POINT> points;
    for (size_t s = 0; s < m_series.size(); s++) {
        const Series& series = m_series[s];
        GdiHolder pen;
        pen.Attach(CreatePen(PS_SOLID, 2, SeriesColour((int)s)));
        SelectObject(dc, pen.Handle());
        points.clear();
        // From the column before the left edge, so that the line comes in from there.
        for (long long k = firstColumn - 1; k <= lastColumn; k++) {
            const ColumnSummary::Column* column = series.columns.Find(k);
            if (!column) continue;
            int x = xOf(((double)k + 0.5) * stretch);
            int first = yOf(column->first), top = yOf(column->high), bottom = yOf(column->low), last = yOf(column->last);
            points.push_back({x, first});
            if (top != first) points.push_back({x, top});
            if (bottom != top) points.push_back({x, bottom});
            if (last != bottom) points.push_back({x, last});
        }
        if (points.size() == 1) {
            // One sample: a dot.
            Ellipse(dc, points[0].x - 2, points[0].y - 2, points[0].x + 3, points[0].y + 3);
        } else if (points.size() > 1) {
            Polyline(dc, points.data(), (int)points.size());
        }
        SelectObject(dc, axisPen.Handle());
    }
    RestoreDC(dc, saved);

    // The legend: a stroke of each colour, the name and the latest value, in lines.
    std::vector<POINT> places;
    LayOutLegend(dc, plot.left, plot.right, &places);
    WideString label;
    for (size_t s = 0; s < m_series.size() && s < places.size(); s++) {
        int x = places[s].x, y = area.top + 4 + places[s].y;
        GdiHolder swatch;
        swatch.CreateSolidBrush(SeriesColour((int)s));
        RECT mark = {x, y + metrics.tmHeight / 2 - 2, x + 16, y + metrics.tmHeight / 2 + 2};
        FillRect(dc, &mark, (HBRUSH)swatch.Handle());
        LegendLabel(s, label);
        TextAt(dc, x + 20, y, label, TA_LEFT | TA_TOP);
    }
    if (m_paused || !m_note.IsEmpty()) {
        const wchar_t* note = !m_note.IsEmpty() ? m_note.Text() : L"Paused (Space resumes)";
        SetTextColor(dc, RGB(160, 0, 0));
        TextAt(dc, plot.right - 4, plot.top + 4, note, TA_RIGHT | TA_TOP);
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, oldFont);
}

void LineChart::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_window, &paint);
    RECT client;
    GetClientRect(m_window, &client);
    // Drawn off screen, then shown at once: no flicker however often it repaints.
    if (m_buffer.Width() != client.right || m_buffer.Height() != client.bottom)
        m_buffer.Create32(client.right, client.bottom);
    if (m_buffer.Dc()) {
        Draw(m_buffer.Dc(), client);
        if (GetFocus() == m_window) {
            RECT focus = client;
            InflateRect(&focus, -1, -1);
            DrawFocusRect(m_buffer.Dc(), &focus);
        }
        BitBlt(dc, 0, 0, client.right, client.bottom, m_buffer.Dc(), 0, 0, SRCCOPY);
    } else {
        Draw(dc, client);
    }
    EndPaint(m_window, &paint);
    m_changed = false;
    m_samplesAdded = false;
    m_paintedNow = m_now;
}

std::wstring LineChart::VisibleText() const
{
    std::wstring text = L"Time (s),Item,Value\r\n";
    double left = m_now - Span;
    wchar_t number[40];
    for (const Series& series : m_series) {
        std::wstring start;
        for (size_t i = series.samples.FirstAtOrAfter(left); i < series.samples.Size(); i++) {
            const SampleRing::Sample& sample = series.samples.At(i);
            if (sample.time > m_now) break;
            NumberText(sample.time, number, 40);
            text += number;
            text += L',';
            if (start.empty()) AppendCsvField(start, series.name);
            text += start;
            text += L',';
            NumberText(sample.value, number, 40);
            text += number;
            text += L"\r\n";
        }
    }
    return text;
}

int LineChart::Copy()
{
    if (!m_window) return 0;
    RECT client;
    GetClientRect(m_window, &client);
    MemoryBitmap picture;
    if (!picture.Create32(client.right, client.bottom)) return 0;
    Draw(picture.Dc(), client);
    GdiFlush();
    try {
        // A bottom-up device-independent bitmap, as every reader of the clipboard takes it.
        size_t row = (size_t)client.right * 4;
        std::vector<BYTE> dib(sizeof(BITMAPINFOHEADER) + row * (size_t)client.bottom);
        BITMAPINFOHEADER* header = (BITMAPINFOHEADER*)dib.data();
        header->biSize = sizeof(BITMAPINFOHEADER);
        header->biWidth = client.right;
        header->biHeight = client.bottom;
        header->biPlanes = 1;
        header->biBitCount = 32;
        header->biCompression = BI_RGB;
        const BYTE* pixels = (const BYTE*)picture.Bits();
        for (LONG y = 0; y < client.bottom; y++)
            memcpy(dib.data() + sizeof(BITMAPINFOHEADER) + row * (size_t)(client.bottom - 1 - y), pixels + row * (size_t)y,
                   row);
        return PutOnClipboard(m_window, VisibleText(), dib.data(), dib.size());
    } catch (...) {
        return 0;
    }
}

LRESULT CALLBACK LineChart::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LineChart* chart = (LineChart*)GetWindowLongPtrW(window, GWLP_USERDATA);
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        if (chart) {
            chart->Paint();
            return 0;
        }
        break;
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS | DLGC_WANTARROWS | (lParam && ((MSG*)lParam)->wParam == VK_SPACE ? DLGC_WANTMESSAGE : 0);
    case WM_LBUTTONDOWN:
        SetFocus(window);
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(window, nullptr, FALSE);
        break;
    case WM_SIZE:
        if (chart) chart->m_changed = true;
        InvalidateRect(window, nullptr, FALSE);
        break;
    case WM_KEYDOWN:
        if (!chart) break;
        if (wParam == VK_SPACE) {
            chart->SetPaused(!chart->m_paused);
            return 0;
        }
        if (wParam == 'C' && (GetKeyState(VK_CONTROL) & 0x8000) && !(GetKeyState(VK_MENU) & 0x8000)) {
            chart->Copy();
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == L' ') return 0;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
