// The owner-drawn tab control: a strip of tabs along one side of the control
// (top, left, bottom or right, placed from either end) in one or several
// rows, and a "card" on the rest of the control that holds the page
// contents.
//
// Tabs are described by a list of TTmTabData records that a descendant fills
// (the page control builds it from its pages) before calling TabsChanged.
// Property changes only flag the layout; it runs at the next paint
// (UpdateTabs), so a burst of changes costs one layout.
//
// Everything is drawn into an off-screen bitmap of the control's size and
// copied to the screen in one step. Tab outlines are recorded as a list of
// pen commands and played back, so that the card's soft shadow can be
// blended into the parent's background pixel by pixel.
//
// Coordinates: the layout works in strip coordinates (x along the strip in
// tab order, y across it from the outer edge to the card); RawToClientPoint
// maps them to the control for each side and sequence.
//
// The control owns its off-screen bitmap, tab list, region cache, colour sets
// and the small button controls (scroller, close buttons, menu button) it
// creates on first need. Main thread only, like every control.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"
#include "classlib/Exceptions.h"
#include "classlib/ExtCtrls.h"
#include "classlib/ImageList.h"
#include "classlib/WinHandles.h"
#include "controls/themed/TmCommon.h"

namespace themed {

enum TTmTabOrientation : uint8_t { toTop, toLeft, toBottom, toRight };
enum TTmTabSequence : uint8_t { tsStandard, tsReverse };
enum TTmTabStyle : uint8_t { tsSingleSlant, tsDoubleSlant, tsCutCorner, tsRoundCorners, tsBackSlant, tsSquareCorners };
enum TTmImagePosition : uint8_t { ipLeft, ipTop, ipRight, ipBottom, ipBack, ipStretch };
enum TTmHorizontalAlignment : uint8_t { haLeft, haCenter, haRight };
enum TTmVerticalAlignment : uint8_t { vaTop, vaCenter, vaBottom };
// The state a tab's text is drawn in (OnGetTextColor).
enum TTmTextStyle : uint8_t { tsHotTrack, tsSelected, tsUnselected, tsDisabled };
enum TTmTabHotTrackStyle : uint8_t { htsTab, htsText, htsTabBar };
enum TTmTabHotTrackColorSource : uint8_t { htcsTabColor, htcsHotTrackColorProp };
enum TTmHotTrackColorType : uint8_t { htctComplement, htctActual };

CLASSLIB_EXCEPTION(ETmTabControlError, classlib::Exception);

class TTmCustomTabControl;

using TTmTabChangingEvent = classlib::TEvent<void(classlib::TObject* Sender, int NewIndex, bool& AllowChange)>;
using TTmTabCloseEvent = classlib::TEvent<void(classlib::TObject* Sender, bool& AllowClose)>;
using TTmTabOrderChangeEvent = classlib::TEvent<void(classlib::TObject* Sender, int OldIndex, int NewIndex)>;
using TTmGetTextColorEvent = classlib::TEvent<void(classlib::TObject* Sender, int ATabIndex, TTmTextStyle AStyle,
                                                   TColor& AColor, bool& Handled)>;
using TTmPaintBackgroundEvent =
    classlib::TEvent<void(classlib::TObject* Sender, classlib::TCanvas* ACanvas, const RECT& ARect, bool& Handled)>;
using TTmPaintCardBackgroundEvent = classlib::TEvent<void(classlib::TObject* Sender, classlib::TCanvas* ACanvas,
                                                          int ARow, const RECT& ARect, bool& Handled)>;
using TTmPaintTabBackgroundEvent = classlib::TEvent<void(classlib::TObject* Sender, classlib::TCanvas* ACanvas,
                                                         int ATabIndex, const RECT& ARect, bool& Handled)>;

// One tab as the control sees it.
class TTmTabData : public classlib::TPersistent {
public:
    std::wstring ClassName() const override { return L"TTmTabData"; }
    // Copies Caption, DisabledIndex, ImageIndex, Color, Enabled, Visible and
    // Hint from another tab (not RawRect or Row).
    void Assign(const classlib::TPersistent* Source) override;

    // May hold several lines separated by CR LF and one accelerator "&".
    std::wstring Caption;
    TColor Color = classlib::clBtnFace;
    int DisabledIndex = -1;
    bool Enabled = true;
    std::wstring Hint;
    int ImageIndex = -1;
    // Written by the layout: the rectangle in strip coordinates (Top at the
    // outer edge, Bottom at the card edge) and the row (0 next to the card).
    RECT RawRect{};
    bool Visible = true;
    int Row = 0;
};

// An owning list of tab records.
class TTmTabDataList : public classlib::TPersistent {
public:
    std::wstring ClassName() const override { return L"TTmTabDataList"; }
    virtual int GetCount() const { return static_cast<int>(items_.size()); }
    // Index out of range raises EListError.
    virtual TTmTabData* GetItem(int Index) const;
    // Frees the old item and stores Item (taking ownership).
    virtual void SetItem(int Index, TTmTabData* Item);
    void Add(TTmTabData* Item);
    void Clear() { items_.clear(); }
    // Clears, then appends a copy of each source item.
    void Assign(const classlib::TPersistent* Source) override;

private:
    std::vector<std::unique_ptr<TTmTabData>> items_;
};

// The tab colours; each change repaints the owning control.
class TTmTabColors : public classlib::TPersistent {
public:
    explicit TTmTabColors(TTmCustomTabControl* Owner) : owner_(Owner) {}
    std::wstring ClassName() const override { return L"TTmTabColors"; }
    void Assign(const classlib::TPersistent* Source) override;
    TColor GetHighlightBar() const { return highlightBar_; }
    virtual void SetHighlightBar(TColor Value);
    TColor GetShadow() const { return shadow_; }
    virtual void SetShadow(TColor Value);
    TColor GetUnselected() const { return unselected_; }
    virtual void SetUnselected(TColor Value);

private:
    // Repaints the owner's tabs after a change.
    void RepaintOwner();
    TTmCustomTabControl* owner_;
    TColor highlightBar_ = classlib::clHighlight;
    TColor shadow_ = classlib::clBtnFace;
    TColor unselected_ = classlib::clWindow;
};

// The text colours; each change repaints the owning control.
class TTmTextColors : public classlib::TPersistent {
public:
    explicit TTmTextColors(TTmCustomTabControl* Owner) : owner_(Owner) {}
    std::wstring ClassName() const override { return L"TTmTextColors"; }
    void Assign(const classlib::TPersistent* Source) override;
    TColor GetDisabled() const { return disabled_; }
    virtual void SetDisabled(TColor Value);
    TColor GetSelected() const { return selected_; }
    virtual void SetSelected(TColor Value);
    TColor GetUnselected() const { return unselected_; }
    virtual void SetUnselected(TColor Value);

private:
    // Repaints the owner's tabs after a change.
    void RepaintOwner();
    TTmCustomTabControl* owner_;
    TColor disabled_ = classlib::clGrayText;
    TColor selected_ = classlib::clBtnText;
    TColor unselected_ = classlib::clBtnText;
};

// A cached tab region; owns the region handle.
class TTmTabRegionCacheItem : public classlib::TObject {
public:
    ~TTmTabRegionCacheItem() override { SetRegion(nullptr); }
    std::wstring ClassName() const override { return L"TTmTabRegionCacheItem"; }
    // Deletes the old region when the handle changes.
    virtual void SetRegion(HRGN Region);
    HRGN GetRegion() const { return region_; }
    RECT TabRect{-1, -1, -1, -1};

private:
    HRGN region_ = nullptr;
};

// Regions of tab shapes by tab rectangle, newest first; owns the regions.
class TTmTabRegionCache : public classlib::TObject {
public:
    std::wstring ClassName() const override { return L"TTmTabRegionCache"; }
    // The region of the first item whose rectangle equals Rect, else nullptr;
    // a lookup does not reorder.
    HRGN FindRegion(const RECT& Rect) const;
    // Moves an item with an equal rectangle to the front (keeping its
    // region; Region is then deleted) or puts a new item there; then frees
    // the oldest items beyond Capacity (unless -1).
    void AddRegion(const RECT& Rect, HRGN Region);
    void Clear() { items_.clear(); }
    int GetCapacity() const { return capacity_; }
    // -1 (unlimited) or > 0; other values raise ETmTabControlError.
    void SetCapacity(int Value);
    int GetCount() const { return static_cast<int>(items_.size()); }
    const TTmTabRegionCacheItem* GetItem(int Index) const { return items_[static_cast<size_t>(Index)].get(); }

private:
    void Trim();
    std::vector<std::unique_ptr<TTmTabRegionCacheItem>> items_;
    int capacity_ = 1;
};

class TTmTabScroller;
class TTmTabControlCloseButton;
class TTmActiveTabCloseButton;
class TTmTabMenuButton;

// An entry of the tab menu (see TTmTabMenuButton).
struct TTmTabMenuEntry {
    std::wstring Caption;
    bool Enabled = true;
    bool Checked = false;
    int ImageIndex = -1;
    int Tag = 0;  // the tab index
};

class TTmCustomTabControl : public classlib::TCustomControl {
public:
    explicit TTmCustomTabControl(classlib::TComponent* AOwner);
    ~TTmCustomTabControl() override;
    std::wstring ClassName() const override { return L"TTmCustomTabControl"; }

    // ------------------------------------------------------------ data
    TTmTabDataList* TabData() const { return tabData_.get(); }
    // Flags the layout for the next paint (and repaints).
    virtual void TabsChanged();
    // Clears the hot-track partial-paint flag and invalidates the control.
    virtual void InvalidateTabs();
    // Runs the layout when it is flagged.
    void UpdateTabs();
    // The layout itself: tab sizes, rows, placement, FixedDimension.
    void CalcTabRects();
    int GetRowCount() const { return rowCount_; }
    int GetFixedDimension() const { return fixedDimension_; }
    // The value used before the first layout (streamed with the form).
    void SetFixedDimension(int Value) { fixedDimension_ = Value; }
    int GetFirstShownTab() const { return firstShownTab_; }
    int GetHotTab() const { return hotTab_; }
    bool GetScrolling() const { return scrolling_; }
    bool GetTabsChangedFlag() const { return tabsChanged_; }
    TTmTabRegionCache* RegionCache() const { return regionCache_.get(); }

    // ------------------------------------------------------------ geometry
    RECT GetTabAreaRect() const;
    int TabStripLength() const;
    RECT GetCardRect(int Row) const;
    RECT GetDisplayRect() const;
    RECT GetRawTabRect(int Index) const;
    RECT GetTabRect(int Index) const;
    POINT RawToClientPoint(int X, int Y) const;
    int ScrollOffset() const;
    bool IsTabShown(int Tab) const;
    int FirstVisibleTab() const;
    int LastVisibleTab() const;
    int ScrollButtonWidth();
    int ScrollButtonHeight();
    int CloseButtonWidth();
    int CloseButtonHeight();
    int MenuButtonWidth();
    int MenuButtonHeight();
    // The region of tab Index for its client rectangle Rect (cached, owned by
    // the cache); nullptr for a shape of fewer than 3 points.
    HRGN GetTabRegion(int Index, const RECT& Rect);
    // The shape in strip coordinates / in client coordinates (at most 20
    // points).
    void GetTabShape(int Index, POINT* Points, int& Count) const;
    void GetTabPolygon(int Index, POINT* Points, int& Count) const;
    RECT GetTabContentRect(RECT R) const;

    // ------------------------------------------------------------ text
    void MeasureText(const std::wstring& Text, bool Horizontal, SIZE& Size);
    void SelectTabFont();
    void RestoreTabFont();
    // Splits at each CR LF.
    static std::vector<std::wstring> SplitLines(const std::wstring& Text);

    // ------------------------------------------------------------ selection
    int GetTabIndex() const { return tabIndex_; }
    virtual void SetTabIndex(int Value);
    bool CanSelectTab(int Index);
    // The tab under a client point, or -1.
    int TabAtPos(int X, int Y);
    void ScrollTabs(bool Forward);
    void ScrollerDownLeftClick(classlib::TObject* Sender);
    void ScrollerUpRightClick(classlib::TObject* Sender);
    // Closes the selected tab when OnClose allows it.
    void CloseTab(classlib::TObject* Sender = nullptr);
    void EndHotTrack();

    // ------------------------------------------------------------ drawing
    // Steps 1-5 of a paint into the off-screen bitmap (no copy to screen).
    void PaintToBitmap();
    classlib::TBitmap* GetBitmap() const { return bitmap_.get(); }
    // The outline commands of the last figure drawn.
    const std::vector<int>& OutlineCommands() const { return outline_; }

    // ------------------------------------------------------------ buttons
    TTmTabScroller* GetScroller() const { return scroller_; }
    TTmTabControlCloseButton* GetCloseButton() const { return closeButton_; }
    TTmActiveTabCloseButton* GetActiveTabCloseButton() const { return activeCloseButton_; }
    TTmTabMenuButton* GetMenuButton() const { return menuButton_; }
    void PlaceScroller();
    void PlaceCloseButton();
    void PlaceMenuButton();
    void PlaceActiveTabCloseButton();
    // The entries of the tab menu: visible tabs, sorted by caption with
    // SortTabMenu, the selected one checked.
    std::vector<TTmTabMenuEntry> TabMenuEntries() const;

    // ------------------------------------------------------------ properties
    bool GetAlignTabs() const { return alignTabs_; }
    virtual void SetAlignTabs(bool Value);
    TColor GetBackgroundColor() const { return backgroundColor_; }
    virtual void SetBackgroundColor(TColor Value);
    bool GetBoldCurrentTab() const { return boldCurrentTab_; }
    virtual void SetBoldCurrentTab(bool Value);
    TColor GetButtonColor() const { return buttonColor_; }
    virtual void SetButtonColor(TColor Value);
    bool GetShowCard() const { return showCard_; }
    virtual void SetShowCard(bool Value);
    bool GetShowCardFrame() const { return showCardFrame_; }
    virtual void SetShowCardFrame(bool Value);
    bool GetShowFullFrame() const { return showFullFrame_; }
    virtual void SetShowFullFrame(bool Value);
    bool GetShowCloseButton() const { return showCloseButton_; }
    virtual void SetShowCloseButton(bool Value);
    bool GetShowCloseButtonOnActiveTab() const { return showCloseButtonOnActiveTab_; }
    virtual void SetShowCloseButtonOnActiveTab(bool Value);
    bool GetShowMenuButton() const { return showMenuButton_; }
    virtual void SetShowMenuButton(bool Value);
    bool GetSortTabMenu() const { return sortTabMenu_; }
    void SetSortTabMenu(bool Value) { sortTabMenu_ = Value; }
    bool GetUseColoredTabs() const { return useColoredTabs_; }
    virtual void SetUseColoredTabs(bool Value);
    int GetCutCornerSize() const { return cutCornerSize_; }
    virtual void SetCutCornerSize(int Value);
    TColor GetDragIndicatorColor() const { return dragIndicatorColor_; }
    void SetDragIndicatorColor(TColor Value) { dragIndicatorColor_ = Value; }
    TColor GetFlatColor() const { return flatColor_; }
    virtual void SetFlatColor(TColor Value);
    int GetFlatColorAdjustment() const { return flatColorAdjustment_; }
    virtual void SetFlatColorAdjustment(int Value);
    TTmImagePosition GetImagePosition() const { return imagePosition_; }
    virtual void SetImagePosition(TTmImagePosition Value);
    TTmHorizontalAlignment GetImageAlignment() const { return imageAlignment_; }
    virtual void SetImageAlignment(TTmHorizontalAlignment Value);
    int GetImageMargin() const { return imageMargin_; }
    virtual void SetImageMargin(int Value);
    TTmVerticalAlignment GetImageAlignmentVertical() const { return imageAlignmentVertical_; }
    virtual void SetImageAlignmentVertical(TTmVerticalAlignment Value);
    bool GetHotTrack() const { return hotTrack_; }
    virtual void SetHotTrack(bool Value);
    TColor GetHotTrackColor() const { return hotTrackColor_; }
    virtual void SetHotTrackColor(TColor Value);
    TTmTabHotTrackColorSource GetHotTrackColorSource() const { return hotTrackColorSource_; }
    virtual void SetHotTrackColorSource(TTmTabHotTrackColorSource Value);
    TTmHotTrackColorType GetHotTrackColorType() const { return hotTrackColorType_; }
    virtual void SetHotTrackColorType(TTmHotTrackColorType Value);
    TTmTabHotTrackStyle GetHotTrackStyle() const { return hotTrackStyle_; }
    virtual void SetHotTrackStyle(TTmTabHotTrackStyle Value);
    classlib::TCustomImageList* GetImages() const { return images_; }
    virtual void SetImages(classlib::TCustomImageList* Value);
    int GetMargin() const { return margin_; }
    virtual void SetMargin(int Value);
    bool GetMultiLine() const { return multiLine_; }
    virtual void SetMultiLine(bool Value);
    bool GetParentBackgroundColor() const { return parentBackgroundColor_; }
    virtual void SetParentBackgroundColor(bool Value);
    int GetRowIndent() const { return rowIndent_; }
    virtual void SetRowIndent(int Value);
    int GetRowOverlap() const { return rowOverlap_; }
    virtual void SetRowOverlap(int Value);
    bool GetShowFocusRect() const { return showFocusRect_; }
    virtual void SetShowFocusRect(bool Value);
    bool GetShowShadow() const { return showShadow_; }
    virtual void SetShowShadow(bool Value);
    bool GetSoftCorners() const { return softCorners_; }
    virtual void SetSoftCorners(bool Value);
    int GetTabOverlap() const { return tabOverlap_; }
    virtual void SetTabOverlap(int Value);
    TOrientation GetTextOrientation() const { return textOrientation_; }
    virtual void SetTextOrientation(TOrientation Value);
    TTmTabColors* GetTabColors() const { return tabColors_.get(); }
    virtual void SetTabColors(const TTmTabColors* Value) { tabColors_->Assign(Value); }
    TTmTextColors* GetTextColors() const { return textColors_.get(); }
    virtual void SetTextColors(const TTmTextColors* Value) { textColors_->Assign(Value); }
    int GetTabHeight() const { return tabHeight_; }
    virtual void SetTabHeight(int Value);
    bool GetTabHints() const { return tabHints_; }
    virtual void SetTabHints(bool Value);
    TTmTabOrientation GetTabOrientation() const { return tabOrientation_; }
    virtual void SetTabOrientation(TTmTabOrientation Value);
    // -1 or a positive value different from the current one; others ignored.
    virtual void SetRegionCacheCapacity(int Value);
    TTmTabSequence GetTabSequence() const { return tabSequence_; }
    virtual void SetTabSequence(TTmTabSequence Value);
    TTmTabStyle GetTabStyle() const { return tabStyle_; }
    virtual void SetTabStyle(TTmTabStyle Value);
    int GetTabWidth() const { return tabWidth_; }
    virtual void SetTabWidth(int Value);
    TTmHorizontalAlignment GetTextAlignment() const { return textAlignment_; }
    virtual void SetTextAlignment(TTmHorizontalAlignment Value);
    TTmVerticalAlignment GetTextAlignmentVertical() const { return textAlignmentVertical_; }
    virtual void SetTextAlignmentVertical(TTmVerticalAlignment Value);
    bool GetUseGradients() const { return useGradients_; }
    virtual void SetUseGradients(bool Value);
    bool GetTransparent() const { return transparent_; }
    virtual void SetTransparent(bool Value);
    bool GetAllowTabDragging() const { return allowTabDragging_; }
    void SetAllowTabDragging(bool Value) { allowTabDragging_ = Value; }

    classlib::TNotifyEvent OnChange;
    TTmTabChangingEvent OnChanging;
    TTmTabCloseEvent OnClose;
    TTmGetTextColorEvent OnGetTextColor;
    classlib::TNotifyEvent OnPageChange;
    TTmPaintBackgroundEvent OnPaintBackground;
    TTmPaintCardBackgroundEvent OnPaintCardBackground;
    TTmPaintTabBackgroundEvent OnPaintTabBackground;
    classlib::TNotifyEvent OnTabClick;
    TTmTabOrderChangeEvent OnTabOrderChange;
    classlib::TNotifyEvent OnScrolledTabs;

    void AdjustClientRect(RECT& Rect) override;
    void Loaded() override;
    void WndProc(classlib::TMessage& Message) override;

    // Tab dragging (AllowTabDragging): the drag of the control over itself.
    void DragOver(classlib::TObject* Source, int X, int Y, classlib::TDragState State, bool& Accept) override;
    void DragDrop(classlib::TObject* Source, int X, int Y) override;
    // The mark drawn over the parent while a tab is dragged: its rectangle
    // for target tab i (client coordinates).
    RECT DragMarkRect(int Index) const;
    bool GetDragMarkShown() const { return dragMarkShown_; }
    void DragScrollTick(classlib::TObject* Sender);

protected:
    virtual void DoChanging(int NewIndex, bool& AllowChange);
    virtual void DoGetTextColor(int TabIndex, TTmTextStyle Style, bool& Handled, TColor& Color);
    virtual void DoTabClick();
    virtual void DoPaintBackground(classlib::TCanvas* Canvas, const RECT& Rect, bool& Handled);
    virtual void DoPaintCardBackground(classlib::TCanvas* Canvas, int Row, bool& Handled, const RECT& Rect);
    virtual void DoPaintTabBackground(classlib::TCanvas* Canvas, int TabIndex, bool& Handled, const RECT& Rect);
    virtual void DrawDragIndicator(const RECT& R);
    virtual void CloseActiveTab() {}
    virtual void MoveActiveTab(int NewIndex) { (void)NewIndex; }
    virtual bool DeferTabIndex() { return false; }
    virtual void SetTabsChanged(bool Value);
    virtual void SetRowCount(int Value);
    virtual void DoChange();
    virtual void DoPageChange();
    virtual void HideAllTabs() {}
    virtual void ShowAllTabs() {}
    virtual void DoTabOrderChange(int OldIndex, int NewIndex);
    virtual bool DoClose();
    // The page control's loading flag hides its events.
    bool InLoadingState() const;

    void CreateParams(classlib::TCreateParams& Params) override;
    void Paint() override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void KeyDown(WORD& Key, classlib::TShiftState Shift) override;
    void FontChanged(classlib::TObject* Sender) override;
    void Resize() override;
    void EraseBackground(classlib::TMessage& Message) override;
    // Accelerator of a dialog character: true when a tab took it.
    bool DialogChar(wchar_t Char);

    // Drawing steps.
    void DrawTabs();
    void PaintTab(int Index);
    void DrawTabBackground(int Index, const RECT& R);
    void DrawTabContent(int Index, const RECT& R);
    void DrawCaption(TColor Color);
    void DrawTextLine(int X, int Y, TColor Color, bool Horizontal, classlib::TCanvas* Canvas,
                      const std::wstring& Text);
    void DrawHighlightBar(bool Hot);
    void DrawCard(int Row);
    void RecordTabOutline(int Index);
    void RecordCardFrame(int Row);
    void ExecuteOutline();

private:
    friend class TTmTabColors;
    friend class TTmTextColors;
    friend class TTmTabMenuButton;
    class TTabFontScope;

    // Layout helpers.
    SIZE ImageSize(const TTmTabData* Tab) const;
    SIZE ContentSize(int Index);
    SIZE MinimumContent();
    SIZE StyleAllowance(SIZE Content) const;
    SIZE FullTabSize(SIZE Content) const;
    int SlantOverlap(int Value) const;
    bool TextAlongStrip() const;
    bool Vertical() const { return tabOrientation_ == toLeft || tabOrientation_ == toRight; }
    int TabCount() const { return tabData_->GetCount(); }
    TTmTabData* Tab(int Index) const { return tabData_->GetItem(Index); }
    int AlongLength(const SIZE& S) const { return Vertical() ? S.cy : S.cx; }
    int TabAreaExtent() const;
    void ComputeRowCount(const std::vector<int>& Lengths, const std::vector<int>& Visible);
    void AlignTabRows();
    void RotateRows();
    void RepairSelection();
    void Relayout() { TabsChanged(); }
    void Repaint_() { InvalidateTabs(); }
    void SetTabIndexApproved(int Value);
    int ScrollButtonBase();
    void UpdateButtonFrameColors();
    TColor OutlineFlatColor() const;
    RECT ClientBox() const;
    void StartHotTrackTimer();
    void StopHotTrackTimer();
    void HotTrackTimerTick();
    void EraseDragMark();
    void InvalidateTabs_(classlib::TObject* Sender);

    std::unique_ptr<classlib::TBitmap> bitmap_;
    bool tabsChanged_ = true;
    bool applyApproved_ = false;
    std::vector<int> outline_;
    TColor outlineColor_ = 0;
    bool paintedOnce_ = false;
    int firstShownTab_ = 0;
    int fixedDimension_ = 0;
    TColor lastFillColor_ = 0;
    std::vector<HFONT> fontStack_;
    std::vector<int> savedDCs_;
    int hotTab_ = -1;
    std::wstring savedHint_;
    RECT lastDisplayRect_{};
    int rowCount_ = 1;
    TTmTabScroller* scroller_ = nullptr;
    bool scrolling_ = false;
    std::unique_ptr<TTmTabDataList> tabData_;
    std::unique_ptr<TTmTabRegionCache> regionCache_;
    int regionCacheCapacity_ = 1;
    TTmTabControlCloseButton* closeButton_ = nullptr;
    bool showCloseButton_ = false;
    TTmActiveTabCloseButton* activeCloseButton_ = nullptr;
    bool showCloseButtonOnActiveTab_ = false;
    TTmTabMenuButton* menuButton_ = nullptr;
    bool showMenuButton_ = false;
    bool sortTabMenu_ = true;
    std::unique_ptr<classlib::TFont> drawFont_;
    UINT_PTR hotTrackTimer_ = 0;
    std::unique_ptr<classlib::TTimer> dragScrollTimer_;
    uint16_t dragScrollFirst_ = 400;
    uint16_t dragScrollRepeat_ = 300;
    bool alignTabs_ = false;
    TColor backgroundColor_ = classlib::clBtnFace;
    bool boldCurrentTab_ = false;
    TColor buttonColor_ = classlib::clBtnFace;
    bool showCard_ = true;
    bool showCardFrame_ = true;
    bool showFullFrame_ = true;
    bool useColoredTabs_ = false;
    int cutCornerSize_ = 6;
    TColor flatColor_ = classlib::clBtnShadow;
    int flatColorAdjustment_ = 0;
    TTmImagePosition imagePosition_ = ipLeft;
    TTmHorizontalAlignment imageAlignment_ = haCenter;
    int imageMargin_ = 2;
    TTmVerticalAlignment imageAlignmentVertical_ = vaCenter;
    TColor hotTrackColor_ = 0x149BF0;
    TTmTabHotTrackColorSource hotTrackColorSource_ = htcsTabColor;
    TTmHotTrackColorType hotTrackColorType_ = htctActual;
    bool hotTrack_ = true;
    TTmTabHotTrackStyle hotTrackStyle_ = htsTab;
    bool hotTrackPartial_ = false;
    classlib::TCustomImageList* images_ = nullptr;
    std::unique_ptr<classlib::TChangeLink> imageLink_;
    int margin_ = 0;
    bool multiLine_ = false;
    bool parentBackgroundColor_ = true;
    int rowIndent_ = 5;
    int rowOverlap_ = 5;
    TOrientation textOrientation_ = orHorizontal;
    int tabHeight_ = 0;
    bool tabHints_ = false;
    int tabIndex_ = -1;
    int defaultTabIndex_ = 0;
    TTmTabOrientation tabOrientation_ = toTop;
    TTmTabSequence tabSequence_ = tsStandard;
    TTmTabStyle tabStyle_ = tsSingleSlant;
    int tabWidth_ = 0;
    int tabOverlap_ = -1;
    bool softCorners_ = false;
    int mouseDownTab_ = -1;
    std::unique_ptr<TTmTabColors> tabColors_;
    std::unique_ptr<TTmTextColors> textColors_;
    TTmHorizontalAlignment textAlignment_ = haCenter;
    TTmVerticalAlignment textAlignmentVertical_ = vaCenter;
    bool showShadow_ = true;
    bool useGradients_ = true;
    bool transparent_ = false;
    bool showFocusRect_ = true;
    bool allowTabDragging_ = false;
    RECT dragMarkRect_{};
    int lastDragTarget_ = -1;
    bool dragMarkShown_ = false;
    TColor dragIndicatorColor_ = 0x505050;
    // The tab being drawn (DrawCaption, DrawHighlightBar) and its text
    // rectangle.
    int drawTab_ = -1;
    RECT drawTextRect_{};
};

// The two-arrow scroller of a single-line strip that is too long.
class TTmTabScroller : public classlib::TCustomControl {
public:
    explicit TTmTabScroller(TTmCustomTabControl* TabControl);
    ~TTmTabScroller() override;
    std::wstring ClassName() const override { return L"TTmTabScroller"; }
    TColor GetFrameColor() const { return frameColor_; }
    virtual void SetFrameColor(TColor Value);
    TOrientation GetOrientation() const { return orientation_; }
    virtual void SetOrientation(TOrientation Value);
    // The half a client point lies in: 1 up/right, 0 down/left.
    int HalfAt(int X, int Y) const;
    bool GetPressed() const { return pressed_; }
    classlib::TNotifyEvent OnUpRightClick;
    classlib::TNotifyEvent OnDownLeftClick;
    void TimerTick(classlib::TObject* Sender);
    void WndProc(classlib::TMessage& Message) override;

protected:
    virtual void DownLeftClick() { OnDownLeftClick(this); }
    virtual void UpRightClick() { OnUpRightClick(this); }
    void Paint() override;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void MouseUp(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void EraseBackground(classlib::TMessage& Message) override { Message.Result = 1; }

private:
    void ClickHalf(int Half);
    bool HalfEnabled(int Half) const;
    TColor frameColor_ = classlib::clBtnShadow;
    TOrientation orientation_ = orHorizontal;
    TTmCustomTabControl* tabControl_;
    bool mouseDown_ = false, pressed_ = false, hot_ = false;
    int hotHalf_ = 0, pressedHalf_ = 0;
    std::unique_ptr<classlib::TTimer> timer_;
    uint16_t firstDelay_ = 400;
    uint16_t repeatInterval_ = 100;
};

// A small windowed button of the strip (close, menu): pressed while the mouse
// is held inside it, with the mouse captured from the press to the release; a
// release inside it runs Released.
class TTmTabStripButton : public classlib::TCustomControl {
public:
    explicit TTmTabStripButton(TTmCustomTabControl* TabControl);
    TColor GetFrameColor() const { return frameColor_; }
    virtual void SetFrameColor(TColor Value);
    void WndProc(classlib::TMessage& Message) override;

protected:
    // Runs on a release inside the button, after the pressed state is cleared.
    // May free the button: MouseUp checks that it is still alive afterwards.
    virtual void Released() = 0;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void MouseUp(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void EraseBackground(classlib::TMessage& Message) override { Message.Result = 1; }
    // Fills the face in the tab control's button colours.
    void PaintFace(const RECT& R);

    TColor frameColor_ = classlib::clBtnShadow;
    TTmCustomTabControl* tabControl_;
    bool mouseDown_ = false, pressed_ = false, hot_ = false;
};

// The close button at the end of the strip.
class TTmTabControlCloseButton : public TTmTabStripButton {
public:
    explicit TTmTabControlCloseButton(TTmCustomTabControl* TabControl) : TTmTabStripButton(TabControl) {}
    std::wstring ClassName() const override { return L"TTmTabControlCloseButton"; }
    classlib::TNotifyEvent OnClose;

protected:
    virtual void DoClose() { OnClose(this); }
    void Released() override;
    void Paint() override;
};

// The close button drawn on the selected tab (no window).
class TTmActiveTabCloseButton : public classlib::TGraphicControl {
public:
    explicit TTmActiveTabCloseButton(TTmCustomTabControl* TabControl);
    std::wstring ClassName() const override { return L"TTmActiveTabCloseButton"; }
    TColor GetFrameColor() const { return frameColor_; }
    virtual void SetFrameColor(TColor Value);
    classlib::TNotifyEvent OnClose;

protected:
    virtual void DoClose() { OnClose(this); }
    void Paint() override;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void MouseUp(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseEnter() override;
    void MouseLeave() override;

private:
    TColor frameColor_ = classlib::clBtnShadow;
    TTmCustomTabControl* tabControl_;
    bool mouseDown_ = false, pressed_ = false, hot_ = false;
};

// The button that lists the tabs in a popup menu.
class TTmTabMenuButton : public TTmTabStripButton {
public:
    explicit TTmTabMenuButton(TTmCustomTabControl* TabControl) : TTmTabStripButton(TabControl) {}
    std::wstring ClassName() const override { return L"TTmTabMenuButton"; }
    // Selects the tab of a menu entry (its Tag).
    void MenuItemClick(int Tag);
    // The tab menu (the caller destroys it): one item per entry of
    // TabMenuEntries, command i + 1 for entry i, each with its image from
    // the tab control's Images when it has one. The images live until the
    // next BuildMenu or the button's end.
    HMENU BuildMenu();

protected:
    // Shows the tab menu at the button and selects the chosen tab.
    virtual void DisplayMenu();
    void Released() override;
    void Paint() override;

private:
    std::vector<classlib::TOwnedBitmap> menuGlyphs_;
};

// The face of the small buttons: a gradient or flat fill in the tab
// control's ButtonColor with a frame.
void DrawTabButtonFace(classlib::TCanvas* Canvas, const RECT& Rect, TTmCustomTabControl* TabControl, bool Enabled,
                       TColor FrameColor, bool Hot, bool Down);

}  // namespace themed
