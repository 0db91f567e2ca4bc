// Program entry: registers the libraries' start-ups, initialises the
// application (which starts them in order), creates the windows (the main
// window first, so it becomes the main form), runs the message loop until
// the main window closes, then frees the windows and shuts the libraries
// down in the reverse order.
#include <windows.h>

#include <commctrl.h>

#include "app/ProgramStart.h"
#include "app/untAbout.h"
#include "app/untMain.h"
#include "app/untOptions.h"
#include "app/untPreView.h"
#include "app/untScreen.h"
#include "app/untTranslate.h"
#include "classlib/Forms.h"
#include "classlib/Startup.h"
#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShWorkItems.h"
#include "controls/themed/TmCommon.h"
#include "controls/toolbar/MbToolbar.h"
#include "gif/GIFImage.h"
#include "imaging/model/PxStartup.h"

namespace {

// The image toolkit (model, I/O, processing, views) starts first and stops
// last; the shell controls, the themed controls, the GIF class and the
// toolbar follow with the order keys their units registered.
constexpr int kToolkitOrder = 100;

void RegisterUnits()
{
    album::InstallImageFormats();  // before the toolkit's start-up
    classlib::RegisterUnit(L"toolkit", kToolkitOrder, &imaging::PxInitialize, &imaging::PxFinalize);
    shell::RegisterShellUnit();
    shell::RegisterShellWorkUnit();
    themed::RegisterThemedUnit();
    gif::RegisterGIFUnit();
    toolbar::RegisterToolbarUnit();
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
        app->CreateForm<album::TfrmOptions>(&album::frmOptions);
        app->CreateForm<album::TfrmAbout>(&album::frmAbout);
        app->CreateForm<album::TfrmTranslate>(&album::frmTranslate);
        app->CreateForm<album::TfrmScreen>(&album::frmScreen);
        app->CreateForm<album::TfrmPreview>(&album::frmPreview);
        app->Run();
    } catch (const classlib::Exception& e) {
        ::MessageBoxW(nullptr, e.Message().c_str(), album::kMessageCaption, MB_OK | MB_ICONERROR);
        code = 1;
    }
    app->Finalize();
    return code;
}
