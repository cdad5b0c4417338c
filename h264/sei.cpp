#include "sei.h"

#include "bits.h"

namespace h264 {

namespace {
constexpr std::uint32_t kRecoveryPoint = 6;

// payloadType and payloadSize: runs of 0xFF, then the last byte.
bool ReadSeiNumber(const std::uint8_t* rbsp, std::size_t len, std::size_t& at, std::uint32_t& value) {
  value = 0;
  while (at < len && rbsp[at] == 0xFF) {
    if (value > (1u << 24)) return false;
    value += 255;
    ++at;
  }
  if (at >= len) return false;
  value += rbsp[at++];
  return true;
}
}  // namespace

bool FindRecoveryPoint(const std::uint8_t* rbsp, std::size_t len, std::uint32_t& recoveryFrameCnt) {
  std::size_t at = 0;
  // Messages until the trailing bits (0x80) or the end.
  while (at < len && rbsp[at] != 0x80) {
    std::uint32_t type = 0, size = 0;
    if (!ReadSeiNumber(rbsp, len, at, type) || !ReadSeiNumber(rbsp, len, at, size)) return false;
    if (size > len - at) return false;
    if (type == kRecoveryPoint) {
      BitReader r(rbsp + at, size);
      recoveryFrameCnt = r.Ue();
      return !r.Error();
    }
    at += size;
  }
  return false;
}

}  // namespace h264
