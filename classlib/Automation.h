// Automation of a program's forms from another process: every form answers
// two registered window messages, so a test program can find the windows of
// named components and click named components as a user would.
//
//   VelmoFindControl  (RegisterWindowMessageW(L"VelmoFindControl")):
//     wParam = a global atom (GlobalAddAtomW) holding a component name.
//     Result: the window handle of the form's component of that name when it
//     is a windowed control (its window is created when missing), else 0.
//   VelmoClickControl (RegisterWindowMessageW(L"VelmoClickControl")):
//     wParam = a global atom holding a component name. The component is
//     clicked: a check box toggles, then OnClick runs, as after a press of
//     the user. Result 1; 0 when no component has the name, when it is a
//     control that is disabled or hidden (a user could not click it), or
//     when it is of a class nobody knows how to click.
//
// The name is looked up among the components the form owns (ignoring case),
// then deeper in the ownership tree. Both messages may be sent or posted; a
// posted click keeps needing the atom until it is handled, so the sender
// keeps its atoms alive for as long as it drives the program.
//
// Components that are not controls (menu items of a toolbar, for example)
// become clickable through RegisterAutomationClicker.
//
// Threads: the messages are handled on the form's thread; the clicker list
// is set up at start-up, before forms exist.
#pragma once

#include <windows.h>

#include <string>

namespace classlib {

class TComponent;
class TCustomForm;
struct TMessage;

UINT FindControlMessage();
UINT ClickControlMessage();

// Clicks Component when it is of a class the clicker knows (true), else
// returns false without doing anything.
using TAutomationClicker = bool (*)(TComponent* Component);
void RegisterAutomationClicker(TAutomationClicker Clicker);

// The component of Form named Name (see the header comment); nullptr when
// none has it or Name is empty.
TComponent* FindAutomationComponent(TCustomForm* Form, const std::wstring& Name);

// Answers Message when it is one of the two messages (true), else false.
bool HandleAutomationMessage(TCustomForm* Form, TMessage& Message);

}  // namespace classlib
