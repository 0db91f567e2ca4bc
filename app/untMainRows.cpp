// The main window's album rows: adding pictures (buttons, dropped files),
// removing and moving rows, selecting them, rotating them and typing their
// title and description, and the find field of the file list.
#include "app/untMain.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "classlib/SysUtils.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/views/grid/ImgMView.h"

#include "app/untMainShared.h"
#include "app/untReport.h"

namespace album {

using classlib::TListItem;
using classlib::TObject;

using namespace mainform;

namespace {

// Serves pending messages, so that the texts a selection handler just set
// are painted before a slow preview loads. A list changes its selection
// inside its handling of a press of the user's mouse, and for a right press
// it then waits for the release itself: served here, that release would
// open the context menu from inside the press, and the list would go on
// waiting and swallow the next press anywhere. While a button is down only
// the painting is done.
void ServeMessagesAfterSelecting(HWND Form)
{
    if (::GetKeyState(VK_LBUTTON) < 0 || ::GetKeyState(VK_RBUTTON) < 0 || ::GetKeyState(VK_MBUTTON) < 0) {
        if (Form) ::RedrawWindow(Form, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        return;
    }
    classlib::Application->ProcessMessages();
}

std::wstring UpperText(std::wstring Text)
{
    if (!Text.empty()) ::CharUpperBuffW(Text.data(), static_cast<DWORD>(Text.size()));
    return Text;
}

bool SamePathText(const std::wstring& A, const std::wstring& B)
{
    return ::CompareStringOrdinal(A.c_str(), static_cast<int>(A.size()), B.c_str(), static_cast<int>(B.size()),
                                  TRUE) == CSTR_EQUAL;
}

}  // namespace

namespace {

// The list item's side of a row record: sub-item Index of Row shows Value
// (empty ones added before it as needed), or all of them show Values.
void SetSubItem(TListItem* Row, int Index, const std::wstring& Value)
{
    classlib::TStrings* subs = Row->GetSubItems();
    while (subs->GetCount() <= Index) subs->Add(L"");
    subs->SetStrings(Index, Value);
}

void SetSubItems(TListItem* Row, const std::vector<std::wstring>& Values)
{
    classlib::TStrings* subs = Row->GetSubItems();
    subs->BeginUpdate();
    subs->Clear();
    for (const std::wstring& v : Values) subs->Add(v);
    subs->EndUpdate();
}

}  // namespace

namespace {

// What adding a file to the album list needs of it: is it a picture the
// toolkit reads, and the EXIF orientation it states (1 without one).
struct TPictureFacts {
    bool Readable = false;
    int Orientation = 1;
    std::wstring Refusal;  // why not, when not Readable
};

// Why FileName is no picture to add, after ReadPictureParams refused it
// through IO: EmptyText for an empty file, else the toolkit's reason.
std::wstring RefusalOf(const imaging::TImgIO& IO, const std::wstring& FileName, const std::wstring& EmptyText)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(FileName.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeHigh == 0 &&
        data.nFileSizeLow == 0)
        return EmptyText;
    const imaging::TPxReadFailure failure = IO.GetLastFailure();
    return imaging::PxReadFailureText(failure == imaging::TPxReadFailure::None ? imaging::TPxReadFailure::NoReader
                                                                                : failure);
}

// Paints what waits to be painted and answers the messages other threads
// send, and nothing else: no input, no posted message, so nothing can
// change what the caller works on.
void ServePaintOnly()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT)) ::DispatchMessageW(&msg);
}

// The facts of every file of Paths, read by worker threads (as many as
// there are processors, at most 8), each file once; the calling thread
// waits for them, keeping its windows painted (ServePaintOnly).
std::vector<TPictureFacts> ReadPictureFacts(const std::vector<std::wstring>& Paths, const std::wstring& EmptyText)
{
    std::vector<TPictureFacts> facts(Paths.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> running{0};
    HANDLE allDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto work = [&] {
        imaging::TPxBitmap bitmap;
        std::unique_ptr<imaging::TImgIO> io = imaging::TImgIO::CreateForBitmap(&bitmap);
        for (std::size_t i = next++; i < Paths.size(); i = next++) {
            try {
                if (!ReadPictureParams(io.get(), Paths[i])) {
                    facts[i].Refusal = RefusalOf(*io, Paths[i], EmptyText);
                    continue;
                }
                facts[i].Readable = true;
                facts[i].Orientation = io->FileParams->HasEXIF ? io->FileParams->EXIFOrientation : 1;
            } catch (...) {
                facts[i].Readable = false;
                facts[i].Refusal = imaging::PxReadFailureText(imaging::TPxReadFailure::Unreadable);
            }
        }
        if (--running == 0 && allDone) ::SetEvent(allDone);
    };
    const std::size_t workers =
        std::min<std::size_t>({std::max(1u, std::thread::hardware_concurrency()), 8, Paths.size()});
    std::vector<std::thread> threads;
    if (allDone) {
        running = workers;
        try {
            for (std::size_t w = 0; w < workers; ++w) threads.emplace_back(work);
        } catch (...) {
            // The threads that did start finish the files.
            if ((running -= workers - threads.size()) == 0) ::SetEvent(allDone);
        }
        if (!threads.empty()) {
            while (::MsgWaitForMultipleObjects(1, &allDone, FALSE, INFINITE, QS_PAINT | QS_SENDMESSAGE) ==
                   WAIT_OBJECT_0 + 1)
                ServePaintOnly();
        }
    }
    if (threads.empty()) work();  // no thread could start: this one reads them all
    for (std::thread& t : threads) t.join();
    if (allDone) ::CloseHandle(allDone);
    return facts;
}

// The text SamePathText compares, as a key.
std::wstring PathKey(std::wstring Path)
{
    if (!Path.empty()) ::CharUpperBuffW(Path.data(), static_cast<DWORD>(Path.size()));
    return Path;
}

}  // namespace

// ---- album rows ---------------------------------------------------------------

void TfrmMain::ShowAlbumRow(TListItem* Row, const TAlbumRow& Record)
{
    Row->SetCaption(Record.Path);
    SetSubItems(Row, Record.SubItems);
}

TListItem* TfrmMain::AppendAlbumRow(TAlbumRow Record)
{
    Record.Checked = false;
    Record.SkipReason.clear();
    Record.Incomplete.clear();
    const TAlbumRowId id = nextRowId_++;
    TListItem* row = LV2->GetItems()->Add();
    row->Data = reinterpret_cast<void*>(id);
    ShowAlbumRow(row, rowRecords_.insert_or_assign(id, std::move(Record)).first->second);
    return row;
}

TListItem* TfrmMain::AddAlbumRow(const std::wstring& Path, const std::wstring& Rotation)
{
    TAlbumRow record;
    record.Path = Path;
    record.SubItems = {Rotation, L"", L"", L"", classlib::ExtractFileName(Path), L""};
    TListItem* row = AppendAlbumRow(std::move(record));
    ListModified = true;
    return row;
}

const TAlbumRow* TfrmMain::AlbumRowOf(const TListItem* Row) const
{
    if (!Row) return nullptr;
    const auto found = rowRecords_.find(AlbumRowId(Row));
    return found == rowRecords_.end() ? nullptr : &found->second;
}

bool TfrmMain::SetAlbumRowText(TListItem* Row, std::size_t SubItem, const std::wstring& Text)
{
    const auto found = rowRecords_.find(AlbumRowId(Row));
    if (found == rowRecords_.end()) return false;
    if (found->second.SubItem(SubItem) == Text) return false;
    std::vector<std::wstring>& texts = found->second.SubItems;
    if (texts.size() <= SubItem) texts.resize(SubItem + 1);
    texts[SubItem] = Text;
    SetSubItem(Row, static_cast<int>(SubItem), Text);
    return true;
}

void TfrmMain::DeleteAlbumRow(int Index)
{
    classlib::TListItems* items = LV2->GetItems();
    rowRecords_.erase(AlbumRowId(items->GetItem(Index)));
    items->Delete(Index);
}

void TfrmMain::TakeBuildResults(const std::vector<TAlbumRow>& Rows)
{
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount() && i < static_cast<int>(Rows.size()); ++i) {
        TListItem* row = items->GetItem(i);
        const auto found = rowRecords_.find(AlbumRowId(row));
        if (found == rowRecords_.end()) continue;
        found->second.SubItems = Rows[static_cast<std::size_t>(i)].SubItems;
        ShowAlbumRow(row, found->second);
    }
}

TListItem* TfrmMain::FindAlbumRow(const std::wstring& Path) const
{
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        const TAlbumRow* record = AlbumRowOf(items->GetItem(i));
        if (record && SamePathText(record->Path, Path)) return items->GetItem(i);
    }
    return nullptr;
}

TAlbumRowId TfrmMain::AlbumRowId(const TListItem* Row) const
{
    return Row ? reinterpret_cast<TAlbumRowId>(Row->Data) : 0;
}

int TfrmMain::AlbumRowIndex(TAlbumRowId Id) const
{
    if (Id == 0) return -1;
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount(); ++i)
        if (reinterpret_cast<TAlbumRowId>(items->GetItem(i)->Data) == Id) return i;
    return -1;
}

std::vector<TAlbumRow> TfrmMain::AlbumRows() const
{
    std::vector<TAlbumRow> rows;
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        const TAlbumRow* record = AlbumRowOf(items->GetItem(i));
        if (!record) continue;
        TAlbumRow row;
        row.Path = record->Path;
        row.SubItems = record->SubItems;
        rows.push_back(std::move(row));
    }
    return rows;
}

void TfrmMain::SetAlbumRows(const std::vector<TAlbumRow>& Rows)
{
    classlib::TListItems* items = LV2->GetItems();
    items->BeginUpdate();
    for (const TAlbumRow& r : Rows) AppendAlbumRow(r);
    items->EndUpdate();
}

std::wstring TfrmMain::InitialRotation(const std::wstring& FileName)
{
    (void)FileName;  // the parameters were read by the caller
    return RotationOfOrientation(ImgIO1->FileParams->HasEXIF ? ImgIO1->FileParams->EXIFOrientation : 1);
}

std::wstring TfrmMain::PositionText(int Index, int Count) const
{
    return msgFileOf + L": " + std::to_wstring(Index + 1) + L"/" + std::to_wstring(Count);
}

int TfrmMain::AddFiles(const std::vector<std::wstring>& Paths, bool Single)
{
    if (BuildRunning()) return 0;
    int added = 0;
    bool known = false;
    const std::wstring emptyText = Translation.Text(L"strFileEmpty");
    std::vector<std::wstring> refused;  // "<path>: <reason>" of each file left out
    if (Paths.size() == 1) {
        const std::wstring& path = Paths.front();
        if (TListItem* existing = FindAlbumRow(path)) {
            known = true;
            if (Single) LV2->SetSelected(existing);
        } else if (ReadPictureParams(ImgIO1, path)) {
            TListItem* row = AddAlbumRow(path, InitialRotation(path));
            ++added;
            if (Single) LV2->SetSelected(row);
        } else {
            refused.push_back(path + L": " + RefusalOf(*ImgIO1, path, emptyText));
        }
    } else if (!Paths.empty()) {
        // Many files: the listed paths looked up by key, the new files'
        // parameters read on every core, the rows added in one update.
        std::unordered_set<std::wstring> listed;
        classlib::TListItems* items = LV2->GetItems();
        for (int i = 0; i < items->GetCount(); ++i)
            if (const TAlbumRow* record = AlbumRowOf(items->GetItem(i))) listed.insert(PathKey(record->Path));
        std::vector<std::wstring> fresh;
        std::vector<std::size_t> firstOf(Paths.size());  // the index in fresh of a path's first mention
        std::unordered_map<std::wstring, std::size_t> mentioned;
        for (std::size_t i = 0; i < Paths.size(); ++i) {
            const std::wstring key = PathKey(Paths[i]);
            if (listed.count(key)) {
                known = true;
                firstOf[i] = SIZE_MAX;
                continue;
            }
            auto [at, isNew] = mentioned.emplace(key, fresh.size());
            if (isNew) fresh.push_back(Paths[i]);
            firstOf[i] = at->second;
        }
        const std::vector<TPictureFacts> facts = ReadPictureFacts(fresh, emptyText);
        std::vector<bool> rowAdded(fresh.size(), false);
        items->BeginUpdate();
        try {
            for (std::size_t i = 0; i < Paths.size(); ++i) {
                const std::size_t f = firstOf[i];
                if (f == SIZE_MAX) continue;
                if (rowAdded[f]) {
                    known = true;  // named twice: the second finds the row of the first
                    continue;
                }
                if (!facts[f].Readable) {
                    refused.push_back(Paths[i] + L": " + facts[f].Refusal);
                    continue;
                }
                AddAlbumRow(Paths[i], RotationOfOrientation(facts[f].Orientation));
                rowAdded[f] = true;
                ++added;
            }
        } catch (...) {
            items->EndUpdate();
            throw;
        }
        items->EndUpdate();
    }
    CheckList();
    // Every file left out is named with its reason, in one message.
    if (!refused.empty())
        ShowMessageBox(FileReportText(added == 0 && !known ? msgNoPictures : Translation.Text(L"msgNotAdded"),
                                      refused, Translation.Text(L"msgAndMore")),
                       MB_OK | (added == 0 && !known ? MB_ICONINFORMATION : MB_ICONWARNING));
    return added;
}

void TfrmMain::btnAddClick(TObject*)
{
    if (!btnAdd->GetEnabled()) return;
    std::vector<std::wstring> paths;
    classlib::TListItems* items = LV1->GetItems();
    for (int i = 0; i < items->GetCount(); ++i)
        if (items->GetItem(i)->GetSelected()) paths.push_back(LV1->GetItemPathAt(i));
    AddFiles(paths, LV1->GetSelCount() == 1);
}

void TfrmMain::btnAddAllClick(TObject*)
{
    if (!btnAddAll->GetEnabled()) return;
    std::vector<std::wstring> paths;
    for (int i = 0; i < LV1->GetItems()->GetCount(); ++i) paths.push_back(LV1->GetItemPathAt(i));
    AddFiles(paths, paths.size() == 1);
}

void TfrmMain::ShDropFiles1Drop(TObject*, classlib::TShiftState, POINT, shell::TShDropEffect&)
{
    std::vector<std::wstring> paths;
    classlib::TStringList* files = ShDropFiles1->GetDroppedFiles();
    for (int i = 0; i < files->GetCount(); ++i) paths.push_back(files->GetStrings(i));
    AddFiles(paths, paths.size() == 1);
}

void TfrmMain::btnRemoveClick(TObject*)
{
    if (!btnRemove->GetEnabled()) return;
    classlib::TListItems* items = LV2->GetItems();
    bool removed = false;
    for (int i = 0; i < items->GetCount();) {
        if (items->GetItem(i)->GetSelected()) {
            DeleteAlbumRow(i);
            removed = true;
        } else {
            ++i;
        }
    }
    if (removed) ListModified = true;
    AlbumIndex = -1;
    TmP22->SetCaption(msgFileOf + L": 0/" + std::to_wstring(items->GetCount()));
    if (LV2->GetSelCount() == 0) ClearAlbumDetails();
    classlib::Application->ProcessMessages();
    ImPreview2->Clear();
    CheckList();
}

void TfrmMain::ClearAlbumDetails()
{
    // No row is selected any more: nothing is shown and nothing can be
    // typed or turned until a row is chosen again.
    E_Title->SetTag(1);
    E_Desc->SetTag(1);
    E_Title->SetText(L"");
    E_Desc->SetText(L"");
    E_Title->SetTag(0);
    E_Desc->SetTag(0);
    E_Title->SetEnabled(false);
    E_Desc->SetEnabled(false);
    btnRemove->SetEnabled(false);
    for (classlib::TSpeedButton* r : {R1, R2, R3, R4}) {
        r->SetEnabled(false);
        r->SetDown(false);
    }
    LBL_Rotate->SetVisible(false);
}

void TfrmMain::btnRemoveAllClick(TObject*)
{
    if (!btnRemoveAll->GetEnabled()) return;
    ClearAlbumList();
    ListModified = true;
}

void TfrmMain::ClearAlbumList()
{
    LV2->GetItems()->Clear();
    rowRecords_.clear();
    AlbumIndex = -1;
    ClearAlbumDetails();
    TmP22->SetCaption(msgFileOf + L": 0/0");
    classlib::Application->ProcessMessages();
    ImPreview2->Clear();
    CheckList();
}

void TfrmMain::CheckList()
{
    if (BuildRunning()) return;  // the build gives the buttons back
    const int count = LV2->GetItems()->GetCount();
    const bool move = LV2->GetSelCount() == 1 && count > 1;
    btnPgUp->SetEnabled(move);
    btnPgDown->SetEnabled(move);
    btnRemoveAll->SetEnabled(count > 0);
    btnSave->SetEnabled(count > 0);
    btnStart->SetEnabled(count > 0);
    const bool files = LV1->GetItems()->GetCount() > 0;
    btnAdd->SetEnabled(files && !shellListFilling_);
    btnAddAll->SetEnabled(files && !shellListFilling_);
    if (!files) {
        TmP2->SetCaption(L"");
        E1->SetText(L"");
    }
    TmP22->SetCaption(AlbumIndex < 0 ? std::wstring() : PositionText(AlbumIndex, count));
}

void TfrmMain::LV1SelectItem(TObject*, TListItem* Item, bool Selected)
{
    if (!Selected) {
        ImPreView1->Clear();
        return;
    }
    if (!E1->Focused()) E1->SetText(Item->GetCaption());
    ServeMessagesAfterSelecting(HandleAllocated() ? GetHandle() : nullptr);
    const int index = LV1->GetItems()->IndexOf(Item);
    if (index < 0) return;  // gone while messages were handled
    ShellIndex = static_cast<int16_t>(index);
    TmP2->SetCaption(PositionText(index, LV1->GetItems()->GetCount()));
    if (ChB1->GetChecked()) ShowPreview(ImPreView1, LV1->GetItemPathAt(index), 0);
}

void TfrmMain::ApplyRotationButtons(const std::wstring& Rotation)
{
    const bool original = Rotation == L"0" || Rotation.empty();
    R1->SetEnabled(!original);
    R2->SetEnabled(original);
    R3->SetEnabled(original);
    R4->SetEnabled(original);
    for (classlib::TSpeedButton* r : {R1, R2, R3, R4})
        if (std::to_wstring(r->GetTag()) == (original ? std::wstring(L"0") : Rotation)) r->SetDown(true);
}

void TfrmMain::ShowRotationLabel(const std::wstring& Rotation)
{
    const bool turned = !(Rotation == L"0" || Rotation.empty());
    if (turned) LBL_Rotate->SetCaption(RotationLabelText(Translation, msgRotation, Rotation));
    LBL_Rotate->SetVisible(turned);
}

void TfrmMain::LV2SelectItem(TObject*, TListItem* Item, bool Selected)
{
    if (LV2->GetTag() == 1) return;
    const int count = LV2->GetItems()->GetCount();
    const bool move = LV2->GetSelCount() == 1 && count > 1 && !BuildRunning();
    btnPgUp->SetEnabled(move);
    btnPgDown->SetEnabled(move);
    E_Title->SetTag(1);
    E_Desc->SetTag(1);
    const bool editable = Selected && !BuildRunning();
    E_Title->SetEnabled(editable);
    E_Desc->SetEnabled(editable);
    btnRemove->SetEnabled(editable);
    for (classlib::TSpeedButton* r : {R1, R2, R3, R4}) r->SetEnabled(false);
    LBL_Rotate->SetVisible(false);
    if (Selected) {
        static const TAlbumRow kNoRecord;
        const TAlbumRow* record = AlbumRowOf(Item);
        if (!record) record = &kNoRecord;
        E_Title->SetText(record->SubItem(siTitle));
        E_Desc->SetText(record->SubItem(siDescription));
        const std::wstring rotation = record->SubItem(siRotation);
        if (!BuildRunning()) ApplyRotationButtons(rotation);
        ShowRotationLabel(rotation);
        AlbumIndex = static_cast<int16_t>(LV2->GetItems()->IndexOf(Item));
        TmP22->SetCaption(PositionText(AlbumIndex, count));
        const TAlbumRowId id = AlbumRowId(Item);
        ServeMessagesAfterSelecting(HandleAllocated() ? GetHandle() : nullptr);
        // The row may have gone while messages were served.
        const auto shown = rowRecords_.find(id);
        if (ChB2->GetChecked() && LV2->GetItems()->IndexOf(Item) >= 0 && shown != rowRecords_.end())
            ShowPreview(ImPreview2, shown->second.Path, shown->second.Rotation());
    } else {
        if (popupOwner_ == LV2) {
            popupOwner_ = nullptr;
            PopUp1->SetTag(0);
        }
        E_Title->SetText(L"");
        E_Desc->SetText(L"");
        ImPreview2->Clear();
        TmP22->SetCaption(L"");
        if (LV2->GetSelCount() > 0) {
            // Another row stays selected: the fields show it.
            E_Title->SetEnabled(true);
            E_Desc->SetEnabled(true);
            btnRemove->SetEnabled(true);
        }
    }
    E_Title->SetTag(0);
    E_Desc->SetTag(0);
}

void TfrmMain::R1Click(TObject* Sender)
{
    auto* button = dynamic_cast<classlib::TSpeedButton*>(static_cast<classlib::TComponent*>(Sender));
    if (!button || BuildRunning()) return;
    for (classlib::TSpeedButton* r : {R1, R2, R3, R4}) r->SetEnabled(false);
    if (button == R1) {
        R2->SetEnabled(true);
        R3->SetEnabled(true);
        R4->SetEnabled(true);
    } else {
        R1->SetEnabled(true);
    }
    const std::wstring angle = std::to_wstring(button->GetTag());
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        TListItem* row = items->GetItem(i);
        if (!row->GetSelected() || !SetAlbumRowText(row, siRotation, angle)) continue;
        ListModified = true;
        ShowRotationLabel(angle);
        if (ChB2->GetChecked()) ShowPreview(ImPreview2, AlbumRowOf(row)->Path, button->GetTag());
    }
}

void TfrmMain::E_TitleChange(TObject*)
{
    if (E_Title->GetTag() != 1) SetSelectedRowsText(siTitle, E_Title->GetText());
}

void TfrmMain::E_DescChange(TObject*)
{
    if (E_Desc->GetTag() != 1) SetSelectedRowsText(siDescription, E_Desc->GetText());
}

void TfrmMain::SetSelectedRowsText(int SubItem, const std::wstring& Text)
{
    const std::wstring text = classlib::Trim(Text);
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        TListItem* row = items->GetItem(i);
        if (row->GetSelected() && SetAlbumRowText(row, static_cast<std::size_t>(SubItem), text)) ListModified = true;
    }
}

void TfrmMain::E1Change(TObject*)
{
    if (!E1->Focused()) return;
    const std::wstring typed = UpperText(E1->GetText());
    classlib::TListItems* items = LV1->GetItems();
    bool found = false;
    for (int i = 0; i < items->GetCount(); ++i) {
        TListItem* item = items->GetItem(i);
        if (!found && UpperText(item->GetCaption()).starts_with(typed)) {
            found = true;
            item->SetSelected(true);
            if (LV1->HandleAllocated()) {
                RECT r{LVIR_BOUNDS, 0, 0, 0};
                HWND list = LV1->GetHandle();
                ::SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
                ::SendMessageW(list, LVM_SCROLL, 0, r.top - (r.bottom - r.top));
            }
        } else {
            item->SetSelected(false);
        }
    }
}

void TfrmMain::E1KeyPress(TObject* Sender, wchar_t& Key)
{
    if (Key == 27) Key = 0;
    if (Sender == EAlbName && (Key == L'/' || Key == L'\\')) Key = 0;
}

void TfrmMain::EAlbNameChange(TObject*)
{
    // Pasted text may carry separators that typing can't.
    const std::wstring text = EAlbName->GetText();
    const std::wstring clean = CleanAlbumName(text);
    if (clean != text) EAlbName->SetText(clean);
}

void TfrmMain::MoveListViewItem(classlib::TListView* View, int From, int To)
{
    classlib::TListItems* items = View->GetItems();
    items->BeginUpdate();
    // Rows keep their identity (and selection) while they move.
    const int step = To < From ? -1 : 1;
    for (int i = From; i != To; i += step) items->Exchange(i, i + step);
    items->EndUpdate();
    if (View == LV2) ListModified = true;
}

void TfrmMain::TmSpinButtons1UpRightClick(TObject*)
{
    if (!btnPgUp->GetEnabled() || LV2->GetSelCount() != 1) return;
    const int i = LV2->GetItemIndex();
    if (i <= 0) return;
    LV2->SetTag(1);
    MoveListViewItem(LV2, i, i - 1);
    LV2->SetItemIndex(i - 1);
    LV2->SetTag(0);
    AlbumIndex = static_cast<int16_t>(i - 1);
    TmP22->SetCaption(PositionText(AlbumIndex, LV2->GetItems()->GetCount()));
}

void TfrmMain::TmSpinButtons1DownLeftClick(TObject*)
{
    if (!btnPgDown->GetEnabled() || LV2->GetSelCount() != 1) return;
    const int i = LV2->GetItemIndex();
    if (i < 0 || i >= LV2->GetItems()->GetCount() - 1) return;
    LV2->SetTag(1);
    MoveListViewItem(LV2, i + 1, i);
    LV2->SetTag(0);
    AlbumIndex = static_cast<int16_t>(i + 1);
    TmP22->SetCaption(PositionText(AlbumIndex, LV2->GetItems()->GetCount()));
}

}  // namespace album
