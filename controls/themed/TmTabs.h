// A plain page control: a row of tabs over a framed page area showing the
// active tab sheet. Only what the program's dialogs use: pages with
// captions, the active page (chosen by clicking its tab), the page colour,
// the frame colour and the highlight bar over the active tab.
//
// Tab sheets are children of the page control and are owned by their
// component owner; the page control lists them in creation order.
// Main thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "classlib/Controls.h"

namespace themed {

class TTmPageControl;

class TTmTabSheet : public classlib::TCustomControl {
public:
    explicit TTmTabSheet(classlib::TComponent* AOwner);
    ~TTmTabSheet() override;
    std::wstring ClassName() const override { return L"TTmTabSheet"; }

    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    TTmPageControl* GetPageControl() const { return pageControl_; }
    // Moves the sheet into Value (as its last page); nullptr takes it out.
    void SetPageControl(TTmPageControl* Value);
    int GetPageIndex() const;

protected:
    void Paint() override;

private:
    friend class TTmPageControl;
    std::wstring caption_;
    TTmPageControl* pageControl_ = nullptr;
};

class TTmPageControl : public classlib::TCustomControl {
public:
    explicit TTmPageControl(classlib::TComponent* AOwner);
    ~TTmPageControl() override;
    std::wstring ClassName() const override { return L"TTmPageControl"; }

    int GetPageCount() const { return static_cast<int>(pages_.size()); }
    TTmTabSheet* GetPage(int Index) const;
    TTmTabSheet* GetActivePage() const { return active_; }
    void SetActivePage(TTmTabSheet* Value);

    classlib::TColor GetPageColor() const { return pageColor_; }
    void SetPageColor(classlib::TColor Value);
    classlib::TColor GetFlatColor() const { return flatColor_; }
    void SetFlatColor(classlib::TColor Value);
    classlib::TColor GetHighlightColor() const { return highlightColor_; }
    void SetHighlightColor(classlib::TColor Value);
    int GetTabHeight() const { return tabHeight_; }

    // The rectangle of tab Index and of the page area (client coordinates).
    RECT TabRect(int Index);
    RECT PageRect() const;

    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    classlib::TNotifyEvent OnChange;

protected:
    void Paint() override;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;

private:
    friend class TTmTabSheet;
    void InsertPage(TTmTabSheet* Page);
    void RemovePage(TTmTabSheet* Page);
    void PlacePages();

    std::vector<TTmTabSheet*> pages_;
    TTmTabSheet* active_ = nullptr;
    classlib::TColor pageColor_ = classlib::clBtnFace;
    classlib::TColor flatColor_ = classlib::clBtnShadow;
    classlib::TColor highlightColor_ = classlib::clHighlight;
    int tabHeight_ = 22;
};

}  // namespace themed
