// The album builder's settings: the values the main window keeps from one run
// to the next, with their defaults and their registry storage.
//
// Storage: per-user values under HKEY_CURRENT_USER and one machine-wide
// value ("StrLanguage", written by the installation, only ever read) under
// HKEY_LOCAL_MACHINE, both below the key kSettingsKey. Both places can be
// moved (root and key path) so that tests work on a private key.
//
// TSettings holds the values as plain fields; the main window copies them
// into its controls after Readini and back out of them before Writeini.
// Everything here runs on the user-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "classlib/Graphics.h"

namespace classlib {
class TRegistry;
}

namespace album {

inline constexpr wchar_t kSettingsKey[] = L"\\Software\\Grembolt\\Velmo\\1.4";
// The language id used when nothing else is known (English).
inline constexpr int kEnglishLangId = 9;

// A registry key: a root and a path below it.
struct TRegistryPlace {
    HKEY Root;
    std::wstring Key;
};

struct TSettingsPlaces {
    TRegistryPlace User{HKEY_CURRENT_USER, kSettingsKey};
    TRegistryPlace Machine{HKEY_LOCAL_MACHINE, kSettingsKey};
};

// What the defaults depend on: the program file (its drive holds the default
// album folder, its folder is the default browsing folder) and the screen
// size (the default main window size).
struct TProgramEnvironment {
    std::wstring ProgramFile;
    int ScreenWidth = 0;
    int ScreenHeight = 0;
    // The user's documents folder ("" when the system names none).
    std::wstring DocumentsFolder;

    // The running program's file, the user's documents folder and the
    // primary screen's size.
    static TProgramEnvironment Current();
    // The folder of the program file with its trailing backslash.
    std::wstring ProgramFolder() const;
    // The documents folder + "\Albums_HTML\"; without one, the drive of
    // the program file + "\Albums_HTML\".
    std::wstring DefaultOutputFolder() const;
};

// The language number of a machine-wide "StrLanguage" text such as "de_07":
// the decimal value of its characters 4 and 5 (counting from 1); 0 when they
// are not a number.
int LanguageNumber(const std::wstring& StrLanguage);
// The default page-label templates chosen by "StrLanguage" ("de_07",
// "ru_25", anything else).
std::wstring DefaultIndexTemplate(const std::wstring& StrLanguage);
std::wstring DefaultImageTemplate(const std::wstring& StrLanguage);

class TSettings {
public:
    explicit TSettings(TSettingsPlaces Places = {}, TProgramEnvironment Env = TProgramEnvironment::Current());

    const TSettingsPlaces& GetPlaces() const { return places_; }
    const TProgramEnvironment& GetEnvironment() const { return env_; }

    // --- the values, named after their registry values
    classlib::TColor BckgrCol = 0;    // page background
    classlib::TColor CellCol = 0;     // thumbnail cells and table border
    classlib::TColor TxtCol = 0;      // page and footer text
    classlib::TColor FNCol = 0;       // link colours
    classlib::TColor FNBckgrCol = 0;  // edited in the options dialog only
    int32_t MaxTh = 0;                // thumbnail box (pixels)
    int32_t MaxImg = 0;               // largest image box when resizing
    int32_t ColumnsNr = 0;            // thumbnails per row
    int32_t RowsNr = 0;               // rows per page
    bool ResizeImg = false;           // resize the image copies
    int32_t L2 = 0, T2 = 0, W2 = 0, H2 = 0;  // preview window geometry
    // The main window ("L", "T", "W", "H").
    int32_t WindowLeft = 0, WindowTop = 0, WindowWidth = 0, WindowHeight = 0;
    // "OutputFolder": the folder under which albums are made.
    std::wstring OutputFolder;
    // "InputFolder": after Readini the folder the browser should show (empty:
    // leave the browser as it is); before Writeini the shell list's folder.
    std::wstring InputFolder;
    // "AlbumFolder": the album name.
    std::wstring AlbumName;
    // Page-label templates ("$p" page number, "$t" number of pages).
    std::wstring S_indx, S_img;
    // The machine-wide "StrLanguage" as Readini found it (empty when missing).
    std::wstring StrLanguage;

    // Puts every value to its default (templates chosen by StrLanguage;
    // InputFolder the program's folder). Creates no folder.
    void SetDefaults();

    // Reads the machine-wide "StrLanguage", then the per-user values (the
    // per-user key is created when missing). A missing or mistyped value, or
    // a grid/size value the album build cannot work with (columns, rows,
    // thumbnail or image size below 1, or more than 32767 thumbnails per
    // page), puts every value to its default. The output folder falls back
    // to the default when the stored one does not exist; the output folder
    // is then created (one level, result ignored). A stored input folder that
    // no longer exists reads as empty. When the per-user key cannot be opened
    // at all the defaults are used as well.
    void Readini();
    // Writes the 23 per-user values. False (nothing written) when the
    // per-user key cannot be opened or created; a failing write raises
    // ERegistryException.
    bool Writeini() const;

    // The language to use at start: the per-user "Language" when present;
    // else the number in the machine-wide "StrLanguage", which is then
    // stored as "Language" (when not 0); else English. Never 0: a value that
    // cannot be read, or 0, gives English.
    int SettleLanguageId() const;
    // Stores Id as the per-user "Language"; false when the key cannot be
    // opened.
    bool StoreLanguageId(int Id) const;

private:
    void ReadUserValues(classlib::TRegistry& Reg);

    TSettingsPlaces places_;
    TProgramEnvironment env_;
};

}  // namespace album
