// The host form of the shell controls' tests and the controls placed on it.
#pragma once

#include <windows.h>

#include <string>

#include "classlib/Forms.h"
#include "controls/shell/ShellControls.h"

namespace shelltest {

// A borderless form holding the controls of a test (it frees them); it
// counts the context-menu requests that reach it.
struct HostForm : classlib::TForm {
    HostForm() : classlib::TForm(nullptr) { SetBorderStyle(classlib::bsNone); }
    int contextMenus = 0;
    void WndProc(classlib::TMessage& Message) override
    {
        if (Message.Msg == WM_CONTEXTMENU) ++contextMenus;
        classlib::TForm::WndProc(Message);
    }
};

// A control of class T on Form, with its window made.
template <class T>
T* Placed(classlib::TForm& Form)
{
    auto* control = new T(&Form);
    control->SetParent(&Form);
    control->HandleNeeded();
    return control;
}

// As above, at (Left, 0) with Width x 300 before its window is made.
template <class T>
T* Placed(classlib::TForm& Form, int Left, int Width)
{
    auto* control = new T(&Form);
    control->SetParent(&Form);
    control->SetBounds(Left, 0, Width, 300);
    control->HandleNeeded();
    return control;
}

// A tree filling a shown 300 x 300 Form (drops need it on screen), rooted
// at the folder Root.
inline shell::TShellTree* ShownTree(classlib::TForm& Form, const std::wstring& Root)
{
    Form.SetBounds(0, 0, 300, 300);
    auto* tree = Placed<shell::TShellTree>(Form);
    tree->SetBounds(0, 0, 300, 300);
    Form.SetVisible(true);
    tree->SetRootedAtFileSystemFolder(Root);
    return tree;
}

// A host form with a folder tree and a file list joined by a shell link,
// all owned by the form. Made: the controls' windows are made before they
// are joined; Later: they are joined first and their windows come when a
// test asks for them (so a test can watch what the first window shows).
struct LinkedHost {
    enum TWindows { Made, Later };

    explicit LinkedHost(TWindows Windows = Made)
    {
        link = new shell::TShellLink(&form);
        if (Windows == Made) {
            tree = Placed<shell::TShellTree>(form);
            list = Placed<shell::TShellList>(form);
        } else {
            tree = new shell::TShellTree(&form);
            list = new shell::TShellList(&form);
            tree->SetParent(&form);
            list->SetParent(&form);
        }
        tree->SetShellLink(link);
        list->SetShellLink(link);
    }
    LinkedHost(const LinkedHost&) = delete;
    LinkedHost& operator=(const LinkedHost&) = delete;

    HostForm form;
    shell::TShellLink* link = nullptr;
    shell::TShellTree* tree = nullptr;
    shell::TShellList* list = nullptr;
};

}  // namespace shelltest
