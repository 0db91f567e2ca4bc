// The main window's album list files: opening and saving them with their
// dialogs and telling the user what went wrong.
#include "app/untMain.h"

#include "classlib/SysUtils.h"

namespace album {

using classlib::TObject;

// ---- album list file ------------------------------------------------------------

namespace {

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
    } catch (const classlib::Exception& e) {
        ShowMessageBox(ListMessage(msgListNotRead, FileName) + L"\r\n\r\n" + e.Message(), MB_OK | MB_ICONERROR);
        return false;
    }
    ClearAlbumList();
    SetAlbumRows(rows);
    ListModified = false;
    CheckList();
    return true;
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
