// Helpers shared by the test suites: where things are, Unix commands started from the
// Windows side, the loopback HTTP fixture server, and GUI programs with screenshots.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace harness {

// Windows path of a Unix path (Wine maps the Unix root to drive Z:).
std::wstring WindowsPath(const std::string& unixPath);
// Unix path of a Windows path.
std::string UnixPath(const std::wstring& windowsPath);
// The source and build trees, as Windows paths ending in a backslash.
std::wstring SourceDir();
std::wstring BuildDir();
// A fresh, empty folder under the build tree for one test; ends in a backslash.
std::wstring ScratchDir(const wchar_t* name);
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
void RemoveTree(const std::wstring& path);
// Every file below a folder (ending in a backslash) by relative path, with its bytes;
// folders appear as "name\\" with no bytes.
std::map<std::wstring, std::string> ReadFolderTree(const std::wstring& folder);

// The exception code an access to unmapped memory raises here: 0xC0000005, except in the
// 32-bit lane, whose processor emulator hands every memory fault to Wine as an illegal
// instruction (0xC000001D, with no access address). The lane sets ORVANE_X86_EMULATOR.
bool X86Emulated();
DWORD AccessFaultCode();

// Starts a Unix program (a command line whose first word is its absolute path) without
// waiting for it; answers whether it started.
bool StartUnix(const std::wstring& commandLine);

// Runs a Unix shell command (no double quotes in it) and waits up to `timeout`
// milliseconds. Answers its exit status, or -1 when it could not start or did not end in time.
int RunUnix(const std::wstring& commandLine, DWORD timeout = 30000);

// One request as the fixture server logged it.
struct LoggedRequest {
    std::string method;
    std::string path;     // as sent: an absolute address when it came through a proxy
    std::string headers;  // the header lines, each ending in CR LF
    std::string body;
    // The value of the first header of that name (any case); empty when absent.
    std::string Header(const std::string& name) const;
};
std::vector<LoggedRequest> ParseRequestLog(const std::string& log);

// A Python HTTP server on 127.0.0.1 and a free port, answering from a JSON table of routes
// (tests/harness/http_fixture.py tells the format). Every request it receives is appended
// to a log.
class HttpFixture {
public:
    HttpFixture() : m_port(0) {}
    ~HttpFixture() { Stop(); }
    HttpFixture(const HttpFixture&) = delete;
    HttpFixture& operator=(const HttpFixture&) = delete;

    // `script`: the server below tests/harness (ftp_fixture.py serves files over FTP).
    bool Start(const std::wstring& routesFile, const wchar_t* script = L"http_fixture.py");
    void Stop();
    int Port() const { return m_port; }
    std::wstring Url(const wchar_t* path) const;
    // The requests received so far, as the server logged them.
    std::string RequestLog() const;
    std::vector<LoggedRequest> Requests() const { return ParseRequestLog(RequestLog()); }

private:
    int m_port;
    std::wstring m_folder;
};

// Routes this prefix's internet traffic through a proxy at 127.0.0.1:port for one scope
// (the way a user's machine configures one), then puts the settings back as they were.
// The maker's fixed addresses then reach a fixture server.
class SystemProxy {
public:
    explicit SystemProxy(int port);
    ~SystemProxy();
    SystemProxy(const SystemProxy&) = delete;
    SystemProxy& operator=(const SystemProxy&) = delete;

private:
    DWORD m_enable;
    std::wstring m_server;
    bool m_hadEnable;
    bool m_hadServer;
};

// Points the prefix's http handler at a recorder (record_arguments.exe, which writes its
// command line to `record`) for one scope; programs started meanwhile inherit the name.
class RecordingBrowser {
public:
    explicit RecordingBrowser(const std::wstring& record);
    ~RecordingBrowser();
    RecordingBrowser(const RecordingBrowser&) = delete;
    RecordingBrowser& operator=(const RecordingBrowser&) = delete;

private:
    HKEY m_key = nullptr;
    bool m_hadOld = false;
    std::wstring m_old;
};

// A GUI program started in the prefix; ended (if still running) on destruction.
class GuiProgram {
public:
    GuiProgram() { ZeroMemory(&m_process, sizeof(m_process)); }
    ~GuiProgram() { Terminate(); }
    GuiProgram(const GuiProgram&) = delete;
    GuiProgram& operator=(const GuiProgram&) = delete;

    bool Start(const std::wstring& program, const std::wstring& arguments = L"");
    // The first visible top-level window of the program (optionally of a class), within the time.
    HWND WaitForWindow(const wchar_t* className = nullptr, DWORD timeout = 20000);
    // Waits for the program's end; answers its exit code, or -1 on time-out.
    long WaitForExit(DWORD timeout = 20000);
    void Terminate();
    DWORD ProcessId() const { return m_process.dwProcessId; }

private:
    PROCESS_INFORMATION m_process;
};

// One row of another process's tree view.
struct TreeRowInfo {
    int level;
    std::wstring text;
    int image;
    bool selected;
    bool expanded;
};
// Reads every row of a tree view of another process, depth first, through memory of that
// process. A read that a rebuild of the tree interrupts is repeated. Answers false when
// the tree cannot be read.
bool ReadTree(HWND tree, std::vector<TreeRowInfo>& rows);

// Screenshot of the whole X screen into an image file; the format follows the extension
// (".png", or ".ppm" for a file Image can read).
bool TakeScreenshot(const std::wstring& path);

// An RGB picture of the screen.
struct Image {
    int width = 0;
    int height = 0;
    std::string pixels;  // 3 bytes per pixel, rows top down
    bool Load(const std::wstring& ppmPath);
    // 0xRRGGBB; 0 outside the picture.
    unsigned long Pixel(int x, int y) const;
    // Pixels of exactly this colour inside a rectangle.
    int Count(const RECT& area, unsigned long rgb) const;
};
bool CaptureScreen(Image& image);

}  // namespace harness
