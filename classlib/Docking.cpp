#include "classlib/Docking.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "classlib/WinHandles.h"

namespace classlib {

// Where the last mouse button press happened (Controls.cpp).
POINT LastPressScreenPoint();

namespace {

struct TDragSession {
    TControl* Source = nullptr;
    std::shared_ptr<bool> SourceAlive;
    bool Active = false;
    POINT Start{};
    int Threshold = DefaultDragThreshold;
    HWND Capture = nullptr;
    // The target under the pointer (plain drags: any control; docking: a
    // dock site) and whether it accepts.
    TControl* Target = nullptr;
    bool Accepted = false;
    TDragDockObject Dock{nullptr};
};

TDragSession* session = nullptr;

RECT ScreenBounds(TControl* C)
{
    POINT tl = C->ClientToScreen(POINT{0, 0});
    RECT c = C->GetClientRect();
    return RECT{tl.x, tl.y, tl.x + (c.right - c.left), tl.y + (c.bottom - c.top)};
}

}  // namespace

// The engine behind BeginDrag; a friend of the controls.
class TDragEngine {
public:
    static void Begin(TControl* Source, bool Immediate, int Threshold)
    {
        if (session) return;
        auto* s = new TDragSession;
        s->Source = Source;
        s->SourceAlive = Source->alive_;
        s->Threshold = Threshold < 0 ? DefaultDragThreshold : Threshold;
        s->Dock.Control = Source;
        s->Start = LastPressScreenPoint();
        TWinControl* w = dynamic_cast<TWinControl*>(Source);
        if (!w || !w->HandleAllocated()) w = Source->GetParent();
        if (w && w->HandleAllocated()) {
            s->Capture = w->handle_;
            ::SetCapture(s->Capture);
        }
        session = s;
        if (Immediate) Activate();
    }

    static void Activate()
    {
        TDragSession* s = session;
        s->Active = true;
        s->Dock.DockRect = ScreenBounds(s->Source);
        if (s->Source->DragKind == dkDock)
            s->Source->OnStartDock(s->Source);
        else
            s->Source->DoStartDrag();
    }

    // The control under a screen point: a graphic child, else the window.
    static TControl* ControlAt(POINT P)
    {
        HWND wnd = ::WindowFromPoint(P);
        TWinControl* w = FindControl(wnd);
        if (!w) return nullptr;
        POINT c = w->ScreenToClient(P);
        if (TControl* g = w->ControlAtPos(c)) return g;
        return w;
    }

    static TWinControl* DockSiteAt(POINT P)
    {
        TDragSession* s = session;
        TControl* c = ControlAt(P);
        for (TWinControl* w = c ? (dynamic_cast<TWinControl*>(c) ? static_cast<TWinControl*>(c) : c->GetParent())
                                : nullptr;
             w; w = w->GetParent()) {
            if (!w->GetDockSite()) continue;
            // Not into itself, its own children or the host it floats in.
            if (w == s->Source) return nullptr;
            if (auto* sw = dynamic_cast<TWinControl*>(s->Source); sw && sw->ContainsControl(w)) return nullptr;
            if (w == s->Source->floatHost_) return nullptr;
            RECT influence = ScreenBounds(w);
            bool can = true;
            w->GetSiteInfo(s->Source, influence, P, can);
            if (can && ::PtInRect(&influence, P)) return w;
        }
        return nullptr;
    }

    static void Notify(TControl* Target, POINT P, TDragState State, bool& Accept)
    {
        TDragSession* s = session;
        POINT c = Target->ScreenToClient(P);
        if (s->Source->DragKind == dkDock) {
            auto* site = static_cast<TWinControl*>(Target);
            Accept = true;
            site->DockOver(&s->Dock, c.x, c.y, State, Accept);
        } else {
            Accept = false;
            Target->DragOver(s->Source, c.x, c.y, State, Accept);
        }
    }

    static void Move(POINT P)
    {
        TDragSession* s = session;
        if (!s->Active) {
            if (std::abs(P.x - s->Start.x) <= s->Threshold && std::abs(P.y - s->Start.y) <= s->Threshold) return;
            Activate();
            if (session != s) return;
        }
        s->Dock.DragPos = P;
        TControl* target = s->Source->DragKind == dkDock ? DockSiteAt(P) : ControlAt(P);
        if (target != s->Target) {
            if (s->Target) {
                bool ignored = false;
                Notify(s->Target, P, dsDragLeave, ignored);
                if (session != s) return;
            }
            s->Target = target;
            s->Accepted = false;
            if (target) {
                if (s->Source->DragKind == dkDock) {
                    auto* site = static_cast<TWinControl*>(target);
                    s->Dock.DockRect = ScreenBounds(site);
                    if (site->GetDockManager())
                        site->GetDockManager()->PositionDockRect(s->Source, nullptr, alNone, s->Dock.DockRect);
                }
                Notify(target, P, dsDragEnter, s->Accepted);
            }
        } else if (target) {
            Notify(target, P, dsDragMove, s->Accepted);
        }
        if (session != s) return;
        if (!target && s->Source->DragKind == dkDock) {
            // Dropped here the control would float at the pointer.
            RECT b = ScreenBounds(s->Source);
            int w = b.right - b.left, h = b.bottom - b.top;
            s->Dock.DockRect = RECT{P.x - w / 2, P.y, P.x - w / 2 + w, P.y + h};
        }
        s->Dock.DragTarget = s->Accepted ? static_cast<TWinControl*>(dynamic_cast<TWinControl*>(s->Target)) : nullptr;
        ::SetCursor(::LoadCursorW(nullptr, s->Accepted || (!target && s->Source->DragKind == dkDock) ? IDC_ARROW
                                                                                                     : IDC_NO));
    }

    static void Done(bool Drop)
    {
        std::unique_ptr<TDragSession> s(session);
        session = nullptr;
        if (s->Capture && ::GetCapture() == s->Capture) ::ReleaseCapture();
        if (!*s->SourceAlive) return;
        TControl* source = s->Source;
        source->ControlState &= ~(csLButtonDown | csClicked);
        if (source->parent_ && source->parent_->captureControl_ == source) source->parent_->captureControl_ = nullptr;
        if (!s->Active) return;
        POINT p{};
        ::GetCursorPos(&p);
        if (s->Dock.DragPos.x || s->Dock.DragPos.y) p = s->Dock.DragPos;
        TControl* target = (Drop && s->Accepted) ? s->Target : nullptr;
        auto alive = source->alive_;
        POINT c = target ? target->ScreenToClient(p) : p;
        if (source->DragKind == dkDock) {
            s->Dock.Dropped = Drop;
            if (target) {
                static_cast<TWinControl*>(target)->DockDrop(&s->Dock, c.x, c.y);
            } else if (Drop && !s->Target) {
                source->ManualFloat(s->Dock.DockRect);
            }
            if (*alive) source->OnEndDock(source, target, c.x, c.y);
        } else {
            if (target) target->DragDrop(source, c.x, c.y);
            if (*alive) source->DoEndDrag(target, c.x, c.y);
        }
    }

    // Messages of the capture window while a drag runs; true when taken.
    static bool Message(TWinControl* W, TMessage& M)
    {
        TDragSession* s = session;
        if (!s || !W->handle_ || W->handle_ != s->Capture) return false;
        switch (M.Msg) {
        case WM_MOUSEMOVE: {
            POINT p{GET_X_LPARAM_(M.LParam), GET_Y_LPARAM_(M.LParam)};
            ::ClientToScreen(W->handle_, &p);
            bool active = s->Active;
            Move(p);
            // Below the threshold the control still sees the mouse.
            return active || (session && session->Active);
        }
        case WM_LBUTTONUP: {
            bool active = s->Active;
            if (active) {
                POINT p{GET_X_LPARAM_(M.LParam), GET_Y_LPARAM_(M.LParam)};
                ::ClientToScreen(W->handle_, &p);
                s->Dock.DragPos = p;
            }
            Done(true);
            M.Result = 0;
            return active;
        }
        case WM_KEYDOWN:
            if (M.WParam != VK_ESCAPE) return false;
            Done(false);
            M.Result = 0;
            return true;
        case WM_CANCELMODE: Done(false); return false;
        case WM_CAPTURECHANGED:
            if (reinterpret_cast<HWND>(M.LParam) == s->Capture) return false;
            Done(false);
            return false;
        default: return false;
        }
    }

    static void ControlGone(TControl* C)
    {
        TDragSession* s = session;
        if (!s) return;
        if (s->Source == C) {
            session = nullptr;
            if (s->Capture && ::GetCapture() == s->Capture) ::ReleaseCapture();
            delete s;
            return;
        }
        if (s->Target == C) {
            s->Target = nullptr;
            s->Accepted = false;
            s->Dock.DragTarget = nullptr;
        }
    }

private:
    static int GET_X_LPARAM_(LPARAM L) { return static_cast<int>(static_cast<short>(LOWORD(L))); }
    static int GET_Y_LPARAM_(LPARAM L) { return static_cast<int>(static_cast<short>(HIWORD(L))); }
};

// Hooks of Controls.cpp.
bool DragEngineMessage(TWinControl* Control, TMessage& Message) { return TDragEngine::Message(Control, Message); }
void DragEngineControlGone(TControl* Control) { TDragEngine::ControlGone(Control); }

TControl* DragControl() { return session ? session->Source : nullptr; }
TDragDockObject* DragDockObject() { return session && session->Active ? &session->Dock : nullptr; }

// ================================================================ TControl

void TControl::BeginDrag(bool Immediate, int Threshold) { TDragEngine::Begin(this, Immediate, Threshold); }

void TControl::EndDrag(bool Drop)
{
    if (session && session->Source == this) TDragEngine::Done(Drop);
}

bool TControl::Dragging() const { return session && session->Source == this; }

void TControl::DragOver(TObject* Source, int X, int Y, TDragState State, bool& Accept)
{
    Accept = OnDragOver.Assigned();
    OnDragOver(this, Source, X, Y, State, Accept);
}

void TControl::DragDrop(TObject* Source, int X, int Y) { OnDragDrop(this, Source, X, Y); }

void TControl::DoStartDrag() { OnStartDrag(this); }

void TControl::DoEndDrag(TObject* Target, int X, int Y) { OnEndDrag(this, Target, X, Y); }

bool TControl::Floating() const { return floatHost_ && hostDockSite_ == floatHost_; }

void TControl::ManualDock(TWinControl* NewDockSite, TControl* DropControl, TAlign ControlSide)
{
    if (!NewDockSite) {
        RECT r = parent_ ? ScreenBounds(this) : GetBoundsRect();
        ManualFloat(r);
        return;
    }
    if (NewDockSite == hostDockSite_) return;
    TDragDockObject dock(this);
    dock.DropOnControl = DropControl;
    dock.DropAlign = ControlSide;
    dock.DockRect = ScreenBounds(NewDockSite);
    dock.DragTarget = NewDockSite;
    dock.Dropped = true;
    NewDockSite->DockDrop(&dock, 0, 0);
}

void TControl::DockInto(TWinControl* NewDockSite, TControl* DropControl, TAlign ControlSide)
{
    TWinControl* old = hostDockSite_;
    if (old == NewDockSite) return;
    auto alive = alive_;
    if (old) {
        if (!old->DoUnDock(NewDockSite, this)) return;
        if (!*alive) return;
        old->UndockClient(NewDockSite, this);
        auto& list = old->dockClients_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        if (old->dockManager_) old->dockManager_->RemoveControl(this);
        hostDockSite_ = nullptr;
        old->DoRemoveDockClient(this);
        if (!*alive) return;
    }
    TWinControl* oldHost = (floatHost_ && floatHost_ != NewDockSite) ? floatHost_ : nullptr;
    if (oldHost) floatHost_ = nullptr;
    RECT r = GetBoundsRect();
    ::OffsetRect(&r, -r.left, -r.top);
    NewDockSite->dockClients_.push_back(this);
    hostDockSite_ = NewDockSite;
    if (NewDockSite->dockSite_ && NewDockSite->useDockManager_) NewDockSite->CreateDockManager();
    NewDockSite->DoAddDockClient(this, r);
    if (NewDockSite->dockManager_) NewDockSite->dockManager_->InsertControl(this, ControlSide, DropControl);
    delete oldHost;
}

void TControl::ManualFloat(const RECT& ScreenRect)
{
    if (Floating()) {
        floatHost_->SetBounds(ScreenRect.left, ScreenRect.top, floatHost_->GetWidth(), floatHost_->GetHeight());
        return;
    }
    auto* host = new TCustomDockForm(nullptr);
    host->SetCaption(L"");
    if (auto* f = dynamic_cast<TCustomForm*>(this)) host->SetCaption(f->GetCaption());
    host->SetBounds(ScreenRect.left, ScreenRect.top, 0, 0);
    host->SetClientWidth(std::max<int>(ScreenRect.right - ScreenRect.left, 20));
    host->SetClientHeight(std::max<int>(ScreenRect.bottom - ScreenRect.top, 20));
    TWinControl* previous = floatHost_;
    floatHost_ = host;
    DockInto(host, nullptr, alClient);
    if (hostDockSite_ != host) {
        // The old site refused to let the control go.
        floatHost_ = previous;
        delete host;
        return;
    }
    delete previous;
    host->Show();
}

// ============================================================= TWinControl

void TWinControl::SetDockSite(bool Value)
{
    if (dockSite_ == Value) return;
    dockSite_ = Value;
    if (Value && useDockManager_) CreateDockManager();
}

void TWinControl::SetUseDockManager(bool Value)
{
    if (useDockManager_ == Value) return;
    useDockManager_ = Value;
    if (Value && dockSite_) CreateDockManager();
}

void TWinControl::CreateDockManager()
{
    if (!dockManager_ && dockSite_ && useDockManager_) {
        auto* tree = new TDockTree(this);
        dockManager_ = tree;
    }
}

void TWinControl::AdoptDockManager(TDockManager* Value)
{
    if (Value == dockManager_) return;
    delete dockManager_;
    dockManager_ = Value;
}

void TWinControl::DockOver(TDragDockObject* Source, int X, int Y, TDragState State, bool& Accept)
{
    OnDockOver(this, Source, X, Y, State, Accept);
}

void TWinControl::DockDrop(TDragDockObject* Source, int X, int Y)
{
    auto alive = alive_;
    DockClient(Source, POINT{X, Y});
    if (*alive) OnDockDrop(this, Source, X, Y);
}

void TWinControl::DockClient(TDragDockObject* Source, POINT MousePos)
{
    (void)MousePos;
    Source->Control->DockInto(this, Source->DropOnControl, Source->DropAlign);
}

void TWinControl::GetSiteInfo(TControl* Client, RECT& InfluenceRect, POINT MousePos, bool& CanDock)
{
    OnGetSiteInfo(this, Client, InfluenceRect, MousePos, CanDock);
}

bool TWinControl::DoUnDock(TWinControl* NewTarget, TControl* Client)
{
    bool allow = true;
    OnUnDock(this, Client, NewTarget, allow);
    return allow;
}

void TWinControl::DoAddDockClient(TControl* Client, const RECT& ARect)
{
    Client->SetParent(this);
    Client->SetBounds(ARect.left, ARect.top, ARect.right - ARect.left, ARect.bottom - ARect.top);
}

// ================================================================ TDockTree

TDockTree::TDockTree(TWinControl* DockSite) : dockSite_(DockSite) {}

bool TDockTree::HorizontalZones() const
{
    TAlign a = dockSite_->GetAlign();
    return a == alTop || a == alBottom;
}

void TDockTree::InsertControl(TControl* Control, TAlign InsertAt, TControl* DropCtl)
{
    (void)InsertAt;
    if (std::find(clients_.begin(), clients_.end(), Control) != clients_.end()) return;
    auto at = std::find(clients_.begin(), clients_.end(), DropCtl);
    clients_.insert(at, Control);
    ResetBounds(true);
}

void TDockTree::RemoveControl(TControl* Control)
{
    clients_.erase(std::remove(clients_.begin(), clients_.end(), Control), clients_.end());
    ResetBounds(true);
}

RECT TDockTree::ZoneRect(TControl* Control) const
{
    std::vector<TControl*> shown;
    for (TControl* c : clients_)
        if (c->GetVisible()) shown.push_back(c);
    auto it = std::find(shown.begin(), shown.end(), Control);
    if (it == shown.end()) return RECT{};
    RECT site = dockSite_->GetClientRect();
    dockSite_->AdjustClientRect(site);
    const int n = static_cast<int>(shown.size());
    const int i = static_cast<int>(it - shown.begin());
    RECT z = site;
    if (HorizontalZones()) {
        int w = site.right - site.left;
        z.left = site.left + w * i / n;
        z.right = site.left + w * (i + 1) / n;
    } else {
        int h = site.bottom - site.top;
        z.top = site.top + h * i / n;
        z.bottom = site.top + h * (i + 1) / n;
    }
    return z;
}

void TDockTree::AdjustDockRect(TControl* Control, RECT& ARect)
{
    (void)Control;
    if (HorizontalZones())
        ARect.left += grabberSize_;
    else
        ARect.top += grabberSize_;
}

RECT TDockTree::GrabberRect(TControl* Control) const
{
    RECT z = ZoneRect(Control);
    if (::IsRectEmpty(&z)) return z;
    if (HorizontalZones())
        z.right = z.left + grabberSize_;
    else
        z.bottom = z.top + grabberSize_;
    return z;
}

RECT TDockTree::CloseRect(TControl* Control) const
{
    RECT z = ZoneRect(Control);
    if (::IsRectEmpty(&z)) return z;
    if (HorizontalZones()) return RECT{z.left + 1, z.top + 1, z.left + 12, z.top + 12};
    return RECT{z.right - 15, z.top + 1, z.right - 2, z.top + 12};
}

void TDockTree::ResetBounds(bool Force)
{
    (void)Force;
    for (TControl* c : clients_) {
        if (!c->GetVisible()) continue;
        RECT z = ZoneRect(c);
        AdjustDockRect(c, z);
        c->SetBounds(z.left, z.top, std::max<int>(z.right - z.left, 0), std::max<int>(z.bottom - z.top, 0));
    }
    dockSite_->Invalidate();
}

void TDockTree::PositionDockRect(TControl* Client, TControl* DropCtl, TAlign DropAlign, RECT& DockRect)
{
    (void)Client, (void)DropCtl, (void)DropAlign;
    POINT tl = dockSite_->ClientToScreen(POINT{0, 0});
    RECT c = dockSite_->GetClientRect();
    DockRect = RECT{tl.x, tl.y, tl.x + c.right - c.left, tl.y + c.bottom - c.top};
}

void TDockTree::PaintSite(HDC DC)
{
    TCanvas canvas;
    TCanvasDCScope scope(&canvas, DC);
    for (TControl* c : clients_) {
        if (!c->GetVisible()) continue;
        PaintDockFrame(&canvas, c, ZoneRect(c));
    }
}

void TDockTree::PaintDockFrame(TCanvas* Canvas, TControl* Control, const RECT& ARect)
{
    (void)Control;
    RECT g = ARect;
    if (HorizontalZones())
        g.right = g.left + grabberSize_;
    else
        g.bottom = g.top + grabberSize_;
    Canvas->GetBrush()->SetColor(clBtnFace);
    Canvas->FillRect(g);
    Canvas->GetPen()->SetColor(clBtnShadow);
    if (HorizontalZones()) {
        Canvas->MoveTo(g.left + 4, g.top + 16);
        Canvas->LineTo(g.left + 4, g.bottom - 2);
        Canvas->MoveTo(g.left + 7, g.top + 16);
        Canvas->LineTo(g.left + 7, g.bottom - 2);
    } else {
        Canvas->MoveTo(g.left + 2, g.top + 4);
        Canvas->LineTo(g.right - 18, g.top + 4);
        Canvas->MoveTo(g.left + 2, g.top + 7);
        Canvas->LineTo(g.right - 18, g.top + 7);
    }
    RECT x = CloseRect(Control);
    Canvas->MoveTo(x.left + 2, x.top + 2);
    Canvas->LineTo(x.right - 2, x.bottom - 2);
    Canvas->MoveTo(x.right - 3, x.top + 2);
    Canvas->LineTo(x.left + 1, x.bottom - 2);
}

bool TDockTree::MouseDown(POINT P)
{
    for (TControl* c : clients_) {
        if (!c->GetVisible()) continue;
        RECT close = CloseRect(c);
        if (::PtInRect(&close, P)) {
            c->SetVisible(false);
            ResetBounds(true);
            return true;
        }
        RECT g = GrabberRect(c);
        if (::PtInRect(&g, P)) {
            c->BeginDrag(false);
            return true;
        }
    }
    return false;
}

// ========================================================= TCustomDockForm

TCustomDockForm::TCustomDockForm(TComponent* AOwner) : TCustomForm(AOwner)
{
    SetBorderStyle(bsSizeToolWin);
    SetBorderIcons(biSystemMenu);
    SetDockSite(true);
}

void TCustomDockForm::DoAddDockClient(TControl* Client, const RECT& ARect)
{
    (void)ARect;
    Client->SetParent(this);
    Client->SetAlign(alClient);
}

void TCustomDockForm::DoRemoveDockClient(TControl* Client)
{
    if (Client->GetAlign() == alClient) Client->SetAlign(alNone);
}

}  // namespace classlib
