#include "common/WideString.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// Capacities beyond this are refused before any size arithmetic can overflow.
const int MaxCapacity = 0x3FFFFFFF;

wchar_t EmptyText[1] = {L'\0'};

int TextLength(const wchar_t* text, int count)
{
    if (!text) return 0;
    if (count >= 0) return count;
    size_t n = wcslen(text);
    return n > (size_t)MaxCapacity ? -1 : (int)n;
}

wchar_t UpperChar(wchar_t c)
{
    return (wchar_t)(ULONG_PTR)CharUpperW((LPWSTR)(ULONG_PTR)c);
}

}  // namespace

WideString::WideString()
    : m_buffer(nullptr), m_capacity(0), m_length(1), m_narrow(nullptr), m_narrowCodePage(0), m_bstr(nullptr)
{
    OutOfMemory();
}

WideString::WideString(const wchar_t* text) : WideString()
{
    Assign(text);
}

WideString::WideString(const WideString& other) : WideString()
{
    Assign(other);
}

WideString::WideString(WideString&& other) noexcept
    : m_buffer(other.m_buffer), m_capacity(other.m_capacity), m_length(other.m_length),
      m_narrow(nullptr), m_narrowCodePage(0), m_bstr(nullptr)
{
    other.m_buffer = nullptr;
    other.m_capacity = 0;
    other.m_length = 1;
    other.Changed();
    other.OutOfMemory();
}

WideString& WideString::operator=(const WideString& other)
{
    if (this != &other) Assign(other);
    return *this;
}

WideString& WideString::operator=(WideString&& other) noexcept
{
    if (this != &other) {
        Changed();
        if (m_buffer != EmptyText) free(m_buffer);
        m_buffer = other.m_buffer;
        m_capacity = other.m_capacity;
        m_length = other.m_length;
        other.m_buffer = nullptr;
        other.m_capacity = 0;
        other.m_length = 1;
        other.Changed();
        other.OutOfMemory();
    }
    return *this;
}

WideString& WideString::operator=(const wchar_t* text)
{
    Assign(text);
    return *this;
}

WideString::~WideString()
{
    Changed();
    if (m_buffer != EmptyText) free(m_buffer);
}

void WideString::Changed()
{
    free(m_narrow);
    m_narrow = nullptr;
    m_narrowCodePage = 0;
    if (m_bstr) {
        SysFreeString(m_bstr);
        m_bstr = nullptr;
    }
}

// The string becomes empty with the default capacity. Should even that fail, it points
// at a shared empty text with capacity 0 so that reading it stays safe.
void WideString::OutOfMemory()
{
    Changed();
    if (m_buffer != EmptyText) free(m_buffer);
    m_buffer = (wchar_t*)malloc(DefaultCapacity * sizeof(wchar_t));
    if (m_buffer) {
        m_capacity = DefaultCapacity;
        m_buffer[0] = L'\0';
    } else {
        m_buffer = EmptyText;
        m_capacity = 0;
    }
    m_length = 1;
}

int WideString::Grow(int needed, int newCapacity)
{
    if (needed <= m_capacity) return 1;
    if (needed > MaxCapacity || newCapacity > MaxCapacity || newCapacity < needed) {
        OutOfMemory();
        return 0;
    }
    wchar_t* grown;
    if (m_buffer == EmptyText) {
        grown = (wchar_t*)malloc((size_t)newCapacity * sizeof(wchar_t));
        if (grown) grown[0] = L'\0';
    } else {
        grown = (wchar_t*)realloc(m_buffer, (size_t)newCapacity * sizeof(wchar_t));
    }
    if (!grown) {
        OutOfMemory();
        return 0;
    }
    m_buffer = grown;
    m_capacity = newCapacity;
    return 1;
}

int WideString::Reserve(int capacity)
{
    if (capacity < 0) capacity = MaxCapacity + 1;
    return Grow(capacity, capacity);
}

wchar_t* WideString::Buffer(int capacity)
{
    if (!Reserve(capacity < 1 ? 1 : capacity)) return nullptr;
    Changed();
    return m_buffer;
}

void WideString::SyncLength()
{
    Changed();
    if (m_capacity == 0) {
        m_length = 1;
        return;
    }
    m_buffer[m_capacity - 1] = L'\0';
    m_length = (int)wcslen(m_buffer) + 1;
}

void WideString::Clear()
{
    Changed();
    if (m_capacity > 0) m_buffer[0] = L'\0';
    m_length = 1;
}

int WideString::Assign(const wchar_t* text, int count)
{
    int n = TextLength(text, count);
    if (n < 0) {
        OutOfMemory();
        return 0;
    }
    if (text && text >= m_buffer && text < m_buffer + m_capacity && m_buffer != EmptyText) {
        // Assigning a piece of this very string.
        WideString copy;
        if (!copy.Assign(text, n)) {
            OutOfMemory();
            return 0;
        }
        *this = static_cast<WideString&&>(copy);
        return 1;
    }
    Changed();
    m_length = 1;
    if (m_capacity > 0) m_buffer[0] = L'\0';
    return Append(text, n);
}

int WideString::AssignNarrow(const char* text, UINT codePage, int count)
{
    Clear();
    if (!text) return 1;
    if (count < 0) {
        size_t n = strlen(text);
        if (n > (size_t)MaxCapacity) {
            OutOfMemory();
            return 0;
        }
        count = (int)n;
    }
    if (count == 0) return 1;
    UINT pages[2] = {codePage, CP_ACP};
    for (UINT page : pages) {
        int needed = MultiByteToWideChar(page, 0, text, count, nullptr, 0);
        if (needed <= 0) continue;
        if (!Reserve(needed + 1)) return 0;
        int written = MultiByteToWideChar(page, 0, text, count, m_buffer, needed);
        if (written <= 0) continue;
        m_buffer[written] = L'\0';
        m_length = written + 1;
        return 1;
    }
    Clear();
    return 0;
}

int WideString::Append(const wchar_t* text, int count)
{
    int n = TextLength(text, count);
    if (n < 0) {
        OutOfMemory();
        return 0;
    }
    if (n == 0) return 1;
    if (n > MaxCapacity - m_length - 20) {
        OutOfMemory();
        return 0;
    }
    int needed = m_length + n;
    if (needed > m_capacity) {
        // The text may live inside this string's own buffer.
        ptrdiff_t inside = -1;
        if (text >= m_buffer && text < m_buffer + m_capacity && m_buffer != EmptyText) inside = text - m_buffer;
        if (!Grow(needed, needed + 20)) return 0;
        if (inside >= 0) text = m_buffer + inside;
    }
    Changed();
    memmove(m_buffer + m_length - 1, text, (size_t)n * sizeof(wchar_t));
    m_length = needed;
    m_buffer[m_length - 1] = L'\0';
    return 1;
}

int WideString::Append(wchar_t c)
{
    if (c == L'\0') return 1;
    if (m_length + 1 > m_capacity && !Grow(m_length + 1, m_length + 21)) return 0;
    Changed();
    m_buffer[m_length - 1] = c;
    m_buffer[m_length] = L'\0';
    m_length++;
    return 1;
}

int WideString::AppendUnlessEndsWith(wchar_t c)
{
    if (EndsWith(c)) return 1;
    return Append(c);
}

int WideString::RemoveTrailing()
{
    if (IsEmpty()) return 0;
    Changed();
    m_length--;
    m_buffer[m_length - 1] = L'\0';
    return 1;
}

int WideString::Insert(int index, const wchar_t* text, int count)
{
    if (index < 0 || index > Length()) return 0;
    WideString tail(m_buffer + index);
    int n = TextLength(text, count);
    if (n < 0) {
        OutOfMemory();
        return 0;
    }
    WideString piece;
    if (!piece.Assign(text, n)) return 0;
    if (!Truncate(index)) return 0;
    return Append(piece) && Append(tail);
}

int WideString::Delete(int index, int count)
{
    if (index < 0 || count < 0 || index > Length()) return 0;
    if (count > Length() - index) count = Length() - index;
    if (count == 0) return 1;
    Changed();
    memmove(m_buffer + index, m_buffer + index + count, (size_t)(m_length - index - count) * sizeof(wchar_t));
    m_length -= count;
    return 1;
}

int WideString::Truncate(int length)
{
    if (length < 0) return 0;
    if (length >= Length()) return 1;
    Changed();
    m_length = length + 1;
    m_buffer[length] = L'\0';
    return 1;
}

int WideString::FormatV(const wchar_t* format, va_list args)
{
    Clear();
    if (!format) return 1;
    for (;;) {
        if (m_capacity > 0) {
            va_list copy;
            va_copy(copy, args);
            int written = _vsnwprintf(m_buffer, (size_t)m_capacity, format, copy);
            va_end(copy);
            if (written >= 0 && written < m_capacity) {
                m_buffer[written] = L'\0';
                m_length = written + 1;
                return 1;
            }
        }
        int next = NextFormatCapacity(m_capacity);
        if (!next) {
            Clear();
            return 0;
        }
        if (!Grow(next, next)) return 0;
    }
}

int WideString::NextFormatCapacity(int capacity)
{
    int next = capacity <= 10240 ? capacity + 260 : capacity + 10240;
    return next > FormatLimit + 1 ? 0 : next;
}

int WideString::LongestFormattedFromEmpty()
{
    static const int longest = [] {
        int capacity = 0;
        for (int next = NextFormatCapacity(0); next; next = NextFormatCapacity(next)) capacity = next;
        return capacity - 1;
    }();
    return longest;
}

int WideString::Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = FormatV(format, args);
    va_end(args);
    return result;
}

int WideString::AppendFormat(const wchar_t* format, ...)
{
    WideString piece;
    va_list args;
    va_start(args, format);
    int result = piece.FormatV(format, args);
    va_end(args);
    return result && Append(piece);
}

int WideString::Compare(const wchar_t* text) const
{
    if (!text) return IsEmpty() ? 0 : 1;
    return wcscmp(m_buffer, text);
}

int WideString::CompareNoCase(const wchar_t* text) const
{
    if (!text) return IsEmpty() ? 0 : 1;
    return _wcsicmp(m_buffer, text);
}

int WideString::CompareNoCaseN(const wchar_t* text, int count) const
{
    if (!text) return IsEmpty() ? 0 : 1;
    if (count <= 0) return 0;
    return _wcsnicmp(m_buffer, text, (size_t)count);
}

int WideString::Find(wchar_t c, int from) const
{
    if (from < 0) from = 0;
    for (int i = from; i < Length(); i++)
        if (m_buffer[i] == c) return i;
    return -1;
}

int WideString::Find(const wchar_t* text, int from) const
{
    if (!text || !*text || from < 0 || from > Length()) return -1;
    const wchar_t* hit = wcsstr(m_buffer + from, text);
    return hit ? (int)(hit - m_buffer) : -1;
}

int WideString::FindNoCase(const wchar_t* text, int from) const
{
    if (!text || !*text || from < 0) return -1;
    int n = (int)wcslen(text);
    for (int i = from; i + n <= Length(); i++) {
        int j = 0;
        while (j < n && UpperChar(m_buffer[i + j]) == UpperChar(text[j])) j++;
        if (j == n) return i;
    }
    return -1;
}

int WideString::FindLast(wchar_t c) const
{
    for (int i = Length() - 1; i >= 0; i--)
        if (m_buffer[i] == c) return i;
    return -1;
}

int WideString::ReplaceAll(const wchar_t* what, const wchar_t* with)
{
    if (!what || !*what) return 0;
    if (!with) with = L"";
    int whatLength = (int)wcslen(what);
    int withLength = (int)wcslen(with);
    if (Find(what, 0) < 0) return 1;  // nothing to replace: no copy
    bool selfRecreating = wcsstr(with, what) != nullptr;
    WideString result(*this);
    if (result.Length() != Length()) return 0;
    int position = result.Find(what, 0);
    while (position >= 0) {
        if (withLength > whatLength && result.Length() + (withLength - whatLength) > FormatLimit) return 0;
        if (!result.Delete(position, whatLength) || !result.Insert(position, with, withLength)) return 0;
        // Nothing before the replacement matched, so a new occurrence can only begin
        // within the pattern's length before it: resuming there finds exactly what a
        // search from the start would find.
        int resume = selfRecreating ? position + withLength : position - whatLength + 1;
        position = result.Find(what, resume < 0 ? 0 : resume);
    }
    *this = static_cast<WideString&&>(result);
    return 1;
}

int WideString::Replace(wchar_t what, wchar_t with)
{
    if (what == L'\0') return 0;
    Changed();
    for (int i = 0; i < Length(); i++)
        if (m_buffer[i] == what) m_buffer[i] = with;
    if (with == L'\0') SyncLength();
    return 1;
}

int WideString::Trim()
{
    int length = Length();
    if (length == 0) return 1;
    WORD* types = (WORD*)malloc((size_t)length * sizeof(WORD));
    if (!types) return 0;
    if (!GetStringTypeExW(GetThreadLocale(), CT_CTYPE1, m_buffer, length, types)) {
        free(types);
        return 0;
    }
    int end = length;
    while (end > 0 && (types[end - 1] & C1_SPACE)) end--;
    int start = 0;
    while (start < end && (types[start] & C1_SPACE)) start++;
    free(types);
    Changed();
    Truncate(end);
    return Delete(0, start);
}

int WideString::NextLine(int& position, WideString& line) const
{
    line.Clear();
    if (position < 0 || position >= Length()) return 0;
    int end = Find(L'\n', position);
    int next = end < 0 ? Length() : end + 1;
    if (end < 0) end = Length();
    int stop = end;
    if (stop > position && m_buffer[stop - 1] == L'\r' && stop - 1 >= position && end < Length()) stop--;
    if (!line.Assign(m_buffer + position, stop - position)) return 0;
    position = next;
    return 1;
}

int WideString::NextToken(int& position, const wchar_t* separators, WideString& token) const
{
    token.Clear();
    if (!separators) separators = L"";
    if (position < 0) return 0;
    int start = position;
    while (start < Length() && wcschr(separators, m_buffer[start])) start++;
    if (start >= Length()) {
        position = Length();
        return 0;
    }
    int end = start;
    while (end < Length() && !wcschr(separators, m_buffer[end])) end++;
    if (!token.Assign(m_buffer + start, end - start)) return 0;
    position = end < Length() ? end + 1 : end;
    return 1;
}

const char* WideString::Narrow(UINT codePage)
{
    if (m_narrow && m_narrowCodePage == codePage) return m_narrow;
    free(m_narrow);
    m_narrow = nullptr;
    int needed = WideCharToMultiByte(codePage, 0, m_buffer, m_length, nullptr, 0, nullptr, nullptr);
    if (needed > 0) {
        m_narrow = (char*)malloc((size_t)needed);
        if (m_narrow && WideCharToMultiByte(codePage, 0, m_buffer, m_length, m_narrow, needed, nullptr, nullptr) <= 0) {
            free(m_narrow);
            m_narrow = nullptr;
        }
    }
    if (!m_narrow) return "";
    m_narrowCodePage = codePage;
    return m_narrow;
}

BSTR WideString::ToBstr()
{
    if (!m_bstr) m_bstr = DetachBstr();
    return m_bstr;
}

BSTR WideString::DetachBstr() const
{
    return SysAllocStringLen(m_buffer, (UINT)Length());
}

const wchar_t* WideString::FileName() const
{
    for (int i = Length() - 1; i >= 0; i--)
        if (m_buffer[i] == L'\\' || m_buffer[i] == L'/') return m_buffer + i + 1;
    return m_buffer;
}

int WideString::ExtensionDot() const
{
    for (int i = Length() - 1; i >= 0; i--) {
        wchar_t c = m_buffer[i];
        if (c == L'\\' || c == L'/') return -1;
        // A dot followed by a blank ends a sentence, not a name.
        if (c == L'.' && m_buffer[i + 1] != L' ') return i;
    }
    return -1;
}

int WideString::Extension(WideString& extension) const
{
    extension.Clear();
    int dot = ExtensionDot();
    if (dot < 0) return 0;
    int end = Find(L'?', dot);
    if (end < 0) end = Length();
    return extension.Assign(m_buffer + dot, end - dot);
}

int WideString::CutShortExtension()
{
    int dot = ExtensionDot();
    if (dot < 0 || dot < Length() - 4) return 0;
    return Truncate(dot);
}

int WideString::CutLastElement()
{
    int i = Length() - 1;
    while (i >= 0 && m_buffer[i] != L'\\' && m_buffer[i] != L'/') i--;
    return Truncate(i + 1);
}
