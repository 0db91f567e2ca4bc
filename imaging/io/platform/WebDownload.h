// Downloading an "http://", "https://" or "ftp://" address into a stream
// through the Windows internet library (wininet.dll), which is loaded at run
// time: the I/O unit's start-up calls PxLoadWinInet and its shut-down
// PxUnloadWinInet (both reach it through PxIODefaults(), which
// PxInstallWebDownload fills). TImgIO::LoadFromURL reaches the download
// through PxDownloadURLToStreamHook (ImgIO.h).
//
// Strings handed to the library are converted to the system code page.
//
// Failure: the download returns false (nothing raised) when the address
// cannot be analysed, the library is not loaded, a connection, request or
// FTP file handle cannot be had, or an HTTP request cannot be sent (no
// server); the handles opened so far are closed. The
// HTTP status is not examined: an error page is downloaded like any other
// content. Exceptions of the target stream pass to the caller after the
// handles are closed.
//
// Threads: the module handle and the function table are set at the start-up,
// before any download, and only read by downloads, which may run on any
// thread. Tests may replace entries of the table while no download runs.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "classlib/Stream.h"
#include "imaging/model/PxDefs.h"

namespace imaging {

// The functions of the internet library, resolved by name when it loads
// (all nullptr while it is not loaded). InternetGetLastResponseInfoA is
// resolved but not called.
struct TPxWinInetFunctions {
    decltype(&::InternetOpenA) InternetOpenA = nullptr;
    decltype(&::InternetCloseHandle) InternetCloseHandle = nullptr;
    decltype(&::InternetConnectA) InternetConnectA = nullptr;
    decltype(&::HttpOpenRequestA) HttpOpenRequestA = nullptr;
    decltype(&::HttpSendRequestA) HttpSendRequestA = nullptr;
    decltype(&::HttpQueryInfoA) HttpQueryInfoA = nullptr;
    decltype(&::InternetReadFile) InternetReadFile = nullptr;
    decltype(&::InternetReadFileExA) InternetReadFileExA = nullptr;
    decltype(&::InternetQueryOptionA) InternetQueryOptionA = nullptr;
    decltype(&::InternetSetOptionA) InternetSetOptionA = nullptr;
    decltype(&::InternetGetLastResponseInfoA) InternetGetLastResponseInfoA = nullptr;
    decltype(&::FtpOpenFileA) FtpOpenFileA = nullptr;
};

// The process-wide table the downloads call through.
TPxWinInetFunctions& PxWinInet();
// The module handle of wininet.dll, nullptr while not loaded.
HMODULE PxWinInetModule();

// Loads wininet.dll and resolves the table; does nothing while the module is
// loaded. A failed load leaves the table empty (downloads then fail).
void PxLoadWinInet();
// Frees the module when loaded; the handle and the table become empty.
void PxUnloadWinInet();

// Closes each handle that is not nullptr (request, connection, internet, in
// that order) and sets it to nullptr.
void PxCloseInternetHandles(HINTERNET& Request, HINTERNET& Connection, HINTERNET& Internet);

// The parts of a download address, in the system code page.
struct TPxDownloadAddress {
    bool Ftp = false;            // else HTTP
    bool Secure = false;         // "https://"
    INTERNET_PORT Port = 0;
    std::string Host;
    std::string Path;            // from the first "/" after the host part
    std::string User, Password;  // from "user:password@" (empty without)
};

// Analyses URL: "http://" (port 80), "https://" (443) or "ftp://" (21), a
// host part up to the first "/", optional "user:password@" (an "@" needs a
// ":" before it) and ":port" (80 when the text after ":" is not a port
// number). False for another scheme, no "/" after the host part, or an "@"
// without a ":" before it.
bool PxParseDownloadAddress(const std::wstring& URL, TPxDownloadAddress& Address);

// Downloads URL and appends the bytes to Stream; true on success (also when
// Aborting stopped the transfer early: the bytes received so far stay).
// ProxyAddress non-empty: through that named proxy with ProxyUser and
// ProxyPassword as the connection's credentials; otherwise direct with the
// credentials of the address. ContentType receives, for HTTP, the text
// after the first "/" of the Content-Type header (emptied first), and for FTP
// the extension of the file (without the dot, at most 10 characters).
// Aborting (may be nullptr) is polled between reads. Progress, when set, is
// called with the percentage of the announced Content-Length received; a
// response without Content-Length is read in chunks of 1,024 bytes without
// progress calls.
bool PxDownloadURLToStream(const std::wstring& URL, classlib::TStream* Stream, const std::wstring& ProxyAddress,
                           const std::wstring& ProxyUser, const std::wstring& ProxyPassword,
                           std::wstring& ContentType, const bool* Aborting, const TPxProgressEvent& Progress,
                           classlib::TObject* Sender);

// Puts PxLoadWinInet / PxUnloadWinInet into PxIODefaults() and the download
// into PxDownloadURLToStreamHook. Idempotent; also run at static
// initialisation of this unit.
void PxInstallWebDownload();

}  // namespace imaging
