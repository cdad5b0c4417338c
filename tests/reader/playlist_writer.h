// Blu-ray movie playlists (MPLS) made in the tests: play items with their IN and OUT times and a
// stereo sub-path, laid out as a disc holds them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace disc_test {

struct WrittenItem {
  std::string clip;       // five digits
  uint32_t in = 0, out = 0;  // 45 kHz
};

inline void PutU16(std::vector<uint8_t>& b, size_t v) {
  b.insert(b.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}
inline void PutU32(std::vector<uint8_t>& b, size_t v) {
  PutU16(b, v >> 16 & 0xFFFF);
  PutU16(b, v & 0xFFFF);
}

// A playlist of `items` and, when `subItems` is not empty, one sub-path of `subPathType` with them.
inline std::vector<uint8_t> PlaylistBytes(const std::vector<WrittenItem>& items, uint8_t subPathType = 8,
                                          const std::vector<std::string>& subItems = {}) {
  std::vector<uint8_t> list;
  PutU16(list, 0);
  PutU16(list, items.size());
  PutU16(list, subItems.empty() ? 0 : 1);
  for (const WrittenItem& i : items) {
    std::vector<uint8_t> item(i.clip.begin(), i.clip.end());
    item.insert(item.end(), {'M', '2', 'T', 'S', 0, 1, 0});  // codec, connection condition 1, STC 0
    PutU32(item, i.in);
    PutU32(item, i.out);
    item.resize(item.size() + 12, 0);  // user operation mask, still mode
    PutU16(list, item.size());
    list.insert(list.end(), item.begin(), item.end());
  }
  if (!subItems.empty()) {
    std::vector<uint8_t> path = {0, subPathType, 0, 0, 0, static_cast<uint8_t>(subItems.size())};
    for (const std::string& name : subItems) {
      std::vector<uint8_t> item(name.begin(), name.end());
      item.insert(item.end(), {'M', '2', 'T', 'S'});
      item.resize(item.size() + 19, 0);
      PutU16(path, item.size());
      path.insert(path.end(), item.begin(), item.end());
    }
    PutU32(list, path.size());
    list.insert(list.end(), path.begin(), path.end());
  }
  std::vector<uint8_t> file = {'M', 'P', 'L', 'S', '0', '2', '0', '0'};
  PutU32(file, 40);
  PutU32(file, 0);
  PutU32(file, 0);
  file.resize(40, 0);
  PutU32(file, list.size());
  file.insert(file.end(), list.begin(), list.end());
  return file;
}

}  // namespace disc_test
