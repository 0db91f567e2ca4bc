#include "controls/shell/ShStateImages.h"

#include <uxtheme.h>
#include <vssym32.h>

#include <cstring>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Graphics.h"

namespace shell {

namespace {

constexpr int kSize = 16;

std::vector<std::uint8_t> Pixels(classlib::TBitmap& Bitmap)
{
    std::vector<std::uint8_t> out;
    for (int y = 0; y < kSize; ++y) {
        const auto* row = static_cast<const std::uint8_t*>(Bitmap.GetScanLine(y));
        out.insert(out.end(), row, row + kSize * 3);
    }
    return out;
}

// The theme's check box (checked or not, normal or disabled) into Rect of
// Dc; false when no theme is on or it drew nothing there.
bool DrawThemedBox(classlib::TBitmap& Bitmap, RECT Rect, bool Checked, bool Disabled)
{
    if (!::IsThemeActive() || !::IsAppThemed()) return false;
    HTHEME theme = ::OpenThemeData(nullptr, L"BUTTON");
    if (!theme) return false;
    const std::vector<std::uint8_t> before = Pixels(Bitmap);
    const int state = Checked ? (Disabled ? CBS_CHECKEDDISABLED : CBS_CHECKEDNORMAL)
                              : (Disabled ? CBS_UNCHECKEDDISABLED : CBS_UNCHECKEDNORMAL);
    ::DrawThemeBackground(theme, Bitmap.GetCanvas()->GetHandle(), BP_CHECKBOX, state, &Rect, nullptr);
    ::CloseThemeData(theme);
    return Pixels(Bitmap) != before;
}

// One box over the mask colour Background.
void DrawBox(classlib::TBitmap& Bitmap, classlib::TColor Background, bool Checked, bool Disabled)
{
    classlib::TCanvas* canvas = Bitmap.GetCanvas();
    canvas->GetBrush()->SetColor(Background);
    canvas->GetBrush()->SetStyle(classlib::bsSolid);
    const RECT all{0, 0, kSize, kSize};
    canvas->FillRect(all);
    if (DrawThemedBox(Bitmap, RECT{1, 1, kSize, kSize}, Checked, Disabled)) return;
    RECT box{2, 2, kSize - 1, kSize - 1};
    UINT look = DFCS_BUTTONCHECK;
    if (Checked) look |= DFCS_CHECKED;
    if (Disabled) look |= DFCS_INACTIVE;
    ::DrawFrameControl(canvas->GetHandle(), &box, DFC_BUTTON, look);
}

}  // namespace

TShSelectionStateImageList::TShSelectionStateImageList(classlib::TComponent* AOwner)
    : classlib::TCustomImageList(AOwner, kSize, kSize)
{
    struct TLook {
        bool Checked, Disabled;
        classlib::TColor Mask;
    };
    constexpr classlib::TColor kWhite = 0xFFFFFF, kRed = 0x0000FF;
    const TLook looks[] = {
        {false, false, kWhite},  // ssUnused
        {false, true, kRed},     // ssNone
        {true, false, kRed},     // ssChecked
        {false, false, kRed},    // ssUnChecked
        {true, true, kRed},      // ssGrayed
    };
    for (const TLook& look : looks) {
        classlib::TBitmap bitmap;
        bitmap.SetPixelFormat(classlib::pf24bit);
        bitmap.SetSize(kSize, kSize);
        DrawBox(bitmap, look.Mask, look.Checked, look.Disabled);
        AddMasked(&bitmap, look.Mask);
    }
}

}  // namespace shell
