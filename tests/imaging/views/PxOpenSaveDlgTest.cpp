// The open and save dialogs and the parameters form, run modally and
// answered by messages from a timer script: names typed into the system
// dialog's file-name box, the selection-change notification the dialog
// frame sends, button clicks and scroll-bar messages.
#include <gtest/gtest.h>

#include <windows.h>

#include <commdlg.h>
#include <dlgs.h>

#include <chrono>
#include <functional>
#include <tuple>
#include <set>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Forms.h"
#include "classlib/Streams.h"
#include "classlib/TextConv.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/formats/gif/GifLzw.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOPreviews.h"
#include "imaging/io/formats/tiff/TiffLzw.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxWords.h"
#include "imaging/views/grid/ImgMIO.h"
#include "imaging/views/vector/ImgVect.h"
#include "imaging/views/dialogs/PxIOPreviews.h"
#include "imaging/views/dialogs/PxOpenSaveDlg.h"
#include "imaging/views/dialogs/PxPaletteDialog.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

using testsupport::FixturePath;

// Steps run one after the other from a thread timer (which fires inside the
// system dialog's and the forms' modal loops). A step returns true when it
// is done; a step that opens a modal window advances the script itself
// first, so that the next steps run inside that window's loop.
struct Script {
    std::vector<std::function<bool(Script&)>> steps;
    size_t i = 0;
    bool busy = false;
    int ticks = 0;
    std::vector<std::string> log;
    bool Done() const { return i >= steps.size(); }
};

Script* script = nullptr;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    Script* s = script;
    if (!s || s->busy || s->Done())
        return;
    // A stuck script is ended: every window of the thread is cancelled.
    if (++s->ticks > 400) {
        s->log.push_back("script stuck at step " + std::to_string(s->i));
        s->i = s->steps.size();
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND W, LPARAM) -> BOOL {
                if (IsWindowVisible(W)) {
                    PostMessageW(W, WM_COMMAND, IDCANCEL, 0);
                    PostMessageW(W, WM_CLOSE, 0, 0);
                }
                return TRUE;
            },
            0);
        return;
    }
    // A pause for looking at the windows (screenshots): at step DLG_PAUSE,
    // for as long as /tmp/dialog-pause exists.
    if (const char* pause = getenv("DLG_PAUSE"); pause && static_cast<int>(s->i) == atoi(pause) &&
                                                 GetFileAttributesW(L"Z:\\tmp\\dialog-pause") != INVALID_FILE_ATTRIBUTES) {
        s->ticks = 0;
        return;
    }
    s->busy = true;
    const size_t k = s->i;
    const bool done = s->steps[k](*s);
    s->busy = false;
    if (done && s->i == k)
        ++s->i;
}

struct ScriptRun {
    explicit ScriptRun(Script& S)
    {
        script = &S;
        timer = SetTimer(nullptr, 0, 40, &Tick);
    }
    ~ScriptRun()
    {
        KillTimer(nullptr, timer);
        script = nullptr;
    }
    UINT_PTR timer;
};

class DialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        PxDefsInit();
        if (PxGetMsgText(132, msSystem).empty())
            PxFillMessages();
        hadRegistry_ = PxFormatRegistryExists();
        if (!hadRegistry_)
            PxBuildFormatRegistry();
        // What the start-ups of the I/O unit and the image view do in the
        // program.
        PxInstallGIFLZWCodec();
        PxInstallTIFFLZWCodec();
        PxInstallIOPreviewsForm();
    }
    static void TearDownTestSuite()
    {
        if (!hadRegistry_)
            PxFreeFormatRegistry();
    }
    void SetUp() override
    {
        saved_ = classlib::Application;
        classlib::Application = &app_;
    }
    void TearDown() override { classlib::Application = saved_; }
    static inline bool hadRegistry_ = false;
    classlib::TApplication app_{nullptr};
    classlib::TApplication* saved_ = nullptr;
};

// Types Name into the system dialog's file-name box and sends the dialog
// the selection-change notification its frame sends.
// Types Name into the file-name box of the system dialog (the classic box
// 1152 or the combo box 1148, whichever the dialog has).
void TypeName(TOpenImgDialog& Dlg, const std::wstring& Name)
{
    HWND frame = GetParent(Dlg.GetDialogWindow());
    const int box = GetDlgItem(frame, 1152) ? 1152 : 1148;
    SendMessageW(frame, CDM_SETCONTROLTEXT, static_cast<WPARAM>(box), reinterpret_cast<LPARAM>(Name.c_str()));
}

void TypeAndSelect(TOpenImgDialog& Dlg, const std::wstring& Name)
{
    HWND frame = GetParent(Dlg.GetDialogWindow());
    TypeName(Dlg, Name);
    OFNOTIFYW n{};
    n.hdr.hwndFrom = frame;
    n.hdr.code = CDN_SELCHANGE;
    SendMessageW(Dlg.GetDialogWindow(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
}

// ---- filters and names (no window)

TEST_F(DialogTest, FiltersFromTheRegistryAndNameHelpers)
{
    TOpenImgDialog open(nullptr);
    const std::wstring f = open.BuildFilter();
    EXPECT_EQ(f.rfind(L"Common Graphic Files (*.tif;", 0), 0u) << std::string(f.begin(), f.begin() + 60);
    EXPECT_NE(f.find(L";*.avi;*.mpg;*.wmv)|"), std::wstring::npos);
    EXPECT_NE(f.find(L"|All Files (*.*)|*.*|"), std::wstring::npos);
    const std::wstring video =
        L"|Video for Windows (*.avi)|*.avi|Mpeg (*.mpeg;*.mpg)|*.mpeg;*.mpg|Windows Media Video (*.wmv)|*.wmv";
    EXPECT_EQ(f.substr(f.size() - video.size()), video);
    // Rows without extensions (the raw pixel data row) are in no filter.
    ASSERT_NE(PxFormatInfoById(ffRawData), nullptr);
    EXPECT_EQ(f.find(L" ()|"), std::wstring::npos);

    TSaveImgDialog save(nullptr);
    const std::wstring s = save.BuildFilter();
    EXPECT_EQ(s.find(L"Common Graphic Files"), std::wstring::npos);
    EXPECT_EQ(s.find(L"*.mpg"), std::wstring::npos);
    EXPECT_NE(s.find(L"(*.avi)|*.avi"), std::wstring::npos);
    EXPECT_NE(s.find(L"(*.png)|*.png"), std::wstring::npos);

    open.Filter = f;
    EXPECT_EQ(open.FilterIndexOfFile(L"photo.png"), 1);
    EXPECT_EQ(open.PatternsOfIndex(2), L"*.*");

    const struct {
        const wchar_t* in;
        const wchar_t* out;
    } dirs[] = {{L"C:\\Images\\", L"C:\\Images"}, {L"C:\\", L"C:\\"}, {L"D:\\a", L"D:\\a"}};
    for (const auto& d : dirs) {
        open.SetInitialDir(d.in);
        EXPECT_EQ(open.GetInitialDir(), d.out);
    }
    EXPECT_EQ(PxPatternToExtension(L"*.jpg;*.jpeg"), L".jpg");
    EXPECT_EQ(PxPatternToExtension(L"*.tif"), L".tif");
}

// ---- the open dialog

struct Shown {
    std::wstring size, colours, dpi, file, format;
    int frames = 0;
    bool grid = false;
    bool filteredDpi = false;
};

TEST_F(DialogTest, OpenDialogPreviewsRealFilesAndReturnsTheChosenOne)
{
    // Names as a click in the folder "io" would put them into the name box.
    const std::wstring files[] = {L"jpeg\\baseline.jpg", L"png\\rgb8.png", L"png\\g16.png", L"bmp\\rgb24.bmp",
                                  L"tiff\\multipage.tif"};
    TOpenImgDialog dlg(nullptr);
    dlg.SetInitialDir(testsupport::FixtureDir(L"io"));
    dlg.FilteredAdjustDPI = true;
    std::vector<Shown> shown;
    Script s;
    s.steps.push_back([&](Script&) { return dlg.GetDialogWindow() != nullptr && IsWindowVisible(GetParent(dlg.GetDialogWindow())); });
    for (const std::wstring& f : files)
        s.steps.push_back([&, f](Script&) {
            TypeAndSelect(dlg, f);
            Shown v;
            v.size = dlg.PicLabel1->GetCaption();
            v.colours = dlg.PicLabel2->GetCaption();
            v.dpi = dlg.PicLabel3->GetCaption();
            v.file = dlg.InfoLabel2->GetCaption();
            v.format = dlg.InfoLabel1->GetCaption();
            v.frames = dlg.GetTotalFrames();
            v.grid = dlg.ImgMView->GetVisible() && !dlg.ImgView->GetVisible();
            v.filteredDpi = (v.grid ? dlg.ImgMView->GetMIO()->FilteredAdjustDPI : dlg.ImgView->GetIO()->FilteredAdjustDPI);
            shown.push_back(v);
            return true;
        });
    // The multi-page file's frames load in the grid as it paints them; once
    // all are shown, the information is that of the selected frame.
    std::wstring gridInfo;
    int waited = 0;
    s.steps.push_back([&](Script&) {
        gridInfo = dlg.PicLabel1->GetCaption();
        return (dlg.ImgMView->HasImage(0) && gridInfo != shown[4].size) || ++waited > 100;
    });
    s.steps.push_back([&](Script&) {
        TypeAndSelect(dlg, files[0]);
        PostMessageW(GetParent(dlg.GetDialogWindow()), WM_COMMAND, IDOK, 0);
        return true;
    });
    bool ok = false;
    {
        ScriptRun run(s);
        ok = dlg.Execute();
    }
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    EXPECT_TRUE(ok);
    EXPECT_EQ(dlg.GetFileName(), FixturePath(L"io\\jpeg", L"baseline.jpg"));
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].size, L"50 x 34 pixel");
    EXPECT_EQ(shown[0].colours, L"16777216 Colors (24 bit)");
    EXPECT_EQ(shown[0].file, L"File: 1 KB");  // 1406 bytes
    EXPECT_NE(shown[0].format.find(L"JPEG"), std::wstring::npos) << shown[0].format.c_str();
    EXPECT_EQ(shown[1].size, L"11 x 7 pixel");
    EXPECT_EQ(shown[1].file, L"File: 111 byte");
    EXPECT_NE(shown[1].format.find(L"PNG"), std::wstring::npos);
    EXPECT_EQ(shown[2].colours, L"65536 Colors (16 bit)");
    EXPECT_EQ(shown[3].size, L"7 x 5 pixel");
    EXPECT_NE(shown[3].dpi.find(L"dpi"), std::wstring::npos);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(shown[static_cast<size_t>(i)].frames, 1) << i;
        EXPECT_FALSE(shown[static_cast<size_t>(i)].grid) << i;
    }
    for (const Shown& v : shown)
        EXPECT_TRUE(v.filteredDpi);
    EXPECT_TRUE(shown[4].grid);
    EXPECT_EQ(shown[4].frames, 3);
    EXPECT_EQ(gridInfo, L"17 x 13 pixel, 3 frames");
    // Closing stopped and emptied the previews.
    EXPECT_EQ(dlg.ImgMView->GetImageCount(), 0);
    EXPECT_EQ(dlg.GetDialogWindow(), nullptr);
}

// With several files allowed, the dialog writes a single choice over the
// initial name and leaves the rest of a longer one behind it: that rest is
// no second file. Several names chosen are each listed with their folder.
TEST_F(DialogTest, OpenDialogWithSeveralFilesAllowedReturnsOnlyTheChosenOnes)
{
    const std::wstring png = testsupport::FixtureDir(L"io") + L"\\png";
    struct Case {
        std::wstring initialName;
        std::wstring typed;
        std::vector<std::wstring> files;
    };
    const Case cases[] = {
        {png + L"\\a-name-much-longer-than-the-one-chosen.png", png + L"\\rgb8.png", {png + L"\\rgb8.png"}},
        {L"", L"\"rgb8.png\" \"g16.png\"", {png + L"\\rgb8.png", png + L"\\g16.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(classlib::WideToUtf8(c.typed));
        TOpenImgDialog dlg(nullptr);
        dlg.SetInitialDir(png);
        dlg.Options |= classlib::ofAllowMultiSelect;
        dlg.SetFileName(c.initialName);
        Script s;
        s.steps.push_back(
            [&](Script&) { return dlg.GetDialogWindow() != nullptr && IsWindowVisible(GetParent(dlg.GetDialogWindow())); });
        s.steps.push_back([&](Script&) {
            TypeName(dlg, c.typed);
            PostMessageW(GetParent(dlg.GetDialogWindow()), WM_COMMAND, IDOK, 0);
            return true;
        });
        bool ok = false;
        {
            ScriptRun run(s);
            ok = dlg.Execute();
        }
        EXPECT_TRUE(s.log.empty()) << s.log.front();
        ASSERT_TRUE(ok);
        std::vector<std::wstring> files;
        for (int i = 0; i < dlg.GetFileList()->GetCount(); ++i) files.push_back(dlg.GetFileList()->GetStrings(i));
        EXPECT_EQ(files, c.files);
        EXPECT_EQ(dlg.GetFileName(), c.files.front());
    }
}

TEST_F(DialogTest, OpenDialogCancelledLeavesTheNameAndShowsNothingForMissingFiles)
{
    TOpenImgDialog dlg(nullptr);
    dlg.SetInitialDir(testsupport::FixtureDir(L"io"));
    dlg.SetFileName(L"before.png");
    std::wstring info = L"unset";
    bool previewEnabled = true;
    Script s;
    s.steps.push_back([&](Script&) { return dlg.GetDialogWindow() != nullptr; });
    s.steps.push_back([&](Script&) {
        TypeAndSelect(dlg, L"png\\no-such-file.png");
        info = dlg.InfoLabel2->GetCaption();
        previewEnabled = dlg.PreviewButton->GetEnabled();
        PostMessageW(GetParent(dlg.GetDialogWindow()), WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    bool ok = true;
    {
        ScriptRun run(s);
        ok = dlg.Execute();
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(info, L"");
    EXPECT_FALSE(previewEnabled);
    EXPECT_EQ(dlg.GetFileName(), L"before.png");
}

// A folder holding a combined layers-and-objects file (a red box over a
// green picture) and two PNG files.
struct VectorFolder {
    VectorFolder()
    {
        TImgVect maker(nullptr);
        maker.SetLegacyBitmap(false);
        maker.GetPxBitmap()->Allocate(60, 40, px24RGB);
        maker.GetPxBitmap()->Fill(0x00FF00);
        TPxVectObject o = *maker.ObjectRecord(-1);
        o.Kind = pxvoBox;
        o.Left = 10;
        o.Top = 10;
        o.Right = 39;
        o.Bottom = 29;
        o.BrushStyle = classlib::bsSolid;
        o.BrushColor = 0x0000FF;
        o.PenColor = 0x0000FF;
        maker.AddObject(o);
        classlib::TFileStream f(dir.File(L"drawing.all"), classlib::fmCreate);
        maker.SaveToStreamAll(&f, -1);
        CopyFileW(FixturePath(L"io\\png", L"rgb8.png").c_str(), dir.File(L"a.png").c_str(), FALSE);
        CopyFileW(FixturePath(L"io\\png", L"g16.png").c_str(), dir.File(L"b.png").c_str(), FALSE);
    }
    testsupport::TempDir dir;
};

// The preview window shown now, if any.
classlib::TCustomForm* PreviewWindow()
{
    for (int i = 0; i < classlib::Screen->GetFormCount(); ++i)
        if (auto* f = classlib::Screen->GetForms(i); f->GetName() == L"PreviewForm" && f->HandleAllocated() &&
                                                     IsWindowVisible(f->GetHandle()))
            return f;
    return nullptr;
}

TEST_F(DialogTest, OpenDialogPreviewsVectorObjectsAndDoubleClickOpensThePreviewWindow)
{
    VectorFolder folder;
    TOpenImgDialog dlg(nullptr);
    dlg.SetInitialDir(folder.dir.Path());
    int objects = -1, windowObjects = -1;
    TPxRGB boxPixel{}, windowPixel{};
    std::wstring windowClass;
    Script s;
    s.steps.push_back([&](Script&) { return dlg.GetDialogWindow() != nullptr && IsWindowVisible(GetParent(dlg.GetDialogWindow())); });
    s.steps.push_back([&](Script&) {
        TypeAndSelect(dlg, L"drawing.all");
        objects = dlg.ImgView->GetObjectsCount();
        // The picture itself stays green under the box: the box is an object.
        boxPixel = dlg.ImgView->GetPxBitmap()->GetPixelRGB(20, 20);
        return true;
    });
    s.steps.push_back([&](Script& S) {
        ++S.i;  // the window's loop runs the next steps
        S.busy = false;
        SendMessageW(dlg.ImgView->GetHandle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(20, 20));
        return true;
    });
    s.steps.push_back([&](Script&) {
        classlib::TCustomForm* w = PreviewWindow();
        if (!w)
            return false;
        if (auto* v = dynamic_cast<TImgVect*>(w->FindComponent(L"ImgView"))) {
            windowObjects = v->GetObjectsCount();
            windowPixel = v->GetPxBitmap()->GetPixelRGB(20, 20);
        }
        PostMessageW(w->GetHandle(), WM_CHAR, 27, 0);
        return true;
    });
    s.steps.push_back([&](Script&) {
        if (PreviewWindow())
            return false;
        PostMessageW(GetParent(dlg.GetDialogWindow()), WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    {
        ScriptRun run(s);
        dlg.Execute();
    }
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    EXPECT_EQ(objects, 1);
    EXPECT_EQ(boxPixel.g, 255);
    EXPECT_EQ(boxPixel.r, 0);
    EXPECT_EQ(windowObjects, 1);
    EXPECT_EQ(windowPixel.g, 255);
}

// Several files chosen at once in the explorer-style dialog; the classic
// dialog (one name) is the dialog window itself and shows at its
// WM_INITDIALOG.
TEST_F(DialogTest, OpenDialogMultiSelectAndTheClassicDialog)
{
    VectorFolder folder;
    for (bool classic : {false, true}) {
        SCOPED_TRACE(classic ? "classic" : "explorer");
        TOpenImgDialog dlg(nullptr);
        dlg.SetInitialDir(folder.dir.Path());
        dlg.Options |= classic ? classlib::ofOldStyleDialog : classlib::ofAllowMultiSelect;
        int shows = 0;
        struct Count {
            int* n;
            void Shown(classlib::TObject*) { ++*n; }
        } count{&shows};
        dlg.OnShow = classlib::TNotifyEvent(&count, &Count::Shown);
        bool framed = true;
        Script s;
        s.steps.push_back([&](Script&) { return dlg.GetDialogWindow() != nullptr && IsWindowVisible(dlg.GetDialogWindow()); });
        s.steps.push_back([&](Script&) {
            HWND d = dlg.GetDialogWindow();
            framed = GetDlgItem(d, edt1) == nullptr;  // the classic name box is the dialog's own
            if (framed) {
                TypeName(dlg, L"\"drawing.all\" \"a.png\" \"b.png\"");
                PostMessageW(GetParent(d), WM_COMMAND, IDOK, 0);
            } else {
                SetDlgItemTextW(d, edt1, L"a.png");
                PostMessageW(d, WM_COMMAND, IDOK, 0);
            }
            return true;
        });
        bool ok = false;
        {
            ScriptRun run(s);
            ok = dlg.Execute();
        }
        EXPECT_TRUE(s.log.empty()) << s.log.front();
        EXPECT_TRUE(ok);
        EXPECT_EQ(framed, !classic);
        EXPECT_EQ(shows, 1);
        const std::vector<std::wstring> want =
            classic ? std::vector<std::wstring>{L"a.png"} : std::vector<std::wstring>{L"drawing.all", L"a.png", L"b.png"};
        ASSERT_EQ(dlg.GetFileList()->GetCount(), static_cast<int>(want.size()));
        std::set<std::wstring> got, expected;
        for (size_t i = 0; i < want.size(); ++i) {
            got.insert(dlg.GetFileList()->GetStrings(static_cast<int>(i)));
            expected.insert(folder.dir.File(want[i]));
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(dlg.GetWideFileList()->GetCount(), static_cast<int>(want.size()));
        EXPECT_EQ(dlg.GetFileName(), dlg.GetFileList()->GetStrings(0));
    }
}

// With ofShowHelp the dialog has a Help button; its request asks the
// application for the dialog's help context (through the main window, the
// dialog's owner).
TEST_F(DialogTest, OpenDialogHelpButtonShowsTheHelpContext)
{
    classlib::TForm* main = app_.CreateForm<classlib::TForm>();
    main->GetHandle();
    struct Help {
        std::vector<intptr_t> asked;
        bool OnHelp(uint16_t Command, intptr_t Data, bool&)
        {
            if (Command == HELP_CONTEXT)
                asked.push_back(Data);
            return true;
        }
    } help;
    app_.OnHelp = classlib::TApplication::THelpEvent(&help, &Help::OnHelp);
    TOpenImgDialog dlg(nullptr);
    dlg.Options |= classlib::ofShowHelp;
    dlg.HelpContext = 417;
    bool helpButton = false;
    HWND owner = nullptr;
    Script s;
    s.steps.push_back([&](Script&) { return dlg.GetDialogWindow() != nullptr && IsWindowVisible(GetParent(dlg.GetDialogWindow())); });
    s.steps.push_back([&](Script&) {
        HWND frame = GetParent(dlg.GetDialogWindow());
        HWND button = GetDlgItem(frame, pshHelp);
        helpButton = button && IsWindowVisible(button);
        // The button's request goes to the dialog's owner as the registered
        // help message (sent here as the system dialog sends it; Wine's file
        // dialog sends nothing).
        owner = GetWindow(frame, GW_OWNER);
        SendMessageW(owner, RegisterWindowMessageW(HELPMSGSTRINGW), 0, 0);
        return true;
    });
    s.steps.push_back([&](Script&) {
        PostMessageW(GetParent(dlg.GetDialogWindow()), WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    {
        ScriptRun run(s);
        dlg.Execute();
    }
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    EXPECT_TRUE(helpButton);
    EXPECT_EQ(owner, main->GetHandle());
    EXPECT_EQ(help.asked, std::vector<intptr_t>{417});
    // After the dialog the main window no longer answers help requests.
    SendMessageW(main->GetHandle(), RegisterWindowMessageW(HELPMSGSTRINGW), 0, 0);
    EXPECT_EQ(help.asked.size(), 1u);
    app_.OnHelp = nullptr;
}

// ---- the save dialog and the parameters form

// The parameters form shown now, if any.
TfIOPreviews* OpenForm()
{
    for (int i = 0; i < classlib::Screen->GetFormCount(); ++i)
        if (auto* f = dynamic_cast<TfIOPreviews*>(classlib::Screen->GetForms(i)); f && f->HandleAllocated() &&
                                                                                   IsWindowVisible(f->GetHandle()))
            return f;
    return nullptr;
}

int64_t ResultSize(TfIOPreviews* F)
{
    const std::wstring c = F->L2->GetCaption();
    const size_t colon = c.find(L": ");
    try {
        return std::stoll(c.substr(colon + 2));
    } catch (...) {
        return -1;
    }
}

// A 64 x 48 picture with detail, so that JPEG qualities give different
// sizes.
std::unique_ptr<TPxBitmap> Picture()
{
    auto b = std::make_unique<TPxBitmap>(64, 48, px24RGB);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            b->SetPixelRGB(x, y, TPxRGB{static_cast<uint8_t>(x * 4), static_cast<uint8_t>((x * y) & 255),
                                        static_cast<uint8_t>(((x / 4 + y / 4) & 1) * 200)});
    return b;
}

int64_t EncodedSize(TPxBitmap* Image, int Quality)
{
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(Image);
    io.FileParams->JPEGQuality = Quality;
    classlib::TMemoryStream m;
    io.SaveJPEGToStream(&m);
    io.SetAttachedPxBitmap(nullptr);
    return m.GetSize();
}

// Records the form OnIOPreview is given.
struct TPreviewSeen {
    classlib::TForm* Form = nullptr;
    int Calls = 0;
    void OnPreview(classlib::TObject*, classlib::TForm* F)
    {
        Form = F;
        ++Calls;
    }
};

TEST_F(DialogTest, ParametersFormChangesJpegQualityWithEncodedPreviewAndSize)
{
    auto image = Picture();
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(image.get());
    io.FileParams->FileFormat = ffJPEG;
    io.FileParams->JPEGQuality = 90;
    io.PreviewsParams = ioppApplyButton;
    TPreviewSeen seen;
    io.OnIOPreview = TPxIOPreviewEvent(&seen, &TPreviewSeen::OnPreview);
    int64_t at90 = -1, at10 = -1;
    int differing = 0;
    Script s;
    TfIOPreviews* form = nullptr;
    s.steps.push_back([&](Script&) { return (form = OpenForm()) != nullptr && form->ControlsReady; });
    s.steps.push_back([&](Script&) {
        // The live preview is off by default: checking it makes one.
        SendMessageW(form->CB_Preview->GetHandle(), BM_CLICK, 0, 0);
        at90 = ResultSize(form);
        return true;
    });
    s.steps.push_back([&](Script&) {
        HWND bar = form->Mb13->GetHandle();
        SendMessageW(form->TSJPEG->GetHandle(), WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 10), reinterpret_cast<LPARAM>(bar));
        SendMessageW(form->TSJPEG->GetHandle(), WM_HSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), reinterpret_cast<LPARAM>(bar));
        at10 = ResultSize(form);
        TPxBitmap* a = form->Img1->GetPxBitmap();
        TPxBitmap* b = form->Img2->GetPxBitmap();
        if (a && b && a->GetWidth() == b->GetWidth() && a->GetHeight() == b->GetHeight())
            for (int y = 0; y < a->GetHeight(); ++y)
                for (int x = 0; x < a->GetWidth(); ++x) {
                    const TPxRGB p = a->GetPixelRGB(x, y), q = b->GetPixelRGB(x, y);
                    if (std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) > 6)
                        ++differing;
                }
        SendMessageW(form->btnOK->GetHandle(), BM_CLICK, 0, 0);
        return true;
    });
    bool ok = false;
    {
        ScriptRun run(s);
        ok = io.DoPreviews(ppAuto);
    }
    io.SetAttachedPxBitmap(nullptr);
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    EXPECT_TRUE(ok);
    EXPECT_EQ(io.FileParams->JPEGQuality, 10);
    EXPECT_EQ(seen.Calls, 1);
    EXPECT_EQ(seen.Form, form);  // the real form, handed over before it is shown
    EXPECT_EQ(at90, EncodedSize(image.get(), 90));
    EXPECT_EQ(at10, EncodedSize(image.get(), 10));
    EXPECT_LT(at10, at90);
    EXPECT_GT(differing, 64 * 48 / 10);  // the preview is the decoded low-quality image
}

// Cancel after an edit leaves the I/O object's parameters as they were.
TEST_F(DialogTest, ParametersFormCancelLeavesJpegQuality)
{
    auto image = Picture();
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(image.get());
    io.FileParams->FileFormat = ffJPEG;
    io.FileParams->JPEGQuality = 90;
    TfIOPreviews* form = nullptr;
    int shownQuality = -1;
    Script s;
    s.steps.push_back([&](Script&) { return (form = OpenForm()) != nullptr && form->ControlsReady; });
    s.steps.push_back([&](Script&) {
        shownQuality = form->Mb13->GetPosition();
        SetWindowTextW(form->E22->GetHandle(), L"20");
        SendMessageW(form->btnCancel->GetHandle(), BM_CLICK, 0, 0);
        return true;
    });
    bool ok = true;
    {
        ScriptRun run(s);
        ok = io.DoPreviews(ppJPEG);
    }
    io.SetAttachedPxBitmap(nullptr);
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    EXPECT_FALSE(ok);
    EXPECT_EQ(shownQuality, 90);
    EXPECT_EQ(io.FileParams->JPEGQuality, 90);
}

// The tabs stand on top on the platforms whose dialogs have them there (XP,
// Vista, 7) and at the bottom elsewhere; either way the page lies beside the
// tab strip, inside the tab control, never over a tab.
TEST_F(DialogTest, ParametersFormTabsFollowThePlatformAndPagesStayClearOfThem)
{
    auto image = Picture();
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(image.get());
    io.FileParams->FileFormat = ffJPEG;
    TfIOPreviews* form = nullptr;
    bool bottom = false;
    RECT tab{}, page{}, control{};
    Script s;
    s.steps.push_back([&](Script&) { return (form = OpenForm()) != nullptr && form->ControlsReady; });
    s.steps.push_back([&](Script&) {
        bottom = (::GetWindowLongW(form->PgCon->GetHandle(), GWL_STYLE) & TCS_BOTTOM) != 0;
        TabCtrl_GetItemRect(form->PgCon->GetHandle(), 0, &tab);
        ::OffsetRect(&tab, form->PgCon->GetLeft(), form->PgCon->GetTop());
        control = RECT{form->PgCon->GetLeft(), form->PgCon->GetTop(), form->PgCon->GetLeft() + form->PgCon->GetWidth(),
                       form->PgCon->GetTop() + form->PgCon->GetHeight()};
        page = RECT{form->TSJPEG->GetLeft(), form->TSJPEG->GetTop(), form->TSJPEG->GetLeft() + form->TSJPEG->GetWidth(),
                    form->TSJPEG->GetTop() + form->TSJPEG->GetHeight()};
        SendMessageW(form->btnCancel->GetHandle(), BM_CLICK, 0, 0);
        return true;
    });
    {
        ScriptRun run(s);
        io.DoPreviews(ppJPEG | ppTIFF);
    }
    io.SetAttachedPxBitmap(nullptr);
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    const uint8_t version = PxGetWinVersion();
    EXPECT_EQ(bottom, version != 6 && version != 8 && version != 9);
    RECT overlap{};
    EXPECT_FALSE(::IntersectRect(&overlap, &tab, &page)) << "the page covers the first tab";
    EXPECT_GE(page.left, control.left);
    EXPECT_GE(page.top, control.top);
    EXPECT_LE(page.bottom, control.bottom);
    if (bottom)
        EXPECT_LE(page.bottom, tab.top);
    else
        EXPECT_GE(page.top, tab.bottom);
}

int64_t PcxSize(TPxBitmap* Image, int Bits, int Samples)
{
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(Image);
    io.FileParams->BitsPerSample = Bits;
    io.FileParams->SamplesPerPixel = Samples;
    classlib::TMemoryStream m;
    io.SavePCXToStream(&m);
    io.SetAttachedPxBitmap(nullptr);
    return m.GetSize();
}

TEST_F(DialogTest, ParametersFormPcxColoursPreviewedAndCancelWritesNothing)
{
    auto image = Picture();
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(image.get());
    io.FileParams->FileFormat = ffPCX;
    io.FileParams->BitsPerSample = 8;
    io.FileParams->SamplesPerPixel = 3;
    io.PreviewsParams = ioppDefaultLockPreview;
    int64_t full = -1, bw = -1;
    bool bilevel = false;
    int page = -1;
    TfIOPreviews* form = nullptr;
    Script s;
    s.steps.push_back([&](Script&) { return (form = OpenForm()) != nullptr && form->ControlsReady; });
    s.steps.push_back([&](Script&) {
        page = form->GetActivePage() == form->TSPCX ? form->Comb9->GetItemIndex() : -2;
        full = ResultSize(form);
        HWND combo = form->Comb9->GetHandle();
        SendMessageW(combo, CB_SETCURSEL, 0, 0);  // "B/W"
        SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        bw = ResultSize(form);
        // The preview shows the image reduced to two colours.
        TPxBitmap* b = form->Img2->GetPxBitmap();
        bilevel = b && b->GetPixelFormat() == px1g && b->GetWidth() == 64;
        SendMessageW(form->btnCancel->GetHandle(), BM_CLICK, 0, 0);
        return true;
    });
    bool ok = true;
    {
        ScriptRun run(s);
        ok = io.DoPreviews(ppAuto);
    }
    io.SetAttachedPxBitmap(nullptr);
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    EXPECT_FALSE(ok);
    EXPECT_EQ(page, 3);  // "16M" for 3 samples of 8 bits
    EXPECT_EQ(full, PcxSize(image.get(), 8, 3));
    EXPECT_EQ(bw, PcxSize(image.get(), 1, 1));
    EXPECT_TRUE(bilevel);
    EXPECT_EQ(io.FileParams->BitsPerSample, 8);
    EXPECT_EQ(io.FileParams->SamplesPerPixel, 3);
}

// Chooses a list entry as the user would (the list tells its parent).
void Choose(classlib::TComboBox* Combo, int Index)
{
    HWND combo = Combo->GetHandle();
    SendMessageW(combo, CB_SETCURSEL, Index, 0);
    SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

// The size of Image encoded by a TImgIO of its own with the parameters
// Setup gives.
int64_t IndependentSize(TPxBitmap* Image, const std::function<void(TIOParamsVals&)>& Setup,
                        void (TImgIO::*Save)(classlib::TStream*))
{
    TImgIO io(nullptr);
    io.SetBilevelConversion(1);
    io.SetAttachedPxBitmap(Image);
    Setup(*io.FileParams);
    classlib::TMemoryStream m;
    (io.*Save)(&m);
    io.SetAttachedPxBitmap(nullptr);
    return m.GetSize();
}

// Each page: an edit by messages with the live preview on; the size shown
// is that of an independent encode with the edited values; OK writes them.
TEST_F(DialogTest, ParametersFormPagesPreviewAndApplyTheirValues)
{
    auto image = Picture();
    using Act = std::function<void(TfIOPreviews*)>;
    using Params = std::function<void(TIOParamsVals&)>;
    const struct {
        const char* name;
        int format;
        uint16_t page;
        TPxPreviewsPage* TfIOPreviews::*sheet;
        Act act;
        Params encode;
        void (TImgIO::*save)(classlib::TStream*);
        std::function<void(const TIOParamsVals&)> check;
        int colourMap;  // entries of the preview's colour map
        Params setup = nullptr;  // the parameters before the form
        bool grey = false;       // a grey source, previewed in grey levels
    } cases[] = {
        {"TIFF LZW", ffTIFF, ppTIFF, &TfIOPreviews::TSTIFF, [](TfIOPreviews* f) { Choose(f->ComB2, 5); },
         [](TIOParamsVals& p) {
             p.TIFFCompression = 5;
             p.TIFFPhotometric = 2;
         },
         &TImgIO::SaveTIFFToStream,
         [](const TIOParamsVals& p) {
             EXPECT_EQ(p.TIFFCompression, 5);
             EXPECT_EQ(p.TIFFPhotometric, 2);
             EXPECT_EQ(p.SamplesPerPixel, 3);
         },
         0},
        // WHITEISZERO while uncompressed switches to CCITT1D.
        {"TIFF white is zero", ffTIFF, ppTIFF, &TfIOPreviews::TSTIFF, [](TfIOPreviews* f) { Choose(f->ComB3, 0); },
         [](TIOParamsVals& p) {
             p.TIFFCompression = 1;
             p.TIFFPhotometric = 0;
             p.BitsPerSample = 1;
             p.SamplesPerPixel = 1;
         },
         &TImgIO::SaveTIFFToStream,
         [](const TIOParamsVals& p) {
             EXPECT_EQ(p.TIFFCompression, 1);
             EXPECT_EQ(p.TIFFPhotometric, 0);
             EXPECT_EQ(p.BitsPerSample, 1);
         },
         2},
        // 8-bit BLACKISZERO of a colour image: the writer stores a palette
        // image, and the preview shows those 256 colours.
        {"TIFF 8-bit black is zero", ffTIFF, ppTIFF, &TfIOPreviews::TSTIFF, [](TfIOPreviews*) {},
         [](TIOParamsVals& p) {
             p.TIFFPhotometric = 1;
             p.BitsPerSample = 8;
             p.SamplesPerPixel = 1;
         },
         &TImgIO::SaveTIFFToStream, [](const TIOParamsVals& p) { EXPECT_EQ(p.TIFFPhotometric, 1); }, 256,
         [](TIOParamsVals& p) {
             p.TIFFPhotometric = 1;
             p.BitsPerSample = 8;
             p.SamplesPerPixel = 1;
         }},
        // The same of a grey image: stored as grey, previewed in grey levels.
        {"TIFF 8-bit grey", ffTIFF, ppTIFF, &TfIOPreviews::TSTIFF, [](TfIOPreviews*) {},
         [](TIOParamsVals& p) {
             p.TIFFPhotometric = 1;
             p.BitsPerSample = 8;
             p.SamplesPerPixel = 1;
         },
         &TImgIO::SaveTIFFToStream, [](const TIOParamsVals& p) { EXPECT_EQ(p.TIFFPhotometric, 1); }, 0,
         [](TIOParamsVals& p) {
             p.TIFFPhotometric = 1;
             p.BitsPerSample = 8;
             p.SamplesPerPixel = 1;
         },
         true},
        {"GIF black and white", ffGIF, ppGIF, &TfIOPreviews::TSGIF,
         [](TfIOPreviews* f) {
             Choose(f->Comb5, 0);
             SendMessageW(f->CB5->GetHandle(), BM_CLICK, 0, 0);
         },
         [](TIOParamsVals& p) {
             p.BitsPerSample = 1;
             p.SamplesPerPixel = 1;
             p.GIFInterlaced = true;
         },
         &TImgIO::SaveGIFToStream,
         [](const TIOParamsVals& p) {
             EXPECT_EQ(p.BitsPerSample, 1);
             EXPECT_TRUE(p.GIFInterlaced);
         },
         2},
        {"BMP 8 bits RLE", ffBMP, ppBMP, &TfIOPreviews::TSBMP,
         [](TfIOPreviews* f) {
             Choose(f->Comb7, 2);
             Choose(f->Comb6, 1);
         },
         [](TIOParamsVals& p) {
             p.BitsPerSample = 8;
             p.SamplesPerPixel = 1;
             p.BMPCompression = 1;
         },
         &TImgIO::SaveBMPToStream,
         [](const TIOParamsVals& p) {
             EXPECT_EQ(p.BitsPerSample, 8);
             EXPECT_EQ(p.SamplesPerPixel, 1);
             EXPECT_EQ(p.BMPCompression, 1);
             EXPECT_FALSE(p.BMPWriteAlpha);
         },
         256},  // the writer's own palette
        {"BMP 32 bits", ffBMP, ppBMP, &TfIOPreviews::TSBMP, [](TfIOPreviews* f) { Choose(f->Comb7, 4); },
         [](TIOParamsVals& p) { p.BMPWriteAlpha = true; }, &TImgIO::SaveBMPToStream,
         [](const TIOParamsVals& p) {
             EXPECT_EQ(p.SamplesPerPixel, 3);
             EXPECT_TRUE(p.BMPWriteAlpha);
         },
         0},
        {"TGA 256 uncompressed", ffTGA, ppTGA, &TfIOPreviews::TSTGA,
         [](TfIOPreviews* f) {
             Choose(f->Comb14, 1);
             SendMessageW(f->CB1->GetHandle(), BM_CLICK, 0, 0);
         },
         [](TIOParamsVals& p) {
             p.BitsPerSample = 8;
             p.SamplesPerPixel = 1;
             p.TGACompressed = false;
         },
         &TImgIO::SaveTGAToStream,
         [](const TIOParamsVals& p) {
             EXPECT_EQ(p.BitsPerSample, 8);
             EXPECT_EQ(p.SamplesPerPixel, 1);
             EXPECT_FALSE(p.TGACompressed);
         },
         256},
        {"JPEG 2000 rate", ffJ2K, ppJ2000, &TfIOPreviews::TSJ2000,
         [](TfIOPreviews* f) {
             HWND bar = f->Mb1->GetHandle();
             SendMessageW(f->TSJ2000->GetHandle(), WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 250),
                          reinterpret_cast<LPARAM>(bar));
             SendMessageW(f->TSJ2000->GetHandle(), WM_HSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0),
                          reinterpret_cast<LPARAM>(bar));
         },
         [](TIOParamsVals& p) {
             p.J2000Rate = 0.25;
             p.J2000ColorSpace = 1;
         },
         &TImgIO::SaveJ2KToStream,
         [](const TIOParamsVals& p) {
             EXPECT_DOUBLE_EQ(p.J2000Rate, 0.25);
             EXPECT_EQ(p.J2000ColorSpace, 1);
             EXPECT_EQ(p.SamplesPerPixel, 3);
         },
         0},
    };
    auto grey = Picture();
    for (int y = 0; y < grey->GetHeight(); ++y)
        for (int x = 0; x < grey->GetWidth(); ++x) {
            const uint8_t v = static_cast<uint8_t>((x * 3 + y * 2) & 255);
            grey->SetPixelRGB(x, y, TPxRGB{v, v, v});
        }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPxBitmap* source = c.grey ? grey.get() : image.get();
        TImgIO io(nullptr);
        io.SetAttachedPxBitmap(source);
        io.FileParams->FileFormat = c.format;
        io.PreviewsParams = ioppDefaultLockPreview;
        if (c.setup)
            c.setup(*io.FileParams);
        TfIOPreviews* form = nullptr;
        bool onPage = false;
        int64_t shown = -1;
        int colourMap = -1;
        int greyPixels = 0, levels = 0;
        Script s;
        s.steps.push_back([&](Script&) { return (form = OpenForm()) != nullptr && form->ControlsReady; });
        s.steps.push_back([&](Script&) {
            onPage = form->GetActivePage() == form->*c.sheet;
            c.act(form);
            shown = ResultSize(form);
            colourMap = form->PreviewIO->FileParams->ColorMapCount;
            if (TPxBitmap* b = form->Img2->GetPxBitmap()) {
                std::set<int> seen;
                for (int y = 0; y < b->GetHeight(); ++y)
                    for (int x = 0; x < b->GetWidth(); ++x) {
                        const TPxRGB q = b->GetPixelRGB(x, y);
                        greyPixels += q.r == q.g && q.g == q.b;
                        seen.insert(q.r);
                    }
                levels = static_cast<int>(seen.size());
            }
            SendMessageW(form->btnOK->GetHandle(), BM_CLICK, 0, 0);
            return true;
        });
        bool ok = false;
        {
            ScriptRun run(s);
            ok = io.DoPreviews(c.page);
        }
        io.SetAttachedPxBitmap(nullptr);
        EXPECT_TRUE(s.log.empty()) << s.log.front();
        EXPECT_TRUE(ok);
        EXPECT_TRUE(onPage);
        EXPECT_GT(shown, 0);
        EXPECT_EQ(shown, IndependentSize(source, c.encode, c.save));
        EXPECT_EQ(colourMap, c.colourMap);
        if (c.grey) {
            EXPECT_EQ(greyPixels, image->GetWidth() * image->GetHeight());
            EXPECT_GT(levels, 16);
        }
        c.check(*io.FileParams);
    }
}

// The TIFF lists keep compression and photometric compatible: the fax
// codings only with black and white, JPEG only with RGB.
TEST_F(DialogTest, ParametersFormTiffListsFollowEachOther)
{
    TIOParamsVals p(nullptr);
    p.FileFormat = ffTIFF;
    TfIOPreviews form(nullptr);
    form.Params = &p;
    form.SetPages(ppTIFF);
    form.FormActivate(nullptr);
    ASSERT_EQ(form.GetActivePage(), form.TSTIFF);
    const struct {
        int comb2, comb3;  // before
        bool photometricChosen;
        int chosen;
        int wantComb2, wantComb3, wantCompression, wantPhotometric;
    } cases[] = {
        {0, 4, true, 0, 1, 0, 1, 0},   // WHITEISZERO while UNCOMPRESSED: CCITT1D
        {0, 0, false, 6, 6, 4, 7, 2},  // JPEG compression: RGB
        {4, 0, true, 5, 0, 5, 0, 5},   // CMYK while G4FAX: UNCOMPRESSED
        {0, 4, false, 3, 3, 0, 3, 0},  // a fax coding turns RGB into WHITEISZERO
        {6, 4, true, 3, 0, 3, 0, 3},   // a palette drops JPEG compression
        {5, 4, true, 1, 1, 1, 1, 1},   // BLACKISZERO moves LZW to CCITT1D
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.comb2 << "," << c.comb3 << " -> " << c.chosen);
        form.ComB2->SetItemIndex(c.comb2);
        form.ComB3->SetItemIndex(c.comb3);
        classlib::TComboBox* chosen = c.photometricChosen ? form.ComB3 : form.ComB2;
        chosen->SetItemIndex(c.chosen);
        form.ComboBox2Click(chosen);
        EXPECT_EQ(form.ComB2->GetItemIndex(), c.wantComb2);
        EXPECT_EQ(form.ComB3->GetItemIndex(), c.wantComb3);
        EXPECT_EQ(form.Working.TiffCompression, c.wantCompression);
        EXPECT_EQ(form.Working.TiffPhotometric, c.wantPhotometric);
    }
}

// What a page proposes for parameters of another format, and the DPI edits
// by DpiEditable.
TEST_F(DialogTest, ParametersFormPagesProposeFromOtherFormats)
{
    {
        // A CMYK JPEG proposes CMYK on the TIFF page.
        TIOParamsVals p(nullptr);
        p.FileFormat = ffJPEG;
        p.SamplesPerPixel = 4;
        p.JPEGColorSpace = 3;
        TfIOPreviews form(nullptr);
        form.Params = &p;
        form.SetPages(ppTIFF);
        form.FormActivate(nullptr);
        EXPECT_EQ(form.ComB3->GetItemIndex(), 5);
        EXPECT_EQ(form.Working.TiffPhotometric, 5);
        EXPECT_EQ(form.ComB2->GetItemIndex(), 0);
    }
    {
        // A CMYK TIFF proposes CMYK on the JPEG page.
        TIOParamsVals p(nullptr);
        p.FileFormat = ffTIFF;
        p.TIFFPhotometric = 5;
        p.JPEGColorSpace = 2;
        TfIOPreviews form(nullptr);
        form.Params = &p;
        form.SetPages(ppJPEG);
        form.FormActivate(nullptr);
        EXPECT_EQ(form.ComB13->GetItemIndex(), 3);
    }
    {
        // A 256-colour palette image on the TIFF page.
        TIOParamsVals p(nullptr);
        p.FileFormat = ffPNG;
        p.BitsPerSample = 8;
        p.SamplesPerPixel = 1;
        TfIOPreviews form(nullptr);
        form.Params = &p;
        form.SetPages(ppTIFF);
        form.FormActivate(nullptr);
        EXPECT_EQ(form.ComB3->GetItemIndex(), 3);
        form.btnOKClick(nullptr);
        EXPECT_EQ(p.TIFFPhotometric, 3);
        EXPECT_EQ(p.BitsPerSample, 8);
    }
    for (const bool editable : {false, true}) {
        SCOPED_TRACE(editable);
        TIOParamsVals p(nullptr);
        p.FileFormat = ffBMP;
        p.DpiEditable = editable;
        p.SetDpiX(150);
        p.SetDpiY(150);
        TfIOPreviews form(nullptr);
        form.Params = &p;
        form.Img1->GetPxBitmap()->Assign(Picture().get());  // without an image the DPI edits show 0
        form.SetPages(ppBMP);
        form.FormActivate(nullptr);
        EXPECT_EQ(form.E_BMP_DPIX->GetEnabled(), editable);
        EXPECT_EQ(form.E_BMP_DPIX->GetText(), editable ? L"150" : L"");
        form.E_BMP_DPIX->SetText(L"72");
        form.Comb6Change(form.E_BMP_DPIX);
        form.btnOKClick(nullptr);
        EXPECT_EQ(p.DpiX, editable ? 72 : 150);
        EXPECT_EQ(p.DpiY, 150);
    }
}

// The JPEG 2000 rate typed: held within the scroll bar's range; text that
// is no number is 1000 (a rate of 1).
TEST_F(DialogTest, ParametersFormJpeg2000RateTyped)
{
    TIOParamsVals p(nullptr);
    p.FileFormat = ffJ2K;
    p.J2000Rate = 0.5;
    TfIOPreviews form(nullptr);
    form.Params = &p;
    form.SetPages(ppJ2000);
    form.FormActivate(nullptr);
    EXPECT_EQ(form.E15->GetText(), L"500");
    EXPECT_EQ(form.Mb1->GetPosition(), 500);
    const struct {
        const wchar_t* typed;
        int position;
        double rate;
    } cases[] = {{L"250", 250, 0.25}, {L"1500", 1000, 1.0}, {L"x", 1000, 1.0}, {L"0", 0, 0.0}};
    for (const auto& c : cases) {
        form.E15->SetText(c.typed);
        form.E15Change(form.E15);
        EXPECT_EQ(form.Mb1->GetPosition(), c.position) << c.typed;
        form.btnOKClick(nullptr);
        EXPECT_DOUBLE_EQ(p.J2000Rate, c.rate) << c.typed;
    }
}

// Apply writes the page and stays; a page change reloads the parameters,
// dropping what was not applied; Cancel keeps what Apply wrote.
TEST_F(DialogTest, ParametersFormApplyPageChangeAndCancel)
{
    auto image = Picture();
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(image.get());
    io.FileParams->FileFormat = ffBMP;
    io.PreviewsParams = ioppApplyButton;
    TfIOPreviews* form = nullptr;
    int bitsAfterApply = -1, shownAfterReturn = -1;
    bool applyEnabledAfterApply = true;
    Script s;
    s.steps.push_back([&](Script&) { return (form = OpenForm()) != nullptr && form->ControlsReady; });
    s.steps.push_back([&](Script&) {
        Choose(form->Comb7, 2);  // 8 bits
        SendMessageW(form->Button4->GetHandle(), BM_CLICK, 0, 0);
        bitsAfterApply = io.FileParams->BitsPerSample;
        applyEnabledAfterApply = form->Button4->GetEnabled();
        Choose(form->Comb7, 0);  // 1 bit, not applied
        form->PgConChanging(form->PgCon);
        form->PgCon->SetTabIndex(1);  // TGA
        form->PgConChange(form->PgCon);
        form->PgConChanging(form->PgCon);
        form->PgCon->SetTabIndex(0);  // back to BMP
        form->PgConChange(form->PgCon);
        shownAfterReturn = form->Comb7->GetItemIndex();
        Choose(form->Comb7, 0);
        SendMessageW(form->btnCancel->GetHandle(), BM_CLICK, 0, 0);
        return true;
    });
    bool ok = true;
    {
        ScriptRun run(s);
        ok = io.DoPreviews(ppBMP | ppTGA);
    }
    io.SetAttachedPxBitmap(nullptr);
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    EXPECT_FALSE(ok);
    EXPECT_EQ(bitsAfterApply, 8);
    EXPECT_FALSE(applyEnabledAfterApply);
    EXPECT_EQ(shownAfterReturn, 2);
    EXPECT_EQ(io.FileParams->BitsPerSample, 8);
    EXPECT_EQ(io.FileParams->SamplesPerPixel, 1);
}

// The palette dialog shown now, if any.
TImgPaletteDialog* OpenPalette()
{
    for (int i = 0; i < classlib::Screen->GetFormCount(); ++i)
        if (auto* f = dynamic_cast<TImgPaletteDialog*>(classlib::Screen->GetForms(i)); f && f->HandleAllocated() &&
                                                                                       IsWindowVisible(f->GetHandle()))
            return f;
    return nullptr;
}

// A black-and-white GIF: the transparent-colour swatch offers the two
// colours of the preview's palette, and the one clicked is applied.
TEST_F(DialogTest, ParametersFormGifSwatchOffersThePreviewPalette)
{
    auto image = Picture();
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(image.get());
    io.FileParams->FileFormat = ffGIF;
    TfIOPreviews* form = nullptr;
    TImgPaletteDialog* palette = nullptr;
    bool second = false, third = true;
    TPxRGB offered{1, 2, 3};
    Script s;
    s.steps.push_back([&](Script&) { return (form = OpenForm()) != nullptr && form->ControlsReady; });
    s.steps.push_back([&](Script&) {
        Choose(form->Comb5, 0);  // B/W, no live preview yet
        SendMessageW(form->CB4->GetHandle(), BM_CLICK, 0, 0);
        PostMessageW(form->P3->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageW(form->P3->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        return true;
    });
    s.steps.push_back([&](Script&) {
        if (!(palette = OpenPalette()))
            return false;
        const RECT r1 = TImgPaletteDialog::CellRect(1), r2 = TImgPaletteDialog::CellRect(2);
        second = palette->CellAt((r1.left + r1.right) / 2, (r1.top + r1.bottom) / 2) == 1;
        third = palette->CellAt((r2.left + r2.right) / 2, (r2.top + r2.bottom) / 2) >= 0;
        offered = form->PreviewIO->FileParams->ColorMap[1];
        const LPARAM at = MAKELPARAM((r1.left + r1.right) / 2, (r1.top + r1.bottom) / 2);
        PostMessageW(palette->GetHandle(), WM_MOUSEMOVE, 0, at);
        PostMessageW(palette->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(palette->GetHandle(), WM_LBUTTONUP, 0, at);
        return true;
    });
    s.steps.push_back([&](Script&) {
        if (OpenPalette())
            return false;
        SendMessageW(form->btnOK->GetHandle(), BM_CLICK, 0, 0);
        return true;
    });
    bool ok = false;
    {
        ScriptRun run(s);
        ok = io.DoPreviews(ppGIF);
    }
    io.SetAttachedPxBitmap(nullptr);
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    EXPECT_TRUE(ok);
    EXPECT_TRUE(second);
    EXPECT_FALSE(third);  // two colours only
    EXPECT_TRUE(io.FileParams->GIFTransparent);
    EXPECT_EQ(io.FileParams->BitsPerSample, 1);
    const TPxRGB got = io.FileParams->GIFTransparentColor;
    EXPECT_EQ(std::make_tuple(got.r, got.g, got.b), std::make_tuple(offered.r, offered.g, offered.b));
}

TEST_F(DialogTest, ParametersFormPagesFollowTheFileFormat)
{
    TIOParamsVals p(nullptr);
    TfIOPreviews form(nullptr);
    form.Params = &p;
    const struct {
        int format;
        uint16_t pages;
        bool shown;
    } cases[] = {{ffPSD, ppAuto, false}, {ffJPEG, ppAuto, true}, {ffPNG, ppAuto, true}, {ffPSD, 0, true}};
    for (const auto& c : cases) {
        p.FileFormat = c.format;
        EXPECT_EQ(form.SetPages(c.pages), c.shown) << c.format;
    }
}

TEST_F(DialogTest, SaveDialogFollowsTheTypedExtensionOpensTheFormAndRestoresOnCancel)
{
    auto image = Picture();
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(image.get());
    io.FileParams->JPEGQuality = 77;
    TSaveImgDialog dlg(nullptr);
    dlg.SetAttachedImgIO(&io);
    dlg.SetInitialDir(testsupport::FixtureDir(L"io"));
    dlg.SetFileName(L"keep");
    int formatSeen = -1;
    bool advancedEnabled = false;
    bool formShown = false;
    int qualityAfterForm = -1;
    Script s;
    s.steps.push_back([&](Script&) { return dlg.GetDialogWindow() != nullptr; });
    s.steps.push_back([&](Script&) {
        TypeName(dlg, L"picture.png");
        return true;
    });
    // The poll follows the name.
    s.steps.push_back([&](Script&) { return io.FileParams->FileFormat == ffPNG; });
    s.steps.push_back([&](Script&) {
        formatSeen = io.FileParams->FileFormat;
        advancedEnabled = dlg.AdvancedButton->GetEnabled();
        TypeName(dlg, L"picture.jpg");
        return true;
    });
    s.steps.push_back([&](Script&) { return io.FileParams->FileFormat == ffJPEG; });
    s.steps.push_back([&](Script& S) {
        ++S.i;
        S.busy = false;
        SendMessageW(dlg.AdvancedButton->GetHandle(), BM_CLICK, 0, 0);  // runs the form's loop
        return false;
    });
    s.steps.push_back([&](Script&) {
        TfIOPreviews* form = OpenForm();
        if (!form || !form->ControlsReady)
            return false;
        formShown = form->GetActivePage() == form->TSJPEG;
        form->Mb13->SetPosition(20);
        SendMessageW(form->btnOK->GetHandle(), BM_CLICK, 0, 0);
        return true;
    });
    s.steps.push_back([&](Script&) {
        if (OpenForm())
            return false;
        qualityAfterForm = io.FileParams->JPEGQuality;
        PostMessageW(GetParent(dlg.GetDialogWindow()), WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    bool ok = true;
    {
        ScriptRun run(s);
        ok = dlg.Execute();
    }
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    EXPECT_FALSE(ok);
    EXPECT_EQ(formatSeen, ffPNG);
    EXPECT_TRUE(advancedEnabled);
    EXPECT_TRUE(formShown);
    EXPECT_EQ(qualityAfterForm, 20);  // the form edited the attached parameters
    // Cancelled: the parameters as before Execute, the name untouched.
    EXPECT_EQ(io.FileParams->JPEGQuality, 77);
    EXPECT_EQ(dlg.GetFileName(), L"keep");
    // The poll ended with the dialog.
    io.FileParams->FileFormat = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (std::chrono::steady_clock::now() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
    EXPECT_EQ(io.FileParams->FileFormat, 0);
    EXPECT_FALSE(dlg.PollTimer->GetEnabled());
    io.SetAttachedPxBitmap(nullptr);
}

TEST_F(DialogTest, SaveDialogTypeChangeReplacesTheExtension)
{
    auto image = Picture();
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(image.get());
    TSaveImgDialog dlg(nullptr);
    dlg.SetAttachedImgIO(&io);
    dlg.SetAttachedImgIO(nullptr);  // ignored
    ASSERT_EQ(dlg.GetAttachedImgIO(), &io);
    testsupport::TempDir dir;
    dlg.SetInitialDir(dir.Path());
    dlg.ExOptions = 0;
    // The dialog opens on the JPEG entry; the script picks the TIFF entry.
    dlg.Filter = dlg.BuildFilter();
    int tiffIndex = 0, jpegIndex = 0;
    for (int i = 1;; ++i) {
        const std::wstring patterns = dlg.PatternsOfIndex(i);
        if (patterns.empty()) break;
        if (patterns.compare(0, 5, L"*.tif") == 0) tiffIndex = i;
        if (patterns.compare(0, 5, L"*.jpg") == 0) jpegIndex = i;
    }
    ASSERT_GT(tiffIndex, 0);
    ASSERT_GT(jpegIndex, 0);
    dlg.SetFilterIndex(jpegIndex);
    Script s;
    s.steps.push_back([&](Script&) { return dlg.GetDialogWindow() != nullptr; });
    s.steps.push_back([&](Script&) {
        HWND frame = GetParent(dlg.GetDialogWindow());
        TypeName(dlg, L"photo.old.jpg");
        // The file-type box of the system dialog (cmb1) chooses the entry.
        HWND types = GetDlgItem(frame, 0x470);
        SendMessageW(types, CB_SETCURSEL, static_cast<WPARAM>(tiffIndex - 1), 0);
        SendMessageW(frame, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELCHANGE), reinterpret_cast<LPARAM>(types));
        SendMessageW(frame, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELENDOK), reinterpret_cast<LPARAM>(types));
        return true;
    });
    s.steps.push_back([&](Script&) {
        PostMessageW(GetParent(dlg.GetDialogWindow()), WM_COMMAND, IDOK, 0);
        return true;
    });
    bool ok = false;
    {
        ScriptRun run(s);
        ok = dlg.Execute();
    }
    io.SetAttachedPxBitmap(nullptr);
    EXPECT_TRUE(s.log.empty()) << s.log.front();
    ASSERT_TRUE(ok);
    EXPECT_EQ(PxExtractFileNameWS(dlg.GetFileName()), L"photo.tif");
    EXPECT_EQ(dlg.TemplateName, L"IDD_IETEMPLATE1");
    EXPECT_FALSE(dlg.AdvancedButton->GetVisible());
}

TEST_F(DialogTest, SaveDialogWithoutAttachmentRaises)
{
    TSaveImgDialog dlg(nullptr);
    EXPECT_THROW(dlg.Execute(), classlib::EInOutError);
    {
        TImgIO io(nullptr);
        dlg.SetAttachedImgIO(&io);
        EXPECT_EQ(dlg.GetAttachedImgIO(), &io);
    }
    EXPECT_EQ(dlg.GetAttachedImgIO(), nullptr);  // removal followed
    EXPECT_THROW(dlg.Execute(), classlib::EInOutError);
    // The I/O objects give the dialog their message language.
    TImgIO io(nullptr);
    TImgMIO mio(nullptr);
    for (TMsgLanguage language : {msEnglish, msSystem}) {
        dlg.MsgLanguage = language == msEnglish ? msSystem : msEnglish;
        io.MsgLanguage = mio.MsgLanguage = language;
        dlg.SetAttachedImgIO(&io);
        EXPECT_EQ(dlg.MsgLanguage, language);
        dlg.MsgLanguage = language == msEnglish ? msSystem : msEnglish;
        dlg.SetAttachedImgIO(&mio);
        EXPECT_EQ(dlg.MsgLanguage, language);
    }
}

}  // namespace
