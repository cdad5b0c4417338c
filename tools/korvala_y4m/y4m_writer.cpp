#include "y4m_writer.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace y4m {

std::string StreamHeader(const StreamFormat& f) {
  return "YUV4MPEG2 W" + std::to_string(f.width) + " H" + std::to_string(f.height) + " F" +
         std::to_string(f.fpsNumerator) + ":" + std::to_string(f.fpsDenominator) + " Ip A0:0 " +
         (f.tenBit ? "C420p10 XYSCSS=420P10" : "C420jpeg XYSCSS=420JPEG") + "\n";
}

bool FrameWriter::WriteHeader(const StreamFormat& format) {
  std::string h = StreamHeader(format);
  return WriteAll(reinterpret_cast<const uint8_t*>(h.data()), h.size());
}

bool FrameWriter::WriteFrame(const Plane& y, const Plane& u, const Plane& v) {
  static const char kFrame[] = "FRAME\n";
  size_t size = sizeof kFrame - 1;
  for (const Plane* p : {&y, &u, &v}) size += static_cast<size_t>(p->rowSize) * static_cast<size_t>(p->height);
  if (buffer_.size() < size) buffer_.resize(size);
  uint8_t* out = buffer_.data();
  std::memcpy(out, kFrame, sizeof kFrame - 1);
  out += sizeof kFrame - 1;
  for (const Plane* p : {&y, &u, &v}) {
    size_t row = static_cast<size_t>(p->rowSize);
    if (p->pitch == p->rowSize) {
      std::memcpy(out, p->ptr, row * static_cast<size_t>(p->height));
      out += row * static_cast<size_t>(p->height);
      continue;
    }
    for (int r = 0; r < p->height; ++r, out += row) {
      std::memcpy(out, p->ptr + static_cast<ptrdiff_t>(r) * p->pitch, row);
    }
  }
  return WriteAll(buffer_.data(), size);
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
