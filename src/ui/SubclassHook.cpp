#include "ui/SubclassHook.h"

#include <stdio.h>

#include <vector>

namespace {

template <DWORD Tag>
LRESULT CALLBACK FamilyProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SubclassHook::Dispatch(Tag, window, message, wParam, lParam);
}

WNDPROC ProcedureOf(DWORD tag)
{
    switch (tag) {
    case SubclassTag::TreeList: return FamilyProcedure<SubclassTag::TreeList>;
    case SubclassTag::TreeEdit: return FamilyProcedure<SubclassTag::TreeEdit>;
    case SubclassTag::AutoUpdate: return FamilyProcedure<SubclassTag::AutoUpdate>;
    case SubclassTag::Link: return FamilyProcedure<SubclassTag::Link>;
    case SubclassTag::Divider: return FamilyProcedure<SubclassTag::Divider>;
    case SubclassTag::SysLink: return FamilyProcedure<SubclassTag::SysLink>;
    case SubclassTag::StyledLabel: return FamilyProcedure<SubclassTag::StyledLabel>;
    default: return nullptr;
    }
}

// Attached hooks by window and tag. Looking a hook up here instead of in the window's
// property keeps every message of a subclassed window cheap: on some systems each property
// read is a round trip to another process.
class HookTable {
public:
    HookTable() { InitializeCriticalSection(&m_lock); }
    void Add(HWND window, DWORD tag, SubclassHook* hook)
    {
        EnterCriticalSection(&m_lock);
        Remove(window, tag, false);
        Entry entry = {window, tag, hook};
        m_entries.push_back(entry);
        LeaveCriticalSection(&m_lock);
    }
    void Remove(HWND window, DWORD tag, bool lock = true)
    {
        if (lock) EnterCriticalSection(&m_lock);
        for (size_t i = 0; i < m_entries.size(); i++)
            if (m_entries[i].window == window && m_entries[i].tag == tag) {
                m_entries.erase(m_entries.begin() + (ptrdiff_t)i);
                break;
            }
        if (lock) LeaveCriticalSection(&m_lock);
    }
    SubclassHook* Find(HWND window, DWORD tag)
    {
        SubclassHook* hook = nullptr;
        EnterCriticalSection(&m_lock);
        for (const Entry& entry : m_entries)
            if (entry.window == window && entry.tag == tag) {
                hook = entry.hook;
                break;
            }
        LeaveCriticalSection(&m_lock);
        return hook;
    }

private:
    struct Entry {
        HWND window;
        DWORD tag;
        SubclassHook* hook;
    };
    CRITICAL_SECTION m_lock;
    std::vector<Entry> m_entries;
};

HookTable& Hooks()
{
    static HookTable table;
    return table;
}

}  // namespace

SubclassHook::SubclassHook(DWORD tag)
    : m_tag(tag), m_previous(nullptr), m_context(nullptr), m_callback(nullptr), m_window(nullptr)
{
}

void SubclassHook::PropertyName(DWORD tag, wchar_t* name, int capacity)
{
    _snwprintf(name, (size_t)capacity, L"_C_SubClassing_Property_%08X", (unsigned)tag);
    name[capacity - 1] = L'\0';
}

int SubclassHook::Attach(HWND window, SubclassCallback callback, void* context)
{
    WNDPROC procedure = ProcedureOf(m_tag);
    if (!procedure || !window || m_previous) return 0;
    wchar_t name[MAX_PATH];
    PropertyName(m_tag, name, MAX_PATH);
    if (GetPropW(window, name)) return 0;
    m_window = window;
    m_callback = callback;
    m_context = context;
    // The hook is findable before the new procedure can receive its first message.
    if (!SetPropW(window, name, (HANDLE)this)) return 0;
    Hooks().Add(window, m_tag, this);
    m_previous = (WNDPROC)SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)procedure);
    if (!m_previous) {
        Hooks().Remove(window, m_tag);
        RemovePropW(window, name);
        m_window = nullptr;
        return 0;
    }
    return 1;
}

int SubclassHook::Detach()
{
    if (!m_previous) return 0;
    wchar_t name[MAX_PATH];
    PropertyName(m_tag, name, MAX_PATH);
    if (IsWindow(m_window)) {
        SetWindowLongPtrW(m_window, GWLP_WNDPROC, (LONG_PTR)m_previous);
        RemovePropW(m_window, name);
    }
    Hooks().Remove(m_window, m_tag);
    m_previous = nullptr;
    m_window = nullptr;
    return 1;
}

LRESULT SubclassHook::CallPrevious(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const
{
    return m_previous ? CallWindowProcW(m_previous, window, message, wParam, lParam) : 0;
}

LRESULT SubclassHook::Dispatch(DWORD tag, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    SubclassHook* hook = Hooks().Find(window, tag);
    if (!hook) return 0;
    LRESULT result = 0;
    if (hook->m_callback && hook->m_callback(window, message, wParam, lParam, &result, hook->m_context) == 1)
        return result;
    return hook->CallPrevious(window, message, wParam, lParam);
}
