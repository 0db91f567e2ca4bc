// Program entry: registers the libraries' start-ups, initialises the
// application (which starts them in order), creates the windows (the main
// window first, so it becomes the main form), runs the message loop until
// the main window closes, then frees the windows and shuts the libraries
// down in the reverse order.
#include <windows.h>

#include <commctrl.h>

#include "app/untMain.h"
#include "classlib/Forms.h"
#include "classlib/Startup.h"
#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShWorkItems.h"
#include "controls/themed/TmCommon.h"
#include "gif/GIFImage.h"
#include "imaging/model/PxStartup.h"

#if __has_include("app/untOptions.h")
#include "app/untOptions.h"
#define VELMO_HAS_OPTIONS 1
#endif
#if __has_include("app/untAbout.h")
#include "app/untAbout.h"
#define VELMO_HAS_ABOUT 1
#endif
#if __has_include("app/untTranslate.h")
#include "app/untTranslate.h"
#define VELMO_HAS_TRANSLATE 1
#endif
#if __has_include("app/untScreen.h")
#include "app/untScreen.h"
#define VELMO_HAS_SCREEN 1
#endif
#if __has_include("app/untPreView.h")
#include "app/untPreView.h"
#define VELMO_HAS_PREVIEW 1
#endif

namespace {

// The image toolkit (model, I/O, processing, views) starts first and stops
// last; the shell controls, the themed controls and the GIF class follow
// with the order keys their units registered.
constexpr int kToolkitOrder = 100;

void RegisterUnits()
{
    classlib::RegisterUnit(L"toolkit", kToolkitOrder, &imaging::PxInitialize, &imaging::PxFinalize);
    shell::RegisterShellUnit();
    shell::RegisterShellWorkUnit();
    themed::RegisterThemedUnit();
    gif::RegisterGIFUnit();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    RegisterUnits();

    classlib::TApplication* app = classlib::Application;
    int code = 0;
    try {
        app->Initialize();
        app->Title = L"Velmo Morvane";
        app->CreateForm<album::TfrmMain>(&album::frmMain);
#ifdef VELMO_HAS_OPTIONS
        app->CreateForm<album::TfrmOptions>(&album::frmOptions);
#endif
#ifdef VELMO_HAS_ABOUT
        app->CreateForm<album::TfrmAbout>(&album::frmAbout);
#endif
#ifdef VELMO_HAS_TRANSLATE
        app->CreateForm<album::TfrmTranslate>(&album::frmTranslate);
#endif
#ifdef VELMO_HAS_SCREEN
        app->CreateForm<album::TfrmScreen>(&album::frmScreen);
#endif
#ifdef VELMO_HAS_PREVIEW
        app->CreateForm<album::TfrmPreview>(&album::frmPreview);
#endif
        app->Run();
    } catch (const classlib::Exception& e) {
        ::MessageBoxW(nullptr, e.Message().c_str(), album::kMessageCaption, MB_OK | MB_ICONERROR);
        code = 1;
    }
    app->Finalize();
    return code;
}
