#pragma once
// YUV4MPEG2 output of planar 4:2:0 frames: 8-bit as C420jpeg, 10-bit as C420p10 (16-bit
// little-endian samples, as the host frames hold them), with the aspect, interlacing and range
// the frames carry.
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/uio.h>
#include <vector>

namespace y4m {

struct Plane {
  const uint8_t* ptr = nullptr;
  int pitch = 0;    // bytes from one row to the next
  int rowSize = 0;  // bytes of samples in a row
  int height = 0;
};

struct StreamFormat {
  int width = 0;
  int height = 0;
  unsigned fpsNumerator = 0;
  unsigned fpsDenominator = 0;
  bool tenBit = false;
  // What the frames say of themselves (the first frame's properties): the pixel aspect (0:0
  // unknown), 'p' progressive, 't' top or 'b' bottom field first ('?' unknown), and the
  // range (0 full, 1 limited, -1 unknown).
  int64_t sarNum = 0, sarDen = 0;
  char interlacing = 'p';
  int colorRange = -1;
};

std::string StreamHeader(const StreamFormat& format);

// Writes whole frames to a file descriptor, each in one write of "FRAME\n" and its three
// planes: gathered straight from the planes when their rows have no padding, else packed row
// by row into a buffer first.
class FrameWriter {
 public:
  explicit FrameWriter(int fd) : fd_(fd) {}
  // False (errno set) when the write fails.
  bool WriteHeader(const StreamFormat& format);
  bool WriteFrame(const Plane& y, const Plane& u, const Plane& v);

 private:
  bool WriteAll(const uint8_t* data, size_t size);
  bool WriteAllParts(iovec* parts, int count);
  int fd_;
  std::vector<uint8_t> buffer_;
};

}  // namespace y4m
