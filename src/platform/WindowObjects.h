// Holders of window-system objects: hooks and GDI objects.
#pragma once

#include <windows.h>

class HookHolder {
public:
    HookHolder() : m_hook(nullptr) {}
    ~HookHolder() { Unhook(); }
    HookHolder(const HookHolder&) = delete;
    HookHolder& operator=(const HookHolder&) = delete;

    int Set(int type, HOOKPROC procedure, HINSTANCE module, DWORD threadId);
    void Unhook();
    HHOOK Handle() const { return m_hook; }

private:
    HHOOK m_hook;
};

// A GDI object; for a solid brush it also keeps the colour.
class GdiHolder {
public:
    GdiHolder() : m_object(nullptr), m_colour(0) {}
    ~GdiHolder() { Delete(); }
    GdiHolder(const GdiHolder&) = delete;
    GdiHolder& operator=(const GdiHolder&) = delete;

    // Takes ownership, deleting what was held before.
    void Attach(HGDIOBJ object);
    int CreateSolidBrush(COLORREF colour);
    // The answer to WM_CTLCOLOR...: the brush's colour as background colour of the
    // device context, and the brush.
    HBRUSH ControlColour(HDC dc) const;
    void Delete();
    HGDIOBJ Handle() const { return m_object; }
    COLORREF Colour() const { return m_colour; }

private:
    HGDIOBJ m_object;
    COLORREF m_colour;
};

// A memory device context with one bitmap of its own selected into it.
class MemoryBitmap {
public:
    MemoryBitmap() : m_dc(nullptr), m_bitmap(nullptr), m_original(nullptr), m_bits(nullptr), m_width(0), m_height(0) {}
    ~MemoryBitmap() { Delete(); }
    MemoryBitmap(const MemoryBitmap&) = delete;
    MemoryBitmap& operator=(const MemoryBitmap&) = delete;

    // A top-down 32-bit bitmap of width x height; the pixels start out black.
    int Create32(int width, int height);
    void Delete();
    HDC Dc() const { return m_dc; }
    void* Bits() const { return m_bits; }
    // The size it was made with; 0 when there is none.
    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    HDC m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_original;
    void* m_bits;
    int m_width;
    int m_height;
};

// Bits per pixel of what `dc` draws on: the selected bitmap of a memory device context,
// the device's otherwise; 0 when it cannot be told.
int SurfaceBitsPerPixel(HDC dc);
