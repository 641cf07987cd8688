#include "harness/Harness.h"

#include <stdio.h>
#include <stdlib.h>

#include <commctrl.h>

#include <vector>

namespace harness {

namespace {

std::string Env(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

std::wstring Widen(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0);
    std::wstring wide((size_t)n, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), &wide[0], n);
    return wide;
}

std::string Narrow(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string narrow((size_t)n, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &narrow[0], n, nullptr, nullptr);
    return narrow;
}

std::wstring WithSlash(std::wstring path)
{
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path;
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM parameter)
{
    WindowSearch* search = (WindowSearch*)parameter;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !IsWindowVisible(window)) return TRUE;
    if (search->className) {
        wchar_t name[256];
        if (!GetClassNameW(window, name, 256) || wcscmp(name, search->className) != 0) return TRUE;
    }
    search->found = window;
    return FALSE;
}

}  // namespace

std::wstring WindowsPath(const std::string& unixPath)
{
    std::wstring path = L"Z:" + Widen(unixPath);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::string UnixPath(const std::wstring& windowsPath)
{
    typedef char*(CDECL * UnixNameFunction)(LPCWSTR);
    UnixNameFunction unixName =
        (UnixNameFunction)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (unixName) {
        char* name = unixName(windowsPath.c_str());
        if (name) {
            std::string result = name;
            HeapFree(GetProcessHeap(), 0, name);
            return result;
        }
    }
    std::wstring path = windowsPath;
    if (path.size() >= 2 && (path[0] == L'Z' || path[0] == L'z') && path[1] == L':') path = path.substr(2);
    for (wchar_t& c : path)
        if (c == L'\\') c = L'/';
    return Narrow(path);
}

std::wstring SourceDir()
{
    return WithSlash(WindowsPath(Env("ORVANE_SOURCE_DIR")));
}

std::wstring BuildDir()
{
    return WithSlash(WindowsPath(Env("ORVANE_BUILD_DIR")));
}

std::wstring ScratchDir(const wchar_t* name)
{
    std::wstring root = BuildDir() + L"scratch\\";
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring folder = root + name;
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    return WithSlash(folder);
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

bool StartUnix(const std::wstring& commandLine)
{
    // Through unix_start.exe, which ends at once: what Wine keeps of every Unix program a
    // process starts (descriptors of its binary and of the current folder) goes with it
    // instead of piling up here.
    std::wstring command = L"\"" + BuildDir() + L"bin\\unix_start.exe\" " + commandLine;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // A start that did not end in time is ended here: it must not start the command later.
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    } else if (!GetExitCodeProcess(process.hProcess, &code)) {
        code = 1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0;
}

bool X86Emulated()
{
    char value[32];
    return GetEnvironmentVariableA("ORVANE_X86_EMULATOR", value, sizeof(value)) > 0;
}

DWORD AccessFaultCode()
{
    return X86Emulated() ? 0xC000001D : 0xC0000005;
}

int RunUnix(const std::wstring& commandLine, DWORD timeout)
{
    // Wine does not follow a Unix child to its end, so the command writes its exit status
    // into a marker file that is polled here.
    static LONG counter = 0;
    wchar_t name[64];
    swprintf(name, 64, L"unix-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
    std::wstring folder = ScratchDir(name);
    std::wstring marker = folder + L"status";
    std::wstring unixMarker = Widen(UnixPath(marker));
    std::wstring command = L"/bin/sh -c \"" + commandLine + L"; echo $? > " + unixMarker + L".tmp && mv " +
                           unixMarker + L".tmp " + unixMarker + L"\"";
    if (!StartUnix(command)) return -1;
    int status = -1;
    DWORD start = GetTickCount();
    do {
        std::string text = ReadFileBytes(marker);
        if (!text.empty()) {
            status = atoi(text.c_str());
            break;
        }
        Sleep(20);
    } while (GetTickCount() - start < timeout);
    RemoveTree(folder.substr(0, folder.size() - 1));
    return status;
}

bool HttpFixture::Start(const std::wstring& routesFile, const wchar_t* script)
{
    Stop();
    static LONG counter = 0;
    wchar_t name[64];
    swprintf(name, 64, L"http-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
    m_folder = ScratchDir(name);
    std::wstring portFile = m_folder + L"port";
    // Its own output goes to a file: a server that outlives a crashed test must not hold
    // the test runner's pipes open.
    std::wstring command = L"/bin/sh -c \"exec /usr/bin/python3 " +
                           Widen(UnixPath(SourceDir() + L"tests\\harness\\" + script)) + L" --routes " +
                           Widen(UnixPath(routesFile)) + L" --port-file " + Widen(UnixPath(portFile)) + L" --log " +
                           Widen(UnixPath(m_folder + L"requests.log")) + L" </dev/null >" +
                           Widen(UnixPath(m_folder + L"server.out")) + L" 2>&1\"";
    if (!StartUnix(command)) return false;
    for (int i = 0; i < 200; i++) {
        std::string text = ReadFileBytes(portFile);
        if (!text.empty() && text.back() == '\n') {
            m_port = atoi(text.c_str());
            return m_port > 0;
        }
        Sleep(50);
    }
    return false;
}

void HttpFixture::Stop()
{
    if (m_port == 0) return;
    // The server ends on this request; it also ends by itself after a while.
    HANDLE stopFile = CreateFileW((m_folder + L"stop").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (stopFile != INVALID_HANDLE_VALUE) CloseHandle(stopFile);
    for (int i = 0; i < 100; i++) {
        if (GetFileAttributesW((m_folder + L"stopped").c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(50);
    }
    m_port = 0;
}

std::wstring HttpFixture::Url(const wchar_t* path) const
{
    wchar_t url[512];
    swprintf(url, 512, L"http://127.0.0.1:%d%ls", m_port, path);
    return url;
}

std::string HttpFixture::RequestLog() const
{
    return ReadFileBytes(m_folder + L"requests.log");
}

std::string LoggedRequest::Header(const std::string& name) const
{
    size_t at = 0;
    while (at < headers.size()) {
        size_t end = headers.find("\r\n", at);
        if (end == std::string::npos) end = headers.size();
        std::string line = headers.substr(at, end - at);
        if (line.size() > name.size() && _strnicmp(line.c_str(), name.c_str(), name.size()) == 0 &&
            line[name.size()] == ':') {
            size_t value = name.size() + 1;
            while (value < line.size() && line[value] == ' ') value++;
            return line.substr(value);
        }
        at = end + 2;
    }
    return "";
}

std::vector<LoggedRequest> ParseRequestLog(const std::string& log)
{
    // Each entry: "=== METHOD PATH LENGTH\r\n", the headers, an empty line, LENGTH body bytes, "\r\n".
    std::vector<LoggedRequest> requests;
    size_t at = 0;
    while (log.compare(at, 4, "=== ") == 0) {
        size_t lineEnd = log.find("\r\n", at);
        if (lineEnd == std::string::npos) break;
        std::string line = log.substr(at + 4, lineEnd - at - 4);
        size_t first = line.find(' '), last = line.rfind(' ');
        if (first == std::string::npos || last <= first) break;
        LoggedRequest request;
        request.method = line.substr(0, first);
        request.path = line.substr(first + 1, last - first - 1);
        size_t length = (size_t)atol(line.c_str() + last + 1);
        size_t headersEnd = log.find("\r\n\r\n", lineEnd);
        if (headersEnd == std::string::npos) break;
        request.headers = log.substr(lineEnd + 2, headersEnd + 2 - (lineEnd + 2));
        if (headersEnd + 4 + length > log.size()) break;
        request.body = log.substr(headersEnd + 4, length);
        requests.push_back(request);
        at = headersEnd + 4 + length + 2;
    }
    return requests;
}

bool GuiProgram::Start(const std::wstring& program, const std::wstring& arguments)
{
    Terminate();
    std::wstring command = L"\"" + program + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &m_process)) {
        ZeroMemory(&m_process, sizeof(m_process));
        return false;
    }
    WaitForInputIdle(m_process.hProcess, 10000);
    return true;
}

HWND GuiProgram::WaitForWindow(const wchar_t* className, DWORD timeout)
{
    if (!m_process.hProcess) return nullptr;
    DWORD start = GetTickCount();
    do {
        WindowSearch search = {m_process.dwProcessId, className, nullptr};
        EnumWindows(FindProcessWindow, (LPARAM)&search);
        if (search.found) return search.found;
        if (WaitForSingleObject(m_process.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
    } while (GetTickCount() - start < timeout);
    return nullptr;
}

long GuiProgram::WaitForExit(DWORD timeout)
{
    if (!m_process.hProcess) return -1;
    if (WaitForSingleObject(m_process.hProcess, timeout) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_process.hProcess, &code);
    return (long)code;
}

void GuiProgram::Terminate()
{
    if (!m_process.hProcess) return;
    if (WaitForSingleObject(m_process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(m_process.hProcess, 1);
        WaitForSingleObject(m_process.hProcess, 5000);
    }
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
    ZeroMemory(&m_process, sizeof(m_process));
}

namespace {

bool ReadTreeOnce(HWND tree, std::vector<TreeRowInfo>& rows)
{
    rows.clear();
    DWORD processId = 0;
    GetWindowThreadProcessId(tree, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) return false;
    const SIZE_T textCapacity = 1024;
    BYTE* remote = (BYTE*)VirtualAllocEx(process, nullptr, sizeof(TVITEMW) + textCapacity * sizeof(wchar_t),
                                         MEM_COMMIT, PAGE_READWRITE);
    if (!remote) {
        CloseHandle(process);
        return false;
    }
    bool ok = true;
    struct Pending {
        HTREEITEM item;
        int level;
    };
    std::vector<Pending> stack;
    HTREEITEM first = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    // Siblings are pushed in reverse so that they come off the stack in order.
    auto pushSiblings = [&](HTREEITEM item, int level) {
        std::vector<HTREEITEM> siblings;
        for (; item; item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item))
            siblings.push_back(item);
        for (auto it = siblings.rbegin(); it != siblings.rend(); ++it) stack.push_back(Pending{*it, level});
    };
    pushSiblings(first, 0);
    while (ok && !stack.empty()) {
        Pending pending = stack.back();
        stack.pop_back();
        TVITEMW item = {};
        item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_STATE | TVIF_HANDLE;
        item.hItem = pending.item;
        item.stateMask = TVIS_SELECTED | TVIS_EXPANDED;
        item.pszText = (wchar_t*)(remote + sizeof(TVITEMW));
        item.cchTextMax = (int)textCapacity;
        SIZE_T moved = 0;
        ok = WriteProcessMemory(process, remote, &item, sizeof(item), &moved) &&
             SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)remote);
        std::vector<wchar_t> text(textCapacity + 1, L'\0');
        ok = ok && ReadProcessMemory(process, remote, &item, sizeof(item), &moved) &&
             ReadProcessMemory(process, remote + sizeof(TVITEMW), text.data(), textCapacity * sizeof(wchar_t), &moved);
        if (!ok) break;
        rows.push_back(TreeRowInfo{pending.level, text.data(), item.iImage, (item.state & TVIS_SELECTED) != 0,
                                   (item.state & TVIS_EXPANDED) != 0});
        pushSiblings((HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)pending.item),
                     pending.level + 1);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return ok;
}

}  // namespace

bool ReadTree(HWND tree, std::vector<TreeRowInfo>& rows)
{
    // A rebuild in the other process may delete rows while they are read: read again.
    for (int attempt = 0; attempt < 10; attempt++) {
        if (ReadTreeOnce(tree, rows)) return true;
        Sleep(30);
    }
    return false;
}

bool TakeScreenshot(const std::wstring& path)
{
    DeleteFileW(path.c_str());
    std::wstring command = L"/usr/bin/import -window root -depth 8 " + Widen(UnixPath(path));
    if (RunUnix(command, 30000) != 0) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > 0;
}

bool Image::Load(const std::wstring& ppmPath)
{
    std::string bytes = ReadFileBytes(ppmPath);
    int maxValue = 0, offset = 0;
    if (sscanf(bytes.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &offset) != 3 || maxValue != 255) return false;
    offset++;  // the single white-space character after the header
    size_t size = (size_t)width * (size_t)height * 3;
    if (width <= 0 || height <= 0 || bytes.size() < (size_t)offset + size) return false;
    pixels = bytes.substr((size_t)offset, size);
    return true;
}

unsigned long Image::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    const unsigned char* p = (const unsigned char*)pixels.data() + ((size_t)y * (size_t)width + (size_t)x) * 3;
    return ((unsigned long)p[0] << 16) | ((unsigned long)p[1] << 8) | p[2];
}

int Image::Count(const RECT& area, unsigned long rgb) const
{
    int count = 0;
    for (int y = area.top; y < area.bottom; y++)
        for (int x = area.left; x < area.right; x++)
            if (Pixel(x, y) == rgb) count++;
    return count;
}

bool CaptureScreen(Image& image)
{
    static LONG counter = 0;
    wchar_t name[64];
    swprintf(name, 64, L"screen-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
    std::wstring folder = ScratchDir(name);
    std::wstring path = folder + L"screen.ppm";
    bool ok = TakeScreenshot(path) && image.Load(path);
    RemoveTree(folder.substr(0, folder.size() - 1));
    return ok;
}

}  // namespace harness

namespace harness {

namespace {
const wchar_t* const InternetSettings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
}

SystemProxy::SystemProxy(int port) : m_enable(0), m_hadEnable(false), m_hadServer(false)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, InternetSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    DWORD size = sizeof(m_enable);
    m_hadEnable = RegQueryValueExW(key, L"ProxyEnable", nullptr, nullptr, (BYTE*)&m_enable, &size) == ERROR_SUCCESS;
    wchar_t server[256] = {0};
    size = sizeof(server) - sizeof(wchar_t);
    m_hadServer = RegQueryValueExW(key, L"ProxyServer", nullptr, nullptr, (BYTE*)server, &size) == ERROR_SUCCESS;
    m_server = server;
    DWORD enable = 1;
    wchar_t proxy[64];
    swprintf(proxy, 64, L"127.0.0.1:%d", port);
    RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, (const BYTE*)&enable, sizeof(enable));
    RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, (const BYTE*)proxy, (DWORD)(wcslen(proxy) + 1) * 2);
    RegCloseKey(key);
}

SystemProxy::~SystemProxy()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, InternetSettings, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    if (m_hadEnable)
        RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, (const BYTE*)&m_enable, sizeof(m_enable));
    else
        RegDeleteValueW(key, L"ProxyEnable");
    if (m_hadServer)
        RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, (const BYTE*)m_server.c_str(),
                       (DWORD)(m_server.size() + 1) * 2);
    else
        RegDeleteValueW(key, L"ProxyServer");
    RegCloseKey(key);
}

}  // namespace harness

namespace harness {

namespace {

void ReadFolderTree(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, std::string>& tree)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + relative + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[relative + name + L"\\"] = "";
            ReadFolderTree(root, relative + name + L"\\", tree);
        } else {
            tree[relative + name] = ReadFileBytes(root + relative + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

std::map<std::wstring, std::string> ReadFolderTree(const std::wstring& folder)
{
    std::map<std::wstring, std::string> tree;
    ReadFolderTree(folder, L"", tree);
    return tree;
}

RecordingBrowser::RecordingBrowser(const std::wstring& record)
{
    RegCreateKeyW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", &m_key);
    wchar_t old[1024] = L"";
    DWORD size = sizeof(old) - 2;
    m_hadOld = RegQueryValueExW(m_key, nullptr, nullptr, nullptr, (BYTE*)old, &size) == ERROR_SUCCESS;
    m_old = old;
    std::wstring command = L"\"" + BuildDir() + L"bin\\record_arguments.exe\" \"%1\"";
    RegSetValueExW(m_key, nullptr, 0, REG_SZ, (const BYTE*)command.c_str(), (DWORD)((command.size() + 1) * 2));
    SetEnvironmentVariableW(L"ORVANE_RECORD_FILE", record.c_str());
}

RecordingBrowser::~RecordingBrowser()
{
    if (m_hadOld)
        RegSetValueExW(m_key, nullptr, 0, REG_SZ, (const BYTE*)m_old.c_str(), (DWORD)((m_old.size() + 1) * 2));
    else
        RegDeleteValueW(m_key, nullptr);
    RegCloseKey(m_key);
    SetEnvironmentVariableW(L"ORVANE_RECORD_FILE", nullptr);
}

}  // namespace harness
