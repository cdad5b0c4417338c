#include "playlist.h"

#include <cstring>

namespace korvala {

namespace {

constexpr uint8_t kStereoSubPath = 8;  // out-of-mux synchronous path: the dependent view's clips
constexpr size_t kMaxItems = 4096;     // more play items than any disc carries: a damaged count

// Big-endian fields read inside [begin, end): any read past the end fails the whole parse.
struct Cursor {
  const uint8_t* data;
  size_t end;
  size_t at;
  bool ok = true;

  bool Has(size_t n) const { return ok && at <= end && end - at >= n; }
  uint32_t Read(size_t bytes) {
    if (!Has(bytes)) {
      ok = false;
      return 0;
    }
    uint32_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v = v << 8 | data[at + i];
    at += bytes;
    return v;
  }
  void Skip(size_t n) {
    if (!Has(n)) ok = false;
    else at += n;
  }
  std::string Name() {
    if (!Has(5)) {
      ok = false;
      return {};
    }
    std::string name(reinterpret_cast<const char*>(data + at), 5);
    at += 5;
    for (char c : name)
      if (c < '0' || c > '9') ok = false;  // clip names are five digits
    return name;
  }
  // A bounded region of `length` bytes from here, for an item with its own length field.
  Cursor Sub(size_t length) const {
    Cursor c{data, end, at};
    if (!Has(length)) c.ok = false;
    else c.end = at + length;
    return c;
  }
};

// One sub-path: its type and its clips. The cursor stands at its length field.
bool ReadSubPath(Cursor& c, uint8_t& type, std::vector<std::string>& clips) {
  const uint32_t length = c.Read(4);
  Cursor s = c.Sub(length);
  c.Skip(length);
  s.Skip(1);
  type = static_cast<uint8_t>(s.Read(1));
  s.Skip(3);
  const uint32_t items = s.Read(1);
  for (uint32_t i = 0; i < items && s.ok; ++i) {
    const uint32_t itemLength = s.Read(2);
    Cursor item = s.Sub(itemLength);
    s.Skip(itemLength);
    std::string name = item.Name();
    if (item.ok) clips.push_back(std::move(name));
  }
  return c.ok && s.ok;
}

}  // namespace

bool ParsePlaylist(const uint8_t* data, size_t n, PlaylistClips& clips) {
  clips = PlaylistClips{};
  if (!data || n < 20 || std::memcmp(data, "MPLS", 4) != 0) return false;
  Cursor header{data, n, 8};
  const uint32_t playlistAt = header.Read(4);
  header.Skip(4);  // marks
  const uint32_t extensionAt = header.Read(4);
  if (!header.ok) return false;

  Cursor list{data, n, playlistAt};
  const uint32_t listLength = list.Read(4);
  list = list.Sub(listLength);
  list.Skip(2);
  const uint32_t playItems = list.Read(2);
  const uint32_t subPaths = list.Read(2);
  if (!list.ok || playItems == 0 || playItems > kMaxItems) return false;
  for (uint32_t i = 0; i < playItems; ++i) {
    const uint32_t length = list.Read(2);
    Cursor item = list.Sub(length);
    list.Skip(length);
    std::string name = item.Name();
    item.Skip(4 + 2 + 1);  // codec, connection condition, STC id
    PlayTime time;
    time.in = item.Read(4);
    time.out = item.Read(4);
    if (!list.ok || !item.ok) return false;
    clips.base.push_back(std::move(name));
    clips.times.push_back(time);
  }

  std::vector<std::string> stereo;
  for (uint32_t i = 0; i < subPaths && list.ok; ++i) {
    uint8_t type = 0;
    std::vector<std::string> names;
    if (ReadSubPath(list, type, names) && type == kStereoSubPath && stereo.empty()) stereo = std::move(names);
  }
  // Blu-ray 3D keeps its stereo sub-path in the extension data (ID1 2, ID2 2).
  if (stereo.empty() && extensionAt != 0) {
    Cursor ext{data, n, extensionAt};
    const uint32_t extLength = ext.Read(4);
    Cursor body = ext.Sub(extLength);
    body.Skip(4 + 3);
    const uint32_t entries = body.Read(1);
    for (uint32_t e = 0; e < entries && body.ok && stereo.empty(); ++e) {
      const uint32_t id1 = body.Read(2), id2 = body.Read(2), at = body.Read(4), length = body.Read(4);
      if (!body.ok || id1 != 2 || id2 != 2) continue;
      if (at > extLength) continue;
      Cursor block{data, n, extensionAt + size_t{at}};
      block = block.Sub(length);
      block.Skip(4);
      const uint32_t count = block.Read(2);
      for (uint32_t i = 0; i < count && block.ok && stereo.empty(); ++i) {
        uint8_t type = 0;
        std::vector<std::string> names;
        if (ReadSubPath(block, type, names) && type == kStereoSubPath) stereo = std::move(names);
      }
    }
  }
  clips.dependent = std::move(stereo);
  if (clips.dependent.size() > clips.base.size()) clips.dependent.resize(clips.base.size());
  return true;
}

}  // namespace korvala
