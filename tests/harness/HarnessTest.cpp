// The harness's own checks: the loopback HTTP fixture and GUI programs with screenshots.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include "harness/Harness.h"

using namespace harness;

namespace {

struct Response {
    DWORD status = 0;
    std::string body;
    std::string header;
};

Response Fetch(const std::wstring& url, const char* method = "GET", const std::string& body = "")
{
    Response response;
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    wchar_t host[256], path[1024];
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 1024;
    if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return response;
    HINTERNET session = InternetOpenW(L"HarnessTest", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectW(session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    std::wstring verb(method, method + strlen(method));
    HINTERNET request = HttpOpenRequestW(connection, verb.c_str(), path, nullptr, nullptr, nullptr,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request && HttpSendRequestW(request, nullptr, 0, (void*)body.data(), (DWORD)body.size())) {
        DWORD size = sizeof(response.status);
        HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &response.status, &size, nullptr);
        char value[256] = "X-Fixture";
        size = sizeof(value);
        if (HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, value, &size, nullptr)) response.header.assign(value, size);
        char buffer[4096];
        DWORD read = 0;
        while (InternetReadFile(request, buffer, sizeof(buffer), &read) && read > 0) response.body.append(buffer, read);
    }
    if (request) InternetCloseHandle(request);
    if (connection) InternetCloseHandle(connection);
    if (session) InternetCloseHandle(session);
    return response;
}

}  // namespace

TEST(HttpFixture, AnswersRoutesAndLogsRequests)
{
    std::wstring folder = ScratchDir(L"fixture-routes");
    ASSERT_TRUE(WriteFileBytes(folder + L"answer.bin", std::string("\x00\x01\xff payload", 11)));
    ASSERT_TRUE(WriteFileBytes(folder + L"routes.json",
                               R"({"GET /hello": {"status": 200, "body": "hello world", "headers": {"X-Fixture": "yes"}},
                                   "GET /file": {"body_file": "answer.bin"},
                                   "POST /form": {"status": 201, "body": "taken"}})"));
    HttpFixture fixture;
    ASSERT_TRUE(fixture.Start(folder + L"routes.json"));
    EXPECT_GT(fixture.Port(), 0);

    Response hello = Fetch(fixture.Url(L"/hello?x=1"));
    EXPECT_EQ(200u, hello.status);
    EXPECT_EQ("hello world", hello.body);
    EXPECT_EQ("yes", hello.header);

    Response file = Fetch(fixture.Url(L"/file"));
    EXPECT_EQ(std::string("\x00\x01\xff payload", 11), file.body);

    EXPECT_EQ(404u, Fetch(fixture.Url(L"/nothing")).status);

    Response posted = Fetch(fixture.Url(L"/form"), "POST", std::string("a=1&b=\x00z", 8));
    EXPECT_EQ(201u, posted.status);
    EXPECT_EQ("taken", posted.body);

    std::string log = fixture.RequestLog();
    EXPECT_NE(std::string::npos, log.find("=== GET /hello?x=1 0\r\n"));
    EXPECT_NE(std::string::npos, log.find("=== POST /form 8\r\n"));
    EXPECT_NE(std::string::npos, log.find(std::string("a=1&b=\x00z", 8)));

    int port = fixture.Port();
    fixture.Stop();
    wchar_t url[64];
    swprintf(url, 64, L"http://127.0.0.1:%d/hello", port);
    EXPECT_EQ(0u, Fetch(url).status) << "the server still answers after Stop";
}

TEST(GuiProgram, FindsWindowTakesScreenshotAndReadsExitCode)
{
    GuiProgram program;
    ASSERT_TRUE(program.Start(BuildDir() + L"bin\\harness_window.exe", L"7"));
    HWND window = program.WaitForWindow(L"OrvaneHarnessWindow");
    ASSERT_NE(nullptr, window);
    Sleep(300);

    Image screen;
    ASSERT_TRUE(CaptureScreen(screen));
    EXPECT_GE(screen.width, 300);
    EXPECT_GE(screen.height, 250);
    RECT area = {100, 100, 300, 250};
    EXPECT_GT(screen.Count(area, 0x12C456), 200 * 150 * 9 / 10) << "the window's colour is not on the screen";
    RECT outside = {0, 0, 90, 90};
    EXPECT_EQ(0, screen.Count(outside, 0x12C456));

    std::wstring png = ScratchDir(L"screenshot-png") + L"shot.png";
    ASSERT_TRUE(TakeScreenshot(png));
    EXPECT_EQ(0, ReadFileBytes(png).compare(0, 8, "\x89PNG\r\n\x1a\n"));

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(7, program.WaitForExit());
}

TEST(GuiProgram, ACrashEndsTheProgramAtOnceWithItsExceptionCode)
{
    // No crash dialog may hold a crashed program (or a test) open.
    GuiProgram program;
    ASSERT_TRUE(program.Start(BuildDir() + L"bin\\harness_window.exe", L"crash"));
    long code = program.WaitForExit(20000);
    EXPECT_EQ((long)harness::AccessFaultCode(), code);
}

namespace {

// The descriptors the wineserver holds, as the server lists them (within Wine, files are
// opened by the server, which keeps a descriptor for every handle a process holds to a
// file, a leaked one included); -1 when they cannot be listed. Other Wine processes of the
// prefix stay idle meanwhile.
int OpenDescriptors()
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"Z:\\proc\\self\\fd\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    do {
        if (found.cFileName[0] != L'.') count++;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

}  // namespace

TEST(RunUnix, ManyCommandsLeaveThisProcessAsItWas)
{
    // A suite starts a few hundred Unix commands and fixture servers in one process: what
    // each leaves behind here adds up over a long suite.
    ASSERT_EQ(0, RunUnix(L"/bin/true"));
    int before = OpenDescriptors();
    if (before < 0) GTEST_SKIP() << "the wineserver's descriptors cannot be listed here";
    for (int i = 0; i < 30; i++) ASSERT_EQ(0, RunUnix(L"/bin/true")) << i;
    for (int i = 0; i < 5; i++) {
        HttpFixture fixture;
        std::wstring folder = ScratchDir(L"fixture-repeat");
        ASSERT_TRUE(WriteFileBytes(folder + L"routes.json", "{}"));
        ASSERT_TRUE(fixture.Start(folder + L"routes.json")) << i;
    }
    EXPECT_EQ(7, RunUnix(L"(exit 7)")) << "the exit status still comes back";
    int after = OpenDescriptors();
    EXPECT_LE(after, before + 3) << "the server's descriptors before " << before << ", after 36 commands and 5 servers " << after;
}
