// Fuzz target: clip information files, as any bytes or as a written file (main or dependent view)
// with the input laid over it and cut. Whatever they say, a file is refused with nothing kept, or
// read into maps whose source packets rise and whose size the file's bytes account for; a title
// described by them has stretches that rise within their files and frames that add up.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "clip_info.h"
#include "disc_files.h"
#include "disc_title.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "clip information invariant broken: %s\n", what);
    std::abort();
  }
}

korvala::ClipInfo Sample() {
  korvala::ClipInfo info;
  info.start = 54000000;
  info.end = 57600000;
  info.video = {{0x1011, 0x1B, 6, 1}};
  korvala::EntryPointMap map{0x1011, 1, {}};
  for (int64_t i = 0; i < 24; ++i) map.entries.push_back({54000000 + i * 90000, uint32_t(4 + i * 9000)});
  info.maps = {map, {0x1100, 3, {{54000000, 20}}}};
  return info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const korvala::disc::Bytes written[2] = {korvala::disc::ClipInfoFile(Sample()),
                                                  korvala::disc::ClipInfoFile(Sample(), true)};
  const uint8_t form = data[0];
  std::vector<uint8_t> file(data + 3, data + size);
  if (form & 1) {
    file = written[form >> 1 & 1];
    const size_t at = data[1] * file.size() / 256;
    for (size_t i = 3; i < size; ++i) file[(at + i) % file.size()] ^= data[i];
    if (form & 4) file.resize(file.size() - data[2] % file.size());
  }
  korvala::ClipInfo info;
  if (!korvala::ParseClipInfo(file.data(), file.size(), info)) {
    Check(info.maps.empty() && info.video.empty(), "a refused file keeps nothing");
    return 0;
  }
  size_t entries = 0;
  for (const korvala::EntryPointMap& m : info.maps) {
    entries += m.entries.size();
    for (size_t i = 0; i < m.entries.size(); ++i) {
      Check(m.entries[i].pts >= 0 && m.entries[i].pts < int64_t{1} << 34, "PTS of 33 bits");
      Check(i == 0 || m.entries[i].spn > m.entries[i - 1].spn, "source packets rise");
    }
  }
  // The main and the dependent view's CPI may name the same bytes, no more.
  Check(entries * 4 + info.maps.size() * 12 <= 2 * file.size() && info.video.size() * 3 <= 2 * file.size(),
        "what is kept, the file holds");

  if (info.maps.empty()) return 0;
  korvala::TitleClip clip;
  clip.path[0] = "base";
  clip.path[1] = "dependent";
  clip.id[0] = info.maps.front().pid;
  clip.id[1] = info.maps.back().pid;
  clip.info[0] = clip.info[1] = &info;
  clip.in = int64_t{data[1]} << 20;
  clip.out = clip.in + (int64_t{data[2]} << 18) + 1;
  clip.size[0] = clip.size[1] = uint64_t{data[1]} << 24;
  clip.lastPts = clip.out;
  const auto title = korvala::DescribeTitle({clip, clip}, 24000, 1001);
  if (!title) return 0;
  uint32_t frames = 0;
  for (const korvala::TitleItem& item : title->items) {
    Check(item.firstFrame == frames && !item.stretches.empty(), "items follow on");
    frames += item.frames;
    for (size_t s = 0; s < item.stretches.size(); ++s) {
      const korvala::TitleStretch& t = item.stretches[s];
      Check(t.from[0] >= 0 && uint64_t(t.from[0]) < clip.size[0] && t.firstFrame >= item.firstFrame, "a stretch in its file");
      Check(s == 0 || (t.from[0] > item.stretches[s - 1].from[0] && t.firstFrame >= item.stretches[s - 1].firstFrame),
            "stretches rise");
    }
  }
  Check(frames == title->frames, "the count is the items'");
  return 0;
}
