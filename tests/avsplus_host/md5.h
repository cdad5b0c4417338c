// MD5 (RFC 1321), fed piece by piece: the real-host program digests each plane row by row, and
// tests digest our harness's frames the same way to compare. Our own, so neither side links a
// crypto library (nor libavutil, which would load the Media SDK dispatcher ahead of the plugin).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace avsplus_host {

class Md5 {
 public:
  void Update(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      const std::size_t used = length_ % 64, take = size < 64 - used ? size : 64 - used;
      std::memcpy(block_ + used, data, take);
      length_ += take;
      data += take;
      size -= take;
      if (length_ % 64 == 0) Transform();
    }
  }

  // The digest as 32 lowercase hex digits; the object is spent afterwards.
  std::string HexDigest() {
    const std::uint64_t bits = length_ * 8;
    const std::uint8_t pad = 0x80, zero = 0;
    Update(&pad, 1);
    while (length_ % 64 != 56) Update(&zero, 1);
    for (int i = 0; i < 8; ++i) {
      const std::uint8_t byte = static_cast<std::uint8_t>(bits >> (8 * i));
      Update(&byte, 1);
    }
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (std::uint32_t v : h_)
      for (int i = 0; i < 4; ++i) {
        const std::uint8_t byte = static_cast<std::uint8_t>(v >> (8 * i));
        s += hex[byte >> 4];
        s += hex[byte & 15];
      }
    return s;
  }

 private:
  void Transform() {
    static const std::uint32_t k[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
    static const int r[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                              5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                              4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                              6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i)
      w[i] = block_[4 * i] | (block_[4 * i + 1] << 8) | (block_[4 * i + 2] << 16) |
             (static_cast<std::uint32_t>(block_[4 * i + 3]) << 24);
    std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3];
    for (int i = 0; i < 64; ++i) {
      std::uint32_t f;
      int g;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      const std::uint32_t t = d;
      d = c;
      c = b;
      const std::uint32_t x = a + f + k[i] + w[g];
      b = b + ((x << r[i]) | (x >> (32 - r[i])));
      a = t;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
  }

  std::uint32_t h_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  std::uint8_t block_[64] = {};
  std::uint64_t length_ = 0;
};

// The digest of a plane's visible samples, row by row, without the padding past each row.
inline std::string PlaneMd5(const std::uint8_t* ptr, int pitch, int rowSize, int height) {
  Md5 md5;
  for (int y = 0; y < height; ++y) md5.Update(ptr + static_cast<std::ptrdiff_t>(y) * pitch, static_cast<std::size_t>(rowSize));
  return md5.HexDigest();
}

}  // namespace avsplus_host
