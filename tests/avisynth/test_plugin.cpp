// A plugin for the host harness tests. It registers:
//   TestSource: a clip of synthetic frames, able to misbehave on request (writes past a row or
//               past the luma plane, asking for a write pointer while holding a second reference),
//               answering the thread-mode query as asked and raising an error when entered by two
//               threads at once;
//   Report:     always fails, with a message telling what arrived in each argument;
//   Required:   two unnamed parameters.
// It builds against whichever avisynth.h the plugin build uses.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "avisynth.h"

#define TEST_PLUGIN_EXPORT __attribute__((visibility("default")))

__attribute__((visibility("hidden"))) const AVS_Linkage* AVS_linkage = nullptr;

namespace {

int g_liveClips = 0;  // TestSource clips alive in this plugin

// The value each test frame holds at (x, y) of plane p.
int Sample(int n, int x, int y, int planeIndex) { return n * 3 + x + 2 * y + planeIndex * 50; }

class TestSource : public IClip {
 public:
  TestSource(const VideoInfo& vi, int overrun, int tail, bool shared, int mtMode)
      : vi_(vi), overrun_(overrun), tail_(tail), shared_(shared), mtMode_(mtMode) {
    ++g_liveClips;
  }
  ~TestSource() override { --g_liveClips; }

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override {
    struct Entry {
      std::atomic<int>& callers;
      ~Entry() { --callers; }
    } entry{callers_};
    if (++callers_ > 1) env->ThrowError("TestSource: entered by two threads at once");
    std::this_thread::sleep_for(std::chrono::microseconds(100));  // time for another thread to come
    if (n < 0 || n >= vi_.num_frames) env->ThrowError("TestSource: frame %d is outside [0, %d)", n, vi_.num_frames);
    PVideoFrame frame = env->NewVideoFrame(vi_);
    if (shared_) {
      const PVideoFrame second = frame;
      if (second->GetWritePtr(PLANAR_Y)) env->ThrowError("TestSource: frame %d was writable while shared", n);
      env->ThrowError("TestSource: frame %d is not writable while shared", n);
    }
    const int planes[3] = {PLANAR_Y, PLANAR_U, PLANAR_V};
    const int bits = vi_.pixel_type == VideoInfo::CS_YV12 ? 8 : vi_.pixel_type == VideoInfo::CS_YUV420P10 ? 10 : 16;
    for (int i = 0; i < 3; ++i) {
      BYTE* dst = frame->GetWritePtr(planes[i]);
      const int pitch = frame->GetPitch(planes[i]);
      const int rowSize = frame->GetRowSize(planes[i]);
      const int height = frame->GetHeight(planes[i]);
      if (bits == 8) {
        // Rows made here, copied by the host's BitBlt.
        std::vector<BYTE> rows(size_t(rowSize) * height);
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < rowSize; ++x) rows[size_t(y) * rowSize + x] = BYTE(Sample(n, x, y, i));
        env->BitBlt(dst, pitch, rows.data(), rowSize, rowSize, height);
      } else {
        for (int y = 0; y < height; ++y) {
          for (int x = 0; x < rowSize / 2; ++x) {
            const uint16_t v = uint16_t(Sample(n, x, y, i) & ((1 << bits) - 1));
            std::memcpy(dst + size_t(y) * pitch + 2 * x, &v, 2);
          }
        }
      }
    }
    BYTE* y = frame->GetWritePtr(PLANAR_Y);
    const int pitch = frame->GetPitch(PLANAR_Y);
    const int rowSize = frame->GetRowSize(PLANAR_Y);
    const int height = frame->GetHeight(PLANAR_Y);
    for (int row = 0; row < height && overrun_ > 0; ++row) std::memset(y + size_t(row) * pitch + rowSize, 0x77, size_t(overrun_));
    if (tail_ > 0) std::memset(y + size_t(pitch) * height, 0x77, size_t(tail_));
    return frame;
  }

  bool __stdcall GetParity(int n) override { return (n & 1) != 0; }
  void __stdcall GetAudio(void*, int64_t, int64_t, IScriptEnvironment*) override {}
  int __stdcall SetCacheHints(int cachehints, int) override { return cachehints == CACHE_GET_MTMODE ? mtMode_ : 0; }
  const VideoInfo& __stdcall GetVideoInfo() override { return vi_; }

 private:
  VideoInfo vi_;
  int overrun_;
  int tail_;
  bool shared_;
  int mtMode_;
  std::atomic<int> callers_{0};
};

AVSValue __cdecl CreateTestSource(AVSValue args, void*, IScriptEnvironment* env) {
  const int bits = args[3].AsInt(8);
  if (bits != 8 && bits != 10 && bits != 16) env->ThrowError("TestSource: bits must be 8, 10 or 16, not %d", bits);
  VideoInfo vi;
  std::memset(&vi, 0, sizeof vi);
  vi.width = args[0].AsInt(64);
  vi.height = args[1].AsInt(48);
  vi.num_frames = args[2].AsInt(10);
  vi.fps_numerator = 25;
  vi.fps_denominator = 1;
  vi.pixel_type = bits == 8 ? VideoInfo::CS_YV12 : bits == 10 ? VideoInfo::CS_YUV420P10 : VideoInfo::CS_YUV420P16;
  return AVSValue(new TestSource(vi, args[4].AsInt(0), args[5].AsInt(0), args[6].AsBool(false), args[7].AsInt(MT_SERIALIZED)));
}

AVSValue __cdecl Report(AVSValue args, void*, IScriptEnvironment* env) {
  char text[64], count[16], scale[32];
  std::snprintf(text, sizeof text, "%s", args[0].IsString() ? args[0].AsString() : "undef");
  std::snprintf(count, sizeof count, "undef");
  if (args[1].IsInt()) std::snprintf(count, sizeof count, "%d", args[1].AsInt());
  std::snprintf(scale, sizeof scale, "undef");
  if (args[2].IsFloat()) std::snprintf(scale, sizeof scale, "%g", args[2].AsFloat());
  const char* flag = args[3].IsBool() ? (args[3].AsBool() ? "true" : "false") : "undef";
  env->ThrowError("text=%s count=%s scale=%s flag=%s beyond=%s size=%d dtext=%s dcount=%d live=%d cpu=0x%X",
                  text, count, scale, flag, args[4].Defined() ? "defined" : "undef", args.ArraySize(),
                  args[0].AsString("none"), args[1].AsInt(-1), g_liveClips, unsigned(env->GetCPUFlags()));
  return AVSValue();
}

AVSValue __cdecl Required(AVSValue args, void*, IScriptEnvironment* env) {
  env->ThrowError("Required: %s %d", args[0].AsString(), args[1].AsInt());
  return AVSValue();
}

}  // namespace

extern "C" TEST_PLUGIN_EXPORT const char* __stdcall AvisynthPluginInit3(IScriptEnvironment* env,
                                                                        const AVS_Linkage* const vectors) {
  AVS_linkage = vectors;
  env->AddFunction("TestSource", "[width]i[height]i[frames]i[bits]i[overrun]i[tail]i[shared]b[mtmode]i", CreateTestSource, nullptr);
  env->AddFunction("Report", "[text]s[count]i[scale]f[flag]b", Report, nullptr);
  env->AddFunction("Required", "si", Required, nullptr);
  return "avshost test plugin";
}
