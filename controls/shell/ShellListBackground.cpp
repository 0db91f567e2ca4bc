#include "controls/shell/ShellList.h"

#include <shlobj.h>
#include <uxtheme.h>
#include <vssym32.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <atomic>
#include <unordered_map>
#include <utility>

#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "classlib/FileCtrl.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/shell/ShWideStr.h"
#include "controls/shell/ShWorkItems.h"
#include "controls/shell/ShellListPrivate.h"

namespace shell {

void TShellList::SetBackgroundImage(const classlib::TBitmap* Value)
{
    if (Value && !Value->GetEmpty()) {
        if (!backgroundImage_) backgroundImage_ = std::make_unique<classlib::TBitmap>();
        backgroundImage_->OnChange.Clear();
        backgroundImage_->Assign(Value);
        // Drawing on the picture afterwards shows too.
        backgroundImage_->OnChange =
            classlib::TNotifyEvent::FromFunction([](void* list, classlib::TObject*) {
                static_cast<TShellList*>(list)->ApplyBackgroundImage();
            }, this);
    } else {
        backgroundImage_.reset();
    }
    ApplyBackgroundImage();
}

void TShellList::SetBackgroundImageStyle(TShBackgroundImageStyle Value)
{
    backgroundImageStyle_ = Value;
    ApplyBackgroundImage();
}

void TShellList::DeleteBackgroundFile()
{
    if (backgroundFile_.empty()) return;
    ::DeleteFileW(backgroundFile_.c_str());
    backgroundFile_.clear();
}

namespace {

// Writes Data to a new file of a name no one else has used in the temporary
// folder (created exclusively, so an existing file or link of the same name
// is never written through); the name, "" on failure.
std::wstring WriteUniqueTempFile(const void* Data, std::size_t Size)
{
    static std::atomic<unsigned> counter{0};
    const std::wstring folder = classlib::IncludeTrailingPathDelimiter(GetTempFolder());
    for (int attempt = 0; attempt < 16; ++attempt) {
        LARGE_INTEGER now{};
        ::QueryPerformanceCounter(&now);
        wchar_t suffix[64];
        std::swprintf(suffix, 64, L"%08lX%08lX%04X", ::GetCurrentProcessId(),
                      static_cast<unsigned long>(now.QuadPart ^ (now.QuadPart >> 32)), ++counter & 0xFFFF);
        const std::wstring name = folder + L"ShellListBackground_" + suffix + L".bmp";
        HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return L"";
        }
        DWORD written = 0;
        const bool ok = ::WriteFile(h, Data, static_cast<DWORD>(Size), &written, nullptr) && written == Size;
        ::CloseHandle(h);
        if (ok) return name;
        ::DeleteFileW(name.c_str());
        return L"";
    }
    return L"";
}

}  // namespace

void TShellList::ApplyBackgroundImage()
{
    // Every picture goes to a file of its own: the list view may still be
    // reading the previous one, which goes once the new one is in place.
    const std::wstring previous = backgroundFile_;
    backgroundFile_.clear();
    std::wstring file;
    if (backgroundImage_ && !backgroundImage_->GetEmpty()) {
        classlib::TMemoryStream data;
        try {
            backgroundImage_->SaveToStream(&data);
            file = WriteUniqueTempFile(data.GetMemory(), static_cast<std::size_t>(data.GetSize()));
        } catch (const classlib::Exception&) {
            file.clear();
        }
    }
    backgroundFile_ = file;
    if (HandleAllocated()) {
        LVBKIMAGEW image{};
        if (!file.empty()) {
            SendToWindow(LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(CLR_NONE));
            image.ulFlags = LVBKIF_SOURCE_URL;
            image.pszImage = const_cast<wchar_t*>(file.c_str());
            switch (backgroundImageStyle_) {
            case bisLeftTop: image.ulFlags |= LVBKIF_STYLE_NORMAL; break;
            case bisRightBottom:
                image.ulFlags |= LVBKIF_STYLE_NORMAL;
                image.xOffsetPercent = 100;
                image.yOffsetPercent = 100;
                break;
            case bisTiled: image.ulFlags |= LVBKIF_STYLE_TILE; break;
            }
        } else {
            image.ulFlags = LVBKIF_SOURCE_NONE;
        }
        const bool accepted = SendToWindow(LVM_SETBKIMAGEW, 0, reinterpret_cast<LPARAM>(&image)) != 0;
        // A list view that refuses a picture from a file (it answers FALSE
        // and keeps nothing) never shows it: the list draws it itself.
        drawsBackground_ = !file.empty() && !accepted;
        ::InvalidateRect(GetHandle(), nullptr, TRUE);
    } else {
        drawsBackground_ = false;
    }
    if (!previous.empty()) ::DeleteFileW(previous.c_str());
}

void TShellList::PaintBackgroundImage(HDC DC)
{
    RECT client{};
    ::GetClientRect(GetHandle(), &client);
    RECT box{};
    if (::GetClipBox(DC, &box) == ERROR) box = client;
    if (!::IntersectRect(&box, &box, &client)) return;
    // Everything the picture leaves free gets the window's background, and
    // text drawn without a background (LVM_SETTEXTBKCOLOR CLR_NONE) lies
    // over both.
    COLORREF back = static_cast<COLORREF>(SendToWindow(LVM_GETBKCOLOR, 0, 0));
    if (back == CLR_NONE) back = static_cast<COLORREF>(classlib::ColorToRGB(GetColor()));
    classlib::TOwnedBrush brush(::CreateSolidBrush(back));
    ::FillRect(DC, &box, brush.Get());

    const int width = backgroundImage_->GetWidth(), height = backgroundImage_->GetHeight();
    HDC source = backgroundImage_->GetCanvas()->GetHandle();
    if (width <= 0 || height <= 0 || !source) return;
    // A monochrome picture in black and white.
    classlib::TTextColorsScope colors(DC, RGB(0, 0, 0), RGB(255, 255, 255));
    auto place = [&](int x, int y) {
        const RECT tile{x, y, x + width, y + height};
        RECT part{};
        if (::IntersectRect(&part, &tile, &box))
            ::BitBlt(DC, part.left, part.top, part.right - part.left, part.bottom - part.top, source, part.left - x,
                     part.top - y, SRCCOPY);
    };
    switch (backgroundImageStyle_) {
    case bisLeftTop: place(0, 0); break;
    case bisRightBottom: place(client.right - width, client.bottom - height); break;
    case bisTiled:
        // Tiles are fixed to the client area (they do not move with the
        // items); only those the update reaches are drawn.
        for (int y = box.top - box.top % height; y < box.bottom; y += height)
            for (int x = box.left - box.left % width; x < box.right; x += width) place(x, y);
        break;
    }
}

}  // namespace shell
