// Clip information: the muxer's files against their streams, written files read back, and cut or
// damaged ones refused without a read past their end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "clip_info.h"
#include "disc_files.h"

namespace korvala {
namespace {

using disc::Bytes;

Bytes ReadFile(const std::string& path) {
  Bytes bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t block[65536];
    for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
  }
  return bytes;
}

bool Parse(const Bytes& b, ClipInfo& info) { return ParseClipInfo(b.data(), b.size(), info); }

// The PTS of the PES that the TS packet at `at` starts, or -1 when it starts none of `pid`.
int64_t PesPtsAt(const Bytes& ts, size_t at, uint16_t pid) {
  if (at + 188 > ts.size() || ts[at] != 0x47 || !(ts[at + 1] & 0x40) || ((ts[at + 1] & 0x1F) << 8 | ts[at + 2]) != pid)
    return -1;
  const size_t pes = at + 4 + ((ts[at + 3] & 0x20) ? 1 + ts[at + 4] : 0);
  const uint8_t* p = &ts[pes];
  if (pes + 14 > at + 188 || p[0] || p[1] || p[2] != 1 || !(p[7] & 0x80)) return -1;
  return int64_t{p[9] >> 1 & 7} << 30 | p[10] << 22 | (p[11] >> 1) << 15 | p[12] << 7 | p[13] >> 1;
}

// The muxer's files of a 40 s title at 24 fps, an IDR unit every 48: one entry point per IDR
// unit, each the packet starting its PES; the dependent view's in its clip's extension data.
TEST(ClipInfo, MuxersMapsNameEveryIdrUnitOfTheirStream) {
  const std::string disc = std::string(KORVALA_SHARED_DIR) + "/media/containers/mvc_1080p_x20/BDMV/";
  for (const auto& [clip, pid, type] : {std::tuple{"00000", 0x1011, 0x1B}, std::tuple{"00001", 0x1012, 0x20}}) {
    const Bytes file = ReadFile(disc + "CLIPINF/" + clip + ".clpi"), ts = ReadFile(disc + "STREAM/" + clip + ".m2ts");
    if (file.empty() || ts.empty()) GTEST_SKIP() << "shared test media containers/mvc_1080p_x20 is not present";
    ClipInfo info;
    ASSERT_TRUE(Parse(file, info)) << clip;
    EXPECT_EQ(info.start, 600 * 90000);
    EXPECT_EQ(info.end, 640 * 90000);
    ASSERT_EQ(info.video.size(), 1u);
    EXPECT_EQ(info.video[0].pid, pid);
    EXPECT_EQ(info.video[0].codingType, type);
    const ClipPictureSize size = PictureSizeOfFormat(info.video[0].format);
    const ClipFrameRate rate = FrameRateOfCode(info.video[0].rate);
    EXPECT_TRUE(size.width == 1920 && size.height == 1080 && !size.interlaced && rate.num == 24 && rate.den == 1);
    ASSERT_EQ(info.maps.size(), 1u);
    EXPECT_EQ(info.maps[0].pid, pid);
    EXPECT_EQ(info.maps[0].streamType, 1);
    const std::vector<EntryPoint>& entries = info.maps[0].entries;
    ASSERT_EQ(entries.size(), 20u);
    EXPECT_EQ(entries[0].spn, 4u);
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].pts, (600 * 90000 + int64_t(i) * 48 * 3750) & ~int64_t{511}) << clip << " entry " << i;
      const int64_t pts = PesPtsAt(ts, size_t{entries[i].spn} * 192 + 4, static_cast<uint16_t>(pid));
      EXPECT_TRUE(pts >= entries[i].pts && pts < entries[i].pts + 512) << clip << " entry " << i << " PES PTS " << pts;
    }
  }
}

ClipInfo Sample() {
  ClipInfo info;
  info.start = 2 * 12345678;
  info.end = 2 * 23456789;
  info.video = {{0x1011, 0x1B, 5, 7}, {0x1015, 0x24, 8, 1}};
  EntryPointMap video{0x1011, 1, {}};
  // PTSs across coarse steps and past 2^32, SPNs across their coarse step (2^17).
  for (int64_t i = 0; i < 40; ++i) video.entries.push_back({(int64_t{1} << 32) + i * 300 * 512, uint32_t(0x1F000 + i * 211)});
  info.maps = {video, {0x1100, 3, {{512, 7}, {1024, 9}}}, {0x1200, 1, {}}};
  return info;
}

TEST(ClipInfo, WrittenFilesReadBack) {
  ClipInfo noMap = Sample();
  noMap.maps.clear();
  // The writer writes every field: what is read back, written again, is the same file.
  for (const ClipInfo& sample : {Sample(), noMap})
    for (bool dependent : {false, true}) {
      const Bytes file = disc::ClipInfoFile(sample, dependent);
      ClipInfo info;
      ASSERT_TRUE(Parse(file, info)) << dependent;
      EXPECT_EQ(disc::ClipInfoFile(info, dependent), file) << dependent;
    }
}

// Every cut either fails or, when it still holds what is read, gives the whole file's answer;
// each damaged field fails. The copies are exactly the bytes given, so a sanitizer build sees
// any read past them.
TEST(ClipInfo, CutOrDamagedFilesFailWithoutReadingPastTheirEnd) {
  for (bool dependent : {false, true}) {
    const Bytes file = disc::ClipInfoFile(Sample(), dependent);
    ClipInfo info;
    for (size_t n = 0; n < file.size(); ++n) {
      const Bytes cut(file.begin(), file.begin() + n);
      if (Parse(cut, info)) EXPECT_EQ(disc::ClipInfoFile(info, dependent), file) << n;
      else EXPECT_TRUE(info.maps.empty() && info.video.empty());
    }
  }
  const Bytes file = disc::ClipInfoFile(Sample());
  auto u32 = [&](size_t at) { return size_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3]; };
  const size_t cpi = u32(16), stream = cpi + 8, map = cpi + 6 + 2 + 3 * 12, fine = map + u32(map);
  struct Damage {
    const char* what;
    size_t at;
    uint32_t value;
    int bytes = 1;  // big-endian
  };
  for (const Damage& d : {Damage{"stream count", cpi + 7, 255}, Damage{"fine entry count", stream + 5, 0xFF},
                          Damage{"coarse entry count", stream + 3, 0xFF}, Damage{"map address", stream + 8, 0x7F},
                          Damage{"two streams naming one map", stream + 12 + 8, 2 + 3 * 12, 4},
                          Damage{"fine table address", map + 3, 0},
                          Damage{"first coarse entry's fine entry", map + 6, 0x40},
                          Damage{"a coarse entry's fine entry past the table", map + 12, 0xFF},
                          Damage{"an SPN going back", fine + 5 * 4 + 1, 0},
                          Damage{"program info length", u32(12) + 1, 0xFF}}) {
    Bytes bad = file;
    for (int i = 0; i < d.bytes; ++i) bad[d.at + i] = static_cast<uint8_t>(d.value >> 8 * (d.bytes - 1 - i));
    ClipInfo info;
    EXPECT_FALSE(Parse(bad, info)) << d.what;
  }
}

}  // namespace
}  // namespace korvala
