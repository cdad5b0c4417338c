// Decoding through the real dispatcher and the SDK's wrapper classes against programmed
// answers: header, surfaces, Init, DecodeFrameAsync steps, sync, locks, MVC description, and
// the access-unit mode on synthetic and real streams.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mfxvideo.h>
// mfxmvc.h needs mfxvideo.h first.
#include <mfxmvc.h>
#include <mfxvideo++.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "mfx_test_util.h"
#include "test_runtime_control.h"

namespace {

using mfxtest::HeaderAnswer;
using mfxtest::Program;
using mfxtest::RuntimeKind;
using mfxtest::Step;
using mfxtest_util::Functions;
using mfxtest_util::Input;
using mfxtest_util::Only;
using mfxtest_util::PatternMismatches;
using mfxtest_util::SurfacePool;
using ::testing::ElementsAre;

class Decode : public ::testing::Test {
 protected:
  void SetUp() override {
    rt_ = &mfxtest::Load();
    program_.software = RuntimeKind::Opening(20);
  }
  void TearDown() override {
    decoder_.reset();
    session_.Close();
  }

  // Plays the program and opens a software session at 1.3 with a decoder on it.
  void Start() {
    rt_->Play(program_);
    mfxVersion v{};
    v.Major = 1;
    v.Minor = 3;
    ASSERT_EQ(session_.Init(MFX_IMPL_SOFTWARE, &v), MFX_ERR_NONE);
    decoder_ = std::make_unique<MFXVideoDECODE>(session_);
    rt_->ClearCalls();
  }

  // Header (found at once), QueryIOSurf and Init for `info`; surfaces as suggested.
  std::unique_ptr<SurfacePool> Ready(const mfxFrameInfo& info, int surfaces = 4) {
    program_.headers[MFX_CODEC_AVC] = HeaderAnswer::Found(info);
    program_.ioSurf.numFrameSuggested = static_cast<mfxU16>(surfaces);
    Start();
    Input in(1024);
    in.AppendZeros(16);
    param_ = mfxVideoParam{};
    param_.mfx.CodecId = MFX_CODEC_AVC;
    param_.IOPattern = MFX_IOPATTERN_OUT_SYSTEM_MEMORY;
    EXPECT_EQ(decoder_->DecodeHeader(&in.bs, &param_), MFX_ERR_NONE);
    mfxFrameAllocRequest req{};
    EXPECT_EQ(decoder_->QueryIOSurf(&param_, &req), MFX_ERR_NONE);
    EXPECT_EQ(decoder_->Init(&param_), MFX_ERR_NONE);
    auto pool = std::make_unique<SurfacePool>(req.Info, req.NumFrameSuggested);
    rt_->SetSurfaces(pool->pointers.data(), pool->pointers.size());
    rt_->ClearCalls();
    return pool;
  }

  mfxStatus Frame(mfxBitstream* bs, mfxFrameSurface1* work) {
    out_ = nullptr;
    sync_ = nullptr;
    return decoder_->DecodeFrameAsync(bs, work, &out_, &sync_);
  }

  mfxtest::Control* rt_ = nullptr;
  Program program_;
  MFXVideoSession session_;
  std::unique_ptr<MFXVideoDECODE> decoder_;
  mfxVideoParam param_{};
  mfxFrameSurface1* out_ = nullptr;
  mfxSyncPoint sync_ = nullptr;
};

TEST_F(Decode, ScriptedSequenceComesBackThroughTheDispatcher) {
  program_.headers[MFX_CODEC_AVC] = HeaderAnswer::Found(mfxtest::Nv12(720, 576, 50, 2), 1000);
  program_.ioSurf.numFrameSuggested = 5;
  program_.ioSurf.numFrameMin = 3;
  program_.decode = {Step::Status(MFX_ERR_MORE_DATA), Step::Status(MFX_WRN_DEVICE_BUSY),
                     Step::Picture(0, 11, 100), Step::MoreSurface(), Step::Picture(1, 11),
                     Step::Status(MFX_WRN_VIDEO_PARAM_CHANGED, 7), Step::Status(MFX_ERR_ABORTED)};
  program_.sync = {MFX_WRN_IN_EXECUTION, MFX_ERR_NONE};
  Start();

  Input in(4096);
  mfxVideoParam par{};
  par.mfx.CodecId = MFX_CODEC_AVC;
  par.IOPattern = MFX_IOPATTERN_OUT_SYSTEM_MEMORY;
  // The header needs 1000 bytes in all; what the decoder looked at is consumed meanwhile.
  in.AppendZeros(600);
  EXPECT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_MORE_DATA);
  EXPECT_EQ(in.bs.DataLength, 0u);
  EXPECT_EQ(in.bs.DataOffset, 600u);
  EXPECT_EQ(par.mfx.FrameInfo.Width, 0);
  in.AppendZeros(600);
  ASSERT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_NONE);
  EXPECT_EQ(in.bs.DataLength, 600u);  // the header stays in the bitstream
  const mfxFrameInfo& fi = par.mfx.FrameInfo;
  EXPECT_EQ(fi.FourCC, static_cast<mfxU32>(MFX_FOURCC_NV12));
  EXPECT_EQ(fi.Width, 720);
  EXPECT_EQ(fi.Height, 576);
  EXPECT_EQ(fi.CropW, 720);
  EXPECT_EQ(fi.CropH, 576);
  EXPECT_EQ(fi.FrameRateExtN, 50u);
  EXPECT_EQ(fi.FrameRateExtD, 2u);
  EXPECT_EQ(fi.ChromaFormat, MFX_CHROMAFORMAT_YUV420);
  EXPECT_EQ(fi.PicStruct, MFX_PICSTRUCT_PROGRESSIVE);

  mfxFrameAllocRequest req{};
  ASSERT_EQ(decoder_->QueryIOSurf(&par, &req), MFX_ERR_NONE);
  EXPECT_EQ(req.NumFrameSuggested, 5);
  EXPECT_EQ(req.NumFrameMin, 3);
  EXPECT_EQ(req.Info.FourCC, static_cast<mfxU32>(MFX_FOURCC_NV12));
  EXPECT_EQ(req.Info.Width, 720);
  ASSERT_EQ(decoder_->Init(&par), MFX_ERR_NONE);

  SurfacePool pool(req.Info, req.NumFrameSuggested);
  rt_->SetSurfaces(pool.pointers.data(), pool.pointers.size());
  EXPECT_EQ(Frame(&in.bs, pool[0]), MFX_ERR_MORE_DATA);
  EXPECT_EQ(in.bs.DataLength, 0u);
  in.AppendZeros(500);
  EXPECT_EQ(Frame(&in.bs, pool[0]), MFX_WRN_DEVICE_BUSY);
  EXPECT_EQ(in.bs.DataLength, 500u);
  ASSERT_EQ(Frame(&in.bs, pool[0]), MFX_ERR_NONE);
  EXPECT_EQ(in.bs.DataLength, 400u);
  ASSERT_EQ(out_, pool[0]);
  ASSERT_NE(sync_, nullptr);
  EXPECT_EQ(out_->Info.FrameId.ViewId, 0);
  EXPECT_EQ(PatternMismatches(*out_, 11, 0), 0u);
  EXPECT_TRUE(pool.GuardsIntact(0));
  EXPECT_EQ(session_.SyncOperation(sync_, 1000), MFX_WRN_IN_EXECUTION);
  EXPECT_EQ(session_.SyncOperation(sync_, 1000), MFX_ERR_NONE);
  // Done: the sync point is gone.
  EXPECT_EQ(session_.SyncOperation(sync_, 1000), MFX_ERR_NULL_PTR);
  EXPECT_THAT(rt_->Violations(), ElementsAre("SyncOperation on a sync point that is not pending"));

  EXPECT_EQ(Frame(&in.bs, pool[1]), MFX_ERR_MORE_SURFACE);
  EXPECT_EQ(pool[1]->Data.Locked, 1);  // kept while the decoder holds it
  EXPECT_EQ(out_, nullptr);
  ASSERT_EQ(Frame(&in.bs, pool[2]), MFX_ERR_NONE);
  EXPECT_EQ(pool[1]->Data.Locked, 0);  // released after one more call
  EXPECT_EQ(out_, pool[2]);
  EXPECT_EQ(out_->Info.FrameId.ViewId, 1);
  EXPECT_EQ(PatternMismatches(*out_, 11, 1), 0u);
  EXPECT_EQ(session_.SyncOperation(sync_, 1000), MFX_ERR_NONE);
  EXPECT_EQ(Frame(&in.bs, pool[3]), MFX_WRN_VIDEO_PARAM_CHANGED);
  EXPECT_EQ(in.bs.DataLength, 393u);
  EXPECT_EQ(Frame(&in.bs, pool[3]), MFX_ERR_ABORTED);
  // Script used up: the decoder wants more data and takes all there is.
  EXPECT_EQ(Frame(&in.bs, pool[3]), MFX_ERR_MORE_DATA);
  EXPECT_EQ(in.bs.DataLength, 0u);

  auto calls = rt_->Calls();
  EXPECT_THAT(Functions(calls),
              ElementsAre("MFXVideoDECODE_DecodeHeader", "MFXVideoDECODE_DecodeHeader", "MFXVideoDECODE_QueryIOSurf",
                          "MFXVideoDECODE_Init", "MFXVideoDECODE_DecodeFrameAsync", "MFXVideoDECODE_DecodeFrameAsync",
                          "MFXVideoDECODE_DecodeFrameAsync", "MFXVideoCORE_SyncOperation", "MFXVideoCORE_SyncOperation",
                          "MFXVideoCORE_SyncOperation", "MFXVideoDECODE_DecodeFrameAsync",
                          "MFXVideoDECODE_DecodeFrameAsync", "MFXVideoCORE_SyncOperation",
                          "MFXVideoDECODE_DecodeFrameAsync", "MFXVideoDECODE_DecodeFrameAsync",
                          "MFXVideoDECODE_DecodeFrameAsync"));
  EXPECT_EQ(calls[0].codecId, static_cast<mfxU32>(MFX_CODEC_AVC));
  EXPECT_EQ(calls[0].bytesOffered, 600u);
  EXPECT_EQ(calls[0].bytesConsumed, 600u);
  EXPECT_EQ(calls[1].status, MFX_ERR_NONE);
  EXPECT_EQ(calls[1].bytesConsumed, 0u);
  EXPECT_EQ(calls[6].workIndex, 0);
  EXPECT_EQ(calls[6].outIndex, 0);
  EXPECT_EQ(calls[6].outTag, 11u);
  EXPECT_EQ(calls[6].bytesConsumed, 100u);
  EXPECT_EQ(calls[7].sync, calls[6].sync);
  EXPECT_EQ(calls[7].wait, 1000u);
  EXPECT_EQ(calls[10].status, MFX_ERR_MORE_SURFACE);
  EXPECT_EQ(calls[10].workIndex, 1);
  EXPECT_EQ(calls[11].outIndex, 2);
  EXPECT_EQ(calls[11].outViewId, 1);
}

TEST_F(Decode, PicturesFillTheCallersLayoutExactly) {
  for (mfxU32 fourcc : {static_cast<mfxU32>(MFX_FOURCC_NV12), static_cast<mfxU32>(MFX_FOURCC_P010)}) {
    SCOPED_TRACE(fourcc == MFX_FOURCC_NV12 ? "NV12" : "P010");
    program_ = Program();
    program_.software = RuntimeKind::Opening(20);
    program_.decode = {Step::Picture(0, 3), Step::Picture(2, 3), Step::Picture(0, 4)};
    auto pool = Ready(mfxtest::FrameInfo(fourcc, 96, 64), 3);
    Input in(64);
    in.AppendZeros(8);
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(Frame(&in.bs, (*pool)[i]), MFX_ERR_NONE);
      EXPECT_EQ(session_.SyncOperation(sync_, 1000), MFX_ERR_NONE);
    }
    EXPECT_EQ(PatternMismatches(*(*pool)[0], 3, 0), 0u);
    EXPECT_EQ(PatternMismatches(*(*pool)[1], 3, 2), 0u);
    EXPECT_EQ(PatternMismatches(*(*pool)[2], 4, 0), 0u);
    // Views and tags really differ in content, so a swapped picture shows.
    EXPECT_GT(PatternMismatches(*(*pool)[1], 3, 0), 96u * 64u / 2);
    EXPECT_GT(PatternMismatches(*(*pool)[2], 3, 0), 96u * 64u / 2);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(pool->GuardsIntact(i)) << i;
    if (fourcc == MFX_FOURCC_P010) {
      mfxU16 first;
      std::memcpy(&first, (*pool)[0]->Data.Y, 2);
      EXPECT_EQ(first & 0x3F, 0) << "P010 samples sit in the high 10 bits";
    }
    decoder_.reset();
    session_.Close();
  }
}

TEST_F(Decode, OutputSurfacesStayLockedAndLockedWorkSurfacesAreNeverWritten) {
  program_.outputLockCalls = 2;
  program_.decode = {Step::Picture(0, 1), Step::Picture(0, 2), Step::Picture(0, 3), Step::Picture(0, 4)};
  auto pool = Ready(mfxtest::Nv12(32, 32), 3);
  Input in(64);
  in.AppendZeros(8);
  ASSERT_EQ(Frame(&in.bs, (*pool)[0]), MFX_ERR_NONE);
  EXPECT_EQ((*pool)[0]->Data.Locked, 1);
  const std::vector<mfxU8> before((*pool)[0]->Data.Y, (*pool)[0]->Data.Y + pool->frameBytes);

  // Handing the locked surface back in is the caller's fault: refused, nothing written, and the
  // script does not advance.
  EXPECT_EQ(Frame(&in.bs, (*pool)[0]), MFX_ERR_MORE_SURFACE);
  EXPECT_EQ(out_, nullptr);
  EXPECT_THAT(rt_->Violations(), ElementsAre("DecodeFrameAsync given a locked work surface"));
  EXPECT_TRUE(std::equal(before.begin(), before.end(), (*pool)[0]->Data.Y));
  EXPECT_EQ((*pool)[0]->Data.Locked, 1) << "one of its two later calls went by";

  ASSERT_EQ(Frame(&in.bs, (*pool)[1]), MFX_ERR_NONE);
  EXPECT_EQ(PatternMismatches(*out_, 2, 0), 0u);
  EXPECT_EQ((*pool)[0]->Data.Locked, 0) << "two later calls went by";
  ASSERT_EQ(Frame(&in.bs, (*pool)[0]), MFX_ERR_NONE);
  EXPECT_EQ(PatternMismatches(*out_, 3, 0), 0u);
  EXPECT_EQ((*pool)[1]->Data.Locked, 1);
  EXPECT_EQ((*pool)[0]->Data.Locked, 1);
  ASSERT_EQ(Frame(&in.bs, (*pool)[2]), MFX_ERR_NONE);
  EXPECT_EQ((*pool)[1]->Data.Locked, 0);
  EXPECT_EQ((*pool)[0]->Data.Locked, 1);
  EXPECT_EQ((*pool)[2]->Data.Locked, 1);

  // Closing the decoder lets go of everything it kept.
  EXPECT_EQ(decoder_->Close(), MFX_ERR_NONE);
  for (int i = 0; i < 3; ++i) EXPECT_EQ((*pool)[i]->Data.Locked, 0) << i;
  EXPECT_EQ(rt_->Violations().size(), 1u);
}

TEST_F(Decode, MoreSurfaceKeepsTheWorkSurfaceForTheCallsAsked) {
  program_.decode = {Step::MoreSurface(3, 5), Step::Status(MFX_WRN_DEVICE_BUSY), Step::Status(MFX_WRN_DEVICE_BUSY),
                     Step::Status(MFX_WRN_DEVICE_BUSY)};
  auto pool = Ready(mfxtest::Nv12(32, 32), 2);
  Input in(64);
  in.AppendZeros(20);
  EXPECT_EQ(Frame(&in.bs, (*pool)[0]), MFX_ERR_MORE_SURFACE);
  EXPECT_EQ(in.bs.DataLength, 15u);
  for (int call = 1; call <= 3; ++call) {
    EXPECT_EQ((*pool)[0]->Data.Locked, 1) << call;
    EXPECT_EQ(Frame(&in.bs, (*pool)[1]), MFX_WRN_DEVICE_BUSY);
  }
  EXPECT_EQ((*pool)[0]->Data.Locked, 0);
  EXPECT_TRUE(rt_->Violations().empty());
}

TEST_F(Decode, DrainingFollowsTheDrainScriptThenAnswersMoreData) {
  program_.decode = {Step::Picture(0, 1)};
  program_.drain = {Step::Picture(0, 2), Step::Status(MFX_WRN_DEVICE_BUSY), Step::Picture(1, 2)};
  auto pool = Ready(mfxtest::Nv12(32, 32), 3);
  Input in(64);
  in.AppendZeros(8);
  ASSERT_EQ(Frame(&in.bs, (*pool)[0]), MFX_ERR_NONE);
  ASSERT_EQ(Frame(nullptr, (*pool)[1]), MFX_ERR_NONE);
  EXPECT_EQ(PatternMismatches(*out_, 2, 0), 0u);
  EXPECT_EQ(Frame(nullptr, (*pool)[2]), MFX_WRN_DEVICE_BUSY);
  ASSERT_EQ(Frame(nullptr, (*pool)[2]), MFX_ERR_NONE);
  EXPECT_EQ(out_->Info.FrameId.ViewId, 1);
  EXPECT_EQ(Frame(nullptr, (*pool)[2]), MFX_ERR_MORE_DATA);
  EXPECT_EQ(Frame(nullptr, (*pool)[2]), MFX_ERR_MORE_DATA);
  auto decodes = Only(rt_->Calls(), "MFXVideoDECODE_DecodeFrameAsync");
  ASSERT_EQ(decodes.size(), 6u);
  EXPECT_TRUE(decodes[0].bitstream);
  for (std::size_t i = 1; i < decodes.size(); ++i) EXPECT_FALSE(decodes[i].bitstream) << i;
}

TEST_F(Decode, HeaderAnswersPerCodec) {
  program_.headers[MFX_CODEC_AVC] = HeaderAnswer::Failing(MFX_ERR_UNSUPPORTED);
  program_.headers[MFX_CODEC_MPEG2] = HeaderAnswer::Found(mfxtest::Nv12(352, 288), 10);
  program_.headers[MFX_CODEC_MPEG2].status = MFX_WRN_PARTIAL_ACCELERATION;
  program_.headers[MFX_CODEC_HEVC] = HeaderAnswer::Found(mfxtest::P010(1920, 1080, 24000, 1001));
  Start();
  Input in(256);
  mfxVideoParam par{};
  in.AppendZeros(40);
  par.mfx.CodecId = MFX_CODEC_AVC;
  EXPECT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(in.bs.DataLength, 40u);
  EXPECT_EQ(par.mfx.FrameInfo.Width, 0);
  // A codec nobody programmed never finds its header.
  par.mfx.CodecId = MFX_CODEC_VC1;
  EXPECT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_MORE_DATA);
  EXPECT_EQ(in.bs.DataLength, 0u);
  in.AppendZeros(40);
  par.mfx.CodecId = MFX_CODEC_MPEG2;
  EXPECT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_WRN_PARTIAL_ACCELERATION);
  EXPECT_EQ(par.mfx.FrameInfo.Width, 352);
  EXPECT_EQ(par.mfx.FrameInfo.Height, 288);
  par = mfxVideoParam{};
  par.mfx.CodecId = MFX_CODEC_HEVC;
  ASSERT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_NONE);
  const mfxFrameInfo& fi = par.mfx.FrameInfo;
  EXPECT_EQ(fi.FourCC, static_cast<mfxU32>(MFX_FOURCC_P010));
  EXPECT_EQ(fi.Width, 1920);
  EXPECT_EQ(fi.Height, 1088);
  EXPECT_EQ(fi.CropH, 1080);
  EXPECT_EQ(fi.BitDepthLuma, 10);
  EXPECT_EQ(fi.BitDepthChroma, 10);
  EXPECT_EQ(fi.FrameRateExtN, 24000u);
  EXPECT_EQ(fi.FrameRateExtD, 1001u);
}

TEST_F(Decode, MultiviewDescriptionIsCountedFirstThenFilled) {
  program_.headers[MFX_CODEC_AVC] = HeaderAnswer::Found(mfxtest::Nv12(640, 480), 300);
  program_.headers[MFX_CODEC_AVC].numView = 2;
  program_.headers[MFX_CODEC_AVC].numViewId = 2;
  program_.headers[MFX_CODEC_AVC].numOP = 3;
  program_.headers[MFX_CODEC_AVC].viewIds = {0, 2};
  Start();
  mfxExtMVCSeqDesc desc{};
  desc.Header.BufferId = MFX_EXTBUFF_MVC_SEQ_DESC;
  desc.Header.BufferSz = 128;
  mfxExtBuffer* ext[] = {&desc.Header};
  mfxVideoParam par{};
  par.mfx.CodecId = MFX_CODEC_AVC;
  par.ExtParam = ext;
  par.NumExtParam = 1;
  Input in(1024);
  in.AppendZeros(200);
  EXPECT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_MORE_DATA);
  EXPECT_EQ(desc.NumView, 0u);
  in.AppendZeros(200);
  ASSERT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_NOT_ENOUGH_BUFFER);
  EXPECT_EQ(desc.NumView, 2u);
  EXPECT_EQ(desc.NumViewId, 2u);
  EXPECT_EQ(desc.NumOP, 3u);
  EXPECT_EQ(desc.View, nullptr);
  EXPECT_EQ(par.mfx.FrameInfo.Width, 640) << "frame parameters come with the counts";
  EXPECT_EQ(in.bs.DataLength, 200u);

  std::vector<mfxMVCViewDependency> views(2);
  std::vector<mfxU16> ids(2, 0xFFFF);
  std::vector<mfxMVCOperationPoint> ops(2);  // one short
  desc.View = views.data();
  desc.NumViewAlloc = 2;
  desc.ViewId = ids.data();
  desc.NumViewIdAlloc = 2;
  desc.OP = ops.data();
  desc.NumOPAlloc = 2;
  EXPECT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_NOT_ENOUGH_BUFFER);
  EXPECT_EQ(ids[1], 0xFFFF) << "nothing written into arrays that are too small";
  ops.resize(3);
  desc.OP = ops.data();
  desc.NumOPAlloc = 3;
  ASSERT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_NONE);
  EXPECT_THAT(ids, ElementsAre(0, 2));
  EXPECT_EQ(views[1].ViewId, 2);
  EXPECT_EQ(ops[2].NumTargetViews, 2);

  auto headers = Only(rt_->Calls(), "MFXVideoDECODE_DecodeHeader");
  ASSERT_EQ(headers.size(), 4u);
  EXPECT_EQ(headers[1].numExtParam, 1);
  EXPECT_THAT(headers[1].bufferIds, ElementsAre(static_cast<mfxU32>(MFX_EXTBUFF_MVC_SEQ_DESC)));
  EXPECT_TRUE(rt_->Violations().empty());
}

TEST_F(Decode, DescriptionSmallerThanItsTypeIsRefusedNotWritten) {
  program_.headers[MFX_CODEC_AVC] = HeaderAnswer::Found(mfxtest::Nv12(640, 480));
  Start();
  struct {
    mfxExtBuffer header;
    mfxU32 counts[2];
  } small{};
  small.header.BufferId = MFX_EXTBUFF_MVC_SEQ_DESC;
  small.header.BufferSz = sizeof(small);
  mfxExtBuffer* ext[] = {&small.header};
  mfxVideoParam par{};
  par.mfx.CodecId = MFX_CODEC_AVC;
  par.ExtParam = ext;
  par.NumExtParam = 1;
  Input in(64);
  in.AppendZeros(8);
  EXPECT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_INVALID_VIDEO_PARAM);
  EXPECT_EQ(small.counts[0], 0u);
  EXPECT_EQ(rt_->Violations().size(), 1u);
}

TEST_F(Decode, SurfaceRequestAndInitAnswerAsProgrammed) {
  program_.headers[MFX_CODEC_AVC] = HeaderAnswer::Found(mfxtest::Nv12(640, 480));
  program_.ioSurf.fourcc = MFX_FOURCC_P010;
  program_.ioSurf.status = MFX_WRN_PARTIAL_ACCELERATION;
  program_.ioSurf.numFrameSuggested = 9;
  program_.decodeInit = MFX_ERR_INVALID_VIDEO_PARAM;
  Start();
  Input in(64);
  in.AppendZeros(8);
  mfxVideoParam par{};
  par.mfx.CodecId = MFX_CODEC_AVC;
  ASSERT_EQ(decoder_->DecodeHeader(&in.bs, &par), MFX_ERR_NONE);
  mfxFrameAllocRequest req{};
  EXPECT_EQ(decoder_->QueryIOSurf(&par, &req), MFX_WRN_PARTIAL_ACCELERATION);
  EXPECT_EQ(req.Info.FourCC, static_cast<mfxU32>(MFX_FOURCC_P010));
  EXPECT_EQ(req.Info.Width, 640);
  EXPECT_EQ(req.NumFrameSuggested, 9);
  EXPECT_EQ(decoder_->Init(&par), MFX_ERR_INVALID_VIDEO_PARAM);
  // The decoder is not initialised, so frames are refused and that is noted.
  SurfacePool pool(req.Info, 1);
  EXPECT_EQ(Frame(&in.bs, pool[0]), MFX_ERR_NOT_INITIALIZED);
  EXPECT_EQ(rt_->Violations().size(), 1u);
  EXPECT_TRUE(pool.GuardsIntact(0));
}

TEST_F(Decode, SurfaceWithoutUsablePlanesIsRefused) {
  program_.decode = {Step::Picture(0, 1), Step::Picture(0, 1)};
  auto pool = Ready(mfxtest::Nv12(64, 32), 2);
  Input in(64);
  in.AppendZeros(8);
  (*pool)[0]->Data.UV = nullptr;
  EXPECT_EQ(Frame(&in.bs, (*pool)[0]), MFX_ERR_UNDEFINED_BEHAVIOR);
  (*pool)[1]->Data.Pitch = 63;  // narrower than a row
  EXPECT_EQ(Frame(&in.bs, (*pool)[1]), MFX_ERR_UNDEFINED_BEHAVIOR);
  EXPECT_EQ(rt_->Violations().size(), 2u);
  EXPECT_TRUE(pool->GuardsIntact(1));
}

// Access-unit mode.

std::vector<mfxU8> Unit(bool withSliceExtension, std::size_t payload) {
  std::vector<mfxU8> u = {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x41};
  u.insert(u.end(), payload, 0x37);
  if (withSliceExtension) {
    const mfxU8 ext[] = {0, 0, 1, 0x14, 0x80, 0x12, 0x34};
    u.insert(u.end(), std::begin(ext), std::end(ext));
    u.insert(u.end(), payload, 0x52);
  }
  return u;
}

TEST_F(Decode, AccessUnitModeDeliversEachUnitOnceTheNextOneStarts) {
  program_.accessUnits.on = true;
  program_.accessUnits.dependentViewId = 2;
  auto pool = Ready(mfxtest::Nv12(32, 16), 2);
  std::vector<mfxU8> stream;
  const bool dependent[] = {true, false, true};
  for (bool d : dependent) {
    auto u = Unit(d, 30);
    stream.insert(stream.end(), u.begin(), u.end());
  }
  Input in(4096);
  std::vector<std::pair<mfxU16, mfxU32>> got;  // (view, tag)
  std::size_t fed = 0;
  int work = 0;
  auto take = [&]() {
    got.emplace_back(out_->Info.FrameId.ViewId, rt_->Calls().back().outTag);
    EXPECT_EQ(session_.SyncOperation(sync_, 1000), MFX_ERR_NONE);
    EXPECT_EQ(PatternMismatches(*out_, got.back().second, got.back().first), 0u);
    work ^= 1;
  };
  // Feed 7 bytes at a time: the first unit is complete only once the second delimiter came.
  while (fed < stream.size()) {
    mfxStatus st = Frame(&in.bs, (*pool)[work]);
    if (st == MFX_ERR_MORE_DATA) {
      EXPECT_EQ(in.bs.DataLength, 0u);
      const std::size_t n = std::min<std::size_t>(7, stream.size() - fed);
      in.Append(stream.data() + fed, n);
      fed += n;
      continue;
    }
    ASSERT_EQ(st, MFX_ERR_NONE);
    EXPECT_GT(fed, Unit(true, 30).size()) << "no picture before the next unit's delimiter";
    take();
  }
  for (;;) {
    mfxStatus st = Frame(&in.bs, (*pool)[work]);
    if (st == MFX_ERR_MORE_DATA) break;
    ASSERT_EQ(st, MFX_ERR_NONE);
    take();
  }
  EXPECT_EQ(got.size(), 3u) << "the last unit waits for the drain";
  for (;;) {
    mfxStatus st = Frame(nullptr, (*pool)[work]);
    if (st == MFX_ERR_MORE_DATA) break;
    ASSERT_EQ(st, MFX_ERR_NONE);
    take();
  }
  EXPECT_THAT(got, ElementsAre(std::make_pair(mfxU16{0}, 0u), std::make_pair(mfxU16{2}, 0u),
                               std::make_pair(mfxU16{0}, 1u), std::make_pair(mfxU16{0}, 2u),
                               std::make_pair(mfxU16{2}, 2u)));
  EXPECT_TRUE(rt_->Violations().empty());
}

std::vector<mfxU8> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<mfxU8>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Offsets of the start codes (00 00 01 or 00 00 00 01) opening NAL units of `type`.
std::vector<std::size_t> UnitStarts(const std::vector<mfxU8>& d, int type) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i + 3 < d.size(); ++i)
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && (d[i + 3] & 0x1F) == type)
      at.push_back(i > 0 && d[i - 1] == 0 ? i - 1 : i);
  return at;
}

TEST_F(Decode, AccessUnitModeOnARealStereoPair) {
  const std::string base = std::string(KORVALA_SHARED_DIR) + "/media/MVCRP_2.base.h264";
  const std::string dep = std::string(KORVALA_SHARED_DIR) + "/media/MVCRP_2.dep.mvc";
  auto b = ReadFile(base), d = ReadFile(dep);
  if (b.empty() || d.empty()) GTEST_SKIP() << "test media not found: " << base << ", " << dep;
  // Join unit k of the dependent view after unit k of the base view, the way a multiview
  // stream carries them.
  auto bs = UnitStarts(b, 9), ds = UnitStarts(d, 24);
  ASSERT_EQ(bs.size(), 250u);
  ASSERT_EQ(ds.size(), 250u);
  bs.push_back(b.size());
  ds.push_back(d.size());
  std::vector<mfxU8> joined;
  for (std::size_t k = 0; k < 250; ++k) {
    joined.insert(joined.end(), b.begin() + bs[k], b.begin() + bs[k + 1]);
    joined.insert(joined.end(), d.begin() + ds[k], d.begin() + ds[k + 1]);
  }

  program_.accessUnits.on = true;
  auto pool = Ready(mfxtest::Nv12(64, 32), 2);  // the picture size does not matter here
  Input in(64 * 1024);
  std::size_t fed = 0;
  mfxU32 pictures = 0;
  bool draining = false;
  for (;;) {
    mfxStatus st = Frame(draining ? nullptr : &in.bs, (*pool)[pictures % 2]);
    if (st == MFX_ERR_MORE_DATA) {
      if (draining) break;
      const std::size_t n = std::min<std::size_t>(in.bs.MaxLength - in.bs.DataLength, joined.size() - fed);
      if (n == 0) {
        draining = true;
        continue;
      }
      in.Append(joined.data() + fed, n);
      fed += n;
      continue;
    }
    ASSERT_EQ(st, MFX_ERR_NONE);
    EXPECT_EQ(out_->Info.FrameId.ViewId, pictures % 2) << pictures;
    EXPECT_EQ(rt_->Calls().back().outTag, pictures / 2) << pictures;
    ASSERT_EQ(session_.SyncOperation(sync_, 1000), MFX_ERR_NONE);
    ++pictures;
  }
  EXPECT_EQ(pictures, 500u);
}

}  // namespace
