// The album builder's interface texts and their translations.
//
// Every interface text has a key and a built-in English form (TextTable).
// Translation files "Morvane_*.txt" in the "Languages" folder beside the
// program replace texts key by key. A translation file is a text file (a
// UTF-8 or UTF-16 byte-order mark selects that encoding, otherwise the system
// ANSI code page) of lines:
//   - one of the first four lines begins with "priLangId=" followed by the
//     language id in the next two characters (blanks allowed), e.g.
//     "priLangId=07";
//   - lines beginning with "//" are comments, empty lines are ignored;
//   - other lines are key "=" text: the text runs from the first "=" to the
//     end of the line; keys are compared case-sensitively.
// The template "Morvane_000.tx_" is an English file whose "priLangId=" line
// is commented out as "//priLangId=XX"; PrepareTranslation turns it into a
// new translation file for the user's own language.
//
// This unit is the machinery only: putting the texts into the windows'
// controls is the windows' job. Everything runs on the user-interface thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace album {

// One interface text. A translated text is shown as Prefix + text + Suffix
// (e.g. the window caption "Velmo - " + text); the English text is shown as
// it is.
struct TTextEntry {
    const wchar_t* Key;
    const wchar_t* English;
    const wchar_t* Prefix;
    const wchar_t* Suffix;
};

// The built-in texts in the order they are applied.
const std::vector<TTextEntry>& TextTable();
// The entry of Key, or nullptr.
const TTextEntry* FindText(const std::wstring& Key);

// The primary language id of the user's locale.
int UserPrimaryLanguageId();

// The "priLangId=" number of a translation file: the first of its lines 0 to
// 3 that begins with "priLangId=" gives the decimal value of its characters
// 11 and 12 with blanks trimmed. 0 when that is not a number, when no such
// line is found, or when the file cannot be read.
int LanguageIdOfFile(const std::wstring& FileName);

// The names (without folder) of the files "Morvane_*.txt" in Folder, sorted
// case-insensitively; empty when the folder cannot be listed.
std::vector<std::wstring> ListTranslationFiles(const std::wstring& Folder);

// A language of the language menu.
struct TLanguageItem {
    std::wstring Name;     // component name, e.g. "Scots_Gaelic"
    int Id;                // Windows primary language id (the item's Tag)
    std::wstring Caption;  // shown text, e.g. "Scots Gaelic"
    bool Visible;          // a translation was found (English always)
    std::wstring Hint;     // full path of the translation file found
};

// The languages of the language menu, in menu order, and which of them have
// translation files.
class TLanguageMenu {
public:
    // Every known language; only English is visible.
    TLanguageMenu();

    const std::vector<TLanguageItem>& Items() const { return items_; }
    // The first item with Id, or nullptr.
    const TLanguageItem* FindById(int Id) const;

    // For each name of Names in order (files in Folder): the first item whose
    // Id is the file's language id becomes visible with Hint = Folder + name.
    // Files that cannot be read or carry no id are skipped; a later file with
    // the same id replaces the Hint.
    void SearchLanguages(const std::wstring& Folder, const std::vector<std::wstring>& Names);
    // The same over ListTranslationFiles(Folder).
    void SearchLanguages(const std::wstring& Folder);

    // The index of the item to show checked for CurrentLangId: the visible
    // item with that Id, else English.
    int CheckedIndex(int CurrentLangId) const;
    // True when the user's own language has no visible item: the menu then
    // offers to prepare a translation.
    bool OffersTranslation(int SystemLangId) const;
    // The translation file for LangId: the Hint of the first item with that
    // Id when it names an existing file, else empty (English texts).
    std::wstring TranslationFile(int LangId) const;

private:
    std::vector<TLanguageItem> items_;
};

// The lines of the translation in use, and the texts they give.
class TTranslation {
public:
    // Drops the translation: every text is English again.
    void Clear();
    // Loads FileName without its comment lines and empty lines. False, with
    // the translation cleared, when the file cannot be read.
    bool LoadFromFile(const std::wstring& FileName);
    // Loads the translation file of LangId from Menu (nothing for English or
    // when the language has no existing file). False when English texts
    // are to be used.
    bool SelectLanguage(const TLanguageMenu& Menu, int LangId);

    // True while a translation file is loaded.
    bool Active() const { return active_; }
    const std::vector<std::wstring>& Lines() const { return lines_; }

    // The text after the first "=" of the first line that begins with
    // Key + "="; Key itself when no line matches or the text is empty.
    std::wstring Translate(const std::wstring& Key) const;
    // The text to show for Entry: English when no translation is active,
    // otherwise Prefix + Translate(Key) + Suffix.
    std::wstring Text(const TTextEntry& Entry) const;
    // Text of the table entry Key; Key itself for an unknown key.
    std::wstring Text(const std::wstring& Key) const;

private:
    std::vector<std::wstring> lines_;
    bool active_ = false;
};

// The rotation label of an album row turned by Rotation ("90", "180" or
// "270" degrees anti-clockwise, the row's stored form): Prefix (the
// "Rotation:" text) and the turn as the picture will be turned, e.g.
// "Rotation: 90\u00B0 clockwise" for "270". Any other text is shown as
// Prefix + " " + Rotation + "\u00B0".
std::wstring RotationLabelText(const TTranslation& T, const std::wstring& Prefix, const std::wstring& Rotation);

// What the "Translate to your language..." command prepared.
struct TTranslationOffer {
    bool Show = false;        // false when the user's language is unknown
    std::wstring Name;        // component name of the user's language
    std::wstring IdText;      // its id in decimal
    std::wstring Template;    // Folder + "Morvane_000.tx_"
    std::wstring Target;      // Folder + TranslationFileName(Menu, Name)
    std::wstring FileToEdit;  // Target when it exists, else Template
    std::wstring Message;     // text of the information window
    std::wstring Caption;     // caption of the information window
};

// The name of the translation file prepared for the language Name:
// "Morvane_" + its first three characters + ".txt", or "Morvane_" + the whole
// name + ".txt" when another language of Menu starts with the same three
// characters (ignoring case), so that two languages never share a file.
std::wstring TranslationFileName(const TLanguageMenu& Menu, const std::wstring& Name);

// Prepares a translation file for SystemLangId in Folder (the "Languages"
// folder): when the template exists and Target does not, Target is written
// (system ANSI code page) from the template with every line containing
// "////" removed, every line containing "//priLangId=XX" replaced by
// "//priLangId=<id>  <--Remove leading double-slash to activate this file"
// and line 0 replaced by "[Velmo Morvane v.1.4 - <Name>]". An existing Target
// is never overwritten; errors while reading the template or writing Target
// are ignored. Nothing is written for a language the menu does not know.
TTranslationOffer PrepareTranslation(const std::wstring& Folder, const TLanguageMenu& Menu, int SystemLangId);

}  // namespace album
