// The KORVALA_TEST_RUNTIME text: semicolon-separated settings
//   hw=<minor>|none  sw=<minor>|none  adapter=<1..4>  via=any|d3d11
//   decquery=<status>  encquery=<status>
// Anything not set keeps the Program default (no runtime of that kind, queries answer 0).
#pragma once

#include "test_runtime_control.h"

#include <string>

namespace mfxtest {

bool ParseSettings(const std::string& text, Program* program, std::string* error);

}  // namespace mfxtest
