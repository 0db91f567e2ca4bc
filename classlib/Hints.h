// Hints: the hint message, the hint record and the hint window.
//
// A control's Hint holds "short|long": the short part is what the hint
// window shows, the long part is the status hint (the application's Hint,
// Forms.h); without "|" both are the whole text.
//
// Before a hint shows, the application sends CM_HINTSHOW to the control
// under the pointer (TControl::Perform; LParam: a THintInfo* filled with
// the defaults). The control may change any field of the record; a
// non-zero result refuses the hint (0 = show).
//
// Threads: the main thread only.
#pragma once

#include <windows.h>

#include <string>

#include "classlib/Controls.h"

namespace classlib {

constexpr UINT CM_HINTSHOW = 0xB030;

struct THintInfo {
    // The control the hint is for (the one with ShowHint under the pointer).
    TControl* HintControl = nullptr;
    // Screen position of the hint window's top-left corner; default: the
    // pointer, moved down below the cursor image.
    POINT HintPos{};
    // The widest the hint window may be (pixels); default: the screen width.
    int HintMaxWidth = 0;
    // The text shown; default: the short part of the control's hint (or of
    // the nearest parent's with a hint).
    std::wstring HintStr;
    // Client coordinates of HintControl: the hint stays while the pointer
    // stays inside; leaving it starts the next hint. Default: the client
    // rectangle.
    RECT CursorRect{};
    // The pointer in HintControl's client coordinates (read it; changing it
    // has no effect).
    POINT CursorPos{};
    // Milliseconds: above 0 the control is asked again after this time
    // (while the pointer stays in CursorRect).
    int ReshowTimeout = 0;
    // Milliseconds until the shown hint hides; 0 or less: it stays until
    // the pointer leaves CursorRect. Default: the application's HintHidePause.
    int HideTimeout = 0;
    // Free for the control; handed to the hint window with the text.
    void* HintData = nullptr;
};

// The text before the first "|", or the whole text without one.
std::wstring GetShortHint(const std::wstring& Hint);
// The text after the first "|", or the whole text without one.
std::wstring GetLongHint(const std::wstring& Hint);
// The hint of Control, or of its nearest parent with a non-empty one.
std::wstring GetHint(const TControl* Control);

// The top-level window a hint shows in: a bordered box in the info colours
// with the text wrapped to the width it is given. It never takes the
// activation, and the pointer passes through it to the windows below.
class THintWindow : public TCustomControl {
public:
    explicit THintWindow(TComponent* AOwner);
    std::wstring ClassName() const override { return L"THintWindow"; }

    // The window rectangle (at 0, 0) the text needs when wrapped to
    // MaxWidth; AData is the hint's data (unused here, for derived windows).
    virtual RECT CalcHintRect(int MaxWidth, const std::wstring& AHint, void* AData);
    // Shows the window at Rect (screen; moved into the work area of the
    // monitor it is on) with AHint, on top and without activating it.
    virtual void ActivateHint(RECT Rect, const std::wstring& AHint);
    void ActivateHintData(RECT Rect, const std::wstring& AHint, void* AData);
    // Hides the window (it stays for the next hint).
    void ReleaseHint();
    // Whether the window is shown now.
    bool IsHintShown() const;

    const std::wstring& GetCaption() const { return caption_; }
    void* GetHintData() const { return data_; }

protected:
    void CreateParams(TCreateParams& Params) override;
    void Dispatch(TMessage& Message) override;
    void Paint() override;

private:
    std::wstring caption_;
    void* data_ = nullptr;
};

}  // namespace classlib
