#include "app/untScreen.h"

#include "app/FormParts.h"
#include "app/Settings.h"
#include "app/Translations.h"
#include "classlib/ExtCtrls.h"
#include "classlib/StdCtrls.h"
#include "gif/GIFImage.h"

namespace album {

using namespace classlib;

TfrmScreen* frmScreen = nullptr;

namespace {

// Where the picture leaves room for the labels: a band at its left edge,
// with the lines of the title and of the description.
constexpr int kLabelBand = 146;
constexpr int kTitleLine = 104;
constexpr int kDescLine = 312;
constexpr int kLabelHeight = 24;

// The caption without its first ":".
std::wstring WithoutColon(std::wstring Text)
{
    if (std::size_t p = Text.find(L':'); p != std::wstring::npos) Text.erase(p, 1);
    return Text;
}

}  // namespace

TfrmScreen::TfrmScreen(TComponent* AOwner) : TForm(AOwner)
{
    SetName(L"frmScreen");
    SetBorderStyle(bsDialog);
    SetBorderIcons(biSystemMenu);
    SetPosition(poDesktopCenter);
    SetCaption(L"Velmo Morvane");
    SetClientWidth(400);
    SetClientHeight(300);
    DataFolder = TProgramEnvironment::Current().ProgramFolder();

    Image1 = NewControl<TImage>(this, this, L"Image1", 0, 0, 105, 105);
    Image1->SetAutoSize(true);

    // Laid over the picture (created after it, so drawn above it).
    for (auto [label, name, line, text] : {std::tuple{&Label1, L"Label1", kTitleLine, L"Page Title"},
                                           std::tuple{&Label2, L"Label2", kDescLine, L"Description"}}) {
        TLabel* l = NewControl<TLabel>(this, this, name);
        l->SetAutoSize(false);
        l->SetBounds(0, line - kLabelHeight / 2, kLabelBand, kLabelHeight);
        l->SetAlignment(taRightJustify);
        l->SetLayout(tlCenter);
        l->SetTransparent(true);
        l->GetFont()->SetName(L"Tahoma");
        l->GetFont()->SetHeight(-16);
        l->GetFont()->SetStyle(fsBold);
        l->GetFont()->SetColor(clRed);
        l->SetCaption(text);
        *label = l;
    }

    OnCreate = TNotifyEvent(this, &TfrmScreen::FormCreate);
    OnShow = TNotifyEvent(this, &TfrmScreen::FormShow);
}

TfrmScreen::~TfrmScreen()
{
    // Image1 draws the picture: the components go first.
    DestroyComponents();
    if (frmScreen == this) frmScreen = nullptr;
}

void TfrmScreen::ApplyTexts(const TTranslation& T)
{
    Label1->SetCaption(WithoutColon(T.Text(L"strTitle")));
    Label2->SetCaption(WithoutColon(T.Text(L"strDescription")));
}

void TfrmScreen::FormCreate(TObject*) { gif_ = std::make_unique<gif::TGIFImage>(); }

void TfrmScreen::FormShow(TObject*)
{
    if (!gif_) FormCreate(this);
    try {
        gif_->LoadFromFile(DataFolder + L"screen3.gif");
        // A damaged file can read as a header without pictures, whose
        // screen size is whatever its bytes say: nothing to show.
        if (gif_->GetEmpty()) return;
        Image1->GetPicture()->Assign(gif_.get());
        SetClientWidth(Image1->GetWidth());
        SetClientHeight(Image1->GetHeight());
    } catch (...) {
        // No picture: the window stays empty at its design size.
    }
}

}  // namespace album
