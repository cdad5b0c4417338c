#pragma once
// The whole of korvala-y4m behind main(): for the tool itself, its tests and its benchmark.
#include <cstdio>
#include <functional>
#include <memory>

#include "frame_source.h"
#include "options.h"

namespace y4m {

// numFrames 0 (--frames auto) lets the core count the stream's frames.
using SourceFactory = std::function<std::unique_ptr<FrameSource>(const Options&, int numFrames)>;

// Writes all frames of the source to outFd. Messages go to err; progress too when progress
// is set. Returns the exit status: 0, or 1 for a plugin, input or write error.
int Run(const Options& options, const SourceFactory& open, int outFd, std::FILE* err, bool progress);

// The source used by the tool: OpenKorvala over the options, drawing the index's scan on
// `progress` when given.
SourceFactory KorvalaFactory(std::FILE* progress = nullptr);

// --index: opens each input (and the --avc/--mvc pair) so that its index is built and kept,
// with a line each on err and, on a terminal, the scan's progress. Returns the exit status.
int IndexInputs(const Options& options, std::FILE* err, bool terminal);

}  // namespace y4m
