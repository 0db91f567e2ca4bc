// Building the program's windows in code: components owned by their form,
// each with its component name (the name the automation hook and the
// handlers look for). Main thread only.
#pragma once

#include <string>
#include <vector>

#include "classlib/Accelerators.h"
#include "classlib/Component.h"
#include "classlib/Controls.h"
#include "classlib/Forms.h"
#include "classlib/WinHandles.h"

namespace album {

// A component of class T owned by Owner and named Name.
template <class T>
T* NewComponent(classlib::TComponent* Owner, const wchar_t* Name)
{
    T* c = new T(Owner);
    c->SetName(Name);
    return c;
}

// A control of class T owned by Owner, named Name, shown in Parent.
template <class T>
T* NewControl(classlib::TComponent* Owner, classlib::TWinControl* Parent, const wchar_t* Name)
{
    T* c = NewComponent<T>(Owner, Name);
    c->SetParent(Parent);
    return c;
}

// The same, placed at Left, Top with the size Width x Height.
template <class T>
T* NewControl(classlib::TComponent* Owner, classlib::TWinControl* Parent, const wchar_t* Name, int Left, int Top,
              int Width, int Height)
{
    T* c = NewControl<T>(Owner, Parent, Name);
    c->SetBounds(Left, Top, Width, Height);
    return c;
}

// Width of Text in Control's font, as it shows (accelerator marks left out).
inline int CaptionWidth(classlib::TControl* Control, const std::wstring& Text)
{
    const std::wstring shown = classlib::StripAccelerator(Text);
    classlib::TScreenDC dc;
    classlib::TSelectObjectScope font(dc.Get(), Control->GetFont()->GetHandle());
    SIZE size{};
    ::GetTextExtentPoint32W(dc.Get(), shown.c_str(), static_cast<int>(shown.size()), &size);
    return size.cx;
}

// Gives the captions of Items (anything with GetCaption/SetCaption, in
// order of precedence) accelerators unique among them; see
// classlib::AssignAccelerators.
template <class... T>
void GiveAccelerators(T*... Items)
{
    std::vector<std::wstring> captions{std::wstring(Items->GetCaption())...};
    classlib::AssignAccelerators(captions);
    std::size_t i = 0;
    (Items->SetCaption(captions[i++]), ...);
}

// A fixed-size dialog frame with only the system menu, placed by Position.
inline void SingleBorderDialog(classlib::TForm& Form, classlib::TPosition Position, bool KeyPreview)
{
    Form.SetBorderStyle(classlib::bsSingle);
    Form.SetBorderIcons(classlib::biSystemMenu);
    Form.SetPosition(Position);
    Form.KeyPreview = KeyPreview;
}

}  // namespace album
