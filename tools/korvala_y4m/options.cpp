#include "options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace y4m {

const char kUsage[] =
    "usage: korvala-y4m --avc FILE [--mvc FILE] [--frames N|auto] [--view V] [-o FILE]\n"
    "       korvala-y4m --index FILE... [--avc FILE --mvc FILE]\n"
    "Decodes as the Korvala plugin does, as Korvala(SourceFileAVC, SourceFileMVC, NumFrames,\n"
    "ViewId) would in an AviSynth+ script, and writes the frames as YUV4MPEG2.\n"
    "  --avc FILE      base-view (or only) elementary stream\n"
    "  --mvc FILE      dependent-view stream: two-file stereo mode\n"
    "  --frames N      frames per view; auto (the default) counts the stream's frames\n"
    "                  (a field pair is one). Views 2 and -2 give twice as many frames.\n"
    "  --view V        0 base view, 1 dependent view, 2 both (base first), -2 both (dependent first)\n"
    "  -o FILE         output file (default: standard output)\n"
    "  --index FILE... build the index of each input (and of the --avc/--mvc pair) and keep\n"
    "                  it in the cache folder, so that opening it later reads no stream\n";

namespace {

bool ParseInt(const std::string& text, int& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
  out = Options{};
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool inlineValue = false;
    if (name.rfind("--", 0) == 0) {
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        inlineValue = true;
      }
    }
    if (name == "-h" || name == "--help") {
      out.help = true;
      return true;
    }
    if (name == "--index" && !inlineValue) {
      out.index = true;
      continue;
    }
    if (out.index && !name.empty() && name[0] != '-') {
      out.indexFiles.push_back(name);
      continue;
    }
    if (name != "--avc" && name != "--mvc" && name != "--frames" && name != "--view" && name != "-o" &&
        name != "--output") {
      error = name.empty() || name[0] != '-' ? "unexpected argument '" + name + "'"
                                             : "unknown option '" + name + "'";
      return false;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (name == "--avc") {
      out.avc = value;
    } else if (name == "--mvc") {
      out.mvc = value;
    } else if (name == "--frames") {
      if (value == "auto") {
        out.framesAuto = true;
      } else if (ParseInt(value, out.frames) && out.frames >= 0) {
        out.framesAuto = false;
      } else {
        error = "--frames needs a number of frames or auto, not '" + value + "'";
        return false;
      }
    } else if (name == "--view") {
      if (!ParseInt(value, out.view)) {
        error = "--view needs a number (0, 1, 2 or -2), not '" + value + "'";
        return false;
      }
    } else {
      out.output = value;
    }
  }
  if (out.index && out.indexFiles.empty() && out.avc.empty()) {
    error = "--index needs the files to index";
    return false;
  }
  if (out.avc.empty() && !out.index) {
    error = "--avc FILE is required";
    return false;
  }
  return true;
}

}  // namespace y4m
