// The index kept between runs: its file refused whole when damaged, cut short, foreign or of
// another version; a second open served from it (the stream is not scanned) with the reference
// frames; a changed input or a cache folder that takes nothing still opens.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "../avsplus_host/md5.h"
#include "aligned_buffer.h"
#include "clip.h"
#include "index_cache.h"
#include "index_scan.h"
#include "index_store.h"
#include "stereo_streams.h"
#include "tool_test_util.h"

namespace fs = std::filesystem;
using namespace tooltest;
using korvala::IndexKey;
using korvala::UnitIndex;

namespace {

// The index of a shared stereo pair, scanned out of memory, and a layout to keep beside it.
struct Scanned {
  Bytes base, dependent;
  UnitIndex index{true};
  korvala::Layout layout;
  IndexKey key{"test key", 42};

  Scanned() {
    base = ReadFile(swrt_test::SharedMedia("mvc/mvc_ibbp_cabac.base.h264"));
    dependent = ReadFile(swrt_test::SharedMedia("mvc/mvc_ibbp_cabac.dep.mvc"));
    korvala::FileScan b(std::make_unique<korvala::MemorySource>(base.data(), base.size()));
    korvala::FileScan d(std::make_unique<korvala::MemorySource>(dependent.data(), dependent.size()));
    korvala::ScanToEnd(index, b, &d);
    for (uint32_t i = 0; i < 3; ++i) layout.pieces[i % 2].push_back({uint64_t{i} * 100, int64_t{i} * 188, i, 100, 0, i == 2});
  }
  bool Parse(const Bytes& bytes, UnitIndex& into, korvala::Layout* l) const {
    return korvala::ParseIndex(key, bytes.data(), bytes.size(), into, l);
  }
};

// Rewrites the checksum at the end, so that a change is judged by what it says, not caught by it.
void Reseal(Bytes& b) {
  const uint64_t h = korvala::HashBytes(b.data(), b.size() - 8);
  for (int i = 0; i < 8; ++i) b[b.size() - 8 + static_cast<size_t>(i)] = static_cast<uint8_t>(h >> (8 * i));
}

void PutU32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(KeptIndexFile, ReadsBackWhatWasKeptAndRefusesAnythingElse) {
  const Scanned s;
  ASSERT_FALSE(s.base.empty()) << "../shared/media/mvc is not present";
  const Bytes good = korvala::SerializeIndex(s.key, s.index, &s.layout);

  UnitIndex back(true);
  korvala::Layout layout;
  ASSERT_TRUE(s.Parse(good, back, &layout));
  ASSERT_TRUE(back.Finished());
  EXPECT_EQ(back.FrameCount(), s.index.FrameCount());
  EXPECT_EQ(back.RandomAccessUnits(), s.index.RandomAccessUnits());
  for (uint32_t f = 0; f < s.index.FrameCount(); ++f) EXPECT_EQ(back.SeekUnit(f), s.index.SeekUnit(f));
  for (size_t u = 0; u < s.index.KnownUnits(); ++u) {
    EXPECT_EQ(back.Unit(u).offset[1], s.index.Unit(u).offset[1]);
    EXPECT_EQ(back.Unit(u).size[0], s.index.Unit(u).size[0]);
  }
  EXPECT_EQ(layout.pieces[0].size(), 2u);
  EXPECT_TRUE(layout.pieces[0][1].constant);

  // Where the tables begin: magic, version, key, hash, flags, unit count.
  const size_t units = 8 + 4 + 4 + s.key.text.size() + 8 + 3;
  const size_t frames = units + 4 + s.index.KnownUnits() * 29;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
    bool reseal;
  };
  const Case cases[] = {
      {"empty", [](Bytes& b) { b.clear(); }, false},
      {"cut short", [](Bytes& b) { b.resize(b.size() / 2); }, false},
      {"one byte short", [](Bytes& b) { b.pop_back(); }, false},
      {"a byte changed", [&](Bytes& b) { b[frames + 1] ^= 0x10; }, false},
      {"another program's file", [](Bytes& b) { b[0] = 'X'; }, true},
      {"another version", [](Bytes& b) { b[8] = 99; }, true},
      {"another input's key", [](Bytes& b) { b[16] ^= 1; }, true},
      {"units beyond the file", [&](Bytes& b) { PutU32(b, units, 0xFFFFFFFF); }, true},
      {"no units", [&](Bytes& b) { PutU32(b, units, 0); }, true},
      {"frames beyond the file", [&](Bytes& b) { PutU32(b, frames, 0x7FFFFFFF); }, true},
      {"a frame naming another unit", [&](Bytes& b) { PutU32(b, frames + 4, 1); }, true},
      {"bytes after the end", [](Bytes& b) { b.insert(b.end() - 8, 0); }, true},
  };
  for (const Case& c : cases) {
    Bytes bad = good;
    c.change(bad);
    if (c.reseal && bad.size() >= 8) Reseal(bad);
    UnitIndex into(true);
    korvala::Layout l;
    EXPECT_FALSE(s.Parse(bad, into, &l)) << c.what;
    EXPECT_FALSE(into.Finished()) << c.what;
  }
  UnitIndex single(false), into(true);
  EXPECT_FALSE(s.Parse(good, single, &layout)) << "an index of one stream";
  EXPECT_FALSE(s.Parse(good, into, nullptr)) << "a container's index for elementary files";
  const IndexKey changed{s.key.text, s.key.contentHash + 1};
  EXPECT_FALSE(korvala::ParseIndex(changed, good.data(), good.size(), into, &layout)) << "contents changed";
}

namespace {

// A frame in our own memory, rows 64-byte aligned as a host's are.
class MemoryFrame final : public korvala::HostFrame {
 public:
  explicit MemoryFrame(const korvala::ClipFormat& f) {
    for (int p = 0; p < 3; ++p) {
      rowSize_[p] = p ? f.width / 2 : f.width;
      height_[p] = p ? f.height / 2 : f.height;
      pitch_[p] = (rowSize_[p] + 63) & ~63;
      planes_[p] = korvala::AllocateAligned(static_cast<size_t>(pitch_[p]) * height_[p], 64);
    }
  }
  uint8_t* Plane(int p) override { return planes_[p].get(); }
  int Pitch(int p) const override { return pitch_[p]; }
  void Describe(const korvala::FrameProperties&) override {}
  void Digest(avsplus_host::Md5& sum) const {
    for (int p = 0; p < 3; ++p)
      for (int y = 0; y < height_[p]; ++y)
        sum.Update(planes_[p].get() + static_cast<size_t>(y) * pitch_[p], static_cast<size_t>(rowSize_[p]));
  }

 private:
  korvala::AlignedBytes planes_[3];
  int pitch_[3] = {}, rowSize_[3] = {}, height_[3] = {};
};

class Maker final : public korvala::FrameMaker {
 public:
  explicit Maker(const korvala::ClipFormat& f) : f_(f) {}
  korvala::FramePtr NewFrame() override { return std::make_shared<MemoryFrame>(f_); }

 private:
  const korvala::ClipFormat& f_;
};

// A shared stereo pair's files without their endings; empty when not present.
std::string Stem(const std::string& name) {
  const std::string base = swrt_test::SharedMedia("mvc/" + name + ".base.h264");
  return base.empty() ? base : base.substr(0, base.size() - std::string(".base.h264").size());
}

// What an open told of its index.
struct Heard final : korvala::IndexProgress {
  int scans = 0, loaded = 0, stored = 0, refused = 0;
  void Scanned(uint64_t, uint64_t) override { ++scans; }
  void Loaded() override { ++loaded; }
  void Stored(bool kept) override { ++(kept ? stored : refused); }
};

class KeptIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    Cache(dir_ + "/cache");
  }
  void Cache(const std::string& folder) { setenv("XDG_CACHE_HOME", folder.c_str(), 1); }
  std::string Copy(const std::string& from, const std::string& name) {
    const std::string to = dir_ + "/" + name;
    WriteFile(to, ReadFile(from));
    return to;
  }

  // Opens the input, tells what it heard, and the MD5 of every frame of `view` in order.
  Heard Open(const std::string& avc, const std::string& mvc, int view, std::string* md5 = nullptr) {
    Heard heard;
    Korvala clip(avc.c_str(), mvc.c_str(), 0, view, korvala::DetectPixelPaths(), &heard);
    if (md5) {
      avsplus_host::Md5 sum;
      Maker maker(clip.Format());
      for (int n = 0; n < clip.Format().numFrames; ++n) {
        const korvala::FramePtr frame = clip.GetFrame(n, maker);
        static_cast<const MemoryFrame&>(*frame).Digest(sum);
      }
      *md5 = sum.HexDigest();
    }
    return heard;
  }

  std::string dir_;
};

}  // namespace

// A stereo pair as two elementary files and as one M2TS: the first open scans and keeps, the
// next ones are served from the kept index and give the reference frames of both views.
TEST_F(KeptIndex, ASecondOpenReadsTheKeptIndexAndServesTheReferenceFrames) {
  const swrt_test::Stream& s = swrt_test::kStreams[1];  // mvc_ibbp_cabac
  const std::string stem = Stem(s.name);
  const std::vector<swrt_test::Form> forms = swrt_test::FormsOf(s.name);
  ASSERT_FALSE(stem.empty() || forms.empty()) << "../shared/media is not present";
  const std::pair<std::string, std::string> inputs[] = {
      {Copy(stem + ".base.h264", "pair.h264"), Copy(stem + ".dep.mvc", "pair.mvc")},
      {Copy(forms[0].avc, "clip.m2ts"), ""},
  };
  for (const auto& [avc, mvc] : inputs) {
    SCOPED_TRACE(avc);
    const Heard first = Open(avc, mvc, 0);
    EXPECT_GT(first.scans, 0);
    EXPECT_EQ(first.stored, 1);
    std::string md5[2];
    for (int view : {0, 1}) {
      const Heard again = Open(avc, mvc, view, &md5[view]);
      EXPECT_EQ(again.loaded, 1);
      EXPECT_EQ(again.scans + again.stored, 0) << "the stream was scanned again";
    }
    EXPECT_EQ(md5[0], s.base);
    EXPECT_EQ(md5[1], s.dependent);

    // Modified since: scanned and kept afresh.
    struct stat st;
    ASSERT_EQ(::stat(avc.c_str(), &st), 0);
    const utimbuf later{st.st_atime, st.st_mtime + 10};
    ASSERT_EQ(::utime(avc.c_str(), &later), 0);
    const Heard changed = Open(avc, mvc, 0);
    EXPECT_EQ(changed.loaded, 0);
    EXPECT_EQ(changed.stored, 1);
  }
}

TEST_F(KeptIndex, ADamagedCacheFileIsRebuiltAndAFolderThatTakesNothingStillOpens) {
  const std::string stem = Stem("mvc_ipp_cavlc");
  ASSERT_FALSE(stem.empty());
  const std::string avc = Copy(stem + ".base.h264", "a.h264"), mvc = Copy(stem + ".dep.mvc", "a.mvc");
  ASSERT_EQ(Open(avc, mvc, 0).stored, 1);
  const std::string folder = korvala::IndexCacheFolder();
  EXPECT_EQ(folder, dir_ + "/cache/korvala");
  std::vector<fs::path> kept;
  for (const auto& e : fs::directory_iterator(folder)) kept.push_back(e.path());
  ASSERT_EQ(kept.size(), 1u) << "one file, no temporary left";
  for (auto damage : {+[](Bytes& b) { b.resize(b.size() - 100); }, +[](Bytes& b) { b[b.size() / 2] ^= 0xFF; },
                      +[](Bytes& b) { b.assign(64, 'x'); }}) {
    Bytes b = ReadFile(kept[0].string());
    damage(b);
    WriteFile(kept[0].string(), b);
    const Heard heard = Open(avc, mvc, 0);
    EXPECT_EQ(heard.loaded, 0);
    EXPECT_EQ(heard.stored, 1);
    EXPECT_EQ(Open(avc, mvc, 0).loaded, 1) << "kept again";
  }

  // A cache folder that can't be made (a file in its way) or written (read-only; root writes
  // anyway, so the file is what proves it here).
  const std::string blocked = dir_ + "/blocked";
  WriteFile(blocked, Bytes{1});
  Cache(blocked);
  Heard heard = Open(avc, mvc, 0);
  EXPECT_EQ(heard.refused, 1);
  Cache(dir_ + "/readonly");
  fs::create_directories(dir_ + "/readonly/korvala");
  fs::permissions(dir_ + "/readonly/korvala", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_NO_THROW(heard = Open(avc, mvc, 0));
  fs::permissions(dir_ + "/readonly/korvala", fs::perms::owner_all);
}

TEST_F(KeptIndex, APlaylistsTitleIsNotKept) {
  const std::vector<swrt_test::Form> forms = swrt_test::FormsOf("mvc_ibbp_cabac");
  ASSERT_FALSE(forms.empty());
  for (int run = 0; run < 2; ++run) {
    const Heard heard = Open(forms[3].avc, "", 0);
    EXPECT_EQ(heard.loaded + heard.stored + heard.refused, 0);
  }
}
