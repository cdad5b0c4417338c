// Korvala.dll under Wine, in a folder without the software runtime: construction opens the
// session in the plugin's own folder (PSAPI), fails to, and leaves the current directory as it was.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "avs_host.h"
#include "capture_windows.h"

namespace korvala_wine_test {
namespace {

// Wine maps drive Z: to the Unix root, where the build tree lies.
std::string WindowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH];
  const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : "";
}

bool SameFolder(const std::string& a, const std::string& b) {
  char fa[MAX_PATH], fb[MAX_PATH];
  return GetFullPathNameA(a.c_str(), MAX_PATH, fa, nullptr) && GetFullPathNameA(b.c_str(), MAX_PATH, fb, nullptr) &&
         _stricmp(fa, fb) == 0;
}

// A scratch folder holding a small stream file, made the current directory.
class ScratchFolder {
 public:
  ScratchFolder() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    folder_ = std::string(temp) + "korvala_folder_test_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder_.c_str(), nullptr);
    stream_ = folder_ + "\\clip.264";
    if (std::FILE* f = std::fopen(stream_.c_str(), "wb")) {
      const unsigned char delimiter[] = {0, 0, 0, 1, 0x09, 0xF0};
      std::fwrite(delimiter, 1, sizeof delimiter, f);
      std::fclose(f);
    }
    SetCurrentDirectoryA(folder_.c_str());
  }
  ~ScratchFolder() {
    SetCurrentDirectoryA("C:\\");
    DeleteFileA(stream_.c_str());
    for (const auto& f : extra_) DeleteFileA(f.c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  const std::string& folder() const { return folder_; }
  const std::string& stream() const { return stream_; }
  void Keep(const std::string& file) { extra_.push_back(file); }

 private:
  std::string folder_, stream_;
  std::vector<std::string> extra_;
};

std::string ConstructionError(const std::string& plugin, const std::string& stream) {
  avshost::Host host;
  host.LoadPlugin(plugin);
  try {
    host.Invoke("Korvala", {stream});
  } catch (const avshost::ScriptError& e) {
    return e.what();
  }
  return "(no error)";
}

// By a relative path: a directory left in the plugin's folder would lose the second clip's file.
TEST(PluginFolder, TheDirectoryComesBackAfterConstruction) {
  ScratchFolder scratch;
  const std::string plugin = WindowsPath(KORVALA_PLUGIN_FILE);
  ASSERT_TRUE(SameFolder(CurrentDirectory(), scratch.folder()));
  for (int clip = 0; clip < 2; ++clip)
    EXPECT_EQ(ConstructionError(plugin, "clip.264"), "Korvala: Can't init decoder session") << "clip " << clip;
  EXPECT_TRUE(SameFolder(CurrentDirectory(), scratch.folder())) << CurrentDirectory();
}

// With no module named Korvala there is no folder to move to: a null handle would name the
// host's own executable instead.
TEST(PluginFolder, AnotherModuleNameLeavesTheDirectory) {
  ScratchFolder scratch;
  const std::string renamed = scratch.folder() + "\\Renamed.dll";
  ASSERT_TRUE(CopyFileA(WindowsPath(KORVALA_PLUGIN_FILE).c_str(), renamed.c_str(), FALSE));
  scratch.Keep(renamed);
  const std::string elsewhere = scratch.folder() + "\\elsewhere";
  CreateDirectoryA(elsewhere.c_str(), nullptr);
  SetCurrentDirectoryA(elsewhere.c_str());
  EXPECT_EQ(ConstructionError(renamed, scratch.stream()), "Korvala: Can't init decoder session");
  EXPECT_TRUE(SameFolder(CurrentDirectory(), elsewhere)) << CurrentDirectory();
  SetCurrentDirectoryA(scratch.folder().c_str());
  RemoveDirectoryA(elsewhere.c_str());
}

TEST(PluginFolder, MissingFileFailsBeforeAnyMove) {
  ScratchFolder scratch;
  EXPECT_EQ(ConstructionError(WindowsPath(KORVALA_PLUGIN_FILE), scratch.folder() + "\\absent.264"),
            "Korvala: Can't open Source File");
  EXPECT_TRUE(SameFolder(CurrentDirectory(), scratch.folder())) << CurrentDirectory();
}

}  // namespace
}  // namespace korvala_wine_test
