#include "imaging/io/platform/WebDownload.h"

#include <cwctype>
#include <memory>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxFileText.h"

namespace imaging {

namespace {

HMODULE winInetModule = nullptr;

constexpr DWORD kBufferSize = 65536;
constexpr DWORD kChunkSize = 1024;

// Request flags: reload, do not write to the cache, keep the connection.
constexpr DWORD kHttpFlags = 0x84400000;
// HTTPS adds: secure, ignore a wrong certificate name and date, ignore
// redirections between HTTP and HTTPS.
constexpr DWORD kHttpsFlags = 0x00800000 | 0x1000 | 0x2000 | 0x4000 | 0x8000;
// Security flags added: ignore an unknown authority, revocation, wrong usage.
constexpr DWORD kSecurityFlags = 0x100 | 0x80 | 0x200;

std::string ToSystemCodePage(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FromSystemCodePage(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// A decimal number of digits only (surrounding blanks allowed) no larger
// than Limit; false otherwise.
bool ParseNumber(const std::string& text, int64_t Limit, int64_t& Value)
{
    size_t i = 0, e = text.size();
    while (i < e && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    while (e > i && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r' || text[e - 1] == '\n'))
        --e;
    if (i == e)
        return false;
    int64_t v = 0;
    for (; i < e; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
        if (v > Limit)
            return false;
    }
    Value = v;
    return true;
}

// A name passed as none when empty: FTP then logs in anonymously.
const char* OrNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

// The lower-cased extension of the last path element, without its dot, at
// most 10 characters.
std::wstring FtpExtension(const std::wstring& path)
{
    size_t dot = path.rfind(L'.');
    size_t sep = path.rfind(L'/');
    if (dot == std::wstring::npos || (sep != std::wstring::npos && dot < sep))
        return std::wstring();
    std::wstring ext = path.substr(dot + 1, 10);
    for (wchar_t& c : ext)
        c = static_cast<wchar_t>(std::towlower(c));
    return ext;
}

bool Aborted(const bool* Aborting) { return Aborting && *static_cast<const volatile bool*>(Aborting); }

template <typename T>
void Resolve(T& Slot, const char* Name)
{
    Slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(winInetModule, Name)));
}

bool DownloadHook(const std::wstring& URL, classlib::TStream* Stream, const std::wstring& ProxyAddress,
                  const std::wstring& ProxyUser, const std::wstring& ProxyPassword, const TPxProgressEvent& Progress,
                  classlib::TObject* Sender, bool* Aborting)
{
    std::wstring contentType;
    return PxDownloadURLToStream(URL, Stream, ProxyAddress, ProxyUser, ProxyPassword, contentType, Aborting, Progress,
                                 Sender);
}

// Closes the handles of one download on every way out.
struct THandles {
    HINTERNET Internet = nullptr, Connection = nullptr, Request = nullptr;
    THandles() = default;
    THandles(const THandles&) = delete;
    THandles& operator=(const THandles&) = delete;
    ~THandles() { PxCloseInternetHandles(Request, Connection, Internet); }
};

struct TInstallAtStart {
    TInstallAtStart() { PxInstallWebDownload(); }
} installAtStart;

}  // namespace

TPxWinInetFunctions& PxWinInet()
{
    static TPxWinInetFunctions functions;
    return functions;
}

HMODULE PxWinInetModule() { return winInetModule; }

void PxLoadWinInet()
{
    if (winInetModule)
        return;
    winInetModule = LoadLibraryW(L"wininet.dll");
    if (!winInetModule)
        return;
    TPxWinInetFunctions& f = PxWinInet();
    Resolve(f.InternetOpenA, "InternetOpenA");
    Resolve(f.InternetCloseHandle, "InternetCloseHandle");
    Resolve(f.InternetConnectA, "InternetConnectA");
    Resolve(f.HttpOpenRequestA, "HttpOpenRequestA");
    Resolve(f.HttpSendRequestA, "HttpSendRequestA");
    Resolve(f.HttpQueryInfoA, "HttpQueryInfoA");
    Resolve(f.InternetReadFile, "InternetReadFile");
    Resolve(f.InternetReadFileExA, "InternetReadFileExA");
    Resolve(f.InternetQueryOptionA, "InternetQueryOptionA");
    Resolve(f.InternetSetOptionA, "InternetSetOptionA");
    Resolve(f.InternetGetLastResponseInfoA, "InternetGetLastResponseInfoA");
    Resolve(f.FtpOpenFileA, "FtpOpenFileA");
}

void PxUnloadWinInet()
{
    if (!winInetModule)
        return;
    FreeLibrary(winInetModule);
    winInetModule = nullptr;
    PxWinInet() = TPxWinInetFunctions();
}

void PxCloseInternetHandles(HINTERNET& Request, HINTERNET& Connection, HINTERNET& Internet)
{
    auto close = PxWinInet().InternetCloseHandle;
    for (HINTERNET* h : {&Request, &Connection, &Internet}) {
        if (*h && close)
            close(*h);
        *h = nullptr;
    }
}

bool PxParseDownloadAddress(const std::wstring& URL, TPxDownloadAddress& Address)
{
    Address = TPxDownloadAddress();
    std::wstring rest;
    switch (PxIsURL(URL)) {
    case 1:
        rest = URL.substr(7);
        Address.Port = INTERNET_DEFAULT_HTTP_PORT;
        break;
    case 2:
        rest = URL.substr(8);
        Address.Secure = true;
        Address.Port = INTERNET_DEFAULT_HTTPS_PORT;
        break;
    case 3:
        rest = URL.substr(6);
        Address.Ftp = true;
        Address.Port = INTERNET_DEFAULT_FTP_PORT;
        break;
    default: return false;
    }
    size_t slash = rest.find(L'/');
    if (slash == std::wstring::npos)
        return false;
    std::wstring host = rest.substr(0, slash);
    Address.Path = ToSystemCodePage(rest.substr(slash));
    // The host cannot hold "@": the last one ends the credentials, so a
    // password may contain one.
    size_t at = host.rfind(L'@');
    if (at != std::wstring::npos) {
        size_t colon = host.find(L':');
        if (colon == std::wstring::npos || colon > at)
            return false;
        Address.User = ToSystemCodePage(host.substr(0, colon));
        Address.Password = ToSystemCodePage(host.substr(colon + 1, at - colon - 1));
        host = host.substr(at + 1);
    }
    size_t colon = host.find(L':');
    if (colon != std::wstring::npos) {
        int64_t port = 0;
        Address.Port = ParseNumber(ToSystemCodePage(host.substr(colon + 1)), 65535, port)
                           ? static_cast<INTERNET_PORT>(port)
                           : INTERNET_DEFAULT_HTTP_PORT;
        host = host.substr(0, colon);
    }
    Address.Host = ToSystemCodePage(host);
    return true;
}

bool PxDownloadURLToStream(const std::wstring& URL, classlib::TStream* Stream, const std::wstring& ProxyAddress,
                           const std::wstring& ProxyUser, const std::wstring& ProxyPassword,
                           std::wstring& ContentType, const bool* Aborting, const TPxProgressEvent& Progress,
                           classlib::TObject* Sender)
{
    TPxDownloadAddress address;
    if (!Stream || !PxParseDownloadAddress(URL, address))
        return false;
    if (!address.Ftp)
        ContentType.clear();
    const TPxWinInetFunctions& f = PxWinInet();
    if (!f.InternetOpenA || !f.InternetCloseHandle || !f.InternetConnectA || !f.HttpOpenRequestA ||
        !f.HttpSendRequestA || !f.HttpQueryInfoA || !f.InternetReadFile || !f.InternetReadFileExA ||
        !f.InternetQueryOptionA || !f.InternetSetOptionA || !f.FtpOpenFileA)
        return false;

    THandles h;
    const std::string proxy = ToSystemCodePage(ProxyAddress);
    std::string user = address.User, password = address.Password;
    if (!proxy.empty()) {
        h.Internet = f.InternetOpenA("Mozilla/4.*", INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0);
        user = ToSystemCodePage(ProxyUser);
        password = ToSystemCodePage(ProxyPassword);
    } else {
        h.Internet = f.InternetOpenA("Mozilla/4.*", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    }
    if (!h.Internet)
        return false;
    h.Connection = f.InternetConnectA(h.Internet, address.Host.c_str(), address.Port, OrNull(user), OrNull(password),
                                      address.Ftp ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP, 0, 0);
    if (!h.Connection)
        return false;

    std::vector<char> buffer(kBufferSize);
    int64_t expected = 0;
    if (!address.Ftp) {
        DWORD flags = kHttpFlags | (address.Secure ? kHttpsFlags : 0);
        h.Request = f.HttpOpenRequestA(h.Connection, "GET", address.Path.c_str(), "HTTP/1.1", nullptr, nullptr, flags, 0);
        if (!h.Request)
            return false;
        DWORD security = 0, size = sizeof(security);
        f.InternetQueryOptionA(h.Request, INTERNET_OPTION_SECURITY_FLAGS, &security, &size);
        security |= kSecurityFlags;
        f.InternetSetOptionA(h.Request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof(security));
        // A request that could not be sent (no server, refused connection)
        // is a failed download, not an empty one; the HTTP status itself is
        // not examined.
        if (!f.HttpSendRequestA(h.Request, nullptr, 0, nullptr, 0))
            return false;
        DWORD length = kBufferSize - 1;
        if (f.HttpQueryInfoA(h.Request, HTTP_QUERY_CONTENT_TYPE, buffer.data(), &length, nullptr)) {
            std::string type(buffer.data(), length < kBufferSize ? length : kBufferSize - 1);
            size_t s = type.find('/');
            if (s != std::string::npos)
                ContentType = FromSystemCodePage(type.substr(s + 1));
        }
        length = kBufferSize - 1;
        if (f.HttpQueryInfoA(h.Request, HTTP_QUERY_CONTENT_LENGTH, buffer.data(), &length, nullptr)) {
            int64_t value = 0;
            if (ParseNumber(std::string(buffer.data(), length < kBufferSize ? length : kBufferSize - 1),
                            INT64_MAX / 200, value))
                expected = value;
        }
    } else {
        const std::string path = address.Path.substr(1);
        h.Request = f.FtpOpenFileA(h.Connection, path.c_str(), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0);
        if (!h.Request)
            return false;
        ContentType = FtpExtension(FromSystemCodePage(path));
    }

    // Appended after what the stream holds; the transfer counts the bytes of
    // this download only.
    Stream->Seek(0, classlib::soEnd);
    int64_t received = 0;
    if (expected > 0) {
        do {
            INTERNET_BUFFERSA record{};
            record.dwStructSize = sizeof(record);
            record.lpvBuffer = buffer.data();
            record.dwBufferLength = kBufferSize;
            if (!f.InternetReadFileExA(h.Request, &record, IRF_NO_WAIT, 0))
                break;
            DWORD got = record.dwBufferLength < kBufferSize ? record.dwBufferLength : kBufferSize;
            // A read that must not wait may find no data at this moment before
            // the announced length has arrived: a waiting read tells whether
            // the data has ended, so a slow server does not cut the download.
            if (got == 0 && (!f.InternetReadFile(h.Request, buffer.data(), kBufferSize, &got) || got == 0))
                break;
            got = got < kBufferSize ? got : kBufferSize;
            Stream->WriteBuffer(buffer.data(), got);
            received += got;
            if (Progress)
                Progress(Sender, static_cast<int>(classlib::Round(received * 100.0 / expected)));
        } while (received < expected && !Aborted(Aborting));
    } else {
        for (;;) {
            DWORD got = 0;
            if (!f.InternetReadFile(h.Request, buffer.data(), kChunkSize, &got) || got == 0)
                break;
            Stream->WriteBuffer(buffer.data(), got < kChunkSize ? got : kChunkSize);
            if (Aborted(Aborting))
                break;
        }
    }
    return true;
}

void PxInstallWebDownload()
{
    PxIODefaults().LoadWinInet = PxLoadWinInet;
    PxIODefaults().UnloadWinInet = PxUnloadWinInet;
    PxDownloadURLToStreamHook = DownloadHook;
}

}  // namespace imaging
