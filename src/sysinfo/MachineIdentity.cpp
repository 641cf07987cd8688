#include "sysinfo/MachineIdentity.h"

#include <stdio.h>
#include <wbemidl.h>

#include "common/ComApartment.h"
#include "common/RegistryKey.h"
#include "common/SystemString.h"
#include "platform/SystemApi.h"

namespace {

const wchar_t* const NtCurrentVersionKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t* const CurrentVersionKey95 = L"Software\\Microsoft\\Windows\\CurrentVersion";
const wchar_t* const DhcpInfoKey = L"System\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo00";
const wchar_t* const GenuineAdvantageKey = L"SOFTWARE\\Microsoft\\Windows Genuine Advantage";
const wchar_t* const RpcUuidKey = L"SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData";
const wchar_t* const DiskEnumKey = L"SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum";
const wchar_t* const ScsiUnitKeyFormat =
    L"HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %u\\Scsi Bus %u\\Target Id %u\\Logical Unit Id 0";

// A disk list longer than this is not a real machine's; reading it further would only
// stall the caller.
const DWORD MaxDiskEntries = 1024;

const CLSID WbemLocatorClass = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID WbemLocatorInterface = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

bool IsNt(IdentitySource& source)
{
    return (source.Version() & WindowsRelease::NT) != 0;
}

}  // namespace

BYTE VersionByte(DWORD major, DWORD minor)
{
    return (BYTE)((minor << 4) | (major & 0xF));
}

BYTE VolumeByte(DWORD serial)
{
    return (BYTE)(serial ^ (serial >> 8) ^ (serial >> 16) ^ (serial >> 24));
}

BYTE SumOfLowBytes(const wchar_t* text)
{
    BYTE sum = 0;
    for (; text && *text; text++) sum = (BYTE)(sum + (BYTE)*text);
    return sum;
}

BYTE XorOfLowBytes(const wchar_t* text)
{
    BYTE fold = 0;
    for (; text && *text; text++) fold ^= (BYTE)*text;
    return fold;
}

BYTE XorOfBytes(const BYTE* bytes, DWORD count)
{
    BYTE fold = 0;
    for (DWORD i = 0; bytes && i < count; i++) fold ^= bytes[i];
    return fold;
}

void FinishIdentity(MachineIdentityBytes& identity, BYTE purpose)
{
    identity.bytes[0] = 0x10;
    identity.bytes[6] = purpose;
    BYTE check = 0;
    for (int i = 0; i < 7; i++) check ^= (BYTE)~identity.bytes[i];
    identity.bytes[7] = check;
}

int FormatIdentity(const MachineIdentityBytes& identity, WideString& text)
{
    const BYTE* b = identity.bytes;
    return text.Format(L"%04X-%04X-%04X-%04X", b[0] | (b[1] << 8), b[2] | (b[3] << 8), b[4] | (b[5] << 8),
                       b[6] | (b[7] << 8));
}

BYTE SystemVersionByte(IdentitySource& source)
{
    if (source.IsWine()) return 1;
    if (source.IsReactOS()) return 2;
    DWORD major = 0;
    DWORD minor = 0;
    if (source.ReadDword(NtCurrentVersionKey, L"CurrentMajorVersionNumber", major) && major != 0) {
        if (!source.ReadDword(NtCurrentVersionKey, L"CurrentMinorVersionNumber", minor)) minor = 0;
        return VersionByte(major, minor);
    }
    WideString text;
    unsigned int first = 0;
    unsigned int second = 0;
    if (source.ReadString(NtCurrentVersionKey, L"CurrentVersion", false, text) &&
        swscanf(text.Text(), L"%u.%u", &first, &second) == 2)
        return VersionByte(first, second);
    if (source.VersionNumbers(major, minor)) return VersionByte(major, minor);
    return 0;
}

BYTE VolumeIdentityByte(IdentitySource& source)
{
    DWORD serial = 0;
    return source.VolumeSerial(serial) ? VolumeByte(serial) : 0;
}

BYTE ProductIdByte(IdentitySource& source)
{
    WideString text;
    bool read = IsNt(source) ? source.ReadString(NtCurrentVersionKey, L"ProductId", true, text)
                             : source.ReadString(CurrentVersionKey95, L"ProductId", false, text);
    return read ? SumOfLowBytes(text) : 0;
}

BYTE NetworkByte(IdentitySource& source)
{
    WideString text;
    BYTE address[6] = {0, 0, 0, 0, 0, 0};
    if (!IsNt(source)) {
        if (source.ReadBinary(DhcpInfoKey, L"HardwareAddress", address, sizeof(address)))
            return XorOfBytes(address, sizeof(address));
        if (source.ReadString(CurrentVersionKey95, L"ProductId", false, text)) return XorOfLowBytes(text);
        return 0;
    }
    if (source.ReadString(GenuineAdvantageKey, L"MAC", false, text)) return XorOfLowBytes(text);
    if (source.ReadBinary(RpcUuidKey, L"NetworkAddress", address, sizeof(address)))
        return XorOfBytes(address, sizeof(address));
    if (source.AdapterAddress(text)) return XorOfLowBytes(text);
    if (source.ReadString(NtCurrentVersionKey, L"ProductId", true, text)) return XorOfLowBytes(text);
    return 0;
}

BYTE DiskByte(IdentitySource& source)
{
    if (!IsNt(source)) return 0;
    BYTE sum = 0;
    DWORD count = 0;
    if (source.ReadDword(DiskEnumKey, L"Count", count) && count != 0) {
        if (count > MaxDiskEntries) count = MaxDiskEntries;
        bool any = false;
        for (DWORD i = 0; i < count; i++) {
            wchar_t name[16];
            swprintf(name, 16, L"%u", (unsigned int)i);
            WideString text;
            if (source.ReadString(DiskEnumKey, name, false, text)) {
                sum = (BYTE)(sum + SumOfLowBytes(text));
                any = true;
            }
        }
        if (any) return sum;
    }
    bool anyKey = false;
    sum = 0;
    for (unsigned int port = 0; port < 10; port++) {
        for (unsigned int bus = 0; bus < 10; bus++) {
            for (unsigned int target = 0; target < 10; target++) {
                wchar_t path[160];
                swprintf(path, 160, ScsiUnitKeyFormat, port, bus, target);
                if (!source.KeyExists(path)) break;
                anyKey = true;
                WideString text;
                if (source.ReadString(path, L"Identifier", false, text)) sum = (BYTE)(sum + SumOfLowBytes(text));
            }
        }
    }
    return anyKey ? sum : 0;
}

MachineIdentityBytes MachineIdentity(IdentitySource& source, BYTE purpose)
{
    MachineIdentityBytes identity;
    ZeroMemory(&identity, sizeof(identity));
    identity.bytes[2] = SystemVersionByte(source);
    identity.bytes[3] = VolumeIdentityByte(source);
    identity.bytes[1] = ProductIdByte(source);
    identity.bytes[4] = NetworkByte(source);
    identity.bytes[5] = DiskByte(source);
    FinishIdentity(identity, purpose);
    return identity;
}

MachineIdentityBytes MachineIdentity(BYTE purpose)
{
    SystemIdentitySource source;
    return MachineIdentity(source, purpose);
}

int MachineIdentity(WideString& text, BYTE purpose)
{
    return FormatIdentity(MachineIdentity(purpose), text);
}

VersionFlags SystemIdentitySource::Version()
{
    return ClassifyWindows();
}

int SystemIdentitySource::IsWine()
{
    return ::IsWine();
}

int SystemIdentitySource::IsReactOS()
{
    return ::IsReactOS();
}

int SystemIdentitySource::ReadDword(const wchar_t* path, const wchar_t* name, DWORD& value)
{
    RegistryKey key;
    return key.OpenRead(HKEY_LOCAL_MACHINE, path) && key.ReadDword(name, value);
}

int SystemIdentitySource::ReadString(const wchar_t* path, const wchar_t* name, bool view64, WideString& value)
{
    RegistryKey key;
    if (!key.OpenRead(HKEY_LOCAL_MACHINE, path, view64 ? KEY_WOW64_64KEY : 0)) return 0;
    wchar_t buffer[MAX_PATH + 1];
    DWORD characters = MAX_PATH;
    if (!key.ReadString(name, buffer, characters)) return 0;
    return value.Assign(buffer);
}

DWORD SystemIdentitySource::ReadBinary(const wchar_t* path, const wchar_t* name, BYTE* bytes, DWORD size)
{
    RegistryKey key;
    if (!key.OpenRead(HKEY_LOCAL_MACHINE, path)) return 0;
    DWORD read = size;
    return key.ReadBinary(name, bytes, read) ? read : 0;
}

int SystemIdentitySource::KeyExists(const wchar_t* path)
{
    return RegistryKey::KeyExists(HKEY_LOCAL_MACHINE, path);
}

int SystemIdentitySource::VersionNumbers(DWORD& major, DWORD& minor)
{
    OSVERSIONINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info)) return 0;
#pragma GCC diagnostic pop
    major = info.dwMajorVersion;
    minor = info.dwMinorVersion;
    return 1;
}

int SystemIdentitySource::VolumeSerial(DWORD& serial)
{
    wchar_t root[MAX_PATH + 1];
    UINT n = GetWindowsDirectoryW(root, MAX_PATH);
    if (n < 3 || n > MAX_PATH) return 0;
    root[3] = L'\0';
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    BOOL ok = GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    SetErrorMode(previous);
    return ok ? 1 : 0;
}

namespace {
// Milliseconds the adapter query may take to answer.
const long WmiResultWait = 10000;
}  // namespace

int SystemIdentitySource::AdapterAddress(WideString& text)
{
    ComApartment apartment;
    // A thread that already lives in a single-threaded apartment cannot ask here.
    if (FAILED(apartment.Initialise(ComApartment::Multithreaded))) return 0;
    SystemApi api;
    HRESULT security = api.CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(security) && security != RPC_E_TOO_LATE) return 0;
    int found = 0;
    {
        ComPtr<IWbemLocator> locator;
        ComPtr<IWbemServices> services;
        ComPtr<IEnumWbemClassObject> results;
        ComPtr<IWbemClassObject> adapter;
        BSTR space = SysAllocString(L"ROOT\\CIMV2");
        BSTR language = SysAllocString(L"WQL");
        BSTR query = SysAllocString(L"SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled=true");
        ULONG returned = 0;
        VARIANT value;
        VariantInit(&value);
        if (space && language && query &&
            SUCCEEDED(ComApartment::CreateByClassId(WbemLocatorClass, WbemLocatorInterface, locator.ReceiveVoid())) &&
            // No wait here is without an end: the connection gives up after its longest
            // wait, the result after a few seconds.
            SUCCEEDED(locator->ConnectServer(space, nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                                             nullptr, nullptr, services.Receive())) &&
            SUCCEEDED(api.CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                            RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                            EOAC_NONE)) &&
            SUCCEEDED(services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                          nullptr, results.Receive())) &&
            results->Next(WmiResultWait, 1, adapter.Receive(), &returned) == WBEM_S_NO_ERROR && returned == 1 &&
            SUCCEEDED(adapter->Get(L"MACAddress", 0, &value, nullptr, nullptr)) && value.vt == VT_BSTR &&
            value.bstrVal)
            found = text.Assign(value.bstrVal);
        VariantClear(&value);
        SysFreeString(space);
        SysFreeString(language);
        SysFreeString(query);
    }
    return found;
}
