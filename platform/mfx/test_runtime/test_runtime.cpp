// The scriptable runtime: a back end that plays a Program, records every call and notes the
// caller's faults. One mutex guards everything; no call blocks while holding it.
#include "mfx_runtime.h"

#include <mfxmvc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <deque>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "access_units.h"
#include "settings.h"
#include "test_runtime_control.h"

namespace mfxtest {
namespace {

using mfxrt::Session;

enum class Kind { Hardware, Software };

struct Picture {
  mfxU16 viewId;
  mfxU32 tag;
};

struct TestSession : Session::State {
  Kind kind = Kind::Software;
  std::map<mfxU32, std::uint64_t> headerBytes;  // consumed by DecodeHeader, per CodecId
  bool decoderReady = false;
  mfxVideoParam decodeParam{};
  // Surfaces the decoder keeps locked, with the number of later calls left.
  std::vector<std::pair<mfxFrameSurface1*, unsigned>> holds;
  AccessUnitSplitter splitter;
  std::deque<Picture> pictures;  // access-unit mode: decoded, not yet handed out
  mfxU32 frameOrder = 0;
};

mfxIMPL AdapterImpl(int adapter) {
  switch (adapter) {
    case 2: return MFX_IMPL_HARDWARE2;
    case 3: return MFX_IMPL_HARDWARE3;
    case 4: return MFX_IMPL_HARDWARE4;
    default: return MFX_IMPL_HARDWARE;
  }
}

void Consume(mfxBitstream* bs, mfxU32 bytes) {
  if (!bs) return;
  bytes = std::min(bytes, bs->DataLength);
  bs->DataOffset += bytes;
  bs->DataLength -= bytes;
}

// Copies the parameters without the caller's extension buffers, which stay the destination's.
void CopyParam(mfxVideoParam* to, const mfxVideoParam& from) {
  mfxExtBuffer** ext = to->ExtParam;
  mfxU16 numExt = to->NumExtParam;
  *to = from;
  to->ExtParam = ext;
  to->NumExtParam = numExt;
}

class TestRuntime final : public mfxrt::Backend, public Control {
 public:
  TestRuntime() {
    const char* env = std::getenv("KORVALA_TEST_RUNTIME");
    if (!env) return;
    std::string error;
    if (!ParseSettings(env, &program_, &error)) {
      std::fprintf(stderr, "test runtime: KORVALA_TEST_RUNTIME ignored (%s); no runtime present\n", error.c_str());
      program_ = Program();
    }
  }

  // Control

  void Play(const Program& program) override {
    std::lock_guard<std::mutex> lock(mutex_);
    program_ = program;
    decodePos_ = drainPos_ = syncPos_ = 0;
    calls_.clear();
    violations_.clear();
  }

  bool PlaySettings(const std::string& settings, std::string* error) override {
    Program p;
    std::string why;
    if (!ParseSettings(settings, &p, &why)) {
      if (error) *error = why;
      return false;
    }
    Play(p);
    return true;
  }

  std::vector<Call> Calls() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

  void ClearCalls() override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }

  std::vector<std::string> Violations() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
  }

  void SetSurfaces(mfxFrameSurface1* const* surfaces, std::size_t count) override {
    std::lock_guard<std::mutex> lock(mutex_);
    surfaces_.assign(surfaces, surfaces + count);
  }

  std::size_t OpenSessions() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return openSessions_;
  }

  // Backend: sessions

  mfxStatus InitEx(const mfxInitParam& par, Session& s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const mfxIMPL base = MFX_IMPL_BASETYPE(par.Implementation);
    const mfxIMPL via = par.Implementation & 0x0F00;
    mfxVersion asked = par.Version;
    if (asked.Major == 0 && asked.Minor == 0) asked.Major = 1;  // no version: the lowest

    auto versionFits = [&](const RuntimeKind& k) { return asked.Major == 1 && asked.Minor <= k.maxMinor; };
    auto openHardware = [&]() -> bool {
      const RuntimeKind& hw = program_.hardware;
      if (!hw.present || !versionFits(hw)) return false;
      if (base != MFX_IMPL_HARDWARE_ANY && base != MFX_IMPL_AUTO && base != MFX_IMPL_AUTO_ANY &&
          base != AdapterImpl(hw.adapter))
        return false;
      if (hw.via == Via::D3D11 && via != MFX_IMPL_VIA_D3D11) return false;
      mfxIMPL reported = AdapterImpl(hw.adapter);
      if (hw.via == Via::D3D11)
        reported |= MFX_IMPL_VIA_D3D11;
      else if (via != MFX_IMPL_VIA_ANY)
        reported |= via;
      Open(s, Kind::Hardware, reported, hw.maxMinor);
      return true;
    };
    auto openSoftware = [&]() -> bool {
      const RuntimeKind& sw = program_.software;
      if (!sw.present || !versionFits(sw)) return false;
      if (base != MFX_IMPL_SOFTWARE && base != MFX_IMPL_AUTO && base != MFX_IMPL_AUTO_ANY) return false;
      Open(s, Kind::Software, MFX_IMPL_SOFTWARE, sw.maxMinor);
      return true;
    };
    return openHardware() || openSoftware() ? MFX_ERR_NONE : MFX_ERR_UNSUPPORTED;
  }

  void Close(Session& s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    // The caller may already have freed its surfaces: the holds are dropped, not touched.
    s.state.reset();
    --openSessions_;
  }

  mfxStatus DecodeQuery(Session&, mfxVideoParam* in, mfxVideoParam* out) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return AnswerQuery(program_.decodeQuery, in, out);
  }

  mfxStatus EncodeQuery(Session&, mfxVideoParam* in, mfxVideoParam* out) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return AnswerQuery(program_.encodeQuery, in, out);
  }

  // Backend: decoder set-up

  mfxStatus DecodeHeader(Session& s, mfxBitstream* bs, mfxVideoParam* par) override {
    std::lock_guard<std::mutex> lock(mutex_);
    TestSession& st = s.StateAs<TestSession>();
    const mfxU32 codec = par->mfx.CodecId;
    auto it = program_.headers.find(codec);
    std::uint64_t& counted = st.headerBytes[codec];
    if (it == program_.headers.end() || counted + bs->DataLength < it->second.minBytes) {
      counted += bs->DataLength;
      Consume(bs, bs->DataLength);
      return MFX_ERR_MORE_DATA;
    }
    const HeaderAnswer& answer = it->second;
    if (answer.status < MFX_ERR_NONE) return answer.status;

    mfxExtMVCSeqDesc* desc = nullptr;
    mfxStatus found = FindSeqDesc(*par, &desc);
    if (found != MFX_ERR_NONE) return found;
    par->mfx.FrameInfo = answer.info;
    if (desc) {
      desc->NumView = answer.numView;
      desc->NumViewId = answer.numViewId;
      desc->NumOP = answer.numOP;
      if (!desc->View || desc->NumViewAlloc < answer.numView || !desc->ViewId ||
          desc->NumViewIdAlloc < answer.numViewId || !desc->OP || desc->NumOPAlloc < answer.numOP)
        return MFX_ERR_NOT_ENOUGH_BUFFER;
      FillSeqDesc(answer, desc);
    }
    return answer.status;
  }

  mfxStatus DecodeQueryIOSurf(Session&, mfxVideoParam* par, mfxFrameAllocRequest* request) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const IOSurfAnswer& a = program_.ioSurf;
    if (a.status < MFX_ERR_NONE) return a.status;
    *request = mfxFrameAllocRequest{};
    request->Info = a.useInfo ? a.info : par->mfx.FrameInfo;
    if (a.fourcc) request->Info.FourCC = a.fourcc;
    request->NumFrameMin = a.numFrameMin;
    request->NumFrameSuggested = a.numFrameSuggested;
    request->Type = MFX_MEMTYPE_FROM_DECODE | MFX_MEMTYPE_EXTERNAL_FRAME | MFX_MEMTYPE_SYSTEM_MEMORY;
    return a.status;
  }

  mfxStatus DecodeInit(Session& s, mfxVideoParam* par) override {
    std::lock_guard<std::mutex> lock(mutex_);
    TestSession& st = s.StateAs<TestSession>();
    if (st.decoderReady) {
      Violation("DecodeInit on a decoder already initialised");
      return MFX_ERR_UNDEFINED_BEHAVIOR;
    }
    if (program_.decodeInit < MFX_ERR_NONE) return program_.decodeInit;
    st.decoderReady = true;
    st.decodeParam = *par;
    st.decodeParam.ExtParam = nullptr;
    st.decodeParam.NumExtParam = 0;
    return program_.decodeInit;
  }

  mfxStatus DecodeClose(Session& s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    TestSession& st = s.StateAs<TestSession>();
    if (!st.decoderReady) return MFX_ERR_NOT_INITIALIZED;
    // A closing decoder lets go of every surface it kept.
    for (auto& hold : st.holds)
      if (hold.first->Data.Locked) --hold.first->Data.Locked;
    st.holds.clear();
    st.pictures.clear();
    st.splitter = AccessUnitSplitter();
    st.decoderReady = false;
    s.Sync().Clear();
    return MFX_ERR_NONE;
  }

  mfxStatus DecodeGetVideoParam(Session& s, mfxVideoParam* par) override {
    std::lock_guard<std::mutex> lock(mutex_);
    TestSession& st = s.StateAs<TestSession>();
    if (!st.decoderReady) return MFX_ERR_NOT_INITIALIZED;
    CopyParam(par, st.decodeParam);
    return MFX_ERR_NONE;
  }

  // Backend: decoding

  mfxStatus DecodeFrameAsync(Session& s, mfxBitstream* bs, mfxFrameSurface1* work, mfxFrameSurface1** out,
                             mfxSyncPoint* sync) override {
    std::lock_guard<std::mutex> lock(mutex_);
    TestSession& st = s.StateAs<TestSession>();
    if (!st.decoderReady) {
      Violation("DecodeFrameAsync before a successful DecodeInit");
      return MFX_ERR_NOT_INITIALIZED;
    }
    mfxStatus status;
    if (work->Data.Locked) {
      Violation("DecodeFrameAsync given a locked work surface");
      status = MFX_ERR_MORE_SURFACE;
    } else {
      status = program_.accessUnits.on ? DecodeAccessUnits(s, st, bs, work, out, sync)
                                       : DecodeScripted(s, st, bs, work, out, sync);
    }
    AgeHolds(st);
    if (*out && program_.outputLockCalls) Hold(st, *out, program_.outputLockCalls);
    if (pendingHold_.first) {
      Hold(st, pendingHold_.first, pendingHold_.second);
      pendingHold_ = {nullptr, 0};
    }
    return status;
  }

  mfxStatus SyncOperation(Session& s, mfxSyncPoint sync, mfxU32) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!s.Sync().Find(sync)) {
      Violation("SyncOperation on a sync point that is not pending");
      return MFX_ERR_NULL_PTR;
    }
    mfxStatus result = syncPos_ < program_.sync.size() ? program_.sync[syncPos_++] : MFX_ERR_NONE;
    if (result == MFX_ERR_NONE) s.Sync().Retire(sync);
    return result;
  }

  // Backend: the record

  void OnCall(const mfxrt::CallEvent& ev) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Call c;
    c.function = ev.function;
    c.status = ev.status;
    c.session = reinterpret_cast<std::uintptr_t>(ev.session ? ev.session : nullptr);
    if (!ev.session && std::strcmp(ev.function, "MFXClose") == 0 && ev.status == MFX_ERR_NONE)
      c.session = reinterpret_cast<std::uintptr_t>(ev.handle);  // closed: name what it was
    c.impl = ev.impl;
    c.major = ev.version.Major;
    c.minor = ev.version.Minor;
    if (ev.param) {
      c.codecId = ev.param->mfx.CodecId;
      c.numExtParam = ev.param->NumExtParam;
      if (ev.param->ExtParam)
        for (mfxU16 i = 0; i < ev.param->NumExtParam; ++i)
          c.bufferIds.push_back(ev.param->ExtParam[i] ? ev.param->ExtParam[i]->BufferId : 0);
    }
    c.bitstream = ev.hasBitstream;
    c.bytesOffered = ev.bytesOffered;
    c.bytesConsumed = ev.bytesConsumed;
    c.work = ev.work;
    c.workIndex = IndexOf(ev.work);
    c.out = ev.out;
    c.outIndex = IndexOf(ev.out);
    if (ev.out) {
      c.outViewId = ev.out->Info.FrameId.ViewId;
      auto tag = tags_.find(ev.out);
      if (tag != tags_.end()) c.outTag = tag->second;
    }
    c.sync = ev.sync;
    c.wait = ev.wait;
    if (c.function == "MFXInitEx") {
      char cwd[4096];
      if (getcwd(cwd, sizeof cwd)) c.directory = cwd;
    }
    if (calls_.size() < kMaxCalls) calls_.push_back(std::move(c));
  }

 private:
  static constexpr std::size_t kMaxCalls = 1u << 20;

  void Open(Session& s, Kind kind, mfxIMPL impl, mfxU16 maxMinor) {
    auto st = std::make_unique<TestSession>();
    st->kind = kind;
    s.state = std::move(st);
    s.impl = impl;
    s.version.Major = 1;
    s.version.Minor = maxMinor;
    ++openSessions_;
  }

  void Violation(const std::string& what) {
    if (violations_.size() < 1000) violations_.push_back(what);
  }

  int IndexOf(const mfxFrameSurface1* s) const {
    if (!s) return -1;
    for (std::size_t i = 0; i < surfaces_.size(); ++i)
      if (surfaces_[i] == s) return static_cast<int>(i);
    return -1;
  }

  static mfxStatus AnswerQuery(mfxStatus status, mfxVideoParam* in, mfxVideoParam* out) {
    if (status >= MFX_ERR_NONE && in && in != out) CopyParam(out, *in);
    return status;
  }

  mfxStatus FindSeqDesc(const mfxVideoParam& par, mfxExtMVCSeqDesc** desc) {
    if (par.NumExtParam == 0) return MFX_ERR_NONE;
    if (!par.ExtParam) {
      Violation("DecodeHeader: NumExtParam without ExtParam");
      return MFX_ERR_NULL_PTR;
    }
    for (mfxU16 i = 0; i < par.NumExtParam; ++i) {
      mfxExtBuffer* b = par.ExtParam[i];
      if (!b) {
        Violation("DecodeHeader: null extension buffer");
        return MFX_ERR_NULL_PTR;
      }
      if (b->BufferId != MFX_EXTBUFF_MVC_SEQ_DESC) continue;
      if (b->BufferSz < sizeof(mfxExtMVCSeqDesc)) {
        Violation("DecodeHeader: mfxExtMVCSeqDesc with BufferSz " + std::to_string(b->BufferSz));
        return MFX_ERR_INVALID_VIDEO_PARAM;
      }
      *desc = reinterpret_cast<mfxExtMVCSeqDesc*>(b);
    }
    return MFX_ERR_NONE;
  }

  static void FillSeqDesc(const HeaderAnswer& a, mfxExtMVCSeqDesc* desc) {
    auto viewId = [&](mfxU32 i) { return i < a.viewIds.size() ? a.viewIds[i] : static_cast<mfxU16>(i); };
    for (mfxU32 i = 0; i < a.numView; ++i) {
      desc->View[i] = mfxMVCViewDependency{};
      desc->View[i].ViewId = viewId(i);
    }
    for (mfxU32 i = 0; i < a.numViewId; ++i) desc->ViewId[i] = viewId(i);
    for (mfxU32 i = 0; i < a.numOP; ++i) {
      desc->OP[i] = mfxMVCOperationPoint{};
      desc->OP[i].NumViews = static_cast<mfxU16>(a.numViewId);
      desc->OP[i].NumTargetViews = static_cast<mfxU16>(a.numViewId);
      desc->OP[i].TargetViewId = desc->ViewId;
    }
  }

  mfxStatus DecodeScripted(Session& s, TestSession& st, mfxBitstream* bs, mfxFrameSurface1* work,
                           mfxFrameSurface1** out, mfxSyncPoint* sync) {
    const std::vector<Step>& script = bs ? program_.decode : program_.drain;
    std::size_t& pos = bs ? decodePos_ : drainPos_;
    const bool repeat = bs && program_.repeatLast && !script.empty();
    const Step step = pos < script.size() ? script[pos++] : repeat ? script.back() : Step::Status(MFX_ERR_MORE_DATA);
    switch (step.kind) {
      case StepKind::Picture:
        Consume(bs, step.consume);
        return Deliver(s, st, work, {step.viewId, step.tag}, out, sync);
      case StepKind::MoreSurface:
        Consume(bs, step.consume);
        if (step.lockCalls) pendingHold_ = {work, step.lockCalls};
        return MFX_ERR_MORE_SURFACE;
      case StepKind::Status:
        Consume(bs, step.status == MFX_ERR_MORE_DATA && bs && !step.keepInput ? bs->DataLength : step.consume);
        return step.status;
    }
    return MFX_ERR_UNKNOWN;
  }

  mfxStatus DecodeAccessUnits(Session& s, TestSession& st, mfxBitstream* bs, mfxFrameSurface1* work,
                              mfxFrameSurface1** out, mfxSyncPoint* sync) {
    if (st.pictures.empty()) {
      std::vector<AccessUnitSplitter::Unit> units;
      if (bs) {
        st.splitter.Append(bs->Data + bs->DataOffset, bs->DataLength, &units);
        Consume(bs, bs->DataLength);
      } else {
        st.splitter.Finish(&units);
      }
      for (const auto& u : units) {
        st.pictures.push_back({0, u.index});
        if (u.hasSliceExtension) st.pictures.push_back({program_.accessUnits.dependentViewId, u.index});
      }
    }
    if (st.pictures.empty()) return MFX_ERR_MORE_DATA;
    Picture p = st.pictures.front();
    mfxStatus status = Deliver(s, st, work, p, out, sync);
    if (status == MFX_ERR_NONE) st.pictures.pop_front();
    return status;
  }

  mfxStatus Deliver(Session& s, TestSession& st, mfxFrameSurface1* work, Picture p, mfxFrameSurface1** out,
                    mfxSyncPoint* sync) {
    if (!Fill(work, p)) return MFX_ERR_UNDEFINED_BEHAVIOR;
    work->Info.FrameId.ViewId = p.viewId;
    work->Data.FrameOrder = st.frameOrder++;
    tags_[work] = p.tag;
    *out = work;
    *sync = s.Sync().Issue(work);
    return MFX_ERR_NONE;
  }

  // Writes the pattern into the caller's layout; refuses a layout it cannot write safely.
  bool Fill(mfxFrameSurface1* surface, Picture p) {
    const mfxFrameInfo& info = surface->Info;
    const mfxFrameData& data = surface->Data;
    const std::size_t pitch = mfxrt::SurfacePitch(data);
    const std::size_t w = info.Width, h = info.Height;
    const bool p010 = info.FourCC == MFX_FOURCC_P010;
    if (info.FourCC != MFX_FOURCC_NV12 && !p010) {
      Violation("work surface FourCC is neither NV12 nor P010");
      return false;
    }
    const std::size_t bytes = p010 ? 2 : 1;
    if (!data.Y || !data.UV || pitch < w * bytes || w == 0 || h == 0) {
      Violation("work surface without usable planes (Data.Y, Data.UV, Pitch, Info.Width/Height)");
      return false;
    }
    for (std::size_t y = 0; y < h; ++y) {
      mfxU8* row = data.Y + y * pitch;
      for (std::size_t x = 0; x < w; ++x) {
        if (p010) {
          const mfxU16 v = static_cast<mfxU16>(Luma10(p.tag, p.viewId, x, y) << 6);
          std::memcpy(row + 2 * x, &v, 2);
        } else {
          row[x] = Luma8(p.tag, p.viewId, x, y);
        }
      }
    }
    for (std::size_t y = 0; y < h / 2; ++y) {
      mfxU8* row = data.UV + y * pitch;
      for (std::size_t x = 0; x < w / 2; ++x) {
        if (p010) {
          const mfxU16 u = static_cast<mfxU16>(Chroma10(p.tag, p.viewId, 1, x, y) << 6);
          const mfxU16 v = static_cast<mfxU16>(Chroma10(p.tag, p.viewId, 2, x, y) << 6);
          std::memcpy(row + 4 * x, &u, 2);
          std::memcpy(row + 4 * x + 2, &v, 2);
        } else {
          row[2 * x] = Chroma8(p.tag, p.viewId, 1, x, y);
          row[2 * x + 1] = Chroma8(p.tag, p.viewId, 2, x, y);
        }
      }
    }
    return true;
  }

  static void Hold(TestSession& st, mfxFrameSurface1* surface, unsigned calls) {
    ++surface->Data.Locked;
    st.holds.emplace_back(surface, calls);
  }

  // One more call went by: release the surfaces whose time is up.
  static void AgeHolds(TestSession& st) {
    for (auto it = st.holds.begin(); it != st.holds.end();) {
      if (--it->second == 0) {
        if (it->first->Data.Locked) --it->first->Data.Locked;
        it = st.holds.erase(it);
      } else {
        ++it;
      }
    }
  }

  mutable std::mutex mutex_;
  Program program_;
  std::size_t decodePos_ = 0, drainPos_ = 0, syncPos_ = 0;
  std::vector<Call> calls_;
  std::vector<std::string> violations_;
  std::vector<mfxFrameSurface1*> surfaces_;
  std::map<const mfxFrameSurface1*, mfxU32> tags_;
  std::pair<mfxFrameSurface1*, unsigned> pendingHold_{nullptr, 0};
  std::size_t openSessions_ = 0;
};

TestRuntime& Runtime() {
  static TestRuntime runtime;
  return runtime;
}

// The environment is read when the library loads, not at the first call.
[[maybe_unused]] const bool g_loaded = (Runtime(), true);

}  // namespace
}  // namespace mfxtest

mfxrt::Backend& mfxrt::TheBackend() { return mfxtest::Runtime(); }

extern "C" __attribute__((visibility("default"))) mfxtest::Control* korvala_test_runtime_control() {
  return &mfxtest::Runtime();
}
