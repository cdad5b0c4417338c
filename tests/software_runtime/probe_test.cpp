// Tessulor's API probe with the software runtime installed (its folder on the library path, as
// an installed prefix puts it): SW rows say "Yes" with the decoder mark, HW rows "No".
#include <gtest/gtest.h>

#include <mfxdefs.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

TEST(TessulorProbe, SoftwareRowsYesWithDecoderHardwareRowsNo) {
  const std::string command = std::string("LD_LIBRARY_PATH='") + KORVALA_SOFTWARE_RUNTIME_DIR + "' '" + KORVALA_TESSULOR +
                              "' -skipPackage -skipDShow -skipMFT -skipWait < /dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);

  int swYes = 0, hwYes = 0, hwRows = 0;
  std::string highest;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("\t1.", 0) != 0) continue;
    if (line.find("\tHW\t") != std::string::npos) {
      ++hwRows;
      if (line.find("\tYes") != std::string::npos) ++hwYes;
    } else if (line.find("\tSW\tYes\t\tX\t ") != std::string::npos) {
      ++swYes;
      highest = line.substr(1, line.find('\t', 1) - 1);
    }
  }
  EXPECT_EQ(hwYes, 0) << output;
  EXPECT_EQ(hwRows, 21) << output;  // 1.0 to 1.20 always; no HW row above
  EXPECT_EQ(swYes, MFX_VERSION_MINOR + 1) << output;  // every version up to the headers'
  EXPECT_EQ(highest, "1." + std::to_string(MFX_VERSION_MINOR));
}

}  // namespace
