#include "av_decoder.h"

namespace swrt {

bool AvDecoder::Open(AVCodecID codec, bool withParser, int threads, int reorderDepth,
                     const std::uint8_t* extradata, std::size_t extradataSize) {
  Close();
  const AVCodec* decoder = avcodec_find_decoder(codec);
  if (!decoder) return false;
  context_ = avcodec_alloc_context3(decoder);
  packet_ = av_packet_alloc();
  if (!context_ || !packet_) {
    Close();
    return false;
  }
  context_->thread_count = threads;
  // Every picture decoded comes out, also one decoded from a start at an I picture that is no
  // IDR picture (as after a seek): whoever reads them decides which to show.
  if (codec == AV_CODEC_ID_H264) {
    context_->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
    context_->flags2 |= AV_CODEC_FLAG2_SHOW_ALL;
  }
  context_->has_b_frames = reorderDepth;
  if (extradata && extradataSize) {
    context_->extradata = static_cast<std::uint8_t*>(av_mallocz(extradataSize + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!context_->extradata) {
      Close();
      return false;
    }
    std::copy(extradata, extradata + extradataSize, context_->extradata);
    context_->extradata_size = static_cast<int>(extradataSize);
  }
  if (avcodec_open2(context_, decoder, nullptr) < 0) {
    Close();
    return false;
  }
  if (withParser) {
    parser_ = av_parser_init(codec);
    if (!parser_) {
      Close();
      return false;
    }
  }
  codec_ = codec;
  withParser_ = withParser;
  draining_ = finished_ = false;
  return true;
}

void AvDecoder::Close() {
  for (AVFrame* f : queue_) av_frame_free(&f);
  queue_.clear();
  if (parser_) av_parser_close(parser_);
  parser_ = nullptr;
  av_packet_free(&packet_);
  avcodec_free_context(&context_);
  draining_ = finished_ = false;
}

void AvDecoder::Restart() {
  if (!context_) return;
  for (AVFrame* f : queue_) av_frame_free(&f);
  queue_.clear();
  avcodec_flush_buffers(context_);
  if (withParser_) {
    if (parser_) av_parser_close(parser_);
    parser_ = av_parser_init(codec_);
  }
  draining_ = finished_ = false;
}

bool AvDecoder::ReceiveOne() {
  if (!context_ || finished_) return false;
  AVFrame* frame = av_frame_alloc();
  if (!frame) return false;
  int rc = avcodec_receive_frame(context_, frame);
  if (rc == 0) {
    queue_.push_back(frame);
    return true;
  }
  av_frame_free(&frame);
  if (rc == AVERROR_EOF || (draining_ && rc != AVERROR(EAGAIN))) finished_ = true;
  return false;
}

void AvDecoder::Send(AVPacket* packet) {
  if (!context_ || finished_) return;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    int rc = avcodec_send_packet(context_, packet);
    if (rc != AVERROR(EAGAIN)) return;  // sent, or refused as corrupt: errors are concealed
    // The decoder wants its output taken first.
    if (!ReceiveOne()) return;
  }
}

std::size_t AvDecoder::FeedBytes(const std::uint8_t* data, std::size_t len, std::int64_t pts) {
  if (!context_ || !parser_ || draining_) return len;
  std::size_t used = 0;
  while (used < len) {
    std::uint8_t* out = nullptr;
    int outSize = 0;
    int chunk = len - used > (1u << 30) ? (1 << 30) : static_cast<int>(len - used);
    int rc = av_parser_parse2(parser_, context_, &out, &outSize, data + used, chunk, pts, AV_NOPTS_VALUE, 0);
    if (rc < 0) return len;
    used += static_cast<std::size_t>(rc);
    if (outSize > 0) {
      packet_->data = out;
      packet_->size = outSize;
      packet_->pts = parser_->pts;
      Send(packet_);
      av_packet_unref(packet_);
      return used;
    }
    if (rc == 0) break;
  }
  return used < len ? len : used;
}

void AvDecoder::SendPacket(const std::uint8_t* data, std::size_t len, std::int64_t pts) {
  if (!context_ || draining_ || len == 0 || len > (1u << 30)) return;
  // A packet without its own buffer is copied by libavcodec, padding included.
  packet_->data = const_cast<std::uint8_t*>(data);
  packet_->size = static_cast<int>(len);
  packet_->pts = pts;
  Send(packet_);
  av_packet_unref(packet_);
}

void AvDecoder::Drain() {
  if (!context_ || draining_) return;
  if (parser_) {
    std::uint8_t* out = nullptr;
    int outSize = 0;
    av_parser_parse2(parser_, context_, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (outSize > 0) {
      packet_->data = out;
      packet_->size = outSize;
      packet_->pts = parser_->pts;
      Send(packet_);
      av_packet_unref(packet_);
    }
  }
  draining_ = true;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    int rc = avcodec_send_packet(context_, nullptr);
    if (rc != AVERROR(EAGAIN)) break;
    if (!ReceiveOne()) break;
  }
}

const AVFrame* AvDecoder::Peek() {
  if (queue_.empty()) ReceiveOne();
  return queue_.empty() ? nullptr : queue_.front();
}

void AvDecoder::Pop() {
  if (queue_.empty()) return;
  AVFrame* f = queue_.front();
  queue_.pop_front();
  av_frame_free(&f);
}

}  // namespace swrt
