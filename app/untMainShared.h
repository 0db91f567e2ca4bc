// What the main window's source files share and nothing else needs: the
// layout's measures and the album rows' sub-item texts. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "classlib/ComCtrls.h"

namespace album::mainform {

// The design size of the window's client area: the smallest size it can be
// given.
constexpr int kDesignWidth = 940;
constexpr int kDesignHeight = 620;
constexpr int kGap = 4;           // between controls
constexpr int kEditHeight = 21;   // edits and combo boxes
constexpr int kButtonHeight = 25;
constexpr int kCheckHeight = 17;
constexpr int kLabelHeight = 14;
constexpr int kToolButton = 26;   // rotation and move buttons
constexpr int kPaneMargin = 145;  // smallest pane of the inner splitters

// Sub-item Index of Row ("" when the row has fewer).
std::wstring SubItemOf(const classlib::TListItem* Row, int Index);
// Sets sub-item Index of Row, adding empty ones before it as needed.
void SetSubItem(classlib::TListItem* Row, int Index, const std::wstring& Value);
// Replaces the sub-items of Row by Values.
void SetSubItems(classlib::TListItem* Row, const std::vector<std::wstring>& Values);

}  // namespace album::mainform
