// Fuzz target: damaged stereo transport streams through container input. The input becomes the
// two views' PES packets (any payloads, any timestamps) muxed into a TS, then damaged: packets
// lost, continuity broken, the file cut. Laying out and pairing the views while the index scans
// them, and reading units back by the recorded layout, must not crash or hang, and what is read
// back must be the bytes the pass laid out. Kept cheap per input (small files, small scan
// blocks, a sample of read-backs): libavformat is opened several times for each.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "container_format.h"
#include "container_input.h"
#include "index_scan.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

using Bytes = std::vector<uint8_t>;

struct Muxer {
  explicit Muxer(bool withPrefix) : prefix(withPrefix) {}
  bool prefix;
  uint8_t cc[2] = {0, 0};
  Bytes out;

  void Packet(uint16_t pid, bool start, const uint8_t* payload, size_t n, uint8_t& counter) {
    if (prefix) out.insert(out.end(), 4, 0);
    const size_t stuffing = 184 - n;
    out.insert(out.end(), {0x47, static_cast<uint8_t>((start ? 0x40 : 0) | pid >> 8), static_cast<uint8_t>(pid),
                           static_cast<uint8_t>((stuffing ? 0x30 : 0x10) | (counter++ & 15))});
    if (stuffing) {
      out.push_back(static_cast<uint8_t>(stuffing - 1));
      if (stuffing > 1) {
        out.push_back(0);
        out.insert(out.end(), stuffing - 2, 0xFF);
      }
    }
    out.insert(out.end(), payload, payload + n);
  }
  void Section(uint16_t pid, Bytes s) {
    const uint32_t crc = korvala::SectionCrc(s.data(), s.size());
    for (int shift : {24, 16, 8, 0}) s.push_back(static_cast<uint8_t>(crc >> shift));
    s.insert(s.begin(), 0);
    s.resize(184, 0xFF);
    uint8_t counter = 0;
    Packet(pid, true, s.data(), s.size(), counter);
  }
  void Pes(int view, int64_t pts, const Bytes& payload) {
    // 33 bits, as the field holds them: a timestamp stepped below 0 wraps.
    const uint64_t t = static_cast<uint64_t>(pts) & ((uint64_t{1} << 33) - 1);
    Bytes pes = {0, 0, 1, 0xE0, 0, 0, 0x80, 0x80, 5,
                 static_cast<uint8_t>(0x21 | ((t >> 29) & 0x0E)), static_cast<uint8_t>(t >> 22),
                 static_cast<uint8_t>(0x01 | ((t >> 14) & 0xFE)), static_cast<uint8_t>(t >> 7),
                 static_cast<uint8_t>(0x01 | ((t << 1) & 0xFE))};
    pes.insert(pes.end(), payload.begin(), payload.end());
    // A bounded length lets the demuxer take a buffer of that size, not its largest.
    const size_t length = pes.size() - 6;
    if (length <= 0xFFFF) {
      pes[4] = static_cast<uint8_t>(length >> 8);
      pes[5] = static_cast<uint8_t>(length);
    }
    const uint16_t pid = view ? 0x1012 : 0x1011;
    for (size_t at = 0; at < pes.size(); at += 184)
      Packet(pid, at == 0, pes.data() + at, std::min<size_t>(184, pes.size() - at), cc[view]);
  }
};

// What a view's scan reads, recorded.
class Recorded : public korvala::ByteSource {
 public:
  Recorded(std::unique_ptr<korvala::ByteSource> source, Bytes& into) : source_(std::move(source)), into_(into) {}
  size_t ReadAt(uint64_t offset, uint8_t* to, size_t n) override {
    const size_t got = source_->ReadAt(offset, to, n);
    if (offset == into_.size()) into_.insert(into_.end(), to, to + got);
    return got;
  }
  bool Stalled() const override { return source_->Stalled(); }

 private:
  std::unique_ptr<korvala::ByteSource> source_;
  Bytes& into_;
};

std::string MemoryFile(const Bytes& bytes) {
  const int fd = memfd_create("korvala_container_fuzz", 0);
  if (fd < 0) std::abort();
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

// libavformat's warnings about the damage, printed for every input, would cost more than the input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  Muxer mux((flags & 1) != 0);
  mux.Section(0, {0x00, 0xB0, 13, 0, 1, 0xC1, 0, 0, 0, 1, 0xE1, 0x00});
  mux.Section(0x100, {0x02, 0xB0, 23, 0, 1, 0xC1, 0, 0, 0xE1, 0x00, 0xF0, 0, 0x1B, 0xF0, 0x11, 0xF0, 0,
                      0x20, 0xF0, 0x12, 0xF0, 0});
  // Records: view and timestamp step, payload length, payload; each payload opens a unit of its view.
  int64_t pts[2] = {90000, 90000};
  for (size_t at = 1; at + 2 <= size && mux.out.size() < (1u << 16);) {
    const uint8_t head = data[at], length = data[at + 1];
    at += 2;
    const int view = head & 1;
    pts[view] += (static_cast<int>(head >> 1) - 32) * 1875;
    Bytes payload = {0, 0, 0, 1, static_cast<uint8_t>(view ? 0x18 : 0x09)};
    const size_t take = std::min<size_t>(length, size - at);
    payload.insert(payload.end(), data + at, data + at + take);
    at += take;
    mux.Pes(view, pts[view], payload);
  }
  // Damage: lost packets and a cut file.
  const size_t packet = mux.prefix ? 192 : 188;
  Bytes ts;
  const unsigned every = (flags >> 1) & 15;
  for (size_t i = 0; i * packet < mux.out.size(); ++i)
    if (every < 2 || i < 2 || i % every != 0)
      ts.insert(ts.end(), mux.out.begin() + i * packet, mux.out.begin() + (i + 1) * packet);
  if ((flags & 0x20) && ts.size() > 3 * packet) ts.resize(ts.size() - packet / 2);

  const std::string path = MemoryFile(ts);
  std::unique_ptr<korvala::ContainerInput> input;
  const char* message = "";
  if (korvala::OpenContainer(path, "", input, &message) == korvala::ContainerOpen::kOpened) {
    const bool two = input->TwoStreams();
    // The pass, scanned into the index as the plugin does, both views recorded.
    std::unique_ptr<korvala::ByteSource> base, dependent;
    input->OpenScan(two, base, dependent);
    Bytes laid[2];
    korvala::UnitIndex index(two);
    korvala::FileScan scanBase(std::make_unique<Recorded>(std::move(base), laid[0]), korvala::FileScan::kMinBlockBytes);
    korvala::FileScan scanDependent(two ? std::make_unique<Recorded>(std::move(dependent), laid[1]) : nullptr,
                                    korvala::FileScan::kMinBlockBytes);
    korvala::ScanToEnd(index, scanBase, two ? &scanDependent : nullptr);
    // Read back by the layout, backwards as after seeks: up to 12 spans spread over one view.
    for (int v = two && (flags & 0x40) ? 1 : 0; v < (two ? 2 : 1); v += 2) {
      std::unique_ptr<korvala::ByteSource> units = input->OpenUnits(v);
      const size_t step = std::max<size_t>(300, laid[v].size() / 12);
      for (size_t end = laid[v].size(); end > 0;) {
        const size_t from = end > step ? end - step : 0;
        const size_t length = std::min<size_t>(300, end - from);
        Bytes back(length);
        if (units->ReadAt(from, back.data(), length) != length ||
            !std::equal(back.begin(), back.end(), laid[v].begin() + static_cast<std::ptrdiff_t>(from)))
          std::abort();
        end = from;
      }
    }
  }
  close(std::stoi(path.substr(path.rfind('/') + 1)));
  return 0;
}
