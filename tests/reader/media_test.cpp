// The real conformance pairs through the reader and the interleaver: every access unit pair is
// merged, and each view's NAL units reach the merged stream intact and in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "reference_model.h"
#include "stream_builder.h"
#include "stream_reader.h"

namespace korvala::test {
namespace {

using reference::CutFile;
using reference::Nal;
using reference::SplitNals;

size_t CountType(const std::vector<Nal>& nals, uint8_t t) {
  size_t n = 0;
  for (const Nal& nal : nals) n += nal.type == t;
  return n;
}

// A view's NAL units minus what the selection drops: other types, and repeats of the types
// taken once per unit.
std::vector<Bytes> Selected(const std::vector<Bytes>& units, std::initializer_list<uint8_t> once,
                            std::initializer_list<uint8_t> all) {
  std::vector<Bytes> kept;
  for (const Bytes& u : units) {
    std::vector<uint8_t> seen;
    for (const Nal& nal : SplitNals(u)) {
      bool isOnce = std::find(once.begin(), once.end(), nal.type) != once.end();
      bool isAll = std::find(all.begin(), all.end(), nal.type) != all.end();
      if (isOnce && std::find(seen.begin(), seen.end(), nal.type) == seen.end()) {
        seen.push_back(nal.type);
        kept.push_back(nal.bytes);
      } else if (isAll) {
        kept.push_back(nal.bytes);
      }
    }
  }
  return kept;
}

Bytes ReadFile(const std::string& path, bool* ok) {
  Bytes b;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  *ok = f != nullptr;
  if (!f) return b;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + n);
  std::fclose(f);
  return b;
}

struct MediaPair {
  const char* name;
  size_t pairs;
};

class ReaderMedia : public ::testing::TestWithParam<MediaPair> {};

TEST_P(ReaderMedia, EveryPairMergedWithBothViewsIntact) {
  const std::string stem = std::string(KORVALA_SHARED_DIR) + "/media/" + GetParam().name;
  bool okBase = false, okDep = false;
  const Bytes baseFile = ReadFile(stem + ".base.h264", &okBase);
  const Bytes depFile = ReadFile(stem + ".dep.mvc", &okDep);
  if (!okBase || !okDep) GTEST_SKIP() << "test media " << stem << ".base.h264/.dep.mvc not present";

  ReaderState state;
  state.m_mvcMode = 1;
  state.m_streamAVC.file = FileOf(baseFile);
  state.m_streamMVC.file = FileOf(depFile);
  ASSERT_EQ(PrimeStreams(state), PrimeResult::Ok);
  Bitstream bits;
  Bytes merged;
  mfxStatus status;
  int calls = 0;
  while ((status = FillBitstream(state, &bits.bs)) == MFX_ERR_NONE) {
    Append(merged, bits.Take());
    ASSERT_LT(++calls, 1000);
  }
  ASSERT_EQ(status, MFX_ERR_MORE_DATA);
  EXPECT_EQ(calls, static_cast<int>((GetParam().pairs + 9) / 10));

  const std::vector<Bytes> baseUnits = CutFile(baseFile, 9);
  const std::vector<Bytes> depUnits = CutFile(depFile, 24);
  ASSERT_EQ(baseUnits.size(), GetParam().pairs);
  ASSERT_EQ(depUnits.size(), GetParam().pairs);
  const std::vector<Nal> depNals = SplitNals(depFile);

  // Every start code written is a four-byte one, and the stream opens with the base delimiter.
  ASSERT_GE(merged.size(), 5u);
  EXPECT_EQ(Bytes(merged.begin(), merged.begin() + 5), (Bytes{0, 0, 0, 1, 9}));
  const std::vector<Nal> out = SplitNals(merged);
  EXPECT_EQ(CountType(out, 9), GetParam().pairs);
  EXPECT_EQ(CountType(out, 20), CountType(depNals, 20));
  EXPECT_EQ(CountType(out, 14), 0u);
  EXPECT_EQ(CountType(out, 24), 0u);

  // Tell the views apart in each merged unit (one per delimiter): 9, 7, 1, 5 are the base
  // view's, 15 and 20 the dependent view's, and a PPS is the base view's when it comes first
  // and that view's unit holds one. These streams carry no SEI and no end of sequence.
  for (const std::vector<Bytes>* view : {&baseUnits, &depUnits})
    for (const Bytes& u : *view)
      for (const Nal& nal : SplitNals(u)) ASSERT_TRUE(nal.type != 6 && nal.type != 10) << "unexpected type";
  std::vector<Bytes> outBase, outDep;
  size_t unit = 0;
  bool ppsSeen = false;
  for (const Nal& nal : out) {
    if (nal.type == 9) {
      ++unit;
      ppsSeen = false;
    }
    ASSERT_GE(unit, 1u) << "NAL unit before the first delimiter";
    bool base = nal.type == 9 || nal.type == 7 || nal.type == 1 || nal.type == 5;
    if (nal.type == 8) {
      base = !ppsSeen && CountType(SplitNals(baseUnits[unit - 1]), 8) > 0;
      ppsSeen = true;
    }
    (base ? outBase : outDep).push_back(nal.bytes);
  }
  EXPECT_EQ(unit, GetParam().pairs);
  EXPECT_TRUE(outBase == Selected(baseUnits, {9, 7, 8}, {6, 1, 5, 10})) << "base view NAL units differ";
  EXPECT_TRUE(outDep == Selected(depUnits, {15, 8}, {6, 20, 10})) << "dependent view NAL units differ";
}

INSTANTIATE_TEST_SUITE_P(Pairs, ReaderMedia,
                         ::testing::Values(MediaPair{"MVCRP_2", 250}, MediaPair{"MVCDS-5", 9}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

}  // namespace
}  // namespace korvala::test
