#pragma once
// One container file read through libavformat as raw packets: with AVFMT_FLAG_NOPARSE each PES
// of a transport stream, and each block of a Matroska track, is one packet, as it was muxed.
#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace korvala {

struct RawPacket {
  int id = -1;       // the stream's id: a transport stream's PID, a Matroska track's number
  int64_t pts = 0;   // kNoTimestamp when the packet has none
  int64_t pos = -1;  // where the packet begins in the file
  const uint8_t* data = nullptr;
  int size = 0;
};

constexpr int64_t kNoTimestamp = INT64_MIN;

class Demuxer {
 public:
  Demuxer();
  ~Demuxer();
  Demuxer(const Demuxer&) = delete;
  Demuxer& operator=(const Demuxer&) = delete;

  // `format`: libavformat's name of the format the content was found to be ("mpegts",
  // "matroska"), so that its own probe can't take the file for another; null lets it probe.
  bool Open(const std::string& path, const char* format = nullptr);
  void Close();
  bool IsOpen() const { return ctx_ != nullptr; }
  const std::string& Path() const { return path_; }

  // Packets of these streams only; the others are discarded as they are read.
  void Want(std::vector<int> ids);
  // The next packet of a wanted stream, valid until the next call; false at the end.
  bool Next(RawPacket& packet);
  // Reading goes on at a packet's position (a transport stream's packet boundary).
  bool SeekToByte(int64_t pos);
  // Reading goes on at or before the packet with this timestamp (Matroska cues).
  bool SeekToTime(int id, int64_t pts);
  bool ByteSeekable() const { return byteSeek_; }
  // Reads on from the start until the stream with this id is known (an SSIF lists the base view
  // in the PMT of its first base extent); false when it never appears.
  bool Discover(int id);

  AVFormatContext* Context() { return ctx_; }
  // The stream's index in the context, or -1.
  int IndexOf(int id) const;

 private:
  void DiscardOthers();

  AVFormatContext* ctx_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::string path_;
  std::vector<int> wanted_;
  unsigned streamsSeen_ = 0;
  bool byteSeek_ = false;
};

}  // namespace korvala
