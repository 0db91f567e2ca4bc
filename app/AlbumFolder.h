// The album folder: the rules an album name must keep to be a folder name
// Windows accepts, and the staging of a build, which writes a whole album
// into a fresh folder beside the album and puts it in the album's place only
// once it is finished.
//
// Staging: the work folder is "<album>.velmo-new" in the album's parent.
// Publishing moves the previous album's own items (the index pages
// "index.html" and "index<N>.html", "Images", "Thumbnails", "viewer" and the
// navigation pictures) into "<album>.velmo-old", the work folder's items into
// the album folder, then removes both helper folders. Anything else in the
// album folder (files the user put there) stays where it is. A move that
// fails puts back what was moved, so the album folder holds either the
// previous album or the new one, never a mix. A build that does not publish
// (cancelled, failed, nothing to show) leaves only its work folder, which
// the staging object removes.
//
// Threads: the window thread only.
#pragma once

#include <string>

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

class TAlbumStaging {
public:
    // AlbumPath: the album folder, with or without a trailing backslash.
    explicit TAlbumStaging(const std::wstring& AlbumPath);
    // Removes the work folder unless it was published.
    ~TAlbumStaging();
    TAlbumStaging(const TAlbumStaging&) = delete;
    TAlbumStaging& operator=(const TAlbumStaging&) = delete;

    // Makes an empty work folder (a leftover of an earlier run is removed
    // first) and checks that a file can be written into it; false when
    // either fails, or when a file stands where the album folder would be.
    bool Create();
    // The work folder, with a trailing backslash.
    const std::wstring& WorkPath() const { return work_; }
    // The album folder, with a trailing backslash.
    const std::wstring& AlbumPath() const { return album_; }
    // The album folder holds an album (its "index.html").
    bool HasAlbum() const;

    // Puts the finished work folder in the album's place (see above).
    // Raises classlib::EInOutError with the system's reason when it cannot;
    // the album folder then holds the previous album as it was.
    void Publish();
    // Removes the work folder (also done by the destructor of an object
    // that did not publish).
    void Discard();

private:
    std::wstring album_;  // with backslash
    std::wstring work_;   // with backslash
    std::wstring old_;    // with backslash
    bool published_ = false;
};

}  // namespace album
