// A live line chart: named series of numbers over the last minute, a y axis that scales
// itself with round ticks, a time axis in seconds and a legend with each series' latest
// value. It knows nothing of where its numbers come from: its owner hands it samples and
// tells it the time.
#pragma once

#include <windows.h>

#include <math.h>

#include <string>
#include <vector>

#include "common/WideString.h"
#include "platform/WindowObjects.h"

// Round marks for an axis from `low` to `high`: a step of 1, 2 or 5 times a power of ten,
// the first mark at or below `low` and the last at or above `high`, at most `most` marks
// (at least 2). A range without width gets one around its value.
struct AxisTicks {
    double first;
    double step;
    int count;
};
AxisTicks RoundTicks(double low, double high, int most);
// The text of a mark: as many decimals as the step needs, "-0" written as "0".
void TickText(double value, double step, wchar_t* text, int capacity);

// The samples of one series, oldest first; the oldest go when it is full.
class SampleRing {
public:
    struct Sample {
        double time;
        double value;
    };
    explicit SampleRing(size_t limit = 120000) : m_head(0), m_count(0), m_limit(limit ? limit : 1) {}

    void Add(double time, double value);
    // Forgets the samples older than `time`.
    void DropBefore(double time);
    size_t Size() const { return m_count; }
    const Sample& At(size_t index) const { return m_items[(m_head + index) % m_items.size()]; }
    // The first index whose time is at or after `time` (Size() when none is).
    size_t FirstAtOrAfter(double time) const;

private:
    std::vector<Sample> m_items;
    size_t m_head;
    size_t m_count;
    size_t m_limit;
};

// The samples of a series summed up per stretch of time, one pixel column's worth: the
// first, lowest, highest and last value of each of the last `count` stretches. A chart
// then draws a minute of a fast sensor with a few points per column, not every sample.
class ColumnSummary {
public:
    struct Column {
        long long index;  // which stretch: floor(time / width)
        double first, low, high, last;
    };
    ColumnSummary() : m_width(0) {}
    // Forgets everything; stretches of `width` seconds, `count` of them kept.
    void Reset(double width, size_t count);
    double Width() const { return m_width; }
    size_t Count() const { return m_columns.size(); }
    // Samples come in time order.
    void Add(double time, double value);
    long long IndexOf(double time) const { return (long long)floor(time / m_width); }
    // The stretch `index`, or null when no sample fell into it or it is no longer kept.
    const Column* Find(long long index) const;

private:
    std::vector<Column> m_columns;
    double m_width;
};

class LineChart {
public:
    // The window class of the control, for templates: CONTROL "", id, "OrvaneLineChart", ...
    static const wchar_t ClassName[];
    // Seconds the chart shows, up to its right edge.
    static const double Span;

    static bool Register(HINSTANCE instance);

    LineChart();
    ~LineChart();
    LineChart(const LineChart&) = delete;
    LineChart& operator=(const LineChart&) = delete;

    // Takes over a window of the class. Answers 1, or 0 when it is none.
    int Attach(HWND window);
    void Detach();
    HWND Window() const { return m_window; }

    // Adds a series and answers its index; it takes the next colour.
    int AddSeries(const wchar_t* name);
    int SeriesCount() const { return (int)m_series.size(); }
    COLORREF SeriesColour(int series) const;
    // A sample of a series at `time` (seconds, on the owner's clock).
    void AddSample(int series, double time, double value);
    // Moves the right edge to `time` and drops what falls out of view. Ignored while paused.
    void SetNow(double time);
    // A short note over the chart ("Not connected"); empty for none. The chart then holds still.
    void SetNote(const wchar_t* note);
    void SetPaused(bool paused);
    bool Paused() const { return m_paused; }
    // Repaints when what it would draw changed since the last paint: the time moved by a
    // pixel, a note or a new series came, or samples came and a tenth of a second passed.
    void Refresh();

    // The visible samples as "Time (s),Item,Value" lines.
    std::wstring VisibleText() const;
    // Puts the chart as a bitmap and its visible samples as text on the clipboard.
    int Copy();
    // Draws the whole chart into `dc` over `area`.
    void Draw(HDC dc, const RECT& area) const;

private:
    struct Series {
        WideString name;
        SampleRing samples;
        ColumnSummary columns;  // made again when the chart's width changes
        double latest;
        bool any;
    };
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    // Where the plot area lies in a client rectangle, its legend height included.
    RECT PlotArea(HDC dc, const RECT& area, int& legendHeight) const;
    // The legend's entries between `left` and `right`: where each starts (x, and y from the
    // legend's top) when `places` is given; answers the number of lines.
    int LayOutLegend(HDC dc, int left, int right, std::vector<POINT>* places) const;
    void LegendLabel(size_t series, WideString& label) const;

    HWND m_window;
    // Mutable: drawing sums the samples up anew for a width it has not drawn before.
    mutable std::vector<Series> m_series;
    MemoryBitmap m_buffer;  // kept from paint to paint, made again for a new size
    double m_now;
    double m_paintedNow;
    bool m_changed;       // what is drawn changed beyond new samples
    bool m_samplesAdded;  // samples came since the last paint
    bool m_paused;
    WideString m_note;
};
