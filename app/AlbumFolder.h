// The album folder: the rules an album name must keep to be a folder name
// Windows accepts, and the staging of a build, which writes a whole album
// into a fresh folder beside the album and puts it in the album's place only
// once it is finished.
//
// Staging: the work folder is "<album>.velmo-new" in the album's parent; one
// build at a time holds it (a lock file inside it, opened without sharing).
// The album folder keeps a record (kAlbumManifestName) of every file the
// last build wrote. Publishing writes a journal "<album>.velmo-swap" (the
// whole plan, then each step before it is taken, with write-through), moves
// the files the previous build wrote into "<album>.velmo-old", the work
// folder's files into the album folder, then removes the helper folders and
// the journal. Files the previous build did not write stay where they are,
// also inside "Images" and the other album folders; a new file whose name
// such a file holds stops the publish before anything moves. A move that
// fails puts back what was moved, so the album folder holds either the
// previous album or the new one, never a mix; a kill mid-way is rolled
// forward by the next Create from the journal. A build that does not publish
// (cancelled, failed, nothing to show) leaves only its work folder, which
// the staging object removes.
//
// Threads: the window thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace album {

// Why a name cannot be an album folder's name (Valid: it can).
enum class TAlbumNameRule {
    Valid,
    Empty,          // no name at all
    Characters,     // \ / : * ? " < > | or a control character
    DotName,        // "." or "..": the folder itself or the one above
    TrailingDot,    // ends with a dot or a space
    DeviceName,     // CON, PRN, AUX, NUL, COM0..9, LPT0..9 (also with an extension)
};

// The first rule Name breaks, in the order above.
TAlbumNameRule CheckAlbumName(const std::wstring& Name);

// The translation key of the message that explains a rule ("" for Valid);
// the message holds "%f1" where the name goes.
const wchar_t* AlbumNameRuleKey(TAlbumNameRule Rule);

// How TAlbumStaging::Create went.
enum class TStagingState {
    Ready,        // the work folder is empty, locked and writable
    Busy,         // another build holds the work folder's lock; nothing touched
    NotWritable,  // the work folder cannot be made or written, or a file
                  // stands where the album folder would be
};

// The form of Path the file functions accept past 260 characters: "\\?\"
// (or "\\?\UNC\") before the full path when Path is that long; shorter
// paths come back unchanged, as do paths already in that form.
std::wstring ExtendedPath(const std::wstring& Path);

// The files below Folder (with or without a trailing backslash), as paths
// relative to it, found through ExtendedPath.
std::vector<std::wstring> FilesBelow(const std::wstring& Folder);

// Copies the folder Source with everything in it to the folder Dest (made
// when missing), file by file, through ExtendedPath. False at the first file
// or folder that could not be made, which Failed then names.
bool CopyFolder(const std::wstring& Source, const std::wstring& Dest, std::wstring& Failed);

// Those of Names (paths relative to Folder) that are not files in Folder.
std::vector<std::wstring> MissingFiles(const std::wstring& Folder, const std::vector<std::wstring>& Names);

// The record a build keeps in the album folder of every file it wrote
// (relative paths, one a line, UTF-8).
inline constexpr wchar_t kAlbumManifestName[] = L"velmo-album-files.txt";

class TAlbumStaging {
public:
    // AlbumPath: the album folder, with or without a trailing backslash.
    explicit TAlbumStaging(const std::wstring& AlbumPath);
    // Removes the work folder unless it was published (or another build
    // holds it).
    ~TAlbumStaging();
    TAlbumStaging(const TAlbumStaging&) = delete;
    TAlbumStaging& operator=(const TAlbumStaging&) = delete;

    // Takes the work folder's lock (an exclusive handle on a file inside it,
    // held until the object ends or publishes), finishes what a dead build
    // left (an interrupted swap is rolled forward; a finished album waiting
    // in the work folder is published; an unfinished one is removed) and
    // checks that a file can be written into the empty work folder.
    // Raises classlib::EInOutError when a dead build's album cannot be put in
    // place: the album folder then holds the whole previous album, the work
    // folder keeps the dead build's album for a later attempt, and the lock
    // is let go.
    TStagingState Create();
    // The work folder, with a trailing backslash, in the form the file
    // functions accept (ExtendedPath).
    std::wstring WorkPath() const;
    // The album folder, with a trailing backslash.
    const std::wstring& AlbumPath() const { return album_; }
    // The album folder holds an album (its "index.html").
    bool HasAlbum() const;
    // The album folder holds anything a build writes (a page, "Images",
    // "Thumbnails", "viewer", a navigation picture or the build's record).
    bool HoldsAlbumItems() const;
    // The files the previous build wrote into the album folder, relative
    // paths in upper case: the names in its record, or for an album built
    // without one, the index pages and the existing files they name.
    std::vector<std::wstring> PreviousFiles() const;
    // Those of Names (relative paths) that exist in the album folder but
    // were not written by a build: a build must not replace them.
    std::vector<std::wstring> ForeignFiles(const std::vector<std::wstring>& Names) const;

    // Puts the finished work folder in the album's place: the files the
    // previous build wrote are replaced or removed, every other file of the
    // album folder stays, and the record of the new build's files is written.
    // Each step is entered in a journal beside the album before it is taken,
    // so that a build killed part-way is completed by the next Create.
    // Raises classlib::EInOutError with the system's reason (or the names of
    // files in the way) when it cannot; the album folder then holds the
    // previous album as it was.
    void Publish();
    // Removes the work folder (also done by the destructor of an object
    // that did not publish).
    void Discard();

    // Tests only: called after each step of a swap with the step's number
    // (-1: the record of the new files is written, 0: the journal is
    // written, then one per move and per clean-up step); returning true ends the swap there as a
    // kill would (nothing further runs, the lock is dropped) and Publish
    // raises classlib::EAbort.
    static std::function<bool(int Step)> StopAfterStep;

private:
    std::wstring album_;    // with backslash
    std::wstring work_;     // with backslash
    std::wstring old_;      // with backslash
    std::wstring journal_;  // "<album>.velmo-swap"
    HANDLE lock_ = INVALID_HANDLE_VALUE;
    bool published_ = false;

    void Recover();
    // Publish; KeepLock: for a dead build's album, keeping the work folder
    // (emptied) and its lock for the build that found it.
    void Swap(bool KeepLock);
    void Unlock();
};

}  // namespace album
