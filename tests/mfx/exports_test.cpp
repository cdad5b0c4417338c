// The runtime library as the dispatcher sees it before any session: what it exports, and how
// its entry points answer calls that no back end should see. Called directly (dlsym), not
// through the dispatcher, so the core's own checks are what answers.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <mfxvideo.h>
// These need mfxvideo.h first.
#include <mfxenc.h>
#include <mfxpak.h>
#include <mfxplugin.h>

#include <fstream>
#include <string>
#include <vector>

#include "mfx_test_util.h"
#include "test_runtime_control.h"

namespace {

void* Runtime() {
  static void* lib = dlopen(KORVALA_TEST_RUNTIME_PATH, RTLD_NOW | RTLD_LOCAL);
  return lib;
}

template <class F>
F* Entry(const char* name) {
  return reinterpret_cast<F*>(dlsym(Runtime(), name));
}

std::vector<std::string> EntryPointNames() {
  std::ifstream in(KORVALA_MFX_ENTRY_POINTS);
  std::vector<std::string> names;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.push_back(line);
  return names;
}

TEST(RuntimeExports, AllSixtyTwoEntryPointsAndTheControlResolve) {
  ASSERT_NE(Runtime(), nullptr) << dlerror();
  const auto names = EntryPointNames();
  ASSERT_EQ(names.size(), 62u);
  for (const auto& n : names) EXPECT_NE(dlsym(Runtime(), n.c_str()), nullptr) << n;
  EXPECT_NE(dlsym(Runtime(), mfxtest::kControlSymbol), nullptr);
}

TEST(RuntimeExports, NothingElseLeavesTheLibrary) {
  ASSERT_NE(Runtime(), nullptr);
  // The back end, the session registry and the C++ runtime's inline code stay inside; an
  // export of these would let the dispatcher's process bind to them.
  for (const char* hidden : {"_ZN5mfxrt10TheBackendEv", "_ZN5mfxrt11FindSessionEP12_mfxSession",
                             "_ZN5mfxrt10SyncPoints5IssueEP16mfxFrameSurface1", "MFXCloneSession",
                             "MFXVideoUSER_Load"})
    EXPECT_EQ(dlsym(Runtime(), hidden), nullptr) << hidden;
}

class RuntimeCore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Runtime(), nullptr);
    rt_ = reinterpret_cast<mfxtest::Control* (*)()>(dlsym(Runtime(), mfxtest::kControlSymbol))();
    mfxtest::Program p;
    p.software = mfxtest::RuntimeKind::Opening(20);
    p.headers[MFX_CODEC_AVC] = mfxtest::HeaderAnswer::Found(mfxtest::Nv12(64, 64));
    rt_->Play(p);
  }

  mfxSession Open() {
    mfxInitParam par{};
    par.Implementation = MFX_IMPL_SOFTWARE;
    par.Version.Major = 1;
    mfxSession s = nullptr;
    EXPECT_EQ(Entry<decltype(MFXInitEx)>("MFXInitEx")(par, &s), MFX_ERR_NONE);
    return s;
  }

  mfxtest::Control* rt_ = nullptr;
};

TEST_F(RuntimeCore, NullSessionIsRefusedEverywhereAndCloseIsHarmless) {
  mfxIMPL impl = 0;
  mfxVideoParam par{};
  mfxFrameAllocRequest req{};
  EXPECT_EQ(Entry<decltype(MFXClose)>("MFXClose")(nullptr), MFX_ERR_INVALID_HANDLE);
  EXPECT_EQ(Entry<decltype(MFXQueryIMPL)>("MFXQueryIMPL")(nullptr, &impl), MFX_ERR_INVALID_HANDLE);
  EXPECT_EQ(Entry<decltype(MFXVideoDECODE_Init)>("MFXVideoDECODE_Init")(nullptr, &par), MFX_ERR_INVALID_HANDLE);
  EXPECT_EQ(Entry<decltype(MFXVideoDECODE_QueryIOSurf)>("MFXVideoDECODE_QueryIOSurf")(nullptr, &par, &req),
            MFX_ERR_INVALID_HANDLE);
  EXPECT_EQ(Entry<decltype(MFXVideoCORE_SyncOperation)>("MFXVideoCORE_SyncOperation")(nullptr, nullptr, 0),
            MFX_ERR_INVALID_HANDLE);
  EXPECT_EQ(Entry<decltype(MFXVideoVPP_Close)>("MFXVideoVPP_Close")(nullptr), MFX_ERR_INVALID_HANDLE);
  // Even refused calls are on the record.
  auto calls = rt_->Calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[0].function, "MFXClose");
  EXPECT_EQ(calls[0].session, 0u);
  EXPECT_EQ(calls[0].status, MFX_ERR_INVALID_HANDLE);
}

TEST_F(RuntimeCore, ClosedOrForeignHandlesAreNotDereferenced) {
  mfxSession s = Open();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(rt_->OpenSessions(), 1u);
  EXPECT_EQ(Entry<decltype(MFXClose)>("MFXClose")(s), MFX_ERR_NONE);
  EXPECT_EQ(rt_->OpenSessions(), 0u);
  mfxIMPL impl = 0;
  EXPECT_EQ(Entry<decltype(MFXClose)>("MFXClose")(s), MFX_ERR_INVALID_HANDLE);
  EXPECT_EQ(Entry<decltype(MFXQueryIMPL)>("MFXQueryIMPL")(s, &impl), MFX_ERR_INVALID_HANDLE);
  int notASession[64] = {};
  EXPECT_EQ(Entry<decltype(MFXQueryIMPL)>("MFXQueryIMPL")(reinterpret_cast<mfxSession>(notASession), &impl),
            MFX_ERR_INVALID_HANDLE);
}

TEST_F(RuntimeCore, NullArgumentsAreRefusedBeforeTheBackEnd) {
  mfxSession s = Open();
  ASSERT_NE(s, nullptr);
  mfxVideoParam par{};
  par.mfx.CodecId = MFX_CODEC_AVC;
  mfxFrameSurface1 surface{};
  mfxFrameSurface1* out = nullptr;
  mfxSyncPoint sync = nullptr;
  mfxBitstream bs{};
  EXPECT_EQ(Entry<decltype(MFXInitEx)>("MFXInitEx")(mfxInitParam{}, nullptr), MFX_ERR_NULL_PTR);
  EXPECT_EQ(Entry<decltype(MFXQueryVersion)>("MFXQueryVersion")(s, nullptr), MFX_ERR_NULL_PTR);
  auto header = Entry<decltype(MFXVideoDECODE_DecodeHeader)>("MFXVideoDECODE_DecodeHeader");
  EXPECT_EQ(header(s, nullptr, &par), MFX_ERR_NULL_PTR);
  EXPECT_EQ(header(s, &bs, nullptr), MFX_ERR_NULL_PTR);
  auto decode = Entry<decltype(MFXVideoDECODE_DecodeFrameAsync)>("MFXVideoDECODE_DecodeFrameAsync");
  EXPECT_EQ(decode(s, &bs, nullptr, &out, &sync), MFX_ERR_NULL_PTR);
  EXPECT_EQ(decode(s, &bs, &surface, nullptr, &sync), MFX_ERR_NULL_PTR);
  EXPECT_EQ(decode(s, &bs, &surface, &out, nullptr), MFX_ERR_NULL_PTR);
  EXPECT_EQ(Entry<decltype(MFXVideoCORE_SyncOperation)>("MFXVideoCORE_SyncOperation")(s, nullptr, 1000),
            MFX_ERR_NULL_PTR);
  EXPECT_EQ(Entry<decltype(MFXVideoDECODE_Query)>("MFXVideoDECODE_Query")(s, &par, nullptr), MFX_ERR_NULL_PTR);
  EXPECT_TRUE(rt_->Violations().empty());
  Entry<decltype(MFXClose)>("MFXClose")(s);
}

TEST_F(RuntimeCore, BitstreamOverrunningItsBufferIsRefusedUntouched) {
  mfxSession s = Open();
  ASSERT_NE(s, nullptr);
  mfxVideoParam par{};
  par.mfx.CodecId = MFX_CODEC_AVC;
  std::vector<mfxU8> data(100);
  mfxBitstream bs{};
  bs.Data = data.data();
  bs.MaxLength = 100;
  bs.DataOffset = 60;
  bs.DataLength = 41;
  auto header = Entry<decltype(MFXVideoDECODE_DecodeHeader)>("MFXVideoDECODE_DecodeHeader");
  EXPECT_EQ(header(s, &bs, &par), MFX_ERR_UNDEFINED_BEHAVIOR);
  EXPECT_EQ(bs.DataOffset, 60u);
  EXPECT_EQ(bs.DataLength, 41u);
  EXPECT_EQ(par.mfx.FrameInfo.Width, 0);  // the back end never saw it

  bs.DataOffset = 0xFFFFFFF0u;  // offset + length wraps in 32 bits
  bs.DataLength = 0x20;
  EXPECT_EQ(header(s, &bs, &par), MFX_ERR_UNDEFINED_BEHAVIOR);

  mfxBitstream noData{};
  noData.MaxLength = 10;
  noData.DataLength = 5;
  EXPECT_EQ(header(s, &noData, &par), MFX_ERR_UNDEFINED_BEHAVIOR);

  bs.DataOffset = 59;  // exactly up to MaxLength is fine
  EXPECT_EQ(header(s, &bs, &par), MFX_ERR_NONE);
  EXPECT_EQ(par.mfx.FrameInfo.Width, 64);
  Entry<decltype(MFXClose)>("MFXClose")(s);
}

TEST_F(RuntimeCore, UnimplementedComponentsAnswerUnsupportedAndTheirClosesSucceed) {
  mfxSession s = Open();
  ASSERT_NE(s, nullptr);
  mfxVideoParam par{};
  EXPECT_EQ(Entry<decltype(MFXVideoVPP_Init)>("MFXVideoVPP_Init")(s, &par), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(Entry<decltype(MFXVideoENCODE_Init)>("MFXVideoENCODE_Init")(s, &par), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(Entry<decltype(MFXJoinSession)>("MFXJoinSession")(s, s), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(Entry<decltype(MFXVideoUSER_Register)>("MFXVideoUSER_Register")(s, 0, nullptr), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(Entry<decltype(MFXVideoCORE_QueryPlatform)>("MFXVideoCORE_QueryPlatform")(s, nullptr),
            MFX_ERR_NULL_PTR);
  EXPECT_EQ(Entry<decltype(MFXVideoENCODE_Close)>("MFXVideoENCODE_Close")(s), MFX_ERR_NONE);
  EXPECT_EQ(Entry<decltype(MFXVideoVPP_Close)>("MFXVideoVPP_Close")(s), MFX_ERR_NONE);
  EXPECT_EQ(Entry<decltype(MFXVideoENC_Close)>("MFXVideoENC_Close")(s), MFX_ERR_NONE);
  EXPECT_EQ(Entry<decltype(MFXVideoPAK_Close)>("MFXVideoPAK_Close")(s), MFX_ERR_NONE);
  Entry<decltype(MFXClose)>("MFXClose")(s);
}

}  // namespace
