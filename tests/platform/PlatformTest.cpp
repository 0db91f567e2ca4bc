// Proves the tool chain end to end: a statically linked 64-bit program that
// talks to the real window manager and registry under Wine.
#include <windows.h>

#include <gtest/gtest.h>
#include <string>

namespace {

LRESULT CALLBACK CountingProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_CREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        ++*static_cast<int*>(cs->lpCreateParams);
    }
    return ::DefWindowProcW(wnd, msg, wp, lp);
}

TEST(Platform, PointerSizedTarget)
{
    EXPECT_EQ(sizeof(void*), 8u);
    EXPECT_EQ(sizeof(HANDLE), sizeof(void*));
}

TEST(Platform, WindowClassAndWindowLifecycle)
{
    HINSTANCE inst = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = inst;
    wc.lpszClassName = L"VelmoPlatformTestWindow";
    ATOM atom = ::RegisterClassExW(&wc);
    ASSERT_NE(atom, 0);

    int created = 0;
    HWND wnd = ::CreateWindowExW(0, wc.lpszClassName, L"test", WS_OVERLAPPEDWINDOW, 10, 10,
                                 200, 100, nullptr, nullptr, inst, &created);
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(created, 1);
    wchar_t text[16] = {};
    ::GetWindowTextW(wnd, text, 16);
    EXPECT_STREQ(text, L"test");
    EXPECT_TRUE(::DestroyWindow(wnd));
    EXPECT_FALSE(::IsWindow(wnd));
    EXPECT_TRUE(::UnregisterClassW(wc.lpszClassName, inst));
}

TEST(Platform, RegistryRoundTrip)
{
    const wchar_t* path = L"Software\\VelmoTests\\Platform";
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring value = L"Grüße 42";
    ASSERT_EQ(::RegSetValueExW(key, L"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    wchar_t buf[64] = {};
    DWORD size = sizeof(buf), type = 0;
    ASSERT_EQ(::RegQueryValueExW(key, L"Text", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(buf), value);
    ::RegCloseKey(key);

    EXPECT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VelmoTests"), ERROR_SUCCESS);
    EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key), ERROR_SUCCESS);
}

}  // namespace
