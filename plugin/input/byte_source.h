#pragma once
// Where the index and the reader get a stream's bytes: a file, or (from a container) one view's
// payloads laid end to end. Either is read at any offset.
#include <cstddef>
#include <cstdint>

#include "aligned_buffer.h"

namespace korvala {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to n bytes from offset: fewer only where the stream ends, none past it, or where the
  // source is stalled.
  virtual size_t ReadAt(uint64_t offset, uint8_t* to, size_t n) = 0;
  // The last read came short because another reader of the same pass must take its bytes
  // first: the stream goes on once it has.
  virtual bool Stalled() const { return false; }
};

// Bytes held in memory (a test's or a fuzz input's stream), read without a file.
class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t ReadAt(uint64_t offset, uint8_t* to, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// A file of its own; a read that follows the last one goes on without seeking.
class FileSource : public ByteSource {
 public:
  explicit FileSource(FilePtr file) : file_(std::move(file)) {}
  bool IsOpen() const { return file_ != nullptr; }
  size_t ReadAt(uint64_t offset, uint8_t* to, size_t n) override;

 private:
  FilePtr file_;
  uint64_t position_ = 0;
};

}  // namespace korvala
