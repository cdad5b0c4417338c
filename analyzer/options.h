// Command line, usage block and closing tips of Tessulor.
#pragma once

#include "text_out.h"

namespace tessulor {

struct AnalyzerOptions {
  bool queryApi = true;
  bool queryPackages = true;
  bool queryDirectShow = true;
  bool queryMft = true;
  bool waitForKey = true;
  bool showUsage = false;
};

// Argument 0 is the program path and is never looked at. Each argument that is not exactly
// one of the six switches prints the unknown-option notice.
void ParseCommandLine(int argc, const wchar_t* const* argv, AnalyzerOptions& options, TextOut& out);

void PrintUsage(TextOut& out);

// Nothing when both targets work; otherwise the heading and the tips of each failed target.
void PrintTips(bool hwUsable, bool swUsable, TextOut& out);

}  // namespace tessulor
