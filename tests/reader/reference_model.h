#pragma once
// A plain, byte-by-byte model of cutting, splitting and merging, written apart from the
// plugin's code so that the two can be compared: whole files in memory, no buffers to refill.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace korvala::reference {

using Bytes = std::vector<uint8_t>;

struct Nal {
  uint8_t type;
  Bytes bytes;  // header byte to the end, start code excluded
};

// Offsets of the four-byte delimiters of type t: the first anywhere, each later one at least
// four bytes past the one before.
inline std::vector<size_t> Delimiters(const Bytes& f, uint8_t t) {
  std::vector<size_t> at;
  for (size_t p = 0; p + 4 < f.size(); ++p)
    if (f[p] == 0 && f[p + 1] == 0 && f[p + 2] == 0 && f[p + 3] == 1 && (f[p + 4] & 0x1F) == t &&
        (at.empty() || p >= at.back() + 4))
      at.push_back(p);
  return at;
}

// The access units of a whole file; the last runs to the file's end.
inline std::vector<Bytes> CutFile(const Bytes& f, uint8_t t) {
  std::vector<size_t> at = Delimiters(f, t);
  std::vector<Bytes> units;
  for (size_t i = 0; i < at.size(); ++i)
    units.emplace_back(f.begin() + at[i], i + 1 < at.size() ? f.begin() + at[i + 1] : f.end());
  return units;
}

// NAL units: each opens at 00 00 01 and ends before the next 00 00 00 or 00 00 01.
inline std::vector<Nal> SplitNals(const uint8_t* u, size_t n) {
  std::vector<Nal> nals;
  size_t p = 0;
  for (;;) {
    while (p + 3 < n && !(u[p] == 0 && u[p + 1] == 0 && u[p + 2] == 1)) ++p;
    if (p + 3 >= n) break;
    size_t h = p + 3, e = h + 1;
    while (e + 2 < n && !(u[e] == 0 && u[e + 1] == 0 && u[e + 2] <= 1)) ++e;
    if (e + 2 >= n) e = n;
    nals.push_back({static_cast<uint8_t>(u[h] & 0x1F), Bytes(u + h, u + e)});
    if (e == n) break;
    p = e;
  }
  return nals;
}
inline std::vector<Nal> SplitNals(const Bytes& u) { return SplitNals(u.data(), u.size()); }

// One merged access unit: the base delimiter, every SPS and subset SPS, the base view's PPSs,
// SEI, non-IDR and IDR slices, the dependent view's PPSs, SEI and slices, the ends of sequence;
// each behind 00 00 00 01.
inline Bytes Merge(const uint8_t* base, size_t baseLen, const uint8_t* dep, size_t depLen) {
  const std::vector<Nal> views[2] = {SplitNals(base, baseLen), SplitNals(dep, depLen)};
  Bytes out;
  auto rows = [&](int view, uint8_t type, bool once = false) {
    for (const Nal& nal : views[view])
      if (nal.type == type) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), nal.bytes.begin(), nal.bytes.end());
        if (once) break;
      }
  };
  rows(0, 9, true);
  rows(0, 7);
  rows(1, 15);
  rows(0, 8);
  rows(0, 6);
  rows(0, 1);
  rows(0, 5);
  rows(1, 8);
  rows(1, 6);
  rows(1, 20);
  rows(0, 10);
  rows(1, 10);
  return out;
}
inline Bytes Merge(const Bytes& base, const Bytes& dep) {
  return Merge(base.data(), base.size(), dep.data(), dep.size());
}

// Fuzz input to stream bytes: FF x becomes a start code (four bytes when x has its top bit
// set, else three) and the header byte x & 0x7F; every other byte stands for itself. Start
// codes and delimiters would be rare in raw random bytes.
inline Bytes Expand(const uint8_t* d, size_t n) {
  Bytes out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    if (d[i] == 0xFF && i + 1 < n) {
      uint8_t x = d[++i];
      if (x & 0x80) out.push_back(0);
      out.insert(out.end(), {0, 0, 1, static_cast<uint8_t>(x & 0x7F)});
    } else {
      out.push_back(d[i]);
    }
  }
  return out;
}

}  // namespace korvala::reference
