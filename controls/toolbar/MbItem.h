// Menu and toolbar items, the image list of a toolbar and the popup menu.
//
// An item is a component with a caption, a hint, an image index, enabled,
// visible and checked states and an OnClick event; an item may hold child
// items (a submenu). Items are shown by a toolbar (MbToolbar.h) as buttons
// of a row, and their children as a native popup menu built when the
// submenu opens. A popup menu (TMbPopupMenu) shows its items the same way at
// a screen point.
//
// Ownership: the component owner (normally the form) deletes items; a
// parent item only lists its children and forgets a child that is deleted
// first. Threads: main thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "classlib/ImageList.h"

namespace toolbar {

class TMbCustomItem;

// Sender, and whether the submenu opens because of a linked item (never
// here: the stand-in has no links).
using TMbPopupEvent = classlib::TEvent<void(classlib::TObject* Sender, bool FromLink)>;

// Receives the changes of an item (caption, state, children) to repaint.
class IMbItemView {
public:
    virtual void ItemChanged(TMbCustomItem* Item) = 0;

protected:
    ~IMbItemView() = default;
};

enum TMbItemKind : uint8_t { ikItem, ikSubmenu, ikSeparator, ikControl };

class TMbCustomItem : public classlib::TComponent {
public:
    explicit TMbCustomItem(classlib::TComponent* AOwner);
    ~TMbCustomItem() override;
    std::wstring ClassName() const override { return L"TMbCustomItem"; }

    virtual TMbItemKind Kind() const { return ikItem; }

    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    std::wstring Hint;
    bool GetEnabled() const { return enabled_; }
    void SetEnabled(bool Value);
    bool GetVisible() const { return visible_; }
    void SetVisible(bool Value);
    bool GetChecked() const { return checked_; }
    void SetChecked(bool Value);
    // Index into the images of the toolbar or menu showing the item (-1:
    // none).
    int GetImageIndex() const { return imageIndex_; }
    void SetImageIndex(int Value);

    // Colours of the flat menu look; kept for the real framework, the
    // stand-in draws with the system colours.
    classlib::TColor XPItemBkgrCol = classlib::clWhite;
    classlib::TColor XPItemSelBkgrCol = 15717318;
    classlib::TColor XPItemSelTxtCol = classlib::clBlack;
    classlib::TColor XPItemUnactTxtCol = 13816530;
    classlib::TColor XPItemLeftCol = classlib::clBtnFace;
    classlib::TColor XPItemOutlineCol = classlib::clNavy;

    // Children (submenu), in order.
    int GetCount() const { return static_cast<int>(items_.size()); }
    TMbCustomItem* GetItem(int Index) const { return items_.at(static_cast<std::size_t>(Index)); }
    void Add(TMbCustomItem* Item);
    void Insert(int Index, TMbCustomItem* Item);
    void Remove(TMbCustomItem* Item);
    int IndexOf(const TMbCustomItem* Item) const;
    TMbCustomItem* GetParentItem() const { return parentItem_; }

    // Fires OnClick when enabled (disabled items do nothing).
    virtual void Click();
    // Fires OnPopup (the submenu is about to open).
    virtual void DoPopup(bool FromLink);

    classlib::TNotifyEvent OnClick;
    TMbPopupEvent OnPopup;

    // The view notified of changes (toolbar), inherited by children.
    void SetView(IMbItemView* View) { view_ = View; }
    IMbItemView* GetView() const;

protected:
    void Changed();
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    std::wstring caption_;
    bool enabled_ = true;
    bool visible_ = true;
    bool checked_ = false;
    int imageIndex_ = -1;
    std::vector<TMbCustomItem*> items_;
    TMbCustomItem* parentItem_ = nullptr;
    IMbItemView* view_ = nullptr;
};

class TMbItem : public TMbCustomItem {
public:
    explicit TMbItem(classlib::TComponent* AOwner) : TMbCustomItem(AOwner) {}
    std::wstring ClassName() const override { return L"TMbItem"; }
};

// An item whose children open as a submenu.
class TMbSubmenuItem : public TMbCustomItem {
public:
    explicit TMbSubmenuItem(classlib::TComponent* AOwner) : TMbCustomItem(AOwner) {}
    std::wstring ClassName() const override { return L"TMbSubmenuItem"; }
    TMbItemKind Kind() const override { return ikSubmenu; }
};

class TMbSeparatorItem : public TMbCustomItem {
public:
    explicit TMbSeparatorItem(classlib::TComponent* AOwner) : TMbCustomItem(AOwner) {}
    std::wstring ClassName() const override { return L"TMbSeparatorItem"; }
    TMbItemKind Kind() const override { return ikSeparator; }
};

// Hosts a window control (e.g. a combo box) in a toolbar row; the toolbar
// makes the control its child and places it. Not shown in menus.
class TMbControlItem : public TMbCustomItem {
public:
    explicit TMbControlItem(classlib::TComponent* AOwner) : TMbCustomItem(AOwner) {}
    std::wstring ClassName() const override { return L"TMbControlItem"; }
    TMbItemKind Kind() const override { return ikControl; }

    classlib::TControl* GetControl() const { return control_; }
    void SetControl(classlib::TControl* Value);

protected:
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    classlib::TControl* control_ = nullptr;
};

// The images of a toolbar (16 x 16 by default).
class TMbImageList : public classlib::TCustomImageList {
public:
    explicit TMbImageList(classlib::TComponent* AOwner) : classlib::TCustomImageList(AOwner, 16, 16) {}
    std::wstring ClassName() const override { return L"TMbImageList"; }
};

// Shows Root's visible children as a native popup menu at the screen point
// X, Y, owned by Owner (a window of the program), and clicks the chosen
// item after the menu closed. Submenus fire OnPopup before they are built.
// Returns the clicked item (nullptr when the menu was dismissed).
TMbCustomItem* TrackItemsPopup(TMbCustomItem* Root, HWND Owner, int X, int Y);

// A popup menu: its Items are shown at a screen point by Popup.
class TMbPopupMenu : public classlib::TComponent {
public:
    explicit TMbPopupMenu(classlib::TComponent* AOwner);
    ~TMbPopupMenu() override;
    std::wstring ClassName() const override { return L"TMbPopupMenu"; }

    // The root whose children are the menu's items (owned).
    TMbCustomItem* GetItems() const { return items_; }
    // Fires OnPopup, then shows the menu at the screen point X, Y (owner:
    // the active window of the program) and clicks the chosen item.
    void Popup(int X, int Y);

    classlib::TNotifyEvent OnPopup;

private:
    TMbCustomItem* items_;
};

}  // namespace toolbar
