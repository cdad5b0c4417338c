// The pass that lays a container's views out holds a bounded amount whatever is lost: when the
// dependent view's packets stop, reading that view never lays out more of the base view than
// the bound, and reading both in turn lays out what an unbounded pass does.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "container_streams.h"
#include "index_scan.h"

namespace korvala {
namespace {

TEST(ContainerLayout, AViewWhosePacketsStopNeverMakesTheOtherPileUp) {
  const std::string shared = std::string(KORVALA_SHARED_DIR) + "/media/containers/mvc_1080p/mvc_1080p.m2ts";
  std::FILE* in = std::fopen(shared.c_str(), "rb");
  if (!in) GTEST_SKIP() << "shared test media containers/mvc_1080p is not present";
  std::vector<uint8_t> packet(192), damaged;
  for (int dependent = 0; std::fread(packet.data(), 1, packet.size(), in) == packet.size();) {
    const int pid = (packet[5] & 0x1F) << 8 | packet[6];
    if (pid == 0x1012 && ++dependent > 20) continue;
    damaged.insert(damaged.end(), packet.begin(), packet.end());
  }
  std::fclose(in);
  const std::string path = std::string(KORVALA_BINARY_DIR) + "/layout_lost_dependent.m2ts";
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(out);
  for (int i = 0; i < 3; ++i) std::fwrite(damaged.data(), 1, damaged.size(), out);
  std::fclose(out);

  auto plan = std::make_shared<ContainerPlan>();
  plan->clips.push_back(ContainerPlan::Clip{{path, ""}, {0x1011, 0x1012}});
  plan->constants = {0, 0, 0, 1, 0x18};  // the stand-in unit of a lost dependent picture
  // Without the bound, reading the base view first lays it out whole, and the dependent view's
  // stand-ins beside it.
  LayoutBuilder unbounded(plan, true, nullptr, SIZE_MAX);
  std::vector<uint8_t> block(1 << 20);
  uint64_t whole[2] = {0, 0};
  for (int view : {0, 1})
    for (size_t n; (n = unbounded.Read(view, block.data(), block.size())) > 0;) whole[view] += n;

  constexpr size_t kAhead = 64 << 10, kLargestPacket = 256 << 10;
  LayoutBuilder pass(plan, true, nullptr, kAhead);
  uint64_t read[2] = {0, pass.Read(1, block.data(), block.size())};
  EXPECT_LT(read[1], block.size());
  EXPECT_TRUE(pass.Stalled(1));
  EXPECT_LE(pass.Unread(0), kAhead + kLargestPacket);
  for (bool more = true; more;) {
    more = false;
    for (int view : {1, 0}) {
      const size_t n = pass.Read(view, block.data(), view ? block.size() : 32 << 10);
      read[view] += n;
      more = more || n > 0 || pass.Stalled(view);
      EXPECT_LE(pass.Unread(0), kAhead + kLargestPacket + block.size());
    }
  }
  EXPECT_EQ(read[0], whole[0]);
  EXPECT_EQ(read[1], whole[1]);
  EXPECT_GE(read[1], 3 * 48 * ContainerPlan::kStandInSize);

  // The index's scan of both views goes from one to the other as each stalls: every unit found.
  auto bounded = std::make_shared<LayoutBuilder>(plan, true, nullptr, kAhead);
  UnitIndex index(true);
  FileScan base(std::make_unique<BuilderSource>(bounded, 0)), dependent(std::make_unique<BuilderSource>(bounded, 1));
  ScanToEnd(index, base, &dependent);
  EXPECT_EQ(index.FrameCount(), 3u * 48);
  EXPECT_LE(bounded->Unread(0), kAhead + kLargestPacket);
}

}  // namespace
}  // namespace korvala
