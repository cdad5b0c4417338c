// The dependent view of a stereo (MVC) stream as a plain AVC stream, and the cutting of a
// multiview byte stream into access units, each split into a base-view packet and a
// dependent-view packet for two ordinary H.264 decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "bits.h"

namespace swrt {

// Subset SPS NAL (header byte first, escaped) -> SPS NAL with profile_idc 100 carrying the same
// seq_parameter_set_data bits, then rbsp trailing bits. False when the unit does not parse.
bool RewriteSubsetSps(const std::uint8_t* nal, std::size_t len, std::vector<std::uint8_t>& out);

// Coded slice extension NAL (type 20, MVC form) -> an ordinary slice: type 5 when non_idr_flag
// is 0, else 1; the three extension bytes removed. viewId receives the unit's view_id.
bool RewriteSliceExtension(const std::uint8_t* nal, std::size_t len, std::vector<std::uint8_t>& out,
                           std::uint32_t& viewId);

// One access unit of a multiview stream, as two Annex-B packets (four-byte start codes).
struct MvcUnit {
  std::vector<std::uint8_t> base;
  std::vector<std::uint8_t> dependent;
};

class MvcDemux {
 public:
  // Slices of other non-base views are dropped; by default the first non-base view of the
  // first subset SPS is kept.
  void SetDependentView(std::uint32_t viewId) {
    dependentView_ = viewId;
    dependentViewSet_ = true;
  }
  // Takes bytes of the stream in order.
  void Push(const std::uint8_t* data, std::size_t len);
  // The end of the input: the last unit is complete as it stands.
  void Flush() { flushing_ = true; }
  // The next complete access unit; false when more input is needed (or, after Flush, none is left).
  bool Next(MvcUnit& unit);
  // Forget buffered bytes and unit state (parameter sets seen are kept).
  void Reset();
  std::size_t Buffered() const { return buf_.size() - consumed_; }

 private:
  struct Pending {
    std::size_t header = 0, end = 0;
  };
  bool StartsNewUnit(std::uint8_t type, const std::uint8_t* nal, std::size_t len) const;
  void Add(const std::uint8_t* nal, std::size_t len, MvcUnit& unit);
  void NoteUnit(std::uint8_t type, const std::uint8_t* nal, std::size_t len);
  void Compact();

  std::vector<std::uint8_t> buf_;
  std::size_t consumed_ = 0;  // bytes before this belong to emitted units
  std::size_t scan_ = 0;      // where the next unit's start code is searched
  bool flushing_ = false;

  MvcUnit current_;
  bool any_ = false, baseVcl_ = false, dependentVcl_ = false, ended_ = false;

  std::set<std::uint32_t> spsIds_, subsetIds_;
  std::uint32_t dependentView_ = 0;
  bool dependentViewSet_ = false;
  std::vector<std::uint8_t> scratch_;
};

}  // namespace swrt
