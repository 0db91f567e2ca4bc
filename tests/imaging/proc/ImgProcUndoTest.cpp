// The processing object's undo and redo lists and its attachments.
#include <gtest/gtest.h>

#include "classlib/Icon.h"

#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Picture.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/proc/ImgProc.h"
#include "tests/imaging/proc/ImgProcFakeView.h"
#include "tests/imaging/proc/ImgProcTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace imaging;
using namespace proctest;
using procfake::TFakeView;

namespace {

class ImgProcUndo : public ProcFixture {};
class ImgProcAttach : public ProcFixture {};

TPxRGB Grey(uint8_t v) { return TPxRGB{v, v, v}; }

}  // namespace

TEST_F(ImgProcUndo, LimitOneKeepsStateBeforeLastOperation)
{
    TFakeView owner;
    TPxBitmap image(4, 4, px24RGB);
    image.Fill(0x00101010);
    TImgProc proc(&owner);
    EXPECT_TRUE(proc.AutoUndo);
    EXPECT_EQ(proc.GetUndoLimit(), 1);
    proc.AttachBitmap(&image);
    proc.Negative();  // 0x10 -> 0xEF
    proc.Negative();  // back to 0x10
    ASSERT_EQ(proc.GetUndoCount(), 1);
    proc.Undo(false);
    EXPECT_EQ(image.GetPixelRGB(2, 2), Grey(0xEF));
    EXPECT_EQ(proc.GetUndoCount(), 1);  // applying never removes
}

TEST_F(ImgProcUndo, LimitZeroStoresNothingAndFiresNothing)
{
    TFakeView owner;
    TPxBitmap image(4, 4, px24RGB);
    TImgProc proc(&owner);
    TEvents ev;
    ev.Hook(proc);
    proc.AttachBitmap(&image);
    proc.SetUndoLimit(0);
    proc.Negative();
    proc.SaveUndo(pxuSelection);
    EXPECT_EQ(proc.GetUndoCount(), 0);
    EXPECT_EQ(proc.GetUndoCaptions()->GetCount(), 0);
    EXPECT_TRUE(ev.saves.empty());
    EXPECT_EQ(ev.finish, 1);
}

TEST_F(ImgProcUndo, UndoWithRedoThenRedoRoundTrip)
{
    TPxBitmap image(3, 3, px24RGB);
    image.Fill(0x00202020);
    auto proc = TImgProc::CreateForBitmap(&image);
    proc->SetUndoLimit(3);
    proc->AutoUndo = true;
    proc->Negative();  // 0xDF
    proc->UndoAt(0, true);
    EXPECT_EQ(image.GetPixelRGB(1, 1), Grey(0x20));
    EXPECT_EQ(proc->GetRedoCount(), 1);
    EXPECT_EQ(proc->RedoSourceAt(0), pxuImage);
    proc->RedoAt(0);
    EXPECT_EQ(image.GetPixelRGB(1, 1), Grey(0xDF));
    EXPECT_EQ(proc->GetUndoCount(), 1);
    EXPECT_EQ(proc->GetRedoCount(), 1);

    proc->Negative();
    proc->Negative();
    ASSERT_EQ(proc->GetUndoCount(), 3);
    const TPxRGB before = image.GetPixelRGB(0, 0);
    proc->UndoAt(5, false);
    proc->UndoAt(-1, false);
    proc->RedoAt(3);
    EXPECT_EQ(image.GetPixelRGB(0, 0), before);
    EXPECT_EQ(proc->GetUndoCount(), 3);

    // Index 2 is the oldest: the state before the first Negative.
    proc->UndoAt(2, false);
    EXPECT_EQ(image.GetPixelRGB(0, 0), Grey(0x20));
    proc->DiscardUndoAt(0);
    EXPECT_EQ(proc->GetUndoCount(), 2);
    EXPECT_EQ(proc->GetUndoCaptions()->GetCount(), 2);
    EXPECT_EQ(proc->UndoSourceAt(0), pxuImage);
    EXPECT_EQ(proc->UndoSourceAt(2), pxuUnknown);
    proc->DiscardLastRedo();
    EXPECT_EQ(proc->GetRedoCount(), 0);
}

TEST_F(ImgProcUndo, ImageEntriesLiveInTemporaryFiles)
{
    testsupport::TempDir dir;
    TempFolderScope folder(dir.Path());
    TPxBitmap image(64, 64, px24RGB);
    image.SetLocation(pxMemory);
    image.FileThreshold = int64_t{1} << 40;
    FillPattern(image);
    ASSERT_EQ(CountFiles(dir.Path()), 0);
    {
        auto proc = TImgProc::CreateForBitmap(&image);
        proc->SetUndoLimit(2);
        proc->SaveUndo(pxuImage);
        EXPECT_EQ(CountFiles(dir.Path()), 1);
        proc->SaveUndo(pxuImage);
        proc->SaveUndo(pxuImage);  // the oldest is pushed out with its file
        EXPECT_EQ(proc->GetUndoCount(), 2);
        EXPECT_EQ(CountFiles(dir.Path()), 2);
        image.Fill(0);
        proc->Undo(false);
        EXPECT_EQ(image.GetPixelRGB(9, 5), Pattern(9, 5));
        proc->ClearAllUndo();
        EXPECT_EQ(CountFiles(dir.Path()), 0);
        proc->SaveUndo(pxuImage);
    }
    EXPECT_EQ(CountFiles(dir.Path()), 0);  // freed with the object
}

TEST_F(ImgProcUndo, TooSmallImageGivesNoEntryButOnSaveUndo)
{
    TPxBitmap image(1, 5, px24RGB);
    auto proc = TImgProc::CreateForBitmap(&image);
    TEvents ev;
    ev.Hook(*proc);
    proc->SaveUndo(pxuImage);
    proc->SaveUndo(pxuSelection);  // no view
    proc->SaveUndo(pxuLayer);
    EXPECT_EQ(proc->GetUndoCount(), 0);
    ASSERT_EQ(ev.saves.size(), 3u);
    EXPECT_EQ(ev.saves[1], pxuSelection);
    proc->SaveUndoCaptioned(L"x", pxuImage);  // skipped before SaveUndo
    EXPECT_EQ(ev.saves.size(), 3u);
}

TEST_F(ImgProcUndo, ImageEntryRestoresTheLayerItWasTakenFrom)
{
    TFakeView view;
    view.layers[0].Image->Fill(0x00000000);
    view.AddLayer(8, 6, 0x00111111);
    view.AddLayer(8, 6, 0x00222222);
    TImgProc proc(nullptr);
    proc.SetUndoLimit(5);
    proc.SetAttachedImg(&view);
    view.SetCurrent(2);
    proc.SaveUndo(pxuImage);  // layer 2 as it is now

    view.layers[2].Image->Fill(0x00999999);
    view.SetCurrent(0);
    proc.Undo(false);
    EXPECT_EQ(view.layers[2].Image->GetPixelRGB(1, 1), Grey(0x22));
    EXPECT_EQ(view.layers[0].Image->GetPixelRGB(1, 1), Grey(0x00));

    // Only one layer left: layer 0 receives it.
    view.layers.resize(1);
    view.SetCurrent(0);
    proc.Undo(false);
    EXPECT_EQ(view.layers[0].Image->GetPixelRGB(1, 1), Grey(0x22));
}

TEST_F(ImgProcUndo, LayerEntriesRestoreByIdentifier)
{
    TFakeView view;
    view.AddLayer(8, 6, 0x00444444);
    view.layers[0].State = 10;
    view.layers[1].State = 11;
    TImgProc proc(nullptr);
    proc.SetUndoLimit(5);
    proc.SetAttachedImg(&view);
    view.SetCurrent(1);
    proc.SaveUndo(pxuLayer);
    proc.SaveUndo(pxuFullLayer);

    view.layers[0].State = 20;
    view.layers[1].State = 21;
    view.layers[1].Image->Fill(0);
    view.AddLayer(8, 6, 0).State = 22;  // added after the entries
    // The layers in another order: records are matched by identifier.
    std::swap(view.layers[0], view.layers[1]);

    proc.UndoAt(1, false);  // pxuLayer: states only
    EXPECT_EQ(view.layers[1].State, 10);
    EXPECT_EQ(view.layers[0].State, 11);
    EXPECT_EQ(view.layers[2].State, 22);
    EXPECT_EQ(view.layers[0].Image->GetPixelRGB(0, 0), Grey(0));

    proc.UndoAt(0, false);  // pxuFullLayer: the current layer's image too
    EXPECT_EQ(view.layers[0].Image->GetPixelRGB(0, 0), Grey(0x44));
    EXPECT_EQ(view.layers[2].State, 22);

    // A layer that went has its record skipped.
    view.layers.erase(view.layers.begin());
    view.SetCurrent(0);
    view.layers[0].State = 30;
    const int loads = view.layerLoads;
    proc.UndoAt(1, false);
    EXPECT_EQ(view.layers[0].State, 10);
    EXPECT_EQ(view.layerLoads, loads + 1);
}

TEST_F(ImgProcUndo, StreamKindsRoundTripThroughTheView)
{
    TFakeView view(true);  // vector view
    TImgProc proc(nullptr);
    proc.SetUndoLimit(5);
    proc.SetAttachedImg(&view);
    view.selectionState = 1;
    view.objectsState = 2;
    view.layers[0].State = 3;
    proc.SaveUndo(pxuSelection);
    proc.SaveUndo(pxuObject);
    proc.SaveUndo(pxuObjectsAndLayers);
    EXPECT_EQ(view.lastCoding, -1);
    ASSERT_EQ(proc.GetUndoCount(), 3);
    view.selectionState = 0;
    view.objectsState = 0;
    view.layers[0].State = 0;
    proc.UndoAt(2, false);
    EXPECT_EQ(view.selectionState, 1);
    EXPECT_EQ(view.lastSelectionMode, 1);
    proc.UndoAt(1, false);
    EXPECT_EQ(view.objectsState, 2);
    view.objectsState = 0;
    proc.UndoAt(0, false);
    EXPECT_EQ(view.objectsState, 2);
    EXPECT_EQ(view.layers[0].State, 3);

    TFakeView plain;  // an image view without objects: the layers file, raw
    proc.SetAttachedImg(&plain);
    proc.SaveUndo(pxuObject);  // not a vector view: no entry
    EXPECT_EQ(proc.GetUndoCount(), 3);
    proc.SaveUndo(pxuObjectsAndLayers);
    EXPECT_EQ(plain.lastCoding, -2);
    proc.Undo(false);
    EXPECT_EQ(plain.layersFileLoads, 1);
}

// ---------------------------------------------------------------------------
// Attachment

TEST_F(ImgProcAttach, ViewRegistrationFollowsAndEndsWithTheView)
{
    auto view = std::make_unique<TFakeView>();
    view->background = 0x00123456;
    TImgProc proc(nullptr);
    proc.SetAttachedImg(view.get());
    proc.SetAttachedImg(view.get());
    EXPECT_EQ(view->RegistrationCount(), 1);
    EXPECT_EQ(proc.GetBitmap(), view->GetPxBitmap());
    EXPECT_FALSE(proc.GetOwnsBitmap());
    EXPECT_EQ(proc.GetBackground(), 0x00123456);
    proc.SetBackground(0x00FF0000);
    EXPECT_EQ(view->background, 0x00FF0000);

    // A new current layer: the next operation works on it.
    view->AddLayer(8, 6, 0);
    view->SetCurrent(1);
    proc.Negative();
    EXPECT_EQ(view->layers[1].Image->GetPixelRGB(0, 0), Grey(255));
    EXPECT_EQ(view->layers[0].Image->GetPixelRGB(0, 0), Grey(0));

    // The view goes: the object falls back to an own empty image.
    view.reset();
    EXPECT_EQ(proc.GetAttachedImg(), nullptr);
    ASSERT_NE(proc.GetBitmap(), nullptr);
    EXPECT_TRUE(proc.GetOwnsBitmap());
    EXPECT_EQ(proc.GetBitmap()->GetWidth(), 0);
    proc.Negative();

    // Detaching removes the registration.
    TFakeView other;
    proc.SetAttachedImg(&other);
    EXPECT_EQ(other.RegistrationCount(), 1);
    TPxBitmap mine(2, 2, px8g);
    proc.AttachBitmap(&mine);
    EXPECT_EQ(other.RegistrationCount(), 0);
    EXPECT_EQ(proc.GetBitmap(), &mine);
    proc.AttachBitmap(nullptr);
    EXPECT_EQ(proc.GetBitmap(), nullptr);
}

TEST_F(ImgProcAttach, AlbumRoadResampleThenRotateKeepsOneFileUndo)
{
    testsupport::TempDir dir;
    TempFolderScope folder(dir.Path());
    TFakeView view;
    view.layers[0].Image = std::make_unique<TPxBitmap>(40, 30, px24RGB);
    TPxBitmap* image = view.GetPxBitmap();
    image->SetLocation(pxMemory);
    image->FileThreshold = int64_t{1} << 40;
    FillPattern(*image);
    TImgProc* proc = new TImgProc(&view);  // owned by the view
    proc->SetAttachedImg(&view);
    TEvents ev;
    ev.Hook(*proc);

    proc->Resample(20, 15, rfFastLinear);
    ASSERT_EQ(image->GetWidth(), 20);
    ASSERT_EQ(image->GetHeight(), 15);
    TPxBitmap resampled;
    resampled.Assign(image);
    proc->Rotate(90, false, 0, -1);
    EXPECT_EQ(image->GetWidth(), 15);
    EXPECT_EQ(image->GetHeight(), 20);
    EXPECT_EQ(image->GetPixelRGB(0, 0), resampled.GetPixelRGB(19, 0));
    EXPECT_EQ(ev.finish, 3);

    ASSERT_EQ(proc->GetUndoCount(), 1);
    EXPECT_EQ(proc->GetUndoCaptions()->GetStrings(0), L"Rotate 90");
    EXPECT_EQ(CountFiles(dir.Path()), 1);
    proc->Undo(false);
    EXPECT_TRUE(PxCompareBitmaps(image, &resampled));
}

TEST_F(ImgProcAttach, TImagePictureIsWorkedAndForgottenWhenFreed)
{
    auto timage = std::make_unique<classlib::TImage>(nullptr);
    classlib::TBitmap* vcl = timage->GetPicture()->GetBitmap();
    vcl->SetPixelFormat(classlib::pf24bit);
    vcl->SetSize(4, 3);
    for (int y = 0; y < 3; ++y) {
        auto* row = static_cast<uint8_t*>(vcl->GetScanLine(y));
        for (int i = 0; i < 12; ++i)
            row[i] = uint8_t(10 * y + i);
    }
    TImgProc proc(nullptr);
    proc.SetAttachedTImage(timage.get());
    EXPECT_EQ(proc.GetAttachedTImage(), timage.get());
    EXPECT_EQ(proc.GetWrappedVclBitmap(), vcl);
    proc.Negative();
    for (int y = 0; y < 3; ++y) {
        auto* row = static_cast<uint8_t*>(timage->GetPicture()->GetBitmap()->GetScanLine(y));
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(row[i], uint8_t(255 - (10 * y + i))) << y << "," << i;
    }
    EXPECT_TRUE(timage->GetPicture()->GetBitmap()->GetModified());

    timage.reset();
    EXPECT_EQ(proc.GetAttachedTImage(), nullptr);
    EXPECT_EQ(proc.GetWrappedVclBitmap(), nullptr);
    ASSERT_NE(proc.GetBitmap(), nullptr);
    EXPECT_EQ(proc.GetBitmap()->GetWidth(), 0);
    TEvents ev;
    ev.Hook(proc);
    proc.Negative();  // works on the empty own image, touches nothing freed
    proc.Clear();
    EXPECT_EQ(proc.GetBitmap()->GetWidth(), 0);
}

TEST_F(ImgProcAttach, TImagePictureGivenAnotherGraphicIsLeftAlone)
{
    classlib::TImage timage(nullptr);
    classlib::TBitmap* vcl = timage.GetPicture()->GetBitmap();
    vcl->SetPixelFormat(classlib::pf24bit);
    vcl->SetSize(4, 3);
    TImgProc proc(nullptr);
    proc.SetAttachedTImage(&timage);
    ASSERT_EQ(proc.GetWrappedVclBitmap(), vcl);

    // The picture now holds an icon (the bitmap wrapped so far is freed):
    // operations neither touch the freed bitmap nor replace the icon.
    classlib::TIcon icon;
    icon.SetHandle(::LoadIconW(nullptr, IDI_APPLICATION));
    timage.GetPicture()->SetGraphic(&icon);
    proc.Negative();
    proc.Clear();
    EXPECT_EQ(proc.GetWrappedVclBitmap(), nullptr);
    EXPECT_NE(dynamic_cast<classlib::TIcon*>(timage.GetPicture()->GetGraphic()), nullptr);

    // Clearing the property while a view is attached leaves the view's image.
    TFakeView view;
    proc.SetAttachedImg(&view);
    proc.SetAttachedTImage(nullptr);
    EXPECT_EQ(proc.GetBitmap(), view.GetPxBitmap());
    EXPECT_EQ(view.GetPxBitmap()->GetWidth(), 8);
}

TEST_F(ImgProcAttach, VclBitmapNeverTurnsABorrowedImageIntoAWrapper)
{
    TPxBitmap mine(3, 3, px8g);
    mine.Fill(7);
    classlib::TBitmap vcl;
    vcl.SetPixelFormat(classlib::pf24bit);
    vcl.SetSize(2, 2);
    auto proc = TImgProc::CreateForBitmap(&mine);
    proc->AttachVclBitmap(&vcl);
    EXPECT_NE(proc->GetBitmap(), &mine);
    EXPECT_TRUE(proc->GetOwnsBitmap());
    EXPECT_EQ(proc->GetBitmap()->GetWidth(), 2);
    EXPECT_EQ(mine.GetWidth(), 3);
    EXPECT_EQ(mine.GetPixelGray8(1, 1), 7);
    // A size change made to the TBitmap from outside is seen by the next operation.
    vcl.SetSize(5, 4);
    proc->Clear();
    EXPECT_EQ(proc->GetBitmap()->GetWidth(), 5);
    EXPECT_EQ(proc->GetBitmap()->GetHeight(), 4);
}

TEST_F(ImgProcAttach, SizeChangingOperationsReachTheWrappedTBitmap)
{
    classlib::TBitmap vcl;
    vcl.SetPixelFormat(classlib::pf24bit);
    vcl.SetSize(4, 3);
    TImgProc proc(nullptr);
    proc.AttachVclBitmap(&vcl);
    proc.Resample(8, 6, rfFastLinear);
    EXPECT_EQ(vcl.GetWidth(), 8);
    EXPECT_EQ(vcl.GetHeight(), 6);
    proc.Rotate(90, false, 0, -1);
    EXPECT_EQ(vcl.GetWidth(), 6);
    EXPECT_EQ(vcl.GetHeight(), 8);
    proc.Crop(1, 1, 4, 2);
    EXPECT_EQ(vcl.GetWidth(), 4);
    EXPECT_EQ(vcl.GetHeight(), 2);
    proc.ImageResize(5, 5, 0, 0, 255);
    EXPECT_EQ(vcl.GetWidth(), 5);
    EXPECT_EQ(vcl.GetHeight(), 5);
    EXPECT_EQ(proc.GetBitmap()->GetWidth(), 5);
}

TEST_F(ImgProcAttach, ViewOfferingOnlyATBitmapIsWrappedAndFollowed)
{
    classlib::TBitmap first, second;
    first.SetPixelFormat(classlib::pf24bit);
    first.SetSize(3, 2);
    second.SetPixelFormat(classlib::pf24bit);
    second.SetSize(5, 4);
    TFakeView view;
    view.vcl = &first;
    TImgProc proc(nullptr);
    proc.SetAttachedImg(&view);
    EXPECT_TRUE(proc.GetOwnsBitmap());
    EXPECT_EQ(proc.GetWrappedVclBitmap(), &first);
    EXPECT_EQ(proc.GetBitmap()->GetWidth(), 3);

    view.vcl = &second;
    view.FireChanged();
    EXPECT_EQ(proc.GetWrappedVclBitmap(), &second);
    proc.SetBackground(0x000000FF);
    proc.Clear();
    EXPECT_EQ(static_cast<uint8_t*>(second.GetScanLine(3))[14], 255);  // red of pixel (4, 3)
    EXPECT_GE(view.imageChanges, 1);

    // Back to a TPxBitmap: the wrapper is dropped for the view's image.
    view.vcl = nullptr;
    view.FireChanged();
    EXPECT_EQ(proc.GetBitmap(), view.GetPxBitmap());
    EXPECT_EQ(proc.GetWrappedVclBitmap(), nullptr);
}
