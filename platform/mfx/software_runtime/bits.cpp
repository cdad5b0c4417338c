#include "bits.h"

#include <cstring>

namespace swrt {

std::size_t FindStartCode(const std::uint8_t* data, std::size_t len, std::size_t pos) {
  while (pos + 3 <= len) {
    const void* hit = std::memchr(data + pos + 2, 1, len - pos - 2);
    if (!hit) return len;
    std::size_t one = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    if (data[one - 1] == 0 && data[one - 2] == 0) return one - 2;
    pos = one - 1;
  }
  return len;
}

std::vector<NalUnit> SplitUnits(const std::uint8_t* data, std::size_t len) {
  std::vector<NalUnit> units;
  std::size_t sc = FindStartCode(data, len, 0);
  while (sc < len) {
    NalUnit u;
    u.start = (sc > 0 && data[sc - 1] == 0) ? sc - 1 : sc;
    u.header = sc + 3;
    std::size_t next = FindStartCode(data, len, u.header);
    u.complete = next < len;
    std::size_t end = next;
    // Zero bytes before the next start code belong to neither unit (trailing_zero_8bits).
    if (u.complete)
      while (end > u.header && data[end - 1] == 0) --end;
    u.end = end;
    units.push_back(u);
    sc = next;
  }
  return units;
}

void Unescape(const std::uint8_t* data, std::size_t len, std::vector<std::uint8_t>& out) {
  out.clear();
  out.reserve(len);
  int zeros = 0;
  for (std::size_t i = 0; i < len; ++i) {
    std::uint8_t b = data[i];
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
}

void AppendEscaped(const std::uint8_t* rbsp, std::size_t len, std::vector<std::uint8_t>& out) {
  int zeros = 0;
  for (std::size_t i = 0; i < len; ++i) {
    std::uint8_t b = rbsp[i];
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
}

std::uint32_t BitReader::U(int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    std::uint32_t bit = 0;
    if (pos_ < bits_) {
      bit = (data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u;
      ++pos_;
    } else {
      error_ = true;
    }
    v = (v << 1) | bit;
  }
  return v;
}

void BitReader::Skip(std::size_t n) {
  if (n > BitsLeft()) {
    error_ = true;
    pos_ = bits_;
  } else {
    pos_ += n;
  }
}

std::uint32_t BitReader::Ue() {
  int leading = 0;
  while (U(1) == 0) {
    if (error_ || ++leading > 31) {
      error_ = true;
      return 0;
    }
  }
  if (leading == 0) return 0;
  std::uint64_t v = (std::uint64_t{1} << leading) - 1 + U(leading);
  if (v > 0xFFFFFFFEu) {
    error_ = true;
    return 0;
  }
  return static_cast<std::uint32_t>(v);
}

std::int32_t BitReader::Se() {
  std::uint32_t k = Ue();
  std::int64_t v = (k & 1) ? (static_cast<std::int64_t>(k) + 1) / 2 : -(static_cast<std::int64_t>(k) / 2);
  return static_cast<std::int32_t>(v);
}

bool BitReader::AtTrailingBits() const {
  if (pos_ >= bits_) return false;
  std::size_t p = pos_;
  if (((data_[p >> 3] >> (7 - (p & 7))) & 1u) == 0) return false;
  for (++p; p < bits_; ++p)
    if ((data_[p >> 3] >> (7 - (p & 7))) & 1u) return false;
  return true;
}

void BitWriter::U(std::uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i) {
    if (used_ == 8) {
      bytes_.push_back(0);
      used_ = 0;
    }
    if ((value >> i) & 1u) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (0x80u >> used_));
    ++used_;
  }
}

void BitWriter::TrailingBits() {
  U(1, 1);
  used_ = 8;
}

void CopyBits(const std::uint8_t* src, std::size_t from, std::size_t to, BitWriter& w) {
  std::size_t p = from;
  while (p < to && (p & 7)) {
    w.U((src[p >> 3] >> (7 - (p & 7))) & 1u, 1);
    ++p;
  }
  while (p + 8 <= to) {
    w.U(src[p >> 3], 8);
    p += 8;
  }
  while (p < to) {
    w.U((src[p >> 3] >> (7 - (p & 7))) & 1u, 1);
    ++p;
  }
}

}  // namespace swrt
