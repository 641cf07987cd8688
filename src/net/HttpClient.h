// HTTP through the system's internet library, loaded at run time so that the program
// starts where the library is missing. Every operation blocks its caller until the
// transfer is over and answers 1 or 0.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "common/WideString.h"
#include "platform/FileHolder.h"
#include "platform/KernelObjects.h"
#include "platform/SystemApi.h"

// Asked at the steps of a transfer (see HttpStep); 0 stops the transfer where the step
// allows it.
typedef int (*TransferHook)(int step, UINT_PTR value, void* hookData);

// Answers 1 to every step and changes nothing.
int ApproveAll(int step, UINT_PTR value, void* hookData);

namespace HttpStep {
// DownloadFile: value points at a DownloadHeader.
const int ContentDisposition = 0;
const int ContentType = 1;
// DownloadFile: value points at the resume flag (preset 0; 1 appends to an existing file).
const int Resume = 2;
// DownloadFile, on failure before the clean-up: value points at a DownloadFailure.
const int Failed = 3;
// DownloadFile: the content length (-1 when unknown), then a pointer to it as 64 bits.
const int Length = 4;
const int LengthPointer = 5;
// DownloadFile: the final address after redirects.
const int FinalUrl = 6;
// DownloadFile, after each written block: the bytes so far, then a pointer to them as 64 bits.
const int Progress = 7;
const int ProgressPointer = 8;
// FetchText: before opening, with the address; 1 sends cookies. DownloadFile: after the last block.
const int FetchCookies = 9;
const int Done = 9;
// DownloadFile: before opening, with the address; 1 sends cookies.
const int DownloadCookies = 10;
}  // namespace HttpStep

struct DownloadHeader {
    const wchar_t* targetPath;
    const wchar_t* text;
};

struct DownloadFailure {
    DWORD status;
    int deleteFile;  // preset 1: the target file is deleted
    int* succeeded;
};

// The general request of SendRequest; fields left zero take their defaults.
struct HttpRequest {
    const wchar_t* server = nullptr;
    const wchar_t* path = nullptr;
    const wchar_t* agent = nullptr;
    WideString* outText = nullptr;
    HWND owner = nullptr;            // of the credential dialog; null: the foreground window
    DWORD byteLimit = 0;             // of the response; 0: all of it
    const wchar_t* userName = nullptr;
    const wchar_t* password = nullptr;
    const wchar_t* proxyUserName = nullptr;
    const wchar_t* proxyPassword = nullptr;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    DWORD service = INTERNET_SERVICE_HTTP;
    const wchar_t* verb = nullptr;
    const wchar_t* headers = nullptr;
    int headersLength = -1;          // -1: a terminated text
    const void* optionalData = nullptr;
    DWORD optionalLength = 0;
    const wchar_t** acceptTypes = nullptr;  // null: "*/*"
    INTERNET_BUFFERSW* body = nullptr;      // null: the simple send
    INTERNET_BUFFERSW* outBody = nullptr;
    TransferHook hook = nullptr;
    void* hookData = nullptr;
    DWORD* outStatus = nullptr;
    DWORD readPace = 0;              // kilobytes per second; 0: as fast as it comes
    DWORD writePace = 0;
    const wchar_t* proxy = nullptr;
    DWORD connectTimeout = (DWORD)-1;  // -1: the system's
};

// The text sent as a form's boundary line (without the line end).
extern const char* const FormBoundaryLine;

// The open flags of each operation.
DWORD FetchOpenFlags(const wchar_t* url, bool sendCookies);
DWORD DownloadOpenFlags(bool sendCookies);
DWORD RequestOpenFlags(INTERNET_PORT port);

// Base64 of `size` bytes (RFC 4648 alphabet, "=" padding, no line breaks).
int Base64Encode(const void* data, size_t size, WideString& out);

// Adds a part's length to a form body's 32-bit total; false, and the total unchanged,
// when the sum would not fit.
bool AddFormLength(DWORD& total, DWORD length);

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // 1 when at least one read of the response succeeded. A byte limit of 0 reads all.
    int FetchText(const wchar_t* url, const wchar_t* agent, WideString& outText, DWORD byteLimit = 0,
                  const wchar_t* proxy = nullptr, TransferHook hook = nullptr, void* hookData = nullptr);

    // 1 when the whole body was written to the file; a failed download leaves no file.
    int DownloadFile(const wchar_t* url, const wchar_t* agent, const wchar_t* targetPath, DWORD byteLimit = 0,
                     TransferHook hook = nullptr, void* hookData = nullptr, const wchar_t* headers = nullptr,
                     int headersLength = -1, DWORD* outStatus = nullptr, DWORD connectTimeout = (DWORD)-1,
                     DWORD pace = 0, const wchar_t* proxy = nullptr);

    // 1 when at least one read of the response succeeded.
    int SendRequest(HttpRequest& request);

    // The multipart form: fields and files in the order added, posted by PostForm.
    int AddFormField(const wchar_t* name, const wchar_t* value);
    int AddFormFile(const wchar_t* name, const wchar_t* path);
    int PostForm(const wchar_t* server, const wchar_t* path, const wchar_t* agent, WideString* outText,
                 HWND owner = nullptr, DWORD byteLimit = 0, const wchar_t* userName = nullptr,
                 const wchar_t* password = nullptr, const wchar_t* proxyUserName = nullptr,
                 const wchar_t* proxyPassword = nullptr, INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT,
                 DWORD service = INTERNET_SERVICE_HTTP, const wchar_t** acceptTypes = nullptr,
                 TransferHook hook = nullptr, void* hookData = nullptr, DWORD* outStatus = nullptr,
                 DWORD readPace = 0, DWORD writePace = 0, const wchar_t* proxy = nullptr,
                 DWORD connectTimeout = (DWORD)-1);

    // The form's parts as they stand, each descriptor's data in chain order (for checks).
    const INTERNET_BUFFERSW* FirstFormDescriptor() const;

    // From any thread: ends the running operation (closing its root handle unblocks a call
    // that waits on the network) and makes every later one fail at once, until Resume.
    void Cancel();
    void Resume();
    bool Cancelled() const { return m_cancelled != 0; }
    // Makes the library come from another file (a missing one: every operation answers 0).
    void OverrideLibraryName(const wchar_t* fileName) { m_libraryName = fileName; }

private:
    struct FormPart;
    typedef BOOL(WINAPI* HttpSendRequestWFn)(HINTERNET, LPCWSTR, DWORD, LPVOID, DWORD);
    typedef BOOL(WINAPI* HttpSendRequestExWFn)(HINTERNET, LPINTERNET_BUFFERSW, LPINTERNET_BUFFERSW, DWORD, DWORD_PTR);
    typedef BOOL(WINAPI* HttpAddRequestHeadersWFn)(HINTERNET, LPCWSTR, DWORD, DWORD);
    typedef BOOL(WINAPI* HttpEndRequestWFn)(HINTERNET, LPINTERNET_BUFFERSW, DWORD, DWORD_PTR);
    typedef BOOL(WINAPI* InternetGetCookieWFn)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
    typedef BOOL(WINAPI* InternetGetCookieExWFn)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD, DWORD, LPVOID);
    typedef BOOL(WINAPI* InternetSetCookieWFn)(LPCWSTR, LPCWSTR, LPCWSTR);
    typedef DWORD(WINAPI* InternetSetCookieExWFn)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, DWORD_PTR);
    typedef BOOL(WINAPI* InternetQueryOptionWFn)(HINTERNET, DWORD, LPVOID, LPDWORD);
    typedef HINTERNET(WINAPI* InternetOpenWFn)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
    typedef HINTERNET(WINAPI* HttpOpenRequestWFn)(HINTERNET, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR*, DWORD,
                                                   DWORD_PTR);
    typedef HINTERNET(WINAPI* FtpOpenFileWFn)(HINTERNET, LPCWSTR, DWORD, DWORD, DWORD_PTR);
    typedef BOOL(WINAPI* InternetSetOptionWFn)(HINTERNET, DWORD, LPVOID, DWORD);
    typedef DWORD(WINAPI* InternetErrorDlgFn)(HWND, HINTERNET, DWORD, DWORD, LPVOID*);
    typedef BOOL(WINAPI* HttpQueryInfoWFn)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
    typedef HINTERNET(WINAPI* InternetConnectWFn)(HINTERNET, LPCWSTR, INTERNET_PORT, LPCWSTR, LPCWSTR, DWORD, DWORD,
                                                   DWORD_PTR);
    typedef BOOL(WINAPI* InternetWriteFileFn)(HINTERNET, LPCVOID, DWORD, LPDWORD);
    typedef BOOL(WINAPI* InternetReadFileFn)(HINTERNET, LPVOID, DWORD, LPDWORD);
    typedef BOOL(WINAPI* InternetCloseHandleFn)(HINTERNET);
    typedef HINTERNET(WINAPI* InternetOpenUrlWFn)(HINTERNET, LPCWSTR, LPCWSTR, DWORD, DWORD, DWORD_PTR);
    typedef BOOL(WINAPI* InternetCrackUrlWFn)(LPCWSTR, DWORD, DWORD, LPURL_COMPONENTSW);

    // Owns one internet handle of an operation.
    class Handle {
    public:
        Handle(HttpClient& client, HINTERNET handle = nullptr) : m_client(client), m_handle(handle) {}
        ~Handle() { Close(); }
        Handle(const Handle&) = delete;
        Handle& operator=(const Handle&) = delete;
        void Reset(HINTERNET handle)
        {
            Close();
            m_handle = handle;
        }
        void Close();
        // Forgets the handle without closing it (someone else closed it).
        void Abandon() { m_handle = nullptr; }
        HINTERNET Get() const { return m_handle; }
        explicit operator bool() const { return m_handle != nullptr; }

    private:
        HttpClient& m_client;
        HINTERNET m_handle;
    };
    friend class Handle;

    int Acquire();
    void Release();
    void FreeForm();
    HINTERNET OpenRoot(const wchar_t* agent, const wchar_t* proxy);
    // Ends the root of an operation: closes it unless Cancel already did.
    void EndRoot(Handle& root);
    int QueryStatus(HINTERNET request, DWORD& status);
    int QueryText(HINTERNET request, DWORD query, const wchar_t* name, WideString& text);
    int QueryContentLength(HINTERNET request, LONGLONG& length, DWORD bufferBytes);
    int ReadText(HINTERNET request, WideString* outText, DWORD byteLimit, DWORD pace);
    int Send(HttpRequest& request, HINTERNET handle, bool extended);
    FormPart* AppendPart();
    void DropLastPart();
    int AddTextPart(const wchar_t* format, const wchar_t* first, const wchar_t* second);

    LibraryHolder m_library;
    FormPart* m_parts;
    HINTERNET m_root;  // of the running operation; guarded by m_rootLock
    CriticalSectionHolder m_rootLock;
    volatile LONG m_cancelled;
    volatile LONG m_users;
    const wchar_t* m_libraryName;

    HttpSendRequestWFn m_httpSendRequest;
    HttpSendRequestExWFn m_httpSendRequestEx;
    HttpAddRequestHeadersWFn m_httpAddRequestHeaders;
    HttpEndRequestWFn m_httpEndRequest;
    InternetGetCookieWFn m_internetGetCookie;
    InternetGetCookieExWFn m_internetGetCookieEx;
    InternetSetCookieWFn m_internetSetCookie;
    InternetSetCookieExWFn m_internetSetCookieEx;
    InternetQueryOptionWFn m_internetQueryOption;
    InternetOpenWFn m_internetOpen;
    HttpOpenRequestWFn m_httpOpenRequest;
    FtpOpenFileWFn m_ftpOpenFile;
    InternetSetOptionWFn m_internetSetOption;
    InternetErrorDlgFn m_internetErrorDlg;
    HttpQueryInfoWFn m_httpQueryInfo;
    InternetConnectWFn m_internetConnect;
    InternetWriteFileFn m_internetWriteFile;
    InternetReadFileFn m_internetReadFile;
    InternetCloseHandleFn m_internetCloseHandle;
    InternetOpenUrlWFn m_internetOpenUrl;
    InternetCrackUrlWFn m_internetCrackUrl;
};
