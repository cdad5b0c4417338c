#pragma once
// The clip's input, opened once: a container's streams, or one elementary file or the base and
// dependent files of a pair, all read through the container's interface.
#include <memory>
#include <string>

#include "container_input.h"

namespace korvala {

struct ClipInput {
  std::unique_ptr<ContainerInput> input;
  bool elementary = false;  // elementary files rather than a container
  bool hevc = false;        // ... of HEVC, by the name
};

// Opens the input of Korvala(SourceFileAVC, SourceFileMVC) by the names as the script gave them
// (FileNameFromScript applied). The base file is opened once: its first bytes tell a container,
// and an elementary file is read through that one handle. Throws SourceError with the script's
// message.
ClipInput OpenClipInput(const std::string& sourceAVC, const std::string& sourceMVC);

}  // namespace korvala
