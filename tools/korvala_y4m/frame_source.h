#pragma once
// Where korvala-y4m's frames come from: the decoding core, as Korvala(...) in a host.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "y4m_writer.h"

namespace y4m {

// An error of the core or the tool; what() is the message exactly as raised.
class SourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  virtual StreamFormat Format() const = 0;
  virtual int NumFrames() const = 0;
  // Frame n's planes, valid until the next call. Throws SourceError.
  virtual void GetFrame(int n, Plane& y, Plane& u, Plane& v) = 0;
};

// The clip of Korvala(SourceFileAVC, SourceFileMVC, NumFrames, ViewId). Throws SourceError.
// `progress`: where the index's scan is drawn (a terminal), or null.
std::unique_ptr<FrameSource> OpenKorvala(const std::string& avc, const std::string& mvc, int numFrames, int viewId,
                                         std::FILE* progress = nullptr);

}  // namespace y4m
