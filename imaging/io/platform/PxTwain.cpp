#include "imaging/io/platform/PxTwain.h"

#include "imaging/io/core/IOParams.h"

namespace imaging {

void PxTW_InitSession(TPxTWSession& Session)
{
    Session = TPxTWSession{};
    Session.ParentWindow = ::GetActiveWindow();
    Session.State = 1;
}

void PxTW_Log(const TPxTWSession& Session, const std::wstring& Text)
{
    if (Session.LogFileName.empty()) return;
    wchar_t date[80] = {}, time[80] = {};
    ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 80);
    ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, 80);
    const std::wstring line = std::wstring(date) + L" " + time + L" : " + Text + L"\r\n";
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0,
                                            nullptr, nullptr);
    if (bytes <= 0) return;
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr,
                          nullptr);
    HANDLE file = ::CreateFileW(Session.LogFileName.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    ::CloseHandle(file);
}

void DestroyProxyWindow(TPxTWSession& Session)
{
    PxTW_Log(Session, L"DestroyProxyWindow");
    if (Session.ProxyWindow == nullptr) return;
    if (::IsWindow(Session.ProxyWindow)) ::DestroyWindow(Session.ProxyWindow);
    Session.ProxyWindow = nullptr;
    PxTW_Log(Session, L"  DestroyProxyWindow : destroyed");
}

void PxTW_UnloadSourceManager(TPxTWSession& Session)
{
    PxTW_Log(Session, L"PxTW_UnloadSourceManager");
    if (Session.SourceManager == nullptr) return;
    ::FreeLibrary(Session.SourceManager);
    Session.SourceManager = nullptr;
    Session.State = 1;
    PxTW_Log(Session, L"  PxTW_UnloadSourceManager : Unload OK");
}

void PxTW_Teardown(TPxTWainParams& Params)
{
    TPxTWSession session;
    PxTW_InitSession(session);
    session.LogFileName = Params.LogFileName;
    session.ProxyWindow = Params.ProxyWindow;
    session.SourceManager = Params.SourceManager;
    if (session.ProxyWindow != nullptr) DestroyProxyWindow(session);
    if (session.SourceManager != nullptr) PxTW_UnloadSourceManager(session);
    Params.ProxyWindow = nullptr;
    Params.SourceManager = nullptr;
}

}  // namespace imaging
