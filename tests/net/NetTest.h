// Helpers of the network tests: bodies with every byte value and a fixture server with
// its routes and body files in a scratch folder of its own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/WideString.h"
#include "harness/Harness.h"

namespace nettest {

inline std::string EveryByte(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++) bytes[i] = (char)(BYTE)(i * 7 + i / 256);
    return bytes;
}

// A text in the ANSI code page, as the program sends it.
inline std::string Ansi(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string bytes(n > 0 ? (size_t)n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.c_str(), (int)text.size(), &bytes[0], n, nullptr, nullptr);
    return bytes;
}

// The parts of a multipart form as a service receives them (the boundary written out
// here, not taken from the program).
const char* const FormBoundary = "-------------------------------1234567890123";

inline std::string FieldPart(const std::string& name, const std::string& value)
{
    return std::string(FormBoundary) + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

inline std::string FilePart(const std::string& name, const std::string& fileName, const std::string& content)
{
    return std::string(FormBoundary) + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
           fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
}

inline std::string ClosingPart()
{
    return std::string(FormBoundary) + "--\r\n";
}

inline std::wstring Widened(const std::string& bytes)
{
    std::wstring text;
    for (char c : bytes) text += (wchar_t)(BYTE)c;
    return text;
}

inline std::wstring Text(const WideString& text)
{
    return std::wstring(text.Text(), (size_t)text.Length());
}

inline bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A fixture server with its routes, written into a scratch folder with any body files.
class Server {
public:
    explicit Server(const wchar_t* name) : m_folder(harness::ScratchDir(name)) {}
    void AddFile(const std::wstring& name, const std::string& bytes) { harness::WriteFileBytes(m_folder + name, bytes); }
    bool Start(const std::string& routes)
    {
        harness::WriteFileBytes(m_folder + L"routes.json", routes);
        return m_fixture.Start(m_folder + L"routes.json");
    }
    std::wstring Url(const wchar_t* path) const { return m_fixture.Url(path); }
    int Port() const { return m_fixture.Port(); }
    std::vector<harness::LoggedRequest> Requests() const { return m_fixture.Requests(); }
    const std::wstring& Folder() const { return m_folder; }

private:
    std::wstring m_folder;
    harness::HttpFixture m_fixture;
};

// Answers the system's proxy-credential dialogs of this process from a thread of its own.
class CredentialDialogAnswerer {
public:
    CredentialDialogAnswerer(const wchar_t* user, const wchar_t* password)
        : m_user(user), m_password(password), m_dialogs(0), m_stop(false)
    {
        m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~CredentialDialogAnswerer()
    {
        m_stop = true;
        WaitForSingleObject(m_thread, 10000);
        CloseHandle(m_thread);
    }
    int Dialogs() const { return m_dialogs; }

private:
    static BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
    {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t name[64];
        if (process == GetCurrentProcessId() && IsWindowVisible(window) && GetClassNameW(window, name, 64) &&
            wcscmp(name, L"#32770") == 0) {
            *(HWND*)parameter = window;
            return FALSE;
        }
        return TRUE;
    }
    static BOOL CALLBACK CollectEdit(HWND window, LPARAM parameter)
    {
        wchar_t name[64];
        if (GetClassNameW(window, name, 64) && _wcsicmp(name, L"Edit") == 0)
            ((std::vector<HWND>*)parameter)->push_back(window);
        return TRUE;
    }
    static DWORD WINAPI Run(void* self)
    {
        CredentialDialogAnswerer* answerer = (CredentialDialogAnswerer*)self;
        while (!answerer->m_stop) {
            HWND dialog = nullptr;
            EnumWindows(FindDialog, (LPARAM)&dialog);
            if (dialog) {
                std::vector<HWND> edits;
                EnumChildWindows(dialog, CollectEdit, (LPARAM)&edits);
                if (answerer->m_user && edits.size() >= 2) {
                    SendMessageW(edits[0], WM_SETTEXT, 0, (LPARAM)answerer->m_user);
                    SendMessageW(edits[1], WM_SETTEXT, 0, (LPARAM)answerer->m_password);
                }
                answerer->m_dialogs++;
                SendMessageW(dialog, WM_COMMAND, answerer->m_user ? IDOK : IDCANCEL, 0);
                while (IsWindow(dialog) && !answerer->m_stop) Sleep(20);
            }
            Sleep(20);
        }
        return 0;
    }

    const wchar_t* m_user;
    const wchar_t* m_password;
    volatile LONG m_dialogs;
    volatile bool m_stop;
    HANDLE m_thread;
};

}  // namespace nettest
