// Container input through libavformat: which files and streams hold the video, and the streams
// laid out from them.
#include "container_input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <optional>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "bits.h"
#include "clip_info.h"
#include "container_streams.h"
#include "disc_title.h"
#include "file_io.h"
#include "index_cache.h"
#include "nal_framing.h"
#include "parameter_sets.h"
#include "playlist.h"
#include "title_index.h"

namespace korvala {

namespace {

// How far a transport stream is read for its program tables: an SSIF lists its base view only
// in the PMT of its first base extent.
constexpr size_t kTableSearchBytes = size_t{64} << 20;
constexpr size_t kTableBlock = size_t{192} * 188 * 2;  // whole packets of either size
constexpr size_t kPlaylistBytes = 1 << 20;
constexpr int kRatePackets = 48;

const uint8_t kStandIn[ContainerPlan::kStandInSize] = {0, 0, 0, 1, 0x18};
const char* const kOpenMvcMessage = "Korvala: Can't open Source File MVC";  // as for elementary files

std::string Parent(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A transport stream's first blocks of whole packets, handed to `enough(block, bytes, packetSize)`
// until it says so or kTableSearchBytes are read. False when the file is no transport stream.
template <class Enough>
bool ReadPackets(const std::string& path, Enough enough) {
  const FilePtr f = OpenFile(path);
  if (!f) return false;
  // Never cleared: only the bytes read are looked at.
  std::unique_ptr<uint8_t[]> block(new uint8_t[kTableBlock]);
  size_t n = std::fread(block.get(), 1, kTableBlock, f.get());
  const int size = TransportPacketSize(block.get(), n);
  if (size == 0) return false;
  for (size_t read = n; n > 0; read += n) {
    if (enough(block.get(), n, size) || read >= kTableSearchBytes) break;
    n = std::fread(block.get(), 1, kTableBlock, f.get());
  }
  return true;
}

// The video streams a transport stream's program tables list, read until `enough` says so;
// empty when the file is no transport stream.
template <class Enough>
std::optional<ProgramTables> ReadTables(const std::string& path, Enough enough) {
  std::optional<ProgramTables> tables;
  ReadPackets(path, [&](const uint8_t* block, size_t n, int size) {
    if (!tables) tables.emplace(size);
    tables->Feed(block, n);
    return enough(*tables);
  });
  return tables;
}

// The rate the base view's timestamps step at, snapped to the usual rates; 0/0 when unclear.
void RateFromTimestamps(std::vector<int64_t> pts, int64_t unitsPerSecond, uint32_t& num, uint32_t& den) {
  num = den = 0;
  pts.erase(std::remove(pts.begin(), pts.end(), kNoTimestamp), pts.end());
  std::sort(pts.begin(), pts.end());
  pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
  if (pts.size() < 3 || unitsPerSecond <= 0) return;
  std::vector<int64_t> steps;
  for (size_t i = 1; i < pts.size(); ++i) steps.push_back(pts[i] - pts[i - 1]);
  std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
  const int64_t step = steps[steps.size() / 2];
  if (step <= 0) return;
  static const uint32_t kRates[][2] = {{24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1},
                                       {48, 1},       {50, 1}, {60000, 1001}, {60, 1}};
  for (const auto& r : kRates) {
    const double expected = static_cast<double>(unitsPerSecond) * r[1] / r[0];
    if (std::abs(static_cast<double>(step) - expected) <= std::max(1.0, expected * 0.0002)) {
      num = r[0];
      den = r[1];
      return;
    }
  }
  if (unitsPerSecond > UINT32_MAX || step > UINT32_MAX) return;
  const int64_t g = std::gcd(unitsPerSecond, step);
  num = static_cast<uint32_t>(unitsPerSecond / g);
  den = static_cast<uint32_t>(step / g);
}

class Container : public ContainerInput {
 public:
  Container(std::shared_ptr<ContainerPlan> plan, ContainerCodec codec, uint32_t num, uint32_t den, bool kept = true)
      : plan_(std::move(plan)), codec_(codec), num_(num), den_(den), kept_(kept) {}

  bool TwoStreams() const override { return plan_->TwoViews(); }
  ContainerCodec Codec() const override { return codec_; }
  void FrameRate(uint32_t& numerator, uint32_t& denominator) const override {
    numerator = num_;
    denominator = den_;
  }
  std::unique_ptr<ByteSource> OpenSequential() override { return std::make_unique<SequentialSource>(plan_); }
  void OpenScan(bool dependent, std::unique_ptr<ByteSource>& base, std::unique_ptr<ByteSource>& dep) override {
    layout_ = std::make_shared<Layout>();
    auto builder = std::make_shared<LayoutBuilder>(plan_, dependent, layout_);
    base = std::make_unique<BuilderSource>(builder, 0);
    if (dependent) dep = std::make_unique<BuilderSource>(builder, 1);
  }
  std::unique_ptr<ByteSource> OpenUnits(int view) override {
    if (!layout_) layout_ = std::make_shared<Layout>();
    return std::make_unique<PieceSource>(plan_, layout_, view);
  }
  std::vector<std::string> KeptFiles() const override {
    if (!kept_ || plan_->clips.size() != 1) return {};
    const ContainerPlan::Clip& c = plan_->clips.front();
    if (c.path[1].empty()) return {c.path[0]};
    return {c.path[0], c.path[1]};
  }
  std::shared_ptr<const Layout> ScannedLayout() const override { return layout_; }
  void UseLayout(std::shared_ptr<Layout> layout) override { layout_ = std::move(layout); }
  bool Cut() const override {
    for (const ContainerPlan::Clip& c : plan_->clips)
      if (c.cut) return true;
    return false;
  }
  std::unique_ptr<TitleUnits> OpenTitle() override { return IndexTitle(title_); }
  void SetTitle(std::shared_ptr<const DiscTitle> title) { title_ = std::move(title); }
  bool Shows(uint64_t offset) const override {
    if (!layout_) return true;
    const std::vector<Piece>& pieces = layout_->pieces[0];
    auto it = std::upper_bound(pieces.begin(), pieces.end(), offset,
                               [](uint64_t value, const Piece& p) { return value < p.offset; });
    if (it == pieces.begin()) return true;
    const Piece& p = *--it;
    if (p.constant || p.clip >= plan_->clips.size() || p.pts == kNoTimestamp) return true;
    const ContainerPlan::Clip& c = plan_->clips[p.clip];
    return !c.cut || (p.pts >= c.in && p.pts < c.out);
  }

 private:
  std::shared_ptr<ContainerPlan> plan_;
  ContainerCodec codec_;
  uint32_t num_, den_;
  bool kept_;  // a playlist's titles are opened from the disc's own information instead
  std::shared_ptr<Layout> layout_;
  std::shared_ptr<const DiscTitle> title_;
};

ContainerCodec CodecOfType(uint8_t type) {
  switch (type) {
    case kStreamHevc:
      return ContainerCodec::kHevc;
    case kStreamMpeg2:
      return ContainerCodec::kMpeg2;
    case kStreamVc1:
      return ContainerCodec::kVc1;
    default:
      return ContainerCodec::kH264;
  }
}

// The base view's (or only) stream of a transport stream and, for stereo H.264, its dependent view.
struct TsViews {
  int base = -1, dependent = -1;
  uint8_t type = 0;
};

bool FindTsViews(const std::string& path, bool stereo, TsViews& views) {
  const std::optional<ProgramTables> tables =
      ReadTables(path, [](const ProgramTables& t) { return t.FirstVideo() != nullptr; });
  if (!tables) return false;
  if (const ProgramStream* video = tables->FirstVideo()) {
    views.base = video->pid;
    views.type = video->type;
  }
  if (const ProgramStream* mvc = tables->Find(kStreamMvc); mvc && stereo && views.type == kStreamH264)
    views.dependent = mvc->pid;
  return true;
}

bool FindTsDependent(const std::string& path, int& pid) {
  const std::optional<ProgramTables> tables =
      ReadTables(path, [](const ProgramTables& t) { return t.Find(kStreamMvc) != nullptr; });
  if (!tables) return false;
  const ProgramStream* mvc = tables->Find(kStreamMvc);
  pid = mvc ? mvc->pid : -1;
  return true;
}

// From the base view's first PES timestamps, read straight from the packets: no demuxer to open.
void TsRate(const ContainerPlan::Clip& clip, uint32_t& num, uint32_t& den) {
  std::vector<int64_t> pts;
  ReadPackets(clip.path[0], [&](const uint8_t* block, size_t n, int size) {
    for (size_t at = 0; at + size <= n && pts.size() < size_t{kRatePackets}; at += static_cast<size_t>(size)) {
      int64_t t = 0;
      if (PesStartTimestamp(block + at + (size - 188), static_cast<uint16_t>(clip.id[0]), t)) pts.push_back(t);
    }
    return pts.size() >= size_t{kRatePackets};
  });
  RateFromTimestamps(pts, 90000, num, den);
}

ContainerOpen OpenTransportStreams(const std::string& avc, const std::string& mvc,
                                   std::unique_ptr<ContainerInput>& input, const char** message) {
  auto plan = std::make_shared<ContainerPlan>();
  ContainerPlan::Clip clip;
  clip.path[0] = avc;
  TsViews views;
  if (!FindTsViews(avc, mvc.empty(), views)) {
    *message = kContainerUnreadableMessage;
    return ContainerOpen::kFailed;
  }
  if (views.base < 0) {
    *message = kNoVideoMessage;
    return ContainerOpen::kFailed;
  }
  clip.id[0] = views.base;
  clip.id[1] = views.dependent;
  if (!mvc.empty()) {
    // The two clips of a 3D title: the dependent view is the second file's.
    if (!OpenFile(mvc)) {
      *message = kOpenMvcMessage;
      return ContainerOpen::kFailed;
    }
    int pid = -1;
    if (views.type != kStreamH264 || !FindTsDependent(mvc, pid) || pid < 0) {
      *message = kNoVideoMessage;
      return ContainerOpen::kFailed;
    }
    clip.path[1] = mvc;
    clip.id[1] = pid;
  }
  plan->clips.push_back(clip);
  uint32_t num = 0, den = 0;
  TsRate(clip, num, den);
  plan->constants.assign(kStandIn, kStandIn + sizeof kStandIn);
  input = std::make_unique<Container>(std::move(plan), CodecOfType(views.type), num, den);
  return ContainerOpen::kOpened;
}

// The picture size a clip's first SPS gives (width and height in macroblocks, cropping, frame
// coding), packed for comparing; 0 when none is found in its first blocks.
uint64_t PictureSize(const std::string& path, int pid) {
  constexpr size_t kSearchBytes = size_t{1} << 20;
  std::vector<uint8_t> payload;
  uint64_t size = 0;
  ReadPackets(path, [&](const uint8_t* block, size_t n, int packet) {
    for (size_t at = 0; at + packet <= n && payload.size() < kSearchBytes; at += static_cast<size_t>(packet)) {
      const uint8_t* data = nullptr;
      size_t bytes = 0;
      if (PacketPayload(block + at + (packet - 188), static_cast<uint16_t>(pid), &data, &bytes))
        payload.insert(payload.end(), data, data + bytes);
    }
    for (size_t s = h264::FindStartCode(payload.data(), payload.size(), 0); s + 3 < payload.size() && size == 0;
         s = h264::FindStartCode(payload.data(), payload.size(), s + 3)) {
      if ((payload[s + 3] & 0x1F) != h264::kNalSps) continue;
      const size_t end = h264::FindStartCode(payload.data(), payload.size(), s + 3);
      if (end >= payload.size()) break;  // the SPS may go on in the next block
      h264::Sps sps;
      if (h264::ParseSpsNal(payload.data() + s + 3, end - s - 3, sps))
        size = uint64_t{sps.widthMbs} << 48 | uint64_t{sps.heightMapUnits & 0xFFFF} << 32 |
               uint64_t{(sps.cropLeft + sps.cropRight) & 0x7FFF} << 17 | uint64_t{(sps.cropTop + sps.cropBottom) & 0xFFFF} << 1 |
               (sps.frameMbsOnly ? 1 : 0);
    }
    return size != 0 || payload.size() >= kSearchBytes;
  });
  return size;
}

// The latest presentation time of a PID's pictures near an M2TS file's end.
int64_t LastTimestamp(const std::string& path, uint64_t size, int pid) {
  constexpr uint64_t kTailBytes = uint64_t{192} << 14;  // 3 MB of whole source packets
  const FilePtr f = OpenFile(path);
  const uint64_t from = size > kTailBytes ? (size - kTailBytes) / 192 * 192 : 0;
  if (!f || !SeekFile(f.get(), from)) return kNoTimestamp;
  std::vector<uint8_t> tail(static_cast<size_t>(size - from));
  tail.resize(std::fread(tail.data(), 1, tail.size(), f.get()));
  int64_t last = kNoTimestamp;
  for (size_t at = 0; at + 192 <= tail.size(); at += 192) {
    int64_t pts = 0;
    if (PesStartTimestamp(tail.data() + at + 4, static_cast<uint16_t>(pid), pts)) last = std::max(last, pts);
  }
  return last;
}

bool ReadClipInfo(const std::string& path, ClipInfo& info) {
  const FilePtr f = OpenFile(path);
  if (!f) return false;
  std::vector<uint8_t> bytes(kPlaylistBytes);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f.get()));
  return ParseClipInfo(bytes.data(), bytes.size(), info);
}

ContainerOpen OpenPlaylist(const std::string& path, std::unique_ptr<ContainerInput>& input, const char** message) {
  std::vector<uint8_t> bytes(kPlaylistBytes);
  const FilePtr f = OpenFile(path);
  const size_t n = f ? std::fread(bytes.data(), 1, bytes.size(), f.get()) : 0;
  PlaylistClips clips;
  if (!ParsePlaylist(bytes.data(), n, clips)) {
    *message = kContainerUnreadableMessage;
    return ContainerOpen::kFailed;
  }
  // BDMV/PLAYLIST/x.mpls -> BDMV/STREAM/
  const std::string stream = Parent(path) + "/../STREAM/";
  auto clipFile = [&](const std::string& dir, const std::string& name, const char* ext, const char* upper) {
    const std::string lower = dir + name + ext;
    if (IsRegularFile(lower)) return lower;
    const std::string other = dir + name + upper;
    return IsRegularFile(other) ? other : std::string();
  };
  // Each file is probed once, however many items play it: a seamless-branching title reuses a
  // few clips in many items.
  struct Probed {
    bool read = false;
    TsViews views;
    int dependentPid = -1;
  };
  std::map<std::string, Probed> probed;
  auto views = [&](const std::string& file) -> const Probed& {
    auto [it, fresh] = probed.try_emplace(file);
    if (fresh) it->second.read = FindTsViews(file, true, it->second.views);
    return it->second;
  };
  auto dependentPid = [&](const std::string& file) {
    auto [it, fresh] = probed.try_emplace(file);
    if (fresh) it->second.read = FindTsDependent(file, it->second.dependentPid);
    return it->second.read ? it->second.dependentPid : -1;
  };

  auto plan = std::make_shared<ContainerPlan>();
  uint8_t type = 0;
  for (size_t i = 0; i < clips.base.size(); ++i) {
    ContainerPlan::Clip clip;
    const std::string ssif = clipFile(stream + "SSIF/", clips.base[i], ".ssif", ".SSIF");
    const std::string base = clipFile(stream, clips.base[i], ".m2ts", ".M2TS");
    const std::string dependent =
        i < clips.dependent.size() ? clipFile(stream, clips.dependent[i], ".m2ts", ".M2TS") : std::string();
    TsViews found;
    // Both views' extents interleaved, read as one transport stream; when the SSIF is missing or
    // unreadable, the base and dependent clips it was made of.
    const Probed* interleaved = ssif.empty() ? nullptr : &views(ssif);
    if (interleaved && interleaved->read && interleaved->views.base >= 0) {
      clip.path[0] = ssif;
      found = interleaved->views;
    } else if (!base.empty()) {
      const Probed& b = views(base);
      if (!b.read) {
        *message = kContainerUnreadableMessage;
        return ContainerOpen::kFailed;
      }
      clip.path[0] = base;
      found = b.views;
      if (found.dependent < 0 && !dependent.empty() && found.type == kStreamH264) {
        const int pid = dependentPid(dependent);
        if (pid >= 0) {
          clip.path[1] = dependent;
          found.dependent = pid;
        }
      }
    } else {
      *message = interleaved ? kContainerUnreadableMessage : kClipMissingMessage;
      return ContainerOpen::kFailed;
    }
    if (found.base < 0) {
      *message = kNoVideoMessage;
      return ContainerOpen::kFailed;
    }
    if (i == 0) type = found.type;
    if (found.type != type) continue;  // a clip of another codec can't follow on in one decoder
    clip.id[0] = found.base;
    clip.id[1] = found.dependent;
    clip.cut = true;
    clip.in = int64_t{clips.times[i].in} * 2;
    clip.out = int64_t{clips.times[i].out} * 2;
    plan->clips.push_back(clip);
  }
  // One decoder shows every clip: a clip of another picture size would be shown in a corner.
  if (type == kStreamH264) {
    std::map<std::pair<std::string, int>, uint64_t> sizes;
    for (const ContainerPlan::Clip& c : plan->clips) sizes.try_emplace({c.path[0], c.id[0]}, 0);
    if (sizes.size() > 1) {
      uint64_t first = 0;
      for (const ContainerPlan::Clip& c : plan->clips) {
        uint64_t& size = sizes[{c.path[0], c.id[0]}];
        if (size == 0) size = PictureSize(c.path[0], c.id[0]);
        if (size == 0) continue;
        if (first == 0) first = size;
        if (size != first) {
          *message = kClipSizeMessage;
          return ContainerOpen::kFailed;
        }
      }
    }
  }
  uint32_t num = 0, den = 0;
  TsRate(plan->clips.front(), num, den);
  plan->constants.assign(kStandIn, kStandIn + sizeof kStandIn);
  auto container = std::make_unique<Container>(plan, CodecOfType(type), num, den, false);

  // The disc's clip information, when it describes every item: the title opens without its
  // streams being read, from each item's two M2TS clips.
  std::map<std::string, std::unique_ptr<ClipInfo>> infos;
  auto infoOf = [&](const std::string& name) -> const ClipInfo* {
    auto [it, fresh] = infos.try_emplace(name);
    if (fresh) {
      const std::string dir = Parent(path) + "/../CLIPINF/";
      auto info = std::make_unique<ClipInfo>();
      if (ReadClipInfo(dir + name + ".clpi", *info) || ReadClipInfo(dir + name + ".CLPI", *info)) it->second = std::move(info);
    }
    return it->second.get();
  };
  std::map<std::string, int64_t> lastPts;
  std::vector<TitleClip> items;
  bool described = type == kStreamH264 && clips.dependent.size() == clips.base.size();
  for (size_t i = 0; i < clips.base.size() && described; ++i) {
    TitleClip c;
    c.path[0] = clipFile(stream, clips.base[i], ".m2ts", ".M2TS");
    c.path[1] = clipFile(stream, clips.dependent[i], ".m2ts", ".M2TS");
    if (c.path[0].empty() || c.path[1].empty()) {
      described = false;
      break;
    }
    const Probed& b = views(c.path[0]);
    c.id[0] = b.read && b.views.type == kStreamH264 ? b.views.base : -1;
    c.id[1] = dependentPid(c.path[1]);
    c.in = int64_t{clips.times[i].in} * 2;
    c.out = int64_t{clips.times[i].out} * 2;
    c.info[0] = infoOf(clips.base[i]);
    c.info[1] = infoOf(clips.dependent[i]);
    for (int v = 0; v < 2; ++v) c.size[v] = FileSize(c.path[v]);
    auto [last, fresh] = lastPts.try_emplace(c.path[0], kNoTimestamp);
    if (fresh && c.id[0] >= 0) last->second = LastTimestamp(c.path[0], c.size[0], c.id[0]);
    c.lastPts = last->second;
    described = c.id[0] >= 0 && c.id[1] >= 0 && c.info[0] && c.lastPts != kNoTimestamp;
    items.push_back(std::move(c));
  }
  if (described) {
    uint32_t titleNum = num, titleDen = den;
    for (const ClipVideo& v : items.front().info[0]->video)
      if (v.pid == items.front().id[0]) {
        const ClipFrameRate rate = FrameRateOfCode(v.rate);
        if (rate.num != 0 && rate.den != 0) {
          titleNum = rate.num;
          titleDen = rate.den;
        }
      }
    container->SetTitle(DescribeTitle(items, titleNum, titleDen));
  }
  input = std::move(container);
  return ContainerOpen::kOpened;
}

ContainerOpen OpenMatroska(const std::string& path, std::unique_ptr<ContainerInput>& input, const char** message) {
  Demuxer d;
  if (!d.Open(path, "matroska")) {
    *message = kContainerUnreadableMessage;
    return ContainerOpen::kFailed;
  }
  AVFormatContext* ctx = d.Context();
  // The first H.264 track (stereo or not), else the first HEVC or MPEG-2 one.
  const AVStream* chosen = nullptr;
  for (AVCodecID wanted : {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_MPEG2VIDEO}) {
    for (unsigned i = 0; i < ctx->nb_streams && !chosen; ++i) {
      const AVStream* st = ctx->streams[i];
      if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && st->codecpar->codec_id == wanted) chosen = st;
    }
    if (chosen) break;
  }
  if (!chosen) {
    *message = kNoVideoMessage;
    return ContainerOpen::kFailed;
  }
  const AVCodecID codecId = chosen->codecpar->codec_id;
  const ContainerCodec codec = codecId == AV_CODEC_ID_HEVC         ? ContainerCodec::kHevc
                               : codecId == AV_CODEC_ID_MPEG2VIDEO ? ContainerCodec::kMpeg2
                                                                   : ContainerCodec::kH264;
  auto plan = std::make_shared<ContainerPlan>();
  plan->matroska = true;
  plan->constants.assign(kStandIn, kStandIn + sizeof kStandIn);
  plan->headerAt = plan->constants.size();
  const AVCodecParameters* par = chosen->codecpar;
  if (par->extradata && par->extradata_size > 0)
    ParameterSetsFromRecord(par->extradata, static_cast<size_t>(par->extradata_size), codec == ContainerCodec::kHevc,
                            plan->constants, plan->lengthSize);
  plan->headerSize = plan->constants.size() - plan->headerAt;
  ContainerPlan::Clip clip;
  clip.path[0] = path;
  clip.id[0] = chosen->id;
  plan->clips.push_back(clip);

  uint32_t num = 0, den = 0;
  AVRational rate = chosen->avg_frame_rate.num > 0 && chosen->avg_frame_rate.den > 0 ? chosen->avg_frame_rate
                                                                                     : chosen->r_frame_rate;
  if (rate.num > 0 && rate.den > 0) {
    num = static_cast<uint32_t>(rate.num);
    den = static_cast<uint32_t>(rate.den);
  } else if (chosen->time_base.num == 1 && chosen->time_base.den > 0) {
    d.Want({chosen->id});
    std::vector<int64_t> pts;
    RawPacket p;
    while (static_cast<int>(pts.size()) < kRatePackets && d.Next(p)) pts.push_back(p.pts);
    RateFromTimestamps(pts, chosen->time_base.den, num, den);
  }
  input = std::make_unique<Container>(std::move(plan), codec, num, den);
  return ContainerOpen::kOpened;
}

}  // namespace

ContainerOpen OpenContainer(const std::string& sourceAVC, const std::string& sourceMVC,
                            std::unique_ptr<ContainerInput>& input, const char** message) {
  input.reset();
  InputForm form = InputForm::kElementary;
  if (!ReadInputForm(sourceAVC, form)) return ContainerOpen::kNotContainer;
  switch (form) {
    case InputForm::kElementary:
      return ContainerOpen::kNotContainer;
    case InputForm::kTransportStream:
      return OpenTransportStreams(sourceAVC, sourceMVC, input, message);
    case InputForm::kPlaylist:
      if (!sourceMVC.empty()) break;
      return OpenPlaylist(sourceAVC, input, message);
    case InputForm::kMatroska:
      if (!sourceMVC.empty()) break;
      return OpenMatroska(sourceAVC, input, message);
  }
  *message = kNoVideoMessage;
  return ContainerOpen::kFailed;
}

}  // namespace korvala
