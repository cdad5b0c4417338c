#pragma once
// korvala-y4m's command line. The options carry the names of the script function's
// parameters: --avc (SourceFileAVC), --mvc (SourceFileMVC), --frames (NumFrames), --view (ViewId).
#include <string>
#include <vector>

namespace y4m {

struct Options {
  std::string avc;
  std::string mvc;
  bool framesAuto = true;  // count the base-view file's access units
  int frames = 0;
  int view = 0;
  std::string output;  // empty: standard output
  bool index = false;  // --index: build and keep the index of each input, write no frames
  std::vector<std::string> indexFiles;
  bool help = false;
};

extern const char kUsage[];

// Parses argv[1..]; on a bad command line returns false with a message in error.
bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

}  // namespace y4m
