#include "bits.h"

#include <cstring>

namespace h264 {

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
  out.resize(len);
  std::size_t o = 0, i = 0;
  while (i < len) {
    // Most payload bytes are far from any 00 00 03: copy up to the next zero byte at once.
    const void* z = std::memchr(data + i, 0, len - i);
    std::size_t stop = z ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(z) - data) : len;
    std::memcpy(out.data() + o, data + i, stop - i);
    o += stop - i;
    i = stop;
    if (i >= len) break;
    if (i + 2 < len && data[i + 1] == 0 && data[i + 2] == 3) {
      out[o++] = 0;
      out[o++] = 0;
      i += 3;
    } else {
      out[o++] = 0;
      ++i;
    }
  }
  out.resize(o);
}

void AppendEscaped(const std::uint8_t* rbsp, std::size_t len, std::vector<std::uint8_t>& out) {
  out.reserve(out.size() + len + len / 64 + 2);
  int zeros = 0;
  std::size_t i = 0;
  while (i < len) {
    if (zeros == 0) {
      const void* z = std::memchr(rbsp + i, 0, len - i);
      std::size_t stop = z ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(z) - rbsp) : len;
      out.insert(out.end(), rbsp + i, rbsp + stop);
      i = stop;
      if (i >= len) break;
    }
    std::uint8_t b = rbsp[i++];
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
  // Trailing cabac_zero_words would read as zeros in front of the next start code.
  if (zeros >= 2) out.push_back(3);
}

std::size_t StopBitPosition(const std::uint8_t* rbsp, std::size_t len) {
  std::size_t i = len;
  while (i > 0 && rbsp[i - 1] == 0) --i;
  if (i == 0) return len * 8;
  std::uint8_t b = rbsp[i - 1];
  int bit = 0;
  while (!((b >> bit) & 1)) ++bit;
  return i * 8 - 1 - static_cast<std::size_t>(bit);
}

std::uint32_t BitReader::U(int n) {
  if (n <= 0) return 0;
  if (static_cast<std::size_t>(n) > BitsLeft()) {
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
  // Gather the bytes holding the n bits (at most five) into one 64-bit word.
  const std::size_t first = pos_ >> 3;
  const std::size_t last = (pos_ + static_cast<std::size_t>(n) - 1) >> 3;
  std::uint64_t word = 0;
  for (std::size_t b = first; b <= last; ++b) word = (word << 8) | data_[b];
  const std::size_t spare = (last + 1) * 8 - (pos_ + static_cast<std::size_t>(n));
  pos_ += static_cast<std::size_t>(n);
  return static_cast<std::uint32_t>((word >> spare) & ((std::uint64_t{1} << n) - 1));
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
  if (n <= 0) return;
  if (n < 32) value &= (1u << n) - 1;
  // acc_ holds at most 7 bits; push out whole bytes as they fill.
  std::uint64_t acc = (static_cast<std::uint64_t>(acc_) << n) | value;
  int bits = pending_ + n;
  while (bits >= 8) {
    bits -= 8;
    bytes_.push_back(static_cast<std::uint8_t>(acc >> bits));
  }
  pending_ = bits;
  acc_ = static_cast<std::uint32_t>(acc & ((1u << bits) - 1));
}

void BitWriter::Ue(std::uint32_t value) {
  const std::uint64_t v = std::uint64_t{value} + 1;
  int len = 0;
  while ((v >> (len + 1)) != 0) ++len;
  U(0, len);
  if (len + 1 > 32) {
    U(static_cast<std::uint32_t>(v >> 32), len + 1 - 32);
    U(static_cast<std::uint32_t>(v), 32);
  } else {
    U(static_cast<std::uint32_t>(v), len + 1);
  }
}

void BitWriter::Se(std::int32_t value) {
  const std::int64_t v = value;
  Ue(static_cast<std::uint32_t>(v > 0 ? 2 * v - 1 : -2 * v));
}

void BitWriter::CopyBits(const std::uint8_t* src, std::size_t from, std::size_t to) {
  if (to <= from) return;
  std::size_t p = from;
  while (p < to && (p & 7)) {
    U((src[p >> 3] >> (7 - (p & 7))) & 1u, 1);
    ++p;
  }
  const std::size_t wholeBytes = (to - p) / 8;
  if (wholeBytes) {
    const std::uint8_t* s = src + (p >> 3);
    if (pending_ == 0) {
      bytes_.insert(bytes_.end(), s, s + wholeBytes);
    } else {
      // Shifted copy: each output byte takes the pending bits and the top of the next source byte.
      const int keep = pending_, shift = 8 - pending_;
      std::uint32_t acc = acc_;
      std::size_t at = bytes_.size();
      bytes_.resize(at + wholeBytes);
      std::uint8_t* d = bytes_.data() + at;
      for (std::size_t i = 0; i < wholeBytes; ++i) {
        d[i] = static_cast<std::uint8_t>((acc << shift) | (s[i] >> keep));
        acc = s[i] & ((1u << keep) - 1);
      }
      acc_ = acc;
    }
    p += wholeBytes * 8;
  }
  while (p < to) {
    U((src[p >> 3] >> (7 - (p & 7))) & 1u, 1);
    ++p;
  }
}

void BitWriter::TrailingBits() {
  U(1, 1);
  if (pending_) U(0, 8 - pending_);
}

void BitWriter::AlignWithOnes() {
  if (pending_) U(0xFF, 8 - pending_);
}

}  // namespace h264
