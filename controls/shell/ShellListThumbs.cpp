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
#include "classlib/ScopeGuard.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/shell/ShWideStr.h"
#include "controls/shell/ShWorkItems.h"
#include "controls/shell/ShellListPrivate.h"

namespace shell {

void TShellList::MakeThumbnailImages()
{
    HIMAGELIST old = thumbImages_;
    thumbImages_ = ::ImageList_Create(thumbWidth_, thumbHeight_, ILC_COLOR24, 0, 32);
    if (thumbnails_) SetLargeImages(thumbImages_);
    if (old) ::ImageList_Destroy(old);
}

void TShellList::SetThumbnails(bool Value)
{
    if (Value == thumbnails_) return;
    thumbnails_ = Value;
    SetLargeImages(Value ? thumbImages_ : largeIcons_->GetHandle());
    if (Value) {
        settingThumbnails_ = true;
        SetViewStyle(classlib::vsIcon);
        settingThumbnails_ = false;
    }
    Populate();
}

void TShellList::SetViewStyle(classlib::TViewStyle Value)
{
    if (Value == GetViewStyle()) return;
    const bool leave = thumbnails_ && !settingThumbnails_;
    if (leave) {
        thumbnails_ = false;
        SetLargeImages(largeIcons_->GetHandle());
    }
    classlib::TListView::SetViewStyle(Value);
    if (leave) Populate();
    ShowSortArrow();
}

void TShellList::RemakeThumbnails()
{
    if (settingThumbnail_) return;
    MakeThumbnailImages();
    if (!thumbnails_) return;
    // The pictures in the old list are gone: every item asks again.
    CancelWork(nullptr, this);
    classlib::TListItems* items = GetItems();
    items->BeginUpdate();
    for (int i = 0; i < items->GetCount(); ++i) {
        TShellListItem* record = ShellItem(items->GetItem(i));
        if (!record) continue;
        record->IconAsked = false;
        items->GetItem(i)->SetImageIndex(-1);
    }
    items->EndUpdate();
    if (HandleAllocated()) SendToWindow(LVM_ARRANGE, LVA_DEFAULT, 0);
}

void TShellList::SetThumbnailSize(int Width, int Height)
{
    if (Width <= 0 || Height <= 0 || (Width == thumbWidth_ && Height == thumbHeight_)) return;
    thumbWidth_ = Width;
    thumbHeight_ = Height;
    RemakeThumbnails();
}

void TShellList::SetThumbnailBorderColor(classlib::TColor Value)
{
    if (Value == thumbBorder_) return;
    thumbBorder_ = Value;
    RemakeThumbnails();
}

namespace {

// A picture of Width x Height over the window colour with Source (when
// given) fitted into it keeping its proportions, and a frame of Border;
// the caller owns the handle.
HBITMAP FramedPicture(HBITMAP Source, int Width, int Height, COLORREF Border)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = Width;
    info.bmiHeader.biHeight = -Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HBITMAP result = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ::ReleaseDC(nullptr, screen);
    if (!result) return nullptr;
    HDC dc = ::CreateCompatibleDC(nullptr);
    {
        classlib::TSelectObjectScope selectResult(dc, result);
        RECT all{0, 0, Width, Height};
        ::FillRect(dc, &all, ::GetSysColorBrush(COLOR_WINDOW));
        BITMAP src{};
        if (Source && ::GetObjectW(Source, sizeof(src), &src) && src.bmWidth > 0 && src.bmHeight > 0) {
            // Scaled down to fit inside the frame, never up.
            const int room = 2;
            const double scale =
                std::min({1.0, double(Width - 2 * room) / src.bmWidth, double(Height - 2 * room) / src.bmHeight});
            const int w = std::max(1, int(src.bmWidth * scale)), h = std::max(1, int(src.bmHeight * scale));
            HDC from = ::CreateCompatibleDC(nullptr);
            {
                classlib::TSelectObjectScope selectSource(from, Source);
                ::SetStretchBltMode(dc, HALFTONE);
                ::StretchBlt(dc, (Width - w) / 2, (Height - h) / 2, w, h, from, 0, 0, src.bmWidth, src.bmHeight,
                             SRCCOPY);
            }
            ::DeleteDC(from);
        }
        HBRUSH frame = ::CreateSolidBrush(Border);
        ::FrameRect(dc, &all, frame);
        ::DeleteObject(frame);
    }
    ::DeleteDC(dc);
    return result;
}

}  // namespace

int TShellList::AddPlaceholder(const TShellListItem* Record)
{
    int icon = Record->IsFolder() ? GetIconIndexOfFolder(false)
                                  : GetExtensionIconIndex(classlib::ExtractFileExt(Record->ObjectName), si_large, false);
    HBITMAP picture = FramedPicture(nullptr, thumbWidth_, thumbHeight_, classlib::ColorToRGB(thumbBorder_));
    if (!picture) return -1;
    if (icon >= 0) {
        HIMAGELIST large = nullptr;
        SHFILEINFOW info{};
        large = reinterpret_cast<HIMAGELIST>(
            ::SHGetFileInfoW(L"x", FILE_ATTRIBUTE_NORMAL, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_LARGEICON | SHGFI_USEFILEATTRIBUTES));
        int w = 32, h = 32;
        if (large) ::ImageList_GetIconSize(large, &w, &h);
        HDC dc = ::CreateCompatibleDC(nullptr);
        {
            classlib::TSelectObjectScope select(dc, picture);
            if (large) ::ImageList_Draw(large, icon, dc, (thumbWidth_ - w) / 2, (thumbHeight_ - h) / 2, ILD_TRANSPARENT);
        }
        ::DeleteDC(dc);
    }
    auto placeholder = std::make_unique<classlib::TBitmap>();
    placeholder->SetHandle(picture);
    const int index = ::ImageList_Add(thumbImages_, placeholder->GetHandle(), nullptr);
    // The handler may draw on the placeholder too.
    if (index >= 0 && OnThumbnailUpdated) {
        classlib::TValueScope<bool> setting(settingThumbnail_, true);
        OnThumbnailUpdated(this, index, placeholder.get());
        ::ImageList_Replace(thumbImages_, index, placeholder->GetHandle(), nullptr);
    }
    return index;
}

void TShellList::QueueThumbnail(TShellListItem* Record, int ImageIndex)
{
    if (!Record->Pidl || !browser_->FolderIDList()) return;
    TPidl absolute = PidlCombine(browser_->FolderIDList(), Record->Pidl.get());
    ShellWorkPool()->AddWorkItem(new TThumbnailWorkItem(absolute.get(), true, this, Record, ImageIndex, thumbSink_,
                                                        thumbHeight_, thumbWidth_));
}

void TShellList::SetThumbnail(classlib::TBitmap* Bitmap, int ImageIndex, classlib::TObject* Tag)
{
    std::unique_ptr<classlib::TBitmap> owned(Bitmap);
    // Only indexes of images that exist: the count itself is one too far.
    if (!Bitmap || !thumbImages_ || ImageIndex < 0 || ImageIndex >= ::ImageList_GetImageCount(thumbImages_)) return;
    auto it = records_.find(Tag);
    if (it == records_.end() || it->second->Item->GetImageIndex() != ImageIndex) return;
    HBITMAP picture = FramedPicture(Bitmap->GetHandle(), thumbWidth_, thumbHeight_, classlib::ColorToRGB(thumbBorder_));
    if (!picture) return;
    auto framed = std::make_unique<classlib::TBitmap>();
    framed->SetHandle(picture);
    {
        classlib::TValueScope<bool> setting(settingThumbnail_, true);
        OnThumbnailUpdated(this, ImageIndex, framed.get());
        ::ImageList_Replace(thumbImages_, ImageIndex, framed->GetHandle(), nullptr);
    }
    const int row = GetItems()->IndexOf(it->second->Item);
    if (HandleAllocated() && row >= 0) SendToWindow(LVM_REDRAWITEMS, static_cast<WPARAM>(row), static_cast<LPARAM>(row));
}

int TShellList::ItemImageIndex(classlib::TListItem* Item)
{
    FillDetails(Item);
    TShellListItem* record = ShellItem(Item);
    if (thumbnails_) {
        if (record && !record->IconAsked) {
            record->IconAsked = true;
            const int index = AddPlaceholder(record);
            Item->SetImageIndex(index);
            if (index >= 0 && !record->IsParentFolder()) QueueThumbnail(record, index);
        }
        return Item->GetImageIndex();
    }
    if (record && !record->IconAsked && record->Pidl && browser_->FolderIDList()) {
        record->IconAsked = true;
        // The icon of its kind at once (a plain folder's, or that of the
        // file's extension); the object's own follows from the work pool.
        if (Item->GetImageIndex() < 0 && (record->IsFolder() || !record->ObjectName.empty()))
            Item->SetImageIndex(record->IsFolder()
                                    ? GetIconIndexOfFolder(false)
                                    : GetExtensionIconIndex(classlib::ExtractFileExt(record->ObjectName), si_small, false));
        QueueIcon(this, record, PidlCombine(browser_->FolderIDList(), record->Pidl.get()), 0);
        if (showOverlayIcons_) QueueIcon(this, record, PidlCombine(browser_->FolderIDList(), record->Pidl.get()), 1);
        OnGetImageIndex(this, Item);
    }
    return Item->GetImageIndex();
}

}  // namespace shell
