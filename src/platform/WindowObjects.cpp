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
