// Which Media SDK API versions the hardware and software runtimes open, through libmfx.
#pragma once

#include "text_out.h"

namespace tessulor {

// Prints the version table and sets hwUsable / swUsable (false on entry) when any version
// opened a session of that kind. Always returns 0.
int ProbeApiSupport(bool& hwUsable, bool& swUsable, TextOut& out);

}  // namespace tessulor
