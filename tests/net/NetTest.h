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

}  // namespace nettest
