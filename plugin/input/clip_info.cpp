#include "clip_info.h"

#include <cstring>

namespace korvala {

namespace {

// A section of the file: [begin, end). Reads are at offsets from `begin` and fail, rather than
// read, past `end`; once one fails the section stays failed.
struct Section {
  const uint8_t* data = nullptr;
  size_t begin = 0, end = 0;
  bool ok = false;

  bool Holds(size_t at, size_t bytes) const { return ok && at <= Size() && Size() - at >= bytes; }
  uint32_t Get(size_t at, size_t bytes) {
    if (!Holds(at, bytes)) {
      ok = false;
      return 0;
    }
    uint32_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v = v << 8 | data[begin + at + i];
    return v;
  }
  // The section that starts `at` here with a 32-bit length of the bytes after it.
  Section Sized(size_t at) {
    const uint32_t length = Get(at, 4);
    return Part(at + 4, length);
  }
  Section Part(size_t at, size_t bytes) const {
    Section s{data, 0, 0, Holds(at, bytes)};
    if (s.ok) {
      s.begin = begin + at;
      s.end = s.begin + bytes;
    }
    return s;
  }
  Section From(size_t at) const { return Part(at, at <= Size() ? Size() - at : 0); }
  size_t Size() const { return end - begin; }
};

bool IsVideo(uint8_t codingType) {
  switch (codingType) {
    case 0x01: case 0x02: case 0x1B: case 0x20: case 0x24: case 0xEA: return true;
    default: return false;
  }
}

// The presentation times of the first STC sequence's start and the last one's end.
bool ReadSequenceInfo(Section s, ClipInfo& info) {
  const uint32_t atcSequences = s.Get(1, 1);
  size_t at = 2;
  bool first = true;
  for (uint32_t a = 0; a < atcSequences && s.ok; ++a) {
    const uint32_t stcSequences = s.Get(at + 4, 1);
    at += 6;
    for (uint32_t i = 0; i < stcSequences && s.ok; ++i, at += 14) {
      const int64_t start = s.Get(at + 6, 4), end = s.Get(at + 10, 4);
      if (!s.ok) break;
      if (first) info.start = start * 2;  // 45 kHz in the file
      info.end = end * 2;
      first = false;
    }
  }
  return s.ok;
}

// The first program sequence's video streams: the one a clip's pictures start under.
bool ReadProgramInfo(Section s, ClipInfo& info) {
  const uint32_t sequences = s.Get(1, 1);
  size_t at = 2;
  for (uint32_t p = 0; p < sequences && s.ok; ++p) {
    const uint32_t streams = s.Get(at + 6, 1);
    at += 8;
    for (uint32_t i = 0; i < streams && s.ok; ++i) {
      const uint32_t pid = s.Get(at, 2), length = s.Get(at + 2, 1);
      Section coding = s.Part(at + 3, length);
      at += 3 + size_t{length};
      if (!coding.ok) return false;
      const uint32_t type = coding.Get(0, 1);
      if (p != 0 || !IsVideo(static_cast<uint8_t>(type))) continue;
      const uint32_t formatRate = coding.Get(1, 1);
      if (!coding.ok) return false;
      info.video.push_back({static_cast<uint16_t>(pid), static_cast<uint8_t>(type), static_cast<uint8_t>(formatRate >> 4),
                            static_cast<uint8_t>(formatRate & 15)});
    }
  }
  return s.ok;
}

// One stream's map: coarse entries (a PTS's and an SPN's high bits, and the first fine entry they
// serve) then fine entries (the low bits). `map` starts at the stream's map; `length` becomes
// the bytes its tables span.
bool ReadStreamMap(Section map, uint32_t coarseCount, uint32_t fineCount, EntryPointMap& out, size_t& length) {
  const uint32_t fineAt = map.Get(0, 4);
  if (!map.ok || fineAt < 4 + size_t{coarseCount} * 8) return false;  // the tables would overlap
  length = fineAt + size_t{fineCount} * 4;
  Section coarse = map.Part(4, size_t{coarseCount} * 8), fine = map.Part(fineAt, size_t{fineCount} * 4);
  if (!coarse.ok || !fine.ok) return false;
  out.entries.reserve(fineCount);  // four bytes of the file each
  if (fineCount == 0) return true;
  uint32_t c = 0, ref = coarse.Get(0, 4) >> 14;
  if (ref != 0) return false;  // the first fine entries would have no coarse one
  for (uint32_t i = 0; i < fineCount; ++i) {
    // The coarse entry of fine entry i is the last one whose first fine entry is <= i.
    while (c + 1 < coarseCount) {
      const uint32_t next = coarse.Get((c + 1) * size_t{8}, 4) >> 14;
      if (next < ref || next >= fineCount) return false;
      if (next > i) break;
      ref = next;
      ++c;
    }
    const uint32_t high = coarse.Get(c * size_t{8}, 4), highSpn = coarse.Get(c * size_t{8} + 4, 4);
    const uint32_t low = fine.Get(i * size_t{4}, 4);
    const int64_t pts = (int64_t{high & 0x3FFE} << 19) + (int64_t{(low >> 17) & 0x7FF} << 9);
    const uint32_t spn = (highSpn & ~uint32_t{0x1FFFF}) + (low & 0x1FFFF);
    if (!out.entries.empty() && spn <= out.entries.back().spn) return false;
    out.entries.push_back({pts, spn});
  }
  return coarse.ok && fine.ok;
}

bool ReadCpi(Section cpi, ClipInfo& info) {
  if (cpi.ok && cpi.Size() == 0) return true;  // a clip without entry points
  if ((cpi.Get(0, 2) & 15) != 1) return cpi.ok;  // not an EP map: nothing this reader uses
  Section epMap = cpi.From(2);
  const uint32_t streams = epMap.Get(1, 1);
  if (!epMap.Holds(2, size_t{streams} * 12)) return false;
  const size_t first = info.maps.size();
  size_t used = 2 + size_t{streams} * 12;  // the stream table
  info.maps.resize(first + streams);
  for (uint32_t i = 0; i < streams; ++i) {
    const size_t at = 2 + size_t{i} * 12;
    EntryPointMap& map = info.maps[first + i];
    map.pid = static_cast<uint16_t>(epMap.Get(at, 2));
    const uint32_t counts = epMap.Get(at + 2, 2), countsLow = epMap.Get(at + 4, 4);
    map.streamType = static_cast<uint8_t>(counts >> 2 & 15);
    const uint32_t coarseCount = (counts & 3) << 14 | countsLow >> 18, fineCount = countsLow & 0x3FFFF;
    // Each stream's tables follow the last one's, so that streams naming the same bytes can't
    // multiply what is kept.
    const uint32_t mapAt = epMap.Get(at + 8, 4);
    size_t length = 0;
    if (mapAt < used || !ReadStreamMap(epMap.From(mapAt), coarseCount, fineCount, map, length)) return false;
    used = mapAt + length;
  }
  return epMap.ok;
}

// A stereo clip's dependent view keeps its streams and its map in the extension data, in the
// same forms as the main ones (ID1 2: ID2 5 the program info, ID2 6 the CPI). Only the first of
// each is read, so that entries naming one block many times can't multiply what is kept.
bool ReadExtensionData(Section file, size_t at, ClipInfo& info) {
  if (at == 0) return true;  // none
  const uint32_t length = file.Get(at, 4);
  Section ext = file.Part(at, 4 + size_t{length});
  if (!ext.ok) return false;
  if (length == 0) return true;
  const uint32_t entries = ext.Get(11, 1);
  bool program = false, cpi = false;
  for (uint32_t i = 0; i < entries && ext.ok; ++i) {
    const size_t entry = 12 + size_t{i} * 12;
    const uint32_t id1 = ext.Get(entry, 2), id2 = ext.Get(entry + 2, 2);
    Section block = ext.Part(ext.Get(entry + 4, 4), ext.Get(entry + 8, 4));
    if (id1 != 2) continue;
    if (id2 == 5 && !program) {
      program = true;
      if (!ReadProgramInfo(block.Sized(0), info)) return false;
    } else if (id2 == 6 && !cpi) {
      cpi = true;
      if (!ReadCpi(block.Sized(0), info)) return false;
    }
  }
  return ext.ok;
}

}  // namespace

bool ParseClipInfo(const uint8_t* data, size_t n, ClipInfo& info) {
  info = ClipInfo{};
  if (!data || n < 28 || std::memcmp(data, "HDMV", 4) != 0) return false;
  Section file{data, 0, n, true};
  const uint32_t sequenceAt = file.Get(8, 4), programAt = file.Get(12, 4), cpiAt = file.Get(16, 4),
                 extensionAt = file.Get(24, 4);
  const bool ok = ReadSequenceInfo(file.Sized(sequenceAt), info) && ReadProgramInfo(file.Sized(programAt), info) &&
                  ReadCpi(file.Sized(cpiAt), info) && ReadExtensionData(file, extensionAt, info);
  if (!ok) info = ClipInfo{};
  return ok;
}

ClipPictureSize PictureSizeOfFormat(uint8_t format) {
  switch (format) {
    case 1: return {720, 480, true};
    case 2: return {720, 576, true};
    case 3: return {720, 480, false};
    case 4: return {1920, 1080, true};
    case 5: return {1280, 720, false};
    case 6: return {1920, 1080, false};
    case 7: return {720, 576, false};
    case 8: return {3840, 2160, false};
    default: return {};
  }
}

ClipFrameRate FrameRateOfCode(uint8_t rate) {
  switch (rate) {
    case 1: return {24000, 1001};
    case 2: return {24, 1};
    case 3: return {25, 1};
    case 4: return {30000, 1001};
    case 6: return {50, 1};
    case 7: return {60000, 1001};
    default: return {};
  }
}

}  // namespace korvala
