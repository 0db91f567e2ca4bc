#include "app/untAbout.h"

#include <shellapi.h>

#include "app/FormParts.h"
#include "app/Translations.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Icon.h"
#include "classlib/StdCtrls.h"

namespace album {

using namespace classlib;

TfrmAbout* frmAbout = nullptr;

namespace {

TLabel* MakeLabel(TfrmAbout* Form, const wchar_t* Name, const wchar_t* Caption, int Left, int Top)
{
    TLabel* l = NewControl<TLabel>(Form, Form, Name, Left, Top, 0, 0);
    l->SetCaption(Caption);
    return l;
}

// A centred label across the text column.
void Centre(TLabel* Label, int Left, int Width)
{
    Label->SetAutoSize(false);
    Label->SetAlignment(taCenter);
    Label->SetBounds(Left, Label->GetTop(), Width, Label->GetHeight());
}

// A clickable link label.
void MakeLink(TLabel* Label, TfrmAbout* Form, void (TfrmAbout::*Handler)(TObject*))
{
    Label->SetCursor(crHandPoint);
    Label->GetFont()->SetColor(clBlue);
    Label->GetFont()->SetStyle(fsUnderline);
    Label->OnClick = TNotifyEvent(Form, Handler);
}

void OpenWithShell(const std::wstring& Target)
{
    ::ShellExecuteW(nullptr, L"open", Target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

TfrmAbout::TfrmAbout(TComponent* AOwner) : TForm(AOwner)
{
    SetName(L"frmAbout");
    SingleBorderDialog(*this, poScreenCenter, true);
    SetCaption(L"About Velmo Morvane");
    SetClientWidth(384);
    SetClientHeight(196);

    Im1 = NewControl<TImage>(this, this, L"Im1", 16, 16, 32, 32);
    Im1->SetCenter(true);

    L1 = MakeLabel(this, L"L1", L"Velmo Morvane v.1.4", 64, 18);
    L1->GetFont()->SetStyle(fsBold);
    L1->GetFont()->SetHeight(-13);
    Centre(L1, 56, 316);
    L2 = MakeLabel(this, L"L2", L"Web photo albums, made on your own computer.", 64, 44);
    Centre(L2, 56, 316);

    BV1 = NewControl<TBevel>(this, this, L"BV1", 12, 72, 360, 66);
    BV1->SetShape(bsFrame);

    L3 = MakeLabel(this, L"L3", L"WWW:", 28, 86);
    L4 = MakeLabel(this, L"L4", kProductWebAddress, 86, 86);
    MakeLink(L4, this, &TfrmAbout::L4Click);
    L5 = MakeLabel(this, L"L5", L"E-mail:", 28, 110);
    L6 = MakeLabel(this, L"L6", kSupportAddress, 86, 110);
    MakeLink(L6, this, &TfrmAbout::L6Click);

    btnOK = NewControl<TButton>(this, this, L"btnOK", 152, 154, 80, 25);
    btnOK->SetCaption(L"&OK");
    btnOK->ModalResult = mrOk;
    btnOK->SetDefault(true);

    OnShow = TNotifyEvent(this, &TfrmAbout::FormShow);
    OnKeyDown = TKeyEvent(this, &TfrmAbout::FormKeyDown);
}

void TfrmAbout::ApplyTexts(const TTranslation& T)
{
    SetCaption(T.Text(L"msgAbout"));
    L2->SetCaption(T.Text(L"msgAboutNotice"));
}

void TfrmAbout::FormShow(TObject*)
{
    // The program's icon; the system's application icon for a program
    // without one.
    HICON icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, 32, 32, 0));
    if (!icon) icon = ::CopyIcon(::LoadIconW(nullptr, IDI_APPLICATION));
    TIcon picture;
    picture.SetHandle(icon);
    Im1->GetPicture()->Assign(&picture);
    L1->SetCaption(L"Velmo Morvane v.1.4");
}

void TfrmAbout::L4Click(TObject*) { OpenWithShell(kProductWebAddress); }

void TfrmAbout::L6Click(TObject*) { OpenWithShell(std::wstring(L"mailto:") + kSupportAddress); }

void TfrmAbout::FormKeyDown(TObject*, WORD& Key, TShiftState)
{
    // Enter presses OK (the box's only button, which has the focus); Esc
    // closes the box.
    if (Key == VK_RETURN) {
        Key = 0;
        btnOK->Click();
        return;
    }
    if (Key != VK_ESCAPE) return;
    Key = 0;
    Close();
}

}  // namespace album
