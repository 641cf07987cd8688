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

// The hooks by window and tag, each with the procedure it passes messages on to.
//
// A hook is found here, not through the window's property: on some systems each property
// read is a round trip to another process, and a subclassed window would pay it for every
// message. The property is still set while a hook is attached, so that a second hook of
// the same tag is refused; a hook whose property a foreign party removes keeps working.
//
// The table also keeps the chain whole when hooks of one window are detached out of
// order: a hook that is not the window's procedure any more hands its previous procedure
// to the hook above it, or, when the one above is not ours, stays as a plain pass-through
// until the window is destroyed.
class HookTable {
public:
    struct Entry {
        HWND window;
        DWORD tag;
        SubclassHook* hook;  // null: a pass-through left by an out-of-order detach
        WNDPROC previous;
    };

    HookTable() { InitializeCriticalSection(&m_lock); }
    // Refused while a pass-through of that window and tag remains.
    bool Add(HWND window, DWORD tag, SubclassHook* hook, WNDPROC previous)
    {
        EnterCriticalSection(&m_lock);
        bool added = IndexOf(window, tag) < 0;
        if (added) m_entries.push_back(Entry{window, tag, hook, previous});
        LeaveCriticalSection(&m_lock);
        return added;
    }
    void SetPrevious(HWND window, DWORD tag, WNDPROC previous)
    {
        EnterCriticalSection(&m_lock);
        int i = IndexOf(window, tag);
        if (i >= 0) m_entries[(size_t)i].previous = previous;
        LeaveCriticalSection(&m_lock);
    }
    void Remove(HWND window, DWORD tag)
    {
        EnterCriticalSection(&m_lock);
        int i = IndexOf(window, tag);
        if (i >= 0) m_entries.erase(m_entries.begin() + i);
        LeaveCriticalSection(&m_lock);
    }
    bool Find(HWND window, DWORD tag, Entry& found)
    {
        EnterCriticalSection(&m_lock);
        int i = IndexOf(window, tag);
        if (i >= 0) found = m_entries[(size_t)i];
        LeaveCriticalSection(&m_lock);
        return i >= 0;
    }
    // Takes a hook out of its window's chain.
    void Unlink(HWND window, DWORD tag, WNDPROC own)
    {
        EnterCriticalSection(&m_lock);
        int i = IndexOf(window, tag);
        if (i >= 0) {
            WNDPROC previous = m_entries[(size_t)i].previous;
            bool alive = IsWindow(window) != FALSE;
            bool done = !alive;
            if (alive && (WNDPROC)GetWindowLongPtrW(window, GWLP_WNDPROC) == own) {
                SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)previous);
                done = true;
            }
            for (size_t j = 0; j < m_entries.size() && !done; j++)
                if (m_entries[j].window == window && m_entries[j].previous == own) {
                    m_entries[j].previous = previous;
                    done = true;
                }
            if (done)
                m_entries.erase(m_entries.begin() + i);
            else
                m_entries[(size_t)i].hook = nullptr;
        }
        LeaveCriticalSection(&m_lock);
    }

private:
    int IndexOf(HWND window, DWORD tag) const
    {
        for (size_t i = 0; i < m_entries.size(); i++)
            if (m_entries[i].window == window && m_entries[i].tag == tag) return (int)i;
        return -1;
    }
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
    : m_tag(tag), m_attached(false), m_context(nullptr), m_callback(nullptr), m_window(nullptr)
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
    if (!procedure || !window || m_attached) return 0;
    wchar_t name[MAX_PATH];
    PropertyName(m_tag, name, MAX_PATH);
    if (GetPropW(window, name)) return 0;
    m_window = window;
    m_callback = callback;
    m_context = context;
    // The hook is findable before the new procedure can receive its first message; its
    // previous procedure is filled in as soon as it is known.
    if (!SetPropW(window, name, (HANDLE)this)) return 0;
    if (!Hooks().Add(window, m_tag, this, nullptr)) {
        RemovePropW(window, name);
        m_window = nullptr;
        return 0;
    }
    WNDPROC previous = (WNDPROC)SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)procedure);
    if (!previous) {
        Hooks().Remove(window, m_tag);
        RemovePropW(window, name);
        m_window = nullptr;
        return 0;
    }
    Hooks().SetPrevious(window, m_tag, previous);
    m_attached = true;
    return 1;
}

int SubclassHook::Detach()
{
    if (!m_attached) return 0;
    wchar_t name[MAX_PATH];
    PropertyName(m_tag, name, MAX_PATH);
    if (IsWindow(m_window)) RemovePropW(m_window, name);
    Hooks().Unlink(m_window, m_tag, ProcedureOf(m_tag));
    m_attached = false;
    m_window = nullptr;
    return 1;
}

LRESULT SubclassHook::Dispatch(DWORD tag, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    HookTable::Entry entry;
    if (!Hooks().Find(window, tag, entry)) return DefWindowProcW(window, message, wParam, lParam);
    if (!entry.hook) {
        // A pass-through: it lives as long as the window.
        if (message == WM_NCDESTROY) Hooks().Remove(window, tag);
        return entry.previous ? CallWindowProcW(entry.previous, window, message, wParam, lParam) : 0;
    }
    LRESULT result = 0;
    SubclassHook* hook = entry.hook;
    if (hook->m_callback && hook->m_callback(window, message, wParam, lParam, &result, hook->m_context) == 1)
        return result;
    // The callback may have detached hooks of this window: the chain is asked again, and a
    // hook gone meanwhile still passes this message on where it would have.
    Hooks().Find(window, tag, entry);
    return entry.previous ? CallWindowProcW(entry.previous, window, message, wParam, lParam) : 0;
}
