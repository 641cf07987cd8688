// Reference-counted holders of system strings (BSTR) and variants.
#pragma once

#include <windows.h>
#include <oleauto.h>

class SystemString {
public:
    SystemString() : m_data(nullptr) {}
    // Copies the text; an empty holder when memory runs out.
    explicit SystemString(const wchar_t* text);
    // Takes ownership of a system string.
    static SystemString Attach(BSTR text);
    SystemString(const SystemString& other);
    SystemString& operator=(const SystemString& other);
    ~SystemString() { Reset(); }

    void Reset();
    BSTR Get() const { return m_data ? m_data->text : nullptr; }
    const wchar_t* Text() const { return m_data && m_data->text ? m_data->text : L""; }
    UINT Length() const { return m_data ? SysStringLen(m_data->text) : 0; }
    // Narrow copy in the ANSI code page, made on demand and shared by all copies.
    const char* Narrow() const;
    // Receives a new system string from an API call (the old one is released).
    BSTR* Receive();

private:
    struct Data {
        LONG references;
        BSTR text;
        char* narrow;
    };
    Data* m_data;
};

class Variant {
public:
    Variant() { VariantInit(&m_value); }
    Variant(const Variant& other);
    Variant& operator=(const Variant& other);
    ~Variant() { VariantClear(&m_value); }

    VARIANT* Get() { return &m_value; }
    const VARIANT* Get() const { return &m_value; }
    VARIANT* Receive()
    {
        VariantClear(&m_value);
        return &m_value;
    }
    VARTYPE Type() const { return V_VT(&m_value); }

private:
    VARIANT m_value;
};
