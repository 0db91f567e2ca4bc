// Building the program's windows in code: components owned by their form,
// each with its component name (the name the automation hook and the
// handlers look for). Main thread only.
#pragma once

#include "classlib/Component.h"
#include "classlib/Controls.h"
#include "classlib/Forms.h"

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

// A fixed-size dialog frame with only the system menu, placed by Position.
inline void SingleBorderDialog(classlib::TForm& Form, classlib::TPosition Position, bool KeyPreview)
{
    Form.SetBorderStyle(classlib::bsSingle);
    Form.SetBorderIcons(classlib::biSystemMenu);
    Form.SetPosition(Position);
    Form.KeyPreview = KeyPreview;
}

}  // namespace album
