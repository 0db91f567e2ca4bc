// The about box: the program icon, the product and version line, a notice,
// and the clickable web page and support address. Main thread only.
#pragma once

#include <string>

#include "app/ProductInfo.h"
#include "classlib/Forms.h"

namespace classlib {
class TBevel;
class TButton;
class TImage;
class TLabel;
}  // namespace classlib

namespace album {

class TTranslation;

class TfrmAbout : public classlib::TForm {
public:
    explicit TfrmAbout(classlib::TComponent* AOwner);
    std::wstring ClassName() const override { return L"TfrmAbout"; }

    classlib::TImage* Im1;
    classlib::TBevel* BV1;
    classlib::TLabel* L1;
    classlib::TLabel* L2;
    classlib::TLabel* L3;
    classlib::TLabel* L4;
    classlib::TLabel* L5;
    classlib::TLabel* L6;
    classlib::TButton* btnOK;

    // The caption in the language of T.
    void ApplyTexts(const TTranslation& T);

    void FormShow(classlib::TObject* Sender);
    void L4Click(classlib::TObject* Sender);
    void L6Click(classlib::TObject* Sender);
    void FormKeyDown(classlib::TObject* Sender, WORD& Key, classlib::TShiftState Shift);
};

extern TfrmAbout* frmAbout;

}  // namespace album
