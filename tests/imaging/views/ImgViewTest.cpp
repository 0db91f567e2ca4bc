// The view base and the image view as an image holder: bitmap-change
// registration, defaults of a view made by code without a parent, the
// image-holder operations, the locks, and the album build's road through an
// off-screen view (load, resample, rotate, save, read back).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Component.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/views/view/ImgView.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

// Records every bitmap-change call it receives.
struct ChangeLog : classlib::TObject {
    std::vector<std::pair<std::string, bool>>* calls = nullptr;
    std::string name;
    void Changed(classlib::TObject*, bool Destroying) { calls->emplace_back(name, Destroying); }
};

// A hidden top-level window to hold a view's window (shown without
// activation where a test needs it).
class HostWindow {
public:
    HostWindow()
    {
        handle_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 300, 300, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    }
    ~HostWindow()
    {
        if (handle_)
            DestroyWindow(handle_);
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND Handle() const { return handle_; }

private:
    HWND handle_ = nullptr;
};

// The format table, built once for the tests that load and save.
class FormatRegistry {
public:
    FormatRegistry()
    {
        PxDefsInit();
        had_ = PxFormatRegistryExists();
        if (!had_)
            PxBuildFormatRegistry();
    }
    ~FormatRegistry()
    {
        if (!had_)
            PxFreeFormatRegistry();
    }

private:
    bool had_ = false;
};

TEST(PxViewBitmapChange, HandlersCalledInOrderAndOnDestroy)
{
    std::vector<std::pair<std::string, bool>> calls;
    ChangeLog a, b, c;
    a.calls = b.calls = c.calls = &calls;
    a.name = "a";
    b.name = "b";
    c.name = "c";
    auto view = std::make_unique<TImgView>(nullptr);
    const int base = view->GetBitmapChangeCount();
    const intptr_t ha = view->RegisterBitmapChangeEvent(TPxBitmapChangeEvent(&a, &ChangeLog::Changed), &a);
    const intptr_t hb = view->RegisterBitmapChangeEvent(TPxBitmapChangeEvent(&b, &ChangeLog::Changed), &b);
    const intptr_t hc = view->RegisterBitmapChangeEvent(TPxBitmapChangeEvent(&c, &ChangeLog::Changed), &c);
    EXPECT_GE(ha, 0);
    view->NotifyBitmapChange();
    using Calls = std::vector<std::pair<std::string, bool>>;
    EXPECT_EQ(calls, (Calls{{"a", false}, {"b", false}, {"c", false}}));

    // Removing b; then nil, negative and already-removed handles change nothing.
    view->RemoveBitmapChangeEvent(hb);
    view->RemoveBitmapChangeEvent(0);
    view->RemoveBitmapChangeEvent(-5);
    view->RemoveBitmapChangeEvent(hb);
    EXPECT_EQ(view->GetBitmapChangeCount(), base + 2);
    (void)hc;
    calls.clear();
    view.reset();
    EXPECT_EQ(calls, (Calls{{"a", true}, {"c", true}}));
}

TEST(PxViewBitmapChange, DpiZeroIsIgnoredAndBorderStyleReachesWindow)
{
    HostWindow host;
    TImgView view(nullptr);
    view.SetParentWindow(host.Handle());
    EXPECT_EQ(view.GetDpiX(), 300);
    EXPECT_EQ(view.GetDpiY(), 300);
    view.SetDpiX(0);
    EXPECT_EQ(view.GetDpiX(), 300);
    view.SetDpi(72, 0);
    EXPECT_EQ(view.GetDpiX(), 72);
    EXPECT_EQ(view.GetDpiY(), 300);

    // The window's frame follows BorderStyle and Ctl3D (the window is
    // recreated on change).
    struct Case {
        TBorderStyle border;
        bool ctl3d;
        bool clientEdge;
        bool wsBorder;
    };
    const Case cases[] = {
        {bsSingle, true, true, false},
        {bsSingle, false, false, true},
        {bsNone, true, false, false},
        {bsNone, false, false, false},
    };
    for (const Case& c : cases) {
        view.SetBorderStyle(c.border);
        view.SetCtl3D(c.ctl3d);
        HWND h = view.GetHandle();
        ASSERT_NE(h, nullptr);
        EXPECT_EQ((GetWindowLongPtrW(h, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0, c.clientEdge) << c.border << c.ctl3d;
        EXPECT_EQ((GetWindowLongPtrW(h, GWL_STYLE) & WS_BORDER) != 0, c.wsBorder) << c.border << c.ctl3d;
    }
}

TEST(ImgViewHolder, OffscreenDefaultsAndOnDemandObjects)
{
    classlib::TComponent owner(nullptr);
    auto* view = new TImgView(&owner);
    EXPECT_FALSE(view->HasParentWindow());
    EXPECT_TRUE(view->IsEmpty());
    ASSERT_NE(view->GetPxBitmap(), nullptr);
    EXPECT_EQ(view->GetPxBitmap()->GetWidth(), 0);
    EXPECT_EQ(view->GetPxBitmap()->GetHeight(), 0);
    EXPECT_TRUE(view->GetLegacyBitmap());
    EXPECT_NE(view->GetBitmap(), nullptr);
    EXPECT_EQ(view->GetLayersCount(), 1);
    EXPECT_FALSE(view->GetLayer(0)->ShowBox);
    EXPECT_TRUE(view->GetLayer(0)->Locked);
    EXPECT_EQ(view->GetBackground(), classlib::clBtnFace);
    EXPECT_EQ(view->GetWidth(), 105);
    EXPECT_EQ(view->GetImgVersion(), L"1.0.0");

    EXPECT_FALSE(view->HasIO());
    EXPECT_FALSE(view->HasProc());
    const int registrations = view->GetBitmapChangeCount();
    TImgIO* io = view->GetIO();
    TImgProc* proc = view->GetProc();
    EXPECT_EQ(view->GetIO(), io);
    EXPECT_EQ(io->GetOwner(), view);
    EXPECT_EQ(proc->GetOwner(), view);
    EXPECT_EQ(io->GetCurrentBitmap(), view->GetPxBitmap());
    EXPECT_EQ(proc->GetBitmap(), view->GetPxBitmap());
    EXPECT_TRUE(proc->AutoUndo);
    EXPECT_EQ(proc->GetUndoLimit(), 1);
    EXPECT_EQ(view->GetBitmapChangeCount(), registrations + 2);

    TImg img(nullptr);
    EXPECT_TRUE(img.HasIO());
    EXPECT_TRUE(img.HasProc());

    // Filling the empty image succeeds and leaves it empty.
    view->FillWithBackground();
    EXPECT_TRUE(view->IsEmpty());
    delete view;  // leaves its owner; the objects it made go with it
    EXPECT_EQ(owner.GetComponentCount(), 0);
}

TEST(ImgViewHolder, HandlersReachObjectsMadeBeforeAndAfter)
{
    TImgView view(nullptr);
    int progress = -1, finished = 0;
    struct Sink : classlib::TObject {
        int* progress;
        int* finished;
        void P(classlib::TObject*, int per) { *progress = per; }
        void F(classlib::TObject*) { ++*finished; }
    } sink;
    sink.progress = &progress;
    sink.finished = &finished;
    TImgIO* io = view.GetIO();
    view.SetOnProgress(TPxProgressEvent(&sink, &Sink::P));
    view.SetOnFinishWork(classlib::TNotifyEvent(&sink, &Sink::F));
    TImgProc* proc = view.GetProc();
    ASSERT_TRUE(io->OnProgress.Assigned());
    ASSERT_TRUE(proc->OnFinishWork.Assigned());
    io->OnProgress(io, 7);
    EXPECT_EQ(progress, 7);
    proc->OnFinishWork(proc);
    EXPECT_EQ(finished, 1);
}

TEST(ImgViewHolder, IsEmptyFillAndAlpha)
{
    TImgView view(nullptr);
    view.SetLegacyBitmap(false);
    TPxBitmap* image = view.GetPxBitmap();
    struct Size {
        int w, h;
        bool empty;
    };
    for (const Size& s : {Size{1, 1, true}, Size{1, 100, false}, Size{100, 1, false}, Size{2, 2, false}}) {
        image->Allocate(s.w, s.h, px24RGB);
        EXPECT_EQ(view.IsEmpty(), s.empty) << s.w << "x" << s.h;
    }

    image->Allocate(4, 3, px24RGB);
    image->Fill(0x000000);
    TPxBitmap* alpha = image->GetAlphaChannel();
    alpha->Fill(0);  // fully transparent: blending would give the background too
    image->SetPixelRGB(1, 1, TPxRGB{10, 20, 30});
    view.SetBackground(static_cast<classlib::TColor>(0x00336699));  // red 0x99
    view.FillWithBackground();
    EXPECT_FALSE(image->HasAlphaChannel());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const TPxRGB p = image->GetPixelRGB(x, y);
            EXPECT_EQ(p.r, 0x99);
            EXPECT_EQ(p.g, 0x66);
            EXPECT_EQ(p.b, 0x33);
        }

    view.ClearImage();
    EXPECT_EQ(image->GetWidth(), 1);
    EXPECT_EQ(image->GetHeight(), 1);
    EXPECT_EQ(image->GetPixelRGB(0, 0).r, 0x99);
}

TEST(ImgViewHolder, LegacyBitmapSwitchKeepsPixelsAndAttachments)
{
    TImgView view(nullptr);
    TImgIO* io = view.GetIO();
    TImgProc* proc = view.GetProc();
    TPxBitmap* image = view.GetPxBitmap();
    image->Allocate(5, 4, px24RGB);
    image->Fill(0x0000FF);  // red
    ASSERT_EQ(image->GetLocation(), pxTBitmap);
    ASSERT_EQ(view.GetBitmap()->GetWidth(), 5);

    view.SetLegacyBitmap(false);
    EXPECT_EQ(view.GetBitmap(), nullptr);
    EXPECT_NE(image->GetLocation(), pxTBitmap);
    EXPECT_EQ(image->GetPixelRGB(4, 3).r, 255);
    EXPECT_EQ(io->GetCurrentBitmap(), view.GetPxBitmap());
    EXPECT_EQ(proc->GetBitmap(), view.GetPxBitmap());

    view.SetLegacyBitmap(true);
    ASSERT_NE(view.GetBitmap(), nullptr);
    EXPECT_EQ(view.GetBitmap()->GetWidth(), 5);
    EXPECT_EQ(image->GetPixelRGB(0, 0).r, 255);
    EXPECT_EQ(io->GetCurrentBitmap(), view.GetPxBitmap());
}

TEST(ImgViewHolder, ExternalBitmapIsShownNotOwned)
{
    auto external = std::make_unique<TPxBitmap>(3, 2, px24RGB);
    {
        TImgView view(nullptr);
        TImgIO* io = view.GetIO();
        view.SetExternalBitmap(external.get());
        EXPECT_EQ(view.GetPxBitmap(), external.get());
        EXPECT_FALSE(view.GetLayer(0)->OwnsBitmap);
        EXPECT_EQ(io->GetCurrentBitmap(), external.get());
        view.SetExternalBitmap(nullptr);
        EXPECT_NE(view.GetPxBitmap(), external.get());
        EXPECT_TRUE(view.GetLayer(0)->OwnsBitmap);
        // The I/O object no longer works on the caller's image.
        EXPECT_EQ(io->GetCurrentBitmap(), view.GetPxBitmap());
        // Again: the view's own image stays.
        TPxBitmap* own = view.GetPxBitmap();
        view.SetExternalBitmap(nullptr);
        EXPECT_EQ(view.GetPxBitmap(), own);
        view.SetExternalBitmap(external.get());
    }
    // The view is gone; the caller's image is intact.
    EXPECT_EQ(external->GetWidth(), 3);
}

TEST(ImgViewHolder, LocksNeverGoBelowZero)
{
    TImgView view(nullptr);
    view.SetLegacyBitmap(false);
    view.GetPxBitmap()->Allocate(6, 5, px24RGB);
    EXPECT_EQ(view.GetLayersWidth(), 0);  // no update yet
    // An unmatched EndPaintLock stays at 0 and updates.
    EXPECT_EQ(view.EndPaintLock(), 0);
    EXPECT_EQ(view.GetLayersWidth(), 6);

    view.EndUpdateLockNoUpdate();
    EXPECT_EQ(view.GetUpdateLockCount(), 0);
    view.BeginUpdateLock();
    view.GetPxBitmap()->Allocate(9, 5, px24RGB);
    view.Update();
    EXPECT_EQ(view.GetLayersWidth(), 6);  // held
    view.EndUpdateLock();
    EXPECT_EQ(view.GetLayersWidth(), 9);

    view.BeginPaintLock();
    view.BeginPaintLock();
    EXPECT_EQ(view.EndPaintLockNoUpdate(), 1);
    EXPECT_EQ(view.EndPaintLock(), 0);
    EXPECT_EQ(view.EndPaintLockNoUpdate(), 0);
}

TEST(ImgViewHolder, AssignFromNilViewAndBitmap)
{
    TImgView view(nullptr);
    int changes = 0;
    struct Sink : classlib::TObject {
        int* n;
        void F(classlib::TObject*) { ++*n; }
    } sink;
    sink.n = &changes;
    view.OnImageChange = classlib::TNotifyEvent(&sink, &Sink::F);

    // A palette bitmap becomes 24-bit RGB.
    classlib::TBitmap pal;
    pal.SetPixelFormat(classlib::pf8bit);
    pal.SetSize(4, 4);
    view.Assign(&pal);
    EXPECT_EQ(view.GetPxBitmap()->GetPixelFormat(), px24RGB);
    EXPECT_EQ(view.GetPxBitmap()->GetWidth(), 4);
    EXPECT_EQ(changes, 1);

    // nil fills with the background.
    view.SetBackground(static_cast<classlib::TColor>(0x00010203));
    changes = 0;
    view.Assign(nullptr);
    EXPECT_EQ(view.GetPxBitmap()->GetPixelRGB(3, 3).r, 3);
    EXPECT_EQ(changes, 0);

    // Another view: its image, background and resolution.
    TImgView other(nullptr);
    other.SetLegacyBitmap(false);
    other.GetPxBitmap()->Allocate(2, 7, px24RGB);
    other.GetPxBitmap()->Fill(0x00FF00);
    other.SetBackground(classlib::clRed);
    other.SetDpi(96, 120);
    view.Assign(&other);
    EXPECT_EQ(view.GetPxBitmap()->GetWidth(), 2);
    EXPECT_EQ(view.GetPxBitmap()->GetHeight(), 7);
    EXPECT_EQ(view.GetPxBitmap()->GetPixelRGB(1, 6).g, 255);
    EXPECT_EQ(view.GetBackground(), classlib::clRed);
    EXPECT_EQ(view.GetDpiX(), 96);
    EXPECT_EQ(view.GetDpiY(), 120);
    EXPECT_EQ(changes, 1);

    // Any other class: nothing.
    classlib::TComponent unrelated(nullptr);
    view.Assign(&unrelated);
    EXPECT_EQ(view.GetPxBitmap()->GetWidth(), 2);
    EXPECT_EQ(changes, 1);
}

// Reads a binary PPM (P6, maxval 255) written by the fixture script.
bool ReadPpm(const std::wstring& Path, int& W, int& H, std::vector<uint8_t>& Rgb)
{
    FILE* f = _wfopen(Path.c_str(), L"rb");
    if (!f)
        return false;
    int maxval = 0;
    const bool ok = fscanf(f, "P6 %d %d %d", &W, &H, &maxval) == 3 && maxval == 255 && fgetc(f) != EOF;
    Rgb.resize(static_cast<size_t>(W) * H * 3);
    const bool read = ok && fread(Rgb.data(), 1, Rgb.size(), f) == Rgb.size();
    fclose(f);
    return read;
}

TEST(ImgViewAlbumRoad, OffscreenViewLoadsResamplesRotatesSaves)
{
    FormatRegistry registry;
    testsupport::TempDir dir;
    const std::wstring jpeg = testsupport::FixtureDir(L"io\\jpeg");
    const std::wstring out = dir.File(L"album.jpg");
    classlib::TComponent owner(nullptr);
    auto* view = new TImgView(&owner);
    view->SetLegacyBitmap(false);
    view->GetIO()->FileParams->JPEGQuality = 95;

    view->FillWithBackground();
    view->GetPxBitmap()->SetWidth(0);
    view->GetPxBitmap()->SetHeight(0);
    view->GetIO()->LoadFromFile(jpeg + L"\\baseline.jpg");
    ASSERT_FALSE(view->GetIO()->AbortFlag);
    TPxBitmap* image = view->GetPxBitmap();
    ASSERT_EQ(image->GetWidth(), 50);
    ASSERT_EQ(image->GetHeight(), 34);
    ASSERT_FALSE(view->IsEmpty());

    // The decode matches the reference decode of the fixture script.
    int rw = 0, rh = 0;
    std::vector<uint8_t> ref;
    ASSERT_TRUE(ReadPpm(jpeg + L"\\baseline.ppm", rw, rh, ref));
    ASSERT_EQ(rw, 50);
    int worst = 0;
    for (int y = 0; y < rh; ++y)
        for (int x = 0; x < rw; ++x) {
            const TPxRGB p = image->GetPixelRGB(x, y);
            const uint8_t* q = &ref[(static_cast<size_t>(y) * rw + x) * 3];
            worst = std::max({worst, std::abs(p.r - q[0]), std::abs(p.g - q[1]), std::abs(p.b - q[2])});
        }
    EXPECT_LE(worst, 2);

    view->GetProc()->Resample(25, 17, rfFastLinear);
    EXPECT_EQ(view->GetProc()->GetUndoCount(), 1);
    view->GetProc()->Rotate(90, false, 0, -1);
    EXPECT_EQ(view->GetProc()->GetUndoCount(), 1);  // the limit is 1
    EXPECT_EQ(view->GetPxBitmap(), image);
    ASSERT_EQ(image->GetWidth(), 17);
    ASSERT_EQ(image->GetHeight(), 25);
    EXPECT_EQ(view->GetLayersWidth(), 17);  // the operation updated the view
    TPxBitmap saved;
    saved.Assign(image);
    view->GetIO()->SaveToFile(out);
    ASSERT_FALSE(view->GetIO()->AbortFlag);
    delete view;

    TImgView back(nullptr);
    back.GetIO()->LoadFromFile(out);
    ASSERT_FALSE(back.GetIO()->AbortFlag);
    TPxBitmap* reread = back.GetPxBitmap();
    ASSERT_EQ(reread->GetWidth(), 17);
    ASSERT_EQ(reread->GetHeight(), 25);
    long total = 0;
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 17; ++x) {
            const TPxRGB a = reread->GetPixelRGB(x, y), b = saved.GetPixelRGB(x, y);
            total += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
        }
    // Lossy (4:2:0 chroma on a small picture with hard edges), but close.
    EXPECT_LT(static_cast<double>(total) / (3.0 * 17 * 25), 12.0);
}

}  // namespace
