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
