// Access units of an Annex-B H.264 stream: where each begins, decided from the NAL units in
// stream order. One cutter for every reader in the tree: the plugin's index, korvala-y4m and
// mvc-pack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace h264 {

enum class CutMode : std::uint8_t {
  // A whole stream: single-view, or with its other views interleaved (prefix units, slice
  // extensions). Parameter sets and SEI behind a picture's slices open the next unit unless
  // another view's slices of the same instant follow them.
  kStream,
  // The dependent view alone, as a Blu-ray demuxer writes it: each unit opened by NAL type 24
  // (one without slices too, behind another), or, without those, by a slice extension with
  // first_mb_in_slice 0.
  kDependent,
};

// What the cutter needs of one NAL unit.
struct NalStart {
  std::uint64_t offset = 0;  // of its start code, a leading zero of a four-byte code included
  std::uint8_t header = 0;   // the NAL header byte
  bool firstMbZero = false;  // slices (1, 5, 20): first_mb_in_slice is 0
};

// first_mb_in_slice is 0 exactly when the first bit of the slice header is 1. `payload` starts
// behind the NAL header (and behind the three extension bytes of type 20).
inline bool FirstMbZero(const std::uint8_t* payload, std::size_t len) { return len > 0 && (payload[0] & 0x80); }

class AccessUnitCutter {
 public:
  explicit AccessUnitCutter(CutMode mode = CutMode::kStream) : mode_(mode) {}

  // Takes the next NAL unit. True when this settles the start of a new access unit, at `begin`:
  // this unit's offset or that of a parameter set or SEI before it. The first NAL unit always
  // opens the first access unit.
  bool Push(const NalStart& nal, std::uint64_t& begin);
  void Reset() { *this = AccessUnitCutter(mode_); }

 private:
  bool Open(std::uint64_t at, std::uint64_t& begin);

  CutMode mode_;
  bool open_ = false;          // an access unit has begun
  bool baseVcl_ = false;       // the current unit holds base-view slices
  bool otherVcl_ = false;      // ... slices of another view (type 20)
  bool ended_ = false;         // end of sequence or stream: whatever follows opens a unit
  bool delimited_ = false;     // the current unit holds a dependent-view delimiter (type 24)
  bool candidate_ = false;     // a unit may have begun at candidateAt_, settled by the next slice
  std::uint64_t candidateAt_ = 0;
};

// Offset and length of each NAL unit of a buffer (behind its start code, trailing zeros
// excluded), in order.
struct NalSpan {
  std::size_t start = 0;  // of the start code, as NalStart::offset
  std::size_t header = 0;
  std::size_t size = 0;   // header byte included
};
std::vector<NalSpan> FindNalUnits(const std::uint8_t* data, std::size_t len);

// Cuts a whole buffer into access units: [offset, offset + length) pairs covering it from its
// first start code to its end.
struct UnitRange {
  std::size_t offset = 0;
  std::size_t length = 0;
};
std::vector<UnitRange> CutAccessUnits(const std::uint8_t* data, std::size_t len, CutMode mode = CutMode::kStream);

// The NalStart of a unit found at `span` in `data`.
NalStart DescribeNal(const std::uint8_t* data, const NalSpan& span);

}  // namespace h264
