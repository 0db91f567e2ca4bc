// The check-box pictures of the shell list and tree: the state images that
// show an object's place in the link's selection list.
#pragma once

#include "classlib/ImageList.h"
#include "controls/shell/ShSelectionList.h"

namespace shell {

// Five masked 16 x 16 images in the order of TShSelectionState: image 0
// (an unchecked box, never shown for an object) with white as its
// transparent colour, the others with pure red. Each box
// is the theme's check box when visual themes are on, else the system's
// plain one. Owned by its owner component (or by whoever made it).
class TShSelectionStateImageList : public classlib::TCustomImageList {
public:
    explicit TShSelectionStateImageList(classlib::TComponent* AOwner);
    std::wstring ClassName() const override { return L"TShSelectionStateImageList"; }
};

}  // namespace shell
