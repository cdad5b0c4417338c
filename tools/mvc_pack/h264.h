#pragma once
// The parts of H.264 syntax that packing needs: NAL units, access units, parameter sets and
// the first fields of a slice header.
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "bits.h"

namespace mvcpack {

enum NalType : uint8_t {
  kNalSlice = 1,
  kNalPartitionA = 2,
  kNalPartitionC = 4,
  kNalIdrSlice = 5,
  kNalSei = 6,
  kNalSps = 7,
  kNalPps = 8,
  kNalAud = 9,
  kNalEndOfSequence = 10,
  kNalEndOfStream = 11,
  kNalFiller = 12,
  kNalSpsExtension = 13,
  kNalPrefix = 14,
  kNalSubsetSps = 15,
  kNalSliceExtension = 20,
  kNalDependentDelimiter = 24,
};

// One NAL unit of an Annex-B stream: header byte first, start code and trailing zeros excluded.
struct NalUnit {
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint8_t type() const { return data[0] & 0x1F; }
  uint8_t refIdc() const { return (data[0] >> 5) & 3; }
  bool isSlice() const { return type() == kNalSlice || type() == kNalIdrSlice; }
  Bytes rbsp() const { return RemoveEmulationPrevention(data + 1, size - 1); }
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

struct SpsInfo {
  uint32_t profileIdc = 0;
  uint32_t levelIdc = 0;
  uint32_t id = 0;
  bool hasChromaFields = false;  // profile carries chroma_format_idc and the bit depths
  uint32_t chromaFormatIdc = 1;
  bool separateColourPlane = false;
  uint32_t bitDepthLuma = 8;
  uint32_t bitDepthChroma = 8;
  uint32_t log2MaxFrameNum = 4;
  uint32_t pocType = 0;
  uint32_t log2MaxPocLsb = 4;
  bool frameMbsOnly = true;
  uint32_t widthMbs = 0;
  uint32_t heightMapUnits = 0;
  uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  size_t idEndBit = 0;  // RBSP bit position right behind seq_parameter_set_id

  uint32_t width() const;
  uint32_t height() const;
};

struct PpsInfo {
  uint32_t id = 0;
  uint32_t spsId = 0;
  size_t idEndBit = 0;  // pic_parameter_set_id is the first field, from bit 0
};

struct SliceInfo {
  uint32_t firstMb = 0;
  uint32_t sliceType = 0;
  uint32_t ppsId = 0;
  size_t ppsIdBegin = 0, ppsIdEnd = 0;  // RBSP bit range of pic_parameter_set_id
  uint32_t frameNum = 0;
  bool fieldPic = false;
  bool bottomField = false;
  bool idr = false;
  uint32_t pocLsb = 0;
};

SpsInfo ParseSps(const Bytes& rbsp);
PpsInfo ParsePps(const Bytes& rbsp);
uint32_t ParseFirstMb(const NalUnit& slice);

// The parameter sets seen so far in one stream, by id.
struct ParameterSets {
  std::map<uint32_t, SpsInfo> sps;
  std::map<uint32_t, PpsInfo> pps;
  void Add(const NalUnit& nal);  // records an SPS or PPS, ignores anything else
  const SpsInfo& SpsOfPps(uint32_t ppsId) const;
};

// Picture order count of the successive pictures of one stream, for frame pictures with
// pic_order_cnt_type 0 or 2 (memory_management_control_operation 5 is not followed).
class PocCounter {
 public:
  // False where the POC is not followed (type 1, field pictures).
  bool Next(const SliceInfo& header, const SpsInfo& sps, bool reference, int64_t& poc);

 private:
  int64_t prevMsb_ = 0;
  uint32_t prevLsb_ = 0;
  int64_t frameNumOffset_ = 0;
  uint32_t prevFrameNum_ = 0;
};

// Parses a slice header up to pic_order_cnt_lsb with the stream's parameter sets.
SliceInfo ParseSliceHeader(const NalUnit& slice, const ParameterSets& sets);

}  // namespace mvcpack
