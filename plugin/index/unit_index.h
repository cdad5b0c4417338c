#pragma once
// The access-unit index of a clip: where each unit of the base (or only) stream and of the
// dependent stream lies, which units a decoder can start from, and the output order of their
// pictures. Built by one pass over the input, NAL unit by NAL unit; pure over the bytes it is
// handed, so it can be tested and fuzzed without files.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "access_units.h"
#include "parameter_sets.h"
#include "poc.h"
#include "unit_table.h"

namespace korvala {

// Where a decoder may start and still produce every later picture in output order exactly.
enum class AccessKind : uint8_t {
  kNone,
  kStart,  // the stream's first unit: decoding from it is what in-order decoding does
  kIdr,    // an IDR picture
  kIntra,  // a non-IDR I picture proven to start at: see UnitIndex::Finish
};

// One access unit of one stream, as the scanner found it.
struct ScannedUnit {
  uint64_t offset = 0;  // of its first start code in the file
  uint64_t size = 0;
  bool slices = false;   // holds a slice of its stream's view (base, or dependent alone)
  bool picture = false;  // holds a base-view slice that parsed
  bool idr = false;
  bool intra = false;    // every base-view slice is I (or SI)
  bool anchor = false;   // its (first) dependent-view component is an anchor picture
  bool other = false;    // holds a dependent-view slice
  bool field = false;
  bool bottom = false;
  bool secondField = false;  // completes the field pair begun in the unit before
  bool reset = false;        // IDR or operation 5: a new output epoch begins here
  bool recovery = false;     // a recovery point SEI stands before its base slices
  int32_t poc = 0;
};

// A recovery point's picture and the picture from which decoding there is exact, as units.
struct Recovery {
  uint32_t start = 0;
  uint32_t exact = 0;
};

// The codecs whose streams are indexed.
enum class Codec : uint8_t { kH264, kHevc, kMpeg2 };

// Cuts one stream with start codes into access units and describes each.
class StreamScanner {
 public:
  explicit StreamScanner(h264::CutMode mode = h264::CutMode::kStream, Codec codec = Codec::kH264)
      : cutter_(mode), mode_(mode), codec_(codec) {}

  // One NAL unit whose start code begins at `offset` of the stream. `nal` is its header byte
  // and what follows: the whole unit, or at least its first kLookahead bytes. `zerosFrom`:
  // where zero bytes before its start code begin, when there are any (trailing zeros, part of
  // no unit: a unit closed there ends where they begin).
  void Nal(uint64_t offset, const uint8_t* nal, size_t len, uint64_t zerosFrom = UINT64_MAX);
  // The stream ends at `size` bytes.
  void End(uint64_t size);

  std::vector<ScannedUnit>& Units() { return units_; }
  const std::vector<ScannedUnit>& Units() const { return units_; }
  bool Ended() const { return streamEnded_; }
  Codec StreamCodec() const { return codec_; }
  // The recovery points whose recovery picture was found, in stream order.
  const std::vector<Recovery>& Recoveries() const { return recoveries_; }

  static constexpr size_t kLookahead = 4096;

 private:
  void Close(uint64_t end);
  void Open(uint64_t at);
  void NoteZeros(uint64_t offset, uint64_t zerosFrom);
  void BaseSlice(const uint8_t* nal, size_t len);
  void Recover(uint32_t frameNum, uint32_t maxFrameNum, bool reset);
  static constexpr size_t kMaxAwaited = 16;
  void HevcNal(uint64_t offset, const uint8_t* nal, size_t len);
  void Mpeg2Unit(uint64_t offset, const uint8_t* unit, size_t len);
  void FinishMpeg2Picture();

  h264::AccessUnitCutter cutter_;
  h264::CutMode mode_;
  Codec codec_;
  std::vector<ScannedUnit> units_;
  ScannedUnit current_;
  // The last NAL units with zeros before them: where they begin, where their zeros begin. A
  // unit begins at the NAL unit just pushed or at one held back a little before it.
  std::array<std::pair<uint64_t, uint64_t>, 4> zeros_{};
  size_t zerosNext_ = 0;
  bool open_ = false;
  bool streamEnded_ = false;
  bool sliceSeen_ = false;  // the current unit's first base slice has been looked at
  std::array<bool, 32> haveSps_{};
  std::array<h264::Sps, 32> sps_;
  std::array<bool, 256> havePps_{};
  std::array<h264::Pps, 256> pps_;
  std::vector<h264::Pps> pendingPps_;  // until a slice says which view they are for
  // Recovery points: the SEI of the unit being read (its recovery_frame_cnt, -1 none), and
  // those whose recovery picture (by frame_num) is still to come.
  int64_t seiRecovery_ = -1;
  struct AwaitedRecovery {
    uint32_t start;
    uint32_t frameNum;
  };
  std::vector<AwaitedRecovery> awaited_;
  std::vector<Recovery> recoveries_;
  h264::PocCounter poc_;
  // The last picture, for pairing fields.
  bool lastUnpairedField_ = false;
  bool lastBottom_ = false;
  uint32_t lastFrameNum_ = 0;
  std::vector<uint8_t> rbsp_;

  // HEVC: what the slice header's layout and the picture order count need.
  struct HevcPps {
    bool valid = false;
    uint32_t spsId = 0;
    bool dependentSlices = false, outputFlag = false;
    uint32_t extraBits = 0;
  };
  struct HevcSps {
    bool valid = false;
    bool separatePlanes = false;
    uint32_t log2MaxPocLsb = 4;
  };
  std::array<HevcPps, 64> hevcPps_{};
  std::array<HevcSps, 16> hevcSps_{};
  bool vcl_ = false, candidate_ = false, ended_ = false;  // the HEVC and MPEG-2 cutting
  uint64_t candidateAt_ = 0;
  int64_t prevTid0Msb_ = 0, prevTid0Lsb_ = 0;
  bool firstPicture_ = true, afterEnd_ = false, skipRasl_ = false;

  // MPEG-2: the picture of the unit being read.
  bool gopOpened_ = false;
  uint32_t temporalReference_ = 0;
  uint32_t pictureType_ = 0;
  uint32_t structure_ = 3;  // 1 top field, 2 bottom field, 3 frame
  uint32_t lastTemporalReference_ = 0;
};

// One access unit of the clip: the base (or only) stream's unit and the dependent stream's.
struct IndexedUnit {
  uint64_t offset[2] = {0, 0};
  uint32_t size[2] = {0, 0};
  uint32_t frame = 0;  // output-order index of the frame it belongs to, kNoFrame when none
  AccessKind access = AccessKind::kNone;
};

constexpr uint32_t kNoFrame = UINT32_MAX;

class UnitIndex : public UnitTable {
 public:
  // twoStreams: units pair the base stream's with the dependent stream's, by position.
  explicit UnitIndex(bool twoStreams = false, Codec codec = Codec::kH264)
      : twoStreams_(twoStreams), base_(h264::CutMode::kStream, codec), dependent_(h264::CutMode::kDependent) {}

  StreamScanner& Base() { return base_; }
  StreamScanner& Dependent() { return dependent_; }
  bool TwoStreams() const { return twoStreams_; }

  // Units whose bytes are known in every stream so far (all of them once the scan has ended).
  size_t KnownUnits() const;
  // The unit's place in each file; k < KnownUnits().
  IndexedUnit Unit(size_t k) const override;
  // Both streams have been scanned to their ends: Finish() may be called.
  bool ScanEnded() const { return base_.Ended() && (!twoStreams_ || dependent_.Ended()); }

  // Orders the frames for output and finds the random access points; once the scan has ended.
  void Finish();
  bool Finished() const { return finished_; }

  // After Finish: frames (a frame picture, or a field pair) in the stream.
  uint32_t FrameCount() const override { return static_cast<uint32_t>(unitOfFrame_.size()); }
  uint32_t FrameOfUnit(size_t unit) const override { return unit < units_.size() ? units_[unit].frame : kNoFrame; }
  uint32_t UnitOfFrame(uint32_t frame) const { return frame < unitOfFrame_.size() ? unitOfFrame_[frame] : 0; }
  // The unit to start decoding from so that `frame` comes out exactly: the last random access
  // point at or before its unit whose own frame comes no later. idrOnly: only IDR units (and the
  // start) count, for a decoder whose pictures cannot be told apart after an open-GOP start.
  uint32_t SeekUnit(uint32_t frame, bool idrOnly = false) const override;
  // The first frame in output order that decoding from random access point `unit` yields
  // exactly: its own, or a recovery point's recovery picture; 0 for the stream's start.
  uint32_t FirstExactFrame(uint32_t unit) const override;
  const std::vector<uint32_t>& RandomAccessUnits() const { return raps_; }
  AccessKind Access(size_t unit) const { return unit < units_.size() ? units_[unit].access : AccessKind::kNone; }

  // The finished tables, for keeping the index between runs.
  const std::vector<IndexedUnit>& FinishedUnits() const { return units_; }
  const std::vector<uint32_t>& FrameUnits() const { return unitOfFrame_; }
  const std::vector<std::pair<uint32_t, uint32_t>>& ExactFrom() const { return exactFrom_; }
  Codec StreamCodec() const { return base_.StreamCodec(); }
  // Keeps only the frames `shown` marks (by output-order frame), renumbered in order: a
  // playlist's items show parts of their clips. A random access point whose own frame is cut
  // yields exactly from the next frame shown.
  void Cut(const std::vector<bool>& shown);
  // Takes tables a kept index held, already checked to agree with each other, as finished.
  void Adopt(std::vector<IndexedUnit> units, std::vector<uint32_t> unitOfFrame, std::vector<uint32_t> raps,
             std::vector<std::pair<uint32_t, uint32_t>> exactFrom);

  // Bytes held, for the benchmark's memory figure.
  size_t MemoryBytes() const;

 private:
  bool twoStreams_;
  StreamScanner base_;
  StreamScanner dependent_;
  bool finished_ = false;
  std::vector<IndexedUnit> units_;
  std::vector<uint32_t> unitOfFrame_;
  std::vector<uint32_t> raps_;
  std::vector<std::pair<uint32_t, uint32_t>> exactFrom_;  // recovery points: unit, first exact frame
};

}  // namespace korvala
