// TImage: a graphic control that shows a picture; TPanel: a bevelled
// container with a caption; TTimer: a component that fires OnTimer at an
// interval on the thread that made it.
#pragma once

#include <windows.h>

#include <memory>

#include "classlib/Controls.h"
#include "classlib/Forms.h"
#include "classlib/Picture.h"

namespace classlib {

// Shows its picture: unscaled at the top-left, or centred (Center), or scaled
// to the control (Stretch), keeping the aspect ratio when Proportional (which
// also shrinks, never enlarges, an unstretched picture that is too big).
// Any change of the picture or of the graphic it holds — including a change
// made to the held bitmap from outside, e.g. SetModified(true) — repaints the
// control. With AutoSize the control takes the picture's size on each change.
class TImage : public TGraphicControl {
public:
    explicit TImage(TComponent* Owner);
    ~TImage() override;
    std::wstring ClassName() const override { return L"TImage"; }

    // The picture (owned by the image).
    TPicture* GetPicture() const { return picture_.get(); }
    // Copies Value into the picture.
    void SetPicture(const TPicture* Value) { picture_->Assign(Value); }

    // The canvas of the picture's bitmap. An empty picture first gets a
    // bitmap of the control's size; a picture holding another graphic class
    // raises EInvalidOperation "Can only modify an image if it contains a
    // bitmap".
    TCanvas* GetCanvas();

    bool GetStretch() const { return stretch_; }
    void SetStretch(bool Value);
    bool GetCenter() const { return center_; }
    void SetCenter(bool Value);
    bool GetProportional() const { return proportional_; }
    void SetProportional(bool Value);
    bool GetTransparent() const { return transparent_; }
    void SetTransparent(bool Value);
    bool GetAutoSize() const { return autoSize_; }
    void SetAutoSize(bool Value);

    // Where Paint draws the picture, in the control's coordinates.
    RECT DestRect() const;

protected:
    void Paint() override;
    virtual void PictureChanged(TObject* Sender);

private:
    std::unique_ptr<TPicture> picture_;
    bool stretch_ = false;
    bool center_ = false;
    bool proportional_ = false;
    bool transparent_ = false;
    bool autoSize_ = false;
    bool drawing_ = false;
};

enum TBevelCut { bvNone, bvLowered, bvRaised };
// A control's border: bsNone or bsSingle (any other form border style
// draws as bsSingle).
using TBorderStyle = TFormBorderStyle;

// A container control that paints its colour, an outer and an inner bevel,
// an optional single border and its caption centred.
class TPanel : public TCustomControl {
public:
    explicit TPanel(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TPanel"; }

    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    TBevelCut GetBevelInner() const { return bevelInner_; }
    void SetBevelInner(TBevelCut Value);
    TBevelCut GetBevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut Value);
    int GetBevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int Value);
    TBorderStyle GetBorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle Value);

protected:
    void Paint() override;

private:
    std::wstring caption_;
    TBevelCut bevelInner_ = bvNone;
    TBevelCut bevelOuter_ = bvRaised;
    int bevelWidth_ = 1;
    TBorderStyle borderStyle_ = bsNone;
};

// Fires OnTimer every Interval milliseconds while Enabled and OnTimer is
// set (Interval 0 stops it). The timer belongs to the thread that created
// it: OnTimer runs there, from that thread's message loop, so the thread
// must pump messages.
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;
    std::wstring ClassName() const override { return L"TTimer"; }

    bool GetEnabled() const { return enabled_; }
    void SetEnabled(bool Value);
    unsigned GetInterval() const { return interval_; }
    void SetInterval(unsigned Value);
    TNotifyEvent GetOnTimer() const { return onTimer_; }
    void SetOnTimer(const TNotifyEvent& Value);

protected:
    virtual void Timer() { onTimer_(this); }

private:
    static LRESULT CALLBACK WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
    void UpdateTimer();
    HWND window_ = nullptr;
    bool enabled_ = true;
    unsigned interval_ = 1000;
    TNotifyEvent onTimer_;
};

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

// A bevelled box, frame or line drawn on the parent's surface.
class TBevel : public TGraphicControl {
public:
    explicit TBevel(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TBevel"; }

    TBevelShape GetShape() const { return shape_; }
    void SetShape(TBevelShape Value);
    TBevelStyle GetStyle() const { return style_; }
    void SetStyle(TBevelStyle Value);

protected:
    void Paint() override;

private:
    TBevelShape shape_ = bsBox;
    TBevelStyle style_ = bsLowered;
};

}  // namespace classlib
