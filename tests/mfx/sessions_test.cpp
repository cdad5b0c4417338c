// Sessions through the real dispatcher: which kinds and versions open, what MFXQueryIMPL
// reports, and what the dispatcher itself did on the way (the call record).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mfxplugin.h>
#include <mfxvideo++.h>
#include <mfxvideo.h>

#include "mfx_test_util.h"
#include "test_runtime_control.h"

namespace {

using mfxtest::Program;
using mfxtest::RuntimeKind;
using mfxtest::Via;
using mfxtest_util::Functions;
using ::testing::ElementsAre;

mfxVersion Version(mfxU16 minor) {
  mfxVersion v{};
  v.Major = 1;
  v.Minor = minor;
  return v;
}

// MFXInit and close; the status, plus what MFXQueryIMPL answered when it opened.
mfxStatus TryInit(mfxIMPL impl, mfxU16 minor, mfxIMPL* reported = nullptr) {
  mfxVersion v = Version(minor);
  mfxSession s = nullptr;
  mfxStatus st = MFXInit(impl, &v, &s);
  if (st == MFX_ERR_NONE) {
    mfxIMPL got = 0;
    EXPECT_EQ(MFXQueryIMPL(s, &got), MFX_ERR_NONE);
    if (reported) *reported = got;
    MFXClose(s);
  }
  return st;
}

class Sessions : public ::testing::Test {
 protected:
  void SetUp() override { rt_ = &mfxtest::Load(); }
  void Play(const Program& p) { rt_->Play(p); }
  mfxtest::Control* rt_ = nullptr;
};

TEST_F(Sessions, NoRuntimeRefusesEveryKindAndTheDispatcherClosesNull) {
  Play(Program());
  EXPECT_EQ(TryInit(MFX_IMPL_HARDWARE_ANY, 0), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(TryInit(MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11, 0), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(TryInit(MFX_IMPL_SOFTWARE, 0), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(TryInit(MFX_IMPL_AUTO_ANY, 3), MFX_ERR_UNSUPPORTED);
  auto calls = rt_->Calls();
  ASSERT_EQ(calls.size(), 8u);
  for (std::size_t i = 0; i < calls.size(); i += 2) {
    EXPECT_EQ(calls[i].function, "MFXInitEx");
    EXPECT_EQ(calls[i].status, MFX_ERR_UNSUPPORTED);
    EXPECT_EQ(calls[i + 1].function, "MFXClose");
    EXPECT_EQ(calls[i + 1].session, 0u);  // MFXClose(NULL)
  }
  // The implementation value reaches the runtime unchanged.
  EXPECT_EQ(calls[0].impl, static_cast<mfxIMPL>(MFX_IMPL_HARDWARE_ANY));
  EXPECT_EQ(calls[2].impl, static_cast<mfxIMPL>(MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11));
  EXPECT_EQ(calls[4].impl, static_cast<mfxIMPL>(MFX_IMPL_SOFTWARE));
  EXPECT_EQ(calls[6].impl, static_cast<mfxIMPL>(MFX_IMPL_AUTO_ANY));
  EXPECT_EQ(rt_->OpenSessions(), 0u);
}

TEST_F(Sessions, EachKindOpensUpToItsVersionAndNoHigher) {
  Program p;
  p.hardware = RuntimeKind::Opening(19);
  p.software = RuntimeKind::Opening(25);
  Play(p);
  struct Case {
    mfxIMPL impl;
    mfxU16 minor;
    mfxStatus expected;
  } cases[] = {
      {MFX_IMPL_HARDWARE_ANY, 0, MFX_ERR_NONE},  {MFX_IMPL_HARDWARE_ANY, 3, MFX_ERR_NONE},
      {MFX_IMPL_HARDWARE_ANY, 19, MFX_ERR_NONE}, {MFX_IMPL_HARDWARE_ANY, 20, MFX_ERR_UNSUPPORTED},
      {MFX_IMPL_SOFTWARE, 0, MFX_ERR_NONE},      {MFX_IMPL_SOFTWARE, 25, MFX_ERR_NONE},
      {MFX_IMPL_SOFTWARE, 26, MFX_ERR_UNSUPPORTED}, {MFX_IMPL_SOFTWARE, 200, MFX_ERR_UNSUPPORTED},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TryInit(c.impl, c.minor), c.expected) << "impl " << c.impl << " minor " << c.minor;
  EXPECT_EQ(rt_->OpenSessions(), 0u);
}

TEST_F(Sessions, KindsNotProgrammedAreRefused) {
  Program swOnly;
  swOnly.software = RuntimeKind::Opening(35);
  Play(swOnly);
  EXPECT_EQ(TryInit(MFX_IMPL_HARDWARE_ANY, 0), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(TryInit(MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11, 0), MFX_ERR_UNSUPPORTED);
  mfxIMPL impl = 0;
  EXPECT_EQ(TryInit(MFX_IMPL_SOFTWARE, 35, &impl), MFX_ERR_NONE);
  EXPECT_EQ(impl, static_cast<mfxIMPL>(MFX_IMPL_SOFTWARE));

  Program hwOnly;
  hwOnly.hardware = RuntimeKind::Opening(35);
  Play(hwOnly);
  EXPECT_EQ(TryInit(MFX_IMPL_SOFTWARE, 0), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(TryInit(MFX_IMPL_HARDWARE_ANY, 35, &impl), MFX_ERR_NONE);
  EXPECT_EQ(impl, static_cast<mfxIMPL>(MFX_IMPL_HARDWARE));
}

TEST_F(Sessions, D3D11OnlyHardwareOpensOnlyWhenAskedThroughD3D11) {
  Program p;
  p.hardware = RuntimeKind::Opening(20, 2, Via::D3D11);
  Play(p);
  EXPECT_EQ(TryInit(MFX_IMPL_HARDWARE_ANY, 3), MFX_ERR_UNSUPPORTED);
  mfxIMPL impl = 0;
  EXPECT_EQ(TryInit(MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11, 3, &impl), MFX_ERR_NONE);
  EXPECT_EQ(impl, static_cast<mfxIMPL>(MFX_IMPL_HARDWARE2 | MFX_IMPL_VIA_D3D11));
  EXPECT_EQ(TryInit(MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11, 21), MFX_ERR_UNSUPPORTED);
}

TEST_F(Sessions, AdapterIsReportedByTheBaseTypeOfQueryIMPL) {
  const mfxIMPL expected[] = {MFX_IMPL_HARDWARE, MFX_IMPL_HARDWARE2, MFX_IMPL_HARDWARE3, MFX_IMPL_HARDWARE4};
  for (int adapter = 1; adapter <= 4; ++adapter) {
    Program p;
    p.hardware = RuntimeKind::Opening(19, adapter);
    Play(p);
    mfxIMPL impl = 0;
    ASSERT_EQ(TryInit(MFX_IMPL_HARDWARE_ANY, 0, &impl), MFX_ERR_NONE) << adapter;
    EXPECT_EQ(MFX_IMPL_BASETYPE(impl), expected[adapter - 1]) << adapter;
    EXPECT_EQ(impl & 0x0F00, 0) << "no via bits unless asked";
    // Asking for that adapter by name opens it; another adapter's name does not.
    EXPECT_EQ(TryInit(expected[adapter - 1], 0), MFX_ERR_NONE) << adapter;
    EXPECT_EQ(TryInit(expected[adapter % 4], 0), MFX_ERR_UNSUPPORTED) << adapter;
  }
}

TEST_F(Sessions, RecordShowsTheDispatchersOwnCallsAroundASession) {
  Program p;
  p.hardware = RuntimeKind::Opening(19, 3);
  Play(p);
  mfxVersion v = Version(3);
  mfxSession s = nullptr;
  ASSERT_EQ(MFXInit(MFX_IMPL_HARDWARE_ANY, &v, &s), MFX_ERR_NONE);
  // The dispatcher checks the version and the implementation right after MFXInitEx.
  auto calls = rt_->Calls();
  EXPECT_THAT(Functions(calls), ElementsAre("MFXInitEx", "MFXQueryVersion", "MFXQueryIMPL"));
  EXPECT_EQ(calls[0].impl, static_cast<mfxIMPL>(MFX_IMPL_HARDWARE_ANY));
  EXPECT_EQ(calls[0].major, 1);
  EXPECT_EQ(calls[0].minor, 3);
  EXPECT_EQ(calls[1].minor, 19);  // the runtime's version, answered
  EXPECT_EQ(calls[2].impl, static_cast<mfxIMPL>(MFX_IMPL_HARDWARE3));
  const std::uintptr_t session = calls[0].session;
  EXPECT_NE(session, 0u);

  rt_->ClearCalls();
  mfxIMPL impl = 0;
  mfxVersion ver{};
  ASSERT_EQ(MFXQueryIMPL(s, &impl), MFX_ERR_NONE);
  ASSERT_EQ(MFXQueryVersion(s, &ver), MFX_ERR_NONE);
  EXPECT_EQ(impl, static_cast<mfxIMPL>(MFX_IMPL_HARDWARE3));
  EXPECT_EQ(ver.Minor, 19);
  ASSERT_EQ(MFXClose(s), MFX_ERR_NONE);
  calls = rt_->Calls();
  EXPECT_THAT(Functions(calls), ElementsAre("MFXQueryIMPL", "MFXQueryVersion", "MFXClose"));
  for (const auto& c : calls) EXPECT_EQ(c.session, session) << c.function;
  EXPECT_EQ(rt_->OpenSessions(), 0u);
}

TEST_F(Sessions, DispatcherAsksForItsOwnApiVersionWhenGivenNone) {
  Program p;
  p.software = RuntimeKind::Opening(35);
  Play(p);
  mfxSession s = nullptr;
  ASSERT_EQ(MFXInit(MFX_IMPL_SOFTWARE, nullptr, &s), MFX_ERR_NONE);
  MFXClose(s);
  auto init = mfxtest_util::Only(rt_->Calls(), "MFXInitEx");
  ASSERT_EQ(init.size(), 1u);
  EXPECT_EQ(init[0].major, 1);
  EXPECT_EQ(init[0].minor, 35);

  p.software = RuntimeKind::Opening(34);
  Play(p);
  EXPECT_EQ(MFXInit(MFX_IMPL_SOFTWARE, nullptr, &s), MFX_ERR_UNSUPPORTED);
}

TEST_F(Sessions, HevcHardwarePluginLoadNeverReachesTheRuntime) {
  Program p;
  p.hardware = RuntimeKind::Opening(19);
  Play(p);
  MFXVideoSession session;
  mfxVersion v = Version(3);
  ASSERT_EQ(session.Init(MFX_IMPL_HARDWARE_ANY, &v), MFX_ERR_NONE);
  rt_->ClearCalls();
  EXPECT_EQ(MFXVideoUSER_Load(session, &MFX_PLUGINID_HEVCD_HW, 0), MFX_ERR_NONE);
  EXPECT_EQ(MFXVideoUSER_UnLoad(session, &MFX_PLUGINID_HEVCD_HW), MFX_ERR_NONE);
  EXPECT_TRUE(rt_->Calls().empty());
  session.Close();
  EXPECT_THAT(Functions(rt_->Calls()), ElementsAre("MFXClose"));
}

TEST_F(Sessions, DecoderAndEncoderQueriesAnswerAsProgrammed) {
  Program p;
  p.software = RuntimeKind::Opening(20);
  p.decodeQuery = MFX_WRN_PARTIAL_ACCELERATION;
  p.encodeQuery = MFX_ERR_UNSUPPORTED;
  Play(p);
  MFXVideoSession session;
  mfxVersion v = Version(5);
  ASSERT_EQ(session.Init(MFX_IMPL_SOFTWARE, &v), MFX_ERR_NONE);
  mfxVideoParam in{}, out{};
  in.mfx.CodecId = MFX_CODEC_AVC;
  in.mfx.FrameInfo.Width = 640;
  {
    MFXVideoDECODE dec(session);
    MFXVideoENCODE enc(session);
    EXPECT_EQ(dec.Query(&in, &out), MFX_WRN_PARTIAL_ACCELERATION);
    EXPECT_EQ(out.mfx.FrameInfo.Width, 640);  // accepted values are copied out
    mfxVideoParam encOut{};
    EXPECT_EQ(enc.Query(&in, &encOut), MFX_ERR_UNSUPPORTED);
    EXPECT_EQ(encOut.mfx.CodecId, 0u);
  }  // the wrappers close both components
  session.Close();
  auto calls = rt_->Calls();
  auto names = Functions(calls);
  std::vector<std::string> tail(names.end() - 5, names.end());
  EXPECT_THAT(tail, ElementsAre("MFXVideoDECODE_Query", "MFXVideoENCODE_Query", "MFXVideoENCODE_Close",
                                "MFXVideoDECODE_Close", "MFXClose"));
  EXPECT_EQ(calls[calls.size() - 5].codecId, static_cast<mfxU32>(MFX_CODEC_AVC));
}

}  // namespace
