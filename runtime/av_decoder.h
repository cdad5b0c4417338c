// One libavcodec decoder, fed either with raw elementary-stream bytes (cut into packets by
// libavcodec's own parser) or with whole packets, handing out pictures in display order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace swrt {

class AvDecoder {
 public:
  AvDecoder() = default;
  AvDecoder(const AvDecoder&) = delete;
  AvDecoder& operator=(const AvDecoder&) = delete;
  ~AvDecoder() { Close(); }

  // threads: 0 lets libavcodec use every core. reorderDepth: pictures held back for display
  // order from the start (libavcodec would otherwise learn it late and drop pictures).
  bool Open(AVCodecID codec, bool withParser, int threads, int reorderDepth = 0,
            const std::uint8_t* extradata = nullptr, std::size_t extradataSize = 0);
  void Close();
  bool IsOpen() const { return context_ != nullptr; }

  // Parser mode: consumes bytes until one packet went to the decoder or the bytes are used up.
  // Returns how many bytes were consumed. A packet that begins in them carries pts.
  std::size_t FeedBytes(const std::uint8_t* data, std::size_t len, std::int64_t pts = AV_NOPTS_VALUE);
  // Packet mode: one complete picture's data; its decoded frame carries pts.
  void SendPacket(const std::uint8_t* data, std::size_t len, std::int64_t pts = AV_NOPTS_VALUE);
  // No more input: the parser's last packet goes out, then the decoder is drained.
  void Drain();
  // Back to the state after Open (a new stream may follow a drain).
  void Restart();

  // The next picture, or null when none is ready yet (or none is left after a drain). The frame
  // stays owned by the decoder until Pop.
  const AVFrame* Peek();
  void Pop();
  bool Draining() const { return draining_; }
  bool Finished() const { return finished_ && queue_.empty(); }
  std::size_t Queued() const { return queue_.size(); }

 private:
  void Send(AVPacket* packet);
  bool ReceiveOne();

  AVCodecContext* context_ = nullptr;
  AVCodecParserContext* parser_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::deque<AVFrame*> queue_;
  AVCodecID codec_ = AV_CODEC_ID_NONE;
  bool withParser_ = false;
  bool draining_ = false;
  bool finished_ = false;
};

}  // namespace swrt
