// A windowless program the shell tests start through a file type of their
// own: it writes the file named by its first argument and ends, so a test
// can wait for the file instead of watching for a window.
#include <windows.h>
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!args || count < 2) return 1;
    HANDLE file = ::CreateFileW(args[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ::LocalFree(args);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    ::WriteFile(file, "x", 1, &written, nullptr);
    ::CloseHandle(file);
    return 0;
}
