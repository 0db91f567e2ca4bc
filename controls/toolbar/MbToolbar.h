// The toolbar: a row of items (MbItem.h) drawn as flat buttons. An item
// with children opens them as a native popup menu below itself (a menu row);
// other items fire their click. Items show the image of Images (or of
// DisabledImages when disabled) when they have an image index, else their
// caption; a control item hosts its control in the row; a separator is a
// thin line. Hints show as tooltips. A toolbar that is not aligned takes
// the width of its items.
//
// Ownership: the items belong to their component owner; the toolbar's root
// item (GetItems) is owned by the toolbar. Threads: main thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "controls/toolbar/MbItem.h"

namespace toolbar {

// Registers the toolbar unit with the class library's unit list (order 600,
// after the shell and themed units): its start-up chains a routine into the
// application's initialisation that initialises COM for the main thread;
// its shut-down uninitialises COM again when that routine ran. The program
// calls it from main before the application is initialised.
void RegisterToolbarUnit();

class TMbToolbar : public classlib::TCustomControl {
public:
    explicit TMbToolbar(classlib::TComponent* AOwner);
    ~TMbToolbar() override;
    std::wstring ClassName() const override { return L"TMbToolbar"; }

    // The row's items are the children of this root (owned).
    TMbCustomItem* GetItems() const { return items_; }
    classlib::TCustomImageList* GetImages() const { return images_; }
    void SetImages(classlib::TCustomImageList* Value);
    classlib::TCustomImageList* GetDisabledImages() const { return disabledImages_; }
    void SetDisabledImages(classlib::TCustomImageList* Value);
    // Kept for the real framework; the stand-in is never a menu bar.
    bool MenuBar = false;
    bool ProcessShortCuts = false;
    std::wstring Caption;

    // The item under the client point, nullptr for none.
    TMbCustomItem* ItemAt(int X, int Y);
    // The client rectangle of a shown item (empty when hidden).
    RECT ItemRect(const TMbCustomItem* Item);
    // The height the row needs with its current items.
    int RowHeight();
    // Lays the items out again (after items were added or changed).
    void Arrange();
    // Opens the item's submenu below it, or fires its click.
    void ActivateItem(TMbCustomItem* Item);


protected:
    void Paint() override;
    void Resize() override;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void MouseLeave() override;
    void CreateHandleDone() override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    struct TSlot {
        TMbCustomItem* Item;
        RECT Rect;
    };
    void Layout();
    void UpdateTips();
    void Hover(TMbCustomItem* Item);
    // Listener of the root: any change of the row lays it out again.
    void RootChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item);

    TMbCustomItem* items_;
    classlib::TCustomImageList* images_ = nullptr;
    classlib::TCustomImageList* disabledImages_ = nullptr;
    std::vector<TSlot> slots_;
    TMbCustomItem* hot_ = nullptr;
    HWND tips_ = nullptr;
    bool laidOut_ = false;
};

}  // namespace toolbar
