// The main window's side of the album build: the host the build reports
// to, locking the window while it runs, Start, Exit and the options dialog.
#include "app/untMain.h"

#include <algorithm>
#include <cstdint>
#include <exception>

#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"

#include "app/untOptions.h"
#include "app/untReport.h"

#include "app/untMainShared.h"

namespace album {

using classlib::TControl;
using classlib::TObject;

using namespace mainform;

// ---- the build's view of the window --------------------------------------

class TfrmMain::TBuildHost : public TAlbumBuildHost {
public:
    explicit TBuildHost(TfrmMain& Form) : form_(Form) {}

    int MessageBox(const std::wstring& Text, UINT Flags) override
    {
        // The success message names the pictures and the album's folder,
        // then once each the pictures that were left out and those written
        // incomplete.
        std::wstring text = Text;
        if (Rows && Text == form_.msgAlbumCreated) {
            const TTranslation& texts = form_.Translation;
            std::vector<std::wstring> skipped, incomplete;
            std::size_t written = 0;
            for (const TAlbumRow& row : *Rows) {
                if (!row.Checked) {
                    skipped.push_back(SkippedRowText(row));
                    continue;
                }
                ++written;
                if (!row.Incomplete.empty()) incomplete.push_back(IncompleteRowText(row, form_.strPictureIncomplete));
            }
            text += L"\r\n" + classlib::StringReplace(
                                   classlib::StringReplace(texts.Text(L"msgAlbumCreatedAt"), L"%n1",
                                                           std::to_wstring(written), classlib::rfReplaceAll),
                                   L"%f1", AlbumPath, classlib::rfReplaceAll);
            const std::wstring more = texts.Text(L"msgAndMore");
            if (!skipped.empty()) text += L"\r\n\r\n" + FileReportText(form_.msgSkippedPictures, skipped, more);
            if (!incomplete.empty())
                text += L"\r\n\r\n" + FileReportText(form_.msgIncompletePictures, incomplete, more);
            if (!skipped.empty() || !incomplete.empty()) Flags = (Flags & ~MB_ICONMASK) | MB_ICONWARNING;
        }
        return form_.ShowMessageBox(text, Flags);
    }
    // The folder the album is written to.
    std::wstring AlbumPath;
    // The rows of the running build (their marks tell which were written).
    const std::vector<TAlbumRow>* Rows = nullptr;
    void FocusAlbumName() override
    {
        if (form_.EAlbName->CanFocus()) form_.EAlbName->SetFocus();
    }
    void SetStatusText(const std::wstring& Text) override
    {
        // A cancel asked for before the build showed its state stays shown.
        const bool cancelling = form_.CancelRequested && !Text.empty();
        form_.TmP6->SetCaption(cancelling ? form_.Translation.Text(std::wstring(L"msgCancelling")) : Text);
    }
    void DisableControls() override { form_.SetLocked(true); }
    void RestoreControls() override { form_.SetLocked(false); }
    void ShowBuildProgress(bool Visible) override
    {
        form_.TmB3->SetPercent(0);
        form_.TmB4->SetPercent(0);
        form_.TmB3->SetVisible(Visible);
        form_.TmB4->SetVisible(Visible);
        form_.LayoutControls();
    }
    void SetImagePercent(int Percent) override { form_.TmB3->SetPercent(static_cast<uint16_t>(Percent)); }
    void SetStepPercent(int Percent) override { form_.Progress(nullptr, Percent); }
    void ProcessMessages() override
    {
        TAlbumBuildHost::ProcessMessages();
        if (form_.CancelRequested) CancelRequested = 1;
    }
    void OpenDocument(const std::wstring& FileName) override
    {
        if (form_.OpenFinishedAlbum) TAlbumBuildHost::OpenDocument(FileName);
    }
    HWND OwnerWindow() override { return form_.HandleAllocated() ? form_.GetHandle() : nullptr; }

private:
    TfrmMain& form_;
};

// ---- build ------------------------------------------------------------------

bool TfrmMain::BuildRunning() const { return build_ != nullptr || TmB3->GetVisible() || listOpening_; }

void TfrmMain::btnCancelClick(TObject*)
{
    if (BuildRunning()) {
        RequestCancel();
        return;
    }
    Close();
}

void TfrmMain::RequestCancel()
{
    const bool first = CancelRequested == 0;
    CancelRequested = 1;
    if (build_) build_->CancelRequested = 1;
    // The build stops at its next image, which may take seconds: the
    // request shows at once.
    if (first && BuildRunning()) {
        TmP6->SetCaption(Translation.Text(std::wstring(L"msgCancelling")));
        TmP6->Repaint();
    }
}

void TfrmMain::Progress(TObject*, int Percent)
{
    TmB4->SetPercent(static_cast<uint16_t>(std::clamp(Percent, 0, 100)));
}

void TfrmMain::SetLocked(bool Locked)
{
    if (Locked) {
        locked_.clear();
        lockedItems_.clear();
        for (TControl* c : std::initializer_list<TControl*>{
                 E_Title, E_Desc, btnStart, btnAdv, EAlbName, EAlbDir, btnDir, LV1, LV2, R1, R2, R3, R4, btnAdd,
                 btnAddAll, btnRemove, btnRemoveAll, btnPgUp, btnPgDown, btnOpen, btnSave, FTree, E1, CB1}) {
            locked_.emplace_back(c, c->GetEnabled());
            c->SetEnabled(false);
        }
        for (toolbar::TMbCustomItem* i : {static_cast<toolbar::TMbCustomItem*>(mnuLanguage),
                                          static_cast<toolbar::TMbCustomItem*>(mnuAbout),
                                          static_cast<toolbar::TMbCustomItem*>(popLargePreView)}) {
            lockedItems_.emplace_back(i, i->GetEnabled());
            i->SetEnabled(false);
        }
        ShDropFiles1->SetEnabled(false);
        return;
    }
    for (auto& [control, enabled] : locked_) control->SetEnabled(enabled);
    for (auto& [item, enabled] : lockedItems_) item->SetEnabled(enabled);
    locked_.clear();
    lockedItems_.clear();
    ShDropFiles1->SetEnabled(true);
}

void TfrmMain::btnStartClick(TObject*)
{
    if (LV2->GetItems()->GetCount() == 0 || BuildRunning()) return;
    const std::wstring name = CleanAlbumName(classlib::Trim(EAlbName->GetText()));
    if (name != EAlbName->GetText()) EAlbName->SetText(name);
    if (name.empty()) {
        // An empty name would build into the album folder itself, among
        // whatever else is there.
        ShowMessageBox(msgNoAlbumName, MB_OK | MB_ICONWARNING);
        if (EAlbName->CanFocus()) EAlbName->SetFocus();
        return;
    }

    std::vector<TAlbumRow> rows = AlbumRows();
    TAlbumBuildInput input;
    input.Settings = &Settings;
    input.AlbumFolder = EAlbDir->GetText();
    input.AlbumName = name;
    input.ProgramFolder = Settings.GetEnvironment().ProgramFolder();
    input.Translation = &Translation;
    TBuildHost host(*this);
    host.Rows = &rows;
    host.AlbumPath = AlbumPathOf(input.AlbumFolder, name);
    CancelRequested = 0;
    build_ = &host;
    TAlbumBuildResult result;
    std::wstring failure;
    try {
        result = BuildAlbum(input, rows, host);
    } catch (const classlib::Exception& e) {
        failure = e.Message();
    } catch (const std::exception& e) {
        failure = classlib::AnsiToWide(e.what());
    }
    build_ = nullptr;
    CancelRequested = 0;
    AlbumPath = AlbumPathOf(input.AlbumFolder, name);

    // The rows the build numbered keep their numbers, also after a failure.
    TakeBuildResults(rows);
    if (!failure.empty()) {
        ShowMessageBox(msgBuildFailed + L"\r\n\r\n" + failure, MB_OK | MB_ICONERROR);
        return;
    }
    BuildFinished(result);
}

void TfrmMain::BuildFinished(const TAlbumBuildResult& Result)
{
    AlbumPath = Result.AlbumPath.empty() ? AlbumPath : Result.AlbumPath;
    CheckList();
}

void TfrmMain::btnAdvClick(TObject*)
{
    if (!frmOptions) return;
    frmOptions->CopyIn(Settings);
    if (frmOptions->ShowModal() == classlib::mrOk) frmOptions->CopyOut(Settings);
}

}  // namespace album
