#include "mvc_splitter.h"

#include "bits.h"
#include "parameter_sets.h"

namespace swrt {

namespace {

// A unit that grows past this without an end is cut, so garbage cannot grow the buffer forever.
constexpr std::size_t kMaxUnitBytes = 64u << 20;

bool FirstMbIsZero(const std::uint8_t* payload, std::size_t len) {
  // first_mb_in_slice is the first ue(v): zero exactly when the first bit is 1.
  return len > 0 && (payload[0] & 0x80) != 0;
}

}  // namespace

void MvcSplitter::Push(const std::uint8_t* data, std::size_t len, std::uint64_t stamp) {
  Compact();
  if (stamps_.empty() || stamps_.back().second != stamp) stamps_.emplace_back(base_ + buf_.size(), stamp);
  buf_.insert(buf_.end(), data, data + len);
  flushing_ = false;
}

std::uint64_t MvcSplitter::StampAt(std::uint64_t position) {
  // Stamps of input wholly behind this position are done with.
  while (stamps_.size() > 1 && stamps_[1].first <= position) stamps_.pop_front();
  return stamps_.empty() || stamps_.front().first > position ? AccessUnit::kNoStamp : stamps_.front().second;
}

void MvcSplitter::Compact() {
  if (consumed_ == 0) return;
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(consumed_));
  base_ += consumed_;
  scan_ -= consumed_;
  consumed_ = 0;
}

void MvcSplitter::Reset() {
  buf_.clear();
  consumed_ = scan_ = 0;
  base_ = 0;
  stamps_.clear();
  flushing_ = false;
  current_.Clear();
  baseVcl_ = dependentVcl_ = ended_ = false;
}

MvcSplitter::Boundary MvcSplitter::StartsNewUnit(std::size_t header, std::size_t end, std::size_t next) const {
  if (current_.nals.empty()) return Boundary::No;
  if (ended_) return Boundary::Yes;
  const std::uint8_t* nal = buf_.data() + header;
  switch (nal[0] & 0x1F) {
    case h264::kNalAud:
      return Boundary::Yes;
    case h264::kNalSps:
      return baseVcl_ ? Boundary::Yes : Boundary::No;
    case h264::kNalPrefix: {
      if (!baseVcl_) return Boundary::No;
      if (dependentVcl_) return Boundary::Yes;
      // A prefix unit goes with the base slice behind it: a new unit only if that slice begins
      // a new picture.
      const std::size_t size = buf_.size();
      if (next >= size || next + 5 > size) return flushing_ ? Boundary::Yes : Boundary::NeedMore;
      const std::uint8_t* following = buf_.data() + next + 3;
      const std::uint8_t type = following[0] & 0x1F;
      if (type != h264::kNalSlice && type != h264::kNalIdrSlice) return Boundary::Yes;
      return FirstMbIsZero(following + 1, 1) ? Boundary::Yes : Boundary::No;
    }
    case h264::kNalSlice:
    case h264::kNalIdrSlice:
      return dependentVcl_ || (baseVcl_ && FirstMbIsZero(nal + 1, end - header - 1)) ? Boundary::Yes : Boundary::No;
    case h264::kNalSei:
    case h264::kNalPps:
    case h264::kNalSubsetSps:
      // Behind the base view's slices these still belong to the other views of this unit.
      return dependentVcl_ ? Boundary::Yes : Boundary::No;
    default:
      return Boundary::No;
  }
}

void MvcSplitter::Add(std::size_t header, std::size_t len) {
  const std::uint8_t* nal = buf_.data() + header;
  if (current_.nals.empty()) current_.stamp = StampAt(base_ + header);
  const std::uint8_t type = nal[0] & 0x1F;
  if (type == h264::kNalSlice || type == h264::kNalIdrSlice) baseVcl_ = true;
  if (type == h264::kNalSliceExtension) dependentVcl_ = true;
  if (type == h264::kNalEndOfSequence || type == h264::kNalEndOfStream) ended_ = true;
  current_.nals.emplace_back(current_.bytes.size(), len);
  current_.bytes.insert(current_.bytes.end(), nal, nal + len);
}

void MvcSplitter::Hand(AccessUnit& unit) {
  std::swap(unit, current_);
  current_.Clear();
  baseVcl_ = dependentVcl_ = ended_ = false;
}

bool MvcSplitter::Next(AccessUnit& unit) {
  for (;;) {
    const std::uint8_t* data = buf_.data();
    const std::size_t size = buf_.size();
    const std::size_t sc = h264::FindStartCode(data, size, scan_);
    if (sc >= size) {
      if (flushing_ && !current_.nals.empty()) break;
      // Bytes before any start code are no unit; keep the last two, which may begin one.
      if (current_.nals.empty() && size - consumed_ > 2) consumed_ = scan_ = size - 2;
      return false;
    }
    const std::size_t header = sc + 3;
    const std::size_t next = h264::FindStartCode(data, size, header);
    if (next >= size && !flushing_ && size - consumed_ < kMaxUnitBytes) return false;
    std::size_t end = next;
    if (next < size)
      while (end > header && data[end - 1] == 0) --end;
    if (end <= header || (data[header] & 0x80) != 0) {  // empty, or forbidden_zero_bit set
      scan_ = next >= size ? size : next;
      continue;
    }
    const Boundary boundary = StartsNewUnit(header, end, next);
    if (boundary == Boundary::NeedMore) return false;
    if (boundary == Boundary::Yes) {
      // Leave this NAL unit for the next call; hand out what was gathered.
      consumed_ = scan_ = sc;
      Hand(unit);
      return true;
    }
    Add(header, end - header);
    scan_ = next >= size ? size : next;
    consumed_ = scan_;  // the unit holds its own copy
  }
  // Flushing with nothing more to read: the gathered unit is the last one.
  consumed_ = scan_ = buf_.size();
  Hand(unit);
  return true;
}

}  // namespace swrt
