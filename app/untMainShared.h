// What the main window's source files share and nothing else needs: the
// layout's measures.
#pragma once

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

}  // namespace album::mainform
