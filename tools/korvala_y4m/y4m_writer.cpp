#include "y4m_writer.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace y4m {

std::string StreamHeader(const StreamFormat& f) {
  const bool aspect = f.sarNum > 0 && f.sarDen > 0;
  return "YUV4MPEG2 W" + std::to_string(f.width) + " H" + std::to_string(f.height) + " F" +
         std::to_string(f.fpsNumerator) + ":" + std::to_string(f.fpsDenominator) + " I" + f.interlacing + " A" +
         (aspect ? std::to_string(f.sarNum) + ":" + std::to_string(f.sarDen) : "0:0") + " " +
         (f.tenBit ? "C420p10 XYSCSS=420P10" : "C420jpeg XYSCSS=420JPEG") +
         (f.colorRange == 0 ? " XCOLORRANGE=FULL" : f.colorRange == 1 ? " XCOLORRANGE=LIMITED" : "") + "\n";
}

bool FrameWriter::WriteHeader(const StreamFormat& format) {
  std::string h = StreamHeader(format);
  return WriteAll(reinterpret_cast<const uint8_t*>(h.data()), h.size());
}

namespace {
const char kFrame[] = "FRAME\n";
}  // namespace

bool FrameWriter::WriteFrame(const Plane& y, const Plane& u, const Plane& v) {
  // Planes without row padding go out as they are, in one gathered write: no copy at all.
  if (y.pitch == y.rowSize && u.pitch == u.rowSize && v.pitch == v.rowSize) {
    iovec parts[4] = {{const_cast<char*>(kFrame), sizeof kFrame - 1}, {}, {}, {}};
    int i = 1;
    for (const Plane* p : {&y, &u, &v}) {
      parts[i].iov_base = const_cast<uint8_t*>(p->ptr);
      parts[i++].iov_len = static_cast<size_t>(p->rowSize) * static_cast<size_t>(p->height);
    }
    return WriteAllParts(parts, 4);
  }
  size_t size = sizeof kFrame - 1;
  for (const Plane* p : {&y, &u, &v}) size += static_cast<size_t>(p->rowSize) * static_cast<size_t>(p->height);
  if (buffer_.size() < size) buffer_.resize(size);
  uint8_t* out = buffer_.data();
  std::memcpy(out, kFrame, sizeof kFrame - 1);
  out += sizeof kFrame - 1;
  for (const Plane* p : {&y, &u, &v}) {
    size_t row = static_cast<size_t>(p->rowSize);
    for (int r = 0; r < p->height; ++r, out += row) {
      std::memcpy(out, p->ptr + static_cast<ptrdiff_t>(r) * p->pitch, row);
    }
  }
  return WriteAll(buffer_.data(), size);
}

bool FrameWriter::WriteAllParts(iovec* parts, int count) {
  while (count > 0) {
    ssize_t n = ::writev(fd_, parts, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    // A short write: skip what went out and go on with the rest.
    size_t done = static_cast<size_t>(n);
    while (count > 0 && done >= parts->iov_len) {
      done -= parts->iov_len;
      ++parts;
      --count;
    }
    if (count > 0) {
      parts->iov_base = static_cast<char*>(parts->iov_base) + done;
      parts->iov_len -= done;
    }
  }
  return true;
}

bool FrameWriter::WriteAll(const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace y4m
