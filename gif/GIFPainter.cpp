#include "gif/GIFPainter.h"

#include <mmsystem.h>

#include <algorithm>
#include <set>
#include <vector>

#include "classlib/ScopeGuard.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "gif/GIFExtensions.h"

namespace gif {

namespace {

bool OnMainThread()
{
    return ::GetCurrentThreadId() == classlib::MainThreadID;
}

}  // namespace

TGIFPainter::TGIFPainter(TGIFPainter** Ref, TGIFDrawOptions DrawFlags, const RECT& R, classlib::TCanvas* Canvas,
                         TGIFImage* Image)
    : classlib::TThread(true),
      TargetImage(Image),
      TargetCanvas(Canvas),
      TargetRect(R),
      Flags(DrawFlags),
      Speed(Image->SpeedPercent),
      Reference(Ref)
{
    SetFreeOnTerminate(true);
    OnTerminate = classlib::TNotifyEvent(this, &TGIFPainter::CleanUp);
    if (Reference)
        *Reference = this;
    if ((Flags & gdfThreaded) && (Flags & gdfAnimate) && Image->GetImages()->GetCount() > 1 && Speed >= 0)
        WakeEvent.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    CreateBuffers();
}

TGIFPainter::~TGIFPainter()
{
    if (!IsThreaded())
        CleanUp();
}

void TGIFPainter::CreateBuffers()
{
    TGIFImage* Image = TargetImage;
    classlib::TColor Background;
    if (Image->PainterBackground != GIFNoColor)
        Background = Image->PainterBackground;
    else if (Image->GetGlobalColorMap()->GetCount() == 0)
        Background = classlib::clWindow;
    else
        Background = static_cast<classlib::TColor>(Image->GetBackgroundColor());
    BackgroundColor = classlib::ColorToRGB(Background);

    std::set<int> Disposals;
    for (int i = 0; i < Image->GetImages()->GetCount(); ++i)
        if (auto* Gce = Image->GetImages()->GetFrame(i)->GetControlExtension())
            Disposals.insert(Gce->GetDisposal());
    if (Flags & gdfClearOnLoop)
        Disposals.insert(2);
    const int W = TargetRect.right - TargetRect.left, H = TargetRect.bottom - TargetRect.top;
    const RECT Area{0, 0, W, H};
    auto Snapshot = [&] {
        auto b = std::make_unique<classlib::TBitmap>();
        b->SetSize(W, H);
        b->GetCanvas()->CopyMode = SRCCOPY;
        b->GetCanvas()->CopyRect(Area, TargetCanvas, TargetRect);
        return b;
    };
    if (Disposals.count(2) && (Flags & gdfTransparent))
        BackgroundShot = Snapshot();
    if (Disposals.count(2) || Disposals.count(3)) {
        SaveBuffer = Snapshot();
        ComposeBuffer = std::make_unique<classlib::TBitmap>();
        ComposeBuffer->SetSize(W, H);
        ComposeBuffer->GetCanvas()->CopyMode = SRCCOPY;
        // Both buffers keep a solid brush of the background colour: restoring
        // to the background fills with that colour.
        for (auto* b : {SaveBuffer.get(), ComposeBuffer.get()}) {
            b->GetCanvas()->GetBrush()->SetColor(BackgroundColor);
            b->GetCanvas()->GetBrush()->SetStyle(classlib::bsSolid);
        }
    }
}

void TGIFPainter::Start()
{
    if (IsThreaded())
        TThread::Start();
}

void TGIFPainter::Stop()
{
    Terminate();
    if (IsThreaded()) {
        if (WakeEvent)
            ::SetEvent(WakeEvent.Get());
        SetPriority(classlib::tpNormal);
        if (GetSuspended())
            Resume();
    }
}

void TGIFPainter::CleanUp(classlib::TObject*)
{
    if (CleanedUp)
        return;
    CleanedUp = true;
    if (TGIFImage* Image = TargetImage) {
        classlib::TThreadListLock Lock(Image->PainterList);
        if (Reference && *Reference == this)
            *Reference = nullptr;
        Lock.List().Remove(this);
    }
    TargetImage = nullptr;
    SaveBuffer.reset();
    ComposeBuffer.reset();
    BackgroundShot.reset();
    WakeEvent.Reset();
}

void TGIFPainter::RunSynchronized(const std::function<void()>& Operation)
{
    if (GetTerminated())
        return;
    if (IsThreaded()) {
        // The call may wait in the main thread's queue while the painter is
        // stopped; it checks again when it runs.
        Synchronize([this, &Operation] {
            if (!GetTerminated() && TargetImage)
                Operation();
        });
    } else {
        Operation();
    }
}

void TGIFPainter::FireEvent(const classlib::TNotifyEvent& Event)
{
    if (!Event)
        return;
    CurrentHandler = &Event;
    classlib::TOnExit Guard([this] { CurrentHandler = nullptr; });
    RunSynchronized([this, &Event] { Event(this); });
}

void TGIFPainter::WaitBeforeFrame(int Delay, DWORD& Last, int& Overshoot)
{
    if (Delay <= 0) {
        ::Sleep(0);
        return;
    }
    if (TargetImage && ActiveFrame >= 0 && ActiveFrame < TargetImage->GetImages()->GetCount())
        TargetImage->GetImages()->GetFrame(ActiveFrame)->GetBitmap();
    const DWORD Now = ::timeGetTime();
    int64_t Wait;
    if (Speed > 0) {
        const int64_t Elapsed = static_cast<int64_t>(static_cast<int32_t>(Now - Last)) - Overshoot;
        const int64_t Planned = int64_t{Delay} * DelayUnitMs - Elapsed / 2;
        if (Planned < INT32_MIN / 100 || Planned > INT32_MAX / 100) {
            Wait = 12000;
            Overshoot = 0;
        } else {
            Wait = ::MulDiv(static_cast<int>(Planned), 100, Speed);
            Overshoot = static_cast<int>(Wait);
        }
    } else {
        Wait = IsThreaded() ? -1 : 12000;
    }
    Last = Now;
    if (IsThreaded()) {
        if ((Wait > 0 || Speed == 0) && WakeEvent) {
            const DWORD r = ::WaitForSingleObject(WakeEvent.Get(), Wait < 0 ? INFINITE : static_cast<DWORD>(Wait));
            if (r != WAIT_TIMEOUT) {
                Overshoot = 0;
                Last = ::timeGetTime();
            }
        }
        return;
    }
    if (Wait < 1)
        Wait = 1;
    DWORD Start = ::timeGetTime();
    while (Wait > 0 && !GetTerminated()) {
        ::Sleep(Wait >= 100 ? 100 : static_cast<DWORD>(Wait));
        Wait -= static_cast<int64_t>(::timeGetTime() - Start);
        Start = ::timeGetTime();
        MSG Msg;
        while (::PeekMessageW(&Msg, nullptr, 0, 0, PM_REMOVE)) {
            if (Msg.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(Msg.wParam));
                Terminate();
                break;
            }
            ::TranslateMessage(&Msg);
            ::DispatchMessageW(&Msg);
        }
    }
}

void TGIFPainter::Execute()
{
    RestartPending = false;
    try {
        if (Flags & gdfCheckCanvas)
            CanvasDC = TargetCanvas->GetHandle();
        ActiveFrame = 0;
        FireEvent(OnRunStart);
        HasPainted = false;
        int Passes = 1;
        int RestartFrame = 0;
        bool LoopSeen = false;
        int Delay = IsThreaded() ? 0 : 1;
        LastDisposal = 1;
        DWORD Last = ::timeGetTime();
        int Overshoot = 0;
        while ((Passes != 0 || (Flags & gdfLoopForever)) && !GetTerminated() && TargetImage) {
            ActiveFrame = RestartFrame;
            if (HasPainted)
                FireEvent(OnPassStart);
            while (!GetTerminated() && TargetImage && ActiveFrame < TargetImage->GetImages()->GetCount()) {
                TGIFSubImage* Frame = TargetImage->GetImages()->GetFrame(ActiveFrame);
                if (Frame->Empty())
                    break;
                WaitBeforeFrame(Delay, Last, Overshoot);
                if (GetTerminated() || !TargetImage)
                    break;
                FireEvent(OnFrameStart);
                if (GetTerminated() || !TargetImage)
                    break;
                Frame = TargetImage->GetImages()->GetFrame(ActiveFrame);
                FrameDisposal = 1;
                TGIFExtensionList* Exts = Frame->GetExtensions();
                for (int e = 0; e < Exts->GetCount(); ++e) {
                    TGIFExtension* Ext = Exts->GetExtension(e);
                    if (auto* Loop = dynamic_cast<TGIFAppExtNSLoop*>(Ext)) {
                        if (!LoopSeen) {
                            LoopSeen = true;
                            Passes = ((Loop->LoopCount == 0 || (Flags & gdfLoopForever)) && IsThreaded())
                                         ? -1
                                         : Loop->LoopCount;
                            RestartFrame = ActiveFrame;
                        }
                    } else if (auto* Gce = dynamic_cast<TGIFGraphicControlExtension*>(Ext)) {
                        FrameDisposal = static_cast<uint8_t>(Gce->GetDisposal());
                    }
                }
                if (SaveBuffer)
                    RunSynchronized([this] { DrawBuffered(); });
                else
                    RunSynchronized([this] { DrawDirect(); });
                LastDisposal = FrameDisposal;
                Delay = DefaultDelay;
                if (auto* Gce = Frame->GetControlExtension()) {
                    if (Gce->GetDelay() > 0) {
                        Delay = std::max<int>(Gce->GetDelay(), MinimumDelay);
                        if (!IsThreaded())
                            Delay = std::min(Delay, MaximumDelay);
                    }
                }
                const int Shown = ActiveFrame;
                FireEvent(OnFrameEnd);
                if (ActiveFrame == Shown)
                    ActiveFrame = ActiveFrame + 1;
                if (!(Flags & gdfAnimate))
                    break;
            }
            if (Passes > 0)
                --Passes;
            if (!((Flags & gdfAnimate) && (Flags & gdfLoop)))
                break;
        }
        ActiveFrame = -1;
        FireEvent(OnRunEnd);
    } catch (const classlib::Exception&) {
        Terminate();
        PendingException = std::current_exception();
    }
}

void TGIFPainter::RunUnthreaded()
{
    Execute();
    CleanUp();
    if (PendingException)
        std::rethrow_exception(PendingException);
}

void TGIFPainter::DrawDirect()
{
    TGIFSubImage* Frame = TargetImage->GetImages()->GetFrame(ActiveFrame);
    Frame->Draw(TargetCanvas, TargetRect, (Flags & gdfTransparent) != 0, (Flags & gdfTile) != 0);
    HasPainted = true;
}

void TGIFPainter::RestoreBackground()
{
    TGIFImage* Image = TargetImage;
    TGIFSubImage* Frame = Image->GetImages()->GetFrame(ActiveFrame);
    const RECT Area{0, 0, SaveBuffer->GetWidth(), SaveBuffer->GetHeight()};
    std::vector<RECT> Rects;
    if (Flags & gdfTile) {
        const int StepX = std::max(1, Image->GetWidth()), StepY = std::max(1, Image->GetHeight());
        for (int x = Area.left + Frame->GetLeft(); x < Area.right; x += StepX)
            for (int y = Area.top + Frame->GetTop(); y < Area.bottom; y += StepY)
                Rects.push_back(RECT{x, y, x + Frame->GetWidth(), y + Frame->GetHeight()});
    } else {
        Rects.push_back(Frame->ScaleRect(Area));
    }
    classlib::TCanvas* Canvas = SaveBuffer->GetCanvas();
    for (const RECT& r : Rects) {
        if ((Flags & gdfTransparent) && BackgroundShot) {
            Canvas->CopyMode = SRCCOPY;
            Canvas->CopyRect(r, BackgroundShot->GetCanvas(), r);
        } else {
            Canvas->GetBrush()->SetColor(BackgroundColor);
            Canvas->GetBrush()->SetStyle(classlib::bsSolid);
            Canvas->FillRect(r);
        }
    }
}

void TGIFPainter::DrawBuffered()
{
    if (Flags & gdfCheckCanvas) {
        const DWORD Type = ::GetObjectType(CanvasDC);
        // Bitmap canvases draw on memory DCs, which are as valid as screen DCs.
        if (Type != OBJ_DC && Type != OBJ_MEMDC) {
            Terminate();
            return;
        }
    }
    TGIFSubImage* Frame = TargetImage->GetImages()->GetFrame(ActiveFrame);
    const bool ClearFirst = (Flags & gdfClearOnLoop) && ActiveFrame == 0;
    const RECT Area{0, 0, SaveBuffer->GetWidth(), SaveBuffer->GetHeight()};
    classlib::TCanvas* Target = SaveBuffer->GetCanvas();
    RECT TargetArea = Area;
    bool CopyOut = true;
    bool Compose = false;
    const int Disposal = FrameDisposal > 3 ? 1 : FrameDisposal;
    if (Disposal == 3) {
        if (LastDisposal < 2) {
            Target = TargetCanvas;
            TargetArea = TargetRect;
            CopyOut = false;
        } else {
            Target = ComposeBuffer->GetCanvas();
            Compose = true;
        }
    }
    HDC DC = Target->GetHandle();
    HPALETTE Pal = Frame->GetPalette();
    if (!Pal)
        Pal = static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE));
    classlib::TSelectPaletteScope PalSel(DC, Pal);
    if (ClearFirst)
        RestoreBackground();
    if (Compose) {
        Target->CopyMode = SRCCOPY;
        Target->CopyRect(Area, SaveBuffer->GetCanvas(), Area);
    }
    Frame->Draw(Target, TargetArea, (Flags & gdfTransparent) != 0, (Flags & gdfTile) != 0);
    if (CopyOut) {
        TargetCanvas->CopyMode = SRCCOPY;
        TargetCanvas->CopyRect(TargetRect, Target, TargetArea);
    }
    if (Disposal == 2)
        RestoreBackground();
    HasPainted = true;
}

// ---- the image's side ---------------------------------------------------------------------

TGIFPainter* TGIFImage::Paint(TGIFPainter** Reference, classlib::TCanvas* ACanvas, TGIFDrawOptions Options,
                              const RECT& R)
{
    if (GetEmpty() || R.left >= R.right || R.top >= R.bottom) {
        if (Reference)
            *Reference = nullptr;
        return nullptr;
    }
    if (Frames->GetCount() == 1)
        Options &= static_cast<TGIFDrawOptions>(~(gdfThreaded | gdfAnimate));
    auto* Painter = new TGIFPainter(Reference, Options, R, ACanvas, this);
    PainterList.Add(Painter);
    Painter->OnRunStart = OnRunStart;
    Painter->OnFrameStart = OnFrameStart;
    Painter->OnFrameEnd = OnFrameEnd;
    Painter->OnPassStart = OnPassStart;
    Painter->OnRunEnd = OnRunEnd;
    if (Options & gdfThreaded) {
        Painter->SetPriority(PainterPriority);
        return Painter;
    }
    std::unique_ptr<TGIFPainter> Owned(Painter);
    Owned->RunUnthreaded();
    if (Reference && *Reference == Painter)
        *Reference = nullptr;
    return nullptr;
}

void TGIFImage::StopPainters()
{
    for (;;) {
        int Threaded = 0;
        {
            classlib::TThreadListLock Lock(PainterList);
            classlib::TList& List = Lock.List();
            if (List.GetCount() == 0)
                break;
            for (int i = List.GetCount() - 1; i >= 0; --i) {
                auto* p = static_cast<TGIFPainter*>(List.GetItem(i));
                p->Stop();
                if (p->IsThreaded())
                    ++Threaded;
            }
        }
        if (Threaded == 0)
            break;
        if (OnMainThread())
            while (classlib::CheckSynchronize()) {
            }
        ::Sleep(0);
    }
    ReleaseBitmap();
}

void TGIFImage::StopDrawPainter()
{
    for (;;) {
        bool Threaded;
        {
            classlib::TThreadListLock Lock(PainterList);
            if (!ShowPainter)
                break;
            ShowPainter->Stop();
            Threaded = ShowPainter->IsThreaded();
        }
        if (!Threaded)
            break;
        if (OnMainThread())
            while (classlib::CheckSynchronize()) {
            }
        ::Sleep(0);
    }
    ReleaseBitmap();
}

}  // namespace gif
