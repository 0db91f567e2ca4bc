#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "classlib/Forms.h"
#include "classlib/Startup.h"
#include "classlib/Threads.h"
#include "support/AppScope.h"
#include "support/HostWindow.h"

using namespace classlib;

namespace {

using testsupport::TAppScope;

// Forms of the tests have no frame: without a window manager, hiding a
// captioned (managed) window costs seconds under this display.
template <class F>
F& Frameless(F& form)
{
    form.SetBorderStyle(bsNone);
    return form;
}

using testsupport::PumpMessages;

// Counts its destructions; clicks (left press and release) set the form's
// ModalResult like a dialog button.
class TModalButton : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    TModalResult Result = mrOk;

protected:
    void Click() override
    {
        TCustomControl::Click();
        if (TCustomForm* f = GetParentForm(this)) f->SetModalResult(Result);
    }
};

class TCountedForm : public TForm {
public:
    TCountedForm(TComponent* owner, int* deaths) : TForm(owner), deaths_(deaths) {}
    ~TCountedForm() override { ++*deaths_; }

private:
    int* deaths_;
};

struct TCloseLog {
    bool AllowClose = true;
    TCloseAction Action = caHide;
    int Queries = 0, Closes = 0, Shows = 0, Hides = 0;
    void Query(TObject*, bool& can)
    {
        ++Queries;
        can = AllowClose;
    }
    void Close(TObject*, TCloseAction& a)
    {
        ++Closes;
        EXPECT_EQ(a, caHide);  // the default offered to the handler
        a = Action;
    }
    void Show(TObject*) { ++Shows; }
    void Hide(TObject*) { ++Hides; }
    void Watch(TCustomForm& f)
    {
        f.OnCloseQuery = TCloseQueryEvent(this, &TCloseLog::Query);
        f.OnClose = TCloseEvent(this, &TCloseLog::Close);
        f.OnShow = TNotifyEvent(this, &TCloseLog::Show);
        f.OnHide = TNotifyEvent(this, &TCloseLog::Hide);
    }
};

}  // namespace

TEST(Forms, ShowAndCloseFollowCloseQueryAndCloseAction)
{
    int deaths = 0;
    auto* form = new TCountedForm(nullptr, &deaths);
    Frameless(*form);
    TCloseLog log;
    log.Watch(*form);
    form->SetCaption(L"Close test");
    form->SetVisible(true);  // shown without activation
    HWND wnd = form->GetHandle();
    EXPECT_TRUE(::IsWindowVisible(wnd));
    EXPECT_EQ(log.Shows, 1);
    wchar_t text[64] = {};
    ::GetWindowTextW(wnd, text, 64);
    EXPECT_STREQ(text, L"Close test");

    // Vetoed: nothing happens, OnClose is not asked.
    log.AllowClose = false;
    ::SendMessageW(wnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(log.Queries, 1);
    EXPECT_EQ(log.Closes, 0);
    EXPECT_TRUE(::IsWindowVisible(wnd));

    // caNone keeps the form; caHide hides it but keeps the window.
    log.AllowClose = true;
    log.Action = caNone;
    form->Close();
    EXPECT_TRUE(::IsWindowVisible(wnd));
    log.Action = caHide;
    form->Close();
    EXPECT_FALSE(::IsWindowVisible(wnd));
    EXPECT_TRUE(::IsWindow(wnd));
    EXPECT_EQ(log.Hides, 1);
    EXPECT_EQ(deaths, 0);

    // caFree: the form goes once the message loop runs, not inside Close.
    form->SetVisible(true);
    log.Action = caFree;
    form->Close();
    EXPECT_EQ(deaths, 0);
    PumpMessages();
    EXPECT_EQ(deaths, 1);
    EXPECT_FALSE(::IsWindow(wnd));
}

TEST(Forms, ScreenListsFormsAndResolvesCursors)
{
    const int before = Screen->GetFormCount();
    {
        TForm a(nullptr);
        auto b = std::make_unique<TForm>(nullptr);
        ASSERT_EQ(Screen->GetFormCount(), before + 2);
        EXPECT_EQ(Screen->GetForms(before), &a);
        EXPECT_EQ(Screen->GetForms(before + 1), b.get());
        b.reset();
        EXPECT_EQ(Screen->GetFormCount(), before + 1);
        EXPECT_THROW(Screen->GetForms(before + 1), EListError);
    }
    EXPECT_EQ(Screen->GetFormCount(), before);
    EXPECT_GT(Screen->GetWidth(), 0);
    EXPECT_GT(Screen->GetHeight(), 0);

    // The screen cursor wins over the control's own; crDefault gives it back.
    TForm form(nullptr);
    Frameless(form).SetCursor(crHandPoint);
    form.SetVisible(true);
    HWND wnd = form.GetHandle();
    auto cursorAfterSetCursor = [&] {
        ::SendMessageW(wnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return ::GetCursor();
    };
    EXPECT_EQ(cursorAfterSetCursor(), ::LoadCursorW(nullptr, IDC_HAND));
    Screen->SetCursor(crHourGlass);
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_WAIT));
    EXPECT_EQ(cursorAfterSetCursor(), ::LoadCursorW(nullptr, IDC_WAIT));
    Screen->SetCursor(crDefault);
    EXPECT_EQ(cursorAfterSetCursor(), ::LoadCursorW(nullptr, IDC_HAND));
}

namespace {

// Runs inside the modal loop: the first close is vetoed (the loop goes on
// and the result is cleared) and a second click is posted.
struct TVetoOnce {
    HWND Button = nullptr;
    HWND Other = nullptr;
    int Queries = 0;
    bool OtherWasDisabled = false;
    void Query(TObject* sender, bool& can)
    {
        ++Queries;
        OtherWasDisabled = !::IsWindowEnabled(Other);
        EXPECT_EQ(static_cast<TCustomForm*>(sender)->GetModalResult(), mrOk);
        can = Queries > 1;
        if (!can) {
            ::PostMessageW(Button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
            ::PostMessageW(Button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        }
    }
};

TCustomForm* timerTarget = nullptr;

void CALLBACK CloseTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    ::KillTimer(nullptr, id);
    ::PostMessageW(timerTarget->GetHandle(), WM_CLOSE, 0, 0);
}

}  // namespace

TEST(Forms, ShowModalReturnsTheResultThatEndsItsLoop)
{
    TAppScope scope;
    // Another visible window of the program is disabled while the modal
    // form runs. (It never takes the activation: under this display an
    // activated window costs seconds when it goes.)
    HWND other = ::CreateWindowExW(WS_EX_NOACTIVATE, L"STATIC", L"other", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                   nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    ::ShowWindow(other, SW_SHOWNOACTIVATE);

    TForm dialog(nullptr);
    Frameless(dialog);
    dialog.SetBounds(10, 10, 200, 150);
    int closes = 0;
    dialog.OnClose = TCloseEvent::FromFunction([](void* c, TObject*, TCloseAction&) { ++*static_cast<int*>(c); },
                                               &closes);
    auto* button = new TModalButton(&dialog);
    button->SetParent(&dialog);
    button->SetBounds(10, 10, 60, 25);

    TVetoOnce veto;
    veto.Button = button->GetHandle();
    veto.Other = other;
    dialog.OnCloseQuery = TCloseQueryEvent(&veto, &TVetoOnce::Query);
    ::PostMessageW(veto.Button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ::PostMessageW(veto.Button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_EQ(veto.Queries, 2);
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(veto.OtherWasDisabled);
    EXPECT_TRUE(::IsWindowEnabled(other));
    EXPECT_FALSE(::IsWindowVisible(dialog.GetHandle()));
    EXPECT_FALSE(dialog.Modal());

    ::DestroyWindow(other);
}

TEST(Forms, ShowModalEndsWithCancelWhenClosedAndRefusesAVisibleForm)
{
    TAppScope scope;
    // (A fresh form: showing one form modally twice costs seconds under
    // this display.) A timer posts WM_CLOSE; Close on a modal form means
    // mrCancel.
    TForm dialog(nullptr);
    Frameless(dialog);
    int closes = 0;
    dialog.OnClose = TCloseEvent::FromFunction([](void* c, TObject*, TCloseAction&) { ++*static_cast<int*>(c); },
                                               &closes);
    timerTarget = &dialog;
    ASSERT_NE(::SetTimer(nullptr, 0, 20, &CloseTimer), 0u);
    EXPECT_EQ(dialog.ShowModal(), mrCancel);
    EXPECT_EQ(closes, 1);

    TForm shown(nullptr);
    Frameless(shown).SetVisible(true);
    EXPECT_THROW(shown.ShowModal(), EInvalidOperation);
    EXPECT_FALSE(shown.Modal());
}

TEST(Forms, ModalLoopAndProcessMessagesServeSynchronizedCalls)
{
    TAppScope scope;
    // ProcessMessages runs a worker's Synchronize on the main thread.
    DWORD ranOn = 0;
    std::thread worker([&] { TThread::Synchronize(nullptr, std::function<void()>([&] { ranOn = ::GetCurrentThreadId(); })); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ranOn == 0 && std::chrono::steady_clock::now() < deadline) {
        scope.app.ProcessMessages();
        ::Sleep(1);
    }
    worker.join();
    EXPECT_EQ(ranOn, ::GetCurrentThreadId());

    // The modal loop waits for messages and synchronised calls alike: a
    // worker ends the dialog through Synchronize.
    TForm dialog(nullptr);
    Frameless(dialog);
    std::thread closer([&] {
        ::Sleep(20);
        TThread::Synchronize(nullptr, std::function<void()>([&] { dialog.SetModalResult(mrYes); }));
    });
    TModalResult r = dialog.ShowModal();
    closer.join();
    EXPECT_EQ(r, mrYes);
}

namespace {

// What the first form's OnCreate saw.
struct TCreateSeen {
    TForm** Ref = nullptr;
    TApplication* App = nullptr;
    bool RefSet = false;
    bool MainUnset = false;
} createSeen;

class TFirstForm : public TForm {
public:
    explicit TFirstForm(TComponent* owner) : TForm(owner)
    {
        OnCreate = TNotifyEvent::FromFunction(
            [](void*, TObject* sender) {
                createSeen.RefSet = *createSeen.Ref == sender;
                createSeen.MainUnset = createSeen.App->GetMainForm() == nullptr;
            },
            nullptr);
    }
};

}  // namespace

TEST(Forms, RunEndsWhenTheMainFormCloses)
{
    TAppScope scope;
    TApplication& app = scope.app;
    TFirstForm* first = nullptr;
    TForm* second = nullptr;
    createSeen.Ref = reinterpret_cast<TForm**>(&first);
    createSeen.App = &app;
    // The reference is set before OnCreate; the first form becomes the main
    // form once it is made.
    app.CreateForm<TFirstForm>(&first);
    app.CreateForm<TForm>(&second);
    Frameless(*first);
    EXPECT_TRUE(createSeen.RefSet);
    EXPECT_TRUE(createSeen.MainUnset);
    EXPECT_EQ(app.GetMainForm(), first);
    EXPECT_EQ(second->GetOwner(), &app);

    int secondCloses = 0;
    second->OnClose = TCloseEvent::FromFunction([](void* c, TObject*, TCloseAction&) { ++*static_cast<int*>(c); },
                                                &secondCloses);
    int firstShows = 0;
    first->OnShow = TNotifyEvent::FromFunction([](void* c, TObject*) { ++*static_cast<int*>(c); }, &firstShows);
    ::PostMessageW(first->GetHandle(), WM_CLOSE, 0, 0);
    app.Run();
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(firstShows, 1);  // Run showed it
    EXPECT_EQ(secondCloses, 0);
    EXPECT_EQ(app.GetMainForm(), first);  // it lives until the application goes
}

std::vector<std::wstring> unitTrace;

TEST(Forms, InitializeStartsTheLibrariesAndFinalizeFreesFormsThenShutsDownInReverse)
{
    TAppScope scope;
    TApplication& app = scope.app;
    unitTrace.clear();
    // Registered out of order: the order keys decide.
    RegisterUnit(L"late", 9001, [] { unitTrace.push_back(L"start late"); }, [] { unitTrace.push_back(L"stop late"); });
    RegisterUnit(L"early", 9000, [] { unitTrace.push_back(L"start early"); },
                 [] { unitTrace.push_back(L"stop early"); });
    AddInitProc([] { unitTrace.push_back(L"hook"); });
    app.Initialize();
    app.Initialize();  // only the first call starts anything
    EXPECT_TRUE(app.Initialized());
    EXPECT_EQ(unitTrace, (std::vector<std::wstring>{L"start early", L"start late", L"hook"}));

    TForm* form = nullptr;
    app.CreateForm<TForm>(&form);
    form->OnDestroy = TNotifyEvent::FromFunction([](void*, TObject*) { unitTrace.push_back(L"form freed"); }, nullptr);
    unitTrace.clear();
    app.Finalize();
    EXPECT_FALSE(app.Initialized());
    EXPECT_EQ(app.GetMainForm(), nullptr);
    EXPECT_EQ(app.GetComponentCount(), 0);
    // The forms go while the libraries still run.
    EXPECT_EQ(unitTrace, (std::vector<std::wstring>{L"form freed", L"stop late", L"stop early"}));
}

TEST(Forms, KeyPreviewLetsTheFormSeeKeysFirst)
{
    struct TKeyLog {
        std::vector<std::wstring> Entries;
        bool FormEats = false;
        wchar_t FormReplaces = 0;
        TObject* Form = nullptr;
        void Down(TObject* s, WORD& key, TShiftState)
        {
            Entries.push_back((s == Form ? L"form down " : L"child down ") + std::to_wstring(key));
            if (s == Form && FormEats) key = 0;
        }
        void Press(TObject* s, wchar_t& key)
        {
            Entries.push_back((s == Form ? L"form char " : L"child char ") + std::wstring(1, key));
            if (s == Form && FormReplaces) key = FormReplaces;
        }
    };
    struct TCase {
        bool Preview, Eats;
        wchar_t Replace;
        std::vector<std::wstring> Expected;
    };
    const TCase cases[] = {
        {false, false, 0, {L"child down 65", L"child char a"}},
        {true, false, 0, {L"form down 65", L"child down 65", L"form char a", L"child char a"}},
        {true, true, L'b', {L"form down 65", L"form char a", L"child char b"}},
    };
    for (const TCase& c : cases) {
        TForm form(nullptr);
        Frameless(form).KeyPreview = c.Preview;
        auto* child = new TCustomControl(&form);
        child->SetParent(&form);
        child->SetBounds(0, 0, 50, 20);
        TKeyLog log;
        log.Form = &form;
        log.FormEats = c.Eats;
        log.FormReplaces = c.Replace;
        form.OnKeyDown = TKeyEvent(&log, &TKeyLog::Down);
        form.OnKeyPress = TKeyPressEvent(&log, &TKeyLog::Press);
        child->OnKeyDown = TKeyEvent(&log, &TKeyLog::Down);
        child->OnKeyPress = TKeyPressEvent(&log, &TKeyLog::Press);
        HWND wnd = child->GetHandle();
        ::SendMessageW(wnd, WM_KEYDOWN, 'A', 0);
        ::SendMessageW(wnd, WM_CHAR, L'a', 0);
        EXPECT_EQ(log.Entries, c.Expected) << "preview " << c.Preview << " eats " << c.Eats;
    }
}

TEST(Forms, HandleExceptionRoutesToApplicationEvents)
{
    TAppScope scope;
    TApplication& app = scope.app;
    struct TLog {
        std::vector<std::wstring> Entries;
        void App(TObject*, Exception& e) { Entries.push_back(L"app: " + e.Message()); }
        void Events(TObject*, Exception& e) { Entries.push_back(L"events: " + e.Message()); }
    } log;
    app.OnException = TExceptionEvent(&log, &TLog::App);
    try {
        throw EInvalidOperation(L"one");
    } catch (...) {
        app.HandleException(nullptr);
    }
    {
        TApplicationEvents events(nullptr);
        events.OnException = TExceptionEvent(&log, &TLog::Events);
        try {
            throw std::runtime_error("two");
        } catch (...) {
            app.HandleException(nullptr);
        }
        // An exception escaping a window message handler arrives here too.
        TForm form(nullptr);
        form.OnResize = TNotifyEvent::FromFunction([](void*, TObject*) { throw EInvalidOperation(L"three"); }, nullptr);
        HWND wnd = form.GetHandle();
        ::SetWindowPos(wnd, nullptr, 0, 0, 123, 45, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
        form.OnResize.Clear();
    }
    try {
        throw EInvalidOperation(L"four");
    } catch (...) {
        app.HandleException(nullptr);
    }
    const std::vector<std::wstring> expected{L"app: one", L"events: two", L"events: three", L"app: four"};
    EXPECT_EQ(log.Entries, expected);
}

TEST(Forms, ActiveControlFollowsTheFocusAndPositionPlacesTheForm)
{
    TAppScope scope;
    TForm form(nullptr);
    Frameless(form).SetBounds(0, 0, 200, 100);
    auto* a = new TWinControl(&form);
    a->SetParent(&form);
    a->SetBounds(0, 0, 20, 20);
    auto* b = new TWinControl(&form);
    b->SetParent(&form);
    b->SetBounds(30, 0, 20, 20);
    TForm stranger(nullptr);
    EXPECT_THROW(form.SetActiveControl(&stranger), EInvalidOperation);
    form.SetActiveControl(a);
    EXPECT_EQ(form.GetActiveControl(), a);

    form.SetVisible(true);
    b->SetFocus();
    EXPECT_EQ(form.GetActiveControl(), b);
    delete b;
    EXPECT_EQ(form.GetActiveControl(), nullptr);
    form.SetVisible(false);

    // Centred on the screen, or on the main form.
    struct TCase {
        TPosition Position;
        bool HasMain;
        POINT Expected;
    };
    const int sw = Screen->GetWidth(), sh = Screen->GetHeight();
    const TCase cases[] = {
        {poDesigned, false, {7, 9}},
        {poScreenCenter, false, {(sw - 100) / 2, (sh - 60) / 2}},
        {poMainFormCenter, false, {(sw - 100) / 2, (sh - 60) / 2}},
        {poMainFormCenter, true, {10 + (300 - 100) / 2, 20 + (200 - 60) / 2}},
    };
    for (const TCase& c : cases) {
        TAppScope inner;
        if (c.HasMain) inner.app.CreateForm<TForm>()->SetBounds(10, 20, 300, 200);
        TForm f(nullptr);
        Frameless(f).SetBounds(7, 9, 100, 60);
        f.SetPosition(c.Position);
        f.SetVisible(true);
        RECT r;
        ::GetWindowRect(f.GetHandle(), &r);
        EXPECT_EQ(r.left, c.Expected.x) << "position " << c.Position << " main " << c.HasMain;
        EXPECT_EQ(r.top, c.Expected.y) << "position " << c.Position << " main " << c.HasMain;
        f.SetVisible(false);
    }
}

TEST(Forms, ConstraintsLimitTheSizeAlsoForTheUser)
{
    TForm form(nullptr);
    Frameless(form).SetBounds(0, 0, 300, 200);
    // Like a main window that may not shrink below its first size.
    form.SetConstraints(TSizeConstraints{form.GetWidth(), form.GetHeight(), 0, 0});
    form.SetBounds(0, 0, 100, 50);
    EXPECT_EQ(form.GetWidth(), 300);
    EXPECT_EQ(form.GetHeight(), 200);
    form.SetBounds(0, 0, 400, 250);
    EXPECT_EQ(form.GetWidth(), 400);
    // Setting constraints applies them at once; the window reports them to
    // the system's sizing.
    form.SetConstraints(TSizeConstraints{0, 0, 350, 0});
    EXPECT_EQ(form.GetWidth(), 350);
    form.SetConstraints(TSizeConstraints{320, 210, 0, 0});
    HWND wnd = form.GetHandle();
    MINMAXINFO info{};
    ::SendMessageW(wnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 320);
    EXPECT_EQ(info.ptMinTrackSize.y, 210);
    ::SetWindowPos(wnd, nullptr, 0, 0, 10, 10, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    RECT r;
    ::GetWindowRect(wnd, &r);
    EXPECT_EQ(r.right - r.left, 320);
    EXPECT_EQ(form.GetHeight(), 210);
}

TEST(Forms, FixedFrameFormsRefuseToMaximise)
{
    TAppScope scope;
    struct TCase {
        TFormBorderStyle Style;
        TBorderIcons Icons;
        bool Grows;
    };
    const TCase cases[] = {
        {bsSingle, biSystemMenu, false},
        {bsDialog, biSystemMenu | biMaximize, false},
        {bsSingle, biSystemMenu | biMaximize, true},
        {bsSizeable, biSystemMenu | biMinimize | biMaximize, true},
    };
    for (const TCase& c : cases) {
        TForm form(nullptr);
        form.SetBorderStyle(c.Style);
        form.SetBorderIcons(c.Icons);
        form.SetBounds(40, 30, 300, 200);
        form.SetVisible(true);
        HWND wnd = form.GetHandle();
        RECT before, after;
        ::GetWindowRect(wnd, &before);
        // By the system menu's command and by a direct show state.
        ::SendMessageW(wnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
        ::GetWindowRect(wnd, &after);
        EXPECT_EQ(c.Grows, after.right - after.left > 300) << "style " << c.Style;
        ::ShowWindow(wnd, SW_SHOWNORMAL);
        ::ShowWindow(wnd, SW_MAXIMIZE);
        ::GetWindowRect(wnd, &after);
        EXPECT_EQ(c.Grows, after.right - after.left > 300) << "style " << c.Style;
        if (!c.Grows) {
            EXPECT_EQ(before.left, after.left);
            EXPECT_EQ(before.top, after.top);
            EXPECT_EQ(before.bottom - before.top, after.bottom - after.top);
        }
        ::ShowWindow(wnd, SW_SHOWNORMAL);
        form.SetVisible(false);
    }
}

namespace {

// Counts its idle calls; only with csActionClient does it get any.
class TActionClientControl : public TCustomControl {
public:
    explicit TActionClientControl(TComponent* owner, bool client) : TCustomControl(owner)
    {
        if (client) ControlStyle |= csActionClient;
    }
    int Calls = 0;
    void InitiateAction() override { ++Calls; }
};

}  // namespace

TEST(Forms, IdleLetsTheVisibleActionClientsOfVisibleFormsUpdate)
{
    TAppScope scope;
    TForm form(nullptr);
    Frameless(form).SetBounds(0, 0, 100, 100);
    auto* panel = new TCustomControl(&form);
    panel->SetBounds(0, 0, 80, 80);
    panel->SetParent(&form);
    auto* deep = new TActionClientControl(&form, true);  // inside a plain panel
    deep->SetParent(panel);
    auto* plain = new TActionClientControl(&form, false);
    plain->SetParent(&form);
    auto* hidden = new TActionClientControl(&form, true);
    hidden->SetVisible(false);
    hidden->SetParent(&form);
    scope.app.Idle();
    EXPECT_EQ(deep->Calls, 0) << "the form is not shown";
    form.SetVisible(true);
    PumpMessages();
    scope.app.Idle();
    EXPECT_EQ(deep->Calls, 1);
    EXPECT_EQ(plain->Calls, 0);
    EXPECT_EQ(hidden->Calls, 0);
    panel->SetVisible(false);  // the controls inside a hidden one are skipped
    scope.app.Idle();
    EXPECT_EQ(deep->Calls, 1);
    panel->SetVisible(true);

    // The message loop is idle whenever it is about to wait (a timer keeps
    // the waits short).
    const UINT_PTR timer = ::SetTimer(form.GetHandle(), 1, 10, nullptr);
    for (int i = 0; i < 10000 && deep->Calls < 2; ++i) scope.app.HandleMessage();
    ::KillTimer(form.GetHandle(), timer);
    EXPECT_GE(deep->Calls, 2);
    EXPECT_EQ(hidden->Calls, 0);
    form.SetVisible(false);
}
