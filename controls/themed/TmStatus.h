// Themed status pane: a non-windowed control showing one line of text in a
// frame, normally placed on a TTmStatusBar. It can size itself to its
// caption, fill or let through its background, follow a frame controller and
// blink its text between the font colour and a blink colour in step with
// every other blinking pane (one shared timer).
//
// Every pane is listed in the shared blink list from construction to
// destruction; the last pane to go frees the list. Frame controllers are not
// owned. Main thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "classlib/Controls.h"
#include "classlib/StdCtrls.h"
#include "controls/themed/TmCommon.h"
#include "controls/themed/TmFrameController.h"
#include "controls/themed/TmFrameProperties.h"

namespace themed {

class TTmCustomStatusPane : public classlib::TGraphicControl,
                            public TTmFramedControl,
                            public ITmFrameControllerClient,
                            public ITmPublishedProperties {
public:
    explicit TTmCustomStatusPane(classlib::TComponent* AOwner);
    ~TTmCustomStatusPane() override;
    std::wstring ClassName() const override { return L"TTmCustomStatusPane"; }

    virtual int CalcAutoWidth();
    virtual void GetInteriorRect(RECT& Rect);
    virtual void DrawCaption(const std::wstring& Text);
    virtual void DrawFrame();
    void UpdateFrameController() override;
    // Show: the blink colour (phase 0); otherwise the normal colour (phase 1).
    virtual void Blink(bool Show);
    // The rectangle (pane client coordinates) reaches the status bar's
    // client right edge while that bar shows a size grip.
    virtual bool OverlapsSizeGrip(const RECT& Rect);
    // Themed drawing applies: the parent is a TTmStatusBar with vsWinXP and
    // themes are enabled.
    bool UseThemedStatus() const;

    classlib::TAlignment GetAlignment() const { return alignment_; }
    virtual void SetAlignment(classlib::TAlignment Value);
    bool GetAutoSize() const { return autoSize_; }
    virtual void SetAutoSize(bool Value);
    bool GetAutoHint() const { return autoHint_; }
    void SetAutoHint(bool Value) { autoHint_ = Value; }
    int GetDefaultWidth() const { return defaultWidth_; }
    virtual void SetDefaultWidth(int Value);
    TColor GetBlinkColor() const { return blinkColor_; }
    virtual void SetBlinkColor(TColor Value);
    bool GetBlinking() const { return blinking_; }
    virtual void SetBlinking(bool Value);
    uint8_t GetBlinkPhase() const { return blinkPhase_; }
    virtual uint16_t GetBlinkIntervalOff() const;
    virtual void SetBlinkIntervalOff(uint16_t Value);
    virtual uint16_t GetBlinkIntervalOn() const;
    virtual void SetBlinkIntervalOn(uint16_t Value);
    int GetBorderWidth() const { return frame_.GetBorderWidth(); }
    virtual void SetBorderWidth(int Value) { frame_.SetBorderWidth(Value); }
    const std::wstring& GetCaption() const { return caption_; }
    virtual void SetCaption(const std::wstring& Value);
    int GetCaptionOffset() const { return captionOffset_; }
    virtual void SetCaptionOffset(int Value);
    // While ParentFillColor, the fill colour is the pane's Color.
    TColor GetFillColor() const { return parentFillColor_ ? GetColor() : fillColor_; }
    virtual void SetFillColor(TColor Value);
    bool GetParentFillColor() const { return parentFillColor_; }
    virtual void SetParentFillColor(bool Value);
    // Frame properties: the frame block's (flat colour and frame controller
    // published by TTmFramedControl). The frame style is the pane's only
    // frame, the block's outer one.
    TFrameStyle GetFrameStyle() const { return frame_.GetBorderOuter(); }
    virtual void SetFrameStyle(TFrameStyle Value) { frame_.SetBorderOuter(Value); }
    bool GetTransparent() const { return frame_.GetTransparent(); }
    virtual void SetTransparent(bool Value) { frame_.SetTransparent(Value); }
    // The pane takes its Color from its parent while ParentColor is true.
    bool GetParentColor() const { return parentColor_; }
    void SetParentColor(bool Value);
    void SetParent(classlib::TWinControl* Value) override;
    // The colour the caption is drawn in now, and the font's colour kept for
    // the normal phase.
    TColor GetDrawingColor() const { return drawingColor_; }
    TColor GetNormalColor() const { return normalColor_; }

    // Width := CalcAutoWidth with AutoSize (never while reading).
    void AdjustSize();
    void Loaded() override;
    void WndProc(classlib::TMessage& Message) override;

    bool HasPublishedProperty(const std::wstring& Name) const override;
    int64_t GetPublishedProperty(const std::wstring& Name) const override;
    void SetPublishedProperty(const std::wstring& Name, int64_t Value) override;

protected:
    void Paint() override;
    void FontChanged(classlib::TObject* Sender) override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    classlib::TAlignment alignment_ = classlib::taLeftJustify;
    bool autoSize_ = false;
    bool autoHint_ = false;
    int defaultWidth_ = 40;
    TColor blinkColor_ = classlib::clHighlight;
    uint8_t blinkPhase_ = 1;
    bool blinking_ = false;
    TColor normalColor_;
    std::wstring caption_;
    int captionOffset_ = 2;
    bool parentFillColor_ = true;
    TColor fillColor_;
    bool parentColor_ = true;
    TColor drawingColor_;
};

class TTmStatusPane : public TTmCustomStatusPane {
public:
    explicit TTmStatusPane(classlib::TComponent* AOwner) : TTmCustomStatusPane(AOwner) {}
    std::wstring ClassName() const override { return L"TTmStatusPane"; }
};

}  // namespace themed
