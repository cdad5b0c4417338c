#pragma once
// Bit-level access to H.264 RBSP data: emulation prevention, Exp-Golomb reading and writing.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace mvcpack {

using Bytes = std::vector<uint8_t>;

// Malformed or unsupported input; the message is meant for the user.
class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// NAL payload (the bytes behind the header) to RBSP: every 00 00 03 loses its 03.
Bytes RemoveEmulationPrevention(const uint8_t* payload, size_t size);

// Appends RBSP bytes to out as a NAL payload, inserting 03 wherever two zero bytes would be
// followed by a byte of 0 to 3, and after a final zero byte (cabac_zero_word).
void AppendWithEmulationPrevention(Bytes& out, const uint8_t* rbsp, size_t size);

// Bit position of the rbsp_stop_one_bit: the last set bit of the RBSP. Throws if none.
size_t StopBitPosition(const Bytes& rbsp);

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), bits_(size * 8) {}
  explicit BitReader(const Bytes& bytes) : BitReader(bytes.data(), bytes.size()) {}

  uint32_t u(unsigned count);  // count <= 32
  bool flag() { return u(1) != 0; }
  uint32_t ue();
  int32_t se();
  size_t position() const { return pos_; }

 private:
  const uint8_t* data_;
  size_t bits_;
  size_t pos_ = 0;
};

class BitWriter {
 public:
  void u(unsigned count, uint32_t value);  // count <= 32
  void flag(bool value) { u(1, value ? 1 : 0); }
  void ue(uint32_t value);
  // Copies bits [from, to) of src, counted from the first byte's most significant bit.
  void CopyBits(const uint8_t* src, size_t from, size_t to);
  // rbsp_trailing_bits: a one, then zeros up to the next byte boundary.
  void TrailingBits();
  size_t position() const { return bytes_.size() * 8 + pending_; }
  // The written bytes; the bit count must be a multiple of 8.
  const Bytes& bytes() const;

 private:
  Bytes bytes_;
  uint32_t acc_ = 0;      // pending bits, right-aligned
  unsigned pending_ = 0;  // 0..7
};

}  // namespace mvcpack
