// Tessulor's spine: title, switches, the sections in order, tips and the final wait.
#pragma once

#include <cstdio>

#include "filter_listing.h"
#include "system_report.h"
#include "text_out.h"
#include "transform_listing.h"

namespace tessulor {

extern const wchar_t kTitle[];

using ApiProbe = int (*)(bool& hwUsable, bool& swUsable, TextOut& out);

// Where each section takes its data from.
struct AnalyzerPlatform {
  ApiProbe probe;
  SystemInfoSource& system;
  FilterSource& filters;
  TransformSource& transforms;
};

// Runs one analysis after the locale is set. `input` is what the final wait reads from.
// Returns 0 on every path.
int RunAnalyzer(int argc, const wchar_t* const* argv, AnalyzerPlatform& platform, TextOut& out,
                std::FILE* input);

}  // namespace tessulor
