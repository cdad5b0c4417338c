#include "index_scan.h"

#include <cstring>

#include "bits.h"

namespace korvala {

namespace {

// Past the last byte of d[from, to) that isn't zero; `from` when all are.
size_t DataEnd(const uint8_t* d, size_t from, size_t to) {
  if (to <= from || d[to - 1] != 0) return to;
  // A block of zeros (a gap of gigabytes is read block by block) is told at memcmp's pace.
  if (d[from] == 0 && std::memcmp(d + from, d + from + 1, to - from - 1) == 0) return from;
  while (to > from && d[to - 1] == 0) --to;
  return to;
}

}  // namespace

bool FileScan::Step(StreamScanner& scanner) {
  if (done_) return false;
  // Never cleared: only the bytes read are looked at.
  if (!buf_) buf_.reset(new uint8_t[blockBytes_]);
  // Keep the unit not yet handed over, then fill the block.
  if (!eof_) {
    const size_t keep = pos_ > 1 ? pos_ - 1 : 0;  // a leading zero of a four-byte start code
    if (keep > 0) {
      std::memmove(buf_.get(), buf_.get() + keep, have_ - keep);
      have_ -= keep;
      pos_ -= keep;
      base_ += keep;
    }
    const size_t n = source_ ? source_->ReadAt(base_ + have_, buf_.get() + have_, blockBytes_ - have_) : 0;
    have_ += n;
    stalled_ = source_ && have_ < blockBytes_ && source_->Stalled();
    if (!stalled_ && (n == 0 || have_ < blockBytes_)) eof_ = true;
  }
  const uint8_t* d = buf_.get();
  for (;;) {
    const size_t sc = h264::FindStartCode(d, have_, pos_);
    const size_t header = sc + 3;
    // Hand a unit over only with its whole header at hand, unless the file has nothing more.
    if (sc >= have_ || header >= have_ || (!eof_ && have_ - header < StreamScanner::kLookahead)) {
      if (!eof_) {
        // Nothing found: the last bytes may begin a start code.
        const size_t next = sc < have_ ? sc : have_ > 3 ? have_ - 3 : 0;
        Passed(d, next);
        pos_ = next;
        return true;
      }
      // Zero bytes at the end belong to no unit either.
      Passed(d, have_);
      scanner.End(dataEnd_);
      done_ = true;
      buf_.reset();  // the block is not needed again
      source_.reset();
      return false;
    }
    size_t end = have_;
    const uint8_t type = d[header] & 0x1F;
    if (type == 7 || type == 8 || type == 15) {
      // Parameter sets are parsed to their last bit: they end at the next start code.
      const size_t limit = std::min(have_, header + StreamScanner::kLookahead);
      end = h264::FindStartCode(d, limit, header);
    } else {
      end = std::min(have_, header + StreamScanner::kLookahead);
    }
    const size_t start = sc > 0 && d[sc - 1] == 0 ? sc - 1 : sc;
    Passed(d, start);
    scanner.Nal(base_ + start, d + header, end - header, dataEnd_);
    pos_ = header;
    dataEnd_ = base_ + header + 1;
  }
}

void FileScan::Passed(const uint8_t* d, size_t to) {
  if (to <= pos_) return;
  const size_t end = DataEnd(d, pos_, to);
  if (end > pos_) dataEnd_ = base_ + end;
}

bool ScanUntil(UnitIndex& index, FileScan& base, FileScan* dependent, size_t units) {
  FileScan* last = nullptr;
  while (index.KnownUnits() < units) {
    if (index.ScanEnded()) return false;
    // The stream that is behind goes on, unless it just stalled waiting for the other stream to
    // take its bytes.
    bool depBehind = dependent && !index.Dependent().Ended() &&
                     index.Dependent().Units().size() <= index.Base().Units().size();
    if (depBehind && last == dependent && dependent->Stalled() && !index.Base().Ended()) depBehind = false;
    else if (!depBehind && last == &base && base.Stalled() && dependent && !index.Dependent().Ended()) depBehind = true;
    if (depBehind) {
      last = dependent;
    } else if (!index.Base().Ended()) {
      last = &base;
    } else {
      last = dependent;
    }
    if (last) last->Step(last == &base ? index.Base() : index.Dependent());
  }
  return true;
}

void ScanAll(UnitIndex& index, FileScan& base, FileScan* dependent) {
  // Both streams advance together: a container's two views come out of one pass, so neither
  // may run far ahead of the other.
  ScanUntil(index, base, dependent, SIZE_MAX);
  while (base.Step(index.Base())) {
  }
  if (dependent)
    while (dependent->Step(index.Dependent())) {
    }
}

void ScanToEnd(UnitIndex& index, FileScan& base, FileScan* dependent) {
  ScanAll(index, base, dependent);
  index.Finish();
}

}  // namespace korvala
