// What container input decides before libavformat reads a packet, and how it pairs the views:
// the form of a file from its first bytes, a transport stream's program tables, Blu-ray
// playlists, length-framed NAL units, and the pairing of the views' packets by timestamp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "container_format.h"
#include "nal_framing.h"
#include "playlist.h"
#include "playlist_writer.h"
#include "view_pairing.h"

namespace korvala {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadShared(const std::string& name) {
  Bytes bytes;
  std::FILE* f = std::fopen((std::string(KORVALA_SHARED_DIR) + "/media/" + name).c_str(), "rb");
  if (!f) return bytes;
  uint8_t block[4096];
  for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.insert(bytes.end(), block, block + n);
  std::fclose(f);
  return bytes;
}

// A PSI section with its CRC, split over 188-byte packets of `pid` (192 with `prefix`).
Bytes Packets(uint16_t pid, Bytes section, bool prefix) {
  const uint32_t crc = SectionCrc(section.data(), section.size());
  for (int shift : {24, 16, 8, 0}) section.push_back(static_cast<uint8_t>(crc >> shift));
  section.insert(section.begin(), 0);  // pointer field
  Bytes out;
  for (size_t at = 0, cc = 0; at < section.size(); at += 184, ++cc) {
    if (prefix) out.insert(out.end(), 4, 0);
    const uint8_t start = at == 0 ? 0x40 : 0;
    out.insert(out.end(), {0x47, static_cast<uint8_t>(start | pid >> 8), static_cast<uint8_t>(pid), static_cast<uint8_t>(0x10 | (cc & 15))});
    for (size_t i = 0; i < 184; ++i) out.push_back(at + i < section.size() ? section[at + i] : 0xFF);
  }
  return out;
}

Bytes Pat(uint16_t pmtPid) {
  return {0x00, 0xB0, 13, 0, 1, 0xC1, 0, 0, 0, 1, static_cast<uint8_t>(0xE0 | pmtPid >> 8), static_cast<uint8_t>(pmtPid)};
}

// A PMT listing (type, pid) streams, each with `descriptorBytes` of descriptors.
Bytes Pmt(std::vector<std::pair<uint8_t, uint16_t>> streams, uint8_t version, size_t descriptorBytes = 0) {
  Bytes body = {0, 1, static_cast<uint8_t>(0xC1 | version << 1), 0, 0, 0xE1, 0x00, 0xF0, 0};
  for (const auto& [type, pid] : streams) {
    body.insert(body.end(), {type, static_cast<uint8_t>(0xE0 | pid >> 8), static_cast<uint8_t>(pid),
                             static_cast<uint8_t>(0xF0 | descriptorBytes >> 8), static_cast<uint8_t>(descriptorBytes)});
    for (size_t i = 0; i < descriptorBytes; i += 2) body.insert(body.end(), {0x05, 0});  // empty descriptors
  }
  const size_t length = body.size() + 4;
  Bytes section = {0x02, static_cast<uint8_t>(0xB0 | length >> 8), static_cast<uint8_t>(length)};
  section.insert(section.end(), body.begin(), body.end());
  return section;
}

TEST(ContainerForm, ContentNotExtensionTellsTheForm) {
  Bytes ts = Packets(0, Pat(0x100), false), m2ts = Packets(0, Pat(0x100), true);
  for (int i = 0; i < 3; ++i) {
    ts.insert(ts.end(), ts.begin(), ts.begin() + 188);
    m2ts.insert(m2ts.end(), m2ts.begin(), m2ts.begin() + 192);
  }
  EXPECT_EQ(DetectInputForm(ts.data(), ts.size()), InputForm::kTransportStream);
  EXPECT_EQ(TransportPacketSize(m2ts.data(), m2ts.size()), 192);
  EXPECT_EQ(TransportPacketSize(ts.data(), ts.size()), 188);
  const Bytes mpls = {'M', 'P', 'L', 'S', '0', '2', '0', '0'}, ebml = {0x1A, 0x45, 0xDF, 0xA3, 0x9F};
  EXPECT_EQ(DetectInputForm(mpls.data(), mpls.size()), InputForm::kPlaylist);
  EXPECT_EQ(DetectInputForm(ebml.data(), ebml.size()), InputForm::kMatroska);
  // An elementary stream, and one that begins with a sync byte by chance.
  Bytes es = {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x67};
  es.resize(1000, 0x11);
  EXPECT_EQ(DetectInputForm(es.data(), es.size()), InputForm::kElementary);
  es[0] = 0x47;
  EXPECT_EQ(DetectInputForm(es.data(), es.size()), InputForm::kElementary);
}

TEST(ContainerTables, EveryPmtAddsItsStreamsAndDamagedSectionsAreIgnored) {
  // An SSIF: the dependent extent's PMT first, then the base extent's; a long PMT spans packets.
  Bytes ts = Packets(0, Pat(0x100), true);
  for (const Bytes& p : {Packets(0x100, Pmt({{kStreamMvc, 0x1012}}, 0), true),
                         Packets(0x100, Pmt({{kStreamH264, 0x1011}, {0x81, 0x1100}}, 1, 200), true)})
    ts.insert(ts.end(), p.begin(), p.end());
  Bytes broken = Packets(0x100, Pmt({{kStreamHevc, 0x1013}}, 2), true);
  broken[20] ^= 1;  // its CRC fails
  ts.insert(ts.end(), broken.begin(), broken.end());
  ProgramTables tables(192);
  tables.Feed(ts.data(), ts.size());
  EXPECT_EQ(tables.PmtsRead(), 2);
  ASSERT_TRUE(tables.Find(kStreamMvc) && tables.FirstVideo());
  EXPECT_EQ(tables.Find(kStreamMvc)->pid, 0x1012);
  EXPECT_EQ(tables.FirstVideo()->pid, 0x1011);
  EXPECT_EQ(tables.Find(kStreamHevc), nullptr);
  // Any cut of it is read without harm.
  for (size_t n = 0; n < ts.size(); n += 7) ProgramTables(192).Feed(ts.data(), n);

  const Bytes ssif = ReadShared("containers/mvc_ibbp_cabac/BDMV/STREAM/SSIF/00000.ssif");
  if (ssif.empty()) GTEST_SKIP() << "shared test media containers/mvc_ibbp_cabac is not present";
  ProgramTables shared(TransportPacketSize(ssif.data(), ssif.size()));
  shared.Feed(ssif.data(), ssif.size());
  ASSERT_TRUE(shared.Find(kStreamMvc) && shared.Find(kStreamH264));
  EXPECT_EQ(shared.Find(kStreamH264)->pid, 0x1011);
  EXPECT_EQ(shared.Find(kStreamMvc)->pid, 0x1012);
}

TEST(ContainerPlaylist, MainPathAndStereoSubPathClips) {
  PlaylistClips clips;
  const Bytes made = disc_test::PlaylistBytes({{"00001", 900, 1800}, {"00002", 0, 45000}}, 8, {"00011", "00012"});
  ASSERT_TRUE(ParsePlaylist(made.data(), made.size(), clips));
  EXPECT_EQ(clips.base, (std::vector<std::string>{"00001", "00002"}));
  ASSERT_EQ(clips.times.size(), 2u);
  EXPECT_TRUE(clips.times[0].in == 900 && clips.times[0].out == 1800 && clips.times[1].out == 45000);
  EXPECT_EQ(clips.dependent, (std::vector<std::string>{"00011", "00012"}));
  const Bytes other = disc_test::PlaylistBytes({{"00001"}}, 3, {"00005"});  // a sub-path of another kind
  ASSERT_TRUE(ParsePlaylist(other.data(), other.size(), clips));
  EXPECT_TRUE(clips.dependent.empty());
  Bytes garbled = made;
  garbled[54] = 'x';  // not a clip name
  EXPECT_FALSE(ParsePlaylist(garbled.data(), garbled.size(), clips));

  // The shared disc keeps its stereo sub-path in the extension data.
  const Bytes shared = ReadShared("containers/mvc_ibbp_cabac/BDMV/PLAYLIST/00000.mpls");
  if (shared.empty()) GTEST_SKIP() << "shared test media containers/mvc_ibbp_cabac is not present";
  ASSERT_TRUE(ParsePlaylist(shared.data(), shared.size(), clips));
  EXPECT_EQ(clips.base, std::vector<std::string>{"00000"});
  EXPECT_TRUE(clips.times.at(0).in == 27000000 && clips.times[0].out == 27045000);
  EXPECT_EQ(clips.dependent, std::vector<std::string>{"00001"});
  for (size_t n = 0; n < shared.size(); ++n) {
    const Bytes cut(shared.begin(), shared.begin() + static_cast<std::ptrdiff_t>(n));
    if (ParsePlaylist(cut.data(), cut.size(), clips)) {
      EXPECT_EQ(clips.base.size(), 1u);
    }
  }
}

TEST(ContainerNalFraming, RecordsAndLengthFieldsBecomeStartCodes) {
  // The avcC of the shared MKV: one SPS and three PPSs, four-byte lengths.
  const Bytes avcc = {0x01, 0x64, 0x00, 0x28, 0xFF, 0xE1, 0x00, 0x0A, 0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9, 0x00,
                      0xA0, 0x3D, 0x90, 0x03, 0x00, 0x04, 0x68, 0xEB, 0x63, 0x8B, 0x00, 0x05, 0x68, 0x5A, 0xDD,
                      0xE2, 0xC0, 0x00, 0x05, 0x68, 0x7A, 0xDE, 0xE2, 0xC0};
  Bytes out;
  int lengthSize = 0;
  ASSERT_TRUE(ParameterSetsFromRecord(avcc.data(), avcc.size(), false, out, lengthSize));
  EXPECT_EQ(lengthSize, 4);
  EXPECT_EQ(out.size(), 4 * 4 + 10 + 4 + 5 + 5u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{0, 0, 0, 1, 0x67}));
  for (size_t n = 0; n < avcc.size(); ++n) {  // cut records fail, never read past their end
    Bytes partial;
    if (ParameterSetsFromRecord(avcc.data(), n, false, partial, lengthSize)) ADD_FAILURE() << n;
  }
  // Two-byte fields; the last length runs past the block and takes what is left.
  const Bytes block = {0, 2, 0x65, 0x88, 0, 9, 0x41, 0x9A};
  out.clear();
  EXPECT_EQ(AppendAnnexB(block.data(), block.size(), 2, out), 4 + 2 + 4 + 2u);
  EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x65, 0x88, 0, 0, 0, 1, 0x41, 0x9A}));
}

// The pairer's steps for packets pushed as (view, pts), as a string: P pair, B base alone,
// D dependent dropped; input ends with `ended` after the last push.
std::string Pairs(std::vector<std::pair<int, int64_t>> packets, bool baseEnded, bool dependentEnded) {
  ViewPairer pairer;
  std::string steps;
  auto drain = [&](bool b, bool d) {
    for (ViewPairer::Decision s; (s = pairer.Next(b, d)).step != ViewPairer::Step::kWait;)
      steps += s.step == ViewPairer::Step::kPair ? 'P' : s.step == ViewPairer::Step::kBaseAlone ? 'B' : 'D';
  };
  for (const auto& [view, pts] : packets) {
    pairer.Push(view, pts, 0);
    drain(false, false);
  }
  drain(baseEnded, dependentEnded);
  return steps;
}

TEST(ContainerPairing, ViewsPairByTimestampWhateverIsLost) {
  // B pictures: timestamps out of order, the same in both views.
  EXPECT_EQ(Pairs({{0, 0}, {1, 0}, {0, 3}, {1, 3}, {0, 1}, {0, 2}, {1, 1}, {1, 2}}, true, true), "PPPP");
  // A dependent packet lost: its base packet goes alone, the rest stay paired.
  EXPECT_EQ(Pairs({{0, 0}, {1, 0}, {0, 3}, {0, 1}, {1, 1}, {0, 2}, {1, 2}}, true, true), "PBPP");
  // A base packet lost: its dependent packet is dropped.
  EXPECT_EQ(Pairs({{0, 0}, {1, 0}, {1, 3}, {0, 1}, {1, 1}, {0, 2}, {1, 2}}, true, true), "PDPP");
  // The same timestamp twice in both views (a unit split over two PES) pairs in order.
  EXPECT_EQ(Pairs({{0, 5}, {1, 5}, {0, 4}, {1, 4}, {0, 5}, {1, 5}}, true, true), "PPP");
  // SSIF extents: the dependent extent comes whole before the base one.
  std::vector<std::pair<int, int64_t>> ssif;
  for (int pts = 0; pts < 40; ++pts) ssif.push_back({1, pts});
  for (int pts = 0; pts < 40; ++pts) ssif.push_back({0, pts});
  EXPECT_EQ(Pairs(ssif, true, true), std::string(40, 'P'));
  // A dependent clip shorter than the base: the rest of the base goes alone once it has ended.
  EXPECT_EQ(Pairs({{0, 0}, {1, 0}, {0, 1}, {0, 2}}, false, true), "PBB");
  EXPECT_EQ(Pairs({{0, 0}, {1, 0}, {0, 1}, {0, 2}}, false, false), "P");
  // Nothing in common: every packet is settled as unpaired once the other view holds a window's worth.
  std::vector<std::pair<int, int64_t>> apart;
  for (int i = 0; i < 100; ++i) apart.push_back({i % 2, i % 2 ? 1000 + i : i});
  const std::string steps = Pairs(apart, true, true);
  EXPECT_EQ(std::count(steps.begin(), steps.end(), 'B'), 50);
  EXPECT_EQ(std::count(steps.begin(), steps.end(), 'D'), 50);
}

}  // namespace
}  // namespace korvala
