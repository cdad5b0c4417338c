// What every build knows of containers: their messages and how they are recognised.
#include <cstdio>
#include <cstdint>

#include "container_input.h"
#include "file_io.h"

namespace korvala {

const char* const kContainerUnreadableMessage = "Korvala: ERROR -> Can't read the container";
const char* const kNoVideoMessage = "Korvala: ERROR -> No video stream to decode in the container";
const char* const kClipMissingMessage = "Korvala: ERROR -> Can't open a clip of the playlist";
const char* const kClipSizeMessage = "Korvala: ERROR -> A clip of the playlist has another picture size";

bool ReadInputForm(const std::string& path, InputForm& form) {
  const FilePtr f = OpenFile(path);
  if (!f) return false;
  uint8_t head[kFormProbeBytes];
  const size_t n = std::fread(head, 1, sizeof head, f.get());
  form = DetectInputForm(head, n);
  return true;
}

}  // namespace korvala
