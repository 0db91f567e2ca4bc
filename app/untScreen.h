// The help picture window: "screen3.gif" beside the program, explaining the
// title and the description of an album picture, with two red labels that
// carry the translated names of those fields. The window takes the size of
// the picture when it is shown; a missing or unreadable picture leaves it
// empty at its design size, without a message. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "classlib/Forms.h"

namespace classlib {
class TImage;
class TLabel;
}  // namespace classlib
namespace gif {
class TGIFImage;
}

namespace album {

class TTranslation;

class TfrmScreen : public classlib::TForm {
public:
    explicit TfrmScreen(classlib::TComponent* AOwner);
    ~TfrmScreen() override;
    std::wstring ClassName() const override { return L"TfrmScreen"; }

    classlib::TImage* Image1;
    classlib::TLabel* Label1;  // title
    classlib::TLabel* Label2;  // description

    // Where "screen3.gif" is read from (with a trailing backslash).
    std::wstring DataFolder;
    gif::TGIFImage* GetPictureGIF() const { return gif_.get(); }

    // The two labels in the language of T.
    void ApplyTexts(const TTranslation& T);

    void FormCreate(classlib::TObject* Sender);
    void FormShow(classlib::TObject* Sender);

private:
    std::unique_ptr<gif::TGIFImage> gif_;
};

extern TfrmScreen* frmScreen;

}  // namespace album
