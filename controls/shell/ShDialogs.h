// The browse-for-folder dialog of the shell.
#pragma once

#include <windows.h>

#include <string>

#include "classlib/Component.h"

namespace shell {

// Execute shows the system's modal folder dialog with Title above the tree,
// starting at Folder; when the user picks a folder of the file system it
// becomes Folder (without trailing backslash, except for a drive root) and
// Execute returns true. Owner: the window that owns the dialog (nullptr:
// the active window of the program).
class TShBrowseForFolder : public classlib::TComponent {
public:
    explicit TShBrowseForFolder(classlib::TComponent* AOwner) : classlib::TComponent(AOwner) {}
    std::wstring ClassName() const override { return L"TShBrowseForFolder"; }

    std::wstring Title;
    std::wstring Folder;
    bool Execute(HWND Owner = nullptr);
};

}  // namespace shell
