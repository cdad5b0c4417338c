// The decoded picture buffer of a two-view (MVC) stream as the reference decoder keeps it: per
// view, picture order counts, frame_num gaps, the sliding window and memory management
// operations, long-term indices, and the reference picture lists of every slice, including the
// inter-view entries of the dependent view. Pure bookkeeping: no pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "parameter_sets.h"
#include "slice_header.h"

namespace swrt {

// Fields of a picture as a bit mask.
enum Fields : std::uint8_t { kTopField = 1, kBottomField = 2, kBothFields = 3 };

// One frame, complementary field pair or unpaired field of one view.
struct StoredPicture {
  std::uint64_t id = 0;
  int view = 0;                  // 0 base, 1 dependent
  std::uint8_t decoded = 0;      // fields decoded so far
  bool codedAsFrame = false;
  bool nonExisting = false;      // inferred for a frame_num gap: never decoded
  bool reference = false;        // the first field was a reference picture (pairing rule)
  bool hasMmco5 = false;         // the last field decoded carried operation 5
  std::uint32_t frameNum = 0;
  std::int32_t poc[2] = {0, 0};  // top, bottom, in the view's own count
  std::uint8_t shortRef = 0;     // fields marked "used for short-term reference"
  std::uint8_t longRef = 0;      // fields marked "used for long-term reference"
  std::uint32_t longTermFrameIdx = 0;

  // The single-view stream the two views are joined into.
  std::int64_t joinedPoc[2] = {0, 0};
  std::uint32_t joinedFrameNum = 0;
  std::uint8_t joinedShort = 0, joinedLong = 0;
  std::uint32_t joinedLongIdx = 0;
  std::uint8_t interViewHold = 0;  // fields kept until the dependent view of their unit is done
  bool joinedReference = false;    // coded as a reference picture in the joined stream
  std::uint64_t serial = 0;        // the joined picture that carries its first field

  bool IsReference() const { return (shortRef | longRef) != 0; }
  bool InJoinedDpb() const { return (joinedShort | joinedLong) != 0; }
  // PicOrderCnt() of the fields in `fields` that are decoded.
  std::int32_t Poc(std::uint8_t fields) const;
};

// A picture number from its frame's value (FrameNumWrap or LongTermFrameIdx): the value itself
// when decoding a frame; for a field, odd for the current field's parity and even for the other.
inline std::int64_t FieldNumber(std::int64_t frameValue, std::uint8_t field, std::uint8_t currentFields) {
  if (currentFields == kBothFields) return frameValue;
  return 2 * frameValue + (field == currentFields ? 1 : 0);
}

// One entry of a reference picture list; picture null is "no reference picture".
struct RefEntry {
  StoredPicture* picture = nullptr;
  std::uint8_t fields = kBothFields;  // the field referenced, or both for a frame
  bool operator==(const RefEntry& o) const { return picture == o.picture && fields == o.fields; }
};

// What the current picture is, from its first slice and NAL unit.
struct PictureStart {
  int view = 0;
  bool idr = false;
  std::uint32_t refIdc = 0;
  const h264::Sps* sps = nullptr;
  const h264::SliceHeader* header = nullptr;
};

// The inter-view references a dependent-view slice may use: the base view's picture of the
// same access unit, with the view id lists of the subset SPS.
struct InterViewContext {
  StoredPicture* basePicture = nullptr;  // null when the unit has none usable
  std::uint8_t baseFields = kBothFields;
  std::uint32_t baseViewId = 0;
  const std::vector<std::uint32_t>* refs[2] = {nullptr, nullptr};  // view ids for lists 0 and 1
};

class MvcDpb {
 public:
  MvcDpb();

  // Starts a picture: frame_num gaps, pairing with a first field, picture order count. Returns
  // the picture it is decoded into (a new one, or the first field's), or null when the stream
  // is broken beyond use for this view.
  StoredPicture* Start(const PictureStart& start);
  // Start() would take this picture as the second field of the view's last picture.
  bool PairsWithLastField(const PictureStart& start) const;
  // The current picture's reference lists for one of its slices, as the reference decoder
  // builds them (initialisation, inter-view entries, modification). False when a command
  // names a picture that does not exist.
  bool BuildLists(const h264::SliceHeader& slice, const InterViewContext& interView, std::vector<RefEntry> lists[2]);
  // Marks the current picture and the view's references after decoding. False when a memory
  // management operation named a picture that is not there.
  bool Finish();

  // Every picture of both views still held for any reason.
  const std::vector<std::unique_ptr<StoredPicture>>& Pictures() const { return pictures_; }
  // Drops pictures no longer held by either view's buffer, the joined stream or a hold.
  void Collect();
  // Forget a view's references (its stream is lost until its next IDR picture).
  void ResetView(int view);
  void Clear();

  StoredPicture* Current() const { return current_; }
  // The picture last started in a view (kept until another one starts there).
  StoredPicture* LastOfView(int view) const { return lastStarted_[view]; }
  std::uint8_t CurrentFields() const { return currentFields_; }
  bool CurrentIsSecondField() const { return secondField_; }
  // The picture's POC in the view's count, before an operation 5 resets it.
  std::int32_t CurrentPoc() const { return currentPoc_; }

 private:
  struct ViewState {
    std::int64_t prevPocMsb = 0;
    std::uint32_t prevPocLsb = 0;
    std::int64_t prevFrameNumOffset = 0;
    std::uint32_t prevFrameNum = 0;
    bool prevHadMmco5 = false;
    std::uint32_t prevRefFrameNum = 0;
    std::int32_t maxLongTermFrameIdx = -1;  // -1: no long-term frame indices
    StoredPicture* lastField = nullptr;     // an unpaired first field, the view's last picture
    bool started = false;
  };

  StoredPicture* NewPicture(int view);
  void FillGap(ViewState& vs, const h264::Sps& sps, std::uint32_t frameNum);
  void SlidingWindow(int view, const h264::Sps& sps);
  void ComputePoc(ViewState& vs, const PictureStart& start);
  // False when an operation names a picture that is not there.
  bool Adaptive(int view, const std::vector<h264::Mmco>& mmcos, bool& currentLong, bool& reset);
  void UnmarkAll(int view);
  std::int64_t FrameNumWrap(const StoredPicture& p) const;
  // The short-term (PicNum) or long-term (LongTermPicNum) reference field or frame with this
  // number in the current view, or null.
  RefEntry Find(std::int64_t number, bool longTerm) const;
  RefEntry FindShort(std::int64_t picNum) const { return Find(picNum, false); }
  RefEntry FindLong(std::int64_t longTermPicNum) const { return Find(longTermPicNum, true); }
  void InitLists(const h264::SliceHeader& slice, std::vector<RefEntry> lists[2]) const;

  std::vector<std::unique_ptr<StoredPicture>> pictures_;
  ViewState views_[2];
  std::uint64_t nextId_ = 1;

  // The picture being decoded.
  StoredPicture* current_ = nullptr;
  StoredPicture* lastStarted_[2] = {nullptr, nullptr};
  PictureStart start_;
  h264::SliceHeader firstSlice_;
  h264::Sps sps_;
  std::uint8_t currentFields_ = kBothFields;
  bool secondField_ = false;
  std::int32_t currentPoc_ = 0;
  std::int64_t frameNumOffset_ = 0;
  std::int64_t pocMsb_ = 0;
  // Joined picture order count = the view's own count + this; moves at IDR pictures and at
  // operation 5, so the joined count never restarts.
  std::int64_t pocOffset_[2] = {0, 0};
};

}  // namespace swrt
