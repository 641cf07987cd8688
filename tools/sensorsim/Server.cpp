// The in-process server: class factory, registration and the diagnostic exports.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "Simulator.h"

namespace {

const wchar_t ProgId[] = L"SensorsApi.SensorManager.1";
const wchar_t Description[] = L"Sensor platform simulator";
volatile LONG g_serverLocks = 0;

class ClassFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static and never counted.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Engine::Instance().Prepare();
        ManagerObject* manager = new ManagerObject();
        HRESULT result = manager->QueryInterface(iid, object);
        manager->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            InterlockedIncrement(&g_serverLocks);
        else
            InterlockedDecrement(&g_serverLocks);
        return S_OK;
    }
};

ClassFactory g_factory;

std::wstring ClassIdText()
{
    wchar_t text[64];
    StringFromGUID2(CLSID_SensorManager, text, 64);
    return text;
}

bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    HKEY key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)value.c_str(),
                                 (DWORD)((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

extern "C" IMAGE_DOS_HEADER __ImageBase;

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_SensorManager)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, object);
}

// The engine's threads run as long as the process: the library stays loaded.
HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW((HMODULE)&__ImageBase, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
    std::wstring clsid = ClassIdText();
    std::wstring classKey = L"CLSID\\" + clsid;
    bool ok = SetString(HKEY_CLASSES_ROOT, ProgId, nullptr, Description) &&
              SetString(HKEY_CLASSES_ROOT, std::wstring(ProgId) + L"\\CLSID", nullptr, clsid) &&
              SetString(HKEY_CLASSES_ROOT, classKey, nullptr, Description) &&
              SetString(HKEY_CLASSES_ROOT, classKey + L"\\ProgID", nullptr, ProgId) &&
              SetString(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", nullptr, path) &&
              SetString(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    std::wstring classKey = L"CLSID\\" + ClassIdText();
    LONG a = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey.c_str());
    LONG b = RegDeleteTreeW(HKEY_CLASSES_ROOT, ProgId);
    bool ok = (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) && (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND);
    return ok ? S_OK : SELFREG_E_CLASS;
}

// Simulator objects alive at this moment (managers, collections, sensors, reports, value stores).
LONG STDAPICALLTYPE SensorSimulatorLiveObjects()
{
    return g_liveObjects;
}

// Why the last scenario could not be used; empty when it loaded.
const wchar_t* STDAPICALLTYPE SensorSimulatorScenarioError()
{
    return Engine::Instance().ScenarioError().c_str();
}

}  // extern "C"
