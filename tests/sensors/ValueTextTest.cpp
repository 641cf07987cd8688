#include <gtest/gtest.h>

#include <propvarutil.h>

#include <string>

#include "sensors/ValueText.h"

namespace {

std::wstring Text(const VARIANT& variant)
{
    WideString text;
    VariantText(variant, text);
    return text.Text();
}

std::wstring Formatted(PROPVARIANT& value)
{
    VARIANT variant;
    VariantInit(&variant);
    WideString text;
    FormatValue(value, variant, text);
    VariantClear(&variant);
    return text.Text();
}

}  // namespace

TEST(ValueText, FloatingPointWithSixDecimals)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_R4;
    V_R4(&v) = 9.81f;
    EXPECT_EQ(L"9.810000", Text(v));
    V_VT(&v) = VT_R8;
    V_R8(&v) = -0.5;
    EXPECT_EQ(L"-0.500000", Text(v));
    V_R8(&v) = 0.0;
    EXPECT_EQ(L"0.000000", Text(v));
    V_R8(&v) = 1234567.25;
    EXPECT_EQ(L"1234567.250000", Text(v)) << "no grouping";
}

TEST(ValueText, StringsArraysAndPlatformTexts)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(L"  spaced\tand \"quoted\"  ");
    EXPECT_EQ(L"  spaced\tand \"quoted\"  ", Text(v)) << "strings are shown exactly";
    VariantClear(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = nullptr;
    EXPECT_EQ(L"", Text(v));

    V_VT(&v) = VT_ARRAY | VT_R8;
    V_ARRAY(&v) = SafeArrayCreateVector(VT_R8, 0, 3);
    EXPECT_EQ(L"", Text(v)) << "arrays show nothing";
    VariantClear(&v);

    V_VT(&v) = VT_I4;
    V_I4(&v) = -42;
    EXPECT_EQ(L"-42", Text(v));
    V_VT(&v) = VT_UI4;
    V_UI4(&v) = 4000000000u;
    EXPECT_EQ(L"4000000000", Text(v));
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = VARIANT_TRUE;
    EXPECT_EQ(L"-1", Text(v));
    V_VT(&v) = VT_EMPTY;
    EXPECT_EQ(L"", Text(v));

    V_VT(&v) = VT_UNKNOWN;
    V_UNKNOWN(&v) = nullptr;
    EXPECT_THROW(Text(v), ValueConversionError) << "no text for an object";
}

TEST(ValueText, ConversionOfEveryPropertyType)
{
    PROPVARIANT p;
    VARIANT v;

    PropVariantInit(&p);
    p.vt = VT_LPWSTR;
    p.pwszVal = const_cast<LPWSTR>(L"Berlin");
    ASSERT_EQ(S_OK, ConvertPropVariant(p, v));
    EXPECT_EQ(VT_BSTR, V_VT(&v));
    EXPECT_STREQ(L"Berlin", V_BSTR(&v));
    VariantClear(&v);

    GUID guid = {0xC317C286, 0xC468, 0x4288, {0x99, 0x75, 0xD4, 0xC4, 0x58, 0x7C, 0x44, 0x2C}};
    p.vt = VT_CLSID;
    p.puuid = &guid;
    ASSERT_EQ(S_OK, ConvertPropVariant(p, v));
    EXPECT_STREQ(L"{C317C286-C468-4288-9975-D4C4587C442C}", V_BSTR(&v));
    VariantClear(&v);

    SYSTEMTIME time = {2024, 3, 5, 15, 13, 45, 30, 0};
    p.vt = VT_FILETIME;
    SystemTimeToFileTime(&time, &p.filetime);
    ASSERT_EQ(S_OK, ConvertPropVariant(p, v));
    EXPECT_EQ(VT_DATE, V_VT(&v));
    SYSTEMTIME back;
    VariantTimeToSystemTime(V_DATE(&v), &back);
    EXPECT_EQ(2024, back.wYear);
    EXPECT_EQ(13, back.wHour);
    EXPECT_EQ(30, back.wSecond);

    double numbers[] = {0.5, -1, 2};
    p.vt = VT_VECTOR | VT_R8;
    p.cadbl.cElems = 3;
    p.cadbl.pElems = numbers;
    ASSERT_EQ(S_OK, ConvertPropVariant(p, v));
    EXPECT_EQ(VT_ARRAY | VT_R8, V_VT(&v));
    double* data = nullptr;
    SafeArrayAccessData(V_ARRAY(&v), (void**)&data);
    EXPECT_EQ(-1.0, data[1]);
    SafeArrayUnaccessData(V_ARRAY(&v));
    VariantClear(&v);

    BYTE bytes[] = {1, 2, 3, 4};
    p.vt = VT_VECTOR | VT_UI1;
    p.caub.cElems = 4;
    p.caub.pElems = bytes;
    ASSERT_EQ(S_OK, ConvertPropVariant(p, v));
    EXPECT_EQ(VT_ARRAY | VT_UI1, V_VT(&v));
    EXPECT_EQ(4u, V_ARRAY(&v)->rgsabound[0].cElements);
    VariantClear(&v);

    p.vt = VT_R4;
    p.fltVal = 9.81f;
    ASSERT_EQ(S_OK, ConvertPropVariant(p, v));
    EXPECT_EQ(VT_R4, V_VT(&v));
    EXPECT_EQ(9.81f, V_R4(&v));

    p.vt = VT_BLOB;
    EXPECT_NE(S_OK, ConvertPropVariant(p, v));
    EXPECT_EQ(VT_EMPTY, V_VT(&v));
}

TEST(ValueText, FormatValueEndToEnd)
{
    PROPVARIANT p;
    PropVariantInit(&p);
    p.vt = VT_R4;
    p.fltVal = 9.81f;
    EXPECT_EQ(L"9.810000", Formatted(p));
    p.vt = VT_I4;
    p.lVal = 7;
    EXPECT_EQ(L"7", Formatted(p));
    ULONG prns[] = {2, 5};
    p.vt = VT_VECTOR | VT_UI4;
    p.caul.cElems = 2;
    p.caul.pElems = prns;
    EXPECT_EQ(L"", Formatted(p));
    p.vt = VT_LPWSTR;
    p.pwszVal = const_cast<LPWSTR>(L"$GPGGA,1");
    EXPECT_EQ(L"$GPGGA,1", Formatted(p));
    p.vt = VT_ERROR;
    p.scode = E_FAIL;
    EXPECT_THROW(Formatted(p), ValueConversionError) << "the platform has no text for an error code";
}

namespace {

struct FirstValues {
    HANDLE go;
    volatile LONG wrong;
};

DWORD WINAPI FormatFirstValue(void* parameter)
{
    FirstValues* shared = (FirstValues*)parameter;
    WaitForSingleObject(shared->go, INFINITE);
    PROPVARIANT p;
    PropVariantInit(&p);
    p.vt = VT_R8;
    p.dblVal = 52.5;
    for (int i = 0; i < 200; i++) {
        VARIANT variant;
        VariantInit(&variant);
        WideString text;
        FormatValue(p, variant, text);
        if (!text.Equals(L"52.500000")) InterlockedIncrement(&shared->wrong);
        VariantClear(&variant);
    }
    return 0;
}

}  // namespace

TEST(ValueText, FirstValuesOfManyThreadsDecideTheConversionOnce)
{
    for (int round = 0; round < 20; round++) {
        ForgetValueConversion();
        FirstValues shared = {CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
        HANDLE threads[16];
        for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, FormatFirstValue, &shared, 0, nullptr);
        SetEvent(shared.go);  // every thread's first value at once
        WaitForMultipleObjects(16, threads, TRUE, 30000);
        for (HANDLE thread : threads) CloseHandle(thread);
        CloseHandle(shared.go);
        ASSERT_EQ(1, ValueConversionDecisions()) << "round " << round;
        EXPECT_EQ(0, shared.wrong);
    }
}

#include <math.h>

#include <vector>

#include "sensors/ValueNumber.h"

TEST(ValueNumber, NumbersOfEveryWidthAndNoneForTheRest)
{
    auto make = [](VARTYPE type) {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = type;
        return value;
    };
    struct Case {
        PROPVARIANT value;
        bool has;
        double number;
    };
    std::vector<Case> cases;
    PROPVARIANT v = make(VT_I1); v.cVal = -5; cases.push_back({v, true, -5});
    v = make(VT_UI1); v.bVal = 250; cases.push_back({v, true, 250});
    v = make(VT_I2); v.iVal = -32768; cases.push_back({v, true, -32768});
    v = make(VT_UI2); v.uiVal = 65535; cases.push_back({v, true, 65535});
    v = make(VT_I4); v.lVal = -2147483647 - 1; cases.push_back({v, true, -2147483648.0});
    v = make(VT_UI4); v.ulVal = 4294967295u; cases.push_back({v, true, 4294967295.0});
    v = make(VT_INT); v.intVal = -7; cases.push_back({v, true, -7});
    v = make(VT_UINT); v.uintVal = 7; cases.push_back({v, true, 7});
    v = make(VT_I8); v.hVal.QuadPart = -(1LL << 53); cases.push_back({v, true, -9007199254740992.0});
    v = make(VT_UI8); v.uhVal.QuadPart = 18446744073709551615ULL; cases.push_back({v, true, 18446744073709551616.0});
    v = make(VT_R4); v.fltVal = 0.1f; cases.push_back({v, true, (double)0.1f});
    v = make(VT_R8); v.dblVal = -1e-300; cases.push_back({v, true, -1e-300});
    v = make(VT_CY); v.cyVal.int64 = 123456; cases.push_back({v, true, 12.3456});
    v = make(VT_BOOL); v.boolVal = VARIANT_TRUE; cases.push_back({v, true, 1});
    v = make(VT_BOOL); v.boolVal = VARIANT_FALSE; cases.push_back({v, true, 0});
    v = make(VT_R8); v.dblVal = NAN; cases.push_back({v, false, 0});
    v = make(VT_R4); v.fltVal = INFINITY; cases.push_back({v, false, 0});
    v = make(VT_R8); v.dblVal = -INFINITY; cases.push_back({v, false, 0});
    v = make(VT_EMPTY); cases.push_back({v, false, 0});
    v = make(VT_NULL); cases.push_back({v, false, 0});
    v = make(VT_ERROR); v.scode = E_FAIL; cases.push_back({v, false, 0});
    v = make(VT_FILETIME); cases.push_back({v, false, 0});
    v = make(VT_DATE); v.date = 45000; cases.push_back({v, false, 0});
    v = make(VT_LPWSTR); v.pwszVal = const_cast<wchar_t*>(L"12"); cases.push_back({v, false, 0});
    v = make(VT_CLSID); cases.push_back({v, false, 0});
    v = make(VT_VECTOR | VT_R8); cases.push_back({v, false, 0});
    v = make(VT_BYREF | VT_R8); cases.push_back({v, false, 0});
    for (size_t i = 0; i < cases.size(); i++) {
        double number = 42;
        EXPECT_EQ(cases[i].has, ValueNumber(cases[i].value, number)) << "case " << i << " type " << cases[i].value.vt;
        EXPECT_EQ(cases[i].has ? cases[i].number : 42.0, number) << "case " << i;
    }
}
