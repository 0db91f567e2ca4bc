// The progress record that an I/O object hands by reference to every reader
// and writer call.
//
// The I/O object fills Handler, Sender and Aborting; the counters and
// factors belong to the reader or writer, which typically sets a factor to
// 100 / total units, reports Trunc(done * factor) through Handler when it is
// assigned, and stops early when *Aborting is set. A reader or writer reports
// failure by setting *Aborting and returning; Fail also records why (the
// first reason given stands; the I/O object shows it through
// TImgIO::GetLastFailure). A reader that delivers an image it could read
// only in part (data that end early or are damaged, made up by the decoder)
// records the reason with Warn and does not set *Aborting: the image is kept,
// and the I/O object shows the reason through TImgIO::GetLastWarning.
//
// Mask, DataSize and Count carry the few per-format extras between the I/O
// object and a routine: a reader that delivers transparency as a mask gives
// a new TPxMask to Mask (owned by the record until the I/O object takes it,
// turns it into the alpha channel and frees it); a writer of a format with a
// transparency mask finds the mask of the image lent there (borrowed: owned
// by the I/O object, valid for the call);
// DataSize is the number of bytes of the format's data from the stream's
// position when the caller knows it (-1 otherwise); Count is a reader's page
// or frame count.
//
// Threads: a record lives for one call on one thread; Aborting may be set by
// the owner's thread while a worker polls it (a plain flag: the value only
// ever goes from false to true during a call).
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxMask.h"

namespace classlib {
class TObject;
}

namespace imaging {

// The transparency mask of one call, owned or borrowed as its holder says:
// Give hands over a mask the slot then owns (freed with the slot unless Take
// moves it out); Lend shows a mask that stays its owner's. Either replaces
// what the slot held before (an owned mask is freed, a borrowed one let go).
// A copy (of a record handed on to a nested routine) borrows the original's
// mask and never owns it.
class TPxMaskSlot {
public:
    TPxMaskSlot() = default;
    TPxMaskSlot(const TPxMaskSlot& Other) : borrowed_(Other.Get()) {}
    TPxMaskSlot& operator=(const TPxMaskSlot& Other)
    {
        if (Other.Get() != Get())
            Lend(Other.Get());
        return *this;
    }
    TPxMaskSlot(TPxMaskSlot&&) = default;
    TPxMaskSlot& operator=(TPxMaskSlot&&) = default;

    TPxMask* Get() const { return owned_ ? owned_.get() : borrowed_; }
    bool Owned() const { return owned_ != nullptr; }
    explicit operator bool() const { return Get() != nullptr; }
    TPxMask* operator->() const { return Get(); }

    void Give(std::unique_ptr<TPxMask> Mask)
    {
        owned_ = std::move(Mask);
        borrowed_ = nullptr;
    }
    void Lend(TPxMask* Mask)
    {
        owned_.reset();
        borrowed_ = Mask;
    }
    // The owned mask for the caller to keep; nullptr when the slot is empty
    // or holds a borrowed mask (which it then lets go).
    std::unique_ptr<TPxMask> Take()
    {
        borrowed_ = nullptr;
        return std::move(owned_);
    }
    void Reset()
    {
        owned_.reset();
        borrowed_ = nullptr;
    }

private:
    std::unique_ptr<TPxMask> owned_;
    TPxMask* borrowed_ = nullptr;
};

struct TPxIOProgressInfo {
    TPxProgressEvent Handler;                // empty for parameters-only reads
    classlib::TObject* Sender = nullptr;     // reported as sender
    int32_t Val1 = 0;                        // work counters of the routine
    int32_t Val2 = 0;
    double Per1 = 0;                         // percent-per-unit factors
    double Per2 = 0;
    bool* Aborting = nullptr;                // the owner's aborting flag
    TPxReadFailure* Failure = nullptr;       // the owner's failure reason
    TPxMaskSlot Mask;                        // see above
    int64_t DataSize = -1;                   // see above
    int32_t Count = 0;                       // see above

    // Reports Per through Handler when one is assigned.
    void Progress(int Per) const
    {
        if (Handler)
            Handler(Sender, Per);
    }
    bool Aborted() const { return Aborting && *Aborting; }
    void Abort() const
    {
        if (Aborting)
            *Aborting = true;
    }
    // Sets the aborting flag and, unless one is recorded, the reason.
    void Fail(TPxReadFailure Why) const
    {
        if (Failure && *Failure == TPxReadFailure::None)
            *Failure = Why;
        Abort();
    }
    // Records, unless one is recorded, why the image delivered is incomplete;
    // the aborting flag is not touched.
    void Warn(TPxReadFailure Why) const
    {
        if (Failure && *Failure == TPxReadFailure::None)
            *Failure = Why;
    }
};

// While a reader or writer runs, its record has an aborting flag and a
// failure reason even when the caller gave none (so the routine may set and
// test them freely); the caller's pointers are put back at the end.
class TPxAbortFlagScope {
public:
    explicit TPxAbortFlagScope(TPxIOProgressInfo& Progress)
        : progress_(Progress), saved_(Progress.Aborting), savedFailure_(Progress.Failure)
    {
        if (!progress_.Aborting)
            progress_.Aborting = &local_;
        if (!progress_.Failure)
            progress_.Failure = &localFailure_;
    }
    ~TPxAbortFlagScope()
    {
        progress_.Aborting = saved_;
        progress_.Failure = savedFailure_;
    }
    TPxAbortFlagScope(const TPxAbortFlagScope&) = delete;
    TPxAbortFlagScope& operator=(const TPxAbortFlagScope&) = delete;

private:
    TPxIOProgressInfo& progress_;
    bool* saved_;
    TPxReadFailure* savedFailure_;
    bool local_ = false;
    TPxReadFailure localFailure_ = TPxReadFailure::None;
};

}  // namespace imaging
