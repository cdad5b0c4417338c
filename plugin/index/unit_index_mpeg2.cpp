// The index's view of an MPEG-2 video stream: a unit per picture (with the sequence and GOP
// headers before it), display order from the GOP and temporal_reference, I pictures to start
// at.
#include "unit_index.h"

namespace korvala {

namespace {
constexpr uint8_t kPicture = 0x00;
constexpr uint8_t kSequence = 0xB3;
constexpr uint8_t kExtension = 0xB5;
constexpr uint8_t kSequenceEnd = 0xB7;
constexpr uint8_t kGop = 0xB8;
constexpr uint8_t kPictureCodingExtension = 8;
}  // namespace

void StreamScanner::Mpeg2Unit(uint64_t offset, const uint8_t* unit, size_t len) {
  const uint8_t code = unit[0];
  // A picture opens a unit unless a sequence or GOP header already has.
  const bool opens = code == kSequence || code == kGop || code == kPicture;
  if (!open_ || ended_ || (opens && current_.slices)) {
    Close(offset);
    Open(offset);
    ended_ = false;
    structure_ = 3;
    pictureType_ = 0;
  }
  switch (code) {
    case kGop:
      // temporal_reference counts from each GOP: the display order starts again.
      current_.reset = true;
      break;
    case kPicture:
      if (len < 3 || current_.slices) break;
      current_.slices = true;
      temporalReference_ = (uint32_t{unit[1]} << 2) | (unit[2] >> 6);
      pictureType_ = (unit[2] >> 3) & 7;
      break;
    case kExtension:
      if (len >= 4 && current_.slices && (unit[1] >> 4) == kPictureCodingExtension) structure_ = unit[3] & 3;
      break;
    case kSequenceEnd:
      ended_ = true;
      break;
    default:
      break;
  }
}

void StreamScanner::FinishMpeg2Picture() {
  if (!current_.slices || pictureType_ < 1 || pictureType_ > 3) return;
  const bool field = structure_ == 1 || structure_ == 2;
  current_.picture = true;
  current_.field = field;
  current_.bottom = structure_ == 2;
  current_.intra = pictureType_ == 1;
  // Display order within the GOP; each GOP after the one before.
  current_.poc = static_cast<int32_t>(temporalReference_);
  current_.secondField = field && lastUnpairedField_ && lastBottom_ != current_.bottom &&
                         lastTemporalReference_ == temporalReference_ && !current_.reset;
  lastUnpairedField_ = field && !current_.secondField;
  lastBottom_ = current_.bottom;
  lastTemporalReference_ = temporalReference_;
}

}  // namespace korvala
