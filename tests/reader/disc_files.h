#pragma once
// Blu-ray disc files made from what they say, for tests that put true, lying or damaged ones
// beside real streams.
#include <cstdint>
#include <vector>

#include "clip_info.h"

namespace korvala::disc {

using Bytes = std::vector<uint8_t>;

// `bytes` big-endian bytes of v appended.
inline void Put(Bytes& b, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
// A section: its 32-bit length, then its body.
inline void PutSection(Bytes& b, const Bytes& body) {
  Put(b, body.size(), 4);
  b.insert(b.end(), body.begin(), body.end());
}

inline Bytes ProgramInfoSection(const std::vector<ClipVideo>& video) {
  Bytes body = {0, 1};  // one program sequence
  Put(body, 0, 4);      // starting at packet 0
  Put(body, 0x100, 2);  // its PMT's PID
  body.insert(body.end(), {static_cast<uint8_t>(video.size()), 0});
  for (const ClipVideo& v : video) {
    Put(body, v.pid, 2);
    body.insert(body.end(), {21, v.codingType, static_cast<uint8_t>(v.format << 4 | v.rate), 0x30});
    body.resize(body.size() + 18, 0);
  }
  Bytes s;
  PutSection(s, body);
  return s;
}

// A CPI holding an EP map: a coarse entry wherever a PTS's bits above 19 or an SPN's above 17
// change, as muxers write them. PTSs keep only what the map can (their low 9 bits are dropped).
inline Bytes CpiSection(const std::vector<EntryPointMap>& maps) {
  Bytes body = {0, maps.empty() ? uint8_t{0} : uint8_t{1}, 0, static_cast<uint8_t>(maps.size())};
  Bytes tables;
  const size_t mapsAt = 2 + 12 * maps.size();  // from the EP map's first byte, the one after the CPI type
  for (const EntryPointMap& m : maps) {
    Bytes coarse, fine;
    for (size_t i = 0; i < m.entries.size(); ++i) {
      const EntryPoint& e = m.entries[i];
      const bool fresh = i == 0 || e.pts >> 19 != m.entries[i - 1].pts >> 19 || e.spn >> 17 != m.entries[i - 1].spn >> 17;
      if (fresh) {
        Put(coarse, uint64_t{i} << 14 | ((e.pts >> 19) & 0x3FFF), 4);
        Put(coarse, e.spn, 4);
      }
      Put(fine, static_cast<uint64_t>((e.pts >> 9) & 0x7FF) << 17 | (e.spn & 0x1FFFF), 4);
    }
    Put(body, m.pid, 2);
    Put(body, uint64_t{m.streamType} << 34 | uint64_t{coarse.size() / 8} << 18 | m.entries.size(), 6);
    Put(body, mapsAt + tables.size(), 4);
    Put(tables, 4 + coarse.size(), 4);
    tables.insert(tables.end(), coarse.begin(), coarse.end());
    tables.insert(tables.end(), fine.begin(), fine.end());
  }
  if (maps.empty()) body.resize(2);
  body.insert(body.end(), tables.begin(), tables.end());
  Bytes s;
  PutSection(s, body);
  return s;
}

// A clip information file saying what `info` says. With `dependent`, its streams and maps are a
// stereo clip's dependent view's: kept in the extension data, the main sections empty.
inline Bytes ClipInfoFile(const ClipInfo& info, bool dependent = false) {
  Bytes sequence = {0, 1};  // one ATC sequence from packet 0 with one STC sequence
  Put(sequence, 0, 4);
  sequence.insert(sequence.end(), {1, 0});
  Put(sequence, 0x1001, 2);  // PCR PID
  Put(sequence, 0, 4);
  Put(sequence, info.start / 2, 4);  // 45 kHz
  Put(sequence, info.end / 2, 4);
  const Bytes program = ProgramInfoSection(dependent ? std::vector<ClipVideo>{} : info.video);
  const Bytes cpi = dependent ? Bytes{0, 0, 0, 0} : CpiSection(info.maps);
  Bytes extension;
  if (dependent) {
    const Bytes blocks[] = {ProgramInfoSection(info.video), CpiSection(info.maps)};
    size_t at = 4 + 8 + 2 * 12;  // the blocks' start, from the extension data's first byte
    Bytes body;
    Put(body, at, 4);
    Put(body, 2, 4);  // entries
    for (uint16_t id2 : {5, 6}) {
      Put(body, 2, 2);
      Put(body, id2, 2);
      Put(body, at, 4);
      Put(body, blocks[id2 - 5].size(), 4);
      at += blocks[id2 - 5].size();
    }
    for (const Bytes& b : blocks) body.insert(body.end(), b.begin(), b.end());
    PutSection(extension, body);
  }

  Bytes file = {'H', 'D', 'M', 'V', '0', '2', '0', '0'};
  size_t at = 40 + 4;  // past the header and an empty clip info section
  Bytes sequenceSection;
  PutSection(sequenceSection, sequence);
  const Bytes* sections[] = {&sequenceSection, &program, &cpi};
  for (const Bytes* s : sections) {
    Put(file, at, 4);
    at += s->size();
  }
  Put(file, at, 4);  // clip marks: empty
  Put(file, dependent ? at + 4 : 0, 4);
  file.resize(40, 0);
  Put(file, 0, 4);  // clip info
  for (const Bytes* s : sections) file.insert(file.end(), s->begin(), s->end());
  Put(file, 0, 4);
  file.insert(file.end(), extension.begin(), extension.end());
  return file;
}

}  // namespace korvala::disc
