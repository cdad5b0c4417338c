#include "demuxer.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

namespace korvala {

Demuxer::Demuxer() = default;

Demuxer::~Demuxer() { Close(); }

void Demuxer::Close() {
  if (packet_) av_packet_free(&packet_);
  if (ctx_) avformat_close_input(&ctx_);
  streamsSeen_ = 0;
  path_.clear();
}

bool Demuxer::Open(const std::string& path, const char* format) {
  Close();
  const AVInputFormat* input = format ? av_find_input_format(format) : nullptr;
  if (format && !input) return false;
  AVFormatContext* ctx = avformat_alloc_context();
  if (!ctx) return false;
  // Raw packets: each PES (or block) as muxed, never merged or split by a parser.
  ctx->flags |= AVFMT_FLAG_NOPARSE;
  if (avformat_open_input(&ctx, path.c_str(), input, nullptr) < 0) return false;  // frees ctx
  ctx_ = ctx;
  packet_ = av_packet_alloc();
  if (!packet_) {
    Close();
    return false;
  }
  path_ = path;
  byteSeek_ = ctx_->iformat && ctx_->iformat->name && std::strstr(ctx_->iformat->name, "mpegts") != nullptr;
  DiscardOthers();
  return true;
}

int Demuxer::IndexOf(int id) const {
  if (!ctx_) return -1;
  for (unsigned i = 0; i < ctx_->nb_streams; ++i)
    if (ctx_->streams[i]->id == id) return static_cast<int>(i);
  return -1;
}

void Demuxer::Want(std::vector<int> ids) {
  wanted_ = std::move(ids);
  streamsSeen_ = 0;
  DiscardOthers();
}

void Demuxer::DiscardOthers() {
  if (!ctx_ || ctx_->nb_streams == streamsSeen_) return;
  for (unsigned i = 0; i < ctx_->nb_streams; ++i) {
    AVStream* st = ctx_->streams[i];
    const bool wanted = std::find(wanted_.begin(), wanted_.end(), st->id) != wanted_.end();
    st->discard = wanted ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  streamsSeen_ = ctx_->nb_streams;
}

bool Demuxer::Next(RawPacket& packet) {
  if (!ctx_) return false;
  for (;;) {
    av_packet_unref(packet_);
    if (av_read_frame(ctx_, packet_) < 0) return false;
    // A transport stream's streams appear as its PMTs are read.
    if (ctx_->nb_streams != streamsSeen_) {
      streamsSeen_ = 0;
      DiscardOthers();
    }
    if (packet_->stream_index < 0 || static_cast<unsigned>(packet_->stream_index) >= ctx_->nb_streams) continue;
    const int id = ctx_->streams[packet_->stream_index]->id;
    if (std::find(wanted_.begin(), wanted_.end(), id) == wanted_.end()) continue;
    packet.id = id;
    packet.pts = packet_->pts == AV_NOPTS_VALUE ? kNoTimestamp : packet_->pts;
    packet.pos = packet_->pos;
    packet.data = packet_->data;
    packet.size = packet_->data ? packet_->size : 0;
    return true;
  }
}

bool Demuxer::SeekToByte(int64_t pos) {
  if (!ctx_) return false;
  av_packet_unref(packet_);
  return av_seek_frame(ctx_, -1, pos, AVSEEK_FLAG_BYTE) >= 0;
}

bool Demuxer::SeekToTime(int id, int64_t pts) {
  const int index = IndexOf(id);
  if (index < 0) return false;
  av_packet_unref(packet_);
  return av_seek_frame(ctx_, index, pts == kNoTimestamp ? 0 : pts, AVSEEK_FLAG_BACKWARD) >= 0;
}

bool Demuxer::Discover(int id) {
  if (IndexOf(id) >= 0) return true;
  if (!ctx_) return false;
  while (IndexOf(id) < 0) {
    av_packet_unref(packet_);
    if (av_read_frame(ctx_, packet_) < 0) return false;
  }
  streamsSeen_ = 0;
  DiscardOthers();
  return true;
}

}  // namespace korvala
