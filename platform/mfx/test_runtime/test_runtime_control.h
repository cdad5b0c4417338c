// Control of the scriptable Media SDK test runtime (libmfx-gen.so.1.2).
//
// A test calls mfxtest::Load() before its first MFXInit, programs the runtime with Play(), then
// drives the real code through the real dispatcher and reads the call record back:
//
//   mfxtest::Control& rt = mfxtest::Load();
//   mfxtest::Program p;
//   p.software = mfxtest::RuntimeKind::Opening(19);
//   p.headers[MFX_CODEC_AVC] = mfxtest::HeaderAnswer::Found(mfxtest::Nv12(640, 480));
//   p.decode = {mfxtest::Step::Picture(0, 7)};
//   rt.Play(p);
//   ... MFXInit(MFX_IMPL_SOFTWARE, ...), DecodeHeader, QueryIOSurf, Init, DecodeFrameAsync ...
//   for (const mfxtest::Call& c : rt.Calls()) ...
//
// A test that runs a program as a child process programs it through the environment instead
// (see ChildEnvironment()). Targets using this header call korvala_use_test_runtime(target).
#pragma once

#include <mfxvideo.h>

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace mfxtest {

enum class Via { Any, D3D11 };

// One implementation kind (hardware or software) of the runtime.
struct RuntimeKind {
  bool present = false;
  mfxU16 maxMinor = 0;  // opens API 1.0 up to 1.maxMinor, refuses higher minors
  int adapter = 1;      // hardware: 1..4, answered by MFXQueryIMPL as HARDWARE, HARDWARE2..4
  Via via = Via::Any;   // hardware: D3D11 opens only when MFX_IMPL_VIA_D3D11 is asked for

  static RuntimeKind Opening(mfxU16 maxMinor, int adapter = 1, Via via = Via::Any) {
    RuntimeKind k;
    k.present = true;
    k.maxMinor = maxMinor;
    k.adapter = adapter;
    k.via = via;
    return k;
  }
};

// Frame parameters of a header: coded size rounded up to 16, crop = the size given.
inline mfxFrameInfo FrameInfo(mfxU32 fourcc, mfxU16 width, mfxU16 height, mfxU32 rateN = 25, mfxU32 rateD = 1) {
  mfxFrameInfo info{};
  info.FourCC = fourcc;
  info.Width = static_cast<mfxU16>((width + 15) & ~15);
  info.Height = static_cast<mfxU16>((height + 15) & ~15);
  info.CropW = width;
  info.CropH = height;
  info.FrameRateExtN = rateN;
  info.FrameRateExtD = rateD;
  info.ChromaFormat = MFX_CHROMAFORMAT_YUV420;
  info.PicStruct = MFX_PICSTRUCT_PROGRESSIVE;
  info.AspectRatioW = 1;
  info.AspectRatioH = 1;
  const bool p010 = fourcc == MFX_FOURCC_P010;
  info.BitDepthLuma = info.BitDepthChroma = p010 ? 10 : 8;
  info.Shift = p010 ? 1 : 0;
  return info;
}
inline mfxFrameInfo Nv12(mfxU16 w, mfxU16 h, mfxU32 n = 25, mfxU32 d = 1) { return FrameInfo(MFX_FOURCC_NV12, w, h, n, d); }
inline mfxFrameInfo P010(mfxU16 w, mfxU16 h, mfxU32 n = 25, mfxU32 d = 1) { return FrameInfo(MFX_FOURCC_P010, w, h, n, d); }

// DecodeHeader for one CodecId: MFX_ERR_MORE_DATA (consuming all input) until at least minBytes
// arrived in total on the session, then `status`. A non-negative status fills mfx.FrameInfo
// with `info` and leaves the bitstream where the header starts. With an mfxExtMVCSeqDesc
// attached the counts are set, and while its arrays are too small the answer is
// MFX_ERR_NOT_ENOUGH_BUFFER (FrameInfo filled too); with arrays large enough they are filled.
struct HeaderAnswer {
  mfxU32 minBytes = 1;
  mfxStatus status = MFX_ERR_NONE;
  mfxFrameInfo info{};
  mfxU32 numView = 2;
  mfxU32 numViewId = 2;
  mfxU32 numOP = 1;
  std::vector<mfxU16> viewIds{0, 1};  // reported in the description's arrays

  static HeaderAnswer Found(const mfxFrameInfo& info, mfxU32 minBytes = 1) {
    HeaderAnswer a;
    a.info = info;
    a.minBytes = minBytes;
    return a;
  }
  static HeaderAnswer Failing(mfxStatus status, mfxU32 minBytes = 1) {
    HeaderAnswer a;
    a.status = status;
    a.minBytes = minBytes;
    return a;
  }
};

// QueryIOSurf. Info defaults to the FrameInfo of the parameters passed in (what the header
// filled); fourcc, when non-zero, replaces its FourCC.
struct IOSurfAnswer {
  mfxStatus status = MFX_ERR_NONE;
  mfxU16 numFrameSuggested = 4;
  mfxU16 numFrameMin = 2;
  mfxU32 fourcc = 0;
  bool useInfo = false;
  mfxFrameInfo info{};
};

enum class StepKind { Picture, Status, MoreSurface };

// One DecodeFrameAsync answer.
struct Step {
  StepKind kind = StepKind::Status;
  mfxStatus status = MFX_ERR_MORE_DATA;
  mfxU16 viewId = 0;
  mfxU32 tag = 0;
  mfxU32 consume = 0;     // bytes taken from the input (at most what was given)
  unsigned lockCalls = 0; // MoreSurface: later calls during which the work surface stays locked
  bool keepInput = false; // MFX_ERR_MORE_DATA taking nothing

  // A decoded picture in the work surface, handed back as the output with a sync point.
  static Step Picture(mfxU16 viewId, mfxU32 tag, mfxU32 consume = 0) {
    Step s;
    s.kind = StepKind::Picture;
    s.status = MFX_ERR_NONE;
    s.viewId = viewId;
    s.tag = tag;
    s.consume = consume;
    return s;
  }
  // Any status; MFX_ERR_MORE_DATA consumes all input whatever `consume` says.
  static Step Status(mfxStatus status, mfxU32 consume = 0) {
    Step s;
    s.status = status;
    s.consume = consume;
    return s;
  }
  // Asks for more data without taking any: with a full bitstream, a decoder that is stuck.
  static Step Starved() {
    Step s;
    s.keepInput = true;
    return s;
  }
  static Step MoreSurface(unsigned lockCalls = 1, mfxU32 consume = 0) {
    Step s;
    s.kind = StepKind::MoreSurface;
    s.status = MFX_ERR_MORE_SURFACE;
    s.lockCalls = lockCalls;
    s.consume = consume;
    return s;
  }
};

// Decoding the real input: every access unit (opened by 00 00 00 01 09) yields a picture of
// view 0 tagged with the unit's index, then one of dependentViewId when the unit holds a NAL
// unit of type 20. A unit's pictures come out once the next unit's start arrived, or on drain;
// one picture per call.
struct AccessUnitMode {
  bool on = false;
  mfxU16 dependentViewId = 1;
};

struct Program {
  RuntimeKind hardware;  // absent: refused
  RuntimeKind software;  // absent: refused
  // By CodecId. A codec not listed never finds a header: MFX_ERR_MORE_DATA, consuming all.
  std::map<mfxU32, HeaderAnswer> headers;
  IOSurfAnswer ioSurf;
  mfxStatus decodeInit = MFX_ERR_NONE;
  mfxStatus decodeQuery = MFX_ERR_NONE;
  mfxStatus encodeQuery = MFX_ERR_NONE;
  // Used in order across all sessions. Once `decode` is used up: MFX_ERR_MORE_DATA, consuming
  // all input. `drain` answers calls without a bitstream; once used up: MFX_ERR_MORE_DATA.
  std::vector<Step> decode;
  std::vector<Step> drain;
  bool repeatLast = false;  // once `decode` is used up, its last step answers every later call
  AccessUnitMode accessUnits;
  unsigned outputLockCalls = 0;  // later calls during which an output surface stays locked
  std::vector<mfxStatus> sync;   // SyncOperation results in order; then MFX_ERR_NONE
};

// One entry-point call as the runtime saw it. Fields that do not apply stay zero.
struct Call {
  std::string function;
  mfxStatus status = MFX_ERR_NONE;
  std::uintptr_t session = 0;  // the runtime's own session, 0 when none was valid
  mfxIMPL impl = 0;            // MFXInitEx: asked; MFXQueryIMPL: answered
  mfxU16 major = 0, minor = 0; // MFXInitEx: asked; MFXQueryVersion: answered
  mfxU32 codecId = 0;          // from the parameters passed
  mfxU16 numExtParam = 0;
  std::vector<mfxU32> bufferIds;
  bool bitstream = false;      // DecodeHeader/DecodeFrameAsync: input given (false: drain)
  mfxU32 bytesOffered = 0;
  mfxU32 bytesConsumed = 0;
  const mfxFrameSurface1* work = nullptr;
  int workIndex = -1;          // in the array given to SetSurfaces, else -1
  const mfxFrameSurface1* out = nullptr;
  int outIndex = -1;
  mfxU16 outViewId = 0;
  mfxU32 outTag = 0;
  mfxSyncPoint sync = nullptr;
  mfxU32 wait = 0;
  std::string directory;       // MFXInitEx: the process's current directory then
};

class Control {
 public:
  // Replaces the program; restarts every script and clears the record and the violations.
  virtual void Play(const Program& program) = 0;
  // Plays the program that the settings text (the KORVALA_TEST_RUNTIME syntax) describes.
  // False, with the reason in *error, when the text is malformed; nothing is played then.
  virtual bool PlaySettings(const std::string& settings, std::string* error) = 0;
  virtual std::vector<Call> Calls() const = 0;
  virtual void ClearCalls() = 0;
  // Caller faults the runtime noticed (a locked work surface, an unusable surface layout, an
  // unknown sync point, a description buffer too small, decoding before Init...).
  virtual std::vector<std::string> Violations() const = 0;
  // Lets the record name surfaces by their index in the caller's array.
  virtual void SetSurfaces(mfxFrameSurface1* const* surfaces, std::size_t count) = 0;
  virtual std::size_t OpenSessions() const = 0;

 protected:
  ~Control() = default;
};

// The deterministic picture content: a hash of (tag, view, plane, x, y). Plane 0 is luma,
// 1 is U and 2 is V, with x and y in that plane's own samples.
inline mfxU32 PatternHash(mfxU32 tag, mfxU32 view, mfxU32 plane, mfxU32 x, mfxU32 y) {
  mfxU32 h = tag * 0x9E3779B1u ^ (view + 1) * 0x85EBCA6Bu ^ (plane + 1) * 0x27D4EB2Fu;
  h ^= x * 0xC2B2AE35u;
  h = (h ^ (h >> 15)) * 0x2C1B3C6Du;
  h ^= y * 0x165667B1u;
  h = (h ^ (h >> 12)) * 0x297A2D39u;
  return h ^ (h >> 15);
}
inline mfxU8 Luma8(mfxU32 tag, mfxU32 view, mfxU32 x, mfxU32 y) {
  return static_cast<mfxU8>(PatternHash(tag, view, 0, x, y));
}
inline mfxU8 Chroma8(mfxU32 tag, mfxU32 view, mfxU32 plane, mfxU32 x, mfxU32 y) {
  return static_cast<mfxU8>(PatternHash(tag, view, plane, x, y));
}
// 10-bit sample values; P010 stores them shifted into the high bits of each word (value << 6).
inline mfxU16 Luma10(mfxU32 tag, mfxU32 view, mfxU32 x, mfxU32 y) {
  return static_cast<mfxU16>(PatternHash(tag, view, 0, x, y) & 0x3FF);
}
inline mfxU16 Chroma10(mfxU32 tag, mfxU32 view, mfxU32 plane, mfxU32 x, mfxU32 y) {
  return static_cast<mfxU16>(PatternHash(tag, view, plane, x, y) & 0x3FF);
}

// The symbol the runtime exports; returns its one Control.
inline constexpr const char* kControlSymbol = "korvala_test_runtime_control";

#if defined(KORVALA_TEST_RUNTIME_PATH)
// Loads the test runtime by its full path ahead of the dispatcher, which then reuses it when it
// asks for "libmfx-gen.so.1.2" by that soname. Also pins the dispatcher to that runtime name
// (INTEL_MEDIA_RUNTIME=ONEVPL), so an Intel GPU of an older platform cannot divert it to a
// real runtime.
inline Control& Load() {
  static Control* control = [] {
    setenv("INTEL_MEDIA_RUNTIME", "ONEVPL", 1);
    void* lib = dlopen(KORVALA_TEST_RUNTIME_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      std::fprintf(stderr, "mfxtest: cannot load %s: %s\n", KORVALA_TEST_RUNTIME_PATH, dlerror());
      std::abort();
    }
    auto get = reinterpret_cast<Control* (*)()>(dlsym(lib, kControlSymbol));
    if (!get) {
      std::fprintf(stderr, "mfxtest: %s lacks %s\n", KORVALA_TEST_RUNTIME_PATH, kControlSymbol);
      std::abort();
    }
    return get();
  }();
  return *control;
}
#endif

#if defined(KORVALA_TEST_RUNTIME_DIR)
// "NAME=value" entries to add to a child process's environment so that it finds the test
// runtime and plays `settings` (e.g. "hw=none;sw=25;decquery=0;encquery=-3").
inline std::vector<std::string> ChildEnvironment(const std::string& settings) {
  return {std::string("LD_LIBRARY_PATH=") + KORVALA_TEST_RUNTIME_DIR, "KORVALA_TEST_RUNTIME=" + settings,
          "INTEL_MEDIA_RUNTIME=ONEVPL"};
}
#endif

}  // namespace mfxtest
