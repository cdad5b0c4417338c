#pragma once
// While a ModuleDirectory lives, the process's current directory is the folder of the plugin's
// own library, so that a runtime or plug-in the Media SDK looks for beside the plugin is found.
// The directory before comes back when it goes: scripts open files by relative paths after it.
// Any failure is silent; the directory is moved only when it can be restored.
#include <string>

namespace korvala {
class ModuleDirectory {
 public:
  ModuleDirectory();
  ~ModuleDirectory();
  ModuleDirectory(const ModuleDirectory&) = delete;
  ModuleDirectory& operator=(const ModuleDirectory&) = delete;

 private:
  std::string previous_;
  bool moved_ = false;
};
}  // namespace korvala
