// Starts the real program, waits for its main window and closes it like a
// user would: the process must end by itself with exit code 0.
#include <windows.h>

#include <gtest/gtest.h>
#include <string>

namespace {

struct FindMain {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND wnd, LPARAM lp)
{
    auto* f = reinterpret_cast<FindMain*>(lp);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    wchar_t cls[64] = {};
    ::GetClassNameW(wnd, cls, 64);
    if (pid == f->pid && std::wstring(cls) == L"TfrmMain" && ::IsWindowVisible(wnd)) {
        f->found = wnd;
        return FALSE;
    }
    return TRUE;
}

TEST(App, MainWindowOpensAndClosesCleanly)
{
    std::wstring exe = VELMO_APP_EXE;
    for (auto& c : exe)
        if (c == L'/') c = L'\\';
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &si, &pi))
        << "cannot start " << std::string(exe.begin(), exe.end());
    ::WaitForInputIdle(pi.hProcess, 20000);

    FindMain f{pi.dwProcessId, nullptr};
    for (int i = 0; i < 200 && !f.found; ++i) {
        ::EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&f));
        if (!f.found) ::Sleep(50);
    }
    ASSERT_NE(f.found, nullptr) << "main window not found";
    wchar_t caption[64] = {};
    ::GetWindowTextW(f.found, caption, 64);
    EXPECT_STREQ(caption, L"Velmo - HTML Morvane");

    ::PostMessageW(f.found, WM_CLOSE, 0, 0);
    DWORD wait = ::WaitForSingleObject(pi.hProcess, 20000);
    EXPECT_EQ(wait, WAIT_OBJECT_0) << "program did not exit after WM_CLOSE";
    if (wait != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 1);
    DWORD code = 99;
    ::GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
}

}  // namespace
