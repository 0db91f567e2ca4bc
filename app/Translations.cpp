#include "app/Translations.h"

#include <windows.h>

#include <algorithm>

#include "app/Settings.h"
#include "classlib/Exceptions.h"
#include "classlib/StringList.h"
#include "classlib/SysUtils.h"

namespace album {

namespace {

bool StartsWith(const std::wstring& S, const std::wstring& Prefix)
{
    return S.compare(0, Prefix.size(), Prefix) == 0;
}

bool Contains(const std::wstring& S, const std::wstring& Part) { return S.find(Part) != std::wstring::npos; }

// Reads a text file into lines (byte-order mark detection, else ANSI).
// Raises the class library's file and stream errors.
std::vector<std::wstring> ReadLines(const std::wstring& FileName)
{
    classlib::TStringList list;
    list.LoadFromFile(FileName);
    std::vector<std::wstring> lines;
    lines.reserve(static_cast<size_t>(list.GetCount()));
    for (int i = 0; i < list.GetCount(); ++i) lines.push_back(list[i]);
    return lines;
}

struct LanguageDef {
    const wchar_t* Name;
    int Id;
    const wchar_t* Caption;  // nullptr: the name
};

const LanguageDef kLanguages[] = {
    {L"Afrikaans", 54, nullptr},
    {L"Albanian", 28, nullptr},
    {L"Arabic", 1, nullptr},
    {L"Basque", 45, nullptr},
    {L"Bulgarian", 2, nullptr},
    {L"Byelorussian", 35, nullptr},
    {L"Catalan", 3, nullptr},
    {L"Chinese", 4, nullptr},
    {L"Czech", 5, nullptr},
    {L"Danish", 6, nullptr},
    {L"Dutch", 19, nullptr},
    {L"English", 9, nullptr},
    {L"Estonian", 37, nullptr},
    {L"Faeroese", 56, nullptr},
    {L"Farsi", 41, nullptr},
    {L"Finnish", 11, nullptr},
    {L"French", 12, nullptr},
    {L"German", 7, nullptr},
    {L"Greek", 8, nullptr},
    {L"Hebrew", 13, nullptr},
    {L"Hungarian", 14, nullptr},
    {L"Icelandic", 15, nullptr},
    {L"Indonesian", 33, nullptr},
    {L"Italian", 16, nullptr},
    {L"Japanese", 17, nullptr},
    {L"Kampuchean", 44, nullptr},
    {L"Korean", 18, nullptr},
    {L"Laotian", 43, nullptr},
    {L"Latvian", 38, nullptr},
    {L"Lithuanian", 39, nullptr},
    {L"Macedonian", 47, nullptr},
    {L"Maltese", 58, nullptr},
    {L"Maori", 40, nullptr},
    {L"Norwegian", 20, nullptr},
    {L"Polish", 21, nullptr},
    {L"Portuguese", 22, nullptr},
    {L"RhaetoRomanic", 23, L"Rhaeto-Romanic"},
    {L"Romanian", 24, nullptr},
    {L"Russian", 25, nullptr},
    {L"Sami", 59, nullptr},
    {L"Scots_Gaelic", 60, L"Scots Gaelic"},
    {L"Serbo_Croatian", 26, L"Serbo-Croatian"},
    {L"Slovak", 27, nullptr},
    {L"Slovenian", 36, nullptr},
    {L"Serbian", 46, L"Sorbian"},
    {L"Spanish", 10, nullptr},
    {L"Sutu", 48, nullptr},
    {L"Swedish", 29, nullptr},
    {L"Thai", 30, nullptr},
    {L"Tsonga", 49, nullptr},
    {L"Tswana", 50, nullptr},
    {L"Turkish", 31, nullptr},
    {L"Ukrainian", 34, nullptr},
    {L"Urdu", 32, nullptr},
    {L"Venda", 51, nullptr},
    {L"Vietnamese", 42, nullptr},
    {L"Xhosa", 52, nullptr},
    {L"Zulu", 53, nullptr},
};

const wchar_t kLangIdTag[] = L"priLangId=";

}  // namespace

// --- the built-in texts

const std::vector<TTextEntry>& TextTable()
{
    static const std::vector<TTextEntry> table = {
        {L"msg_PrName", L"Velmo - HTML Morvane", L"Velmo - ", L""},
        {L"msg_Files_for_HTML_Album", L"Files for the HTML Album:", L"", L""},
        {L"msg_Album_name", L"Album name:", L"", L""},
        {L"msg_Album_folder", L"Album folder:", L"", L""},
        {L"msg_HTML_options", L"HTML options...", L"", L""},
        {L"mnuFile", L"File", L"", L""},
        {L"mnuHelp", L"Help", L"", L""},
        {L"btnOriginalOrientation", L"Original orientation", L"", L""},
        {L"btnRotate270", L"Rotate 90 deg anti-clockwise", L"", L""},
        {L"btnRotate180", L"Rotate 180 deg", L"", L""},
        {L"btnRotate90", L"Rotate 90 deg clockwise", L"", L""},
        {L"btnStart", L"Start", L"", L""},
        {L"btnExit", L"Exit", L"", L""},
        {L"btnCancel", L"Cancel", L"", L""},
        {L"btnAdd", L"Add to list >>", L"", L""},
        {L"btnAddAll", L"Add all to list >>", L"", L""},
        {L"btnRemove", L"Remove", L"", L""},
        {L"btnRemoveAll", L"Remove all", L"", L""},
        {L"strPreview", L"Preview", L"", L""},
        {L"strAllGraphics", L"All supported Graphic Files", L"", L""},
        {L"strAllFiles", L"All Files (*.*)", L"", L""},
        {L"msgMainBackground", L"Main background:", L"", L""},
        {L"msgThumbnailBackground", L"Thumbnail background:", L"", L""},
        {L"msgTextBackground", L"Bottom bar:", L"", L""},
        {L"msgHeadline", L"Title and description:", L"", L""},
        {L"msgFilenameText", L"Bottom text:", L"", L""},
        {L"msgColumns", L"Thumbnail columns:", L"", L""},
        {L"msgRows", L"Thumbnail rows:", L"", L""},
        {L"msgThumbSize", L"Thumbnail size (in pixels):", L"", L""},
        {L"msgImageSize", L"Max. image size (in pixels):", L"", L""},
        {L"msgColors", L" Colors ", L" ", L" "},
        {L"msgResizeCopies", L"Resize the copies of the original images", L"", L""},
        {L"msgSettings", L"Preferences and Settings", L"", L""},
        {L"msgIndexCounterInfo", L"Preview page number:", L"", L""},
        {L"msgPageCounterInfo", L"Page number:", L"", L""},
        {L"msgPageHint", L"$p-current page; $t-total pages", L"", L""},
        {L"msgAbout", L"About Velmo Morvane", L"", L" Velmo Morvane"},
        {L"msgSelectLanguage", L"Select language", L"", L""},
        {L"msgFileOf", L"File", L"", L""},
        {L"msgAlbumExist", L"Album \"%f1\" already exists. Overwrite?", L"", L""},
        {L"msgCouldNotWrite",
         L"Could not write file(s) to output folder. Check permissions or remove write protection.", L"", L""},
        {L"msgESC", L"Press ESC to abort", L"", L""},
        {L"msgCancelling", L"Cancelling...", L"", L""},
        {L"msgErrorCreateAlbum", L"Could not create the album.", L"", L""},
        {L"msgAlbumCreated", L"HTML Album has been successfully created!", L"", L""},
        {L"msgSelectDir", L"Select folder:", L"", L""},
        {L"btnOpenList", L"Open file list...", L"", L""},
        {L"btnSaveList", L"Save file list...", L"", L""},
        {L"hintFileUp", L"Move file up", L"", L""},
        {L"hintFileDown", L"Move file down", L"", L""},
        {L"strTitle", L"Page Title:", L"", L""},
        {L"strDescription", L"Description:", L"", L""},
        {L"msgZoomOut", L"Zoom Out", L"", L""},
        {L"msgZoomIn", L"Zoom In", L"", L""},
        {L"msgZoom100", L"Zoom 100%", L"", L""},
        {L"msgAutoFitZoom", L"Auto-Fit Zoom", L"", L""},
        {L"msgFirstFile", L"First File in the List", L"", L""},
        {L"msgPreviousFile", L"Previous File in the List", L"", L""},
        {L"msgNextFile", L"Next File in the List", L"", L""},
        {L"msgLastFile", L"Last File in the List", L"", L""},
        {L"msgRotation", L"Rotation:", L"", L""},
        {L"hintRightClick", L"Right-click a picture for an enlarged preview", L"", L""},
        {L"msgLargePreView", L"Enlarged preview...", L"", L""},
        {L"msgNameEmpty",
         L"Please enter a name for the album.", L"", L""},
        {L"msgNameCharacters",
         L"The album name \"%f1\" contains a character that Windows does not allow in a folder name: \\ / : * ? \" < > | or a control character. Please remove it and press Start again.", L"", L""},
        {L"msgNameDots",
         L"An album name cannot be \".\" or \"..\": they stand for the album folder itself and the folder above it. Please enter another name.", L"", L""},
        {L"msgNameTrailing",
         L"The album name \"%f1\" ends with a dot or a space; Windows does not let a folder name end with a dot or a space. Please remove it and press Start again.", L"", L""},
        {L"msgNameDevice",
         L"The album name \"%f1\" is a name Windows reserves for a device (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, also with an extension). Please choose another name.", L"", L""},
        {L"msgCancelledKept",
         L"The build was cancelled. The album \"%f1\" was left as it was before: nothing of this build was written into it.", L"", L""},
        {L"msgCancelledNone",
         L"The build was cancelled. No album \"%f1\" was written, and nothing of this build was left in the album folder.", L"", L""},
        {L"msgNothingBuilt",
         L"None of the pictures could be read, so no album was written; the album folder was left as it was. Check that these files are pictures and can be opened:", L"", L""},
        {L"msgReplaceFailed",
         L"The new album could not take the place of the old one in \"%f1\" (%f2). The old album was left as it was. Close any program that shows files of the album and press Start again.", L"", L""},
        {L"msgAlbumFolderInUse",
         L"The folder of the album \"%f1\" already holds album files (pictures, pages or the viewer). Build the album into it? Files of an earlier build are replaced; files you put there yourself are kept.", L"", L""},
        {L"msgFilesInTheWay",
         L"These files in the album folder were not written by an album build, but the new album would write files of the same names. Nothing was written; your files are unchanged. Rename or move them (or choose another album name) and press Start again:", L"", L""},
        {L"msgAlbumBusy",
         L"Another copy of the program is building the album \"%f1\" right now. Nothing was changed; wait until that build has finished and press Start again.", L"", L""},
        {L"msgViewerNotCopied",
         L"The picture viewer could not be copied into the album (\"%f1\"), so the album was not built; the album folder was left as it was. Check that the program's \"viewer\" folder is complete and that the album folder's path is not too long, then press Start again.", L"", L""},
        {L"msgFilesMissing",
         L"The album was not put in place because files its pages need were not written; the album folder was left as it was. Check the free space and the album folder, then press Start again. Missing:", L"", L""},
        {L"msgIncompletePictures",
         L"These pictures are damaged: the album shows each of them only as far as it could be read. Replace them with undamaged files and build the album again:", L"", L""},
        {L"strPictureIncomplete",
         L"the picture is incomplete", L"", L""},
        // Messages of failures the user can act on, questions, and the
        // words of the rotation label.
        {L"msgNoPictures",
         L"None of the chosen files is a picture this program can read, so nothing was added. Choose picture "
         L"files (JPEG, PNG, TIFF, GIF, BMP ...) and add them again.",
         L"", L""},
        {L"msgListNotSaved", L"The album list has changed since it was last saved. Close without saving it?", L"",
         L""},
        {L"msgBuildFailed",
         L"The album could not be finished; the album folder was left as it was before the build. The reason "
         L"is below; put it right and press Start again.",
         L"", L""},
        {L"msgNoAlbumName", L"The album has no name. Type a name into the \"Album name\" field, then press Start.",
         L"", L""},
        {L"msgSkippedPictures",
         L"These pictures could not be read and are not in the album; check or replace the files and press Start "
         L"again:",
         L"", L""},
        {L"msgNotAdded", L"These files were not added to the album list:", L"", L""},
        {L"strFileEmpty", L"the file is empty", L"", L""},
        {L"msgAndMore", L"... and %n1 more", L"", L""},
        {L"msgAlbumCreatedAt", L"Pictures in the album: %n1. Album folder: \"%f1\".", L"", L""},
        {L"msgRemoveFromAlbum", L"Remove \"%f\" from the album list? The file itself stays where it is.", L"", L""},
        {L"strClockwise", L"clockwise", L"", L""},
        {L"strAntiClockwise", L"anti-clockwise", L"", L""},
        {L"msgTranslateMenu", L"Translate to your language...", L"", L""},
        {L"msgAboutNotice", L"Web photo albums, made on your own computer.", L"", L""},
        {L"msgNotAlbumList",
         L"\"%f1\" is not an album list: line %n1 does not describe a picture. Nothing was opened; your album "
         L"list is unchanged. Choose a file saved with \"Save file list...\", or correct that line in a text "
         L"editor.",
         L"", L""},
        {L"msgEmptyAlbumList",
         L"\"%f1\" is not an album list: none of its lines describes a picture. Nothing was opened; "
         L"your album list is unchanged. Choose a file saved with \"Save file list...\".",
         L"", L""},
        {L"msgListNotRead",
         L"The album list \"%f1\" could not be read, so nothing was opened; your album list is unchanged. Check "
         L"that the file still exists, that you may read it and that no other program holds it open, then try "
         L"again.",
         L"", L""},
        {L"msgListVersion",
         L"\"%f1\" is an album list of version %f2, which this program cannot read. Nothing was opened; your album list is unchanged. Open it with the newer program that saved it.", L"", L""},
        {L"msgMissingPictures",
         L"The album list \"%f1\" was opened, but these pictures are not where it says they are. They stay in the list; move them back, or remove them from the list before you press Start:", L"", L""},
        {L"msgOpeningList",
         L"Opening the album list: %n1 of %n2 pictures.", L"", L""},
        {L"msgListNotWritten",
         L"The album list could not be saved as \"%f1\"; a list already saved under that name was left as it was. Choose another folder or file name, or check that you "
         L"may write to that folder and that the file is neither read-only nor open in another program.",
         L"", L""},
    };
    return table;
}

const TTextEntry* FindText(const std::wstring& Key)
{
    for (const auto& e : TextTable())
        if (Key == e.Key) return &e;
    return nullptr;
}

int UserPrimaryLanguageId() { return PRIMARYLANGID(::GetUserDefaultLangID()); }

// --- translation files

int LanguageIdOfFile(const std::wstring& FileName)
{
    std::vector<std::wstring> lines;
    try {
        lines = ReadLines(FileName);
    } catch (const classlib::Exception&) {
        return 0;
    }
    for (size_t i = 0; i < 4 && i < lines.size(); ++i) {
        if (StartsWith(lines[i], kLangIdTag))
            return classlib::StrToIntDef(classlib::Trim(classlib::Copy(lines[i], 11, 2)), 0);
    }
    return 0;
}

std::vector<std::wstring> ListTranslationFiles(const std::wstring& Folder)
{
    std::vector<std::wstring> names;
    const std::wstring dir = classlib::IncludeTrailingPathDelimiter(Folder);
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((dir + L"Morvane_*.txt").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring name = fd.cFileName;
        // The pattern can also match longer extensions through short names.
        if (!classlib::SameText(classlib::ExtractFileExt(name), L".txt")) continue;
        names.push_back(std::move(name));
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    std::sort(names.begin(), names.end(),
              [](const std::wstring& a, const std::wstring& b) { return classlib::CompareText(a, b) < 0; });
    return names;
}

// --- TLanguageMenu

TLanguageMenu::TLanguageMenu()
{
    items_.reserve(std::size(kLanguages));
    for (const auto& def : kLanguages)
        items_.push_back({def.Name, def.Id, def.Caption ? def.Caption : def.Name, def.Id == kEnglishLangId, L""});
}

const TLanguageItem* TLanguageMenu::FindById(int Id) const
{
    for (const auto& item : items_)
        if (item.Id == Id) return &item;
    return nullptr;
}

void TLanguageMenu::SearchLanguages(const std::wstring& Folder, const std::vector<std::wstring>& Names)
{
    const std::wstring dir = classlib::IncludeTrailingPathDelimiter(Folder);
    for (const auto& name : Names) {
        const std::wstring path = dir + name;
        const int id = LanguageIdOfFile(path);
        if (id == 0) continue;
        for (auto& item : items_) {
            if (item.Id == id) {
                item.Visible = true;
                item.Hint = path;
                break;
            }
        }
    }
}

void TLanguageMenu::SearchLanguages(const std::wstring& Folder)
{
    SearchLanguages(Folder, ListTranslationFiles(Folder));
}

int TLanguageMenu::CheckedIndex(int CurrentLangId) const
{
    int english = -1;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].Visible && items_[i].Id == CurrentLangId) return static_cast<int>(i);
        if (english < 0 && items_[i].Id == kEnglishLangId) english = static_cast<int>(i);
    }
    return english;
}

bool TLanguageMenu::OffersTranslation(int SystemLangId) const
{
    for (const auto& item : items_)
        if (item.Visible && item.Id == SystemLangId) return false;
    return true;
}

std::wstring TLanguageMenu::TranslationFile(int LangId) const
{
    const TLanguageItem* item = FindById(LangId);
    if (!item || item->Hint.empty() || !classlib::FileExists(item->Hint)) return {};
    return item->Hint;
}

// --- TTranslation

void TTranslation::Clear()
{
    lines_.clear();
    active_ = false;
}

bool TTranslation::LoadFromFile(const std::wstring& FileName)
{
    Clear();
    std::vector<std::wstring> lines;
    try {
        lines = ReadLines(FileName);
    } catch (const classlib::Exception&) {
        return false;
    }
    for (auto& line : lines)
        if (!line.empty() && !StartsWith(line, L"//")) lines_.push_back(std::move(line));
    active_ = true;
    return true;
}

bool TTranslation::SelectLanguage(const TLanguageMenu& Menu, int LangId)
{
    Clear();
    if (LangId == kEnglishLangId) return false;
    const std::wstring file = Menu.TranslationFile(LangId);
    return !file.empty() && LoadFromFile(file);
}

std::wstring TTranslation::Translate(const std::wstring& Key) const
{
    const std::wstring head = Key + L"=";
    for (const auto& line : lines_) {
        if (StartsWith(line, head)) {
            std::wstring text = line.substr(head.size());
            return text.empty() ? Key : text;
        }
    }
    return Key;
}

std::wstring TTranslation::Text(const TTextEntry& Entry) const
{
    if (!active_) return Entry.English;
    return Entry.Prefix + Translate(Entry.Key) + Entry.Suffix;
}

std::wstring TTranslation::Text(const std::wstring& Key) const
{
    const TTextEntry* entry = FindText(Key);
    return entry ? Text(*entry) : Key;
}

std::wstring RotationLabelText(const TTranslation& T, const std::wstring& Prefix, const std::wstring& Rotation)
{
    const std::wstring degrees = L"\u00B0";
    if (Rotation == L"90") return Prefix + L" 90" + degrees + L" " + T.Text(L"strAntiClockwise");
    if (Rotation == L"270") return Prefix + L" 90" + degrees + L" " + T.Text(L"strClockwise");
    return Prefix + L" " + Rotation + degrees;
}

// --- preparing a new translation

std::wstring TranslationFileName(const TLanguageMenu& Menu, const std::wstring& Name)
{
    const std::wstring shortName = classlib::Copy(Name, 1, 3);
    for (const TLanguageItem& item : Menu.Items())
        if (item.Name != Name && classlib::SameText(classlib::Copy(item.Name, 1, 3), shortName))
            return L"Morvane_" + Name + L".txt";
    return L"Morvane_" + shortName + L".txt";
}

TTranslationOffer PrepareTranslation(const std::wstring& Folder, const TLanguageMenu& Menu, int SystemLangId)
{
    TTranslationOffer offer;
    const std::wstring dir = classlib::IncludeTrailingPathDelimiter(Folder);
    if (const TLanguageItem* item = Menu.FindById(SystemLangId)) {
        offer.Name = item->Name;
        offer.IdText = classlib::IntToStr(SystemLangId);
        offer.Show = true;
    }
    offer.Message = classlib::StringReplace(
        L"Currently there is no %f translation of this program, but you can translate it by yourself, it is not "
        L"very hard. You can edit the file:",
        L"%f", offer.Name, classlib::rfReplaceAll);
    offer.Caption = L"Translate me to " + offer.Name + L"!";
    offer.Template = dir + L"Morvane_000.tx_";
    offer.Target = dir + TranslationFileName(Menu, offer.Name);

    // Without a language name the target would be a nameless file nobody is
    // told about: nothing is written then.
    if (offer.Show && classlib::FileExists(offer.Template)) {
        try {
            classlib::TStringList lines;
            lines.LoadFromFile(offer.Template);
            for (int i = lines.GetCount() - 1; i >= 0; --i) {
                const std::wstring line = lines[i];
                if (Contains(line, L"////"))
                    lines.Delete(i);
                else if (Contains(line, L"//priLangId=XX"))
                    lines.SetStrings(i, L"//priLangId=" + offer.IdText +
                                            L"  <--Remove leading double-slash to activate this file");
            }
            lines.SetStrings(0, L"[Velmo Morvane v.1.4 - " + offer.Name + L"]");
            if (!classlib::FileExists(offer.Target)) lines.SaveToFile(offer.Target, classlib::encANSI);
        } catch (const classlib::Exception&) {
            // A template that cannot be read or a folder that cannot be
            // written leaves the user with the template's path.
        }
    }
    offer.FileToEdit = classlib::FileExists(offer.Target) ? offer.Target : offer.Template;
    return offer;
}

}  // namespace album
