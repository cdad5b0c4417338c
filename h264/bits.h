// Byte- and bit-level tools for Annex-B elementary streams: start codes, NAL units,
// emulation prevention and exp-Golomb bit reading and writing. Everything here is bounded by
// the buffers it is given; malformed input yields errors, never reads past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace h264 {

// One NAL unit (or MPEG start-code unit) inside a buffer.
struct NalUnit {
  std::size_t start = 0;    // offset of the first byte of its start code (00 00 01 or 00 00 00 01)
  std::size_t header = 0;   // offset of the first byte after the start code
  std::size_t end = 0;      // one past its last byte (trailing zero bytes excluded)
  bool complete = false;    // a following start code was seen, so the unit cannot grow
};

// Offset of the next 00 00 01 at or after pos (of its first 00), or len if there is none.
std::size_t FindStartCode(const std::uint8_t* data, std::size_t len, std::size_t pos);

// Splits [0, len) into units. The last one is marked incomplete: more bytes may belong to it.
// Bytes before the first start code are not part of any unit.
std::vector<NalUnit> SplitUnits(const std::uint8_t* data, std::size_t len);

// RBSP of a NAL payload: emulation prevention bytes (00 00 03 -> 00 00) removed.
void Unescape(const std::uint8_t* data, std::size_t len, std::vector<std::uint8_t>& out);
// Appends rbsp to out with emulation prevention inserted wherever 00 00 is followed by 00..03,
// and behind a final 00 00, so the unit never ends in two zero bytes.
void AppendEscaped(const std::uint8_t* rbsp, std::size_t len, std::vector<std::uint8_t>& out);

// Bit position of the rbsp_stop_one_bit (the last set bit), or len * 8 when every bit is 0.
std::size_t StopBitPosition(const std::uint8_t* rbsp, std::size_t len);

// MSB-first reader over an RBSP. Reading past the end yields zero bits and sets the error flag.
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t len) : data_(data), bits_(len * 8) {}
  std::uint32_t U(int n);          // n <= 32
  bool Flag() { return U(1) != 0; }
  void Skip(std::size_t n);
  void Seek(std::size_t bit) { pos_ = bit <= bits_ ? bit : bits_; }
  std::uint32_t Ue();              // values above 2^32-2 set the error flag
  std::int32_t Se();
  std::size_t Position() const { return pos_; }
  std::size_t BitsLeft() const { return pos_ < bits_ ? bits_ - pos_ : 0; }
  bool Error() const { return error_; }
  void Fail() { error_ = true; }
  // True when the rest is rbsp_trailing_bits (a one, then zeros), possibly followed by zeros.
  bool AtTrailingBits() const;
  bool ByteAligned() const { return (pos_ & 7) == 0; }

 private:
  const std::uint8_t* data_;
  std::size_t bits_;
  std::size_t pos_ = 0;
  bool error_ = false;
};

// MSB-first writer producing an RBSP.
class BitWriter {
 public:
  void U(std::uint32_t value, int n);  // n <= 32
  void Flag(bool b) { U(b ? 1 : 0, 1); }
  void Ue(std::uint32_t value);
  void Se(std::int32_t value);
  // Copies bits [from, to) of src (counted from the first byte's most significant bit).
  void CopyBits(const std::uint8_t* src, std::size_t from, std::size_t to);
  void TrailingBits();  // rbsp_trailing_bits: a one, then zeros up to the byte boundary
  void AlignWithOnes();  // cabac_alignment_one_bit up to the byte boundary
  bool ByteAligned() const { return pending_ == 0; }
  std::size_t Position() const { return bytes_.size() * 8 + pending_; }
  // The bytes written so far; a partial last byte is not included until aligned.
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  void Clear() {
    bytes_.clear();
    acc_ = 0;
    pending_ = 0;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t acc_ = 0;  // pending bits, right-aligned
  int pending_ = 0;        // 0..7
};

}  // namespace h264
