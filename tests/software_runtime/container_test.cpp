// Containers: the shared stereo streams as a 3D Blu-ray and an MKV hold them, in every form the
// plugin opens, counted and served in any order equal to the reference decoder; damaged
// transport streams keep the two views paired; containers without stereo video; the real
// AviSynth+ library over a playlist.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "avs_host.h"
#include "clip_info.h"
#include "disc_files.h"
#include "media.h"
#include "playlist_writer.h"
#include "real_host.h"
#include "stereo_streams.h"

namespace swrt_test {
namespace {

const std::string kPlugin = std::string(KORVALA_BINARY_DIR) + "/plugin/libkorvala.so";

std::vector<std::uint8_t> FrameBytes(const avshost::Frame& frame) {
  std::vector<std::uint8_t> out;
  AppendFrame(frame, out);
  return out;
}

// Frames asked last to first, then jumps about: what comes must be the frames of the reverse pass.
class ContainerForms : public ::testing::TestWithParam<Stream> {};

TEST_P(ContainerForms, EveryFormServesBothViewsCountedAndInAnyOrder) {
  const Stream& s = GetParam();
  const std::vector<Form> forms = FormsOf(s.name);
  if (forms.empty()) GTEST_SKIP() << "shared test media containers/" << s.name << " is not present";
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    avshost::Clip clip = host.Invoke("Korvala", {form.avc, form.mvc, avshost::Value(), 2});
    const VideoInfo& vi = clip.GetVideoInfo();
    const int count = 2 * (s.frames + form.extraUnits);
    ASSERT_EQ(vi.num_frames, count);
    // The streams' VUI has no timing: the container's 24 frames a second, doubled.
    EXPECT_TRUE(vi.fps_numerator == 48 && vi.fps_denominator == 1) << vi.fps_numerator << "/" << vi.fps_denominator;
    std::vector<std::vector<std::uint8_t>> frames(count);
    for (int n = count - 1; n >= 0; --n) frames[n] = FrameBytes(clip.GetFrame(n));
    std::vector<std::uint8_t> views[2];
    for (int n = 0; n < 2 * s.frames; ++n) views[n % 2].insert(views[n % 2].end(), frames[n].begin(), frames[n].end());
    EXPECT_EQ(Md5(views[0]), s.base);
    EXPECT_EQ(Md5(views[1]), s.dependent);
    std::mt19937 random(count);
    for (int i = 0; i < 12; ++i) {
      const int n = static_cast<int>(random() % count);
      ASSERT_TRUE(FrameBytes(clip.GetFrame(n)) == frames[n]) << "frame " << n;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shared, ContainerForms, ::testing::Values(kStreams[1], kStreams[5]),
                         [](const auto& info) { return std::string(info.param.name); });

// Transport packets of a file, for damaging.
struct TsFile {
  std::vector<std::vector<std::uint8_t>> packets;
  static int Pid(const std::vector<std::uint8_t>& p) { return (p[5] & 0x1F) << 8 | p[6]; }
  static bool Starts(const std::vector<std::uint8_t>& p) { return (p[5] & 0x40) != 0; }
  bool Read(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (!ReadFile(path, bytes) || bytes.size() % 192 != 0) return false;
    for (std::size_t i = 0; i < bytes.size(); i += 192) packets.emplace_back(bytes.begin() + i, bytes.begin() + i + 192);
    return true;
  }
  std::string Write(const std::string& name, std::size_t cutLastTo = 192) const {
    const std::string path = BuildDir() + "/damaged_" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    for (std::size_t i = 0; f && i < packets.size(); ++i)
      std::fwrite(packets[i].data(), 1, i + 1 == packets.size() ? cutLastTo : 192, f);
    if (f) std::fclose(f);
    return path;
  }
  // Drops the packets of the k-th PES of a PID (all of them, or only its first).
  TsFile Without(int pid, int k, bool onlyFirst) const {
    TsFile out;
    int pes = -1;
    for (const auto& p : packets) {
      if (Pid(p) == pid && Starts(p)) ++pes;
      if (Pid(p) == pid && pes == k && (!onlyFirst || Starts(p))) continue;
      out.packets.push_back(p);
    }
    return out;
  }
};

// Whatever damage a transport stream has, every request gets a frame; a lost dependent picture,
// or a dependent clip shorter than the base, leaves the base view exact and shows, in the
// dependent view, each unit's own dependent picture or its base picture: never one of another
// instant.
TEST(ContainerDamage, TransportStreamsKeepTheViewsPaired) {
  const std::string m2ts = SharedMedia("containers/mvc_ibbp_cabac/mvc_ibbp_cabac.m2ts");
  const std::string base = SharedMedia("containers/mvc_ibbp_cabac/BDMV/STREAM/00000.m2ts");
  const std::string dependent = SharedMedia("containers/mvc_ibbp_cabac/BDMV/STREAM/00001.m2ts");
  const std::string pairBase = SharedMedia("mvc/mvc_ibbp_cabac.base.h264");
  const std::string pairDependent = SharedMedia("mvc/mvc_ibbp_cabac.dep.mvc");
  TsFile ts, dep;
  if (m2ts.empty() || base.empty() || pairBase.empty() || !ts.Read(m2ts) || !dep.Read(dependent))
    GTEST_SKIP() << "shared test media mvc_ibbp_cabac is not present";
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  avshost::Clip pair = host.Invoke("Korvala", {pairBase, pairDependent, 0, 2});
  std::vector<std::vector<std::uint8_t>> reference;
  for (int n = 0; n < 48; ++n) reference.push_back(FrameBytes(pair.GetFrame(n)));

  TsFile continuity = ts;  // a packet lost here and there in both views
  for (std::size_t i = 40; i < continuity.packets.size(); i += 97)
    if (!TsFile::Starts(continuity.packets[i])) continuity.packets.erase(continuity.packets.begin() + i);
  TsFile shortDependent;  // ends before its 9th unit
  for (int pes = -1; pes < 9 && shortDependent.packets.size() < dep.packets.size();) {
    const auto& p = dep.packets[shortDependent.packets.size()];
    if (TsFile::Pid(p) == 0x1012 && TsFile::Starts(p) && ++pes == 9) break;
    shortDependent.packets.push_back(p);
  }
  struct Case {
    std::string avc, mvc;
    bool baseExact;  // only the dependent view was damaged
  };
  const Case cases[] = {
      {ts.Without(0x1012, 5, false).Write("lost_dependent.m2ts"), "", true},
      {base, shortDependent.Write("short_dependent.m2ts"), true},
      {ts.Without(0x1011, 9, true).Write("lost_pes_start.m2ts"), "", false},
      {continuity.Write("continuity.m2ts"), "", false},
      {ts.Write("cut.m2ts", 100), "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.avc + " " + c.mvc);
    avshost::Clip clip = host.Invoke("Korvala", {c.avc, c.mvc, 0, 2});
    const int count = clip.GetVideoInfo().num_frames;
    EXPECT_GT(count, 0);
    std::vector<std::vector<std::uint8_t>> frames(count + 4);
    for (int n = count + 3; n >= 0; --n) frames[n] = FrameBytes(clip.GetFrame(n));  // past the end too
    if (!c.baseExact) continue;
    ASSERT_EQ(count, 48);
    for (int n = 0; n < count; n += 2) {
      EXPECT_TRUE(frames[n] == reference[n]) << "base frame " << n;
      EXPECT_TRUE(frames[n + 1] == reference[n + 1] || frames[n + 1] == reference[n]) << "dependent frame " << n + 1;
    }
  }
}

// A container without stereo video: single-view H.264, HEVC and MPEG-2 streams in a TS or an
// MKV are counted and decoded like their elementary files; one with no video gets a clear error.
TEST(ContainerSingleStream, DecodesLikeTheElementaryStreamOrRefuses) {
  struct Case {
    const char* name;
    const char* options;
  };
  const Case cases[] = {
      {"avc.ts", "-c:v libx264 -preset veryfast -bf 2 -g 10 -x264-params log-level=none"},
      {"hevc.mkv", "-c:v libx265 -preset ultrafast -bf 2 -g 10 -x265-params log-level=none"},
      {"mpeg2.ts", "-c:v mpeg2video -bf 2 -g 10 -q:v 4"},
  };
  const int frames = 20;
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = MakeStream(c.name, "320x240", frames, c.options);
    ASSERT_FALSE(path.empty()) << "ffmpeg could not make " << c.name;
    std::vector<std::uint8_t> ffmpeg, all;
    ASSERT_TRUE(FfmpegDecode(path, "yuv420p", ffmpeg));
    avshost::Clip clip = host.Invoke("Korvala", {path});
    ASSERT_EQ(clip.GetVideoInfo().num_frames, frames);
    EXPECT_EQ(clip.GetVideoInfo().fps_numerator, 25u);
    for (int n = frames - 1; n >= 0; --n) {
      const std::vector<std::uint8_t> frame = FrameBytes(clip.GetFrame(n));
      all.insert(all.begin(), frame.begin(), frame.end());
    }
    EXPECT_TRUE(all == ffmpeg);
  }
  const std::string audio = BuildDir() + "/audio_only.ts";
  ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=duration=1 -c:a mp2 '" + audio + "'").c_str()), 0);
  try {
    host.Invoke("Korvala", {audio});
    ADD_FAILURE() << "a transport stream without video was taken";
  } catch (const avshost::ScriptError& e) {
    EXPECT_STREQ(e.what(), "Korvala: ERROR -> No video stream to decode in the container");
  }
}

// A title folder in the build tree: the playlist written, the streams linked from the shared
// sets (clip 00000/00001 from `set`, 00002/00003 from `other`), the SSIF there, absent, or junk.
std::string TitleFolder(const std::string& name, const std::vector<disc_test::WrittenItem>& items, const char* ssif,
                        const std::string& set, const std::string& other = "", bool clipInfo = true) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(BuildDir()) / name / "BDMV";
  fs::remove_all(dir.parent_path());
  fs::create_directories(dir / "PLAYLIST");
  fs::create_directories(dir / "STREAM" / "SSIF");
  fs::create_directories(dir / "CLIPINF");
  std::vector<std::string> dependent;
  for (const disc_test::WrittenItem& i : items) dependent.push_back(i.clip == "00000" ? "00001" : "00003");
  const std::vector<uint8_t> mpls = disc_test::PlaylistBytes(items, 8, dependent);
  std::ofstream(dir / "PLAYLIST" / "00000.mpls", std::ios::binary).write(reinterpret_cast<const char*>(mpls.data()), mpls.size());
  for (const auto& [from, clips] : {std::pair<std::string, int>{set, 0}, {other, 2}}) {
    if (from.empty()) continue;
    const fs::path shared = SharedMedia("containers/" + from + "/BDMV/STREAM");
    for (int k = 0; k < 2; ++k) {
      const std::string from = "0000" + std::to_string(k), to = "0000" + std::to_string(clips + k);
      fs::create_symlink(shared / (from + ".m2ts"), dir / "STREAM" / (to + ".m2ts"));
      if (clipInfo) fs::create_symlink(shared / ".." / "CLIPINF" / (from + ".clpi"), dir / "CLIPINF" / (to + ".clpi"));
    }
  }
  const fs::path ssifPath = dir / "STREAM" / "SSIF" / "00000.ssif";
  if (std::string(ssif) == "linked") fs::create_symlink(SharedMedia("containers/" + set + "/BDMV/STREAM/SSIF/00000.ssif"), ssifPath);
  else if (std::string(ssif) == "junk") std::ofstream(ssifPath) << std::string(4096, 'G');
  return (dir / "PLAYLIST" / "00000.mpls").string();
}

// Play items cut into their clips, one clip played twice: exactly the frames presented in each
// item's [IN, OUT), counted, in order and in reverse, whatever form the clips are read from.
TEST(ContainerPlaylist, ItemsShowTheFramesBetweenTheirInAndOutTimes) {
  if (SharedMedia("containers/mvc_ibbp_cabac").empty() || SharedMedia("containers/mvc_1080p").empty())
    GTEST_SKIP() << "shared test media containers/mvc_ibbp_cabac and mvc_1080p are not present";
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  avshost::Clip whole = host.Invoke("Korvala", {SharedMedia("containers/mvc_ibbp_cabac/mvc_ibbp_cabac.m2ts"), "", 0, 2});
  constexpr uint32_t kIn = 27000000, kStep = 45000 / 24;  // the clip's first picture, a frame at 24 a second
  const std::vector<disc_test::WrittenItem> items = {{"00000", kIn + 5 * kStep, kIn + 15 * kStep},
                                                     {"00000", kIn, kIn + 8 * kStep}};
  std::vector<int> shown;  // the whole clip's frames the title shows, both views
  for (int f = 5; f < 15; ++f) shown.insert(shown.end(), {2 * f, 2 * f + 1});
  for (int f = 0; f < 8; ++f) shown.insert(shown.end(), {2 * f, 2 * f + 1});
  for (const char* ssif : {"linked", "absent", "junk", "no clip information"}) {
    SCOPED_TRACE(ssif);
    const bool clipInfo = std::string(ssif) != "no clip information";
    avshost::Clip title = host.Invoke(
        "Korvala", {TitleFolder("cut_title", items, ssif, "mvc_ibbp_cabac", "", clipInfo), "", avshost::Value(), 2});
    ASSERT_EQ(title.GetVideoInfo().num_frames, static_cast<int>(shown.size()));
    for (bool reverse : {false, true})
      for (size_t i = 0; i < shown.size(); ++i) {
        const size_t n = reverse ? shown.size() - 1 - i : i;
        ASSERT_TRUE(FrameBytes(title.GetFrame(static_cast<int>(n))) == FrameBytes(whole.GetFrame(shown[n])))
            << "frame " << n << (reverse ? " in reverse" : "");
      }
  }
  // The same cut title in the real AviSynth+ 3.7.5, last frame first.
  if (avsplus_host::RealHostAvailable()) {
    const std::string mpls = TitleFolder("cut_title", items, "absent", "mvc_ibbp_cabac");
    const auto run = avsplus_host::RunRealHost("Korvala(\"" + mpls + "\", ViewId=2)", "reverse", false, {kPlugin});
    ASSERT_EQ(run.exitCode, 0) << run.error;
    ASSERT_EQ(run.frames.size(), shown.size());
    for (const avsplus_host::RealHostFrame& frame : run.frames)
      ASSERT_EQ(frame.planes, avsplus_host::PlaneMd5s(whole.GetFrame(shown[frame.n]), {PLANAR_Y, PLANAR_U, PLANAR_V}))
          << "frame " << frame.n;
  }
  try {
    host.Invoke("Korvala", {TitleFolder("sizes_title", {{"00000", kIn, kIn + 24 * kStep}, {"00002", 0, UINT32_MAX}}, "absent",
                                        "mvc_ibbp_cabac", "mvc_1080p")});
    ADD_FAILURE() << "a title of two picture sizes was taken";
  } catch (const avshost::ScriptError& e) {
    EXPECT_STREQ(e.what(), "Korvala: ERROR -> A clip of the playlist has another picture size");
  }
}

// A title opened from its clip information serves the frames its SSIF does, and when the disc
// lies (entry points that are no places to start, a stream that ends before its OUT time) it is
// scanned instead: never a wrong frame.
TEST(ContainerPlaylist, ATitleFromItsClipInformationServesItsStreamsFrames) {
  const std::string set = "mvc_1080p_x20";
  const std::string clpi = SharedMedia("containers/" + set + "/BDMV/CLIPINF/00000.clpi");
  if (clpi.empty()) GTEST_SKIP() << "shared test media containers/" << set << " is not present";
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadFile(clpi, bytes));
  korvala::ClipInfo info;
  ASSERT_TRUE(korvala::ParseClipInfo(bytes.data(), bytes.size(), info));
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  avshost::Clip ssif = host.Invoke("Korvala", {SharedMedia("containers/" + set + "/BDMV/STREAM/SSIF/00000.ssif"), "", 0, 2});
  const int count = ssif.GetVideoInfo().num_frames;
  ASSERT_EQ(count, 1920);
  std::map<int, std::vector<std::uint8_t>> frames;
  auto expected = [&](int n) -> const std::vector<std::uint8_t>& {
    auto [it, fresh] = frames.try_emplace(n);
    if (fresh) it->second = FrameBytes(ssif.GetFrame(n));
    return it->second;
  };
  constexpr uint32_t kIn = 27000000, kOut = 28800000;
  struct Lie {
    const char* name;
    void (*change)(korvala::ClipInfo&);
    uint32_t out;
  };
  const Lie lies[] = {
      {"true", [](korvala::ClipInfo&) {}, kOut},
      {"each entry point at the next one's packet",
       [](korvala::ClipInfo& i) {
         for (korvala::EntryPointMap& m : i.maps)
           for (size_t k = 0; k + 1 < m.entries.size(); ++k) m.entries[k].spn = m.entries[k + 1].spn;
       },
       kOut},
      {"entry points off their pictures",
       [](korvala::ClipInfo& i) {
         for (korvala::EntryPointMap& m : i.maps)
           for (korvala::EntryPoint& e : m.entries) e.spn += 40;
       },
       kOut},
      {"an OUT time past the stream's end", [](korvala::ClipInfo&) {}, kOut + 45000},
  };
  for (const Lie& lie : lies) {
    SCOPED_TRACE(lie.name);
    const std::string mpls = TitleFolder("clip_info_title", {{"00000", kIn, lie.out}}, "absent", set);
    korvala::ClipInfo changed = info;
    lie.change(changed);
    const std::filesystem::path written = std::filesystem::path(mpls).parent_path() / ".." / "CLIPINF" / "00000.clpi";
    std::filesystem::remove(written);
    const korvala::disc::Bytes file = korvala::disc::ClipInfoFile(changed);
    std::ofstream(written, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    avshost::Clip title = host.Invoke("Korvala", {mpls, "", avshost::Value(), 2});
    ASSERT_EQ(title.GetVideoInfo().num_frames, count);
    // Frames far apart, the last first; the lies are found on the way to them.
    for (int n : &lie == &lies[0] ? std::vector<int>{count - 1, 0, 1001, 200, 201} : std::vector<int>{1001, 200})
      ASSERT_TRUE(FrameBytes(title.GetFrame(n)) == expected(n)) << "frame " << n;
  }
}

// The real AviSynth+ 3.7.5: a playlist and its M2TS, counted, served last to first under
// Prefetch, equal to the elementary pair in our harness.
TEST(ContainerRealHost, PlaylistAndM2tsInAviSynthPlus) {
  if (!avsplus_host::RealHostAvailable()) GTEST_SKIP() << avsplus_host::kRealHostMissing;
  const std::string dir = SharedMedia("containers/mvc_ibbp_cabac");
  const std::string pairBase = SharedMedia("mvc/mvc_ibbp_cabac.base.h264");
  if (dir.empty() || pairBase.empty()) GTEST_SKIP() << "shared test media mvc_ibbp_cabac is not present";
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  avshost::Clip pair = host.Invoke("Korvala", {pairBase, SharedMedia("mvc/mvc_ibbp_cabac.dep.mvc"), 0, 2});
  for (const std::string& source : {dir + "/BDMV/PLAYLIST/00000.mpls", dir + "/mvc_ibbp_cabac.m2ts"}) {
    SCOPED_TRACE(source);
    const auto run = avsplus_host::RunRealHost("Korvala(\"" + source + "\", ViewId=2).Prefetch(4)", "reverse", false,
                                               {kPlugin});
    ASSERT_EQ(run.exitCode, 0) << run.error;
    ASSERT_EQ(run.clip.numFrames, 48);
    ASSERT_EQ(run.frames.size(), 48u);
    for (const avsplus_host::RealHostFrame& frame : run.frames)
      ASSERT_EQ(frame.planes, avsplus_host::PlaneMd5s(pair.GetFrame(frame.n), {PLANAR_Y, PLANAR_U, PLANAR_V}))
          << "frame " << frame.n;
  }
}

}  // namespace
}  // namespace swrt_test
