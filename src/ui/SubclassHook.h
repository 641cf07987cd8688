// Takes over the window procedure of an existing window and routes its messages to a
// callback; the previous procedure handles what the callback leaves. The window carries
// the property "_C_SubClassing_Property_<tag>" while it is hooked, so that a second hook
// of the same tag is refused.
#pragma once

#include <windows.h>

namespace SubclassTag {
const DWORD TreeList = 0x74726D63;    // "trmc"
const DWORD TreeEdit = 0x74726565;    // "tree"
const DWORD AutoUpdate = 0x61757570;  // "auup"
const DWORD Link = 0x6C696E6B;        // "link"
const DWORD Divider = 0x64697669;     // "divi"
const DWORD SysLink = 0x7379736C;     // "sysl"
const DWORD StyledLabel = 0x73746178; // "stax"
}  // namespace SubclassTag

// Answers 1 when it handled the message and wrote *result.
typedef int (*SubclassCallback)(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                                void* context);

class SubclassHook {
public:
    explicit SubclassHook(DWORD tag);
    ~SubclassHook() { Detach(); }
    SubclassHook(const SubclassHook&) = delete;
    SubclassHook& operator=(const SubclassHook&) = delete;

    // 0 when the window already carries a hook of this tag (or the tag is unknown).
    int Attach(HWND window, SubclassCallback callback, void* context);
    // 1 when the hook was attached. Hooks of one window may be detached in any order: the
    // window's chain of procedures stays whole.
    int Detach();
    bool Attached() const { return m_attached; }
    HWND Window() const { return m_window; }

    // The property name of a tag's hooks: "_C_SubClassing_Property_%08X".
    static void PropertyName(DWORD tag, wchar_t* name, int capacity);

    // Used by the family window procedures.
    static LRESULT Dispatch(DWORD tag, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    DWORD m_tag;
    bool m_attached;
    void* m_context;
    SubclassCallback m_callback;
    HWND m_window;
};
