// Themed splitter: a panel that owns exactly two panes separated by a bar the
// user drags.
//
// The bar's offset (Position) is held in pixels or follows a percentage
// (UsePercent), limited by the margins MarginMin (smallest Position) and
// MarginMax (pixels kept free beyond the bar). Either pane can keep its size
// when the splitter is resized (FixedPane); a pane can be hidden, the other
// then takes the whole client area. An optional hot spot on the bar collapses
// one pane with a click and restores it with the next.
//
// Ownership: the splitter owns both panes, both pane-data objects, the name
// lists and its cursors. Controls put into a pane are only its children:
// their component owner (normally the form) deletes them.
//
// Threads: main thread only, like every control.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "classlib/Persistent.h"
#include "classlib/WinHandles.h"
#include "controls/themed/TmCommon.h"
#include "controls/themed/TmPanel.h"

namespace themed {

enum TSelectedPane : uint8_t { spUpperLeft, spLowerRight };
enum TFixedPane : uint8_t { fpUpperLeft, fpLowerRight };
enum TSplitterStyle : uint8_t { ssStandard, ssGroove, ssBump, ssGroupBar };
enum THotSpotDirection : uint8_t { hsdMin, hsdMax, hsdBoth };
enum TTmGroupBarGradientPath : uint8_t { gpTopToBottom, gpBottomToTop };

// Sender, the proposed position, and whether to allow it (true on entry).
using TPositionChangingEvent = classlib::TEvent<void(classlib::TObject* Sender, int NewPos, bool& AllowChange)>;

class TTmSplitter;

// One of the two panes. Clicks on its empty area fall through to the
// splitter below (the pane answers WM_NCHITTEST with HTTRANSPARENT there);
// its drawn child controls are hit as usual.
class TTmSplitterPane : public TTmCustomPanel {
public:
    explicit TTmSplitterPane(classlib::TComponent* AOwner);
    std::wstring ClassName() const override { return L"TTmSplitterPane"; }

    // The splitter the pane belongs to (not owned).
    TTmSplitter* GetSplitter() const { return splitter_; }
    void SetSplitter(TTmSplitter* Value) { splitter_ = Value; }

    // Shows or hides the pane, then lays out the splitter's panes again.
    void SetVisible(bool Value) override;
    void WndProc(classlib::TMessage& Message) override;

protected:
    void MouseEnter() override;
    void MouseLeave() override;

private:
    TTmSplitter* splitter_ = nullptr;
};

// The settings of one pane, read from and written to the pane itself.
class TTmPaneData : public classlib::TPersistent {
public:
    explicit TTmPaneData(TTmSplitterPane* Pane) : pane_(Pane) {}
    std::wstring ClassName() const override { return L"TTmPaneData"; }

    // Copies the pane settings of another TTmPaneData (other sources raise
    // EConvertError).
    void Assign(const classlib::TPersistent* Source) override;

    TTmSplitterPane* GetPane() const { return pane_; }

    TColor GetBorderColor() const { return pane_->GetBorderColor(); }
    void SetBorderColor(TColor Value) { pane_->SetBorderColor(Value); }
    TFrameStyleEx GetBorderInner() const { return pane_->GetBorderInner(); }
    void SetBorderInner(TFrameStyleEx Value) { pane_->SetBorderInner(Value); }
    TFrameStyleEx GetBorderOuter() const { return pane_->GetBorderOuter(); }
    void SetBorderOuter(TFrameStyleEx Value) { pane_->SetBorderOuter(Value); }
    int GetBorderWidth() const { return pane_->GetBorderWidth(); }
    void SetBorderWidth(int Value) { pane_->SetBorderWidth(Value); }
    TColor GetColor() const { return pane_->GetColor(); }
    void SetColor(TColor Value) { pane_->SetColor(Value); }
    TColor GetFlatColor() const { return pane_->GetFlatColor(); }
    void SetFlatColor(TColor Value) { pane_->SetFlatColor(Value); }
    int GetFlatColorAdjustment() const { return pane_->GetFlatColorAdjustment(); }
    void SetFlatColorAdjustment(int Value) { pane_->SetFlatColorAdjustment(Value); }
    bool GetShowDockClientCaptions() const { return pane_->GetShowDockClientCaptions(); }
    void SetShowDockClientCaptions(bool Value) { pane_->SetShowDockClientCaptions(Value); }
    bool GetVisible() const { return pane_->GetVisible(); }
    void SetVisible(bool Value) { pane_->SetVisible(Value); }
    // Docked controls go into the pane (through its dock manager).
    bool GetDockSite() const { return pane_->GetDockSite(); }
    void SetDockSite(bool Value) { pane_->SetDockSite(Value); }

private:
    TTmSplitterPane* pane_;
};

class TTmSplitter : public TTmCustomPanel {
public:
    explicit TTmSplitter(classlib::TComponent* AOwner);
    ~TTmSplitter() override;
    std::wstring ClassName() const override { return L"TTmSplitter"; }

    // ---- virtual operations
    virtual void UpdateFixedOffset();
    // BorderWidth plus the outer and inner frame widths on the left and top.
    virtual int GetBorderInset();
    // XORs the bar image at position Pos on the drag DC (drawing twice erases).
    virtual void InvertSplitterBar(int Pos);
    virtual void CalcHotSpotRect();
    virtual void UpdateHotSpotHighlight();
    virtual void DrawHotSpot(bool Highlight, POINT MousePos);
    virtual void DrawSplitterBar();
    virtual void ConstrainPosition(int& Pos);
    virtual void StoreFixedPosition(int Pos);
    virtual void SetOrientation(TOrientation Value);
    virtual void SetSelectedPane(TSelectedPane Value);
    virtual TTmSplitterPane* GetSelectedPaneControl();
    virtual void SetFixedPane(TFixedPane Value);
    // Index 1 UpperLeft, 2 LowerRight; others raise ERangeError.
    virtual TTmPaneData* GetPaneData(int Index);
    virtual void SetPaneData(int Index, const TTmPaneData* Value);
    virtual void SetPosition(int Value);
    // Moves the bar and remembers the place as the user's choice.
    virtual void UpdatePosition(int Pos);
    virtual void SetMarginMax(int Value);
    virtual void SetMarginMin(int Value);
    virtual void SetPercent(int Value);
    virtual void SetUsePercent(bool Value);
    virtual void SetPercentMax(int Value);
    virtual void SetPercentMin(int Value);
    virtual void SetSplitterStyle(TSplitterStyle Value);
    virtual void SetSplitterWidth(uint16_t Value);
    virtual void SetGradientColorAdjustment(int Value);
    virtual void SetGradientPath(TTmGroupBarGradientPath Value);
    virtual void SetHotSpotVisible(bool Value);
    virtual void SetHotSpotHighlight(TColor Value);
    virtual void SetHotSpotDirection(THotSpotDirection Value);
    virtual void SetHotSpotSizePercent(int Value);
    virtual void LayoutPanes();
    virtual void ResetHotSpot();

    // Frame setters: the panel's, then the panes are laid out again.
    void SetBorderInner(TFrameStyleEx Value) override;
    void SetBorderOuter(TFrameStyleEx Value) override;
    void SetBorderSides(TSides Value) override;
    void SetBorderWidth(int Value);
    // The splitter's and both panes'.
    void SetTransparent(bool Value) override;

    // ---- properties
    TOrientation GetOrientation() const { return orientation_; }
    TSelectedPane GetSelectedPane() const { return selectedPane_; }
    TFixedPane GetFixedPane() const { return fixedPane_; }
    // For one of the panes: unless loading or already shown, the form's
    // focus leaves a control inside the splitter for the splitter, and the
    // pane becomes visible. Other controls: the inherited handling.
    void ShowControl(classlib::TControl* Control) override;
    TTmSplitterPane* GetPane1() const { return pane1_; }
    TTmSplitterPane* GetPane2() const { return pane2_; }
    TTmPaneData* GetUpperLeft() { return GetPaneData(1); }
    TTmPaneData* GetLowerRight() { return GetPaneData(2); }
    void SetUpperLeft(const TTmPaneData* Value) { SetPaneData(1, Value); }
    void SetLowerRight(const TTmPaneData* Value) { SetPaneData(2, Value); }
    int GetPosition() const { return position_; }
    int GetMarginMin() const { return marginMin_; }
    int GetMarginMax() const { return marginMax_; }
    bool GetUsePercent() const { return usePercent_; }
    int GetPercent() const { return percent_; }
    int GetPercentMin() const { return percentMin_; }
    int GetPercentMax() const { return percentMax_; }
    int GetFixedOffset() const { return fixedOffset_; }
    int GetStoredFixedPosition() const { return storedFixedPosition_; }
    uint16_t GetSplitterWidth() const { return splitterWidth_; }
    TSplitterStyle GetSplitterStyle() const { return splitterStyle_; }
    bool GetRealTimeDrag() const { return realTimeDrag_; }
    void SetRealTimeDrag(bool Value) { realTimeDrag_ = Value; }
    bool GetLockBar() const { return lockBar_; }
    void SetLockBar(bool Value) { lockBar_ = Value; }
    const RECT& GetBarRect() const { return barRect_; }
    // Sets the bar rectangle as read from a form file ("BarSize") and
    // recomputes the hot spot.
    void SetBarRect(const RECT& Value);
    const RECT& GetHotSpotRect() const { return hotSpotRect_; }
    bool GetHotSpotVisible() const { return hotSpotVisible_; }
    TColor GetHotSpotHighlight() const { return hotSpotHighlight_; }
    TColor GetHotSpotColor() const { return hotSpotColor_; }
    void SetHotSpotColor(TColor Value);
    TColor GetHotSpotDotColor() const { return hotSpotDotColor_; }
    void SetHotSpotDotColor(TColor Value);
    TColor GetHotSpotFrameColor() const { return hotSpotFrameColor_; }
    void SetHotSpotFrameColor(TColor Value);
    THotSpotDirection GetHotSpotDirection() const { return hotSpotDirection_; }
    bool GetHotSpotClosed() const { return hotSpotClosed_; }
    bool GetHotSpotClosedToMin() const { return hotSpotClosedToMin_; }
    bool GetHotSpotClosedToMax() const { return hotSpotClosedToMax_; }
    int GetHotSpotPosition() const { return hotSpotPosition_; }
    bool GetHotSpotIgnoreMargins() const { return hotSpotIgnoreMargins_; }
    void SetHotSpotIgnoreMargins(bool Value) { hotSpotIgnoreMargins_ = Value; }
    int GetHotSpotSizePercent() const { return hotSpotSizePercent_; }
    int GetGradientColorAdjustment() const { return gradientColorAdjustment_; }
    TTmGroupBarGradientPath GetGradientPath() const { return gradientPath_; }
    // Hot-spot state as stored in a form file while the hot spot is closed.
    void SetHotSpotState(bool Closed, bool ClosedToMin, bool ClosedToMax, int Position);

    // True while the user drags the bar (or holds the hot spot pressed).
    bool IsDragging() const { return dragging_; }

    // The names of the controls of pane Index (1 or 2) in child order: what a
    // form file stores as "UpperLeftControls" / "LowerRightControls".
    std::vector<std::wstring> GetPaneControlNames(int Index) const;
    // Replaces the name list of pane Index read from a form file; Loaded
    // moves the owner's components of those names into the pane. Names that
    // no component carries are skipped.
    void ReadPaneControlNames(int Index, const std::vector<std::wstring>& Names);
    const std::vector<std::wstring>& GetPaneNameList(int Index) const;

    // Number of splitters loading at the moment (all splitters share it).
    static int LoadingCount();

    void Loaded() override;
    void WndProc(classlib::TMessage& Message) override;

    classlib::TNotifyEvent OnChange;
    TPositionChangingEvent OnChanging;
    classlib::TNotifyEvent OnHotSpotClick;

protected:
    void CreateParams(classlib::TCreateParams& Params) override;
    void Paint() override;
    void Resize() override;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void MouseUp(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseLeave() override;
    void KeyDown(WORD& Key, classlib::TShiftState Shift) override;

    virtual void Change();
    virtual bool CanChange(int NewPos);
    virtual void HotSpotClick();

public:
    // Docking events of the panes (pane 1 "UL", pane 2 "LR"), fired with
    // the splitter as sender.
    classlib::TGetSiteInfoEvent OnULGetSiteInfo;
    classlib::TDockOverEvent OnULDockOver;
    classlib::TDockDropEvent OnULDockDrop;
    classlib::TUnDockEvent OnULUnDock;
    classlib::TGetSiteInfoEvent OnLRGetSiteInfo;
    classlib::TDockOverEvent OnLRDockOver;
    classlib::TDockDropEvent OnLRDockDrop;
    classlib::TUnDockEvent OnLRUnDock;

private:
    void PaneGetSiteInfo(classlib::TObject* Sender, classlib::TControl* DockClient, RECT& InfluenceRect,
                         POINT MousePos, bool& CanDock);
    void PaneDockOver(classlib::TObject* Sender, classlib::TDragDockObject* Source, int X, int Y,
                      classlib::TDragState State, bool& Accept);
    void PaneDockDrop(classlib::TObject* Sender, classlib::TDragDockObject* Source, int X, int Y);
    void PaneUnDock(classlib::TObject* Sender, classlib::TControl* Client, classlib::TWinControl* NewTarget,
                    bool& Allow);
    // Size along the orientation: Width or Height of the whole control.
    int AlongSize() const;
    // The panel's client rectangle shrunk once more by the borders.
    RECT LayoutClientRect();
    bool Loading() const;
    // d = size - SplitterWidth div 2, the base of the percentages.
    int PercentBase() const;
    void ApplyPercentMargins();
    void BeginDragDC();
    void EndDragDC();
    void EndDrag();
    POINT CursorClientPos();
    // Draws the bar (and hot spot) on Canvas, or on a temporary client DC
    // when Canvas is null.
    void PaintBar(classlib::TCanvas* Canvas);
    void PaintHotSpot(classlib::TCanvas* Canvas, bool Highlight, POINT MousePos);
    HCURSOR LoadSplitterCursor(const wchar_t* Name, const wchar_t* Fallback, size_t Slot);

    TOrientation orientation_ = orHorizontal;
    std::unique_ptr<TTmPaneData> upperLeft_;
    std::unique_ptr<TTmPaneData> lowerRight_;
    TTmSplitterPane* pane1_ = nullptr;  // owned as a component
    TTmSplitterPane* pane2_ = nullptr;  // owned as a component
    std::vector<std::wstring> pane1Names_;
    std::vector<std::wstring> pane2Names_;
    TSelectedPane selectedPane_ = spUpperLeft;
    int position_ = 100;
    int marginMin_ = 0;
    int marginMax_ = 0;
    bool usePercent_ = false;
    int percent_ = 50;
    int percentMin_ = 0;
    int percentMax_ = 100;
    TFixedPane fixedPane_ = fpUpperLeft;
    int fixedOffset_ = 100;
    bool resizing_ = false;
    uint16_t splitterWidth_ = 4;
    TSplitterStyle splitterStyle_ = ssStandard;
    bool realTimeDrag_ = false;
    bool lockBar_ = false;
    RECT barRect_{};
    int dragStartPos_ = 0;
    int dragOffset_ = 0;
    int dragCurrentPos_ = 0;
    bool dragging_ = false;
    // Cursors: horizontal, horizontal hot spot, vertical, vertical hot spot;
    // ownedCursors_ holds those loaded from the program's resources.
    HCURSOR cursors_[4] = {};
    classlib::TOwnedCursor ownedCursors_[4];
    int storedFixedPosition_ = 0;
    // While the bar is dragged outline-only: the DC it is inverted on (of
    // dragDCWindow_, or the screen's) with the pattern brush selected.
    std::unique_ptr<classlib::TBrush> dragBrush_;
    std::unique_ptr<classlib::TWindowDC> dragDC_;
    std::unique_ptr<classlib::TSelectObjectScope> dragBrushSelection_;
    HWND dragDCWindow_ = nullptr;
    bool hotSpotOutside_ = true;
    bool hotSpotVisible_ = false;
    TColor hotSpotHighlight_ = classlib::clWindow;
    TColor hotSpotColor_ = classlib::clBtnFace;
    TColor hotSpotDotColor_ = classlib::clHighlight;
    TColor hotSpotFrameColor_ = classlib::clBtnShadow;
    RECT hotSpotRect_{};
    THotSpotDirection hotSpotDirection_ = hsdMin;
    bool hotSpotClosed_ = false;
    bool hotSpotClosedToMin_ = false;
    bool hotSpotClosedToMax_ = false;
    bool hotSpotPressed_ = false;
    int hotSpotPosition_ = 100;
    bool hotSpotIgnoreMargins_ = true;
    int hotSpotSizePercent_ = 40;
    bool paintWithMouse_ = false;
    bool inPaint_ = false;
    int gradientColorAdjustment_ = 30;
    TTmGroupBarGradientPath gradientPath_ = gpTopToBottom;
};

}  // namespace themed
