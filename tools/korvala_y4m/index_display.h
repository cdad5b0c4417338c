#pragma once
// The index's progress as korvala-y4m shows it on a terminal: one line redrawn in place.
#include <cstdint>
#include <string>

namespace y4m {

// "indexing NAME [#####.....]  45%  540 of 1200 MB, 850 MB/s, 0:01 left" after `seconds`;
// without the bar, percentage and time left when the total is not known.
std::string IndexProgressLine(const std::string& name, uint64_t done, uint64_t total, double seconds);

}  // namespace y4m
