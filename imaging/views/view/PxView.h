// TPxView: the common base of the toolkit's display controls (the
// single-image view and the thumbnail grid).
//
// It adds to the class library's custom control: the background colour, a
// single or no border (with a 3-D client edge when Ctl3D is on), the
// resolution of the shown image, and the list of bitmap-change handlers
// through which attached I/O and processing objects follow the view's image.
//
// Bitmap-change registrations: RegisterBitmapChangeEvent returns a handle
// (the address of the registration record, never negative); the record is
// owned by the view until RemoveBitmapChangeEvent or the destructor frees
// it. The destructor calls every registration that is left once with
// Destroying true, so an attached object can drop its reference first.
//
// Threads: main thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "imaging/io/core/ImgIOView.h"

namespace classlib {
class TBitmap;
}

namespace imaging {

class TPxBitmap;

enum TBorderStyle : uint8_t { bsNone, bsSingle };

// The handler type shared by both view interfaces.
using TPxBitmapChangeEvent = TPxViewBitmapChangeEvent;

class TPxView : public classlib::TCustomControl {
public:
    explicit TPxView(classlib::TComponent* Owner);
    ~TPxView() override;
    std::wstring ClassName() const override { return L"TPxView"; }

    TBorderStyle GetBorderStyle() const { return borderStyle_; }
    // Recreates the window when the value changes.
    void SetBorderStyle(TBorderStyle Value);
    bool GetCtl3D() const { return ctl3D_; }
    void SetCtl3D(bool Value);
    bool ParentCtl3D = true;

    classlib::TColor GetBackground() { return background_; }
    virtual void SetBackground(classlib::TColor Value);

    virtual classlib::TBitmap* GetBitmap() { return nullptr; }
    virtual TPxBitmap* GetPxBitmap() { return nullptr; }
    virtual TPxBitmap* GetAlphaChannel() = 0;
    virtual bool HasAlphaChannel() = 0;
    virtual void RemoveAlphaChannel(bool Merge) = 0;
    virtual void BeginPaintLock() = 0;
    virtual int EndPaintLock() = 0;
    virtual int EndPaintLockNoUpdate() = 0;

    int GetDpiX() { return dpiX_; }
    int GetDpiY() { return dpiY_; }
    // Store the resolution; 0 is ignored.
    virtual void SetDpiX(int Value);
    virtual void SetDpiY(int Value);
    // SetDpiX(X), then SetDpiY(Y), both through the virtual slots.
    virtual void SetDpi(int X, int Y);

    virtual void DoImageChange() {}
    // Calls every registered handler, first to last, with Destroying false.
    virtual void NotifyBitmapChange();

    intptr_t RegisterBitmapChangeEvent(const TPxBitmapChangeEvent& Handler, classlib::TObject* Owner);
    // Negative handles and handles not in the list are ignored.
    void RemoveBitmapChangeEvent(intptr_t Handle);
    // Number of registrations (for callers that check their clean-up).
    int GetBitmapChangeCount() const { return static_cast<int>(changeList_.size()); }

    // The control's own canvas (transition effects draw through it).
    classlib::TCanvas* GetViewCanvas() const { return GetCanvas(); }

protected:
    void CreateParams(classlib::TCreateParams& Params) override;

private:
    struct TRegistration {
        TPxBitmapChangeEvent Handler;
        classlib::TObject* Owner = nullptr;
    };

    TBorderStyle borderStyle_ = bsSingle;
    std::vector<TRegistration*> changeList_;
    classlib::TColor background_ = classlib::clBtnFace;
    int dpiX_ = 0;
    int dpiY_ = 0;
    bool ctl3D_ = true;
};

// Turns the flat scroll bars of Window on (both bars set up hidden over
// 0..65535) or off.
void PxSetFlatScrollBars(HWND Window, bool Flat);

}  // namespace imaging
