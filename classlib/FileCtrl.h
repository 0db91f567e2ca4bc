// TFileListBox: a list box of the files of a folder that match a mask.
#pragma once

#include <string>

#include "classlib/StdCtrls.h"

namespace classlib {

// Whether Name matches the wildcard Mask (* any run, ? one character),
// ignoring case; "*.*" matches every name, with or without a dot.
bool MatchesMask(const std::wstring& Name, const std::wstring& Mask);

// Lists the names (without folder) of the files in Directory matching Mask,
// sorted ignoring case; folders are not listed. Mask may hold several masks
// separated by ';' (a file matching several is listed once). Changing
// Directory or Mask reads the folder again; UpdateFileList rereads it.
class TFileListBox : public TListBox {
public:
    explicit TFileListBox(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TFileListBox"; }

    // The folder (default: the current folder at construction). A folder
    // that does not exist raises EInOutError and leaves the list as it was.
    const std::wstring& GetDirectory() const { return directory_; }
    void SetDirectory(const std::wstring& Value);
    const std::wstring& GetMask() const { return mask_; }
    void SetMask(const std::wstring& Value);
    // Full name of the selected file (empty: none selected).
    std::wstring GetFileName() const;
    // Reads the folder again.
    void UpdateFileList() { ReadDirectory(directory_); }

private:
    void ReadDirectory(const std::wstring& Directory);
    std::wstring directory_;
    std::wstring mask_ = L"*.*";
};

}  // namespace classlib
