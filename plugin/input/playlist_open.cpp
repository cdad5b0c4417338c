// A Blu-ray playlist opened as authored: its items' clips cut to their IN and OUT times, and,
// where the disc's clip information describes them, opened without reading the streams.
#include <algorithm>
#include <map>
#include <vector>

#include "clip_info.h"
#include "container_probe.h"
#include "index_cache.h"
#include "parameter_sets.h"
#include "playlist.h"

namespace korvala {

namespace {

constexpr size_t kDiscFileBytes = 1 << 20;  // more than a playlist or clip information file holds

bool ReadDiscFile(const std::string& path, std::vector<uint8_t>& bytes) {
  const FilePtr f = OpenFile(path);
  if (!f) return false;
  bytes.resize(kDiscFileBytes);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f.get()));
  return true;
}

// The picture size a clip's first SPS gives (width and height in macroblocks, cropping, frame
// coding), packed for comparing; 0 when none is found in its first payload bytes.
uint64_t PictureSize(const std::string& path, int pid) {
  constexpr size_t kSearchBytes = size_t{256} << 10;  // the first access units: their SPS
  std::vector<uint8_t> payload;
  ReadPackets(path, [&](const uint8_t* block, size_t n, int packet) {
    for (size_t at = 0; at + packet <= n && payload.size() < kSearchBytes; at += static_cast<size_t>(packet)) {
      const uint8_t* data = nullptr;
      size_t bytes = 0;
      if (PacketPayload(block + at + (packet - 188), static_cast<uint16_t>(pid), &data, &bytes))
        payload.insert(payload.end(), data, data + bytes);
    }
    return payload.size() >= kSearchBytes;
  });
  h264::Sps sps;
  if (!h264::FindSps(payload.data(), payload.size(), sps)) return 0;
  return uint64_t{sps.widthMbs & 0xFFFF} << 48 | uint64_t{sps.heightMapUnits & 0xFFFF} << 32 |
         uint64_t{(sps.cropLeft + sps.cropRight) & 0x7FFF} << 17 | uint64_t{(sps.cropTop + sps.cropBottom) & 0xFFFF} << 1 |
         (sps.frameMbsOnly ? 1 : 0);
}

// The latest presentation time of a PID's pictures near an M2TS file's end.
int64_t LastTimestamp(const std::string& path, uint64_t size, int pid) {
  constexpr uint64_t kTailBytes = uint64_t{192} << 13;  // 1.5 MB of whole source packets: the last few pictures
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

// The files of a disc's BDMV folder, each read or probed once however many items play it: a
// seamless-branching title reuses a few clips in many items.
class Disc {
 public:
  explicit Disc(const std::string& playlist) : bdmv_(ParentFolder(playlist) + "/../") {}

  std::string Clip(const std::string& name) const { return Find(bdmv_ + "STREAM/", name, ".m2ts", ".M2TS"); }
  std::string Ssif(const std::string& name) const { return Find(bdmv_ + "STREAM/SSIF/", name, ".ssif", ".SSIF"); }

  // The file's views; null when it is no transport stream.
  const TsViews* Views(const std::string& file) {
    auto [it, fresh] = views_.try_emplace(file);
    if (fresh) it->second.read = FindTsViews(file, true, it->second.views);
    return it->second.read ? &it->second.views : nullptr;
  }
  // A dependent view's clip's PID, -1 when it has none or can't be read.
  int DependentPid(const std::string& file) {
    auto [it, fresh] = dependents_.try_emplace(file, -1);
    if (fresh && !FindTsDependent(file, it->second)) it->second = -1;
    return it->second;
  }
  const ClipInfo* Info(const std::string& name) {
    auto [it, fresh] = infos_.try_emplace(name);
    if (fresh) {
      std::vector<uint8_t> bytes;
      auto info = std::make_unique<ClipInfo>();
      for (const char* ext : {".clpi", ".CLPI"})
        if (ReadDiscFile(bdmv_ + "CLIPINF/" + name + ext, bytes) && ParseClipInfo(bytes.data(), bytes.size(), *info)) {
          it->second = std::move(info);
          break;
        }
    }
    return it->second.get();
  }
  int64_t LastPts(const std::string& file, int pid) {
    auto [it, fresh] = last_.try_emplace(file, kNoTimestamp);
    if (fresh) it->second = LastTimestamp(file, FileSize(file), pid);
    return it->second;
  }

 private:
  static std::string Find(const std::string& dir, const std::string& name, const char* ext, const char* upper) {
    for (const std::string& path : {dir + name + ext, dir + name + upper})
      if (IsRegularFile(path)) return path;
    return std::string();
  }
  struct Probed {
    bool read = false;
    TsViews views;
  };

  std::string bdmv_;
  std::map<std::string, Probed> views_;
  std::map<std::string, int> dependents_;
  std::map<std::string, std::unique_ptr<ClipInfo>> infos_;
  std::map<std::string, int64_t> last_;
};

int64_t InTime(const PlaylistClips& clips, size_t i) { return int64_t{clips.times[i].in} * 2; }
int64_t OutTime(const PlaylistClips& clips, size_t i) { return int64_t{clips.times[i].out} * 2; }

// The title as its clip information describes it, over each item's base and dependent M2TS
// clips; null when some item has no such description.
std::shared_ptr<const DiscTitle> DescribeFromClipInfo(Disc& disc, const PlaylistClips& clips) {
  if (clips.dependent.size() != clips.base.size()) return nullptr;
  std::vector<TitleClip> items;
  for (size_t i = 0; i < clips.base.size(); ++i) {
    TitleClip c;
    c.path[0] = disc.Clip(clips.base[i]);
    c.path[1] = disc.Clip(clips.dependent[i]);
    if (c.path[0].empty() || c.path[1].empty()) return nullptr;
    // The small clip information files first: without them no stream is probed here.
    c.info[0] = disc.Info(clips.base[i]);
    if (!c.info[0]) return nullptr;
    c.info[1] = disc.Info(clips.dependent[i]);
    const TsViews* views = disc.Views(c.path[0]);
    if (!views || views->type != kStreamH264 || views->base < 0) return nullptr;
    c.id[0] = views->base;
    c.id[1] = disc.DependentPid(c.path[1]);
    if (c.id[1] < 0) return nullptr;
    c.in = InTime(clips, i);
    c.out = OutTime(clips, i);
    for (int v = 0; v < 2; ++v) c.size[v] = FileSize(c.path[v]);
    c.lastPts = disc.LastPts(c.path[0], c.id[0]);
    items.push_back(std::move(c));
  }
  ClipFrameRate rate;
  for (const ClipVideo& v : items.front().info[0]->video)
    if (v.pid == items.front().id[0]) rate = FrameRateOfCode(v.rate);
  return DescribeTitle(items, rate.num, rate.den);
}

// The items' clips from their streams: each SSIF, else (missing or unreadable) its base and
// dependent M2TS clips.
bool PlanFromStreams(Disc& disc, const PlaylistClips& clips, ContainerPlan& plan, uint8_t& type, const char** message) {
  for (size_t i = 0; i < clips.base.size(); ++i) {
    ContainerPlan::Clip clip;
    const std::string ssif = disc.Ssif(clips.base[i]);
    const std::string base = disc.Clip(clips.base[i]);
    const std::string dependent = i < clips.dependent.size() ? disc.Clip(clips.dependent[i]) : std::string();
    TsViews found;
    const TsViews* interleaved = ssif.empty() ? nullptr : disc.Views(ssif);
    if (interleaved && interleaved->base >= 0) {
      clip.path[0] = ssif;
      found = *interleaved;
    } else if (!base.empty()) {
      const TsViews* views = disc.Views(base);
      if (!views) {
        *message = kContainerUnreadableMessage;
        return false;
      }
      clip.path[0] = base;
      found = *views;
      if (found.dependent < 0 && !dependent.empty() && found.type == kStreamH264) {
        const int pid = disc.DependentPid(dependent);
        if (pid >= 0) {
          clip.path[1] = dependent;
          found.dependent = pid;
        }
      }
    } else {
      *message = ssif.empty() ? kClipMissingMessage : kContainerUnreadableMessage;
      return false;
    }
    if (found.base < 0) {
      *message = kNoVideoMessage;
      return false;
    }
    if (i == 0) type = found.type;
    if (found.type != type) continue;  // a clip of another codec can't follow on in one decoder
    clip.id[0] = found.base;
    clip.id[1] = found.dependent;
    clip.cut = true;
    clip.in = InTime(clips, i);
    clip.out = OutTime(clips, i);
    plan.clips.push_back(clip);
  }
  return true;
}

// One decoder shows every clip: a clip of another picture size would be shown in a corner.
bool OneSize(const ContainerPlan& plan) {
  std::map<std::pair<std::string, int>, uint64_t> sizes;
  for (const ContainerPlan::Clip& c : plan.clips) sizes.try_emplace({c.path[0], c.id[0]}, 0);
  if (sizes.size() < 2) return true;
  uint64_t first = 0;
  for (const ContainerPlan::Clip& c : plan.clips) {
    uint64_t& size = sizes[{c.path[0], c.id[0]}];
    if (size == 0) size = PictureSize(c.path[0], c.id[0]);
    if (size == 0) continue;
    if (first == 0) first = size;
    if (size != first) return false;
  }
  return true;
}

}  // namespace

ContainerOpen OpenPlaylist(const std::string& path, std::unique_ptr<ContainerInput>& input, const char** message) {
  std::vector<uint8_t> bytes;
  PlaylistClips clips;
  if (!ReadDiscFile(path, bytes) || !ParsePlaylist(bytes.data(), bytes.size(), clips)) {
    *message = kContainerUnreadableMessage;
    return ContainerOpen::kFailed;
  }
  Disc disc(path);
  auto plan = std::make_shared<ContainerPlan>();
  uint8_t type = kStreamH264;
  std::shared_ptr<const DiscTitle> title = DescribeFromClipInfo(disc, clips);
  if (title) {
    // Read from the items' M2TS clips: scanned only if a stretch turns out not to be as described.
    for (const TitleItem& item : title->items) {
      ContainerPlan::Clip clip;
      for (int v = 0; v < 2; ++v) {
        clip.path[v] = item.path[v];
        clip.id[v] = item.id[v];
      }
      clip.cut = true;
      clip.in = item.in;
      clip.out = item.out;
      plan->clips.push_back(clip);
    }
  } else if (!PlanFromStreams(disc, clips, *plan, type, message)) {
    return ContainerOpen::kFailed;
  }
  if (type == kStreamH264 && !OneSize(*plan)) {
    *message = kClipSizeMessage;
    return ContainerOpen::kFailed;
  }
  uint32_t num = title ? title->num : 0, den = title ? title->den : 0;
  if (!title) TsRate(plan->clips.front().path[0], plan->clips.front().id[0], num, den);
  plan->constants.assign(kStandInUnit, kStandInUnit + sizeof kStandInUnit);
  input = MakeContainer(std::move(plan), CodecOfType(type), num, den, false, std::move(title));
  return ContainerOpen::kOpened;
}

}  // namespace korvala
