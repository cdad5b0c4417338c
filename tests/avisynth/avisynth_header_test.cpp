// Our avisynth.h against the measured AviSynth+ ABI: sizes, offsets and constants at compile
// time; vtable positions through member-function pointers (a virtual one holds 1 + its byte
// offset in the vtable, Itanium ABI).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "avisynth.h"

namespace {

using VI = VideoInfo;  // the pixel types are its members, as in AviSynth+

static_assert(sizeof(VideoInfo) == 48 && std::is_trivially_copyable_v<VideoInfo>);
static_assert(offsetof(VideoInfo, fps_numerator) == 8 && offsetof(VideoInfo, num_frames) == 16 &&
              offsetof(VideoInfo, pixel_type) == 20 && offsetof(VideoInfo, audio_samples_per_second) == 24 &&
              offsetof(VideoInfo, num_audio_samples) == 32 && offsetof(VideoInfo, nchannels) == 40 &&
              offsetof(VideoInfo, image_type) == 44);
static_assert(sizeof(AVSValue) == 16 && alignof(AVSValue) == 8);
static_assert(sizeof(IClip) == 16);
static_assert(sizeof(PClip) == 8 && sizeof(PVideoFrame) == 8 && sizeof(AvisynthError) == 8);
// Non-trivial for calls, so they travel through the hidden return pointer as the host expects.
static_assert(!std::is_trivially_copyable_v<PClip> && !std::is_trivially_copyable_v<PVideoFrame> &&
              !std::is_trivially_copyable_v<AVSValue>);

static_assert(offsetof(AVS_Linkage, HasVideo) == 8);
static_assert(offsetof(AVS_Linkage, IsSameColorspace) == 664);
static_assert(offsetof(AVS_Linkage, VFBGetReadPtr) == 680);
static_assert(offsetof(AVS_Linkage, GetPitch) == 760);
static_assert(offsetof(AVS_Linkage, VFGetWritePtr) == 872);
static_assert(offsetof(AVS_Linkage, PClip_CONSTRUCTOR0) == 904);
static_assert(offsetof(AVS_Linkage, PVideoFrame_DESTRUCTOR) == 1080);
static_assert(offsetof(AVS_Linkage, AVSValue_CONSTRUCTOR0) == 1096);
static_assert(offsetof(AVS_Linkage, AVSValue_OPERATOR_INDEX) == 1288);
static_assert(offsetof(AVS_Linkage, AsInt2) == 1512);
static_assert(offsetof(AVS_Linkage, AsString2) == 1560);
static_assert(offsetof(AVS_Linkage, ArraySize) == 1576);
static_assert(offsetof(AVS_Linkage, AVSValue_CONSTRUCTOR12) == 1656);
static_assert(offsetof(AVS_Linkage, NumComponents) == 2104);
static_assert(offsetof(AVS_Linkage, IsPlanarRGBA) == 2280);
static_assert(sizeof(AVS_Linkage) == 2296);

static_assert(VI::CS_YV12 == int(0xA0000008u) && VI::CS_I420 == int(0xA0000010u) && VI::CS_YUV420P10 == int(0xA0050008u) &&
              VI::CS_YUV420P16 == int(0xA0010008u) && VI::CS_YV16 == int(0xA0000308u) && VI::CS_YV24 == int(0xA000030Bu) &&
              VI::CS_Y8 == int(0xE0000000u) && VI::CS_YUY2 == 0x60000004 && VI::CS_BGR32 == 0x50000002);
static_assert(PLANAR_Y == 1 && PLANAR_U == 2 && PLANAR_V == 4 && PLANAR_Y_ALIGNED == 9 && PLANAR_A == 16);
static_assert(CPUF_SSE2 == 0x20 && CPUF_SSSE3 == 0x200 && CPUF_SSE4_1 == 0x400 && CPUF_AVX == 0x800 &&
              CPUF_SSE4_2 == 0x1000 && CPUF_AVX2 == 0x2000 && CPUF_FMA3 == 0x4000);
static_assert(FRAME_ALIGN == 64 && CACHE_GET_MTMODE == 509 && CACHE_DONT_CACHE_ME == 501 &&
              CACHE_IS_CACHE_REQ == 510 && CACHE_GET_DEV_TYPE == 601 && CACHE_GET_CHILD_DEV_TYPE == 602);
static_assert(MT_NICE_FILTER == 1 && MT_MULTI_INSTANCE == 2 && MT_SERIALIZED == 3);
static_assert(PROPTYPE_INT == 'i' && PROPTYPE_FLOAT == 'f' && PROPTYPE_DATA == 's' && PROPAPPENDMODE_REPLACE == 0 &&
              PROPAPPENDMODE_APPEND == 1 && GETPROPERROR_UNSET == 1 && GETPROPERROR_TYPE == 2 &&
              GETPROPERROR_INDEX == 4 && AEP_INTERFACE_VERSION == 8);

constexpr VideoInfo Format(int pixelType, int width = 70, int height = 30) {
  VideoInfo vi{};
  vi.width = width;
  vi.height = height;
  vi.pixel_type = pixelType;
  return vi;
}

// Geometry AviSynth+ gives a 70x30 frame: row sizes in bytes.
static_assert(Format(VI::CS_YV12).RowSize(PLANAR_Y) == 70 && Format(VI::CS_YV12).RowSize(PLANAR_U) == 35 &&
              Format(VI::CS_YV12).RowSize(PLANAR_Y_ALIGNED) == 128);
static_assert(Format(VI::CS_YUV420P10).RowSize(PLANAR_Y) == 140 && Format(VI::CS_YUV420P10).RowSize(PLANAR_V) == 70);
static_assert(Format(VI::CS_Y8).RowSize(PLANAR_U) == 0);
static_assert(Format(VI::CS_YUY2).RowSize() == 140);

static_assert(Format(VI::CS_YV12).BitsPerComponent() == 8 && Format(VI::CS_YUV420P10).BitsPerComponent() == 10 &&
              Format(VI::CS_YUV420P16).BitsPerComponent() == 16 && Format(VI::CS_YUV420PS).BitsPerComponent() == 32 &&
              Format(VI::CS_YUV420P12).BitsPerComponent() == 12 && Format(VI::CS_YUV420P14).BitsPerComponent() == 14);
static_assert(Format(VI::CS_YV12).ComponentSize() == 1 && Format(VI::CS_YUV420P10).ComponentSize() == 2 &&
              Format(VI::CS_YUV420PS).ComponentSize() == 4);

static_assert(Format(VI::CS_YV12).GetPlaneWidthSubsampling(PLANAR_U) == 1 &&
              Format(VI::CS_YV12).GetPlaneHeightSubsampling(PLANAR_V) == 1 &&
              Format(VI::CS_YV12).GetPlaneWidthSubsampling(PLANAR_Y) == 0);
static_assert(Format(VI::CS_YV16).GetPlaneWidthSubsampling(PLANAR_U) == 1 &&
              Format(VI::CS_YV16).GetPlaneHeightSubsampling(PLANAR_U) == 0);
static_assert(Format(VI::CS_YV24).GetPlaneWidthSubsampling(PLANAR_U) == 0 &&
              Format(VI::CS_YV24).GetPlaneHeightSubsampling(PLANAR_U_ALIGNED) == 0);

static_assert(Format(VI::CS_YV12).IsYV12() && Format(VI::CS_I420).IsYV12() && !Format(VI::CS_YUV420P10).IsYV12());
static_assert(Format(VI::CS_YUV420P10).Is420() && Format(VI::CS_YV16).Is422() && Format(VI::CS_YV24).Is444() &&
              !Format(VI::CS_Y8).Is420());
static_assert(Format(VI::CS_Y8).IsY() && !Format(VI::CS_YV12).IsY() && Format(VI::CS_Y8).NumComponents() == 1);
static_assert(Format(VI::CS_YUY2).IsYUY2() && !Format(VI::CS_YUY2).IsPlanar() && !Format(VI::CS_YV12).IsYUY2());
static_assert(Format(VI::CS_I420).IsColorSpace(VI::CS_YV12) && !Format(VI::CS_YUV420P10).IsColorSpace(VI::CS_YV12));
static_assert(Format(VI::CS_YV12).IsVPlaneFirst() && !Format(VI::CS_I420).IsVPlaneFirst());

template <class Method>
uintptr_t VtableOffset(Method method) {
  static_assert(sizeof(Method) == 16, "a member-function pointer is {ptr, adj}");
  struct {
    uintptr_t ptr;
    ptrdiff_t adj;
  } raw;
  std::memcpy(&raw, &method, sizeof raw);
  EXPECT_EQ(raw.ptr & 1, 1u) << "not a virtual function";
  return raw.ptr - 1;
}

// A first virtual of a derived class comes after both destructor entries of IClip.
struct ExtendedClip : IClip {
  virtual int Extra() { return 0; }
};

TEST(AvisynthHeader, ClipVtableSlotsAreAviSynths) {
  EXPECT_EQ(VtableOffset(&IClip::GetVersion), 0u);
  EXPECT_EQ(VtableOffset(&IClip::GetFrame), 8u);
  EXPECT_EQ(VtableOffset(&IClip::GetParity), 16u);
  EXPECT_EQ(VtableOffset(&IClip::GetAudio), 24u);
  EXPECT_EQ(VtableOffset(&IClip::SetCacheHints), 32u);
  EXPECT_EQ(VtableOffset(&IClip::GetVideoInfo), 40u);
  EXPECT_EQ(VtableOffset(&ExtendedClip::Extra), 64u);  // 48 and 56: the two destructors
}

TEST(AvisynthHeader, EnvironmentVtableSlotsAreAviSynths) {
  using E = IScriptEnvironment;
  EXPECT_EQ(VtableOffset(&E::GetCPUFlags), 16u);  // after both destructor entries
  EXPECT_EQ(VtableOffset(&E::SaveString), 24u);
  EXPECT_EQ(VtableOffset(&E::Sprintf), 32u);
  EXPECT_EQ(VtableOffset(&E::VSprintf), 40u);
  EXPECT_EQ(VtableOffset(&E::ThrowError), 48u);
  EXPECT_EQ(VtableOffset(&E::AddFunction), 56u);
  EXPECT_EQ(VtableOffset(&E::Invoke), 72u);
  EXPECT_EQ(VtableOffset(&E::NewVideoFrame), 120u);
  EXPECT_EQ(VtableOffset(&E::BitBlt), 136u);
  EXPECT_EQ(VtableOffset(&E::CheckVersion), 152u);
  EXPECT_EQ(VtableOffset(&E::SubframePlanar), 200u);
  EXPECT_EQ(VtableOffset(&E::GetAVSLinkage), 224u);
  EXPECT_EQ(VtableOffset(&E::GetVarDef), 232u);
  // Interface 8: slot 30 on, in AviSynth+'s order.
  EXPECT_EQ(VtableOffset(&E::SubframePlanarA), 240u);
  EXPECT_EQ(VtableOffset(&E::getFramePropsRW), 264u);
  EXPECT_EQ(VtableOffset(&E::propGetInt), 304u);
  EXPECT_EQ(VtableOffset(&E::propGetData), 320u);
  EXPECT_EQ(VtableOffset(&E::propSetInt), 360u);
  EXPECT_EQ(VtableOffset(&E::propSetFloat), 368u);
  EXPECT_EQ(VtableOffset(&E::propSetData), 376u);
  EXPECT_EQ(VtableOffset(&E::clearMap), 448u);
  EXPECT_EQ(VtableOffset(&E::NewVideoFrameP), 456u);
  EXPECT_EQ(VtableOffset(&E::GetEnvProperty), 464u);
}

TEST(AvisynthHeader, SetFpsReducesAndKeepsAnUnusableRate) {
  VideoInfo vi{};
  vi.SetFPS(60000, 2002);
  EXPECT_EQ(vi.fps_numerator, 30000u);
  EXPECT_EQ(vi.fps_denominator, 1001u);
  vi.SetFPS(0, 0);  // no division by zero; the old rate stays
  EXPECT_EQ(vi.fps_numerator, 30000u);
  EXPECT_EQ(vi.fps_denominator, 1001u);
}

}  // namespace
