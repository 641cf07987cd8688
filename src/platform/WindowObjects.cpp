#include "platform/WindowObjects.h"

int HookHolder::Set(int type, HOOKPROC procedure, HINSTANCE module, DWORD threadId)
{
    Unhook();
    m_hook = SetWindowsHookExW(type, procedure, module, threadId);
    return m_hook != nullptr;
}

void HookHolder::Unhook()
{
    if (m_hook) {
        UnhookWindowsHookEx(m_hook);
        m_hook = nullptr;
    }
}

void GdiHolder::Attach(HGDIOBJ object)
{
    if (object == m_object) return;
    Delete();
    m_object = object;
}

int GdiHolder::CreateSolidBrush(COLORREF colour)
{
    Delete();
    m_object = ::CreateSolidBrush(colour);
    m_colour = colour;
    return m_object != nullptr;
}

HBRUSH GdiHolder::ControlColour(HDC dc) const
{
    if (dc) SetBkColor(dc, m_colour);
    return (HBRUSH)m_object;
}

void GdiHolder::Delete()
{
    if (m_object) {
        DeleteObject(m_object);
        m_object = nullptr;
    }
}

int MemoryBitmap::Create32(int width, int height)
{
    Delete();
    if (width <= 0 || height <= 0) return 0;
    BITMAPINFO info;
    ZeroMemory(&info, sizeof(info));
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    m_dc = CreateCompatibleDC(nullptr);
    if (m_dc) m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
    if (m_bitmap) m_original = SelectObject(m_dc, m_bitmap);
    if (!m_original || m_original == HGDI_ERROR) {
        m_original = nullptr;
        Delete();
        return 0;
    }
    m_width = width;
    m_height = height;
    return 1;
}

void MemoryBitmap::Delete()
{
    if (m_dc && m_original) SelectObject(m_dc, m_original);
    if (m_bitmap) DeleteObject(m_bitmap);
    if (m_dc) DeleteDC(m_dc);
    m_dc = nullptr;
    m_bitmap = nullptr;
    m_original = nullptr;
    m_width = 0;
    m_height = 0;
    m_bits = nullptr;
}

int SurfaceBitsPerPixel(HDC dc)
{
    if (!dc) return 0;
    if (GetObjectType(dc) == OBJ_MEMDC) {
        BITMAP bitmap;
        HGDIOBJ selected = GetCurrentObject(dc, OBJ_BITMAP);
        if (!selected || GetObjectW(selected, sizeof(bitmap), &bitmap) != (int)sizeof(bitmap)) return 0;
        return bitmap.bmBitsPixel * bitmap.bmPlanes;
    }
    return GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
}
