// Themed container controls: a panel whose border is drawn from the themed
// frame styles (outer frame, a band of BorderWidth, inner frame, each on the
// chosen sides) with a solid, gradient or transparent interior, an optional
// grid and a word-wrapped caption; a group box; and a status bar that hosts
// status panes and progress bars and draws a size grip.
//
// Layout: the client area (GetClientRect) is the control minus the outer and
// inner frames on the border sides; aligned children are placed in it.
// Children are not owned by the panel (their component owner deletes them).
// Frame controllers are not owned: a panel links itself to one and unlinks
// itself when either goes away.
//
// Threads: main thread only, like every control.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Docking.h"
#include "classlib/ExtCtrls.h"
#include "classlib/StdCtrls.h"
#include "controls/themed/TmCommon.h"
#include "controls/themed/TmFrameController.h"
#include "controls/themed/TmFrameProperties.h"

namespace themed {

using classlib::TAlignment;

enum TAlignmentVertical : uint8_t { avTop, avCenter, avBottom };
enum TTmGridStyle : uint8_t { gsDots, gsDottedLines, gsSolidLines };

// DrawText flags of the caption alignments and of word wrapping.
UINT TmAlignmentFlags(TAlignment Value);
inline UINT TmWordWrapFlags(bool WordWrap) { return WordWrap ? DT_WORDBREAK : 0; }

// Every child of Parent with a "Transparent" property that is true (the
// themed panels, panes and controls publishing it) is invalidated.
void TmInvalidateTransparentChildren(classlib::TWinControl* Parent);

class TTmCustomPanel : public classlib::TPanel,
                       public TTmBorderedControl,
                       public ITmFrameControllerClient,
                       public ITmPublishedProperties {
public:
    explicit TTmCustomPanel(classlib::TComponent* AOwner);
    ~TTmCustomPanel() override;
    std::wstring ClassName() const override { return L"TTmCustomPanel"; }

    // The cursor position in client coordinates.
    virtual void GetCursorClientPos(POINT& Point);
    // Shrinks Rect by the frames on the border sides (and first by the
    // BorderWidth band when IncludeBorderWidth).
    virtual void AdjustRectForBorders(RECT& Rect, bool IncludeBorderWidth);
    virtual void GetOuterRect(RECT& Rect);
    virtual void GetRepaintMargin(POINT& Point) { Point = POINT{1, 1}; }
    virtual void GetGradientColors(TColor& Start, TColor& Stop);
    virtual void GetFrameColors(TColor& FlatColor, int& Adjustment);
    virtual void DrawCaption(RECT Rect);
    virtual void DrawGrid(const RECT& Rect);
    void UpdateFrameController() override;

    // The area aligned children are placed in: the client rectangle minus
    // the BorderWidth band.
    void AdjustClientRect(RECT& Rect) override;
    RECT GetClientRect() const override;
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void SetEnabled(bool Value) override;
    void WndProc(classlib::TMessage& Message) override;

    TAlignment GetAlignment() const { return alignment_; }
    void SetAlignment(TAlignment Value);
    TAlignmentVertical GetAlignmentVertical() const { return alignmentVertical_; }
    virtual void SetAlignmentVertical(TAlignmentVertical Value);
    // Frame properties (the frame block's, the border frames, flat colour and
    // frame controller published by TTmBorderedControl); border changes
    // realign the children.
    TSides GetBorderSides() const { return frame_.GetBorderSides(); }
    virtual void SetBorderSides(TSides Value) { frame_.SetBorderSides(Value); }
    TColor GetBorderHighlight() const { return frame_.GetBorderHighlight(); }
    virtual void SetBorderHighlight(TColor Value) { frame_.SetBorderHighlight(Value); }
    TColor GetBorderShadow() const { return frame_.GetBorderShadow(); }
    virtual void SetBorderShadow(TColor Value) { frame_.SetBorderShadow(Value); }
    // Negative widths count as 0.
    int GetBorderWidth() const { return frame_.GetBorderWidth(); }
    void SetBorderWidth(int Value) { frame_.SetBorderWidth(std::max(0, Value)); }
    TTmGradientColorStyle GetGradientColorStyle() const { return gradientColorStyle_; }
    virtual void SetGradientColorStyle(TTmGradientColorStyle Value);
    TColor GetGradientColorStart() const { return gradientColorStart_; }
    virtual void SetGradientColorStart(TColor Value);
    TColor GetGradientColorStop() const { return gradientColorStop_; }
    virtual void SetGradientColorStop(TColor Value);
    TGradientDirection GetGradientDirection() const { return gradientDirection_; }
    virtual void SetGradientDirection(TGradientDirection Value);
    TColor GetGridColor() const { return gridColor_; }
    virtual void SetGridColor(TColor Value);
    TTmGridStyle GetGridStyle() const { return gridStyle_; }
    virtual void SetGridStyle(TTmGridStyle Value);
    uint16_t GetGridXSize() const { return gridXSize_; }
    virtual void SetGridXSize(uint16_t Value);
    uint16_t GetGridYSize() const { return gridYSize_; }
    virtual void SetGridYSize(uint16_t Value);
    bool GetPaintClientArea() const { return paintClientArea_; }
    virtual void SetPaintClientArea(bool Value);
    bool GetShowGrid() const { return showGrid_; }
    virtual void SetShowGrid(bool Value);
    // Changing it repaints the children too.
    bool GetTransparent() const { return frame_.GetTransparent(); }
    virtual void SetTransparent(bool Value) { frame_.SetTransparent(Value); }
    int GetTextMargin() const { return textMargin_; }
    virtual void SetTextMargin(int Value);
    int GetTextMarginVertical() const { return textMarginVertical_; }
    virtual void SetTextMarginVertical(int Value);
    bool GetWordWrap() const { return wordWrap_; }
    virtual void SetWordWrap(bool Value);
    TTmVisualStyle GetVisualStyle() const { return frame_.GetVisualStyle(); }
    virtual void SetVisualStyle(TTmVisualStyle Value) { frame_.SetVisualStyle(Value); }
    bool GetFullRepaint() const { return fullRepaint_; }
    void SetFullRepaint(bool Value) { fullRepaint_ = Value; }
    bool GetShowDockClientCaptions() const { return showDockClientCaptions_; }
    void SetShowDockClientCaptions(bool Value)
    {
        showDockClientCaptions_ = Value;
        Invalidate();
    }
    // A dock site panel with UseDockManager (the default) places its docked
    // controls through a TTmPanelDockManager.
    void CreateDockManager() override;
    // The parent's colour, or the panel's own without a parent.
    TColor ParentColorValue() const;

    // Old form files: "FrameSides" and "ThemeAware" are read and dropped;
    // "UseGradients" True sets VisualStyle vsGradient. Returns false for
    // other names.
    bool ReadObsoleteProperty(const std::wstring& Name, const std::wstring& Value);

    // Published properties by name (what the frame controller reads).
    bool HasPublishedProperty(const std::wstring& Name) const override;
    int64_t GetPublishedProperty(const std::wstring& Name) const override;
    void SetPublishedProperty(const std::wstring& Name, int64_t Value) override;

    classlib::TNotifyEvent OnPaint;

protected:
    void Paint() override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;
    void EraseBackground(classlib::TMessage& Message) override;
    // Realigns the children after a border change.
    void Realign();

private:
    // The frame block's change handler: realigns after border changes, then
    // invalidates (and with Transparent the children as well).
    void FrameChanged(TTmFrameProperty Which);

    TAlignment alignment_ = classlib::taCenter;
    TAlignmentVertical alignmentVertical_ = avCenter;
    bool paintClientArea_ = true;
    TTmGradientColorStyle gradientColorStyle_ = gcsSystem;
    TColor gradientColorStart_ = 0xFFFFFF;
    TColor gradientColorStop_ = classlib::clBtnFace;
    TGradientDirection gradientDirection_ = gdHorizontalEnd;
    TColor gridColor_ = classlib::clBtnShadow;
    TTmGridStyle gridStyle_ = gsDots;
    uint16_t gridXSize_ = 8;
    uint16_t gridYSize_ = 8;
    bool showGrid_ = false;
    int textMargin_ = 0;
    int textMarginVertical_ = 0;
    bool wordWrap_ = true;
    bool showDockClientCaptions_ = true;
    bool fullRepaint_ = true;
    // Each child and whether it was enabled when the panel was disabled.
    std::vector<std::pair<classlib::TControl*, bool>> disabledChildren_;
};

// The dock manager of a panel that is a dock site: caption bars above the
// docked controls (beside them when the panel is aligned to the top or
// bottom) in the caption colours, with a close glyph. Owned by the panel.
class TTmPanelDockManager : public classlib::TDockTree {
public:
    explicit TTmPanelDockManager(TTmCustomPanel* Panel);
    ~TTmPanelDockManager() override;
    std::wstring ClassName() const override { return L"TTmPanelDockManager"; }
    // Left (panel aligned top or bottom) or Top grows by the grabber size.
    void AdjustDockRect(classlib::TControl* Control, RECT& ARect) override;
    // Repaints the panel on WM_COMMAND and WM_MOUSEACTIVATE.
    void SiteMessage(classlib::TMessage& Message) override;
    classlib::TFont* GetCaptionFont() const { return captionFont_.get(); }

protected:
    void PaintDockFrame(classlib::TCanvas* Canvas, classlib::TControl* Control, const RECT& ARect) override;

private:
    TTmCustomPanel* panel_;
    std::unique_ptr<classlib::TFont> captionFont_;
    std::unique_ptr<classlib::TFont> closeFont_;
};

// The caption a dock manager shows for a docked control: a form's caption,
// a panel's caption, else the control's name.
std::wstring TmDockClientCaption(classlib::TControl* Control);

class TTmPanel : public TTmCustomPanel {
public:
    explicit TTmPanel(classlib::TComponent* AOwner) : TTmCustomPanel(AOwner) {}
    std::wstring ClassName() const override { return L"TTmPanel"; }
};

enum TTmGroupBoxStyle : uint8_t { gsStandard, gsCustom, gsTopLine, gsFlat, gsBanner, gsUnderline };

class TTmCustomGroupBox : public TTmCustomPanel {
public:
    explicit TTmCustomGroupBox(classlib::TComponent* AOwner);
    std::wstring ClassName() const override { return L"TTmCustomGroupBox"; }

    TTmGroupBoxStyle GetGroupStyle() const { return groupStyle_; }
    virtual void SetGroupStyle(TTmGroupBoxStyle Value);
    int GetBannerHeight() const { return bannerHeight_; }
    virtual void SetBannerHeight(int Value);

    void AdjustClientRect(RECT& Rect) override;
    // The rectangle the caption is drawn in (empty without caption or for
    // gsCustom).
    RECT GetCaptionRect();
    void UpdateFrameController() override;

protected:
    void Paint() override;
    void FontChanged(classlib::TObject* Sender) override;
    // CM_DIALOGCHAR: Alt with the caption's accelerator focuses the box's
    // first child (in tab order) and answers 1.
    void WndProc(classlib::TMessage& Message) override;

private:
    TTmGroupBoxStyle groupStyle_ = gsFlat;
    int bannerHeight_ = 0;
};

class TTmGroupBox : public TTmCustomGroupBox {
public:
    explicit TTmGroupBox(classlib::TComponent* AOwner) : TTmCustomGroupBox(AOwner) {}
    std::wstring ClassName() const override { return L"TTmGroupBox"; }
};

class TTmStatusBar : public TTmCustomPanel {
public:
    explicit TTmStatusBar(classlib::TComponent* AOwner);
    ~TTmStatusBar() override;
    std::wstring ClassName() const override { return L"TTmStatusBar"; }

    virtual void DrawSimpleFrame(RECT R);
    virtual void ApplyAutoStyle();

    bool GetAutoStyle() const { return autoStyle_; }
    void SetAutoStyle(bool Value) { autoStyle_ = Value; }
    bool GetSimpleStatus() const { return simpleStatus_; }
    virtual void SetSimpleStatus(bool Value);
    const std::wstring& GetSimpleCaption() const { return simpleCaption_; }
    virtual void SetSimpleCaption(const std::wstring& Value);
    TFrameStyle GetSimpleFrameStyle() const { return simpleFrameStyle_; }
    virtual void SetSimpleFrameStyle(TFrameStyle Value);
    bool GetShowSizeGrip() const { return showSizeGrip_; }
    virtual void SetShowSizeGrip(bool Value);
    bool GetSizeGripAllowed() const { return sizeGripAllowed_; }
    bool GetAutoScalePanes() const { return autoScalePanes_; }
    void SetAutoScalePanes(bool Value) { autoScalePanes_ = Value; }

    void SetBorderInner(TFrameStyleEx Value) override;
    void SetBorderOuter(TFrameStyleEx Value) override;
    void SetBorderSides(TSides Value) override;
    void GetGradientColors(TColor& Start, TColor& Stop) override;
    RECT GetClientRect() const override;
    void WndProc(classlib::TMessage& Message) override;

    // The size grip may show: the parent form is sizeable and not maximized.
    void UpdateSizeGripAllowed();
    RECT GetSizeGripRect() const { return RECT{GetWidth() - 13, 0, GetWidth(), GetHeight()}; }
    void DrawSizeGrip(const RECT& R);
    void Loaded() override;

protected:
    void Paint() override;
    void Resize() override;
    void CreateWnd() override;
    void PaintHandler(classlib::TMessage& Message) override;

private:
    bool autoStyle_ = true;
    bool simpleStatus_ = false;
    std::wstring simpleCaption_;
    TFrameStyle simpleFrameStyle_ = fsFlat;
    bool sizeGripAllowed_ = false;
    bool showSizeGrip_ = true;
    bool autoScalePanes_ = false;
    bool firstResize_ = true;
    int lastWidthChange_ = 0;
    int lastWidth_ = 0;
};

}  // namespace themed
