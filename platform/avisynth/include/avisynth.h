// AviSynth+ C++ plugin interface, as a plugin of interface version 6 sees it, with the frame
// properties of interface 8, for GCC/Clang on x86-64 Linux. Binary-compatible with an AviSynth+ host: the vtables, the AVS_Linkage slot
// offsets and the object layouts below are those the host was measured with.
//
// Names stand where AviSynth+'s own header puts them (pixel types and image-type flags inside
// VideoInfo; plane selectors, CPU flags and cache hints at namespace scope), so plugin code
// written against one header compiles against the other.
//
// Every host-side operation of PClip, PVideoFrame, AVSValue and VideoFrame goes through the
// host's function table, reached through the global `AVS_linkage` that the plugin defines and
// sets in AvisynthPluginInit3. VideoInfo's helpers are computed here, from pixel_type.
#ifndef KORVALA_AVISYNTH_H
#define KORVALA_AVISYNTH_H

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#ifndef _WIN32
// Every call is a plain SysV call on POSIX.
#ifndef __stdcall
#define __stdcall
#endif
#ifndef __cdecl
#define __cdecl
#endif
#ifndef __declspec
#define __declspec(x)
#endif
#endif

typedef unsigned char BYTE;

// Our plugin-facing number; a current AviSynth+ core is at 12 and treats 6 as the 2.6 interface.
enum { AVISYNTH_INTERFACE_VERSION = 6 };

enum { FRAME_ALIGN = 64 };

enum { SAMPLE_INT8 = 1 << 0, SAMPLE_INT16 = 1 << 1, SAMPLE_INT24 = 1 << 2, SAMPLE_INT32 = 1 << 3, SAMPLE_FLOAT = 1 << 4 };

// Plane selectors; DEFAULT_PLANE acts like PLANAR_Y. The aligned variants ask for row sizes
// rounded up to FRAME_ALIGN.
enum {
  DEFAULT_PLANE = 0,
  PLANAR_Y = 1 << 0,
  PLANAR_U = 1 << 1,
  PLANAR_V = 1 << 2,
  PLANAR_ALIGNED = 1 << 3,
  PLANAR_Y_ALIGNED = PLANAR_Y | PLANAR_ALIGNED,
  PLANAR_U_ALIGNED = PLANAR_U | PLANAR_ALIGNED,
  PLANAR_V_ALIGNED = PLANAR_V | PLANAR_ALIGNED,
  PLANAR_A = 1 << 4,
  PLANAR_R = 1 << 5,
  PLANAR_G = 1 << 6,
  PLANAR_B = 1 << 7,
};

// GetCPUFlags bits.
enum {
  CPUF_FORCE = 0x01,
  CPUF_FPU = 0x02,
  CPUF_MMX = 0x04,
  CPUF_INTEGER_SSE = 0x08,
  CPUF_SSE = 0x10,
  CPUF_SSE2 = 0x20,
  CPUF_3DNOW = 0x40,
  CPUF_3DNOW_EXT = 0x80,
  CPUF_X86_64 = 0xA0,
  CPUF_SSE3 = 0x100,
  CPUF_SSSE3 = 0x200,
  CPUF_SSE4 = 0x400,
  CPUF_SSE4_1 = 0x400,
  CPUF_AVX = 0x800,
  CPUF_SSE4_2 = 0x1000,
  CPUF_AVX2 = 0x2000,
  CPUF_FMA3 = 0x4000,
  CPUF_F16C = 0x8000,
};

// SetCacheHints queries an AviSynth+ core sends to clips reporting version 5 or later; a clip
// answers 0 to anything it doesn't handle.
enum {
  CACHE_DONT_CACHE_ME = 501,
  CACHE_SET_MIN_CAPACITY = 502,
  CACHE_SET_MAX_CAPACITY = 503,
  CACHE_GET_MIN_CAPACITY = 504,
  CACHE_GET_MAX_CAPACITY = 505,
  CACHE_GET_SIZE = 506,
  CACHE_GET_REQUESTED_CAP = 507,
  CACHE_GET_CAPACITY = 508,
  CACHE_GET_MTMODE = 509,
  CACHE_IS_CACHE_REQ = 510,
  CACHE_IS_CACHE_ANS = 511,
  CACHE_IS_MTGUARD_REQ = 512,
  CACHE_IS_MTGUARD_ANS = 513,
  CACHE_GET_DEV_TYPE = 601,
  CACHE_GET_CHILD_DEV_TYPE = 602,
};

// Frame properties (interface 8 and later): value types, read errors, write modes.
enum AVSPropTypes {
  PROPTYPE_UNSET = 'u',
  PROPTYPE_INT = 'i',
  PROPTYPE_FLOAT = 'f',
  PROPTYPE_DATA = 's',
  PROPTYPE_CLIP = 'c',
  PROPTYPE_FRAME = 'v',
};
enum AVSGetPropErrors {
  GETPROPERROR_SUCCESS = 0,
  GETPROPERROR_UNSET = 1,
  GETPROPERROR_TYPE = 2,
  GETPROPERROR_ERROR = 3,
  GETPROPERROR_INDEX = 4,
};
enum AVSPropAppendMode { PROPAPPENDMODE_REPLACE = 0, PROPAPPENDMODE_APPEND = 1, PROPAPPENDMODE_TOUCH = 2 };

// GetEnvProperty queries (interface 8 and later).
enum AvsEnvProperty {
  AEP_PHYSICAL_CPUS = 1,
  AEP_LOGICAL_CPUS = 2,
  AEP_THREADPOOL_THREADS = 3,
  AEP_FILTERCHAIN_THREADS = 4,
  AEP_THREAD_ID = 5,
  AEP_VERSION = 6,
  AEP_HOST_SYSTEM_ENDIANNESS = 7,
  AEP_INTERFACE_VERSION = 8,
  AEP_INTERFACE_BUGFIX = 9,
  AEP_NUM_DEVICES = 901,
  AEP_FRAME_ALIGN = 902,
  AEP_PLANE_ALIGN = 903,
  AEP_SUPPRESS_THREAD = 921,
  AEP_GETFRAME_RECURSIVE = 922,
};

// Answers to CACHE_GET_MTMODE.
enum MtMode { MT_INVALID = 0, MT_NICE_FILTER = 1, MT_MULTI_INSTANCE = 2, MT_SERIALIZED = 3, MT_SPECIAL_MT = 4, MT_MODE_COUNT = 5 };

// What ThrowError throws. Global, so that a plugin's catch matches a real core's error (the
// runtime compares exception types by mangled name).
class AvisynthError {
 public:
  const char* const msg;
  AvisynthError(const char* message) : msg(message) {}
};

// The classes live in an inline namespace: plugin code names them as usual, but their symbols
// can never interpose with (or be interposed by) a real libavisynth's same-named classes.
inline namespace korvala_avs6 {

class IClip;
class PClip;
class PVideoFrame;
class VideoFrame;
class VideoFrameBuffer;
class AVSValue;
class IScriptEnvironment;
struct AVS_Linkage;
struct AVSMap;  // a frame's properties; only the host knows its layout

typedef AVSValue(__cdecl* ApplyFunc)(AVSValue args, void* user_data, IScriptEnvironment* env);
typedef void(__cdecl* ShutdownFunc)(void* user_data, IScriptEnvironment* env);

// 48 bytes, trivially copyable. The helpers are computed from the fields, never by the host.
struct VideoInfo {
  // Pixel types: a bit field, named inside VideoInfo as in AviSynth+ (VideoInfo::CS_YV12).
  enum AvsColorFormat {
    CS_BGR = 1 << 28,
    CS_YUV = 1 << 29,
    CS_INTERLEAVED = 1 << 30,
    CS_PLANAR = INT_MIN,  // bit 31

    CS_Shift_Sub_Width = 0,
    CS_Shift_Sub_Height = 8,
    CS_Shift_Sample_Bits = 16,

    CS_Sub_Width_Mask = 7 << CS_Shift_Sub_Width,
    CS_Sub_Width_1 = 3 << CS_Shift_Sub_Width,
    CS_Sub_Width_2 = 0 << CS_Shift_Sub_Width,
    CS_Sub_Width_4 = 1 << CS_Shift_Sub_Width,
    CS_Sub_Height_Mask = 7 << CS_Shift_Sub_Height,
    CS_Sub_Height_1 = 3 << CS_Shift_Sub_Height,
    CS_Sub_Height_2 = 0 << CS_Shift_Sub_Height,
    CS_Sub_Height_4 = 1 << CS_Shift_Sub_Height,

    CS_VPlaneFirst = 1 << 3,
    CS_UPlaneFirst = 1 << 4,
    CS_YUVA = 1 << 27,

    CS_Sample_Bits_Mask = 7 << CS_Shift_Sample_Bits,
    CS_Sample_Bits_8 = 0 << CS_Shift_Sample_Bits,
    CS_Sample_Bits_10 = 5 << CS_Shift_Sample_Bits,
    CS_Sample_Bits_12 = 6 << CS_Shift_Sample_Bits,
    CS_Sample_Bits_14 = 7 << CS_Shift_Sample_Bits,
    CS_Sample_Bits_16 = 1 << CS_Shift_Sample_Bits,
    CS_Sample_Bits_32 = 2 << CS_Shift_Sample_Bits,

    // Bits that name a planar format; the plane order bits are left out, so YV12 matches I420.
    CS_PLANAR_MASK = CS_PLANAR | CS_INTERLEAVED | CS_YUV | CS_BGR | CS_YUVA | CS_Sample_Bits_Mask |
                     CS_Sub_Height_Mask | CS_Sub_Width_Mask,

    CS_UNKNOWN = 0,
    CS_BGR24 = (1 << 0) | CS_BGR | CS_INTERLEAVED,
    CS_BGR32 = (1 << 1) | CS_BGR | CS_INTERLEAVED,
    CS_YUY2 = (1 << 2) | CS_YUV | CS_INTERLEAVED,
    CS_RGB24 = CS_BGR24,
    CS_RGB32 = CS_BGR32,

    CS_GENERIC_YUV420 = CS_PLANAR | CS_YUV | CS_VPlaneFirst | CS_Sub_Height_2 | CS_Sub_Width_2,
    CS_GENERIC_YUV422 = CS_PLANAR | CS_YUV | CS_VPlaneFirst | CS_Sub_Height_1 | CS_Sub_Width_2,
    CS_GENERIC_YUV444 = CS_PLANAR | CS_YUV | CS_VPlaneFirst | CS_Sub_Height_1 | CS_Sub_Width_1,
    CS_GENERIC_Y = CS_PLANAR | CS_INTERLEAVED | CS_YUV,

    CS_YV12 = CS_GENERIC_YUV420 | CS_Sample_Bits_8,
    CS_I420 = CS_PLANAR | CS_YUV | CS_Sample_Bits_8 | CS_UPlaneFirst | CS_Sub_Height_2 | CS_Sub_Width_2,
    CS_IYUV = CS_I420,
    CS_YV16 = CS_GENERIC_YUV422 | CS_Sample_Bits_8,
    CS_YV24 = CS_GENERIC_YUV444 | CS_Sample_Bits_8,
    CS_Y8 = CS_GENERIC_Y | CS_Sample_Bits_8,

    CS_YUV420P10 = CS_GENERIC_YUV420 | CS_Sample_Bits_10,
    CS_YUV420P12 = CS_GENERIC_YUV420 | CS_Sample_Bits_12,
    CS_YUV420P14 = CS_GENERIC_YUV420 | CS_Sample_Bits_14,
    CS_YUV420P16 = CS_GENERIC_YUV420 | CS_Sample_Bits_16,
    CS_YUV420PS = CS_GENERIC_YUV420 | CS_Sample_Bits_32,
    CS_YUV422P10 = CS_GENERIC_YUV422 | CS_Sample_Bits_10,
    CS_YUV422P16 = CS_GENERIC_YUV422 | CS_Sample_Bits_16,
    CS_YUV444P10 = CS_GENERIC_YUV444 | CS_Sample_Bits_10,
    CS_YUV444P16 = CS_GENERIC_YUV444 | CS_Sample_Bits_16,
    CS_Y10 = CS_GENERIC_Y | CS_Sample_Bits_10,
    CS_Y16 = CS_GENERIC_Y | CS_Sample_Bits_16,
  };

  int width;  // 0: no video
  int height;
  unsigned fps_numerator;
  unsigned fps_denominator;
  int num_frames;
  int pixel_type;
  int audio_samples_per_second;  // 0: no audio
  int sample_type;
  int64_t num_audio_samples;
  int nchannels;
  int image_type;

  enum AvsImageTypeFlags { IT_BFF = 1 << 0, IT_TFF = 1 << 1, IT_FIELDBASED = 1 << 2 };

  constexpr bool HasVideo() const { return width != 0; }
  constexpr bool HasAudio() const { return audio_samples_per_second != 0; }
  constexpr bool IsPlanar() const { return (pixel_type & CS_PLANAR) != 0; }
  constexpr bool IsYUV() const { return (pixel_type & CS_YUV) != 0; }
  constexpr bool IsRGB() const { return (pixel_type & CS_BGR) != 0; }
  constexpr bool IsYUVA() const { return (pixel_type & CS_YUVA) != 0; }
  constexpr bool IsYUY2() const { return !IsPlanar() && (pixel_type & CS_YUY2) == CS_YUY2; }
  constexpr bool IsY() const { return (pixel_type & CS_GENERIC_Y) == CS_GENERIC_Y; }
  constexpr bool IsVPlaneFirst() const {
    return IsPlanar() && !IsY() && (pixel_type & (CS_VPlaneFirst | CS_UPlaneFirst)) == CS_VPlaneFirst;
  }

  // By subsampling code (0: shift 1, 3: shift 0).
  constexpr bool Is420() const {
    return IsPlanarYUVWithChroma() && (pixel_type & CS_Sub_Width_Mask) == CS_Sub_Width_2 &&
           (pixel_type & CS_Sub_Height_Mask) == CS_Sub_Height_2;
  }
  constexpr bool Is422() const {
    return IsPlanarYUVWithChroma() && (pixel_type & CS_Sub_Width_Mask) == CS_Sub_Width_2 &&
           (pixel_type & CS_Sub_Height_Mask) == CS_Sub_Height_1;
  }
  constexpr bool Is444() const {
    return IsPlanarYUVWithChroma() && (pixel_type & CS_Sub_Width_Mask) == CS_Sub_Width_1 &&
           (pixel_type & CS_Sub_Height_Mask) == CS_Sub_Height_1;
  }
  constexpr bool IsYV12() const { return Is420() && !IsYUVA() && BitsPerComponent() == 8; }
  constexpr bool IsYV16() const { return Is422() && !IsYUVA() && BitsPerComponent() == 8; }
  constexpr bool IsYV24() const { return Is444() && !IsYUVA() && BitsPerComponent() == 8; }
  constexpr bool IsY8() const { return IsY() && BitsPerComponent() == 8; }

  constexpr bool IsColorSpace(int c_space) const {
    return IsPlanar() ? (pixel_type & CS_PLANAR_MASK) == (c_space & CS_PLANAR_MASK)
                      : (pixel_type & c_space) == c_space;
  }
  constexpr bool IsSameColorspace(const VideoInfo& vi) const {
    return vi.pixel_type == pixel_type ||
           (IsPlanar() && vi.IsPlanar() && (pixel_type & CS_PLANAR_MASK) == (vi.pixel_type & CS_PLANAR_MASK));
  }

  constexpr bool Is(int property) const { return (image_type & property) == property; }
  constexpr bool IsFieldBased() const { return (image_type & IT_FIELDBASED) != 0; }
  constexpr bool IsParityKnown() const { return IsFieldBased() && (image_type & (IT_BFF | IT_TFF)) != 0; }
  constexpr bool IsBFF() const { return (image_type & IT_BFF) != 0; }
  constexpr bool IsTFF() const { return (image_type & IT_TFF) != 0; }

  constexpr int BitsPerComponent() const {
    switch ((pixel_type & CS_Sample_Bits_Mask) >> CS_Shift_Sample_Bits) {
      case 0: return 8;
      case 1: return 16;
      case 2: return 32;
      case 5: return 10;
      case 6: return 12;
      case 7: return 14;
      default: return 0;
    }
  }
  constexpr int ComponentSize() const {
    return BitsPerComponent() == 8 ? 1 : BitsPerComponent() == 32 ? 4 : BitsPerComponent() ? 2 : 0;
  }
  constexpr int NumComponents() const {
    if (IsY()) return 1;
    if (IsYUVA()) return 4;
    if (!IsPlanar() && IsRGB()) return (pixel_type & (1 << 1)) ? 4 : 3;  // RGB32/RGB64 carry alpha
    return 3;
  }

  // Shift of the plane's dimension against the luma plane; 0 for luma and for formats
  // without chroma planes.
  constexpr int GetPlaneWidthSubsampling(int plane) const {
    return IsChromaPlane(plane) ? ShiftOf((pixel_type & CS_Sub_Width_Mask) >> CS_Shift_Sub_Width) : 0;
  }
  constexpr int GetPlaneHeightSubsampling(int plane) const {
    return IsChromaPlane(plane) ? ShiftOf((pixel_type & CS_Sub_Height_Mask) >> CS_Shift_Sub_Height) : 0;
  }

  // Bytes of `pixels` luma-plane pixels (of whole packed pixels for interleaved formats).
  constexpr int BytesFromPixels(int pixels) const {
    if (IsPlanar()) return pixels * ComponentSize();
    if (IsYUY2()) return pixels * 2;
    return pixels * NumComponents() * ComponentSize();
  }
  // Bytes in one row of the plane (0 for a plane the format lacks); the aligned selectors
  // round up to FRAME_ALIGN.
  constexpr int RowSize(int plane = 0) const {
    if (IsChromaPlane(plane) && !IsPlanarYUVWithChroma()) return 0;
    const int bytes = IsPlanar() ? (width >> GetPlaneWidthSubsampling(plane)) * ComponentSize()
                                 : BytesFromPixels(width);
    return (plane & PLANAR_ALIGNED) ? (bytes + FRAME_ALIGN - 1) / FRAME_ALIGN * FRAME_ALIGN : bytes;
  }

  // Stores the rate reduced to lowest terms; leaves it alone for 0/0.
  void SetFPS(unsigned numerator, unsigned denominator) {
    unsigned x = numerator, y = denominator;
    while (y) {
      const unsigned t = x % y;
      x = y;
      y = t;
    }
    if (x == 0) return;
    fps_numerator = numerator / x;
    fps_denominator = denominator / x;
  }

 private:
  constexpr bool IsPlanarYUVWithChroma() const { return IsPlanar() && IsYUV() && !IsY(); }
  static constexpr bool IsChromaPlane(int plane) {
    return (plane & ~PLANAR_ALIGNED) == PLANAR_U || (plane & ~PLANAR_ALIGNED) == PLANAR_V;
  }
  // Subsampling code to shift: 0 -> 1, 1 -> 2, 3 -> 0.
  static constexpr int ShiftOf(int code) { return (code + 1) & 3; }
};

// A frame lives in the host; a plugin only ever holds it through PVideoFrame.
class VideoFrame {
 public:
  int GetPitch(int plane = 0) const;
  int GetRowSize(int plane = 0) const;
  int GetHeight(int plane = 0) const;
  int GetOffset(int plane = 0) const;
  const BYTE* GetReadPtr(int plane = 0) const;
  // Null for the luma/default plane while the frame is shared.
  BYTE* GetWritePtr(int plane = 0) const;
  bool IsWritable() const;

  VideoFrame() = delete;
  VideoFrame(const VideoFrame&) = delete;
  VideoFrame& operator=(const VideoFrame&) = delete;
};

// The clip interface a source derives from. The host owns clips through their reference count
// and deletes them (vtable slot 7) when it falls to 0; a clip must be made with `new`.
class IClip {
  friend class PClip;
  friend class AVSValue;
  [[maybe_unused]] volatile long refcnt;  // 8 bytes at offset 8; counted by the host only

 public:
  IClip() : refcnt(0) {}
  virtual int __stdcall GetVersion() { return AVISYNTH_INTERFACE_VERSION; }
  virtual PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) = 0;
  virtual bool __stdcall GetParity(int n) = 0;
  virtual void __stdcall GetAudio(void* buf, int64_t start, int64_t count, IScriptEnvironment* env) = 0;
  virtual int __stdcall SetCacheHints(int cachehints, int frame_range) = 0;
  virtual const VideoInfo& __stdcall GetVideoInfo() = 0;
  virtual __stdcall ~IClip() {}
};

// The counted smart pointers. Their user-provided copy and destructor matter beyond counting:
// they make the types non-trivial for calls, so they are returned through a hidden pointer as
// the host expects.
class PClip {
 public:
  PClip();
  PClip(const PClip& x);
  PClip(IClip* x);
  PClip& operator=(IClip* x);
  PClip& operator=(const PClip& x);
  ~PClip();

  IClip* operator->() const { return p; }
  int operator!() const { return !p; }
  operator void*() const { return p; }

 private:
  IClip* p;
};

class PVideoFrame {
 public:
  PVideoFrame();
  PVideoFrame(const PVideoFrame& x);
  PVideoFrame(VideoFrame* x);
  PVideoFrame& operator=(VideoFrame* x);
  PVideoFrame& operator=(const PVideoFrame& x);
  ~PVideoFrame();

  VideoFrame* operator->() const { return p; }
  operator VideoFrame*() const { return p; }
  bool operator!() const { return !p; }

 private:
  VideoFrame* p;
};

// A script value: 16 bytes, every operation done by the host.
class AVSValue {
 public:
  AVSValue();
  AVSValue(IClip* c);
  AVSValue(const PClip& c);
  AVSValue(bool b);
  AVSValue(int i);
  AVSValue(float f);
  AVSValue(double f);
  AVSValue(const char* s);  // the string is not copied: use host storage (SaveString)
  AVSValue(const AVSValue* a, int size);  // an array; the host copies the elements
  AVSValue(const AVSValue& v);
  ~AVSValue();
  AVSValue& operator=(const AVSValue& v);

  // Element of an array; a non-array value is its own element 0.
  const AVSValue& operator[](int index) const;

  bool Defined() const;
  bool IsClip() const;
  bool IsBool() const;
  bool IsInt() const;
  bool IsFloat() const;
  bool IsString() const;
  bool IsArray() const;

  PClip AsClip() const;
  bool AsBool() const;
  int AsInt() const;
  const char* AsString() const;
  double AsFloat() const;
  bool AsBool(bool def) const;
  int AsInt(int def) const;
  double AsDblDef(double def) const;
  double AsFloat(float def) const;
  const char* AsString(const char* def) const;

  int ArraySize() const;

 private:
  void Clear();

  short type;  // 'v' undefined, 'c' clip, 'b', 'i', 'l' int64, 'f' float, 'd' double, 's', 'a' array
  short array_size;
  union {
    IClip* clip;
    bool boolean;
    int integer;
    float floating_pt;
    const char* string;
    const AVSValue* array;
    void* function;
    int64_t longlong;
    double double_pt;
  };
};

// The host environment. Slots 0-29 of its vtable are the 2.6 interface, 30-58 the first part of
// interface 8, in this order.
class IScriptEnvironment {
 public:
  typedef korvala_avs6::ApplyFunc ApplyFunc;
  typedef korvala_avs6::ShutdownFunc ShutdownFunc;
  enum PlanarChromaAlignmentMode { PlanarChromaAlignmentOff, PlanarChromaAlignmentOn, PlanarChromaAlignmentTest };

  virtual __stdcall ~IScriptEnvironment() {}  // slots 0 and 1

  virtual int __stdcall GetCPUFlags() = 0;                                         // 2
  virtual char* __stdcall SaveString(const char* s, int length = -1) = 0;          // 3
  virtual char* __stdcall Sprintf(const char* fmt, ...) = 0;                       // 4
  virtual char* __stdcall VSprintf(const char* fmt, va_list val) = 0;              // 5
  [[noreturn]] virtual void __stdcall ThrowError(const char* fmt, ...) = 0;        // 6
  virtual void __stdcall AddFunction(const char* name, const char* params, ApplyFunc apply,
                                     void* user_data) = 0;                         // 7
  virtual bool __stdcall FunctionExists(const char* name) = 0;                     // 8
  virtual AVSValue __stdcall Invoke(const char* name, const AVSValue args,
                                    const char* const* arg_names = 0) = 0;         // 9
  virtual AVSValue __stdcall GetVar(const char* name) = 0;                         // 10
  virtual bool __stdcall SetVar(const char* name, const AVSValue& val) = 0;        // 11
  virtual bool __stdcall SetGlobalVar(const char* name, const AVSValue& val) = 0;  // 12
  virtual void __stdcall PushContext(int level = 0) = 0;                           // 13
  virtual void __stdcall PopContext() = 0;                                         // 14
  virtual PVideoFrame __stdcall NewVideoFrame(const VideoInfo& vi, int align = FRAME_ALIGN) = 0;  // 15
  virtual bool __stdcall MakeWritable(PVideoFrame* pvf) = 0;                       // 16
  virtual void __stdcall BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch,
                                int row_size, int height) = 0;                     // 17
  virtual void __stdcall AtExit(ShutdownFunc function, void* user_data) = 0;       // 18
  virtual void __stdcall CheckVersion(int version = AVISYNTH_INTERFACE_VERSION) = 0;  // 19
  virtual PVideoFrame __stdcall Subframe(PVideoFrame src, int rel_offset, int new_pitch,
                                         int new_row_size, int new_height) = 0;    // 20
  virtual int __stdcall SetMemoryMax(int mem) = 0;                                 // 21
  virtual int __stdcall SetWorkingDir(const char* newdir) = 0;                     // 22
  virtual void* __stdcall ManageCache(int key, void* data) = 0;                    // 23
  virtual bool __stdcall PlanarChromaAlignment(PlanarChromaAlignmentMode key) = 0;  // 24
  virtual PVideoFrame __stdcall SubframePlanar(PVideoFrame src, int rel_offset, int new_pitch,
                                               int new_row_size, int new_height, int rel_offsetU,
                                               int rel_offsetV, int new_pitchUV) = 0;  // 25
  virtual void __stdcall DeleteScriptEnvironment() = 0;                            // 26
  virtual void __stdcall ApplyMessage(PVideoFrame* frame, const VideoInfo& vi, const char* message,
                                      int size, int textcolor, int halocolor, int bgcolor) = 0;  // 27
  virtual const AVS_Linkage* __stdcall GetAVSLinkage() = 0;                        // 28
  virtual AVSValue __stdcall GetVarDef(const char* name, const AVSValue& def = AVSValue()) = 0;  // 29

  // Interface 8 (AviSynth+ 3.6) and later, up to GetEnvProperty: frame properties. An older host's
  // table ends above, so a plugin calls these only after CheckVersion(8) has returned.
  virtual PVideoFrame __stdcall SubframePlanarA(PVideoFrame src, int rel_offset, int new_pitch,
                                                int new_row_size, int new_height, int rel_offsetU,
                                                int rel_offsetV, int new_pitchUV, int rel_offsetA) = 0;  // 30
  virtual void __stdcall copyFrameProps(const PVideoFrame& src, PVideoFrame& dst) = 0;  // 31
  virtual const AVSMap* __stdcall getFramePropsRO(const PVideoFrame& frame) = 0;        // 32
  virtual AVSMap* __stdcall getFramePropsRW(PVideoFrame& frame) = 0;                    // 33
  virtual int __stdcall propNumKeys(const AVSMap* map) = 0;                             // 34
  virtual const char* __stdcall propGetKey(const AVSMap* map, int index) = 0;           // 35
  virtual int __stdcall propNumElements(const AVSMap* map, const char* key) = 0;        // 36
  virtual char __stdcall propGetType(const AVSMap* map, const char* key) = 0;           // 37
  virtual int64_t __stdcall propGetInt(const AVSMap* map, const char* key, int index, int* error) = 0;       // 38
  virtual double __stdcall propGetFloat(const AVSMap* map, const char* key, int index, int* error) = 0;      // 39
  virtual const char* __stdcall propGetData(const AVSMap* map, const char* key, int index, int* error) = 0;  // 40
  virtual int __stdcall propGetDataSize(const AVSMap* map, const char* key, int index, int* error) = 0;      // 41
  virtual PClip __stdcall propGetClip(const AVSMap* map, const char* key, int index, int* error) = 0;        // 42
  virtual const PVideoFrame __stdcall propGetFrame(const AVSMap* map, const char* key, int index,
                                                   int* error) = 0;                     // 43
  virtual int __stdcall propDeleteKey(AVSMap* map, const char* key) = 0;                // 44
  virtual int __stdcall propSetInt(AVSMap* map, const char* key, int64_t i, int append) = 0;      // 45
  virtual int __stdcall propSetFloat(AVSMap* map, const char* key, double d, int append) = 0;     // 46
  virtual int __stdcall propSetData(AVSMap* map, const char* key, const char* d, int length,
                                    int append) = 0;                                    // 47
  virtual int __stdcall propSetClip(AVSMap* map, const char* key, PClip& clip, int append) = 0;  // 48
  virtual int __stdcall propSetFrame(AVSMap* map, const char* key, const PVideoFrame& frame,
                                     int append) = 0;                                   // 49
  virtual const int64_t* __stdcall propGetIntArray(const AVSMap* map, const char* key, int* error) = 0;  // 50
  virtual const double* __stdcall propGetFloatArray(const AVSMap* map, const char* key, int* error) = 0;  // 51
  virtual int __stdcall propSetIntArray(AVSMap* map, const char* key, const int64_t* i, int size) = 0;    // 52
  virtual int __stdcall propSetFloatArray(AVSMap* map, const char* key, const double* d, int size) = 0;   // 53
  virtual AVSMap* __stdcall createMap() = 0;                                            // 54
  virtual void __stdcall freeMap(AVSMap* map) = 0;                                      // 55
  virtual void __stdcall clearMap(AVSMap* map) = 0;                                     // 56
  virtual PVideoFrame __stdcall NewVideoFrameP(const VideoInfo& vi, const PVideoFrame* prop_src,
                                               int align = FRAME_ALIGN) = 0;            // 57
  virtual size_t __stdcall GetEnvProperty(AvsEnvProperty prop) = 0;                     // 58
};

// The host function table: Size, then 16-byte member-function-pointer slots at 8 + 16 * slot.
// Slots up to the AviSynth+ VideoInfo block (142); a host may hand over a longer table.
struct AVS_Linkage {
  int Size;

  // VideoInfo, slots 0-41
  bool (VideoInfo::*HasVideo)() const;
  bool (VideoInfo::*HasAudio)() const;
  bool (VideoInfo::*IsRGB)() const;
  bool (VideoInfo::*IsRGB24)() const;
  bool (VideoInfo::*IsRGB32)() const;
  bool (VideoInfo::*IsYUV)() const;
  bool (VideoInfo::*IsYUY2)() const;
  bool (VideoInfo::*IsYV24)() const;
  bool (VideoInfo::*IsYV16)() const;
  bool (VideoInfo::*IsYV12)() const;
  bool (VideoInfo::*IsYV411)() const;
  bool (VideoInfo::*IsY8)() const;
  bool (VideoInfo::*IsColorSpace)(int c_space) const;
  bool (VideoInfo::*Is)(int property) const;
  bool (VideoInfo::*IsPlanar)() const;
  bool (VideoInfo::*IsFieldBased)() const;
  bool (VideoInfo::*IsParityKnown)() const;
  bool (VideoInfo::*IsBFF)() const;
  bool (VideoInfo::*IsTFF)() const;
  bool (VideoInfo::*IsVPlaneFirst)() const;
  int (VideoInfo::*BytesFromPixels)(int pixels) const;
  int (VideoInfo::*RowSize)(int plane) const;
  int (VideoInfo::*BMPSize)() const;
  int64_t (VideoInfo::*AudioSamplesFromFrames)(int frames) const;
  int (VideoInfo::*FramesFromAudioSamples)(int64_t samples) const;
  int64_t (VideoInfo::*AudioSamplesFromBytes)(int64_t bytes) const;
  int64_t (VideoInfo::*BytesFromAudioSamples)(int64_t samples) const;
  int (VideoInfo::*AudioChannels)() const;
  int (VideoInfo::*SampleType)() const;
  bool (VideoInfo::*IsSampleType)(int testtype) const;
  int (VideoInfo::*SamplesPerSecond)() const;
  int (VideoInfo::*BytesPerAudioSample)() const;
  void (VideoInfo::*SetFieldBased)(bool isfieldbased);
  void (VideoInfo::*Set)(int property);
  void (VideoInfo::*Clear)(int property);
  int (VideoInfo::*GetPlaneWidthSubsampling)(int plane) const;
  int (VideoInfo::*GetPlaneHeightSubsampling)(int plane) const;
  int (VideoInfo::*BitsPerPixel)() const;
  int (VideoInfo::*BytesPerChannelSample)() const;
  void (VideoInfo::*SetFPS)(unsigned numerator, unsigned denominator);
  void (VideoInfo::*MulDivFPS)(unsigned multiplier, unsigned divisor);
  bool (VideoInfo::*IsSameColorspace)(const VideoInfo& vi) const;

  // VideoFrameBuffer, slots 42-46
  const BYTE* (VideoFrameBuffer::*VFBGetReadPtr)() const;
  BYTE* (VideoFrameBuffer::*VFBGetWritePtr)();
  int (VideoFrameBuffer::*GetDataSize)() const;
  int (VideoFrameBuffer::*GetSequenceNumber)() const;
  int (VideoFrameBuffer::*GetRefcount)() const;

  // VideoFrame, slots 47-55
  int (VideoFrame::*GetPitch)(int plane) const;
  int (VideoFrame::*GetRowSize)(int plane) const;
  int (VideoFrame::*GetHeight)(int plane) const;
  VideoFrameBuffer* (VideoFrame::*GetFrameBuffer)() const;
  int (VideoFrame::*GetOffset)(int plane) const;
  const BYTE* (VideoFrame::*VFGetReadPtr)(int plane) const;
  bool (VideoFrame::*IsWritable)() const;
  BYTE* (VideoFrame::*VFGetWritePtr)(int plane) const;
  void (VideoFrame::*VideoFrame_DESTRUCTOR)();

  // PClip, slots 56-61
  void (PClip::*PClip_CONSTRUCTOR0)();
  void (PClip::*PClip_CONSTRUCTOR1)(const PClip& x);
  void (PClip::*PClip_CONSTRUCTOR2)(IClip* x);
  void (PClip::*PClip_OPERATOR_ASSIGN0)(IClip* x);
  void (PClip::*PClip_OPERATOR_ASSIGN1)(const PClip& x);
  void (PClip::*PClip_DESTRUCTOR)();

  // PVideoFrame, slots 62-67
  void (PVideoFrame::*PVideoFrame_CONSTRUCTOR0)();
  void (PVideoFrame::*PVideoFrame_CONSTRUCTOR1)(const PVideoFrame& x);
  void (PVideoFrame::*PVideoFrame_CONSTRUCTOR2)(VideoFrame* x);
  void (PVideoFrame::*PVideoFrame_OPERATOR_ASSIGN0)(VideoFrame* x);
  void (PVideoFrame::*PVideoFrame_OPERATOR_ASSIGN1)(const PVideoFrame& x);
  void (PVideoFrame::*PVideoFrame_DESTRUCTOR)();

  // AVSValue, slots 68-103
  void (AVSValue::*AVSValue_CONSTRUCTOR0)();
  void (AVSValue::*AVSValue_CONSTRUCTOR1)(IClip* c);
  void (AVSValue::*AVSValue_CONSTRUCTOR2)(const PClip& c);
  void (AVSValue::*AVSValue_CONSTRUCTOR3)(bool b);
  void (AVSValue::*AVSValue_CONSTRUCTOR4)(int i);
  void (AVSValue::*AVSValue_CONSTRUCTOR5)(float f);
  void (AVSValue::*AVSValue_CONSTRUCTOR6)(double f);
  void (AVSValue::*AVSValue_CONSTRUCTOR7)(const char* s);
  void (AVSValue::*AVSValue_CONSTRUCTOR8)(const AVSValue* a, int size);
  void (AVSValue::*AVSValue_CONSTRUCTOR9)(const AVSValue& v);
  void (AVSValue::*AVSValue_DESTRUCTOR)();
  AVSValue& (AVSValue::*AVSValue_OPERATOR_ASSIGN)(const AVSValue& v);
  const AVSValue& (AVSValue::*AVSValue_OPERATOR_INDEX)(int index) const;
  bool (AVSValue::*Defined)() const;
  bool (AVSValue::*IsClip)() const;
  bool (AVSValue::*IsBool)() const;
  bool (AVSValue::*IsInt)() const;
  bool (AVSValue::*IsFloat)() const;
  bool (AVSValue::*IsString)() const;
  bool (AVSValue::*IsArray)() const;
  PClip (AVSValue::*AsClip)() const;
  bool (AVSValue::*AsBool1)() const;
  int (AVSValue::*AsInt1)() const;
  const char* (AVSValue::*AsString1)() const;
  double (AVSValue::*AsFloat1)() const;
  bool (AVSValue::*AsBool2)(bool def) const;
  int (AVSValue::*AsInt2)(int def) const;
  double (AVSValue::*AsDblDef)(double def) const;
  double (AVSValue::*AsFloat2)(float def) const;
  const char* (AVSValue::*AsString2)(const char* def) const;
  int (AVSValue::*ArraySize)() const;
  bool (AVSValue::*IsLongStrict)() const;
  bool (AVSValue::*IsFloatfStrict)() const;
  int64_t (AVSValue::*AsLong1)() const;
  int64_t (AVSValue::*AsLong2)(int64_t def) const;
  void (AVSValue::*AVSValue_CONSTRUCTOR12)(int64_t l);

  void (VideoInfo::*reserved[27])();  // slots 104-130, unused

  // VideoInfo (AviSynth+), slots 131-142
  int (VideoInfo::*NumComponents)() const;
  int (VideoInfo::*ComponentSize)() const;
  int (VideoInfo::*BitsPerComponent)() const;
  bool (VideoInfo::*Is444)() const;
  bool (VideoInfo::*Is422)() const;
  bool (VideoInfo::*Is420)() const;
  bool (VideoInfo::*IsY)() const;
  bool (VideoInfo::*IsRGB48)() const;
  bool (VideoInfo::*IsRGB64)() const;
  bool (VideoInfo::*IsYUVA)() const;
  bool (VideoInfo::*IsPlanarRGB)() const;
  bool (VideoInfo::*IsPlanarRGBA)() const;
};

}  // inline namespace korvala_avs6

#ifdef _WIN32
#define KORVALA_AVS_PLUGIN_DATA
#define KORVALA_AVS_PLUGIN_ENTRY __declspec(dllexport)
#else
#define KORVALA_AVS_PLUGIN_DATA __attribute__((visibility("hidden")))
#define KORVALA_AVS_PLUGIN_ENTRY __attribute__((visibility("default")))
#endif

// Defined by the plugin (hidden: a default-visibility object of this name would bind to a real
// libavisynth's read-only one) and set from AvisynthPluginInit3's second argument.
extern KORVALA_AVS_PLUGIN_DATA const AVS_Linkage* AVS_linkage;

// The entry the host looks up by name.
extern "C" KORVALA_AVS_PLUGIN_ENTRY const char* __stdcall AvisynthPluginInit3(
    IScriptEnvironment* env, const AVS_Linkage* const vectors);

// ---- Plugin-side wrappers: each call goes to the host's table slot. ----
// A slot is used only if the host's table is there and reaches it; otherwise the wrapper falls
// back to an empty value, as with a host too old to have the slot.
#define KORVALA_AVS_HAS(slot)                                                                \
  (::AVS_linkage && ::AVS_linkage->Size > 0 &&                                               \
   offsetof(AVS_Linkage, slot) + sizeof(::AVS_linkage->slot) <= static_cast<size_t>(::AVS_linkage->Size) && \
   ::AVS_linkage->slot)
#define KORVALA_AVS_CALL(slot) (this->*(::AVS_linkage->slot))

inline namespace korvala_avs6 {

inline int VideoFrame::GetPitch(int plane) const { return KORVALA_AVS_HAS(GetPitch) ? KORVALA_AVS_CALL(GetPitch)(plane) : 0; }
inline int VideoFrame::GetRowSize(int plane) const { return KORVALA_AVS_HAS(GetRowSize) ? KORVALA_AVS_CALL(GetRowSize)(plane) : 0; }
inline int VideoFrame::GetHeight(int plane) const { return KORVALA_AVS_HAS(GetHeight) ? KORVALA_AVS_CALL(GetHeight)(plane) : 0; }
inline int VideoFrame::GetOffset(int plane) const { return KORVALA_AVS_HAS(GetOffset) ? KORVALA_AVS_CALL(GetOffset)(plane) : 0; }
inline const BYTE* VideoFrame::GetReadPtr(int plane) const {
  return KORVALA_AVS_HAS(VFGetReadPtr) ? KORVALA_AVS_CALL(VFGetReadPtr)(plane) : nullptr;
}
inline BYTE* VideoFrame::GetWritePtr(int plane) const {
  return KORVALA_AVS_HAS(VFGetWritePtr) ? KORVALA_AVS_CALL(VFGetWritePtr)(plane) : nullptr;
}
inline bool VideoFrame::IsWritable() const { return KORVALA_AVS_HAS(IsWritable) && KORVALA_AVS_CALL(IsWritable)(); }

inline PClip::PClip() : p(nullptr) {
  if (KORVALA_AVS_HAS(PClip_CONSTRUCTOR0)) KORVALA_AVS_CALL(PClip_CONSTRUCTOR0)();
}
inline PClip::PClip(const PClip& x) : p(nullptr) {
  if (KORVALA_AVS_HAS(PClip_CONSTRUCTOR1)) KORVALA_AVS_CALL(PClip_CONSTRUCTOR1)(x);
}
inline PClip::PClip(IClip* x) : p(nullptr) {
  if (KORVALA_AVS_HAS(PClip_CONSTRUCTOR2)) KORVALA_AVS_CALL(PClip_CONSTRUCTOR2)(x);
}
inline PClip& PClip::operator=(IClip* x) {
  if (KORVALA_AVS_HAS(PClip_OPERATOR_ASSIGN0)) KORVALA_AVS_CALL(PClip_OPERATOR_ASSIGN0)(x);
  return *this;
}
inline PClip& PClip::operator=(const PClip& x) {
  if (KORVALA_AVS_HAS(PClip_OPERATOR_ASSIGN1)) KORVALA_AVS_CALL(PClip_OPERATOR_ASSIGN1)(x);
  return *this;
}
inline PClip::~PClip() {
  if (KORVALA_AVS_HAS(PClip_DESTRUCTOR)) KORVALA_AVS_CALL(PClip_DESTRUCTOR)();
}

inline PVideoFrame::PVideoFrame() : p(nullptr) {
  if (KORVALA_AVS_HAS(PVideoFrame_CONSTRUCTOR0)) KORVALA_AVS_CALL(PVideoFrame_CONSTRUCTOR0)();
}
inline PVideoFrame::PVideoFrame(const PVideoFrame& x) : p(nullptr) {
  if (KORVALA_AVS_HAS(PVideoFrame_CONSTRUCTOR1)) KORVALA_AVS_CALL(PVideoFrame_CONSTRUCTOR1)(x);
}
inline PVideoFrame::PVideoFrame(VideoFrame* x) : p(nullptr) {
  if (KORVALA_AVS_HAS(PVideoFrame_CONSTRUCTOR2)) KORVALA_AVS_CALL(PVideoFrame_CONSTRUCTOR2)(x);
}
inline PVideoFrame& PVideoFrame::operator=(VideoFrame* x) {
  if (KORVALA_AVS_HAS(PVideoFrame_OPERATOR_ASSIGN0)) KORVALA_AVS_CALL(PVideoFrame_OPERATOR_ASSIGN0)(x);
  return *this;
}
inline PVideoFrame& PVideoFrame::operator=(const PVideoFrame& x) {
  if (KORVALA_AVS_HAS(PVideoFrame_OPERATOR_ASSIGN1)) KORVALA_AVS_CALL(PVideoFrame_OPERATOR_ASSIGN1)(x);
  return *this;
}
inline PVideoFrame::~PVideoFrame() {
  if (KORVALA_AVS_HAS(PVideoFrame_DESTRUCTOR)) KORVALA_AVS_CALL(PVideoFrame_DESTRUCTOR)();
}

inline void AVSValue::Clear() {
  type = 'v';
  array_size = 0;
  longlong = 0;
}
inline AVSValue::AVSValue() {
  Clear();
  if (KORVALA_AVS_HAS(AVSValue_CONSTRUCTOR0)) KORVALA_AVS_CALL(AVSValue_CONSTRUCTOR0)();
}
inline AVSValue::AVSValue(IClip* c) {
  Clear();
  if (KORVALA_AVS_HAS(AVSValue_CONSTRUCTOR1)) KORVALA_AVS_CALL(AVSValue_CONSTRUCTOR1)(c);
}
inline AVSValue::AVSValue(const PClip& c) {
  Clear();
  if (KORVALA_AVS_HAS(AVSValue_CONSTRUCTOR2)) KORVALA_AVS_CALL(AVSValue_CONSTRUCTOR2)(c);
}
inline AVSValue::AVSValue(bool b) {
  Clear();
  if (KORVALA_AVS_HAS(AVSValue_CONSTRUCTOR3)) KORVALA_AVS_CALL(AVSValue_CONSTRUCTOR3)(b);
}
inline AVSValue::AVSValue(int i) {
  Clear();
  if (KORVALA_AVS_HAS(AVSValue_CONSTRUCTOR4)) KORVALA_AVS_CALL(AVSValue_CONSTRUCTOR4)(i);
}
inline AVSValue::AVSValue(float f) {
  Clear();
  if (KORVALA_AVS_HAS(AVSValue_CONSTRUCTOR5)) KORVALA_AVS_CALL(AVSValue_CONSTRUCTOR5)(f);
}
inline AVSValue::AVSValue(double f) {
  Clear();
  if (KORVALA_AVS_HAS(AVSValue_CONSTRUCTOR6)) KORVALA_AVS_CALL(AVSValue_CONSTRUCTOR6)(f);
}
inline AVSValue::AVSValue(const char* s) {
  Clear();
  if (KORVALA_AVS_HAS(AVSValue_CONSTRUCTOR7)) KORVALA_AVS_CALL(AVSValue_CONSTRUCTOR7)(s);
}
inline AVSValue::AVSValue(const AVSValue* a, int size) {
  Clear();
  if (KORVALA_AVS_HAS(AVSValue_CONSTRUCTOR8)) KORVALA_AVS_CALL(AVSValue_CONSTRUCTOR8)(a, size);
}
inline AVSValue::AVSValue(const AVSValue& v) {
  Clear();
  if (KORVALA_AVS_HAS(AVSValue_CONSTRUCTOR9)) KORVALA_AVS_CALL(AVSValue_CONSTRUCTOR9)(v);
}
inline AVSValue::~AVSValue() {
  if (KORVALA_AVS_HAS(AVSValue_DESTRUCTOR)) KORVALA_AVS_CALL(AVSValue_DESTRUCTOR)();
}
inline AVSValue& AVSValue::operator=(const AVSValue& v) {
  return KORVALA_AVS_HAS(AVSValue_OPERATOR_ASSIGN) ? KORVALA_AVS_CALL(AVSValue_OPERATOR_ASSIGN)(v) : *this;
}
inline const AVSValue& AVSValue::operator[](int index) const {
  return KORVALA_AVS_HAS(AVSValue_OPERATOR_INDEX) ? KORVALA_AVS_CALL(AVSValue_OPERATOR_INDEX)(index) : *this;
}
inline bool AVSValue::Defined() const { return KORVALA_AVS_HAS(Defined) && KORVALA_AVS_CALL(Defined)(); }
inline bool AVSValue::IsClip() const { return KORVALA_AVS_HAS(IsClip) && KORVALA_AVS_CALL(IsClip)(); }
inline bool AVSValue::IsBool() const { return KORVALA_AVS_HAS(IsBool) && KORVALA_AVS_CALL(IsBool)(); }
inline bool AVSValue::IsInt() const { return KORVALA_AVS_HAS(IsInt) && KORVALA_AVS_CALL(IsInt)(); }
inline bool AVSValue::IsFloat() const { return KORVALA_AVS_HAS(IsFloat) && KORVALA_AVS_CALL(IsFloat)(); }
inline bool AVSValue::IsString() const { return KORVALA_AVS_HAS(IsString) && KORVALA_AVS_CALL(IsString)(); }
inline bool AVSValue::IsArray() const { return KORVALA_AVS_HAS(IsArray) && KORVALA_AVS_CALL(IsArray)(); }
inline PClip AVSValue::AsClip() const { return KORVALA_AVS_HAS(AsClip) ? KORVALA_AVS_CALL(AsClip)() : PClip(); }
inline bool AVSValue::AsBool() const { return KORVALA_AVS_HAS(AsBool1) && KORVALA_AVS_CALL(AsBool1)(); }
inline int AVSValue::AsInt() const { return KORVALA_AVS_HAS(AsInt1) ? KORVALA_AVS_CALL(AsInt1)() : 0; }
inline const char* AVSValue::AsString() const { return KORVALA_AVS_HAS(AsString1) ? KORVALA_AVS_CALL(AsString1)() : nullptr; }
inline double AVSValue::AsFloat() const { return KORVALA_AVS_HAS(AsFloat1) ? KORVALA_AVS_CALL(AsFloat1)() : 0.0; }
inline bool AVSValue::AsBool(bool def) const { return KORVALA_AVS_HAS(AsBool2) ? KORVALA_AVS_CALL(AsBool2)(def) : def; }
inline int AVSValue::AsInt(int def) const { return KORVALA_AVS_HAS(AsInt2) ? KORVALA_AVS_CALL(AsInt2)(def) : def; }
inline double AVSValue::AsDblDef(double def) const { return KORVALA_AVS_HAS(AsDblDef) ? KORVALA_AVS_CALL(AsDblDef)(def) : def; }
inline double AVSValue::AsFloat(float def) const { return KORVALA_AVS_HAS(AsFloat2) ? KORVALA_AVS_CALL(AsFloat2)(def) : def; }
inline const char* AVSValue::AsString(const char* def) const {
  return KORVALA_AVS_HAS(AsString2) ? KORVALA_AVS_CALL(AsString2)(def) : def;
}
inline int AVSValue::ArraySize() const { return KORVALA_AVS_HAS(ArraySize) ? KORVALA_AVS_CALL(ArraySize)() : 1; }

}  // inline namespace korvala_avs6

#undef KORVALA_AVS_HAS
#undef KORVALA_AVS_CALL

#endif  // KORVALA_AVISYNTH_H
