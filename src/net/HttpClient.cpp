#include "net/HttpClient.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "common/SystemErrorText.h"
#include "common/Timing.h"

const char* const FormBoundaryLine = "-------------------------------1234567890123";

namespace {

const wchar_t* const FormContentType =
    L"Content-Type: multipart/form-data; boundary=-----------------------------1234567890123";
const wchar_t* const TextFieldFormat =
    L"-------------------------------1234567890123\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n";
const wchar_t* const FileHeadFormat =
    L"-------------------------------1234567890123\r\nContent-Disposition: form-data; name=\"%s\"; "
    L"filename=\"%s\"\r\nContent-Type: application/octet-stream\r\n\r\n";
const wchar_t* const AfterFileContent = L"\r\n";
const wchar_t* const ClosingPart = L"-------------------------------1234567890123--\r\n";
const wchar_t* const AcceptAllHeader = L"Accept: */*\r\n\r\n";
const wchar_t* const SecurePrefix = L"https://";

const DWORD FetchFlags = 0x84080B00;
const DWORD DownloadFlags = 0x8408CB00;
const DWORD RequestFlags = 0x84000300;
const DWORD IgnoredCertificateProblems = 0x3380;
const DWORD ExtendedSendFlags = 0x2C;  // HSR_SYNC | HSR_INITIATE | HSR_CHUNKED
const DWORD CredentialDialogFlags = 7;  // filter for errors, change options, generate data
const DWORD ResponseBlock = 65537;
const DWORD ResponseBuffer = 65538;
const DWORD DownloadBlock = 1024;
const DWORD HeaderBuffer = 1024;
const int MaxProxyAttempts = 2;

void RecordLastError()
{
    SystemErrorText(GetLastError());
}

// What is left of an optional byte limit (0: read to the end).
class ByteBudget {
public:
    explicit ByteBudget(DWORD limit) : m_limited(limit != 0), m_left(limit) {}
    DWORD Next(DWORD block) const { return m_limited && m_left < block ? m_left : block; }
    // Answers true when the limit is used up.
    bool Spend(DWORD bytes)
    {
        if (!m_limited) return false;
        m_left -= bytes < m_left ? bytes : m_left;
        return m_left == 0;
    }
    bool UsedUp() const { return m_limited && m_left == 0; }

private:
    bool m_limited;
    DWORD m_left;
};

// Sleeps so that `bytes` per block do not come faster than `pace` kilobytes per second.
void ApplyPace(Stopwatch& watch, DWORD bytes, DWORD pace)
{
    if (pace == 0) return;
    watch.Stop();
    LONGLONG wanted = (LONGLONG)bytes * 1000 / ((LONGLONG)1024 * pace);
    LONGLONG wait = wanted - (LONGLONG)watch.Milliseconds();
    if (wait > 0) Sleep((DWORD)wait);
    watch.Start();
}

// Widens bytes one by one: byte value n becomes the character of code n (a zero byte too).
// A zero byte is kept rather than ending its block there: cutting at it would drop the
// rest of whatever block the network happened to deliver with it, so the same answer
// would read differently from one connection to the next. Kept, the text is always the
// whole body, and a reader that wants to stop at a zero can do so itself.
int AppendBytes(WideString& text, const BYTE* bytes, DWORD count, wchar_t* wide)
{
    for (DWORD i = 0; i < count; i++) wide[i] = bytes[i];
    return text.Append(wide, (int)count);
}

int ParseLength(const wchar_t* text, LONGLONG& length)
{
    LONGLONG value = 0;
    if (swscanf(text, L"%I64d", &value) != 1 || value < 0) return 0;
    length = value;
    return 1;
}

}  // namespace

DWORD FetchOpenFlags(const wchar_t* url, bool sendCookies)
{
    DWORD flags = FetchFlags;
    if (url && _wcsnicmp(url, SecurePrefix, 8) == 0) flags |= INTERNET_FLAG_SECURE;
    if (sendCookies) flags &= ~INTERNET_FLAG_NO_COOKIES;
    return flags;
}

DWORD DownloadOpenFlags(bool sendCookies)
{
    return sendCookies ? DownloadFlags & ~INTERNET_FLAG_NO_COOKIES : DownloadFlags;
}

DWORD RequestOpenFlags(INTERNET_PORT port)
{
    return port == INTERNET_DEFAULT_HTTPS_PORT ? RequestFlags | INTERNET_FLAG_SECURE : RequestFlags;
}

int ApproveAll(int, UINT_PTR, void*)
{
    return 1;
}

int Base64Encode(const void* data, size_t size, WideString& out)
{
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.Clear();
    const BYTE* bytes = static_cast<const BYTE*>(data);
    size_t characters = (size + 2) / 3 * 4;
    if (characters > (size_t)WideString::FormatLimit) return 0;
    wchar_t* buffer = out.Buffer((int)characters + 1);
    if (!buffer) return 0;
    size_t n = 0;
    for (size_t i = 0; i < size; i += 3) {
        DWORD group = (DWORD)bytes[i] << 16;
        if (i + 1 < size) group |= (DWORD)bytes[i + 1] << 8;
        if (i + 2 < size) group |= bytes[i + 2];
        buffer[n++] = Alphabet[(group >> 18) & 63];
        buffer[n++] = Alphabet[(group >> 12) & 63];
        buffer[n++] = i + 1 < size ? Alphabet[(group >> 6) & 63] : L'=';
        buffer[n++] = i + 2 < size ? Alphabet[group & 63] : L'=';
    }
    buffer[n] = L'\0';
    out.SyncLength();
    return 1;
}

// One piece of a multipart body: a text (sent as its ANSI copy) or a mapped file.
struct HttpClient::FormPart {
    FileHolder file;
    WideString text;
    INTERNET_BUFFERSW descriptor;
    FormPart* next = nullptr;

    FormPart() { ZeroMemory(&descriptor, sizeof(descriptor)); descriptor.dwStructSize = sizeof(descriptor); }
};

void HttpClient::Handle::Close()
{
    // After a cancel the root was closed with everything under it; closing a handle again
    // could close one the library has since handed out anew.
    if (m_handle && !m_client.m_cancelled && m_client.m_internetCloseHandle) m_client.m_internetCloseHandle(m_handle);
    m_handle = nullptr;
}

HttpClient::HttpClient()
    : m_parts(nullptr), m_root(nullptr), m_cancelled(0), m_users(0), m_libraryName(L"wininet.dll"),
      m_httpSendRequest(nullptr), m_httpSendRequestEx(nullptr), m_httpAddRequestHeaders(nullptr),
      m_httpEndRequest(nullptr), m_internetGetCookie(nullptr), m_internetGetCookieEx(nullptr),
      m_internetSetCookie(nullptr), m_internetSetCookieEx(nullptr), m_internetQueryOption(nullptr),
      m_internetOpen(nullptr), m_httpOpenRequest(nullptr), m_ftpOpenFile(nullptr), m_internetSetOption(nullptr),
      m_internetErrorDlg(nullptr), m_httpQueryInfo(nullptr), m_internetConnect(nullptr),
      m_internetWriteFile(nullptr), m_internetReadFile(nullptr), m_internetCloseHandle(nullptr),
      m_internetOpenUrl(nullptr), m_internetCrackUrl(nullptr)
{
    m_rootLock.Initialise();
}

HttpClient::~HttpClient()
{
    FreeForm();
}

int HttpClient::Acquire()
{
    if (InterlockedIncrement(&m_users) > 1) return 1;
    struct Binding {
        const char* name;
        void* slot;
        bool optional;
    };
    const Binding bindings[] = {
        {"HttpSendRequestW", &m_httpSendRequest, false},
        {"HttpSendRequestExW", &m_httpSendRequestEx, false},
        {"HttpAddRequestHeadersW", &m_httpAddRequestHeaders, false},
        {"HttpEndRequestW", &m_httpEndRequest, false},
        {"InternetGetCookieW", &m_internetGetCookie, false},
        {"InternetGetCookieExW", &m_internetGetCookieEx, true},
        {"InternetSetCookieW", &m_internetSetCookie, false},
        {"InternetSetCookieExW", &m_internetSetCookieEx, true},
        {"InternetQueryOptionW", &m_internetQueryOption, false},
        {"InternetOpenW", &m_internetOpen, false},
        {"HttpOpenRequestW", &m_httpOpenRequest, false},
        {"FtpOpenFileW", &m_ftpOpenFile, false},
        {"InternetSetOptionW", &m_internetSetOption, false},
        {"InternetErrorDlg", &m_internetErrorDlg, false},
        {"HttpQueryInfoW", &m_httpQueryInfo, false},
        {"InternetConnectW", &m_internetConnect, false},
        {"InternetWriteFile", &m_internetWriteFile, false},
        {"InternetReadFile", &m_internetReadFile, false},
        {"InternetCloseHandle", &m_internetCloseHandle, false},
        {"InternetOpenUrlW", &m_internetOpenUrl, false},
        {"InternetCrackUrlW", &m_internetCrackUrl, false},
    };
    bool bound = m_library.Load(m_libraryName) != 0;
    for (const Binding& binding : bindings) {
        void* address = bound ? m_library.Lookup(binding.name) : nullptr;
        memcpy(binding.slot, &address, sizeof(address));
        if (!address && !binding.optional) bound = false;
    }
    if (bound) return 1;
    Release();
    return 0;
}

void HttpClient::Release()
{
    FreeForm();
    if (InterlockedDecrement(&m_users) > 0) return;
    m_httpSendRequest = nullptr;
    m_httpSendRequestEx = nullptr;
    m_httpAddRequestHeaders = nullptr;
    m_httpEndRequest = nullptr;
    m_internetGetCookie = nullptr;
    m_internetGetCookieEx = nullptr;
    m_internetSetCookie = nullptr;
    m_internetSetCookieEx = nullptr;
    m_internetQueryOption = nullptr;
    m_internetOpen = nullptr;
    m_httpOpenRequest = nullptr;
    m_ftpOpenFile = nullptr;
    m_internetSetOption = nullptr;
    m_internetErrorDlg = nullptr;
    m_httpQueryInfo = nullptr;
    m_internetConnect = nullptr;
    m_internetWriteFile = nullptr;
    m_internetReadFile = nullptr;
    m_internetCloseHandle = nullptr;
    m_internetOpenUrl = nullptr;
    m_internetCrackUrl = nullptr;
    m_library.Free();
}

void HttpClient::FreeForm()
{
    while (m_parts) {
        FormPart* next = m_parts->next;
        delete m_parts;
        m_parts = next;
    }
}

HINTERNET HttpClient::OpenRoot(const wchar_t* agent, const wchar_t* proxy)
{
    if (proxy && !proxy[0]) proxy = nullptr;
    m_rootLock.Enter();
    HINTERNET root = nullptr;
    if (!m_cancelled) {
        root = m_internetOpen(agent ? agent : L"", proxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_PRECONFIG, proxy,
                              nullptr, 0);
        if (root) m_root = root;
    } else {
        SetLastError(ERROR_CANCELLED);
    }
    m_rootLock.Leave();
    return root;
}

void HttpClient::EndRoot(Handle& root)
{
    m_rootLock.Enter();
    if (root && m_root == root.Get())
        m_root = nullptr;
    else
        root.Abandon();
    m_rootLock.Leave();
    root.Close();
}

void HttpClient::Cancel()
{
    m_rootLock.Enter();
    InterlockedExchange(&m_cancelled, 1);
    if (m_root) {
        // Closing the root closes the operation's connection and request under it, and a
        // thread blocked in one of them returns with a failure.
        m_internetCloseHandle(m_root);
        m_root = nullptr;
    }
    m_rootLock.Leave();
}

void HttpClient::Resume()
{
    InterlockedExchange(&m_cancelled, 0);
}

int HttpClient::QueryStatus(HINTERNET request, DWORD& status)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!m_httpQueryInfo(request, HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_STATUS_CODE, &value, &size, nullptr)) return 0;
    status = value;
    return 1;
}

int HttpClient::QueryText(HINTERNET request, DWORD query, const wchar_t* name, WideString& text)
{
    wchar_t buffer[HeaderBuffer / sizeof(wchar_t)];
    buffer[0] = L'\0';
    if (name) lstrcpynW(buffer, name, (int)(HeaderBuffer / sizeof(wchar_t)));
    DWORD size = HeaderBuffer - sizeof(wchar_t);
    if (!m_httpQueryInfo(request, query, buffer, &size, nullptr)) return 0;
    size_t characters = size / sizeof(wchar_t);
    if (characters >= HeaderBuffer / sizeof(wchar_t)) characters = HeaderBuffer / sizeof(wchar_t) - 1;
    buffer[characters] = L'\0';
    return text.Assign(buffer);
}

int HttpClient::QueryContentLength(HINTERNET request, LONGLONG& length, DWORD bufferBytes)
{
    WideString text;
    wchar_t buffer[HeaderBuffer / sizeof(wchar_t)];
    if (bufferBytes > HeaderBuffer) bufferBytes = HeaderBuffer;
    DWORD size = bufferBytes - sizeof(wchar_t);
    if (!m_httpQueryInfo(request, HTTP_QUERY_CONTENT_LENGTH, buffer, &size, nullptr)) return 0;
    size_t characters = size / sizeof(wchar_t);
    if (characters >= bufferBytes / sizeof(wchar_t)) characters = bufferBytes / sizeof(wchar_t) - 1;
    buffer[characters] = L'\0';
    return ParseLength(buffer, length);
}

int HttpClient::ReadText(HINTERNET request, WideString* outText, DWORD byteLimit, DWORD pace)
{
    BYTE* buffer = (BYTE*)malloc(ResponseBuffer);
    wchar_t* wide = outText ? (wchar_t*)malloc(ResponseBuffer * sizeof(wchar_t)) : nullptr;
    if (!buffer || (outText && !wide)) {
        free(buffer);
        free(wide);
        return 0;
    }
    int result = 0;
    ByteBudget budget(byteLimit);
    Stopwatch watch;
    watch.Start();
    for (;;) {
        DWORD read = 0;
        if (!m_internetReadFile(request, buffer, budget.Next(ResponseBlock), &read)) break;
        result = 1;
        if (read == 0) break;
        if (outText && !AppendBytes(*outText, buffer, read, wide)) {
            // Out of memory: the text is not the answer, so the read is not a success.
            result = 0;
            break;
        }
        ApplyPace(watch, read, pace);
        if (budget.Spend(read)) break;
    }
    free(buffer);
    free(wide);
    return result;
}

int HttpClient::FetchText(const wchar_t* url, const wchar_t* agent, WideString& outText, DWORD byteLimit,
                          const wchar_t* proxy, TransferHook hook, void* hookData)
{
    if (!Acquire()) return 0;
    outText.Clear();
    int result = 0;
    Handle root(*this, OpenRoot(agent, proxy));
    if (root && url) {
        bool cookies = hook && hook(HttpStep::FetchCookies, (UINT_PTR)url, hookData) == 1;
        DWORD flags = FetchOpenFlags(url, cookies);
        for (int attempt = 1;; attempt++) {
            Handle request(*this, m_internetOpenUrl(root.Get(), url, AcceptAllHeader, (DWORD)-1, flags, 0));
            if (!request) {
                RecordLastError();
                break;
            }
            DWORD status = 0;
            if (!QueryStatus(request.Get(), status)) break;
            if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
                // One credential dialog: a second refusal ends the fetch.
                if (attempt >= MaxProxyAttempts) break;
                DWORD answer = m_internetErrorDlg(GetForegroundWindow(), request.Get(),
                                                  ERROR_INTERNET_INCORRECT_PASSWORD, CredentialDialogFlags, nullptr);
                if (answer != ERROR_INTERNET_FORCE_RETRY) break;
                continue;
            }
            if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT)
                result = ReadText(request.Get(), &outText, byteLimit, 0);
            break;
        }
    }
    if (m_cancelled) {  // what a cancelled operation read is not an answer
        result = 0;
        outText.Clear();
    }
    EndRoot(root);
    Release();
    return result;
}

int HttpClient::DownloadFile(const wchar_t* url, const wchar_t* agent, const wchar_t* targetPath, DWORD byteLimit,
                             TransferHook hook, void* hookData, const wchar_t* headers, int headersLength,
                             DWORD* outStatus, DWORD connectTimeout, DWORD pace, const wchar_t* proxy)
{
    if (outStatus) *outStatus = HTTP_STATUS_OK;
    if (!Acquire()) return 0;
    int succeeded = 0;
    int failed = 0;
    DWORD status = HTTP_STATUS_OK;
    Handle root(*this, OpenRoot(agent, proxy));
    Handle request(*this);
    FileHolder file;
    if (root && url && targetPath) {
        if (connectTimeout != (DWORD)-1)
            m_internetSetOption(root.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout, sizeof(connectTimeout));
        bool cookies = hook && hook(HttpStep::DownloadCookies, (UINT_PTR)url, hookData) == 1;
        DWORD flags = DownloadOpenFlags(cookies);
        request.Reset(m_internetOpenUrl(root.Get(), url, headers, (DWORD)headersLength, flags, 0));
        if (!request) RecordLastError();
    }
    // Each stage runs only while nothing failed; `failed` marks a refusal or an error.
    if (request) {
        if (QueryStatus(request.Get(), status)) {
            if (outStatus) *outStatus = status;
            if (status != HTTP_STATUS_OK && status != HTTP_STATUS_PARTIAL_CONTENT) failed = 1;
        }
    }
    int resume = 0;
    if (request && !failed) {
        WideString text;
        if (QueryText(request.Get(), HTTP_QUERY_CUSTOM, L"Content-Disposition", text) && hook) {
            DownloadHeader header = {targetPath, text};
            if (!hook(HttpStep::ContentDisposition, (UINT_PTR)&header, hookData)) failed = 1;
        }
        if (!failed && QueryText(request.Get(), HTTP_QUERY_CONTENT_TYPE, nullptr, text) && hook) {
            DownloadHeader header = {targetPath, text};
            if (!hook(HttpStep::ContentType, (UINT_PTR)&header, hookData)) failed = 1;
        }
        if (!failed && hook && !hook(HttpStep::Resume, (UINT_PTR)&resume, hookData)) failed = 1;
    }
    LONGLONG length = -1;
    if (request && !failed) {
        if (!file.Open(targetPath, resume == 1 ? FileHolder::WriteAlways : FileHolder::WriteNew,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                       // A download ended from outside still holds its file: whoever puts
                       // things back may delete it all the same.
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
            status = 999;
            if (outStatus) *outStatus = status;
            failed = 1;
        }
    }
    if (file.IsOpen() && !failed) {
        if (QueryContentLength(request.Get(), length, HeaderBuffer)) {
            if (resume == 1) {
                file.Seek(0, FILE_END);
            } else {
                file.Seek(length, FILE_BEGIN);
                file.SetEnd();
                file.Seek(0, FILE_BEGIN);
            }
        }
        if (hook && !hook(HttpStep::Length, (UINT_PTR)length, hookData)) failed = 1;
        if (!failed && hook && !hook(HttpStep::LengthPointer, (UINT_PTR)&length, hookData)) failed = 1;
        if (!failed && hook) {
            wchar_t finalUrl[HeaderBuffer / sizeof(wchar_t) + 1];
            ZeroMemory(finalUrl, sizeof(finalUrl));
            DWORD size = HeaderBuffer;
            if (m_internetQueryOption(request.Get(), INTERNET_OPTION_URL, finalUrl, &size)) {
                // Systems differ in whether the size comes back in bytes or characters; the
                // text is terminated either way.
                finalUrl[HeaderBuffer / sizeof(wchar_t)] = L'\0';
                if (!hook(HttpStep::FinalUrl, (UINT_PTR)finalUrl, hookData)) failed = 1;
            }
        }
    }
    ULONGLONG received = 0;
    if (file.IsOpen() && !failed) {
        BYTE block[DownloadBlock];
        ByteBudget budget(byteLimit);
        Stopwatch watch;
        watch.Start();
        for (;;) {
            DWORD read = 0;
            if (!m_internetReadFile(request.Get(), block, budget.Next(DownloadBlock), &read)) {
                failed = 1;
                break;
            }
            if (read == 0) break;
            if (!file.Write(block, read)) {
                failed = 1;
                break;
            }
            succeeded = 1;
            received += read;
            ApplyPace(watch, read, pace);
            if (hook && (!hook(HttpStep::Progress, (UINT_PTR)received, hookData) ||
                         !hook(HttpStep::ProgressPointer, (UINT_PTR)&received, hookData))) {
                failed = 1;
                break;
            }
            if (budget.Spend(read)) break;
        }
        // A body that ends before its declared length is a broken download, not a short file.
        if (!failed && length >= 0 && resume != 1 && received < (ULONGLONG)length) {
            if (budget.UsedUp())
                file.SetEnd();
            else
                failed = 1;
        }
        if (!failed && hook && !hook(HttpStep::Done, 0, hookData)) failed = 1;
    }
    file.Close();
    if (failed || m_cancelled) succeeded = 0;
    if (!succeeded && targetPath && m_internetOpen) {
        DownloadFailure failure = {status, 1, &succeeded};
        if (hook) hook(HttpStep::Failed, (UINT_PTR)&failure, hookData);
        if (failure.deleteFile == 1) FileHolder::Delete(targetPath);
    }
    request.Close();
    EndRoot(root);
    Release();
    return succeeded;
}

int HttpClient::Send(HttpRequest& request, HINTERNET handle, bool extended)
{
    if (!extended) {
        DWORD length = request.headers && request.headersLength == -1 ? (DWORD)wcslen(request.headers)
                                                                       : (DWORD)request.headersLength;
        if (!request.headers) length = 0;
        return m_httpSendRequest(handle, request.headers, length, (void*)request.optionalData,
                                 request.optionalLength) != FALSE;
    }
    if (!m_httpSendRequestEx(handle, request.body, request.outBody, ExtendedSendFlags, 0)) return 0;
    Stopwatch watch;
    watch.Start();
    // The extended send already carries the first descriptor's data; the rest follows.
    for (INTERNET_BUFFERSW* part = request.body->Next; part; part = part->Next) {
        if (!part->lpvBuffer || part->dwBufferLength == 0) continue;
        DWORD written = 0;
        if (!m_internetWriteFile(handle, part->lpvBuffer, part->dwBufferLength, &written) ||
            written != part->dwBufferLength)
            return 0;
        ApplyPace(watch, written, request.writePace);
    }
    return m_httpEndRequest(handle, nullptr, HSR_INITIATE, 0) != FALSE;
}

int HttpClient::SendRequest(HttpRequest& request)
{
    if (request.outStatus) *request.outStatus = HTTP_STATUS_OK;
    if (!Acquire()) return 0;
    if (request.outText) request.outText->Clear();
    int result = 0;
    Handle root(*this, OpenRoot(request.agent, request.proxy));
    Handle connection(*this);
    Handle handle(*this);
    bool http = request.service == INTERNET_SERVICE_HTTP;
    if (root) {
        if (request.connectTimeout != (DWORD)-1)
            m_internetSetOption(root.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &request.connectTimeout,
                                sizeof(request.connectTimeout));
        connection.Reset(m_internetConnect(root.Get(), request.server, request.port, request.userName,
                                           request.password, request.service, 0, 0));
        if (!connection) RecordLastError();
    }
    if (connection) {
        if (request.proxyUserName)
            m_internetSetOption(connection.Get(), INTERNET_OPTION_PROXY_USERNAME, (void*)request.proxyUserName,
                                (DWORD)wcslen(request.proxyUserName));
        if (request.proxyPassword)
            m_internetSetOption(connection.Get(), INTERNET_OPTION_PROXY_PASSWORD, (void*)request.proxyPassword,
                                (DWORD)wcslen(request.proxyPassword));
        if (http) {
            DWORD flags = RequestOpenFlags(request.port);
            static const wchar_t* AcceptAll[] = {L"*/*", nullptr};
            handle.Reset(m_httpOpenRequest(connection.Get(), request.verb, request.path, nullptr, nullptr,
                                           request.acceptTypes ? request.acceptTypes : AcceptAll, flags, 0));
            if (handle) {
                DWORD security = IgnoredCertificateProblems;
                m_internetSetOption(handle.Get(), INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof(security));
            }
        } else if (request.service == INTERNET_SERVICE_FTP) {
            handle.Reset(m_ftpOpenFile(connection.Get(), request.path, GENERIC_READ,
                                       FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0));
        }
        if (!handle) RecordLastError();
    }
    bool sent = false;
    if (handle) {
        bool extended = request.body != nullptr;
        if (extended || http) {
            sent = Send(request, handle.Get(), extended) != 0;
            if (!sent) RecordLastError();
        } else {
            sent = true;
        }
    }
    if (sent && http) {
        DWORD status = 0;
        if (QueryStatus(handle.Get(), status)) {
            if (request.outStatus) *request.outStatus = status;
            if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
                DWORD answer = m_internetErrorDlg(request.owner ? request.owner : GetForegroundWindow(), handle.Get(),
                                                  ERROR_INTERNET_INCORRECT_PASSWORD, CredentialDialogFlags, nullptr);
                if (answer == ERROR_INTERNET_FORCE_RETRY) {
                    // The repeat carries the body again: a form post must not arrive empty.
                    bool extended = request.body != nullptr;
                    sent = Send(request, handle.Get(), extended) != 0;
                    if (!sent && GetLastError() == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED) {
                        m_internetSetOption(handle.Get(), INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, nullptr, 0);
                        sent = Send(request, handle.Get(), extended) != 0;
                    }
                    if (!sent) RecordLastError();
                    if (sent && QueryStatus(handle.Get(), status) && request.outStatus) *request.outStatus = status;
                }
            }
        }
    }
    if (sent) {
        LONGLONG length = 0;
        if (http && !QueryContentLength(handle.Get(), length, 20)) length = 0;
        if (request.hook) request.hook(HttpStep::Length, (UINT_PTR)length, request.hookData);
        result = ReadText(handle.Get(), request.outText, request.byteLimit, request.readPace);
    }
    handle.Close();
    connection.Close();
    if (m_cancelled) result = 0;
    EndRoot(root);
    Release();
    return result;
}

HttpClient::FormPart* HttpClient::AppendPart()
{
    FormPart* part = new (std::nothrow) FormPart;
    if (!part) return nullptr;
    FormPart** end = &m_parts;
    while (*end) end = &(*end)->next;
    *end = part;
    if (end != &m_parts) {
        FormPart* previous = m_parts;
        while (previous->next != part) previous = previous->next;
        previous->descriptor.Next = &part->descriptor;
    }
    return part;
}

void HttpClient::DropLastPart()
{
    FormPart** end = &m_parts;
    FormPart* previous = nullptr;
    while (*end && (*end)->next) {
        previous = *end;
        end = &(*end)->next;
    }
    if (!*end) return;
    delete *end;
    *end = nullptr;
    if (previous) previous->descriptor.Next = nullptr;
}

int HttpClient::AddTextPart(const wchar_t* format, const wchar_t* first, const wchar_t* second)
{
    FormPart* part = AppendPart();
    if (!part) return 0;
    int ok = format ? part->text.Format(format, first ? first : L"", second ? second : L"")
                    : part->text.Assign(first);
    if (ok) {
        const char* narrow = part->text.ToAnsi();
        if (!part->text.IsEmpty() && !narrow[0]) ok = 0;
        part->descriptor.lpvBuffer = (void*)narrow;
        part->descriptor.dwBufferLength = (DWORD)strlen(narrow);
    }
    if (!ok) DropLastPart();
    return ok;
}

int HttpClient::AddFormField(const wchar_t* name, const wchar_t* value)
{
    return AddTextPart(TextFieldFormat, name, value);
}

int HttpClient::AddFormFile(const wchar_t* name, const wchar_t* path)
{
    if (!path) return 0;
    // The file name: what follows the last separator that has anything after it.
    const wchar_t* fileName = path;
    for (const wchar_t* c = path; *c; c++)
        if ((*c == L'\\' || *c == L'/') && c[1]) fileName = c + 1;
    FileHolder probe;
    if (!probe.Open(path, FileHolder::ReadExisting, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE))
        return 0;  // nothing was added: the body stays well formed
    ULONGLONG size = probe.Size();
    if (size >= 0x7FFFFFFF) return 0;
    if (!AddTextPart(FileHeadFormat, name, fileName)) return 0;
    FormPart* content = AppendPart();
    if (!content) {
        DropLastPart();
        return 0;
    }
    content->file.Open(path, FileHolder::ReadExisting, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE);
    probe.Close();
    if (size > 0) {
        // An empty file cannot be mapped; its part simply carries no data.
        size = content->file.Size();
        content->descriptor.lpvBuffer = size > 0 && size < 0x7FFFFFFF ? content->file.Map(0, 0) : nullptr;
        if (!content->descriptor.lpvBuffer) {
            DropLastPart();
            DropLastPart();
            return 0;
        }
        content->descriptor.dwBufferLength = (DWORD)size;
    }
    if (!AddTextPart(nullptr, AfterFileContent, nullptr)) {
        DropLastPart();
        DropLastPart();
        return 0;
    }
    return 1;
}

const INTERNET_BUFFERSW* HttpClient::FirstFormDescriptor() const
{
    return m_parts ? &m_parts->descriptor : nullptr;
}

bool AddFormLength(DWORD& total, DWORD length)
{
    if (length > 0xFFFFFFFFu - total) return false;
    total += length;
    return true;
}

int HttpClient::PostForm(const wchar_t* server, const wchar_t* path, const wchar_t* agent, WideString* outText,
                         HWND owner, DWORD byteLimit, const wchar_t* userName, const wchar_t* password,
                         const wchar_t* proxyUserName, const wchar_t* proxyPassword, INTERNET_PORT port,
                         DWORD service, const wchar_t** acceptTypes, TransferHook hook, void* hookData,
                         DWORD* outStatus, DWORD readPace, DWORD writePace, const wchar_t* proxy,
                         DWORD connectTimeout)
{
    int result = 0;
    WideString header;
    if (AddTextPart(nullptr, ClosingPart, nullptr) && header.Assign(FormContentType)) {
        // The body's length goes out as one 32-bit count: a form beyond it is refused
        // whole, never sent with a length that wrapped around.
        DWORD total = 0;
        bool ok = true;
        for (FormPart* part = m_parts; part && ok; part = part->next)
            ok = AddFormLength(total, part->descriptor.dwBufferLength);
        for (FormPart* part = m_parts; part; part = part->next) part->descriptor.dwBufferTotal = total;
        if (ok && userName && password) {
            WideString credentials;
            WideString encoded;
            ok = credentials.Format(L"%s:%s", userName, password) != 0;
            const char* bytes = ok ? credentials.ToAnsi() : "";
            ok = ok && Base64Encode(bytes, strlen(bytes), encoded) &&
                 header.AppendFormat(L"%sAuthorization: Basic %s", L"\r\n", encoded.Text());
        }
        if (ok) {
            m_parts->descriptor.lpcszHeader = header.Text();
            m_parts->descriptor.dwHeadersLength = (DWORD)header.Length();
            m_parts->descriptor.dwHeadersTotal = (DWORD)header.Length();
            HttpRequest request;
            request.server = server;
            request.path = path;
            request.agent = agent;
            request.outText = outText;
            request.owner = owner;
            request.byteLimit = byteLimit;
            request.userName = userName;
            request.password = password;
            request.proxyUserName = proxyUserName;
            request.proxyPassword = proxyPassword;
            request.port = port;
            request.service = service;
            request.verb = L"POST";
            request.acceptTypes = acceptTypes;
            request.body = &m_parts->descriptor;
            request.hook = hook;
            request.hookData = hookData;
            request.outStatus = outStatus;
            request.readPace = readPace;
            request.writePace = writePace;
            request.proxy = proxy;
            request.connectTimeout = connectTimeout;
            result = SendRequest(request);
        }
    }
    FreeForm();
    return result;
}
