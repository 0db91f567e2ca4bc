// The album build: turns the album list into an album folder holding a JPEG
// copy of every picture ("Images"), a JPEG thumbnail of every picture
// ("Thumbnails\tn_<name>.jpg"), the navigation pictures recoloured to the
// album's colours, a copy of the program's "viewer" folder and the index
// pages (AlbumPages.h).
//
// BuildAlbum runs on the user-interface thread and talks to the main window
// only through TAlbumBuildHost, always from that thread: message boxes, the
// status text, the enabled state of the controls, the two build progress
// bars, message processing (once per image, at every progress report and
// while it waits for a photo), the cancel flag and the opening of the
// finished album. Tests replace the host to answer the questions and to
// look at what the build reported.
//
// Threads: the photos are read, decoded, fitted, turned and encoded by
// worker threads, one photo per worker, a bounded number of photos ahead of
// the one in turn and within a budget of image memory sized from each
// photo's parameters; each photo's file is opened and read once, its format
// found once, and both of its files are made from the one decoded image and
// written by the worker under passing names ("<file>.<row>.part" beside the
// final one). The user-interface thread takes the photos in list order and
// does everything the user sees: the image counter, the photo's progress
// (rising from 0 to 100 over its whole work), the files moved to their
// names, the row rewritten, the cancel flag looked at between images; while
// it waits for a photo it serves messages at least every 15 ms. A cancel
// stops the build before the next image: the passing files of the photos
// after it are removed, so nothing of them is written.
//
// Album folder: the album is written into a work folder beside it and put in
// its place only when the build finished with at least one picture
// (AlbumFolder.h); a cancelled or failed build, or one of which no picture
// could be read, leaves the album folder as it was and says so. An album
// name that Windows does not accept for a folder is refused with a message
// naming the rule, before anything is written.
//
// Output names: every row gets a name of its own (OutputNamesOf,
// AlbumNames.h), the file-name part of its path with the extension ".jpg"
// and, when an earlier row has that name already, a numeric suffix; the
// pages link to the same names.
//
// Pixels: the album's JPEGs are plain RGB (YCbCr) files whatever the source
// holds: transparent parts are laid onto the page's background colour
// (BckgrCol) before anything is made of the picture, and a CMYK JPEG is
// converted (never copied byte for byte).
//
// Rows: every row's Checked is set at the start of its turn and cleared when
// its image fails; a successful row's sub-items are rewritten as
// [rotation, running number, thumbnail width, thumbnail height, title,
// description]. Only checked rows appear on the pages.
//
// Failure: what the build can survive it handles itself (an unreadable
// image: row unchecked, its SkipReason set, and skipped; an image read only
// in part, such as a file that ends early: written with what was read, its
// row's Incomplete set; a failed "viewer"
// copy: a message, then the build goes on). Anything else raised on the way (a missing navigation
// picture, resampling, rotating, saving a JPEG, writing a page) ends the
// build and passes to the caller; the host's controls are restored and the
// progress bars hidden before it leaves.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/AlbumListFile.h"
#include "app/AlbumNames.h"
#include "classlib/Graphics.h"

namespace classlib {
class TComponent;
}

namespace imaging {
class TImgView;
}

namespace album {

class TSettings;
class TTranslation;

// The caption of every message box of the program.
inline constexpr wchar_t kMessageCaption[] = L"Velmo Morvane";

// What the build needs of the main window. The defaults work without a
// window: message boxes with kMessageCaption owned by OwnerWindow(), a plain
// message pump, ShellExecute for the finished album; the control hooks do
// nothing.
class TAlbumBuildHost {
public:
    virtual ~TAlbumBuildHost() = default;

    // Set to 1 (by the window's Exit button or Esc) to stop the running build
    // before its next image; the build puts it back to 0 when it ends.
    uint8_t CancelRequested = 0;

    // A message box with the caption kMessageCaption; Flags are the
    // MessageBoxW flags (buttons, icon). Returns the button pressed.
    virtual int MessageBox(const std::wstring& Text, UINT Flags);
    // The album name field takes the focus (when it can).
    virtual void FocusAlbumName() {}
    // The status pane's text (the "press Esc" hint during the build).
    virtual void SetStatusText(const std::wstring& Text) { (void)Text; }
    // Disables the controls that could change the album list or the settings
    // (remembering what DisableControls changed) ...
    virtual void DisableControls() {}
    // ... and gives them back their state.
    virtual void RestoreControls() {}
    // Shows or hides both build progress bars (their visibility tells the
    // window that a build runs).
    virtual void ShowBuildProgress(bool Visible) { (void)Visible; }
    // The image counter bar (0 .. 99) and the per-operation bar (0 .. 100).
    virtual void SetImagePercent(int Percent) { (void)Percent; }
    virtual void SetStepPercent(int Percent) { (void)Percent; }
    // Handles the pending window messages (and synchronised calls).
    virtual void ProcessMessages();
    // Opens FileName with the shell's default action, shown restored.
    virtual void OpenDocument(const std::wstring& FileName);
    // The owner of message boxes and of the shell copy's windows.
    virtual HWND OwnerWindow() { return nullptr; }
};

// Where the build ends.
enum class TAlbumBuildOutcome {
    EmptyList,       // no rows: nothing happened
    NameRefused,     // the album name breaks a rule of folder names (CheckAlbumName)
    Declined,        // the album exists and overwriting was not confirmed
    NotWritable,     // the work folder could not be made or written to
    Busy,            // another build of the same album runs; nothing touched
    FilesInTheWay,   // files no build wrote have names this build writes; nothing written
    FilesMissing,    // a file the pages need (viewer, picture) did not arrive; not published
    FoldersMissing,  // "Images" or "Thumbnails" could not be created
    Cancelled,       // stopped by CancelRequested between images; the album folder as it was
    NotPublished,    // finished, but the new album could not take the old one's place
    Completed        // the image loop ran to its end; the album is in place when ImageCount > 0
};

struct TAlbumBuildResult {
    TAlbumBuildOutcome Outcome = TAlbumBuildOutcome::EmptyList;
    std::wstring AlbumPath;  // with a trailing backslash
    int ImageCount = 0;      // images written
    int PageCount = 0;       // index pages of the album put in place
};

// What a thread of the build was doing, for measurements.
enum class TAlbumBuildActivity : uint8_t {
    Read,        // a worker reads a photo's file, its format and parameters
    Decode,      // ... decodes it
    Fit,         // ... fits the image copy
    Rotate,      // ... mirrors and turns it
    Encode,      // ... encodes it
    Thumbnail,   // ... makes the whole thumbnail (fit, turn, encoding)
    Write,       // ... writes the photo's files under their passing names
    WaitMemory,  // ... waits until the image memory allows its photo
    WaitTurn,    // a worker waits for the window thread to catch up; the
                 // window thread waits for the photo in turn
    Messages,    // the window thread serves messages and shows progress
    Finish       // ... puts a photo's files in place and rewrites its row
};

// One stretch of one thread's time line.
struct TAlbumBuildSpan {
    int Thread = 0;  // 0 the window thread, 1 .. the workers
    TAlbumBuildActivity Activity = TAlbumBuildActivity::Read;
    double Start = 0;  // seconds since the image work began
    double End = 0;
};

// Wall-clock seconds per phase of the image work, summed over the images
// and the worker threads: reading and decoding the source, fitting the
// image copy, rotating it, encoding it, and the whole thumbnail (fit,
// rotation, encoding); and the time line of every thread. For measurements
// only; filled in when the image loop ends without an exception.
struct TAlbumBuildTimes {
    double Decode = 0;
    double Fit = 0;
    double Rotate = 0;
    double Encode = 0;
    double Thumbnail = 0;
    int Workers = 0;
    double Seconds = 0;  // the image work from its start to the last photo's turn
    std::vector<TAlbumBuildSpan> Timeline;
};

// The input of one build.
struct TAlbumBuildInput {
    // Colours, sizes, grid, resizing and page label.
    const TSettings* Settings = nullptr;
    // The album folder field and the album name field.
    std::wstring AlbumFolder;
    std::wstring AlbumName;
    // The folder of the program file, holding "GIFs" and "viewer" (with or
    // without a trailing backslash).
    std::wstring ProgramFolder;
    // The interface texts; nullptr uses the English ones.
    const TTranslation* Translation = nullptr;
    // When given, receives the time spent per phase.
    TAlbumBuildTimes* Times = nullptr;
};

// The album folder: AlbumFolder and AlbumName joined, each followed by a
// backslash when it does not already end with one.
std::wstring AlbumPathOf(const std::wstring& AlbumFolder, const std::wstring& AlbumName);

// The rotation a new row gets from its picture's EXIF orientation, in
// degrees anticlockwise: 3 "180", 6 "270", 8 "90"; the mirrored orientations
// get the turn that follows their mirroring (2 "0", 4 "180", 5 "90",
// 7 "270"); anything else "0".
std::wstring RotationOfOrientation(int Orientation);
// Orientations 2, 4, 5 and 7 store the picture mirrored: the build mirrors
// such a picture left to right before it turns it by the row's rotation, so
// the album shows it as the camera saw it.
bool IsMirroredOrientation(int Orientation);

// The format of a picture file by its content, whatever its extension says
// (a JPEG named ".png" is a JPEG), as the previews find it; the extension
// decides only when the content is not known. Bytes, when not nullptr, are
// the file's Count bytes already read (nothing is opened then). 0: unknown.
int32_t PictureFormatOf(const std::wstring& FileName, const void* Bytes = nullptr, int64_t Count = 0);

// The line that names a skipped row and why: "<path>: <reason>", or the
// path alone when no reason is known.
std::wstring SkippedRowText(const TAlbumRow& Row);
// The line that names a row whose picture was written incomplete:
// "<path>: <reason>; <Note>".
std::wstring IncompleteRowText(const TAlbumRow& Row, const std::wstring& Note);

// Loads the GIF Source, sets entries 1 and 2 of its global colour table to
// TextColor and CellColor (system colours resolved) and saves it as Dest;
// the pixels are not touched. Raises when Source cannot be read, when its
// table has fewer than three entries, or when Dest cannot be written.
void CorrectGIF(const std::wstring& Source, const std::wstring& Dest, classlib::TColor TextColor,
                classlib::TColor CellColor);

// The size that fits Width x Height into MaxWidth x MaxHeight keeping the
// aspect ratio; the computed side is rounded halves to even and kept at
// least 1. False (size unchanged) when nothing must be done: an empty image,
// or one that already fits (images are never enlarged).
bool FitSize(int Width, int Height, int MaxWidth, int MaxHeight, int& NewWidth, int& NewHeight);

// Resamples the view's image with the fast linear filter to FitSize's size;
// nothing when FitSize says so.
void ResizeToWH(imaging::TImgView* View, int MaxWidth, int MaxHeight);

// The system call that writes the bytes of the album's picture files, with
// ::WriteFile's contract; a failure's error code is named in the message
// the build raises. For tests, which put in one that fails as a full disk
// does; nullptr (the default) is ::WriteFile. Change it only while no build
// runs.
using TOutputWriteCall = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
void SetOutputWriteCall(TOutputWriteCall Call);

// The whole build (see the header comment). Rows are updated in place.
TAlbumBuildResult BuildAlbum(const TAlbumBuildInput& Input, std::vector<TAlbumRow>& Rows, TAlbumBuildHost& Host);

}  // namespace album
