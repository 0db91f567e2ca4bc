// The main window's languages: the language menu, the interface texts of
// the language in use and the offer to translate.
#include "app/untMain.h"

#include "app/FormParts.h"
#include "app/untAbout.h"
#include "app/untOptions.h"
#include "app/untPreView.h"
#include "app/untScreen.h"
#include "app/untTranslate.h"

#include "app/untMainShared.h"

namespace album {

using classlib::TObject;

using namespace mainform;

// ---- translations ---------------------------------------------------------------

toolbar::TMbItem* TfrmMain::LanguageItem(int Id) const
{
    for (toolbar::TMbItem* item : LanguageItems)
        if (item->GetTag() == Id) return item;
    return nullptr;
}

void TfrmMain::SearchLanguages()
{
    classlib::Application->ProcessMessages();
    std::vector<std::wstring> names;
    classlib::TStrings* files = LngFiles->GetItems();
    for (int i = 0; i < files->GetCount(); ++i) names.push_back(files->GetStrings(i));
    const std::wstring folder = Settings.GetEnvironment().ProgramFolder() + L"Languages\\";
    Languages.SearchLanguages(folder, names);
    const std::vector<TLanguageItem>& items = Languages.Items();
    for (std::size_t i = 0; i < items.size() && i < LanguageItems.size(); ++i) {
        LanguageItems[i]->SetVisible(items[i].Visible);
        LanguageItems[i]->Hint = items[i].Hint;
    }
}

void TfrmMain::SetSysLanguage() { CurrentLangId = Settings.SettleLanguageId(); }

std::wstring TfrmMain::Translate(const std::wstring& Key) const { return Translation.Translate(Key); }

void TfrmMain::SetLanguage()
{
    if (CurrentLangId == kEnglishLangId || !Translation.SelectLanguage(Languages, CurrentLangId)) Translation.Clear();
    TxtFile->GetLines()->Clear();
    for (const std::wstring& line : Translation.Lines()) TxtFile->GetLines()->Add(line);
    const TTranslation& t = Translation;
    auto text = [&](const wchar_t* Key) { return t.Text(std::wstring(Key)); };

    SetCaption(text(L"msg_PrName"));
    L3->SetCaption(text(L"msg_Files_for_HTML_Album"));
    LAlb->SetCaption(text(L"msg_Album_name"));
    LDir->SetCaption(text(L"msg_Album_folder"));
    btnAdv->SetCaption(text(L"msg_HTML_options"));
    mnuFile->SetCaption(text(L"mnuFile"));
    mnuHelp->SetCaption(text(L"mnuHelp"));
    R1->Hint = text(L"btnOriginalOrientation");
    R2->Hint = text(L"btnRotate270");
    R3->Hint = text(L"btnRotate180");
    R4->Hint = text(L"btnRotate90");
    btnStart->SetCaption(text(L"btnStart"));
    btnCancel->SetCaption(text(L"btnExit"));
    btnAdd->SetCaption(text(L"btnAdd"));
    btnAddAll->SetCaption(text(L"btnAddAll"));
    btnRemove->SetCaption(text(L"btnRemove"));
    btnRemoveAll->SetCaption(text(L"btnRemoveAll"));
    ChB1->SetCaption(text(L"strPreview"));
    ChB2->SetCaption(ChB1->GetCaption());
    const int fileType = CB1->GetItemIndex();
    CB1->GetItems()->SetStrings(0, text(L"strAllGraphics"));
    CB1->GetItems()->SetStrings(6, text(L"strAllFiles"));
    CB1->SetItemIndex(fileType);
    if (fileType >= 0 && fileType < static_cast<int>(FileMasks.size()))
        LV1->SetFilter(FileMasks[static_cast<std::size_t>(fileType)]);
    mnuAbout->SetCaption(text(L"msgAbout") + L"...");
    mnuLanguage->SetCaption(text(L"msgSelectLanguage"));
    msgFileOf = text(L"msgFileOf");
    msgAlbumExist = text(L"msgAlbumExist");
    msgCouldNotWrite = text(L"msgCouldNotWrite");
    msgESC = text(L"msgESC");
    msgErrorCreateAlbum = text(L"msgErrorCreateAlbum");
    msgAlbumCreated = text(L"msgAlbumCreated");
    msgSelectDir = text(L"msgSelectDir");
    msgIncompletePictures = text(L"msgIncompletePictures");
    strPictureIncomplete = text(L"strPictureIncomplete");
    btnOpen->SetCaption(text(L"btnOpenList"));
    btnSave->SetCaption(text(L"btnSaveList"));
    btnPgUp->Hint = text(L"hintFileUp");
    btnPgDown->Hint = text(L"hintFileDown");
    LBL_Title->SetCaption(text(L"strTitle"));
    LBL_Desc->SetCaption(text(L"strDescription"));
    msgRotation = text(L"msgRotation");
    LV1->Hint = text(L"hintRightClick");
    popLargePreView->SetCaption(text(L"msgLargePreView"));
    msgNotAlbumList = text(L"msgNotAlbumList");
    msgEmptyAlbumList = text(L"msgEmptyAlbumList");
    msgListNotRead = text(L"msgListNotRead");
    msgListNotWritten = text(L"msgListNotWritten");
    msgListVersion = text(L"msgListVersion");
    msgMissingPictures = text(L"msgMissingPictures");
    msgAndMore = text(L"msgAndMore");
    msgOpeningList = text(L"msgOpeningList");

    msgNoPictures = text(L"msgNoPictures");
    msgListNotSaved = text(L"msgListNotSaved");
    msgBuildFailed = text(L"msgBuildFailed");
    msgNoAlbumName = text(L"msgNoAlbumName");
    msgSkippedPictures = text(L"msgSkippedPictures");
    tbTranslate->SetCaption(text(L"msgTranslateMenu"));

    LV2->Hint = LV1->Hint;
    // One Alt+letter for each, whatever the language: the menu row first
    // (Alt with a menu's first letter opens it), then the buttons in order
    // of use, the check boxes, the labels of fields.
    GiveAccelerators(mnuFile, mnuHelp, btnAdd, btnAddAll, btnStart, btnCancel, btnAdv, btnOpen, btnSave, btnRemove,
                     btnRemoveAll, ChB1, ChB2, LAlb, LDir, LBL_Title, LBL_Desc, L3);
    mnuExit->SetCaption(btnCancel->GetCaption());
    // Texts made from messages show in the new language at once.
    const int albumCount = LV2->GetItems()->GetCount();
    if (AlbumIndex >= 0 && AlbumIndex < albumCount) {
        TmP22->SetCaption(PositionText(AlbumIndex, albumCount));
        if (const TAlbumRow* record = AlbumRowOf(LV2->GetItems()->GetItem(AlbumIndex)))
            ShowRotationLabel(record->SubItem(siRotation));
    }
    if (ShellIndex >= 0 && ShellIndex < LV1->GetItems()->GetCount())
        TmP2->SetCaption(PositionText(ShellIndex, LV1->GetItems()->GetCount()));
    if (frmOptions) frmOptions->ApplyTexts(t);
    if (frmAbout) frmAbout->ApplyTexts(t);
    if (frmTranslate) frmTranslate->ApplyTexts(t);
    if (frmScreen) frmScreen->ApplyTexts(t);
    if (frmPreview) frmPreview->ApplyTexts(t);
    LayoutControls();
}

void TfrmMain::EnglishClick(TObject* Sender)
{
    auto* item = dynamic_cast<toolbar::TMbItem*>(static_cast<classlib::TComponent*>(Sender));
    if (!item) return;
    if (Settings.StoreLanguageId(static_cast<int>(item->GetTag()))) {
        SetSysLanguage();
        SetLanguage();
    }
}

void TfrmMain::mnuLanguagePopUp(TObject*, bool)
{
    const int checked = Languages.CheckedIndex(CurrentLangId);
    for (std::size_t i = 0; i < LanguageItems.size(); ++i)
        LanguageItems[i]->SetChecked(static_cast<int>(i) == checked);
    const bool offer = Languages.OffersTranslation(SystemLangId);
    tbTranslate->SetVisible(offer);
    tbTranslate2->SetVisible(offer);
}

void TfrmMain::tbTranslateClick(TObject*)
{
    const TTranslationOffer offer =
        PrepareTranslation(Settings.GetEnvironment().ProgramFolder() + L"Languages\\", Languages, SystemLangId);
    if (frmTranslate && offer.Show) frmTranslate->ShowOffer(offer);
}

}  // namespace album
