// Layout of a view: placing its viewers in lines or columns, wrapping,
// separators, the chevron, same-width entries and the view's total size.
#include "controls/toolbar/MbItem.h"

#include <algorithm>

#include "controls/toolbar/MbCommon.h"

namespace toolbar {

namespace {

struct TWork {
    RECT Rect{};
    bool Placed = false, BehindChevron = false, ScrolledAway = false, SameWidth = false, LineBreak = false;
};

bool IsSeparator(const TMbItemViewer* V) { return (V->EntryItem->GetKinds() & ikSeparator) != 0; }

int Width(const RECT& R) { return R.right - R.left; }
int Height(const RECT& R) { return R.bottom - R.top; }

// Hides shown separators that follow another shown separator or start the
// list, then the trailing ones.
void CollapseSeparators(const std::vector<TMbItemViewer*>& V, std::vector<TWork>& W)
{
    bool prevSeparator = true;
    for (std::size_t i = 0; i < V.size(); ++i) {
        if (!W[i].Placed) continue;
        const bool sep = IsSeparator(V[i]);
        if (sep && prevSeparator) W[i].Placed = false;
        else prevSeparator = sep;
    }
    for (std::size_t i = V.size(); i-- > 0;) {
        if (!W[i].Placed) continue;
        if (!IsSeparator(V[i])) break;
        W[i].Placed = false;
    }
}

}  // namespace

void TMbView::RebuildViewer(std::size_t Index)
{
    TMbItemViewer* old = ViewerList[Index];
    if (OpenSubViewer == old) CloseOpenPopup();
    TMbItemViewer* fresh = old->EntryItem->CreateViewer(this, 0);
    ViewerList[Index] = fresh;
    std::replace(PriorityOrder.begin(), PriorityOrder.end(), old, fresh);
    if (SelectedViewer == old) SelectedViewer = fresh;
    delete old;
}

// One run of Layout: its inputs, the work rectangle of every viewer and what
// each step hands to the next. The steps run in the order Layout calls them;
// only ApplyToViewers touches the viewers and controls, and only with Apply.
struct TMbView::TLayoutRun {
    TMbView& View;
    const bool Apply;
    const TMbLayoutAxis Axis;
    const bool Vertical;
    classlib::TCanvas& Canvas;
    const std::vector<TMbItemViewer*>& V;
    const std::size_t N;
    std::vector<TWork> W;
    TMbItemViewer* const Chevron;
    int& LineCount;
    POINT& TotalSize;
    POINT& BaseSize;
    const int ChevronWidth;
    int ChevronAt;
    int WrapAt;

    // Widest entry that wants the same width, the one-line length left after
    // hiding entries behind the chevron, and the chevron's outcome.
    int SameWidth = 0;
    int Total = 0;
    bool ChevronPlaced = false, HidNonControl = false;

    // Line state while placing.
    RECT Margins{};
    POINT Pos{};
    std::vector<std::size_t> Line;
    int LineW = 0, LineH = 0;
    bool Wrapped = false, WrappedSinceBreak = false;

    TLayoutRun(TMbView& AView, bool AApply, TMbLayoutAxis AAxis, classlib::TCanvas& ACanvas, int& ALineCount,
               POINT& ATotalSize, POINT& ABaseSize, int AChevronWidth, int AChevronAt, int AWrapAt)
        : View(AView),
          Apply(AApply),
          Axis(AAxis),
          Vertical(AAxis == laVertical),
          Canvas(ACanvas),
          V(AView.ViewerList),
          N(AView.ViewerList.size()),
          W(N),
          Chevron(AView.ChevronItem()),
          LineCount(ALineCount),
          TotalSize(ATotalSize),
          BaseSize(ABaseSize),
          ChevronWidth(AChevronWidth),
          ChevronAt(AChevronAt),
          WrapAt(AWrapAt)
    {
    }

    int Along(const RECT& R) const { return Vertical ? Height(R) : Width(R); }

    void MarkVisible();
    void MeasureSizes();
    void MeasureBaseLength();
    void HideBehindChevron();
    void MeasureBaseThickness();
    void PlaceEntries();
    void FinishLine(bool Final);
    void ScrollToLimit();
    bool ApplyToViewers();
};

// Which entries show: visible items, control items whose control sits
// visibly on the host window, and in a chevron popup only what its toolbar
// hides; separators never lead, follow each other or trail.
void TMbView::TLayoutRun::MarkVisible()
{
    bool prevSeparator = true;
    for (std::size_t i = 0; i < N; ++i) {
        if (V[i] == Chevron) continue;
        TMbCustomItem* item = V[i]->EntryItem;
        if (View.ChevronHost) {
            // A chevron popup shows what its toolbar hides.
            if (dynamic_cast<TMbControlItem*>(item)) continue;
            View.ChevronHost->ValidateLayout();
            const int hostIndex = static_cast<int>(i) + View.ChevronHost->FrontExtraCount;
            if (hostIndex >= View.ChevronHost->EntryCount()) continue;
            if (!IsSeparator(V[i]) && !View.ChevronHost->EntryViewer(hostIndex)->BehindChevron) continue;
        }
        if (auto* ci = dynamic_cast<TMbControlItem*>(item)) {
            classlib::TControl* c = ci->GetControl();
            W[i].Placed = c && View.HostWindow && c->GetParent() == View.HostWindow && c->GetVisible();
            if (W[i].Placed) prevSeparator = false;
            continue;
        }
        if (!item->GetVisible()) continue;
        const bool sep = IsSeparator(V[i]);
        W[i].Placed = !(sep && prevSeparator);
        if (W[i].Placed) prevSeparator = sep;
    }
    CollapseSeparators(V, W);
}

// The size of every shown entry: a control's own size, else what its viewer
// measures (bold for the default item), with the row height of captioned
// entries in horizontal views.
void TMbView::TLayoutRun::MeasureSizes()
{
    const int rowHeight = FlatStripWidth();  // 20, or 22 at 120 pixels per inch
    for (std::size_t i = 0; i < N; ++i) {
        if (!W[i].Placed) continue;
        TMbCustomItem* item = V[i]->EntryItem;
        int cx = 0, cy = 0;
        if (auto* ci = dynamic_cast<TMbControlItem*>(item)) {
            cx = ci->GetControl()->GetWidth();
            cy = ci->GetControl()->GetHeight();
        } else {
            const classlib::TFontStyles style = Canvas.GetFont()->GetStyle();
            if (item->GetEffectiveOptions() & tboDefault) Canvas.GetFont()->SetStyle(style | classlib::fsBold);
            // A viewer that must be made again is replaced (Apply), or
            // measured through a temporary one for this run only.
            std::unique_ptr<TMbItemViewer> temp;
            TMbItemViewer* measurer = V[i];
            if (item->ViewerNeedsRebuild(V[i])) {
                if (Apply) {
                    View.RebuildViewer(i);
                    measurer = V[i];
                } else {
                    temp.reset(item->CreateViewer(&View, 0));
                    measurer = temp.get();
                }
            }
            if (measurer->HasToolbarStyle()) cx = cy = 6;
            measurer->MeasureSize(&Canvas, cx, cy);
            Canvas.GetFont()->SetStyle(style);
            if (measurer->SameWidthWanted()) {
                W[i].SameWidth = true;
                SameWidth = std::max(SameWidth, cx);
            }
            if (IsSeparator(V[i])) cy = 3;
            else if (!item->GetCaption().empty() && !Vertical) cy = rowHeight;
        }
        W[i].Rect = RECT{0, 0, cx, cy};
    }
}

// Same widths, and the length of all shown entries in one line.
void TMbView::TLayoutRun::MeasureBaseLength()
{
    BaseSize = POINT{0, 0};
    for (std::size_t i = 0; i < N; ++i) {
        if (!W[i].Placed) continue;
        if (W[i].SameWidth) W[i].Rect.right = SameWidth;
        (Vertical ? BaseSize.y : BaseSize.x) += Along(W[i].Rect);
    }
    Total = Vertical ? BaseSize.y : BaseSize.x;
}

// When the line is longer than the chevron position, hides entries (the
// lowest priority first, a trailing separator before anything) until the
// rest fits before the chevron or fewer than two entries are left.
void TMbView::TLayoutRun::HideBehindChevron()
{
    if (!(Chevron && ChevronAt > 0 && ChevronAt < Total)) return;
    ChevronPlaced = true;
    ChevronAt -= ChevronWidth;
    const std::vector<TMbItemViewer*>& order = View.PriorityOrder.empty() ? V : View.PriorityOrder;
    while (ChevronAt < Total) {
        int shownEntries = 0;
        std::size_t last = N;
        for (std::size_t i = 0; i < N; ++i)
            if (W[i].Placed) {
                last = i;
                if (!IsSeparator(V[i])) ++shownEntries;
            }
        if (shownEntries < 2) break;
        std::size_t hide = N;
        if (IsSeparator(V[last])) {
            hide = last;
        } else {
            for (std::size_t k = order.size(); k-- > 0;) {
                const int i = View.IndexOfViewer(order[k]);
                if (i >= 0 && W[static_cast<std::size_t>(i)].Placed && !IsSeparator(order[k])) {
                    hide = static_cast<std::size_t>(i);
                    break;
                }
            }
            if (hide == N) break;
            W[hide].BehindChevron = true;
            if (!dynamic_cast<TMbControlItem*>(V[hide]->EntryItem)) HidNonControl = true;
        }
        W[hide].Placed = false;
        Total -= Along(W[hide].Rect);
        // Separators left doubled or leading by the removal go too.
        bool prevSeparator = true;
        for (std::size_t i = 0; i < N; ++i) {
            if (!W[i].Placed) continue;
            const bool sep = IsSeparator(V[i]);
            if (sep && prevSeparator) {
                W[i].Placed = false;
                Total -= Along(W[i].Rect);
            } else {
                prevSeparator = sep;
            }
        }
    }
    for (std::size_t i = N; i-- > 0;) {
        if (!W[i].Placed) continue;
        if (!IsSeparator(V[i])) break;
        W[i].Placed = false;
    }
}

// The thickness of the one-line size: the largest cross size of a shown
// entry.
void TMbView::TLayoutRun::MeasureBaseThickness()
{
    for (std::size_t i = 0; i < N; ++i)
        if (W[i].Placed) {
            if (Vertical) BaseSize.x = std::max(BaseSize.x, static_cast<LONG>(Width(W[i].Rect)));
            else BaseSize.y = std::max(BaseSize.y, static_cast<LONG>(Height(W[i].Rect)));
        }
}

// Ends the current line: toolbar entries are centred across the line's
// thickness (separators stretched over it), menu entries widened to the
// widest of the line.
void TMbView::TLayoutRun::FinishLine(bool Final)
{
    if (Wrapped && WrapAt > 0) {
        if (Axis == laHorizontal) TotalSize.x = std::max(TotalSize.x, static_cast<LONG>(WrapAt));
        if (Axis == laVertical) TotalSize.y = std::max(TotalSize.y, static_cast<LONG>(WrapAt));
    }
    for (std::size_t i : Line) {
        RECT& r = W[i].Rect;
        if (View.IsToolbarView) {
            int thickness = Vertical ? LineW : LineH;
            if (Final && !Wrapped && Axis != laFloating) thickness = Vertical ? TotalSize.x : TotalSize.y;
            if (IsSeparator(V[i])) {
                if (Vertical) r.right = r.left + thickness;
                else r.bottom = r.top + thickness;
            } else {
                const int d = (thickness - (Vertical ? Width(r) : Height(r))) / 2;
                ::OffsetRect(&r, Vertical ? d : 0, Vertical ? 0 : d);
            }
        } else if (!(V[i]->HasToolbarSize())) {
            r.right = r.left + std::max(Width(r), LineW);
        }
    }
    Line.clear();
    LineW = LineH = 0;
}

// Places the shown entries in lines from the margins, wrapping at WrapAt: an
// entry that passes it starts a new line; a separator whose group does not
// fit becomes a line break. Vertical layouts are mirrored at the end so
// that lines run from the right.
void TMbView::TLayoutRun::PlaceEntries()
{
    Margins = View.LayoutMargins(Axis);
    if (WrapAt > 0) WrapAt = std::max(1, WrapAt - static_cast<int>(Margins.right));
    Pos = POINT{Margins.left, Margins.top};
    TotalSize = POINT{0, 0};
    bool prevToolbarSized = false;
    for (std::size_t i = 0; i < N; ++i) {
        if (!W[i].Placed) continue;
        const bool toolbarSized = V[i]->HasToolbarSize();
        if (prevToolbarSized && !toolbarSized) Pos = POINT{Margins.left, TotalSize.y};
        prevToolbarSized = toolbarSized;
        RECT& r = W[i].Rect;
        const bool sep = IsSeparator(V[i]);
        bool lineBreak = false;
        const int position = Vertical ? Pos.y : Pos.x;
        if (WrapAt > 0 && position > 0) {
            const int end = position + Along(r);
            bool fits = !sep;
            if (sep && !WrappedSinceBreak) {
                int further = end;
                for (std::size_t k = i + 1; k < N && !(W[k].Placed && IsSeparator(V[k])); ++k)
                    if (W[k].Placed) further += Along(W[k].Rect);
                fits = further <= WrapAt;
            }
            if (fits && end > WrapAt) {
                ++LineCount;
                const int lw = LineW, lh = LineH;
                FinishLine(false);
                if (Vertical) {
                    Pos.y = Margins.top;
                    Pos.x += lw;
                } else {
                    Pos.x = Margins.left;
                    Pos.y += lh;
                }
                Wrapped = WrappedSinceBreak = true;
            } else if (!fits) {
                ++LineCount;
                const int lw = LineW, lh = LineH;
                FinishLine(false);
                if (Vertical) {
                    Pos.y = 0;
                    Pos.x += lw;
                } else {
                    Pos.x = 0;
                    Pos.y += lh;
                }
                r = Vertical ? RECT{0, 0, 6, 0} : RECT{0, 0, 0, 6};
                W[i].LineBreak = lineBreak = true;
            }
        }
        if (!lineBreak) Line.push_back(i);
        LineW = std::max(LineW, Width(r));
        LineH = std::max(LineH, Height(r));
        ::OffsetRect(&r, std::max(0L, Pos.x) - r.left, std::max(0L, Pos.y) - r.top);
        if (lineBreak) {
            if (Vertical) {
                Pos.y = Margins.top;
                Pos.x += 6;
            } else {
                Pos.x = Margins.left;
                Pos.y += 6;
            }
            WrappedSinceBreak = false;
            LineW = LineH = 0;
        } else if (toolbarSized && !Vertical) {
            Pos.x += Width(r);
        } else {
            Pos.y += Height(r);
        }
        TotalSize.x = std::max(TotalSize.x, r.right);
        TotalSize.y = std::max(TotalSize.y, r.bottom);
    }
    FinishLine(true);
    TotalSize.x += Margins.right;
    TotalSize.y += Margins.bottom;
    if (Vertical)
        for (TWork& e : W)
            if (e.Placed)
                e.Rect = RECT{TotalSize.x - e.Rect.right, e.Rect.top, TotalSize.x - e.Rect.left, e.Rect.bottom};
}

// Beyond HeightLimit the view scrolls: entries move up by ScrollPos, the
// arrows show where there is more, and entries under an arrow or outside
// the limit are scrolled away.
void TMbView::TLayoutRun::ScrollToLimit()
{
    View.UpArrowShown = View.DownArrowShown = false;
    if (View.HeightLimit > 0 && TotalSize.y > View.HeightLimit) {
        View.ScrollPos = std::clamp(View.ScrollPos, 0, static_cast<int>(TotalSize.y) - View.HeightLimit);
        View.UpArrowShown = View.ScrollPos > 0;
        View.DownArrowShown = View.ScrollPos < TotalSize.y - View.HeightLimit;
        const int top = View.UpArrowShown ? 19 : 0,
                  bottom = View.DownArrowShown ? View.HeightLimit - 19 : View.HeightLimit;
        for (TWork& e : W) {
            if (::IsRectEmpty(&e.Rect)) continue;
            ::OffsetRect(&e.Rect, 0, -View.ScrollPos);
            if (e.Placed && (e.Rect.top < top || e.Rect.bottom > bottom)) {
                e.Placed = false;
                e.ScrolledAway = true;
            }
        }
        TotalSize.y = View.HeightLimit;
    } else {
        View.ScrollPos = 0;
    }
}

// Hands the result to the controls (hidden ones move out of the client
// area), the chevron (enabled when it hides more than controls) and the
// viewers; answers whether a viewer's rectangle, Placed or line-break flag
// changed.
bool TMbView::TLayoutRun::ApplyToViewers()
{
    for (std::size_t i = 0; i < N; ++i) {
        auto* ci = dynamic_cast<TMbControlItem*>(V[i]->EntryItem);
        if (!ci || !ci->GetControl()) continue;
        classlib::TControl* c = ci->GetControl();
        if (W[i].Placed) {
            const RECT& r = W[i].Rect;
            c->SetBounds(r.left, r.top, Width(r), Height(r));
        } else if ((W[i].BehindChevron || W[i].ScrolledAway) && View.HostWindow) {
            c->SetBounds(View.HostWindow->GetClientWidth(), View.HostWindow->GetClientHeight(), c->GetWidth(),
                         c->GetHeight());
        }
    }
    if (ChevronPlaced) {
        Chevron->EntryItem->SetEnabled(HidNonControl);
        const int i = View.IndexOfViewer(Chevron);
        if (i >= 0) {
            TWork& e = W[static_cast<std::size_t>(i)];
            e.Placed = true;
            if (Vertical) {
                const int p = std::max(ChevronAt, static_cast<int>(TotalSize.y));
                e.Rect = RECT{0, p, TotalSize.x, p + ChevronWidth};
            } else {
                const int p = std::max(ChevronAt, static_cast<int>(TotalSize.x));
                e.Rect = RECT{p, 0, p + ChevronWidth, TotalSize.y};
            }
        }
    }
    bool changed = false;
    for (std::size_t i = 0; i < N; ++i) {
        TMbItemViewer* viewer = V[i];
        const TWork& e = W[i];
        const bool wasBreak = (viewer->PaintFlags & pfLineBreak) != 0;
        if (!::EqualRect(&viewer->EntryRect, &e.Rect) || viewer->Placed != e.Placed || wasBreak != e.LineBreak)
            changed = true;
        viewer->EntryRect = e.Rect;
        viewer->Placed = e.Placed;
        viewer->BehindChevron = e.BehindChevron;
        viewer->ScrolledAway = e.ScrolledAway;
        viewer->PaintFlags = static_cast<uint8_t>(e.LineBreak ? (viewer->PaintFlags | pfLineBreak)
                                                             : (viewer->PaintFlags & ~pfLineBreak));
    }
    return changed;
}

bool TMbView::Layout(bool Apply, TMbLayoutAxis AAxis, int& LineCount, POINT& TotalSize, POINT& BaseSize,
                     int AChevronWidth, int AChevronAt, int AWrapAt)
{
    LineCount = 1;
    const TMbLayoutAxis savedAxis = Axis;
    Axis = AAxis;
    struct TRestore {
        TMbView* View;
        TMbLayoutAxis Axis;
        ~TRestore() { View->Axis = Axis; }
    } restore{this, savedAxis};
    classlib::TCanvas canvas;
    classlib::TWindowDC screen(nullptr);
    canvas.SetHandle(screen.Get());
    struct TDetach {
        classlib::TCanvas* Canvas;
        ~TDetach() { Canvas->SetHandle(nullptr); }
    } detach{&canvas};
    canvas.SetFont(ViewFont());

    TLayoutRun run(*this, Apply, AAxis, canvas, LineCount, TotalSize, BaseSize, AChevronWidth, AChevronAt, AWrapAt);
    run.MarkVisible();
    run.MeasureSizes();
    run.MeasureBaseLength();
    run.HideBehindChevron();
    run.MeasureBaseThickness();
    run.PlaceEntries();
    run.ScrollToLimit();
    const bool changed = Apply && run.ApplyToViewers();
    if (BaseSize.x == 0 || BaseSize.y == 0) {
        BaseSize = POINT{23, 22};
        TotalSize.x = std::max(TotalSize.x, 23L);
        TotalSize.y = std::max(TotalSize.y, 22L);
    }
    return changed;
}

}  // namespace toolbar
