#include "container_format.h"

#include <algorithm>
#include <cstring>

namespace korvala {

namespace {

constexpr uint8_t kSync = 0x47;
constexpr size_t kMaxSection = 1024 + 3;  // a PAT or PMT section is at most 1024 bytes behind its length

bool SyncedAt(const uint8_t* head, size_t n, size_t first, size_t spacing) {
  const size_t packets = std::min<size_t>(n / spacing, 8);
  if (packets == 0) return false;
  for (size_t k = 0; k < packets; ++k)
    if (first + k * spacing >= n || head[first + k * spacing] != kSync) return false;
  return true;
}

}  // namespace

int TransportPacketSize(const uint8_t* head, size_t n) {
  if (SyncedAt(head, n, 4, 192)) return 192;
  if (SyncedAt(head, n, 0, 188)) return 188;
  return 0;
}

InputForm DetectInputForm(const uint8_t* head, size_t n) {
  if (n >= 4 && std::memcmp(head, "MPLS", 4) == 0) return InputForm::kPlaylist;
  if (n >= 4 && head[0] == 0x1A && head[1] == 0x45 && head[2] == 0xDF && head[3] == 0xA3) return InputForm::kMatroska;
  if (TransportPacketSize(head, n) != 0) return InputForm::kTransportStream;
  return InputForm::kElementary;
}

uint32_t SectionCrc(const uint8_t* data, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint32_t{data[i]} << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

const ProgramStream* ProgramTables::Find(uint8_t type) const {
  for (const ProgramStream& s : streams_)
    if (s.type == type) return &s;
  return nullptr;
}

const ProgramStream* ProgramTables::FirstVideo() const {
  for (const ProgramStream& s : streams_)
    if (s.type == kStreamH264 || s.type == kStreamHevc || s.type == kStreamMpeg2 || s.type == kStreamVc1) return &s;
  return nullptr;
}

void ProgramTables::Feed(const uint8_t* data, size_t n) {
  if (packetSize_ != 188 && packetSize_ != 192) return;
  const size_t size = static_cast<size_t>(packetSize_);
  const size_t skip = size - 188;
  for (size_t at = 0; at + size <= n; at += size) Packet(data + at + skip);
}

ProgramTables::Section* ProgramTables::SectionOf(uint16_t pid) {
  for (Section& s : sections_)
    if (s.pid == pid) return &s;
  sections_.push_back(Section{pid, false, {}});
  return &sections_.back();
}

bool PesStartTimestamp(const uint8_t* p, uint16_t pid, int64_t& pts) {
  if (p[0] != kSync || (p[1] & 0x80) || !(p[1] & 0x40)) return false;
  if ((((p[1] & 0x1F) << 8) | p[2]) != pid) return false;
  const int control = (p[3] >> 4) & 3;
  if (!(control & 1)) return false;
  const size_t at = control & 2 ? 5 + size_t{p[4]} : 4;
  // start code prefix, stream id, length, flags, header length, then the 5-byte PTS
  if (at + 14 > 188 || p[at] != 0 || p[at + 1] != 0 || p[at + 2] != 1 || !(p[at + 7] & 0x80)) return false;
  const uint8_t* t = p + at + 9;
  pts = (int64_t{t[0] & 0x0E} << 29) | (int64_t{t[1]} << 22) | (int64_t{t[2] & 0xFE} << 14) | (int64_t{t[3]} << 7) |
        (t[4] >> 1);
  return true;
}

bool PacketPayload(const uint8_t* p, uint16_t pid, const uint8_t** data, size_t* n) {
  if (p[0] != kSync || (p[1] & 0x80)) return false;
  if ((((p[1] & 0x1F) << 8) | p[2]) != pid) return false;
  const int control = (p[3] >> 4) & 3;
  if (!(control & 1)) return false;
  size_t at = control & 2 ? 5 + size_t{p[4]} : 4;
  if (p[1] & 0x40) {
    if (at + 9 > 188 || p[at] != 0 || p[at + 1] != 0 || p[at + 2] != 1) return false;
    at += 9 + size_t{p[at + 8]};
  }
  if (at >= 188) return false;
  *data = p + at;
  *n = 188 - at;
  return true;
}

void ProgramTables::Packet(const uint8_t* p) {
  if (p[0] != kSync || (p[1] & 0x80)) return;  // lost sync, or a transport error
  const uint16_t pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
  if (pid != 0 && std::find(pmtPids_.begin(), pmtPids_.end(), pid) == pmtPids_.end()) return;
  const bool start = (p[1] & 0x40) != 0;
  const int control = (p[3] >> 4) & 3;
  if (!(control & 1)) return;
  size_t j = 4;
  if (control & 2) j += 1 + size_t{p[4]};
  if (j >= 188) return;
  const uint8_t* payload = p + j;
  size_t left = 188 - j;
  Section& s = *SectionOf(pid);
  if (start) {
    const size_t pointer = payload[0];
    if (1 + pointer > left) {
      s.open = false;
      return;
    }
    // The bytes before the pointer end the section already begun.
    if (s.open) s.bytes.insert(s.bytes.end(), payload + 1, payload + 1 + pointer);
    std::vector<uint8_t> finished;
    if (s.open) finished.swap(s.bytes);
    s.bytes.assign(payload + 1 + pointer, payload + left);
    s.open = true;
    if (!finished.empty() && finished.size() >= 3) {
      const size_t length = (size_t{finished[1] & 0x0Fu} << 8 | finished[2]) + 3;
      if (length <= finished.size() && length <= kMaxSection) {
        finished.resize(length);
        Complete(pid, finished);
      }
    }
  } else {
    if (!s.open) return;
    s.bytes.insert(s.bytes.end(), payload, payload + left);
  }
  // Complete sections, and those following them in the same packet.
  while (s.open && s.bytes.size() >= 3) {
    if (s.bytes[0] == 0xFF) {  // stuffing: no more sections here
      s.open = false;
      break;
    }
    const size_t length = (size_t{s.bytes[1] & 0x0Fu} << 8 | s.bytes[2]) + 3;
    if (length > kMaxSection) {
      s.open = false;
      break;
    }
    if (s.bytes.size() < length) break;
    std::vector<uint8_t> section(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(length));
    s.bytes.erase(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(length));
    if (s.bytes.empty()) s.open = false;
    // A PMT found here may name a new section PID: `s` stays valid, as sections_ is not touched.
    Complete(pid, section);
  }
}

void ProgramTables::Complete(uint16_t pid, const std::vector<uint8_t>& s) {
  const size_t n = s.size();
  // Long-form sections only: header, at least one byte of body, CRC.
  if (n < 12 || !(s[1] & 0x80) || SectionCrc(s.data(), n) != 0) return;
  if (!(s[5] & 1)) return;  // not yet current
  if (pid == 0 && s[0] == 0x00) {
    for (size_t k = 8; k + 4 <= n - 4; k += 4) {
      const uint16_t program = static_cast<uint16_t>(s[k] << 8 | s[k + 1]);
      const uint16_t pmt = static_cast<uint16_t>((s[k + 2] & 0x1F) << 8 | s[k + 3]);
      if (program != 0 && pmt != 0 && std::find(pmtPids_.begin(), pmtPids_.end(), pmt) == pmtPids_.end() &&
          pmtPids_.size() < 64)
        pmtPids_.push_back(pmt);
    }
    return;
  }
  if (s[0] != 0x02 || pid == 0) return;
  ++pmts_;
  size_t k = 12 + (size_t{s[10] & 0x0Fu} << 8 | s[11]);
  while (k + 5 <= n - 4) {
    const uint8_t type = s[k];
    const uint16_t es = static_cast<uint16_t>((s[k + 1] & 0x1F) << 8 | s[k + 2]);
    const size_t info = size_t{s[k + 3] & 0x0Fu} << 8 | s[k + 4];
    auto known = std::find_if(streams_.begin(), streams_.end(), [&](const ProgramStream& e) { return e.pid == es; });
    if (known != streams_.end())
      known->type = type;
    else if (streams_.size() < 256)
      streams_.push_back(ProgramStream{es, type});
    k += 5 + info;
  }
}

}  // namespace korvala
