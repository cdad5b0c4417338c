#pragma once
// Feeding the index from files (or a container's streams): each is read block by block, and
// every NAL unit in it is handed to the stream's scanner.
#include <algorithm>
#include <cstdint>
#include <vector>

#include <memory>

#include "byte_source.h"
#include "unit_index.h"

namespace korvala {

class FileScan {
 public:
  // Scans a stream (owned from now on) from its start, a block of blockBytes at a time.
  explicit FileScan(std::unique_ptr<ByteSource> source = nullptr, size_t blockBytes = kBlockBytes)
      : source_(std::move(source)), blockBytes_(std::max(blockBytes, kMinBlockBytes)) {}
  explicit FileScan(FilePtr file) : source_(std::make_unique<FileSource>(std::move(file))) {}
  // Scans one more block into the scanner; false once the file is done (the scanner has then
  // been told where the stream ends).
  bool Step(StreamScanner& scanner);
  uint64_t Scanned() const { return base_ + pos_; }
  // The last step's read came short without the stream ending: the other stream of the same
  // pass must be scanned on first.
  bool Stalled() const { return stalled_; }

  static constexpr size_t kBlockBytes = 8u << 20;
  // A block must hold a NAL unit's header and its lookahead beside what is kept from before.
  static constexpr size_t kMinBlockBytes = 4 * StreamScanner::kLookahead;

 private:
  // The bytes from pos_ up to `to` have been searched: dataEnd_ follows their last non-zero one.
  void Passed(const uint8_t* d, size_t to);

  std::unique_ptr<ByteSource> source_;
  size_t blockBytes_ = kBlockBytes;
  std::unique_ptr<uint8_t[]> buf_;
  size_t have_ = 0;    // valid bytes in buf_
  size_t pos_ = 0;     // where the next start code is searched
  uint64_t base_ = 0;  // file offset of buf_[0]
  uint64_t dataEnd_ = 0;  // past the last byte before pos_ that isn't zero
  bool eof_ = false;
  bool done_ = false;
  bool stalled_ = false;
};

// Scans both streams of an index until at least `units` units are known (or the streams end).
// Returns false when the files end first.
bool ScanUntil(UnitIndex& index, FileScan& base, FileScan* dependent, size_t units);
// Scans to the ends of the files, leaving the index to be looked at before it is finished.
void ScanAll(UnitIndex& index, FileScan& base, FileScan* dependent);
// Scans to the ends of the files and finishes the index.
void ScanToEnd(UnitIndex& index, FileScan& base, FileScan* dependent);

}  // namespace korvala
