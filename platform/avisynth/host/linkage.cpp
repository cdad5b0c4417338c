// The host's AVS_Linkage table. Each slot holds a free function whose first parameter is the
// object (`this`), stored as a non-virtual member-function pointer {function, adjustment 0};
// a member call through the slot is then exactly a call of that function. Class results
// (PClip) come back through the hidden return pointer, as from a member function.
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <utility>

#include "host_internal.h"

// The host's own use of PClip, PVideoFrame and AVSValue goes through the same table. Weak, so
// that plugin code linked into the same program (with its own definition) still links; the
// table is stored into whichever definition won, before anything can use it. PE objects have
// no usable weak data, so a Windows program that links the host loads its plugins as DLLs only.
#ifdef _WIN32
const AVS_Linkage* AVS_linkage = nullptr;
#else
__attribute__((weak)) const AVS_Linkage* AVS_linkage = nullptr;
#endif

namespace avshost::detail {
namespace {

// Slot functions must be at even addresses: an odd pointer means "virtual" to the caller.
#define SLOT_FN static __attribute__((aligned(16)))

// ---- raw layouts of the counted types (ABI: AVSValue 16 bytes, PClip/PVideoFrame 8) ----
struct RawValue {
  short type;
  short array_size;
  union {
    IClip* clip;
    bool boolean;
    int integer;
    float floating_pt;
    const char* string;
    RawValue* array;
    void* function;
    int64_t longlong;
    double double_pt;
  };
};
static_assert(sizeof(RawValue) == sizeof(AVSValue), "AVSValue layout");
struct RawClipRef {
  IClip* p;
};
static_assert(sizeof(RawClipRef) == sizeof(PClip), "PClip layout");
struct RawFrameRef {
  FrameRecord* p;
};
static_assert(sizeof(RawFrameRef) == sizeof(PVideoFrame), "PVideoFrame layout");

RawValue& Raw(AVSValue* v) { return *reinterpret_cast<RawValue*>(v); }
const RawValue& Raw(const AVSValue* v) { return *reinterpret_cast<const RawValue*>(v); }

std::atomic<long> g_clipsDestroyed{0};

void SetUndefined(RawValue& v) {
  v.type = 'v';
  v.array_size = 0;
  v.longlong = 0;
}

// Deep copy: arrays get their own elements, clips one more reference.
void CopyValue(RawValue& dst, const RawValue& src) {
  SetUndefined(dst);
  if (src.type == 'a') {
    const int n = src.array_size > 0 ? src.array_size : 0;
    RawValue* elements = n ? new RawValue[n] : nullptr;
    for (int i = 0; i < n; ++i) CopyValue(elements[i], src.array[i]);
    dst.type = 'a';
    dst.array_size = static_cast<short>(n);
    dst.array = elements;
    return;
  }
  dst = src;
  if (dst.type == 'c') AddRef(dst.clip);
}

void DestroyValue(RawValue& v) {
  if (v.type == 'a') {
    for (int i = 0; i < v.array_size; ++i) DestroyValue(v.array[i]);
    delete[] v.array;
  } else if (v.type == 'c') {
    Release(v.clip);
  }
  SetUndefined(v);
}

const AVSValue& UndefinedValue() {
  static const RawValue undefined = {'v', 0, {nullptr}};
  return *reinterpret_cast<const AVSValue*>(&undefined);
}

// ---- VideoInfo: the header's own helpers, for plugins whose header asks the host ----
template <auto M>
struct Forward;
template <class R, class... A, R (VideoInfo::*M)(A...) const>
struct Forward<M> {
  SLOT_FN R Call(const VideoInfo* vi, A... a) { return (vi->*M)(a...); }
};
template <class... A, void (VideoInfo::*M)(A...)>
struct Forward<M> {
  SLOT_FN void Call(VideoInfo* vi, A... a) { (vi->*M)(a...); }
};

// ---- VideoFrame ----
SLOT_FN int FrameGetPitch(const VideoFrame* f, int plane) {
  const PlaneLayout* p = PlaneOf(*RecordOf(f), plane);
  return p ? p->pitch : 0;
}
SLOT_FN int FrameGetRowSize(const VideoFrame* f, int plane) {
  const PlaneLayout* p = PlaneOf(*RecordOf(f), plane);
  if (!p) return 0;
  if (plane & PLANAR_ALIGNED) return std::min(p->pitch, (p->rowSize + FRAME_ALIGN - 1) / FRAME_ALIGN * FRAME_ALIGN);
  return p->rowSize;
}
SLOT_FN int FrameGetHeight(const VideoFrame* f, int plane) {
  const PlaneLayout* p = PlaneOf(*RecordOf(f), plane);
  return p ? p->height : 0;
}
SLOT_FN int FrameGetOffset(const VideoFrame* f, int plane) {
  const PlaneLayout* p = PlaneOf(*RecordOf(f), plane);
  return p ? static_cast<int>(p->offset) : 0;
}
SLOT_FN const BYTE* FrameGetReadPtr(const VideoFrame* f, int plane) {
  const FrameRecord& r = *RecordOf(f);
  const PlaneLayout* p = PlaneOf(r, plane);
  return p ? r.block + p->offset : nullptr;
}
SLOT_FN bool FrameIsWritable(const VideoFrame* f) { return RecordOf(f)->refs.load() == 1; }
// As AviSynth+ does: the luma/default plane only while the frame has one reference; the
// chroma planes are not checked.
SLOT_FN BYTE* FrameGetWritePtr(const VideoFrame* f, int plane) {
  FrameRecord& r = *RecordOf(f);
  const PlaneLayout* p = PlaneOf(r, plane);
  if (!p) return nullptr;
  if (p == &r.planes[0] && r.refs.load() != 1) return nullptr;
  return r.block + p->offset;
}

// ---- PClip ----
SLOT_FN void ClipRefInit(PClip* self) { reinterpret_cast<RawClipRef*>(self)->p = nullptr; }
SLOT_FN void ClipRefCopy(PClip* self, const PClip& x) {
  IClip* c = reinterpret_cast<const RawClipRef&>(x).p;
  AddRef(c);
  reinterpret_cast<RawClipRef*>(self)->p = c;
}
SLOT_FN void ClipRefFrom(PClip* self, IClip* x) {
  AddRef(x);
  reinterpret_cast<RawClipRef*>(self)->p = x;
}
SLOT_FN void ClipRefAssign(PClip* self, IClip* x) {
  RawClipRef* r = reinterpret_cast<RawClipRef*>(self);
  AddRef(x);
  IClip* old = std::exchange(r->p, x);
  Release(old);
}
SLOT_FN void ClipRefAssignRef(PClip* self, const PClip& x) { ClipRefAssign(self, reinterpret_cast<const RawClipRef&>(x).p); }
SLOT_FN void ClipRefDestroy(PClip* self) { Release(std::exchange(reinterpret_cast<RawClipRef*>(self)->p, nullptr)); }

// ---- PVideoFrame ----
SLOT_FN void FrameRefInit(PVideoFrame* self) { reinterpret_cast<RawFrameRef*>(self)->p = nullptr; }
SLOT_FN void FrameRefCopy(PVideoFrame* self, const PVideoFrame& x) {
  FrameRecord* f = reinterpret_cast<const RawFrameRef&>(x).p;
  AddRef(f);
  reinterpret_cast<RawFrameRef*>(self)->p = f;
}
SLOT_FN void FrameRefFrom(PVideoFrame* self, VideoFrame* x) {
  AddRef(RecordOf(x));
  reinterpret_cast<RawFrameRef*>(self)->p = RecordOf(x);
}
SLOT_FN void FrameRefAssign(PVideoFrame* self, VideoFrame* x) {
  RawFrameRef* r = reinterpret_cast<RawFrameRef*>(self);
  AddRef(RecordOf(x));
  FrameRecord* old = std::exchange(r->p, RecordOf(x));
  Release(old);
}
SLOT_FN void FrameRefAssignRef(PVideoFrame* self, const PVideoFrame& x) {
  FrameRefAssign(self, FrameOf(reinterpret_cast<const RawFrameRef&>(x).p));
}
SLOT_FN void FrameRefDestroy(PVideoFrame* self) { Release(std::exchange(reinterpret_cast<RawFrameRef*>(self)->p, nullptr)); }

// ---- AVSValue ----
SLOT_FN void ValueInit(AVSValue* self) { SetUndefined(Raw(self)); }
SLOT_FN void ValueFromClip(AVSValue* self, IClip* c) {
  RawValue& v = Raw(self);
  SetUndefined(v);
  v.type = 'c';
  v.clip = c;
  AddRef(c);
}
SLOT_FN void ValueFromClipRef(AVSValue* self, const PClip& c) { ValueFromClip(self, reinterpret_cast<const RawClipRef&>(c).p); }
SLOT_FN void ValueFromBool(AVSValue* self, bool b) {
  RawValue& v = Raw(self);
  SetUndefined(v);
  v.type = 'b';
  v.boolean = b;
}
SLOT_FN void ValueFromInt(AVSValue* self, int i) {
  RawValue& v = Raw(self);
  SetUndefined(v);
  v.type = 'i';
  v.integer = i;
}
SLOT_FN void ValueFromFloat(AVSValue* self, float f) {
  RawValue& v = Raw(self);
  SetUndefined(v);
  v.type = 'f';
  v.floating_pt = f;
}
SLOT_FN void ValueFromDouble(AVSValue* self, double d) {
  RawValue& v = Raw(self);
  SetUndefined(v);
  v.type = 'd';
  v.double_pt = d;
}
SLOT_FN void ValueFromString(AVSValue* self, const char* s) {
  RawValue& v = Raw(self);
  SetUndefined(v);
  v.type = 's';
  v.string = s;
}
SLOT_FN void ValueFromLong(AVSValue* self, int64_t l) {
  RawValue& v = Raw(self);
  SetUndefined(v);
  v.type = 'l';
  v.longlong = l;
}
SLOT_FN void ValueFromArray(AVSValue* self, const AVSValue* a, int size) {
  RawValue source;
  SetUndefined(source);
  source.type = 'a';
  // The count is a short in the value; more elements than it holds can't be represented.
  source.array_size = static_cast<short>(size < 0 || !a ? 0 : std::min(size, 32767));
  source.array = const_cast<RawValue*>(reinterpret_cast<const RawValue*>(a));
  CopyValue(Raw(self), source);
}
SLOT_FN void ValueCopy(AVSValue* self, const AVSValue& v) { CopyValue(Raw(self), Raw(&v)); }
SLOT_FN void ValueDestroy(AVSValue* self) { DestroyValue(Raw(self)); }
SLOT_FN AVSValue& ValueAssign(AVSValue* self, const AVSValue& v) {
  RawValue copy;
  CopyValue(copy, Raw(&v));  // before destroying: v may be self or inside self
  DestroyValue(Raw(self));
  Raw(self) = copy;
  return *self;
}
// Out of range (or any index but 0 of a non-array) yields an undefined value, never a read
// outside the array.
SLOT_FN const AVSValue& ValueIndex(const AVSValue* self, int index) {
  const RawValue& v = Raw(self);
  if (v.type == 'a') {
    if (index < 0 || index >= v.array_size) return UndefinedValue();
    return *reinterpret_cast<const AVSValue*>(&v.array[index]);
  }
  return index == 0 ? *self : UndefinedValue();
}
SLOT_FN bool ValueDefined(const AVSValue* self) { return Raw(self).type != 'v'; }
SLOT_FN bool ValueIsClip(const AVSValue* self) { return Raw(self).type == 'c'; }
SLOT_FN bool ValueIsBool(const AVSValue* self) { return Raw(self).type == 'b'; }
SLOT_FN bool ValueIsInt(const AVSValue* self) { return Raw(self).type == 'i' || Raw(self).type == 'l'; }
SLOT_FN bool ValueIsFloat(const AVSValue* self) {
  const short t = Raw(self).type;
  return t == 'f' || t == 'd' || t == 'i' || t == 'l';
}
SLOT_FN bool ValueIsString(const AVSValue* self) { return Raw(self).type == 's'; }
SLOT_FN bool ValueIsArray(const AVSValue* self) { return Raw(self).type == 'a'; }
SLOT_FN bool ValueIsLongStrict(const AVSValue* self) { return Raw(self).type == 'l'; }
SLOT_FN bool ValueIsFloatfStrict(const AVSValue* self) { return Raw(self).type == 'f'; }
SLOT_FN PClip ValueAsClip(const AVSValue* self) {
  const RawValue& v = Raw(self);
  return v.type == 'c' ? PClip(v.clip) : PClip();
}
SLOT_FN bool ValueAsBoolDef(const AVSValue* self, bool def) { return Raw(self).type == 'b' ? Raw(self).boolean : def; }
SLOT_FN bool ValueAsBool(const AVSValue* self) { return ValueAsBoolDef(self, false); }
SLOT_FN int ValueAsIntDef(const AVSValue* self, int def) {
  const RawValue& v = Raw(self);
  return v.type == 'i' ? v.integer : v.type == 'l' ? static_cast<int>(v.longlong) : def;
}
SLOT_FN int ValueAsInt(const AVSValue* self) { return ValueAsIntDef(self, 0); }
SLOT_FN int64_t ValueAsLongDef(const AVSValue* self, int64_t def) {
  const RawValue& v = Raw(self);
  return v.type == 'l' ? v.longlong : v.type == 'i' ? v.integer : def;
}
SLOT_FN int64_t ValueAsLong(const AVSValue* self) { return ValueAsLongDef(self, 0); }
SLOT_FN double ValueAsDblDef(const AVSValue* self, double def) {
  const RawValue& v = Raw(self);
  switch (v.type) {
    case 'f': return v.floating_pt;
    case 'd': return v.double_pt;
    case 'i': return v.integer;
    case 'l': return static_cast<double>(v.longlong);
    default: return def;
  }
}
SLOT_FN double ValueAsFloat(const AVSValue* self) { return ValueAsDblDef(self, 0.0); }
SLOT_FN double ValueAsFloatDef(const AVSValue* self, float def) { return ValueAsDblDef(self, def); }
SLOT_FN const char* ValueAsStringDef(const AVSValue* self, const char* def) {
  return Raw(self).type == 's' ? Raw(self).string : def;
}
SLOT_FN const char* ValueAsString(const AVSValue* self) { return ValueAsStringDef(self, nullptr); }
SLOT_FN int ValueArraySize(const AVSValue* self) { return Raw(self).type == 'a' ? Raw(self).array_size : 1; }

// ---- storing slots ----
struct RawSlot {
  void* ptr;
  std::ptrdiff_t adj;
};
constexpr int kSlots = 143;  // 0..142
static_assert(sizeof(AVS_Linkage) == 8 + sizeof(RawSlot) * kSlots, "AVS_Linkage layout");

template <class Slot>
struct SlotFunction;
template <class R, class C, class... A>
struct SlotFunction<R (C::*)(A...)> {
  using type = R (*)(C*, A...);
};
template <class R, class C, class... A>
struct SlotFunction<R (C::*)(A...) const> {
  using type = R (*)(const C*, A...);
};

void StoreSlot(void* slot, void* fn) {
  const RawSlot raw{fn, 0};
  if (reinterpret_cast<uintptr_t>(fn) & 1) {
    std::fprintf(stderr, "avshost: slot function at an odd address\n");
    std::abort();
  }
  std::memcpy(slot, &raw, sizeof raw);
}

// The function's type must be the slot's with the object as first parameter.
template <class Slot>
void Put(Slot& slot, typename SlotFunction<Slot>::type fn) {
  static_assert(sizeof(Slot) == sizeof(RawSlot), "member-function pointers are 16 bytes");
  StoreSlot(&slot, reinterpret_cast<void*>(fn));
}

// Slots this host doesn't provide: a plugin that calls one stops with a clear message.
template <int N>
SLOT_FN void Unprovided() {
  std::fprintf(stderr, "avshost: AVS_Linkage slot %d is not provided by this host\n", N);
  std::abort();
}
template <int... N>
void FillUnprovided(AVS_Linkage& t, std::integer_sequence<int, N...>) {
  unsigned char* base = reinterpret_cast<unsigned char*>(&t) + 8;
  auto fill = [&](int n, void* fn) {
    if (n >= 104 && n <= 130) return;  // reserved, left zero as by AviSynth+
    RawSlot raw;
    std::memcpy(&raw, base + sizeof(RawSlot) * n, sizeof raw);
    if (!raw.ptr) StoreSlot(base + sizeof(RawSlot) * n, fn);
  };
  (fill(N, reinterpret_cast<void*>(&Unprovided<N>)), ...);
}

AVS_Linkage BuildLinkage() {
  AVS_Linkage t{};
  t.Size = sizeof(AVS_Linkage);
#define VI(name) Put(t.name, &Forward<&VideoInfo::name>::Call)
  VI(HasVideo); VI(HasAudio); VI(IsRGB); VI(IsYUV); VI(IsYUY2); VI(IsYV24); VI(IsYV16); VI(IsYV12);
  VI(IsY8); VI(IsColorSpace); VI(Is); VI(IsPlanar); VI(IsFieldBased); VI(IsParityKnown); VI(IsBFF);
  VI(IsTFF); VI(IsVPlaneFirst); VI(BytesFromPixels); VI(RowSize); VI(GetPlaneWidthSubsampling);
  VI(GetPlaneHeightSubsampling); VI(SetFPS); VI(IsSameColorspace); VI(NumComponents);
  VI(ComponentSize); VI(BitsPerComponent); VI(Is444); VI(Is422); VI(Is420); VI(IsY); VI(IsYUVA);
#undef VI
  Put(t.GetPitch, &FrameGetPitch);
  Put(t.GetRowSize, &FrameGetRowSize);
  Put(t.GetHeight, &FrameGetHeight);
  Put(t.GetOffset, &FrameGetOffset);
  Put(t.VFGetReadPtr, &FrameGetReadPtr);
  Put(t.IsWritable, &FrameIsWritable);
  Put(t.VFGetWritePtr, &FrameGetWritePtr);

  Put(t.PClip_CONSTRUCTOR0, &ClipRefInit);
  Put(t.PClip_CONSTRUCTOR1, &ClipRefCopy);
  Put(t.PClip_CONSTRUCTOR2, &ClipRefFrom);
  Put(t.PClip_OPERATOR_ASSIGN0, &ClipRefAssign);
  Put(t.PClip_OPERATOR_ASSIGN1, &ClipRefAssignRef);
  Put(t.PClip_DESTRUCTOR, &ClipRefDestroy);

  Put(t.PVideoFrame_CONSTRUCTOR0, &FrameRefInit);
  Put(t.PVideoFrame_CONSTRUCTOR1, &FrameRefCopy);
  Put(t.PVideoFrame_CONSTRUCTOR2, &FrameRefFrom);
  Put(t.PVideoFrame_OPERATOR_ASSIGN0, &FrameRefAssign);
  Put(t.PVideoFrame_OPERATOR_ASSIGN1, &FrameRefAssignRef);
  Put(t.PVideoFrame_DESTRUCTOR, &FrameRefDestroy);

  Put(t.AVSValue_CONSTRUCTOR0, &ValueInit);
  Put(t.AVSValue_CONSTRUCTOR1, &ValueFromClip);
  Put(t.AVSValue_CONSTRUCTOR2, &ValueFromClipRef);
  Put(t.AVSValue_CONSTRUCTOR3, &ValueFromBool);
  Put(t.AVSValue_CONSTRUCTOR4, &ValueFromInt);
  Put(t.AVSValue_CONSTRUCTOR5, &ValueFromFloat);
  Put(t.AVSValue_CONSTRUCTOR6, &ValueFromDouble);
  Put(t.AVSValue_CONSTRUCTOR7, &ValueFromString);
  Put(t.AVSValue_CONSTRUCTOR8, &ValueFromArray);
  Put(t.AVSValue_CONSTRUCTOR9, &ValueCopy);
  Put(t.AVSValue_CONSTRUCTOR12, &ValueFromLong);
  Put(t.AVSValue_DESTRUCTOR, &ValueDestroy);
  Put(t.AVSValue_OPERATOR_ASSIGN, &ValueAssign);
  Put(t.AVSValue_OPERATOR_INDEX, &ValueIndex);
  Put(t.Defined, &ValueDefined);
  Put(t.IsClip, &ValueIsClip);
  Put(t.IsBool, &ValueIsBool);
  Put(t.IsInt, &ValueIsInt);
  Put(t.IsFloat, &ValueIsFloat);
  Put(t.IsString, &ValueIsString);
  Put(t.IsArray, &ValueIsArray);
  Put(t.IsLongStrict, &ValueIsLongStrict);
  Put(t.IsFloatfStrict, &ValueIsFloatfStrict);
  Put(t.AsClip, &ValueAsClip);
  Put(t.AsBool1, &ValueAsBool);
  Put(t.AsInt1, &ValueAsInt);
  Put(t.AsString1, &ValueAsString);
  Put(t.AsFloat1, &ValueAsFloat);
  Put(t.AsBool2, &ValueAsBoolDef);
  Put(t.AsInt2, &ValueAsIntDef);
  Put(t.AsDblDef, &ValueAsDblDef);
  Put(t.AsFloat2, &ValueAsFloatDef);
  Put(t.AsString2, &ValueAsStringDef);
  Put(t.ArraySize, &ValueArraySize);
  Put(t.AsLong1, &ValueAsLong);
  Put(t.AsLong2, &ValueAsLongDef);

  FillUnprovided(t, std::make_integer_sequence<int, kSlots>{});
  return t;
}

}  // namespace

void AddRef(IClip* clip) {
  if (clip) __atomic_add_fetch(reinterpret_cast<long*>(reinterpret_cast<char*>(clip) + 8), 1, __ATOMIC_RELAXED);
}

void Release(IClip* clip) {
  if (!clip) return;
  const long left = __atomic_sub_fetch(reinterpret_cast<long*>(reinterpret_cast<char*>(clip) + 8), 1, __ATOMIC_ACQ_REL);
  if (left > 0) return;
  if (left < 0) {
    std::fprintf(stderr, "avshost: a clip was released more often than referenced\n");
    std::abort();
  }
  ++g_clipsDestroyed;
  delete clip;  // the plugin's deleting destructor, vtable slot 7
}

long ClipsDestroyed() { return g_clipsDestroyed.load(); }

const AVS_Linkage* HostLinkage() {
  static const AVS_Linkage table = BuildLinkage();
  // Whoever gets the table may use the header's wrappers at once.
  static const bool stored = (AVS_linkage = &table, true);
  (void)stored;
  return &table;
}

}  // namespace avshost::detail
