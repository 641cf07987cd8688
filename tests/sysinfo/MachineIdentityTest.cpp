// The machine identity: each fold on a made-up machine, and the real one on the test prefix.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "sysinfo/MachineIdentity.h"

namespace {

// A machine described by tables: registry values by "path|name", and the other sources.
class FakeMachine : public IdentitySource {
public:
    VersionFlags flags = WindowsRelease::NT | WindowsRelease::Win7;
    int wine = 0;
    int reactOS = 0;
    std::map<std::wstring, DWORD> dwords;
    std::map<std::wstring, std::wstring> strings;
    std::map<std::wstring, std::string> binaries;
    std::map<std::wstring, bool> keys;
    bool haveVersion = false;
    DWORD major = 0, minor = 0;
    bool haveSerial = false;
    DWORD serial = 0;
    bool haveAdapter = false;
    std::wstring adapter;
    int stringReads = 0;
    std::wstring view64Read;  // the last value read with the 64-bit view

    static std::wstring Key(const wchar_t* path, const wchar_t* name) { return std::wstring(path) + L"|" + name; }

    VersionFlags Version() override { return flags; }
    int IsWine() override { return wine; }
    int IsReactOS() override { return reactOS; }
    int ReadDword(const wchar_t* path, const wchar_t* name, DWORD& value) override
    {
        auto it = dwords.find(Key(path, name));
        if (it == dwords.end()) return 0;
        value = it->second;
        return 1;
    }
    int ReadString(const wchar_t* path, const wchar_t* name, bool view64, WideString& value) override
    {
        stringReads++;
        auto it = strings.find(Key(path, name));
        if (it == strings.end()) return 0;
        if (view64) view64Read = it->first;
        return value.Assign(it->second.c_str());
    }
    DWORD ReadBinary(const wchar_t* path, const wchar_t* name, BYTE* bytes, DWORD size) override
    {
        auto it = binaries.find(Key(path, name));
        if (it == binaries.end() || it->second.size() > size) return 0;
        memcpy(bytes, it->second.data(), it->second.size());
        return (DWORD)it->second.size();
    }
    int KeyExists(const wchar_t* path) override { return keys.count(path) ? 1 : 0; }
    int VersionNumbers(DWORD& outMajor, DWORD& outMinor) override
    {
        outMajor = major;
        outMinor = minor;
        return haveVersion;
    }
    int VolumeSerial(DWORD& out) override
    {
        out = serial;
        return haveSerial;
    }
    int AdapterAddress(WideString& text) override { return haveAdapter && text.Assign(adapter.c_str()); }
};

const wchar_t* const NtKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

std::wstring Text(const MachineIdentityBytes& identity)
{
    WideString text;
    FormatIdentity(identity, text);
    return text.Text();
}

}  // namespace

TEST(MachineIdentity, NothingReadableGivesTheFixedPattern)
{
    FakeMachine machine;
    EXPECT_EQ(L"0010-0000-0000-ED02", Text(MachineIdentity(machine, IdentityPurpose::ProblemReport)));
    EXPECT_EQ(L"0010-0000-0000-EB04", Text(MachineIdentity(machine, IdentityPurpose::UpdateQuery)));
    machine.flags = WindowsRelease::Family95 | WindowsRelease::Win98;
    EXPECT_EQ(L"0010-0000-0000-ED02", Text(MachineIdentity(machine, IdentityPurpose::ProblemReport)));
}

TEST(MachineIdentity, SystemVersionByteSources)
{
    struct Case {
        const char* what;
        int wine, reactOS;
        long majorNumber, minorNumber;  // -1: absent
        const wchar_t* currentVersion;
        bool haveVersion;
        DWORD major, minor;
        BYTE expected;
    } cases[] = {
        {"Wine wins over everything", 1, 1, 10, 0, L"6.3", true, 6, 1, 1},
        {"ReactOS", 0, 1, 10, 0, L"6.3", true, 6, 1, 2},
        {"Windows 10 numbers", 0, 0, 10, 0, L"6.3", true, 6, 2, 0x0A},
        {"major without minor", 0, 0, 10, -1, nullptr, false, 0, 0, 0x0A},
        {"major zero falls to the text", 0, 0, 0, 5, L"6.1", true, 5, 1, 0x16},
        {"text", 0, 0, -1, -1, L"6.1", true, 5, 1, 0x16},
        {"unparsable text falls to the call", 0, 0, -1, -1, L"six", true, 5, 1, 0x15},
        {"one number is not enough", 0, 0, -1, -1, L"6", true, 5, 2, 0x25},
        {"major above 15 keeps its low bits", 0, 0, -1, -1, L"17.3", false, 0, 0, 0x31},
        {"nothing", 0, 0, -1, -1, nullptr, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        FakeMachine machine;
        machine.wine = c.wine;
        machine.reactOS = c.reactOS;
        if (c.majorNumber >= 0) machine.dwords[FakeMachine::Key(NtKey, L"CurrentMajorVersionNumber")] = c.majorNumber;
        if (c.minorNumber >= 0) machine.dwords[FakeMachine::Key(NtKey, L"CurrentMinorVersionNumber")] = c.minorNumber;
        if (c.currentVersion) machine.strings[FakeMachine::Key(NtKey, L"CurrentVersion")] = c.currentVersion;
        machine.haveVersion = c.haveVersion;
        machine.major = c.major;
        machine.minor = c.minor;
        EXPECT_EQ(c.expected, SystemVersionByte(machine)) << c.what;
    }
}

TEST(MachineIdentity, FoldsOfVolumeProductAndDisk)
{
    EXPECT_EQ(0x12 ^ 0x34 ^ 0x56 ^ 0x78, VolumeByte(0x12345678));
    FakeMachine machine;
    machine.haveSerial = true;
    machine.serial = 0xA1B2C3D4;
    EXPECT_EQ(0xA1 ^ 0xB2 ^ 0xC3 ^ 0xD4, VolumeIdentityByte(machine));

    // The product id: the sum of the low bytes of its characters, from the 64-bit view on NT.
    machine.strings[FakeMachine::Key(NtKey, L"ProductId")] = L"00371-OEM-\u01418";
    BYTE expected = 0;
    for (wchar_t c : std::wstring(L"00371-OEM-\u01418")) expected = (BYTE)(expected + (BYTE)c);
    EXPECT_EQ(expected, ProductIdByte(machine));
    EXPECT_EQ(FakeMachine::Key(NtKey, L"ProductId"), machine.view64Read);
    machine.flags = WindowsRelease::Family95;
    EXPECT_EQ(0, ProductIdByte(machine)) << "the 95 family reads another key";
    machine.strings[FakeMachine::Key(L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProductId")] = L"AB";
    EXPECT_EQ((BYTE)('A' + 'B'), ProductIdByte(machine));
    EXPECT_EQ(0, DiskByte(machine)) << "no disk byte on the 95 family";

    // Disks: the enumeration first, then SCSI units until a target is missing.
    FakeMachine disks;
    const wchar_t* enumKey = L"SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum";
    disks.dwords[FakeMachine::Key(enumKey, L"Count")] = 3;
    disks.strings[FakeMachine::Key(enumKey, L"0")] = L"IDE\\Disk";
    disks.strings[FakeMachine::Key(enumKey, L"2")] = L"USB";
    EXPECT_EQ(SumOfLowBytes(L"IDE\\DiskUSB"), DiskByte(disks)) << "a missing entry adds nothing";

    FakeMachine scsi;
    scsi.dwords[FakeMachine::Key(enumKey, L"Count")] = 2;  // but no entry can be read
    const wchar_t* unit00 = L"HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0";
    const wchar_t* unit01 = L"HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0";
    const wchar_t* unit03 = L"HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 3\\Logical Unit Id 0";
    const wchar_t* unit90 = L"HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 9\\Scsi Bus 9\\Target Id 0\\Logical Unit Id 0";
    scsi.keys[unit00] = scsi.keys[unit01] = scsi.keys[unit03] = scsi.keys[unit90] = true;
    scsi.strings[FakeMachine::Key(unit00, L"Identifier")] = L"Disk0";
    scsi.strings[FakeMachine::Key(unit03, L"Identifier")] = L"Unreached";
    scsi.strings[FakeMachine::Key(unit90, L"Identifier")] = L"Last";
    EXPECT_EQ((BYTE)(SumOfLowBytes(L"Disk0") + SumOfLowBytes(L"Last")), DiskByte(scsi))
        << "target 2 is missing, so target 3 is never read";

    FakeMachine unitWithoutName;
    unitWithoutName.keys[unit00] = true;
    EXPECT_EQ(0, DiskByte(unitWithoutName));

    // A hostile count is read only so far.
    FakeMachine huge;
    huge.dwords[FakeMachine::Key(enumKey, L"Count")] = 0xFFFFFFFF;
    huge.strings[FakeMachine::Key(enumKey, L"1")] = L"x";
    EXPECT_EQ((BYTE)'x', DiskByte(huge));
    EXPECT_LE(huge.stringReads, 2000);
}

TEST(MachineIdentity, NetworkSourcesInOrder)
{
    const wchar_t* wga = L"SOFTWARE\\Microsoft\\Windows Genuine Advantage";
    const wchar_t* rpc = L"SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData";
    const std::string mac("\x00\x1B\x21\x3C\x4D\x5E", 6);
    BYTE binary = 0x00 ^ 0x1B ^ 0x21 ^ 0x3C ^ 0x4D ^ 0x5E;

    FakeMachine machine;
    machine.strings[FakeMachine::Key(NtKey, L"ProductId")] = L"PID";
    EXPECT_EQ(XorOfLowBytes(L"PID"), NetworkByte(machine)) << "the product id comes last";
    machine.haveAdapter = true;
    machine.adapter = L"00:1b:21:3c:4d:5e";
    EXPECT_EQ(XorOfLowBytes(L"00:1b:21:3c:4d:5e"), NetworkByte(machine)) << "WMI before the product id";
    machine.binaries[FakeMachine::Key(rpc, L"NetworkAddress")] = mac;
    EXPECT_EQ(binary, NetworkByte(machine)) << "the RPC address before WMI";
    EXPECT_NE(XorOfLowBytes(L"00:1b:21:3c:4d:5e"), binary) << "text and binary of one address differ";
    machine.strings[FakeMachine::Key(wga, L"MAC")] = L"00-1B-21-3C-4D-5E";
    EXPECT_EQ(XorOfLowBytes(L"00-1B-21-3C-4D-5E"), NetworkByte(machine)) << "the stored MAC text first";

    FakeMachine old;
    old.flags = WindowsRelease::Family95 | WindowsRelease::Win95;
    old.strings[FakeMachine::Key(wga, L"MAC")] = L"ignored on the 95 family";
    old.strings[FakeMachine::Key(L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProductId")] = L"95";
    EXPECT_EQ(XorOfLowBytes(L"95"), NetworkByte(old));
    old.binaries[FakeMachine::Key(L"System\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo00", L"HardwareAddress")] =
        mac;
    EXPECT_EQ(binary, NetworkByte(old));
}

TEST(MachineIdentity, BytesCheckByteAndText)
{
    FakeMachine machine;
    machine.haveSerial = true;
    machine.serial = 0x0000AB00;
    machine.wine = 1;
    MachineIdentityBytes identity = MachineIdentity(machine, IdentityPurpose::UpdateQuery);
    EXPECT_EQ(0x10, identity.bytes[0]);
    EXPECT_EQ(0, identity.bytes[1]);
    EXPECT_EQ(1, identity.bytes[2]);
    EXPECT_EQ(0xAB, identity.bytes[3]);
    EXPECT_EQ(4, identity.bytes[6]);
    BYTE check = 0;
    for (int i = 0; i < 7; i++) check ^= (BYTE)~identity.bytes[i];
    EXPECT_EQ(check, identity.bytes[7]);
    EXPECT_EQ(L"0010-AB01-0000-", Text(identity).substr(0, 15)) << "little-endian words";
}

TEST(MachineIdentity, RealMachineIsStableAndDiffersOnlyByPurpose)
{
    WideString report, update, again;
    ASSERT_EQ(1, MachineIdentity(report, IdentityPurpose::ProblemReport));
    ASSERT_EQ(1, MachineIdentity(update, IdentityPurpose::UpdateQuery));
    ASSERT_EQ(1, MachineIdentity(again, IdentityPurpose::ProblemReport));
    ASSERT_EQ(19, report.Length());
    EXPECT_STREQ(report.Text(), again.Text());
    EXPECT_EQ(0, wcsncmp(report.Text(), update.Text(), 15)) << report.Text() << " " << update.Text();
    EXPECT_STRNE(report.Text() + 15, update.Text() + 15);
    EXPECT_EQ(0, wcsncmp(report.Text() + 2, L"10-", 3)) << "the first group ends in 10";
    MachineIdentityBytes bytes = MachineIdentity(IdentityPurpose::ProblemReport);
    EXPECT_EQ(1, bytes.bytes[2]) << "Wine is told apart";
}
