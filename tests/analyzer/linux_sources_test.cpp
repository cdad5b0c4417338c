// The Linux sources over a fake /sys, /proc, /etc and dpkg tree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "capture.h"
#include "sources/linux/linux_sources.h"

namespace fs = std::filesystem;

namespace {

class FakeTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessulor-tree-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  void Write(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(root_ + path).parent_path());
    std::ofstream(root_ + path) << content;
  }
  void Link(const std::string& target, const std::string& path) {
    fs::create_directories(fs::path(root_ + path).parent_path());
    fs::create_directory_symlink(target, root_ + path);
  }
  // A PCI display device behind /sys/class/drm/<card>.
  void Card(const std::string& card, const std::string& slot, const std::string& vendor, const std::string& device,
            const std::string& driver, const std::string& power, const std::string& bus = "pci") {
    const std::string dev = "/sys/devices/pci0000:00/" + slot;
    Write(dev + "/vendor", vendor + "\n");
    Write(dev + "/device", device + "\n");
    if (!power.empty()) Write(dev + "/power/runtime_status", power + "\n");
    Link("../../../bus/" + bus, dev + "/subsystem");
    if (!driver.empty()) {
      fs::create_directories(root_ + "/sys/bus/pci/drivers/" + driver);
      Link("../../../bus/pci/drivers/" + driver, dev + "/driver");
    }
    Link("../../../devices/pci0000:00/" + slot, "/sys/class/drm/" + card + "/device");
  }
  void StandardTree() {
    Write("/usr/share/misc/pci.ids",
          "# comment\n"
          "10de  NVIDIA Corporation\n"
          "\t1eb8  TU104GL [Tesla T4]\n"
          "\t\t10de 12a2  subsystem line\n"
          "8086  Intel Corporation\n"
          "\t3e92  CoffeeLake-S GT2 [UHD Graphics 630]\n"
          "\t\t1028 0869  Vostro 3470\n"
          "abcd  Caf\xC3\xA9 Graphics\n"
          "C 03  Display controller\n"
          "\t1234  not a device\n");
    Card("card0", "0000:00:02.0", "0x8086", "0x3e92", "i915", "active");
    Card("card1", "0000:01:00.0", "0x10de", "0x1eb8", "nvidia", "suspended");
    Write("/sys/module/nvidia/version", "535.104.05\n");
    Card("card10", "0000:03:00.0", "0xabcd", "0x0001", "", "");
    Card("card2", "0000:02:00.0", "0x1234", "0x5678", "bochs-drm", "unsupported");
    Card("card3", "platform", "0x8086", "0x0001", "", "", "platform");  // not a PCI device
    Link("card0/device", "/sys/class/drm/card0-HDMI-A-1");               // a connector
    Link("card0/device", "/sys/class/drm/renderD128");
    Write("/proc/cpuinfo",
          "processor\t: 0\nphysical id\t: 0\nmodel name\t: Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz\n\n"
          "processor\t: 1\nphysical id\t: 0\nmodel name\t: Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz\n\n"
          "processor\t: 2\nphysical id\t: 1\nmodel name\t: Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz\n");
    Write("/etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    Write("/var/lib/dpkg/status",
          "Package: libmfx1\nStatus: install ok installed\nVersion: 22.5.4-1\n"
          "Description: Intel Media SDK -- shared library\n Intel\xC2\xAE Media SDK provides an API\n .\n more\n\n"
          "Package: old-media-sdk\nStatus: deinstall ok config-files\nVersion: 1.0\n"
          "Description: Media SDK leftovers\n\n"
          "Package: intel-media-va-driver\nStatus: install ok installed\nVersion: 23.1.1+dfsg1-1\n"
          "Description: VAAPI driver for the Intel GEN8+ Graphics family\n\n"
          "Package: vendor-tools\nStatus: install ok installed\nVersion: 2:3.0\n"
          "Description: Intel\xC2\xAE Media Studio \xC2\xAE tools\n\n"
          "Package: media-sdk-docs\nStatus: install ok installed\n");
  }
  std::string Report(const std::string& machine = "x86_64", int* status = nullptr) {
    tessulor_test::Capture c;
    tessulor::LinuxSystemInfoSource source({root_, machine});
    const int s = tessulor::RunSystemReport(true, source, c.out());
    if (status) *status = s;
    return c.Text();
  }

  std::string root_;
};

// Columns count characters, not UTF-8 bytes.
std::string Row(const std::string& name, const std::string& version, const std::string& state) {
  auto pad = [](const std::string& s, size_t w) {
    size_t chars = 0;
    for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
    return chars >= w ? s : s + std::string(w - chars, ' ');
  };
  return "\t" + pad(name, 45) + pad(version, 20) + state + "\n";
}

}  // namespace

TEST_F(FakeTree, WholeSectionFromTheTree) {
  StandardTree();
  int status = -1;
  EXPECT_EQ("\nGraphics Devices:\n" + Row("Name", "Version", "State") +
                Row("Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]", "i915", "Running / Full Power") +
                Row("NVIDIA Corporation TU104GL [Tesla T4]", "nvidia 535.104.05", "Power Save - Standby") +
                Row("PCI 1234:5678", "bochs-drm", "Unknown") +
                Row("Caf\xC3\xA9 Graphics Device 0001", "(no driver)", "Unknown") +
                "\nSystem info:\n"
                "\tCPU:\tIntel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz\n"
                "\tCPU:\tIntel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz\n"
                "\tOS:\tDebian GNU/Linux 12 (bookworm)\n"
                "\tArch:\t64-bit (x86_64)\n"
                "\nInstalled Media SDK packages (be patient...processing takes some time):\n"
                "\tlibmfx1 22.5.4-1 - Intel Media SDK -- shared library\n"
                "\tvendor-tools 2:3.0 - Intel(R) Media Studio \xC2\xAE tools\n",
            Report("x86_64", &status));
  EXPECT_EQ(0, status);
}

TEST_F(FakeTree, NoDrmDevicesAndFallbackFiles) {
  fs::create_directories(root_ + "/sys/class/net");  // sysfs is there, no DRM driver loaded
  Write("/proc/cpuinfo", "processor\t: 0\nmodel name\t: ARMv7 Processor rev 4 (v7l)\n\n"
                         "processor\t: 1\nmodel name\t: ARMv7 Processor rev 4 (v7l)\n");
  Write("/usr/lib/os-release", "NAME='Plain OS'\n");
  Write("/var/lib/dpkg/status", "");
  EXPECT_EQ("\nGraphics Devices:\n" + Row("Name", "Version", "State") +
                "\nSystem info:\n\tCPU:\tARMv7 Processor rev 4 (v7l)\n\tOS:\tPlain OS\n\tArch:\t32-bit (armv7l)\n"
                "\nInstalled Media SDK packages (be patient...processing takes some time):\n",
            Report("armv7l"));
}

TEST_F(FakeTree, UnreadableSourceFailsLikeItsQuery) {
  struct Case {
    const char* removed;
    int status;
  } cases[] = {{"/sys/class", 6}, {"/proc/cpuinfo", 7}, {"/etc/os-release", 8}, {"/var/lib/dpkg/status", 9}};
  for (const Case& c : cases) {
    StandardTree();
    fs::remove_all(root_ + c.removed);
    int status = -1;
    const std::string text = Report("x86_64", &status);
    EXPECT_EQ(c.status, status) << c.removed;
    EXPECT_EQ(c.status == 6, text.find("\nSystem info:\n") == std::string::npos) << c.removed;
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
}

TEST(LinuxSources, PciNameFallsBackWithoutDatabaseAndArchitectureWording) {
  EXPECT_EQ(L"", tessulor::LookUpPciName("/nonexistent/pci.ids", 0x8086, 0x3e92));
  EXPECT_EQ(L"64-bit (aarch64)", tessulor::ArchitectureText("aarch64"));
  EXPECT_EQ(L"64-bit (s390x)", tessulor::ArchitectureText("s390x"));
  EXPECT_EQ(L"32-bit (i686)", tessulor::ArchitectureText("i686"));
}

TEST(LinuxSources, DirectShowAndMediaFoundationSectionsAreEmpty) {
  tessulor_test::Capture c;
  tessulor::LinuxFilterSource filters;
  tessulor::LinuxTransformSource transforms;
  tessulor::ListDirectShowFilters(filters, c.out());
  tessulor::ListMediaFoundationTransforms(transforms, c.out());
  EXPECT_EQ("\nInstalled Media SDK DirectShow filters:\n\nInstalled Intel Media Foundation Transforms:\n\n\n", c.Text());
}
