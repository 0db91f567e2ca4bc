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

    const std::vector<TMbItemViewer*>& v = ViewerList;
    const std::size_t n = v.size();
    std::vector<TWork> w(n);
    TMbItemViewer* chevron = ChevronItem();
    const bool vertical = AAxis == laVertical;
    auto along = [&](const RECT& R) { return vertical ? Height(R) : Width(R); };

    // 2. Visibility.
    {
        bool prevSeparator = true;
        for (std::size_t i = 0; i < n; ++i) {
            if (v[i] == chevron) continue;
            TMbCustomItem* item = v[i]->EntryItem;
            if (ChevronHost) {
                // A chevron popup shows what its toolbar hides.
                if (dynamic_cast<TMbControlItem*>(item)) continue;
                ChevronHost->ValidateLayout();
                const int hostIndex = static_cast<int>(i) + ChevronHost->FrontExtraCount;
                if (hostIndex >= ChevronHost->EntryCount()) continue;
                if (!IsSeparator(v[i]) && !ChevronHost->EntryViewer(hostIndex)->BehindChevron) continue;
            }
            if (auto* ci = dynamic_cast<TMbControlItem*>(item)) {
                classlib::TControl* c = ci->GetControl();
                w[i].Placed = c && HostWindow && c->GetParent() == HostWindow && c->GetVisible();
                if (w[i].Placed) prevSeparator = false;
                continue;
            }
            if (!item->GetVisible()) continue;
            const bool sep = IsSeparator(v[i]);
            w[i].Placed = !(sep && prevSeparator);
            if (w[i].Placed) prevSeparator = sep;
        }
        CollapseSeparators(v, w);
    }

    // 3. Sizes.
    const int rowHeight = FlatStripWidth();  // 20, or 22 at 120 pixels per inch
    int sameWidth = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!w[i].Placed) continue;
        TMbCustomItem* item = v[i]->EntryItem;
        int cx = 0, cy = 0;
        if (auto* ci = dynamic_cast<TMbControlItem*>(item)) {
            cx = ci->GetControl()->GetWidth();
            cy = ci->GetControl()->GetHeight();
        } else {
            const classlib::TFontStyles style = canvas.GetFont()->GetStyle();
            if (item->GetEffectiveOptions() & tboDefault) canvas.GetFont()->SetStyle(style | classlib::fsBold);
            // A viewer that must be made again is replaced (Apply), or
            // measured through a temporary one for this run only.
            std::unique_ptr<TMbItemViewer> temp;
            TMbItemViewer* measurer = v[i];
            if (item->ViewerNeedsRebuild(v[i])) {
                if (Apply) {
                    RebuildViewer(i);
                    measurer = v[i];
                } else {
                    temp.reset(item->CreateViewer(this, 0));
                    measurer = temp.get();
                }
            }
            if (measurer->HasToolbarStyle()) cx = cy = 6;
            measurer->MeasureSize(&canvas, cx, cy);
            canvas.GetFont()->SetStyle(style);
            if (measurer->SameWidthWanted()) {
                w[i].SameWidth = true;
                sameWidth = std::max(sameWidth, cx);
            }
            if (IsSeparator(v[i])) cy = 3;
            else if (!item->GetCaption().empty() && !vertical) cy = rowHeight;
        }
        w[i].Rect = RECT{0, 0, cx, cy};
    }

    // 4. Same widths and the one-line size.
    BaseSize = POINT{0, 0};
    for (std::size_t i = 0; i < n; ++i) {
        if (!w[i].Placed) continue;
        if (w[i].SameWidth) w[i].Rect.right = sameWidth;
        (vertical ? BaseSize.y : BaseSize.x) += along(w[i].Rect);
    }
    int total = vertical ? BaseSize.y : BaseSize.x;

    // 5. Chevron.
    bool chevronPlaced = false, hidNonControl = false;
    if (chevron && AChevronAt > 0 && AChevronAt < total) {
        chevronPlaced = true;
        AChevronAt -= AChevronWidth;
        const std::vector<TMbItemViewer*>& order = PriorityOrder.empty() ? v : PriorityOrder;
        while (AChevronAt < total) {
            int shownEntries = 0;
            std::size_t last = n;
            for (std::size_t i = 0; i < n; ++i)
                if (w[i].Placed) {
                    last = i;
                    if (!IsSeparator(v[i])) ++shownEntries;
                }
            if (shownEntries < 2) break;
            std::size_t hide = n;
            if (IsSeparator(v[last])) {
                hide = last;
            } else {
                for (std::size_t k = order.size(); k-- > 0;) {
                    const int i = IndexOfViewer(order[k]);
                    if (i >= 0 && w[static_cast<std::size_t>(i)].Placed && !IsSeparator(order[k])) {
                        hide = static_cast<std::size_t>(i);
                        break;
                    }
                }
                if (hide == n) break;
                w[hide].BehindChevron = true;
                if (!dynamic_cast<TMbControlItem*>(v[hide]->EntryItem)) hidNonControl = true;
            }
            w[hide].Placed = false;
            total -= along(w[hide].Rect);
            // Separators left doubled or leading by the removal go too.
            bool prevSeparator = true;
            for (std::size_t i = 0; i < n; ++i) {
                if (!w[i].Placed) continue;
                const bool sep = IsSeparator(v[i]);
                if (sep && prevSeparator) {
                    w[i].Placed = false;
                    total -= along(w[i].Rect);
                } else {
                    prevSeparator = sep;
                }
            }
        }
        for (std::size_t i = n; i-- > 0;) {
            if (!w[i].Placed) continue;
            if (!IsSeparator(v[i])) break;
            w[i].Placed = false;
        }
    }

    // 6. Cross dimension of the one-line size.
    for (std::size_t i = 0; i < n; ++i)
        if (w[i].Placed) {
            if (vertical) BaseSize.x = std::max(BaseSize.x, static_cast<LONG>(Width(w[i].Rect)));
            else BaseSize.y = std::max(BaseSize.y, static_cast<LONG>(Height(w[i].Rect)));
        }

    // 7.-9. Placing.
    const RECT margins = LayoutMargins(AAxis);
    if (AWrapAt > 0) AWrapAt = std::max(1, AWrapAt - static_cast<int>(margins.right));
    POINT pos{margins.left, margins.top};
    TotalSize = POINT{0, 0};
    std::vector<std::size_t> line;
    int lineW = 0, lineH = 0;
    bool wrapped = false, wrappedSinceBreak = false, prevToolbarSized = false;
    auto finishLine = [&](bool Final) {
        if (wrapped && AWrapAt > 0) {
            if (AAxis == laHorizontal) TotalSize.x = std::max(TotalSize.x, static_cast<LONG>(AWrapAt));
            if (AAxis == laVertical) TotalSize.y = std::max(TotalSize.y, static_cast<LONG>(AWrapAt));
        }
        for (std::size_t i : line) {
            RECT& r = w[i].Rect;
            if (IsToolbarView) {
                int thickness = vertical ? lineW : lineH;
                if (Final && !wrapped && AAxis != laFloating) thickness = vertical ? TotalSize.x : TotalSize.y;
                if (IsSeparator(v[i])) {
                    if (vertical) r.right = r.left + thickness;
                    else r.bottom = r.top + thickness;
                } else {
                    const int d = (thickness - (vertical ? Width(r) : Height(r))) / 2;
                    ::OffsetRect(&r, vertical ? d : 0, vertical ? 0 : d);
                }
            } else if (!(v[i]->HasToolbarSize())) {
                r.right = r.left + std::max(Width(r), lineW);
            }
        }
        line.clear();
        lineW = lineH = 0;
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (!w[i].Placed) continue;
        const bool toolbarSized = v[i]->HasToolbarSize();
        if (prevToolbarSized && !toolbarSized) pos = POINT{margins.left, TotalSize.y};
        prevToolbarSized = toolbarSized;
        RECT& r = w[i].Rect;
        const bool sep = IsSeparator(v[i]);
        bool lineBreak = false;
        const int position = vertical ? pos.y : pos.x;
        if (AWrapAt > 0 && position > 0) {
            const int end = position + along(r);
            bool fits = !sep;
            if (sep && !wrappedSinceBreak) {
                int further = end;
                for (std::size_t k = i + 1; k < n && !(w[k].Placed && IsSeparator(v[k])); ++k)
                    if (w[k].Placed) further += along(w[k].Rect);
                fits = further <= AWrapAt;
            }
            if (fits && end > AWrapAt) {
                ++LineCount;
                const int lw = lineW, lh = lineH;
                finishLine(false);
                if (vertical) {
                    pos.y = margins.top;
                    pos.x += lw;
                } else {
                    pos.x = margins.left;
                    pos.y += lh;
                }
                wrapped = wrappedSinceBreak = true;
            } else if (!fits) {
                ++LineCount;
                const int lw = lineW, lh = lineH;
                finishLine(false);
                if (vertical) {
                    pos.y = 0;
                    pos.x += lw;
                } else {
                    pos.x = 0;
                    pos.y += lh;
                }
                r = vertical ? RECT{0, 0, 6, 0} : RECT{0, 0, 0, 6};
                w[i].LineBreak = lineBreak = true;
            }
        }
        if (!lineBreak) line.push_back(i);
        lineW = std::max(lineW, Width(r));
        lineH = std::max(lineH, Height(r));
        ::OffsetRect(&r, std::max(0L, pos.x) - r.left, std::max(0L, pos.y) - r.top);
        if (lineBreak) {
            if (vertical) {
                pos.y = margins.top;
                pos.x += 6;
            } else {
                pos.x = margins.left;
                pos.y += 6;
            }
            wrappedSinceBreak = false;
            lineW = lineH = 0;
        } else if (toolbarSized && !vertical) {
            pos.x += Width(r);
        } else {
            pos.y += Height(r);
        }
        TotalSize.x = std::max(TotalSize.x, r.right);
        TotalSize.y = std::max(TotalSize.y, r.bottom);
    }
    finishLine(true);
    TotalSize.x += margins.right;
    TotalSize.y += margins.bottom;
    if (vertical)
        for (TWork& e : w)
            if (e.Placed) e.Rect = RECT{TotalSize.x - e.Rect.right, e.Rect.top, TotalSize.x - e.Rect.left, e.Rect.bottom};

    // 11. Scrolling.
    UpArrowShown = DownArrowShown = false;
    if (HeightLimit > 0 && TotalSize.y > HeightLimit) {
        ScrollPos = std::clamp(ScrollPos, 0, static_cast<int>(TotalSize.y) - HeightLimit);
        UpArrowShown = ScrollPos > 0;
        DownArrowShown = ScrollPos < TotalSize.y - HeightLimit;
        const int top = UpArrowShown ? 19 : 0, bottom = DownArrowShown ? HeightLimit - 19 : HeightLimit;
        for (TWork& e : w) {
            if (::IsRectEmpty(&e.Rect)) continue;
            ::OffsetRect(&e.Rect, 0, -ScrollPos);
            if (e.Placed && (e.Rect.top < top || e.Rect.bottom > bottom)) {
                e.Placed = false;
                e.ScrolledAway = true;
            }
        }
        TotalSize.y = HeightLimit;
    } else {
        ScrollPos = 0;
    }

    // 12.-15. Applying.
    bool changed = false;
    if (Apply) {
        for (std::size_t i = 0; i < n; ++i) {
            auto* ci = dynamic_cast<TMbControlItem*>(v[i]->EntryItem);
            if (!ci || !ci->GetControl()) continue;
            classlib::TControl* c = ci->GetControl();
            if (w[i].Placed) {
                const RECT& r = w[i].Rect;
                c->SetBounds(r.left, r.top, Width(r), Height(r));
            } else if ((w[i].BehindChevron || w[i].ScrolledAway) && HostWindow) {
                c->SetBounds(HostWindow->GetClientWidth(), HostWindow->GetClientHeight(), c->GetWidth(), c->GetHeight());
            }
        }
        if (chevronPlaced) {
            chevron->EntryItem->SetEnabled(hidNonControl);
            const int i = IndexOfViewer(chevron);
            if (i >= 0) {
                TWork& e = w[static_cast<std::size_t>(i)];
                e.Placed = true;
                if (vertical) {
                    const int p = std::max(AChevronAt, static_cast<int>(TotalSize.y));
                    e.Rect = RECT{0, p, TotalSize.x, p + AChevronWidth};
                } else {
                    const int p = std::max(AChevronAt, static_cast<int>(TotalSize.x));
                    e.Rect = RECT{p, 0, p + AChevronWidth, TotalSize.y};
                }
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            TMbItemViewer* viewer = v[i];
            const TWork& e = w[i];
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
    }
    if (BaseSize.x == 0 || BaseSize.y == 0) {
        BaseSize = POINT{23, 22};
        TotalSize.x = std::max(TotalSize.x, 23L);
        TotalSize.y = std::max(TotalSize.y, 22L);
    }
    return changed;
}

}  // namespace toolbar
