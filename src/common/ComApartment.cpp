#include "common/ComApartment.h"

HRESULT ComApartment::Initialise(DWORD mode)
{
    Release();
    typedef HRESULT(WINAPI * CoInitializeExFunction)(void*, DWORD);
    HMODULE ole32 = GetModuleHandleW(L"ole32.dll");
    if (!ole32) ole32 = LoadLibraryW(L"ole32.dll");  // stays loaded for the process: COM needs it
    CoInitializeExFunction initialiseEx =
        ole32 ? (CoInitializeExFunction)(void*)GetProcAddress(ole32, "CoInitializeEx") : nullptr;
    HRESULT result = E_FAIL;
    if (initialiseEx) result = initialiseEx(nullptr, mode | COINIT_DISABLE_OLE1DDE);
    if (!initialiseEx || (FAILED(result) && result != RPC_E_CHANGED_MODE)) result = CoInitialize(nullptr);
    m_initialised = SUCCEEDED(result);
    return result;
}

void ComApartment::Release()
{
    if (m_initialised) {
        m_initialised = false;
        CoUninitialize();
    }
}

HRESULT ComApartment::CreateByProgId(const wchar_t* progId, REFIID iid, void** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    CLSID clsid;
    HRESULT result = CLSIDFromProgID(progId, &clsid);
    if (FAILED(result)) return result;
    return CreateByClassId(clsid, iid, object);
}

HRESULT ComApartment::CreateByClassId(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, object);
}
