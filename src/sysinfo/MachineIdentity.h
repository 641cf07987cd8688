// A short, stable, anonymous tag of the computer: eight bytes, each a one-byte fold of one
// machine property, computed afresh at every use and never stored.
#pragma once

#include <windows.h>

#include "common/WideString.h"
#include "sysinfo/WindowsVersion.h"

namespace IdentityPurpose {
const BYTE ProblemReport = 2;
const BYTE UpdateQuery = 4;
}  // namespace IdentityPurpose

struct MachineIdentityBytes {
    BYTE bytes[8];
};

// What the identity reads from the machine. The rules that turn it into bytes take any
// source, so that each rule can be tried on a made-up machine.
class IdentitySource {
public:
    virtual ~IdentitySource() {}
    virtual VersionFlags Version() = 0;
    virtual int IsWine() = 0;
    virtual int IsReactOS() = 0;
    // Values under HKEY_LOCAL_MACHINE; `view64` asks for the 64-bit registry view.
    virtual int ReadDword(const wchar_t* path, const wchar_t* name, DWORD& value) = 0;
    // At most 260 characters; a longer value is not read.
    virtual int ReadString(const wchar_t* path, const wchar_t* name, bool view64, WideString& value) = 0;
    // Up to `size` bytes; answers how many were read (0: none).
    virtual DWORD ReadBinary(const wchar_t* path, const wchar_t* name, BYTE* bytes, DWORD size) = 0;
    virtual int KeyExists(const wchar_t* path) = 0;
    // GetVersionExW's major and minor numbers.
    virtual int VersionNumbers(DWORD& major, DWORD& minor) = 0;
    // The serial number of the volume that holds the Windows folder.
    virtual int VolumeSerial(DWORD& serial) = 0;
    // "MACAddress" of the first enabled network adapter, through WMI.
    virtual int AdapterAddress(WideString& text) = 0;
};

// The running machine.
class SystemIdentitySource : public IdentitySource {
public:
    VersionFlags Version() override;
    int IsWine() override;
    int IsReactOS() override;
    int ReadDword(const wchar_t* path, const wchar_t* name, DWORD& value) override;
    int ReadString(const wchar_t* path, const wchar_t* name, bool view64, WideString& value) override;
    DWORD ReadBinary(const wchar_t* path, const wchar_t* name, BYTE* bytes, DWORD size) override;
    int KeyExists(const wchar_t* path) override;
    int VersionNumbers(DWORD& major, DWORD& minor) override;
    int VolumeSerial(DWORD& serial) override;
    int AdapterAddress(WideString& text) override;
};

// The folds, each over plain values.
BYTE VersionByte(DWORD major, DWORD minor);
BYTE VolumeByte(DWORD serial);
BYTE SumOfLowBytes(const wchar_t* text);
BYTE XorOfLowBytes(const wchar_t* text);
BYTE XorOfBytes(const BYTE* bytes, DWORD count);
// Bytes 0 (format mark), 6 (purpose) and 7 (check) around the five machine bytes.
void FinishIdentity(MachineIdentityBytes& identity, BYTE purpose);
int FormatIdentity(const MachineIdentityBytes& identity, WideString& text);

// Each machine byte from a source.
BYTE SystemVersionByte(IdentitySource& source);
BYTE VolumeIdentityByte(IdentitySource& source);
BYTE ProductIdByte(IdentitySource& source);
BYTE NetworkByte(IdentitySource& source);
BYTE DiskByte(IdentitySource& source);

MachineIdentityBytes MachineIdentity(IdentitySource& source, BYTE purpose);
MachineIdentityBytes MachineIdentity(BYTE purpose);
// "%04X-%04X-%04X-%04X" of the bytes read as four little-endian words.
int MachineIdentity(WideString& text, BYTE purpose);
