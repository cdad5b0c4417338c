#include "nal_framing.h"

namespace korvala {

namespace {

const uint8_t kStartCode[4] = {0, 0, 0, 1};

// One parameter set of a record: a 16-bit length, then the NAL unit.
bool TakeUnit(const uint8_t* data, size_t n, size_t& at, std::vector<uint8_t>& out) {
  if (at + 2 > n) return false;
  const size_t length = size_t{data[at]} << 8 | data[at + 1];
  at += 2;
  if (length > n - at) return false;
  if (length > 0) {
    out.insert(out.end(), kStartCode, kStartCode + 4);
    out.insert(out.end(), data + at, data + at + length);
  }
  at += length;
  return true;
}

}  // namespace

bool ParameterSetsFromRecord(const uint8_t* data, size_t n, bool hevc, std::vector<uint8_t>& out, int& lengthSize) {
  lengthSize = 0;
  if (!data || n == 0) return false;
  if (data[0] != 1) {
    // Annex B private data (or none that we read): taken as it stands.
    if (n >= 3 && data[0] == 0 && data[1] == 0 && (data[2] == 1 || (n >= 4 && data[2] == 0 && data[3] == 1)))
      out.insert(out.end(), data, data + n);
    return false;
  }
  std::vector<uint8_t> sets;
  if (!hevc) {
    // avcC: version, profile, compatibility, level, length size, SPS count and SPSs, PPS count and PPSs.
    if (n < 7) return false;
    const int size = (data[4] & 3) + 1;
    size_t at = 5;
    const uint32_t spsCount = data[at++] & 0x1F;
    for (uint32_t i = 0; i < spsCount; ++i)
      if (!TakeUnit(data, n, at, sets)) return false;
    if (at >= n) return false;
    const uint32_t ppsCount = data[at++];
    for (uint32_t i = 0; i < ppsCount; ++i)
      if (!TakeUnit(data, n, at, sets)) return false;
    if (size == 3) return false;
    lengthSize = size;
  } else {
    // hvcC: 22 bytes of profile and format, then arrays of NAL units by type.
    if (n < 23) return false;
    const int size = (data[21] & 3) + 1;
    const uint32_t arrays = data[22];
    size_t at = 23;
    for (uint32_t a = 0; a < arrays; ++a) {
      if (at + 3 > n) return false;
      const uint32_t count = uint32_t{data[at + 1]} << 8 | data[at + 2];
      at += 3;
      for (uint32_t i = 0; i < count; ++i)
        if (!TakeUnit(data, n, at, sets)) return false;
    }
    if (size == 3) return false;
    lengthSize = size;
  }
  out.insert(out.end(), sets.begin(), sets.end());
  return true;
}

size_t AppendAnnexB(const uint8_t* data, size_t n, int lengthSize, std::vector<uint8_t>& out) {
  const size_t before = out.size();
  if (lengthSize <= 0) {
    out.insert(out.end(), data, data + n);
    return n;
  }
  const size_t field = static_cast<size_t>(lengthSize);
  size_t at = 0;
  while (at + field <= n) {
    size_t length = 0;
    for (size_t i = 0; i < field; ++i) length = length << 8 | data[at + i];
    at += field;
    if (length > n - at) length = n - at;
    if (length > 0) {
      out.insert(out.end(), kStartCode, kStartCode + 4);
      out.insert(out.end(), data + at, data + at + length);
    }
    at += length;
  }
  return out.size() - before;
}

}  // namespace korvala
