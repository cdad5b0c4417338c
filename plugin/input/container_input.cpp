// Container input through libavformat: which files and streams hold the video, and the streams
// laid out from them.
#include "container_input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "container_probe.h"
#include "container_streams.h"
#include "disc_title.h"
#include "file_io.h"
#include "nal_framing.h"
#include "title_index.h"

namespace korvala {

namespace {

constexpr int kRatePackets = 48;
const char* const kOpenMvcMessage = "Korvala: Can't open Source File MVC";  // as for elementary files

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

}  // namespace

const uint8_t kStandInUnit[ContainerPlan::kStandInSize] = {0, 0, 0, 1, 0x18};

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

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
    const size_t at = PieceAt(layout_->pieces[0], offset);
    if (at == SIZE_MAX) return true;
    const Piece& p = layout_->pieces[0][at];
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

}  // namespace

std::unique_ptr<ContainerInput> MakeContainer(std::shared_ptr<ContainerPlan> plan, ContainerCodec codec, uint32_t num,
                                              uint32_t den, bool kept, std::shared_ptr<const DiscTitle> title) {
  auto container = std::make_unique<Container>(std::move(plan), codec, num, den, kept);
  container->SetTitle(std::move(title));
  return container;
}

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

void TsRate(const std::string& path, int pid, uint32_t& num, uint32_t& den) {
  std::vector<int64_t> pts;
  ReadPackets(path, [&](const uint8_t* block, size_t n, int size) {
    for (size_t at = 0; at + size <= n && pts.size() < size_t{kRatePackets}; at += static_cast<size_t>(size)) {
      int64_t t = 0;
      if (PesStartTimestamp(block + at + (size - 188), static_cast<uint16_t>(pid), t)) pts.push_back(t);
    }
    return pts.size() >= size_t{kRatePackets};
  });
  RateFromTimestamps(pts, 90000, num, den);
}

namespace {

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
  TsRate(clip.path[0], clip.id[0], num, den);
  plan->constants.assign(kStandInUnit, kStandInUnit + sizeof kStandInUnit);
  input = MakeContainer(std::move(plan), CodecOfType(views.type), num, den, true, nullptr);
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
  plan->constants.assign(kStandInUnit, kStandInUnit + sizeof kStandInUnit);
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
  input = MakeContainer(std::move(plan), codec, num, den, true, nullptr);
  return ContainerOpen::kOpened;
}

}  // namespace

ContainerOpen OpenContainer(InputForm form, const std::string& sourceAVC, const std::string& sourceMVC,
                            std::unique_ptr<ContainerInput>& input, const char** message) {
  input.reset();
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
