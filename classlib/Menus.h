// Popup menus: the base of the program's menus that pop up at a point.
//
// A control that offers a popup menu holds a TPopupMenu borrowed from the
// program (not owned; the control forgets it when it is freed) and calls
// Popup when the user asks for it. The program's menu classes derive from
// it and draw and run their own items.
//
// A menu can also hand out plain copies of its entries (CopyItems), so that
// another menu - one the platform draws, such as the shell's context menu -
// can show them beside its own entries and click the originals when chosen.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Events.h"

namespace classlib {

class TBasicAction;
class TCustomImageList;

// One entry of a popup menu as it stands when copied. The references
// (Source, Images, Action) are borrowed and stay valid only while the
// original menu is unchanged; a copy is meant to live for one showing.
struct TMenuItemCopy {
    // "-" for a separator; "&" marks the accelerator.
    std::wstring Caption;
    // The key of the entry (0: none) and its text, shown right-aligned.
    uint16_t ShortCut = 0;
    std::wstring ShortCutText;
    // The original's name followed by "2".
    std::wstring Name;
    // Starts a new column.
    bool Break = false;
    bool Checked = false;
    // Drawn as the default entry (bold).
    bool Default = false;
    bool Enabled = true;
    int GroupIndex = 0;
    uint32_t HelpContext = 0;
    // Checked entries draw a dot instead of a tick.
    bool RadioItem = false;
    std::intptr_t Tag = 0;
    // A hidden entry is copied but not shown.
    bool Visible = true;
    // Index into Images (-1: none); Images null: the menu's images.
    int ImageIndex = -1;
    TCustomImageList* Images = nullptr;
    // Short part, then "|" and a long part.
    std::wstring Hint;
    TBasicAction* Action = nullptr;
    // The entry copied (borrowed).
    TComponent* Source = nullptr;
    // Clicks the original entry the way choosing it in its own menu would
    // (its check toggles, its action or handler runs). Empty for entries
    // that do nothing when clicked.
    std::function<void()> Click;
    // A submenu's entries; empty for a plain entry.
    std::vector<TMenuItemCopy> Items;
    // True when the entry opens a submenu (even an empty one).
    bool IsSubmenu = false;

    bool IsSeparator() const { return Caption == L"-"; }
};

class TPopupMenu : public TComponent {
public:
    explicit TPopupMenu(TComponent* AOwner) : TComponent(AOwner) {}
    std::wstring ClassName() const override { return L"TPopupMenu"; }
    // Shows the menu at the screen point X, Y and returns when it has
    // closed; PopupComponent is the control it was shown for (nullptr when
    // shown by the program itself).
    virtual void Popup(int X, int Y) = 0;
    TComponent* PopupComponent = nullptr;

    // Copies of the menu's entries (the first level, submenus inside it),
    // taken now. A menu that keeps no entries of its own answers none.
    virtual std::vector<TMenuItemCopy> CopyItems() { return {}; }
    // The images the entries' ImageIndex refers to (null: none).
    virtual TCustomImageList* GetImages() const { return nullptr; }

    // Fires whenever the menu is about to show (also when its entries are
    // copied into another menu); Sender is the menu, or the entry whose
    // submenu opens for menus that announce those too.
    TNotifyEvent OnPopup;
};

}  // namespace classlib
