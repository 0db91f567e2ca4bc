// The main window's album list files: opening and saving them with their
// dialogs and telling the user what went wrong.
#include "app/untMain.h"
#include "app/untReport.h"

#include "classlib/SysUtils.h"

namespace album {

using classlib::TObject;

// ---- album list file ------------------------------------------------------------

namespace {

// How many missing pictures the message names before "and N more".
// How long the window adds rows of an opened list before it answers again.
constexpr ULONGLONG kOpenSliceMs = 50;

// Text with "%n1" replaced by Line, then "%f1" by FileName (whatever the
// file's name holds stays as it is).
std::wstring ListMessage(const std::wstring& Text, const std::wstring& FileName, int Line = 0)
{
    const auto all = classlib::rfReplaceAll | classlib::rfIgnoreCase;
    return classlib::StringReplace(classlib::StringReplace(Text, L"%n1", std::to_wstring(Line), all), L"%f1",
                                   FileName, all);
}

}  // namespace

bool TfrmMain::OpenAlbumList(const std::wstring& FileName)
{
    std::vector<TAlbumRow> rows;
    try {
        LoadAlbumList(FileName, rows);
    } catch (const EAlbumListFormat& e) {
        ShowMessageBox(ListMessage(e.Line > 0 ? msgNotAlbumList : msgEmptyAlbumList, FileName, e.Line),
                       MB_OK | MB_ICONWARNING);
        return false;
    } catch (const EAlbumListVersion& e) {
        ShowMessageBox(classlib::StringReplace(ListMessage(msgListVersion, FileName), L"%f2", e.Version,
                                               classlib::rfReplaceAll | classlib::rfIgnoreCase),
                       MB_OK | MB_ICONWARNING);
        return false;
    } catch (const classlib::Exception& e) {
        ShowMessageBox(ListMessage(msgListNotRead, FileName) + L"\r\n\r\n" + e.Message(), MB_OK | MB_ICONERROR);
        return false;
    }
    std::vector<std::wstring> missing;
    if (!ShowOpenedRows(rows, missing)) return false;
    ListModified = false;
    CheckList();
    if (!missing.empty())
        ShowMessageBox(FileReportText(ListMessage(msgMissingPictures, FileName), missing, msgAndMore),
                       MB_OK | MB_ICONWARNING);
    return true;
}

bool TfrmMain::ShowOpenedRows(const std::vector<TAlbumRow>& Rows, std::vector<std::wstring>& Missing)
{
    // The window stays locked and answering while the rows go in, a slice
    // of time at a time; Esc or Exit (through RequestCancel) puts the rows
    // that were there before back.
    const std::vector<TAlbumRow> previous = AlbumRows();
    const bool previousModified = ListModified;
    listOpening_ = true;
    CancelRequested = 0;
    SetLocked(true);
    TmB4->SetPercent(0);
    TmB4->SetVisible(true);
    LayoutControls();
    const std::wstring status = TmP6->GetCaption();
    ClearAlbumList();
    TMissingPictures missing;
    classlib::TListItems* items = LV2->GetItems();
    std::size_t done = 0;
    while (done < Rows.size() && !CancelRequested) {
        const ULONGLONG sliceEnd = ::GetTickCount64() + kOpenSliceMs;
        items->BeginUpdate();
        do {
            missing.Check(Rows[done]);
            AppendAlbumRow(Rows[done]);
            ++done;
        } while (done < Rows.size() && ::GetTickCount64() < sliceEnd);
        items->EndUpdate();
        TmB4->SetPercent(static_cast<uint16_t>(done * 100 / Rows.size()));
        TmP6->SetCaption(classlib::StringReplace(
                             classlib::StringReplace(msgOpeningList, L"%n1", std::to_wstring(done), classlib::rfIgnoreCase),
                             L"%n2", std::to_wstring(Rows.size()), classlib::rfIgnoreCase) +
                         L"  " + msgESC);
        classlib::Application->ProcessMessages();
    }
    const bool cancelled = CancelRequested != 0;
    if (cancelled) {
        ClearAlbumList();
        SetAlbumRows(previous);
        ListModified = previousModified;
    }
    CancelRequested = 0;
    TmB4->SetVisible(false);
    TmP6->SetCaption(status);
    LayoutControls();
    listOpening_ = false;
    SetLocked(false);
    Missing = missing.Paths();
    if (cancelled) CheckList();
    return !cancelled;
}

bool TfrmMain::SaveAlbumListTo(const std::wstring& FileName)
{
    try {
        SaveAlbumList(FileName, AlbumRows());
    } catch (const classlib::Exception& e) {
        ShowMessageBox(ListMessage(msgListNotWritten, FileName) + L"\r\n\r\n" + e.Message(), MB_OK | MB_ICONERROR);
        return false;
    }
    ListModified = false;
    return true;
}

std::wstring TfrmMain::AlbumListFolder() const
{
    return listFolder_.empty() ? Settings.GetEnvironment().DocumentsFolder : listFolder_;
}

void TfrmMain::PrepareListDialog(classlib::TOpenDialog* Dialog) const
{
    Dialog->InitialDir = AlbumListFolder();
    // A name with a folder would take the dialog to that folder instead.
    Dialog->FileName.clear();
}

void TfrmMain::btnOpenClick(TObject*)
{
    if (BuildRunning()) return;
    PrepareListDialog(OpenDialog1);
    const bool accepted =
        DialogHook ? DialogHook(OpenDialog1) : OpenDialog1->Execute(HandleAllocated() ? GetHandle() : nullptr);
    if (!accepted) return;  // the list stays as it was
    listFolder_ = classlib::ExtractFilePath(OpenDialog1->FileName);
    classlib::Application->ProcessMessages();
    OpenAlbumList(OpenDialog1->FileName);
}

void TfrmMain::btnSaveClick(TObject*)
{
    // Saving writes every row; which rows are selected does not matter.
    if (BuildRunning() || LV2->GetItems()->GetCount() == 0) return;
    PrepareListDialog(SaveDialog1);
    const bool accepted =
        DialogHook ? DialogHook(SaveDialog1) : SaveDialog1->Execute(HandleAllocated() ? GetHandle() : nullptr);
    if (!accepted) return;
    listFolder_ = classlib::ExtractFilePath(SaveDialog1->FileName);
    SaveAlbumListTo(SaveDialog1->FileName);
}

}  // namespace album
