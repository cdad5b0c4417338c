#pragma once
// What an input file holds, told from its first bytes, and the elementary streams a transport
// stream's program tables list. Pure over the bytes it is handed.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvala {

enum class InputForm : uint8_t {
  kElementary,       // anything else: read as an elementary stream
  kTransportStream,  // MPEG-2 TS with 188-byte packets, or Blu-ray's 192-byte ones (M2TS, SSIF)
  kMatroska,         // an EBML header: Matroska or WebM
  kPlaylist,         // a Blu-ray movie playlist (MPLS)
};

// Enough of a file's start to tell its form.
constexpr size_t kFormProbeBytes = 8 * 192;

InputForm DetectInputForm(const uint8_t* head, size_t n);
// 188 or 192 when sync bytes stand at that spacing from the file's start, else 0.
int TransportPacketSize(const uint8_t* head, size_t n);

// Stream types of a PMT that carry video we decode.
enum StreamType : uint8_t {
  kStreamMpeg2 = 0x02,
  kStreamH264 = 0x1B,
  kStreamMvc = 0x20,  // the dependent view of stereo H.264 (Blu-ray 3D)
  kStreamHevc = 0x24,
  kStreamVc1 = 0xEA,
};

struct ProgramStream {
  uint16_t pid = 0;
  uint8_t type = 0;
};

// Reads the PAT and PMT sections of a transport stream's packets as they come. An SSIF lists
// its two views in the PMTs of different extents, so every PMT seen adds to the list.
class ProgramTables {
 public:
  explicit ProgramTables(int packetSize) : packetSize_(packetSize) {}
  // Whole packets of packetSize bytes; a partial one at the end is left out.
  void Feed(const uint8_t* data, size_t n);

  const std::vector<ProgramStream>& Streams() const { return streams_; }
  // The first stream of this type, or null.
  const ProgramStream* Find(uint8_t type) const;
  // The first base-view video stream (H.264, HEVC, MPEG-2, VC-1), or null.
  const ProgramStream* FirstVideo() const;
  int PmtsRead() const { return pmts_; }

 private:
  struct Section {
    uint16_t pid = 0;
    bool open = false;
    std::vector<uint8_t> bytes;
  };
  void Packet(const uint8_t* p);
  void Complete(uint16_t pid, const std::vector<uint8_t>& section);
  Section* SectionOf(uint16_t pid);

  int packetSize_;
  std::vector<uint16_t> pmtPids_;
  std::vector<Section> sections_;
  std::vector<ProgramStream> streams_;
  int pmts_ = 0;
};

// The presentation timestamp of the PES that a 188-byte transport packet of `pid` begins, when
// it begins one and its header holds a timestamp.
bool PesStartTimestamp(const uint8_t* packet, uint16_t pid, int64_t& pts);

// The payload of a 188-byte transport packet of `pid`, the PES header left out where one
// begins; false when the packet is another's or carries none.
bool PacketPayload(const uint8_t* packet, uint16_t pid, const uint8_t** data, size_t* n);

// CRC-32/MPEG-2 over a PSI section, its last four bytes included: 0 when intact.
uint32_t SectionCrc(const uint8_t* data, size_t n);

}  // namespace korvala
