// Owning and borrowed wrappers for Win32 handles, and scope objects for the
// begin/end pairs of GDI and the window manager.
//
// Owning wrappers free their handle when they go out of scope (or on Reset);
// Release hands the handle over and leaves the wrapper empty. Borrowed
// wrappers only name a handle someone else frees. Scope objects undo what
// their constructor did on every way out of the scope.
#pragma once

#include <windows.h>

#include <utility>

namespace classlib {

// ---- owning handles

template <class H, BOOL(WINAPI* Free)(H)>
class TOwnedHandle {
public:
    TOwnedHandle() = default;
    explicit TOwnedHandle(H h) : h_(h) {}
    ~TOwnedHandle() { Reset(); }
    TOwnedHandle(TOwnedHandle&& o) noexcept : h_(o.Release()) {}
    TOwnedHandle& operator=(TOwnedHandle&& o) noexcept
    {
        if (this != &o) Reset(o.Release());
        return *this;
    }
    TOwnedHandle(const TOwnedHandle&) = delete;
    TOwnedHandle& operator=(const TOwnedHandle&) = delete;

    H Get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    H Release() { return std::exchange(h_, nullptr); }
    void Reset(H h = nullptr)
    {
        if (h_ && h_ != h) Free(h_);
        h_ = h;
    }

private:
    H h_ = nullptr;
};

inline BOOL WINAPI FreeGdiObject(HGDIOBJ h) { return ::DeleteObject(h); }

// A GDI object (pen, brush, font, bitmap, region, palette) freed with
// DeleteObject. It must not be selected into a DC when it is freed.
template <class T>
class TGdiObject : public TOwnedHandle<HGDIOBJ, FreeGdiObject> {
public:
    using TOwnedHandle::TOwnedHandle;
    explicit TGdiObject(T h) : TOwnedHandle(static_cast<HGDIOBJ>(h)) {}
    T Get() const { return static_cast<T>(TOwnedHandle::Get()); }
    T Release() { return static_cast<T>(TOwnedHandle::Release()); }
};

using TOwnedBitmap = TGdiObject<HBITMAP>;
using TOwnedPalette = TGdiObject<HPALETTE>;
using TOwnedRegion = TGdiObject<HRGN>;
using TOwnedBrush = TGdiObject<HBRUSH>;
using TOwnedPen = TGdiObject<HPEN>;
using TOwnedFont = TGdiObject<HFONT>;
// A DC made by CreateCompatibleDC/CreateDC, freed with DeleteDC.
using TOwnedDC = TOwnedHandle<HDC, ::DeleteDC>;
using TOwnedIcon = TOwnedHandle<HICON, ::DestroyIcon>;
// A cursor loaded from a file or resource (not a shared system cursor).
using TOwnedCursor = TOwnedHandle<HCURSOR, ::DestroyCursor>;
using TOwnedMenu = TOwnedHandle<HMENU, ::DestroyMenu>;
// A kernel object (event, file, thread) freed with CloseHandle. Files that
// failed to open (INVALID_HANDLE_VALUE) must not be stored.
using TOwnedKernelHandle = TOwnedHandle<HANDLE, ::CloseHandle>;

inline BOOL WINAPI FreeGlobal(HGLOBAL h) { return ::GlobalFree(h) == nullptr; }
// A global memory block freed with GlobalFree; Release it when the clipboard
// takes it over.
using TOwnedGlobal = TOwnedHandle<HGLOBAL, FreeGlobal>;
using TOwnedEnhMetafile = TOwnedHandle<HENHMETAFILE, ::DeleteEnhMetaFile>;

// ---- borrowed handles

// A handle owned elsewhere; the wrapper only documents that it frees nothing.
template <class H>
class TBorrowedHandle {
public:
    TBorrowedHandle() = default;
    explicit TBorrowedHandle(H h) : h_(h) {}
    H Get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    H h_ = nullptr;
};

using TBorrowedDC = TBorrowedHandle<HDC>;
using TBorrowedGdiObject = TBorrowedHandle<HGDIOBJ>;
using TBorrowedIcon = TBorrowedHandle<HICON>;

// ---- scopes

// GetDC/ReleaseDC of a window (nullptr: the screen), or GetDCEx with its
// clip region and flags.
class TWindowDC {
public:
    explicit TWindowDC(HWND wnd = nullptr) : wnd_(wnd), dc_(::GetDC(wnd)) {}
    TWindowDC(HWND wnd, HRGN clip, DWORD flags) : wnd_(wnd), dc_(::GetDCEx(wnd, clip, flags)) {}
    ~TWindowDC()
    {
        if (dc_) ::ReleaseDC(wnd_, dc_);
    }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND wnd_;
    HDC dc_;
};

// The screen DC for the duration of a scope.
class TScreenDC : public TWindowDC {
public:
    TScreenDC() : TWindowDC(nullptr) {}
};

// SelectObject with the previous object selected again at the end of the
// scope. A null object selects nothing.
class TSelectObjectScope {
public:
    TSelectObjectScope(HDC dc, HGDIOBJ obj) : dc_(dc), old_(dc && obj ? ::SelectObject(dc, obj) : nullptr) {}
    ~TSelectObjectScope()
    {
        if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }
    TSelectObjectScope(const TSelectObjectScope&) = delete;
    TSelectObjectScope& operator=(const TSelectObjectScope&) = delete;
    // The object the selection replaced (nullptr when nothing was selected).
    HGDIOBJ Previous() const { return old_ == HGDI_ERROR ? nullptr : old_; }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// SelectPalette/RealizePalette with the previous palette selected again, in
// the same mode, at the end of the scope.
class TSelectPaletteScope {
public:
    TSelectPaletteScope(HDC dc, HPALETTE pal, bool background = false)
        : dc_(dc), background_(background), old_(dc && pal ? ::SelectPalette(dc, pal, background) : nullptr)
    {
        if (old_) ::RealizePalette(dc_);
    }
    ~TSelectPaletteScope()
    {
        if (old_) ::SelectPalette(dc_, old_, background_);
    }
    TSelectPaletteScope(const TSelectPaletteScope&) = delete;
    TSelectPaletteScope& operator=(const TSelectPaletteScope&) = delete;

private:
    HDC dc_;
    BOOL background_;
    HPALETTE old_;
};

// SetTextAlign with the previous alignment restored.
class TTextAlignScope {
public:
    TTextAlignScope(HDC dc, UINT align) : dc_(dc), old_(::SetTextAlign(dc, align)) {}
    ~TTextAlignScope()
    {
        if (old_ != GDI_ERROR) ::SetTextAlign(dc_, old_);
    }
    TTextAlignScope(const TTextAlignScope&) = delete;
    TTextAlignScope& operator=(const TTextAlignScope&) = delete;

private:
    HDC dc_;
    UINT old_;
};

// SetTextColor/SetBkColor with the previous colours restored.
class TTextColorsScope {
public:
    TTextColorsScope(HDC dc, COLORREF text, COLORREF back)
        : dc_(dc), oldText_(::SetTextColor(dc, text)), oldBack_(::SetBkColor(dc, back))
    {
    }
    ~TTextColorsScope()
    {
        if (oldText_ != CLR_INVALID) ::SetTextColor(dc_, oldText_);
        if (oldBack_ != CLR_INVALID) ::SetBkColor(dc_, oldBack_);
    }
    TTextColorsScope(const TTextColorsScope&) = delete;
    TTextColorsScope& operator=(const TTextColorsScope&) = delete;

private:
    HDC dc_;
    COLORREF oldText_;
    COLORREF oldBack_;
};

// GlobalLock/GlobalUnlock of a global memory block; Data() is nullptr when
// the block could not be locked.
class TGlobalLockScope {
public:
    explicit TGlobalLockScope(HGLOBAL block) : block_(block), data_(block ? ::GlobalLock(block) : nullptr) {}
    ~TGlobalLockScope()
    {
        if (data_) ::GlobalUnlock(block_);
    }
    TGlobalLockScope(const TGlobalLockScope&) = delete;
    TGlobalLockScope& operator=(const TGlobalLockScope&) = delete;
    void* Data() const { return data_; }

private:
    HGLOBAL block_;
    void* data_;
};

// SaveDC/RestoreDC.
class TSaveDCScope {
public:
    explicit TSaveDCScope(HDC dc) : dc_(dc), saved_(dc ? ::SaveDC(dc) : 0) {}
    ~TSaveDCScope()
    {
        if (saved_) ::RestoreDC(dc_, saved_);
    }
    TSaveDCScope(const TSaveDCScope&) = delete;
    TSaveDCScope& operator=(const TSaveDCScope&) = delete;

private:
    HDC dc_;
    int saved_;
};

// BeginPaint/EndPaint of a WM_PAINT handler.
class TPaintScope {
public:
    explicit TPaintScope(HWND wnd) : wnd_(wnd), dc_(::BeginPaint(wnd, &ps_)) {}
    ~TPaintScope() { ::EndPaint(wnd_, &ps_); }
    TPaintScope(const TPaintScope&) = delete;
    TPaintScope& operator=(const TPaintScope&) = delete;
    HDC Get() const { return dc_; }
    const PAINTSTRUCT& Info() const { return ps_; }

private:
    HWND wnd_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

// A memory DC (compatible with the screen, or with Reference) that holds
// Bitmap selected for the scope; the bitmap is deselected before the DC is
// deleted, and neither frees the bitmap.
class TMemoryDC {
public:
    explicit TMemoryDC(HBITMAP bitmap = nullptr, HDC reference = nullptr)
        : dc_(::CreateCompatibleDC(reference)), select_(dc_.Get(), bitmap)
    {
    }
    TMemoryDC(const TMemoryDC&) = delete;
    TMemoryDC& operator=(const TMemoryDC&) = delete;
    HDC Get() const { return dc_.Get(); }

private:
    TOwnedDC dc_;  // declared first: the selection is undone before DeleteDC
    TSelectObjectScope select_;
};

// SetErrorMode for the scope, the previous mode restored at the end. An
// inactive scope changes nothing.
class TErrorModeScope {
public:
    explicit TErrorModeScope(UINT mode, bool active = true)
        : active_(active), old_(active ? ::SetErrorMode(mode) : 0)
    {
    }
    ~TErrorModeScope()
    {
        if (active_) ::SetErrorMode(old_);
    }
    TErrorModeScope(const TErrorModeScope&) = delete;
    TErrorModeScope& operator=(const TErrorModeScope&) = delete;

private:
    bool active_;
    UINT old_;
};

}  // namespace classlib
