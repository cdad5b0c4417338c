#include "bits.h"

namespace mvcpack {

Bytes RemoveEmulationPrevention(const uint8_t* payload, size_t size) {
  Bytes out;
  out.reserve(size);
  unsigned zeros = 0;
  for (size_t i = 0; i < size; ++i) {
    uint8_t b = payload[i];
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
  return out;
}

void AppendWithEmulationPrevention(Bytes& out, const uint8_t* rbsp, size_t size) {
  out.reserve(out.size() + size + size / 64 + 1);
  unsigned zeros = 0;
  for (size_t i = 0; i < size; ++i) {
    uint8_t b = rbsp[i];
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
  if (size > 0 && rbsp[size - 1] == 0) out.push_back(3);
}

size_t StopBitPosition(const Bytes& rbsp) {
  for (size_t i = rbsp.size(); i-- > 0;) {
    if (rbsp[i] == 0) continue;
    unsigned bit = 7;
    while (((rbsp[i] >> (7 - bit)) & 1) == 0) --bit;
    return i * 8 + bit;
  }
  throw PackError("parameter set without rbsp trailing bits");
}

uint32_t BitReader::u(unsigned count) {
  if (count > bits_ - pos_ || bits_ < pos_) throw PackError("truncated NAL unit");
  uint32_t v = 0;
  for (unsigned i = 0; i < count; ++i, ++pos_) {
    v = (v << 1) | ((data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1);
  }
  return v;
}

uint32_t BitReader::ue() {
  unsigned zeros = 0;
  while (u(1) == 0) {
    if (++zeros > 31) throw PackError("invalid Exp-Golomb code");
  }
  if (zeros == 0) return 0;
  return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + u(zeros));
}

int32_t BitReader::se() {
  uint32_t k = ue();
  int64_t v = (k & 1) ? (int64_t{k} + 1) / 2 : -(int64_t{k} / 2);
  return static_cast<int32_t>(v);
}

void BitWriter::u(unsigned count, uint32_t value) {
  for (unsigned i = count; i-- > 0;) {
    acc_ = (acc_ << 1) | ((value >> i) & 1);
    if (++pending_ == 8) {
      bytes_.push_back(static_cast<uint8_t>(acc_));
      acc_ = 0;
      pending_ = 0;
    }
  }
}

void BitWriter::ue(uint32_t value) {
  uint64_t code = uint64_t{value} + 1;
  unsigned len = 0;
  while ((code >> len) > 1) ++len;
  u(len, 0);
  // len + 1 bits of code; split so that each call stays within 32 bits.
  if (len >= 32) {
    u(1, 1);
    u(len, static_cast<uint32_t>(code));
  } else {
    u(len + 1, static_cast<uint32_t>(code));
  }
}

void BitWriter::CopyBits(const uint8_t* src, size_t from, size_t to) {
  while (from < to && (from & 7) != 0) {
    u(1, (src[from >> 3] >> (7 - (from & 7))) & 1);
    ++from;
  }
  if (pending_ == 0) {
    size_t whole = (to - from) / 8;
    bytes_.insert(bytes_.end(), src + from / 8, src + from / 8 + whole);
    from += whole * 8;
  } else {
    bytes_.reserve(bytes_.size() + (to - from) / 8 + 1);
    for (; from + 8 <= to; from += 8) u(8, src[from >> 3]);
  }
  for (; from < to; ++from) u(1, (src[from >> 3] >> (7 - (from & 7))) & 1);
}

void BitWriter::TrailingBits() {
  u(1, 1);
  if (pending_ != 0) u(8 - pending_, 0);
}

const Bytes& BitWriter::bytes() const {
  if (pending_ != 0) throw std::logic_error("BitWriter: output not byte aligned");
  return bytes_;
}

}  // namespace mvcpack
