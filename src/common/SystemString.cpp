#include "common/SystemString.h"

#include <stdlib.h>

SystemString::SystemString(const wchar_t* text) : m_data(nullptr)
{
    BSTR copy = SysAllocString(text ? text : L"");
    if (copy) *this = Attach(copy);
}

SystemString SystemString::Attach(BSTR text)
{
    SystemString holder;
    if (!text) return holder;
    Data* data = (Data*)malloc(sizeof(Data));
    if (!data) {
        SysFreeString(text);
        return holder;
    }
    data->references = 1;
    data->text = text;
    data->narrow = nullptr;
    holder.m_data = data;
    return holder;
}

SystemString::SystemString(const SystemString& other) : m_data(other.m_data)
{
    if (m_data) InterlockedIncrement(&m_data->references);
}

SystemString& SystemString::operator=(const SystemString& other)
{
    if (other.m_data) InterlockedIncrement(&other.m_data->references);
    Reset();
    m_data = other.m_data;
    return *this;
}

void SystemString::Reset()
{
    if (m_data && InterlockedDecrement(&m_data->references) == 0) {
        SysFreeString(m_data->text);
        free(m_data->narrow);
        free(m_data);
    }
    m_data = nullptr;
}

const char* SystemString::Narrow() const
{
    if (!m_data) return "";
    if (!m_data->narrow) {
        int length = (int)SysStringLen(m_data->text);
        int needed = WideCharToMultiByte(CP_ACP, 0, m_data->text, length, nullptr, 0, nullptr, nullptr);
        char* narrow = (char*)malloc((size_t)needed + 1);
        if (!narrow) return "";
        if (needed > 0) WideCharToMultiByte(CP_ACP, 0, m_data->text, length, narrow, needed, nullptr, nullptr);
        narrow[needed > 0 ? needed : 0] = '\0';
        m_data->narrow = narrow;
    }
    return m_data->narrow;
}

BSTR* SystemString::Receive()
{
    Reset();
    Data* data = (Data*)malloc(sizeof(Data));
    if (!data) return nullptr;
    data->references = 1;
    data->text = nullptr;
    data->narrow = nullptr;
    m_data = data;
    return &m_data->text;
}

Variant::Variant(const Variant& other)
{
    VariantInit(&m_value);
    VariantCopy(&m_value, const_cast<VARIANT*>(&other.m_value));
}

Variant& Variant::operator=(const Variant& other)
{
    if (this != &other) {
        VariantClear(&m_value);
        VariantCopy(&m_value, const_cast<VARIANT*>(&other.m_value));
    }
    return *this;
}
