#pragma once
// One input stream as packing sees it: its NAL units cut into access units, its parameter sets
// by id, its slices parsed with them, and the picture order count of its pictures.
#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <vector>

#include "bits.h"
#include "parameter_sets.h"
#include "slice_header.h"

namespace mvcpack {

using Bytes = std::vector<uint8_t>;

// Malformed or unsupported input; the message is meant for the user.
class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Slice data partitions A to C (refused) have no name in h264::NalType.
constexpr uint8_t kNalPartitionA = 2;
constexpr uint8_t kNalPartitionC = 4;

// One NAL unit of an Annex-B stream: header byte first, start code and trailing zeros excluded.
struct NalUnit {
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint8_t type() const { return data[0] & 0x1F; }
  uint8_t refIdc() const { return (data[0] >> 5) & 3; }
  bool isSlice() const { return type() == h264::kNalSlice || type() == h264::kNalIdrSlice; }
  Bytes rbsp() const;
};

// Every NAL unit behind a 00 00 01 start code, in stream order; empty ones are skipped.
std::vector<NalUnit> SplitAnnexB(const uint8_t* data, size_t size);

struct AccessUnit {
  std::vector<NalUnit> nals;
};

// Groups NAL units into access units by the H.264 rules: an access unit ends before an AUD,
// SPS, PPS, SEI, or NAL unit type 14 to 18 that follows one of its slices, and before a
// slice with first_mb_in_slice 0. Units holding no slice are dropped (they decode to nothing).
std::vector<AccessUnit> GroupAccessUnits(const std::vector<NalUnit>& nals);

// Width and height after cropping.
uint32_t DisplayWidth(const h264::Sps& sps);
uint32_t DisplayHeight(const h264::Sps& sps);

// The parameter sets seen so far in one stream, by id.
struct ParameterSets {
  std::map<uint32_t, h264::Sps> sps;
  std::map<uint32_t, h264::Pps> pps;
  void Add(const NalUnit& nal);  // records an SPS or PPS, ignores anything else
  const h264::Pps& Pps(uint32_t ppsId) const;
  const h264::Sps& SpsOfPps(uint32_t ppsId) const;
};

// A slice parsed with the parameter sets it names (which must outlive it and stay unchanged).
struct Slice {
  NalUnit nal;
  Bytes rbsp;
  h264::SliceContext context;
  h264::SliceHeader header;
  const h264::Sps* sps = nullptr;
  const h264::Pps* pps = nullptr;
};

Slice ParseSlice(const NalUnit& nal, const ParameterSets& sets);

// Picture order count of the successive pictures of one stream, for frame pictures with
// pic_order_cnt_type 0 or 2 (memory_management_control_operation 5 is not followed).
class PocCounter {
 public:
  // False where the POC is not followed (type 1, field pictures).
  bool Next(const Slice& slice, int64_t& poc);

 private:
  int64_t prevMsb_ = 0;
  uint32_t prevLsb_ = 0;
  int64_t frameNumOffset_ = 0;
  uint32_t prevFrameNum_ = 0;
};

}  // namespace mvcpack
