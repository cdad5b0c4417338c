#pragma once
// A container's video as the elementary streams the index and the reader know: each view's
// payloads laid end to end, start codes and all, the views paired by timestamp. One pass lays
// the streams out and records where each packet's bytes went; the unit readers then read any
// unit back through their own demuxer, seeking to the packet that holds it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_source.h"
#include "demuxer.h"
#include "stream_layout.h"
#include "view_pairing.h"

namespace korvala {

// Which files hold the video, and which streams in them.
struct ContainerPlan {
  struct Clip {
    std::string path[2];  // path[1] empty: both views in path[0] (one TS, an SSIF)
    int id[2] = {-1, -1};  // the views' stream ids (PIDs; a Matroska track's number); -1 none
    // A playlist's item shows only the pictures presented in [in, out) (90 kHz) of its clip.
    bool cut = false;
    int64_t in = 0, out = 0;
    // The stretch of each file read: from the packet at `from` to the first at or past `to`
    // (-1: the file's end).
    int64_t from[2] = {0, 0};
    int64_t to[2] = {-1, -1};
  };
  std::vector<Clip> clips;  // played in order, the frames following on
  bool matroska = false;
  int lengthSize = 0;  // Matroska: the blocks' NAL length fields (0: start codes)
  // Bytes laid out from the plan itself: the stand-in unit of a lost dependent packet, then a
  // Matroska track's parameter sets.
  std::vector<uint8_t> constants;
  size_t headerAt = 0, headerSize = 0;

  bool TwoViews() const;
  const char* Format() const { return matroska ? "matroska" : "mpegts"; }
  static constexpr size_t kStandInSize = 5;  // 00 00 00 01 18: a dependent unit with no slices
};

// The one pass over the container, laying out one or both views for sequential reading.
class LayoutBuilder {
 public:
  // twoViews: the dependent view too, paired with the base view. `layout` (may be null)
  // receives every piece.
  LayoutBuilder(std::shared_ptr<const ContainerPlan> plan, bool twoViews, std::shared_ptr<Layout> layout,
                size_t aheadBytes = kAheadBytes);
  ~LayoutBuilder();

  // The next bytes of view v: n of them, fewer where its stream ends or where the other view's
  // laid-out bytes wait to be read beyond kAheadBytes (Stalled(v) then tells).
  size_t Read(int view, uint8_t* to, size_t n);
  uint64_t Consumed(int view) const { return consumed_[view]; }
  bool Stalled(int view) const { return stalled_[view]; }
  size_t Unread(int view) const { return pending_[view].size() - head_[view]; }
  // What one view may have laid out and unread while the other view's reader asks for more.
  // A view whose packets stop (a lost PID) thus never makes the other's bytes pile up.
  static constexpr size_t kAheadBytes = size_t{16} << 20;

 private:
  bool Produce();
  bool OpenClip();
  void CloseClip();
  bool ReadPacket();
  void Emit(int view, uint32_t slot);
  void EmitConstant(int view, size_t at, size_t size);
  uint32_t Hold(const RawPacket& p);
  void Release(uint32_t slot);

  struct Held {
    std::vector<uint8_t> bytes;
    int64_t pos = 0;
    int64_t pts = 0;
  };

  std::shared_ptr<const ContainerPlan> plan_;
  bool twoViews_;
  std::shared_ptr<Layout> layout_;
  size_t aheadBytes_;
  size_t clip_ = 0;
  bool clipOpen_ = false;
  bool done_ = false;
  bool separate_ = false;  // the clip's views are in two files
  Demuxer demux_[2];
  bool ended_[2] = {false, false};
  ViewPairer pairer_;
  std::vector<Held> slots_;
  std::vector<uint32_t> free_;
  size_t heldBytes_ = 0;  // of packets waiting for their partners
  std::vector<uint8_t> pending_[2];  // laid out, not yet read
  size_t head_[2] = {0, 0};
  uint64_t laid_[2] = {0, 0};
  uint64_t consumed_[2] = {0, 0};
  bool stalled_[2] = {false, false};
};

// One view of a builder shared with the other view, read sequentially (the index's scan). A
// read ahead skips; one behind what was read gets nothing.
class BuilderSource : public ByteSource {
 public:
  BuilderSource(std::shared_ptr<LayoutBuilder> builder, int view) : builder_(std::move(builder)), view_(view) {}
  size_t ReadAt(uint64_t offset, uint8_t* to, size_t n) override;
  bool Stalled() const override { return builder_->Stalled(view_); }

 private:
  std::shared_ptr<LayoutBuilder> builder_;
  int view_;
};

// A pass of its own over the base view, for reading it from the start (codec probes, raw
// feeding); a read behind the last starts the pass again.
class SequentialSource : public ByteSource {
 public:
  explicit SequentialSource(std::shared_ptr<const ContainerPlan> plan) : plan_(std::move(plan)) {}
  size_t ReadAt(uint64_t offset, uint8_t* to, size_t n) override;

 private:
  std::shared_ptr<const ContainerPlan> plan_;
  std::unique_ptr<LayoutBuilder> builder_;
};

// A view's units read back by the layout the pass recorded: pieces the pass has laid out only.
class PieceSource : public ByteSource {
 public:
  PieceSource(std::shared_ptr<const ContainerPlan> plan, std::shared_ptr<const Layout> layout, int view)
      : plan_(std::move(plan)), layout_(std::move(layout)), view_(view) {}
  size_t ReadAt(uint64_t offset, uint8_t* to, size_t n) override;

 private:
  bool Fetch(size_t piece);
  bool Find(const Piece& p, bool seek);

  std::shared_ptr<const ContainerPlan> plan_;
  std::shared_ptr<const Layout> layout_;
  int view_;
  Demuxer demux_;
  int openClip_ = -1;
  int64_t lastPos_ = -1;   // position of the packet read last
  size_t cached_ = SIZE_MAX;
  std::vector<uint8_t> bytes_;
};

// A packet's bytes as the laid-out stream holds them.
void LayOut(const ContainerPlan& plan, const uint8_t* data, size_t size, std::vector<uint8_t>& out);

}  // namespace korvala
