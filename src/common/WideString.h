// Growable UTF-16 string of the framework.
//
// Every operation that can fail answers 1 or 0. When memory cannot be had the
// string becomes empty with the default capacity and the operation answers 0;
// nothing throws.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <stdarg.h>

class WideString {
public:
    static const int DefaultCapacity = 260;
    // Formatting gives up beyond this many characters.
    static const int FormatLimit = 3145727;

    WideString();
    explicit WideString(const wchar_t* text);
    WideString(const WideString& other);
    WideString(WideString&& other) noexcept;
    WideString& operator=(const WideString& other);
    WideString& operator=(WideString&& other) noexcept;
    WideString& operator=(const wchar_t* text);
    ~WideString();

    const wchar_t* Text() const { return m_buffer; }
    operator const wchar_t*() const { return m_buffer; }
    // Characters without the terminating zero.
    int Length() const { return m_length - 1; }
    // Characters including the terminating zero (1 for an empty string).
    int StoredLength() const { return m_length; }
    int Capacity() const { return m_capacity; }
    bool IsEmpty() const { return m_length <= 1; }
    wchar_t At(int index) const { return index >= 0 && index < Length() ? m_buffer[index] : L'\0'; }

    // Makes room for `capacity` characters (terminating zero included).
    int Reserve(int capacity);
    // Writable buffer of at least `capacity` characters; call SyncLength after writing.
    wchar_t* Buffer(int capacity);
    // Takes the length from the terminating zero after the buffer was written directly.
    void SyncLength();

    void Clear();
    int Assign(const wchar_t* text, int count = -1);
    int Assign(const WideString& other) { return Assign(other.m_buffer, other.Length()); }
    // Narrow text in a code page; when that code page fails the ANSI code page is tried.
    int AssignNarrow(const char* text, UINT codePage = CP_ACP, int count = -1);
    int AssignUtf8(const char* text, int count = -1) { return AssignNarrow(text, CP_UTF8, count); }

    int Append(const wchar_t* text, int count = -1);
    int Append(const WideString& other) { return Append(other.m_buffer, other.Length()); }
    int Append(wchar_t c);
    int AppendUnlessEndsWith(wchar_t c);
    int RemoveTrailing();
    int Insert(int index, const wchar_t* text, int count = -1);
    int Delete(int index, int count);
    int Truncate(int length);

    int Format(const wchar_t* format, ...);
    int FormatV(const wchar_t* format, va_list args);
    // The longest text that formatting into an empty string (no capacity yet) gives; a
    // longer one makes it answer 0.
    static int LongestFormattedFromEmpty();
    int AppendFormat(const wchar_t* format, ...);

    // Comparisons answer like wcscmp: 0 when equal. A null argument equals only the empty string.
    int Compare(const wchar_t* text) const;
    int CompareNoCase(const wchar_t* text) const;
    int CompareNoCaseN(const wchar_t* text, int count) const;
    bool Equals(const wchar_t* text) const { return Compare(text) == 0; }
    bool EqualsNoCase(const wchar_t* text) const { return CompareNoCase(text) == 0; }
    bool EndsWith(wchar_t c) const { return !IsEmpty() && m_buffer[Length() - 1] == c; }

    // Positions are character indexes; -1 when absent.
    int Find(wchar_t c, int from = 0) const;
    int Find(const wchar_t* text, int from = 0) const;
    int FindNoCase(const wchar_t* text, int from = 0) const;
    int FindLast(wchar_t c) const;

    // Replaces every occurrence until none is left, so text that a replacement joins into a
    // new occurrence is replaced as well. When the replacement itself contains the searched
    // text that would never end; then each occurrence of the original text is replaced once.
    // Answers 0 (string unchanged) when the result would outgrow the formatting limit.
    int ReplaceAll(const wchar_t* what, const wchar_t* with);
    int Replace(wchar_t what, wchar_t with);
    // Removes leading and trailing characters of the thread locale's space class.
    int Trim();

    // Line splitting (CR LF or LF): call with position 0, then with the position it returns,
    // until it answers 0.
    int NextLine(int& position, WideString& line) const;
    // Tokens separated by any of `separators`; empty tokens are skipped.
    int NextToken(int& position, const wchar_t* separators, WideString& token) const;

    // Narrow copies, cached until the next change; never null.
    const char* ToUtf8() { return Narrow(CP_UTF8); }
    const char* ToAnsi() { return Narrow(CP_ACP); }
    const char* Narrow(UINT codePage);
    // System string copy owned by this object, cached until the next change.
    BSTR ToBstr();
    // New system string the caller frees with SysFreeString (null when out of memory).
    BSTR DetachBstr() const;

    // Path pieces.
    const wchar_t* FileName() const;
    // ".ext" of the last path element, up to a '?'; empty when there is none.
    int Extension(WideString& extension) const;
    // Cuts the extension when its dot is among the last four characters.
    int CutShortExtension();
    // Cuts what follows the last '\' or '/', keeping the separator; no separator empties the string.
    int CutLastElement();

private:
    int Grow(int needed, int newCapacity);
    // The capacity formatting tries after `capacity` was too small; 0 beyond the limit.
    static int NextFormatCapacity(int capacity);
    void OutOfMemory();
    void Changed();
    int ExtensionDot() const;

    wchar_t* m_buffer;
    int m_capacity;
    int m_length;
    char* m_narrow;
    UINT m_narrowCodePage;
    BSTR m_bstr;
};
