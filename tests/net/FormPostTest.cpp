// Multipart form posts and the general request, as a loopback server receives them.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "harness/Harness.h"
#include "net/HttpClient.h"
#include "net/NetTest.h"

namespace {

using nettest::Ansi;
using nettest::ClosingPart;
using nettest::EveryByte;
using nettest::FieldPart;
using nettest::FilePart;
using nettest::Server;

const char* const ContentType = "multipart/form-data; boundary=-----------------------------1234567890123";

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string Hex(const std::string& bytes)
{
    static const char Digits[] = "0123456789abcdef";
    std::string hex;
    for (char c : bytes) {
        hex += Digits[(BYTE)c >> 4];
        hex += Digits[(BYTE)c & 15];
    }
    return hex;
}

// Runs the standard library's multipart parser over a received body.
int ParseWithStandardLibrary(const Server& server, const harness::LoggedRequest& request,
                             const std::vector<std::string>& parts)
{
    std::wstring bodyFile = server.Folder() + L"received.bin";
    harness::WriteFileBytes(bodyFile, request.body);
    std::string command = "/usr/bin/python3 '" + harness::UnixPath(harness::SourceDir() + L"tests\\net\\check_multipart.py") +
                          "' '" + request.Header("Content-Type") + "' '" + harness::UnixPath(bodyFile) + "'";
    for (const std::string& part : parts) command += " '" + part + "'";
    command += " > '" + harness::UnixPath(server.Folder() + L"parser.out") + "' 2>&1";
    return harness::RunUnix(Wide(command));
}

}  // namespace

TEST(FormPost, BodyIsExactAndParsesAsMultipart)
{
    Server server(L"form-post");
    std::string dump = EveryByte(256 * 4);
    server.AddFile(L"Orvane_Debug.dmp", dump);
    server.AddFile(L"Orvane_Debug.txt", "Exception: access violation\r\n");
    server.AddFile(L"empty.txt", "");
    ASSERT_TRUE(server.Start(R"({"POST /services/tessel/report.php": {"body": "thanks"}})"));

    HttpClient client;
    ASSERT_EQ(1, client.AddFormField(L"a", L"r"));
    ASSERT_EQ(1, client.AddFormField(L"p", L"Orvane"));
    ASSERT_EQ(1, client.AddFormField(L"e", L"Caf\u00e9 \"quoted\"\r\nsecond line"));
    ASSERT_EQ(1, client.AddFormFile(L"d", (server.Folder() + L"Orvane_Debug.dmp").c_str()));
    ASSERT_EQ(0, client.AddFormFile(L"x", (server.Folder() + L"absent.txt").c_str()));
    ASSERT_EQ(1, client.AddFormFile(L"t", (server.Folder() + L"Orvane_Debug.txt").c_str()));
    ASSERT_EQ(1, client.AddFormFile(L"z", (server.Folder() + L"empty.txt").c_str()));

    // Each descriptor carries its own data, chained in the order added.
    int descriptors = 0;
    for (const INTERNET_BUFFERSW* d = client.FirstFormDescriptor(); d; d = d->Next) descriptors++;
    EXPECT_EQ(3 + 3 * 3, descriptors) << "three fields, three files of three parts; the absent file adds nothing";

    WideString answer;
    DWORD status = 0;
    ASSERT_EQ(1, client.PostForm(L"127.0.0.1", L"/services/tessel/report.php", L"", &answer, nullptr, 0, nullptr,
                                 nullptr, nullptr, nullptr, (INTERNET_PORT)server.Port(), INTERNET_SERVICE_HTTP,
                                 nullptr, nullptr, nullptr, &status));
    EXPECT_EQ(200u, status);
    EXPECT_STREQ(L"thanks", answer.Text());
    EXPECT_EQ(nullptr, client.FirstFormDescriptor()) << "the form is freed after the post";

    std::string expected = FieldPart("a", "r") + FieldPart("p", "Orvane") +
                           FieldPart("e", Ansi(L"Caf\u00e9 \"quoted\"\r\nsecond line")) +
                           FilePart("d", "Orvane_Debug.dmp", dump) +
                           FilePart("t", "Orvane_Debug.txt", "Exception: access violation\r\n") +
                           FilePart("z", "empty.txt", "") + ClosingPart();
    std::vector<harness::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    const harness::LoggedRequest& request = requests[0];
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ("/services/tessel/report.php", request.path);
    EXPECT_EQ(ContentType, request.Header("Content-Type"));
    EXPECT_EQ(std::to_string(expected.size()), request.Header("Content-Length")) << "the data total";
    EXPECT_EQ("", request.Header("Authorization"));
    EXPECT_TRUE(request.body == expected) << "body differs from the form's wire format";

    EXPECT_EQ(0, ParseWithStandardLibrary(server, request,
                                          {"field:a=" + Hex("r"), "field:p=" + Hex("Orvane"),
                                           "field:e=" + Hex(Ansi(L"Caf\u00e9 \"quoted\"\r\nsecond line")),
                                           "file:d=Orvane_Debug.dmp=" + harness::UnixPath(server.Folder() + L"Orvane_Debug.dmp"),
                                           "file:t=Orvane_Debug.txt=" + harness::UnixPath(server.Folder() + L"Orvane_Debug.txt"),
                                           "file:z=empty.txt=" + harness::UnixPath(server.Folder() + L"empty.txt")}))
        << harness::ReadFileBytes(server.Folder() + L"parser.out");
}

TEST(FormPost, EmptyFormCredentialsAndProxy)
{
    Server server(L"form-empty");
    ASSERT_TRUE(server.Start(R"({"POST /services/tessel/report.php": {"body": "ok"}})"));
    HttpClient client;
    WideString answer;
    ASSERT_EQ(1, client.PostForm(L"127.0.0.1", L"/services/tessel/report.php", L"", &answer, nullptr, 0, nullptr,
                                 nullptr, nullptr, nullptr, (INTERNET_PORT)server.Port()));

    // Credentials go out as Basic authorization of their ANSI bytes.
    ASSERT_EQ(1, client.AddFormField(L"a", L"r"));
    ASSERT_EQ(1, client.PostForm(L"127.0.0.1", L"/services/tessel/report.php", L"", &answer, nullptr, 0, L"maker",
                                 L"p\u00e4ss:word", nullptr, nullptr, (INTERNET_PORT)server.Port()));

    // Through a named proxy the maker's host is asked by its own name.
    wchar_t proxy[64];
    swprintf(proxy, 64, L"127.0.0.1:%d", server.Port());
    ASSERT_EQ(1, client.AddFormField(L"a", L"r"));
    ASSERT_EQ(1, client.PostForm(L"report.halvik.example", L"/services/tessel/report.php", L"", &answer, nullptr, 0,
                                 nullptr, nullptr, nullptr, nullptr, 80, INTERNET_SERVICE_HTTP, nullptr, nullptr,
                                 nullptr, nullptr, 0, 0, proxy));
    EXPECT_STREQ(L"ok", answer.Text());

    std::vector<harness::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(ClosingPart(), requests[0].body) << "a form without fields is the closing part alone";
    EXPECT_EQ("48", requests[0].Header("Content-Length"));

    std::string credentials = Ansi(L"maker:p\u00e4ss:word");
    WideString encoded;
    ASSERT_EQ(1, Base64Encode(credentials.data(), credentials.size(), encoded));
    std::string basic;
    for (int i = 0; i < encoded.Length(); i++) basic += (char)encoded.At(i);
    EXPECT_EQ("Basic " + basic, requests[1].Header("Authorization"));
    EXPECT_EQ(ContentType, requests[1].Header("Content-Type"));
    EXPECT_EQ(FieldPart("a", "r") + ClosingPart(), requests[1].body);

    EXPECT_EQ("http://report.halvik.example:80/services/tessel/report.php", requests[2].path);
    EXPECT_EQ("report.halvik.example", requests[2].Header("Host"));
    EXPECT_EQ(FieldPart("a", "r") + ClosingPart(), requests[2].body);
}

TEST(SendRequest, SimpleSendReadsAnyStatusAndItsBody)
{
    Server server(L"send-request");
    ASSERT_TRUE(server.Start(R"({
        "GET /gone": {"status": 404, "body": "not here"},
        "PUT /data": {"body": "stored"},
        "GET /garbage": {"raw": "garbage\r\n"}
    })"));
    HttpClient client;
    WideString out;
    DWORD status = 0;
    HttpRequest request;
    request.server = L"127.0.0.1";
    request.port = (INTERNET_PORT)server.Port();
    request.verb = L"GET";
    request.path = L"/gone";
    request.agent = L"Agent";
    request.outText = &out;
    request.outStatus = &status;
    EXPECT_EQ(1, client.SendRequest(request));
    EXPECT_EQ(404u, status);
    EXPECT_STREQ(L"not here", out.Text());

    request.verb = L"PUT";
    request.path = L"/data";
    request.headers = L"X-Extra: yes\r\n";
    request.optionalData = "payload";
    request.optionalLength = 7;
    request.byteLimit = 3;
    EXPECT_EQ(1, client.SendRequest(request));
    EXPECT_EQ(200u, status);
    EXPECT_STREQ(L"sto", out.Text()) << "the byte limit";

    request.verb = L"GET";
    request.path = L"/garbage";
    request.headers = nullptr;
    request.optionalData = nullptr;
    request.optionalLength = 0;
    request.byteLimit = 0;
    out = L"stale";
    client.SendRequest(request);
    EXPECT_EQ(-1, out.Find(L"garbage")) << "an answer that is not HTTP is no body";

    request.service = 99;
    EXPECT_EQ(0, client.SendRequest(request)) << "an unknown service";

    std::vector<harness::LoggedRequest> requests = server.Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ("Agent", requests[0].Header("User-Agent"));
    EXPECT_EQ("yes", requests[1].Header("X-Extra"));
    EXPECT_EQ("payload", requests[1].body);
}

TEST(FormPost, ProxyCredentialsResendTheWholeBody)
{
    Server server(L"form-407");
    ASSERT_TRUE(server.Start(R"({"POST /services/tessel/report.php": {"body": "ok", "proxy_auth": "maker:secret"}})"));
    wchar_t proxy[64];
    swprintf(proxy, 64, L"127.0.0.1:%d", server.Port());
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(nullptr, owner);
    HttpClient client;
    WideString answer;
    DWORD status = 0;
    ASSERT_EQ(1, client.AddFormField(L"a", L"r"));
    ASSERT_EQ(1, client.AddFormField(L"p", L"Orvane"));
    {
        nettest::CredentialDialogAnswerer right(L"maker", L"secret");
        client.PostForm(L"report.halvik.example", L"/services/tessel/report.php", L"", &answer, owner, 0, nullptr,
                        nullptr, nullptr, nullptr, 80, INTERNET_SERVICE_HTTP, nullptr, nullptr, nullptr, &status, 0, 0,
                        proxy);
        EXPECT_EQ(1, right.Dialogs());
    }
    DestroyWindow(owner);
    // Whether the credentials go out with the repeat is the system library's part (this
    // one's does not add them to a streamed post); the repeat itself must carry the form.
    std::vector<harness::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    for (const harness::LoggedRequest& request : requests)
        EXPECT_EQ(FieldPart("a", "r") + FieldPart("p", "Orvane") + ClosingPart(), request.body)
        << "the repeat after the dialog carries the form again";
}

TEST(SendRequest, FtpFileIsReadWhole)
{
    std::wstring folder = harness::ScratchDir(L"ftp-request");
    std::string body = EveryByte(100000);
    harness::WriteFileBytes(folder + L"file.bin", body);
    harness::WriteFileBytes(folder + L"files.json", R"({"/pub/file.bin": "file.bin"})");
    harness::HttpFixture ftp;
    ASSERT_TRUE(ftp.Start(folder + L"files.json", L"ftp_fixture.py"));
    HttpClient client;
    WideString out;
    HttpRequest request;
    request.server = L"127.0.0.1";
    request.port = (INTERNET_PORT)ftp.Port();
    request.service = INTERNET_SERVICE_FTP;
    request.path = L"/pub/file.bin";
    request.agent = L"Agent";
    request.userName = L"anonymous";
    request.password = L"orvane@";
    request.outText = &out;
    EXPECT_EQ(1, client.SendRequest(request));
    EXPECT_TRUE(nettest::Text(out) == nettest::Widened(body));
    EXPECT_NE(std::string::npos, ftp.RequestLog().find("RETR /pub/file.bin"));
    request.path = L"/pub/absent.bin";
    EXPECT_EQ(0, client.SendRequest(request));
}

TEST(FormPost, BodyLengthsThatWouldWrapAreRefused)
{
    // The body's length goes out as one 32-bit count (WinINet's buffer totals).
    struct {
        DWORD total, length;
        bool fits;
        DWORD sum;
    } cases[] = {
        {0, 0, true, 0},
        {48, 100, true, 148},
        {0x7FFFFFFE, 0x7FFFFFFE, true, 0xFFFFFFFC},
        {0xFFFFFFFF, 0, true, 0xFFFFFFFF},
        {0xFFFFFFFF, 1, false, 0xFFFFFFFF},
        {0x80000000, 0x80000000, false, 0x80000000},
        {0x7FFFFFFE, 0x80000010, false, 0x7FFFFFFE},
    };
    for (const auto& c : cases) {
        DWORD total = c.total;
        EXPECT_EQ(c.fits, AddFormLength(total, c.length)) << c.total << " + " << c.length;
        EXPECT_EQ(c.sum, total) << "a refused length leaves the total as it was";
    }
}
