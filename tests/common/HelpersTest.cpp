// Module versions, error texts, time, COM apartments and system-string holders.
#include <gtest/gtest.h>


#include "common/ComApartment.h"
#include "common/ModuleVersion.h"
#include "common/SystemErrorText.h"
#include "common/SystemString.h"
#include "common/Timing.h"
#include "harness/Harness.h"

TEST(ModuleVersion, ReadsGermanThenEnglishStrings)
{
    ModuleVersion version;
    ASSERT_EQ(1, version.Load());
    EXPECT_EQ(3u, version.Major());
    EXPECT_EQ(25u, version.Minor());
    WideString title;
    ASSERT_EQ(1, version.BuildTitle(L"Orvane", title));
    EXPECT_STREQ(L"Orvane [3.25]", title.Text());

    WideString value;
    EXPECT_EQ(1, version.GetString(L"ProductName", value));
    EXPECT_STREQ(L"Test Product", value.Text());
    EXPECT_EQ(1, version.GetString(L"CompanyName", value)) << "the English block is the fallback";
    EXPECT_STREQ(L"English Only", value.Text());
    EXPECT_EQ(0, version.GetString(L"Missing", value));
    EXPECT_TRUE(value.IsEmpty());

    WideString expectedFolder(version.FileName());
    expectedFolder.CutLastElement();
    EXPECT_STREQ(expectedFolder.Text(), version.Folder());
    EXPECT_TRUE(WideString(version.Folder()).EndsWith(L'\\'));
}

TEST(ModuleVersion, FallsBackToFixedRecordThenToOneOne)
{
    ModuleVersion fixed;
    ASSERT_EQ(1, fixed.LoadFile((harness::BuildDir() + L"bin\\harness_window.exe").c_str()));
    EXPECT_EQ(4u, fixed.Major()) << "product version's high word, not the file version";
    EXPECT_EQ(2u, fixed.Minor());
    WideString title;
    fixed.BuildTitle(L"Orvane", title);
    EXPECT_STREQ(L"Orvane [4.02]", title.Text());

    std::wstring plain = harness::ScratchDir(L"module-version") + L"plain.txt";
    ASSERT_TRUE(harness::WriteFileBytes(plain, "no version here"));
    ModuleVersion none;
    ASSERT_EQ(1, none.LoadFile(plain.c_str()));
    EXPECT_FALSE(none.HasVersionRecord());
    none.BuildTitle(L"Orvane", title);
    EXPECT_STREQ(L"Orvane [1.01]", title.Text());
}

TEST(ModuleVersion, VersionPairParsing)
{
    unsigned major = 0, minor = 0;
    EXPECT_EQ(1, ParseVersionPair(L"1.07", major, minor));
    EXPECT_EQ(1u, major);
    EXPECT_EQ(7u, minor);
    EXPECT_EQ(1, ParseVersionPair(L"2.10.3 beta", major, minor));
    EXPECT_EQ(10u, minor);
    EXPECT_EQ(0, ParseVersionPair(L"5", major, minor));
    EXPECT_EQ(0, ParseVersionPair(L"v1.2", major, minor));
    EXPECT_EQ(0, ParseVersionPair(nullptr, major, minor));
}

TEST(SystemErrorText, SystemAndInternetTexts)
{
    wchar_t text[260];
    ASSERT_EQ(1, SystemErrorText(ERROR_FILE_NOT_FOUND, text));
    EXPECT_GT(wcslen(text), 5u);
    EXPECT_EQ(nullptr, wcschr(text, L'\r'));
    EXPECT_EQ(nullptr, wcschr(text, L'\n'));
    EXPECT_NE(L' ', text[wcslen(text) - 1]);

    EXPECT_EQ(0, SystemErrorText(0x2ABCDEF1, text));
    EXPECT_STREQ(L"", text);

    // Without a buffer the text lands in the process's last-error text.
    LastErrorTextBuffer()[0] = L'\0';
    EXPECT_EQ(1, SystemErrorText(ERROR_ACCESS_DENIED));
    EXPECT_GT(wcslen(LastErrorTextBuffer()), 3u);

    wchar_t tiny[8];
    EXPECT_EQ(1, SystemErrorText(ERROR_FILE_NOT_FOUND, tiny, 8));
    EXPECT_LE(wcslen(tiny), 7u) << "long texts are cut to the buffer";

    wchar_t messy[] = L"Line one\r\nline two \r\n  ";
    TidyErrorText(messy);
    EXPECT_STREQ(L"Line one  line two", messy);
}

TEST(Timing, TickCountAndStopwatch)
{
    ULONGLONG before = TickCount64();
    EXPECT_LE((ULONGLONG)(DWORD)before - 50, (ULONGLONG)GetTickCount()) << "same clock as the 32-bit count";
    Stopwatch watch;
    EXPECT_TRUE(watch.UsesPerformanceCounter()) << "this system reports Vista or later";
    watch.Start();
    Sleep(60);
    watch.Stop();
    EXPECT_GE(watch.Milliseconds(), 50u);
    EXPECT_LT(watch.Milliseconds(), 5000u);
    EXPECT_GE(watch.Microseconds(), watch.Milliseconds() * 1000);
    EXPECT_LT(watch.Microseconds(), (watch.Milliseconds() + 1) * 1000);
    EXPECT_GE(TickCount64() - before, 40u) << "the tick count moves in coarse steps";
}

namespace {

DWORD WINAPI ApartmentChecks(void* result)
{
    HRESULT* results = static_cast<HRESULT*>(result);
    ComApartment first;
    results[0] = first.Initialise(ComApartment::Multithreaded);
    ComApartment second;
    results[1] = second.Initialise(ComApartment::Multithreaded);
    ComApartment other;
    results[2] = other.Initialise(ComApartment::ApartmentThreaded);
    results[3] = other.Initialised() ? 1 : 0;
    IUnknown* document = nullptr;
    results[4] = ComApartment::CreateByProgId(L"Msxml2.DOMDocument.6.0", IID_IUnknown, (void**)&document);
    if (document) document->Release();
    IUnknown* missing = (IUnknown*)1;
    results[5] = ComApartment::CreateByProgId(L"Orvane.Nothing.1", IID_IUnknown, (void**)&missing);
    results[6] = missing == nullptr ? 1 : 0;
    return 0;
}

}  // namespace

TEST(ComApartment, InitialisesOncePerObjectAndCreatesObjects)
{
    HRESULT results[7] = {};
    HANDLE thread = CreateThread(nullptr, 0, ApartmentChecks, results, 0, nullptr);
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    EXPECT_EQ(S_OK, results[0]);
    EXPECT_EQ(S_FALSE, results[1]);
    EXPECT_EQ(RPC_E_CHANGED_MODE, results[2]) << "another mode on the same thread";
    EXPECT_EQ(0, results[3]) << "a refused initialisation is not undone later";
    EXPECT_EQ(S_OK, results[4]);
    EXPECT_TRUE(FAILED(results[5]));
    EXPECT_EQ(1, results[6]);
}

TEST(SystemString, SharesOneStringAndItsNarrowCopy)
{
    SystemString a(L"shared \x00E9");
    SystemString b = a;
    EXPECT_EQ(a.Get(), b.Get());
    EXPECT_EQ(8u, b.Length());
    const char* narrow = a.Narrow();
    EXPECT_EQ(narrow, b.Narrow());
    a.Reset();
    EXPECT_STREQ(L"shared \x00E9", b.Text());
    EXPECT_STREQ(L"", a.Text());

    SystemString received;
    BSTR* slot = received.Receive();
    ASSERT_NE(nullptr, slot);
    *slot = SysAllocString(L"from a call");
    EXPECT_STREQ(L"from a call", received.Text());

    Variant v;
    V_VT(v.Receive()) = VT_BSTR;
    V_BSTR(v.Get()) = SysAllocString(L"variant");
    Variant copy = v;
    EXPECT_EQ(VT_BSTR, copy.Type());
    EXPECT_NE(V_BSTR(v.Get()), V_BSTR(copy.Get()));
    EXPECT_STREQ(L"variant", V_BSTR(copy.Get()));
}

#include <math.h>
#include <stdlib.h>

#include "common/CsvText.h"

TEST(CsvText, FieldsNumbersAndTimesAsSpreadsheetsReadThem)
{
    const struct {
        const wchar_t* text;
        const wchar_t* field;
    } fields[] = {
        {L"plain", L"plain"},
        {L"", L""},
        {L"a,b", L"\"a,b\""},
        {L"say \"hi\"", L"\"say \"\"hi\"\"\""},
        {L"two\r\nlines", L"\"two\r\nlines\""},
        {L"line\nfeed", L"\"line\nfeed\""},
        {L" padded", L"\" padded\""},
        {L"padded\t", L"\"padded\t\""},
        {L"in ner", L"in ner"},
        {L"\x00E9t\x00E9 \x6E29\x5EA6", L"\x00E9t\x00E9 \x6E29\x5EA6"},
    };
    for (const auto& f : fields) {
        std::wstring line = L"x,";
        AppendCsvField(line, f.text);
        EXPECT_EQ(std::wstring(L"x,") + f.field, line);
    }
    std::wstring line;
    AppendCsvField(line, nullptr);
    EXPECT_EQ(L"", line);

    // UTF-8 after what is already there, ASCII or not, a pair of surrogates as one character.
    struct {
        const wchar_t* text;
        const char* bytes;
    } utf8[] = {
        {L"", ""},
        {L"plain", "plain"},
        {L"\x00E9t\x00E9", "\xC3\xA9t\xC3\xA9"},
        {L"ab \x6E29", "ab \xE6\xB8\xA9"},
        {L"\xD83D\xDE00!", "\xF0\x9F\x98\x80!"},
    };
    for (const auto& u : utf8) {
        std::string out = "x";
        AppendUtf8(out, u.text, wcslen(u.text));
        EXPECT_EQ(std::string("x") + u.bytes, out);
    }

    wchar_t text[64];
    const struct {
        double number;
        const wchar_t* shown;
    } exact[] = {{0.1, L"0.1"}, {-2.5, L"-2.5"}, {42, L"42"}, {1234567.5, L"1234567.5"}, {0, L"0"},
                 {NAN, L"NaN"}, {INFINITY, L"Infinity"}, {-INFINITY, L"-Infinity"}};
    for (const auto& e : exact) {
        ASSERT_LT(0, FormatInvariantNumber(e.number, text, 64));
        EXPECT_STREQ(e.shown, text);
    }
    // Every double reads back as itself, with a point and never a comma.
    const double numbers[] = {1.0 / 3, 2.0 / 3, 0.1 + 0.2, 1e-300, -1.7976931348623157e308, 4.9e-324,
                              9007199254740993.0, 52.520008, 13.404954, -0.000123456789};
    for (double number : numbers) {
        int length = FormatInvariantNumber(number, text, 64);
        ASSERT_LT(0, length);
        EXPECT_EQ(nullptr, wcschr(text, L','));
        EXPECT_EQ(number, wcstod(text, nullptr)) << text;
        EXPECT_LE(length, 24);
    }
    // A float's own digits, and every float reads back as itself.
    ASSERT_LT(0, FormatInvariantNumber(0.1f, text, 64, true));
    EXPECT_STREQ(L"0.1", text);
    for (float single : {1.0f / 3, 16777217.0f, 3.4028235e38f, 1.17549435e-38f, -7.25f}) {
        ASSERT_LT(0, FormatInvariantNumber(single, text, 64, true));
        EXPECT_EQ(single, (float)wcstod(text, nullptr)) << text;
    }
    EXPECT_EQ(0, FormatInvariantNumber(1.0 / 3, text, 5)) << "too small a buffer";
    EXPECT_EQ(0, FormatInvariantNumber(NAN, text, 3));

    SYSTEMTIME time = {2026, 12, 3, 9, 7, 5, 3, 9};
    ASSERT_EQ(23, FormatIsoLocalTime(time, text, 64));
    EXPECT_STREQ(L"2026-12-09T07:05:03.009", text);
    EXPECT_EQ(0, FormatIsoLocalTime(time, text, 23)) << "no room for the terminator";
}
