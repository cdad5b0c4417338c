// Frame properties, the interface-8 slots of the environment: a map of keys to arrays of integers,
// floats or byte strings on every frame, read and written as AviSynth+ 3.7 does (its error codes,
// append modes and key rules). Clip and frame values are not kept by this host.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

#include "host_internal.h"

namespace avshost::detail {
namespace {

[[noreturn]] void NotKept(const char* what) {
  std::fprintf(stderr, "avshost: IScriptEnvironment::%s: clip and frame properties are not kept by this host\n",
               what);
  std::abort();
}

// Letters, digits and '_', not starting with a digit.
bool ValidKey(const char* key) {
  if (!key || !*key || std::isdigit(static_cast<unsigned char>(*key))) return false;
  for (const char* c = key; *c; ++c)
    if (!std::isalnum(static_cast<unsigned char>(*c)) && *c != '_') return false;
  return true;
}

int Count(const Property& p) {
  switch (p.type) {
    case PROPTYPE_INT: return static_cast<int>(p.ints.size());
    case PROPTYPE_FLOAT: return static_cast<int>(p.floats.size());
    case PROPTYPE_DATA: return static_cast<int>(p.data.size());
    default: return 0;
  }
}

FrameRecord* RecordOrNull(const PVideoFrame& frame) { return frame ? RecordOf(frame.operator->()) : nullptr; }

}  // namespace

void Environment::RequireInterface8(const char* what) const {
  if (interfaceVersion_ >= 8) return;
  std::fprintf(stderr, "avshost: IScriptEnvironment::%s called on a host of interface version %d\n", what,
               interfaceVersion_);
  std::abort();
}

const Property* Environment::Lookup(const AVSMap* map, const char* key, char type, int index, int* error) {
  if (error) *error = GETPROPERROR_SUCCESS;
  const PropertyMap& m = *MapOf(map);
  const auto it = key ? m.find(key) : m.end();
  int failure = GETPROPERROR_SUCCESS;
  const char* why = "";
  if (it == m.end()) {
    failure = GETPROPERROR_UNSET;
    why = "missing key";
  } else if (index < 0 || index >= Count(it->second)) {
    failure = GETPROPERROR_INDEX;
    why = "out of bounds index";
  } else if (it->second.type != type) {
    failure = GETPROPERROR_TYPE;
    why = "wrong type";
  }
  if (failure == GETPROPERROR_SUCCESS) return &it->second;
  if (!error) ThrowError("Property read unsuccessful due to %s but no error output: %s", why, key ? key : "");
  *error = failure;
  return nullptr;
}

Property* Environment::Prepare(AVSMap* map, const char* key, char type, int append) {
  if (append != PROPAPPENDMODE_REPLACE && append != PROPAPPENDMODE_APPEND && append != PROPAPPENDMODE_TOUCH)
    ThrowError("Invalid prop append mode given when setting key '%s'", key ? key : "");
  if (!ValidKey(key)) return nullptr;
  PropertyMap& m = *MapOf(map);
  const auto it = m.find(key);
  if (append == PROPAPPENDMODE_REPLACE || it == m.end()) {
    Property& fresh = m[key];
    fresh = Property();
    fresh.type = type;
    return &fresh;
  }
  return it->second.type == type ? &it->second : nullptr;
}

PVideoFrame Environment::SubframePlanarA(PVideoFrame, int, int, int, int, int, int, int, int) {
  RequireInterface8("SubframePlanarA");
  std::fprintf(stderr, "avshost: IScriptEnvironment::SubframePlanarA is not provided by this host\n");
  std::abort();
}

void Environment::copyFrameProps(const PVideoFrame& src, PVideoFrame& dst) {
  RequireInterface8("copyFrameProps");
  FrameRecord* from = RecordOrNull(src);
  FrameRecord* to = RecordOrNull(dst);
  if (from && to) to->properties = from->properties;
}

const AVSMap* Environment::getFramePropsRO(const PVideoFrame& frame) {
  RequireInterface8("getFramePropsRO");
  FrameRecord* record = RecordOrNull(frame);
  if (!record) ThrowError("avshost: getFramePropsRO of no frame");
  return AsMap(&record->properties);
}

// Writing to a frame someone else holds too would change their frame: a contract fault, reported.
AVSMap* Environment::getFramePropsRW(PVideoFrame& frame) {
  RequireInterface8("getFramePropsRW");
  FrameRecord* record = RecordOrNull(frame);
  if (!record) ThrowError("avshost: getFramePropsRW of no frame");
  if (record->refs.load() != 1)
    ThrowError("avshost: getFramePropsRW of a frame with %ld references", static_cast<long>(record->refs.load()));
  return AsMap(&record->properties);
}

int Environment::propNumKeys(const AVSMap* map) {
  RequireInterface8("propNumKeys");
  return static_cast<int>(MapOf(map)->size());
}

const char* Environment::propGetKey(const AVSMap* map, int index) {
  RequireInterface8("propGetKey");
  const PropertyMap& m = *MapOf(map);
  if (index < 0 || static_cast<size_t>(index) >= m.size()) ThrowError("propGetKey: Out of bounds index %d passed", index);
  auto it = m.begin();
  std::advance(it, index);
  return it->first.c_str();
}

int Environment::propNumElements(const AVSMap* map, const char* key) {
  RequireInterface8("propNumElements");
  const PropertyMap& m = *MapOf(map);
  const auto it = key ? m.find(key) : m.end();
  return it == m.end() ? -1 : Count(it->second);
}

char Environment::propGetType(const AVSMap* map, const char* key) {
  RequireInterface8("propGetType");
  const PropertyMap& m = *MapOf(map);
  const auto it = key ? m.find(key) : m.end();
  return it == m.end() ? static_cast<char>(PROPTYPE_UNSET) : it->second.type;
}

int64_t Environment::propGetInt(const AVSMap* map, const char* key, int index, int* error) {
  RequireInterface8("propGetInt");
  const Property* p = Lookup(map, key, PROPTYPE_INT, index, error);
  return p ? p->ints[static_cast<size_t>(index)] : 0;
}

double Environment::propGetFloat(const AVSMap* map, const char* key, int index, int* error) {
  RequireInterface8("propGetFloat");
  const Property* p = Lookup(map, key, PROPTYPE_FLOAT, index, error);
  return p ? p->floats[static_cast<size_t>(index)] : 0.0;
}

const char* Environment::propGetData(const AVSMap* map, const char* key, int index, int* error) {
  RequireInterface8("propGetData");
  const Property* p = Lookup(map, key, PROPTYPE_DATA, index, error);
  return p ? p->data[static_cast<size_t>(index)].c_str() : nullptr;
}

int Environment::propGetDataSize(const AVSMap* map, const char* key, int index, int* error) {
  RequireInterface8("propGetDataSize");
  const Property* p = Lookup(map, key, PROPTYPE_DATA, index, error);
  return p ? static_cast<int>(p->data[static_cast<size_t>(index)].size()) : 0;
}

PClip Environment::propGetClip(const AVSMap*, const char*, int, int*) {
  RequireInterface8("propGetClip");
  NotKept("propGetClip");
}

const PVideoFrame Environment::propGetFrame(const AVSMap*, const char*, int, int*) {
  RequireInterface8("propGetFrame");
  NotKept("propGetFrame");
}

int Environment::propDeleteKey(AVSMap* map, const char* key) {
  RequireInterface8("propDeleteKey");
  return key && MapOf(map)->erase(key) ? 1 : 0;
}

int Environment::propSetInt(AVSMap* map, const char* key, int64_t i, int append) {
  RequireInterface8("propSetInt");
  Property* p = Prepare(map, key, PROPTYPE_INT, append);
  if (!p) return 1;
  if (append != PROPAPPENDMODE_TOUCH) p->ints.push_back(i);
  return 0;
}

int Environment::propSetFloat(AVSMap* map, const char* key, double d, int append) {
  RequireInterface8("propSetFloat");
  Property* p = Prepare(map, key, PROPTYPE_FLOAT, append);
  if (!p) return 1;
  if (append != PROPAPPENDMODE_TOUCH) p->floats.push_back(d);
  return 0;
}

int Environment::propSetData(AVSMap* map, const char* key, const char* d, int length, int append) {
  RequireInterface8("propSetData");
  if (!d) return 1;
  Property* p = Prepare(map, key, PROPTYPE_DATA, append);
  if (!p) return 1;
  if (append != PROPAPPENDMODE_TOUCH) p->data.push_back(length >= 0 ? std::string(d, static_cast<size_t>(length)) : std::string(d));
  return 0;
}

int Environment::propSetClip(AVSMap*, const char*, PClip&, int) {
  RequireInterface8("propSetClip");
  NotKept("propSetClip");
}

int Environment::propSetFrame(AVSMap*, const char*, const PVideoFrame&, int) {
  RequireInterface8("propSetFrame");
  NotKept("propSetFrame");
}

const int64_t* Environment::propGetIntArray(const AVSMap* map, const char* key, int* error) {
  RequireInterface8("propGetIntArray");
  const Property* p = Lookup(map, key, PROPTYPE_INT, 0, error);
  return p ? p->ints.data() : nullptr;
}

const double* Environment::propGetFloatArray(const AVSMap* map, const char* key, int* error) {
  RequireInterface8("propGetFloatArray");
  const Property* p = Lookup(map, key, PROPTYPE_FLOAT, 0, error);
  return p ? p->floats.data() : nullptr;
}

int Environment::propSetIntArray(AVSMap* map, const char* key, const int64_t* i, int size) {
  RequireInterface8("propSetIntArray");
  if (size < 0 || (size > 0 && !i) || !ValidKey(key)) return 1;
  Property& p = (*MapOf(map))[key];
  p = Property();
  p.type = PROPTYPE_INT;
  p.ints.assign(i, i + size);
  return 0;
}

int Environment::propSetFloatArray(AVSMap* map, const char* key, const double* d, int size) {
  RequireInterface8("propSetFloatArray");
  if (size < 0 || (size > 0 && !d) || !ValidKey(key)) return 1;
  Property& p = (*MapOf(map))[key];
  p = Property();
  p.type = PROPTYPE_FLOAT;
  p.floats.assign(d, d + size);
  return 0;
}

AVSMap* Environment::createMap() {
  RequireInterface8("createMap");
  return AsMap(new PropertyMap());
}

void Environment::freeMap(AVSMap* map) {
  RequireInterface8("freeMap");
  delete MapOf(map);
}

void Environment::clearMap(AVSMap* map) {
  RequireInterface8("clearMap");
  MapOf(map)->clear();
}

PVideoFrame Environment::NewVideoFrameP(const VideoInfo& vi, const PVideoFrame* prop_src, int align) {
  RequireInterface8("NewVideoFrameP");
  PVideoFrame frame = NewVideoFrame(vi, align);
  if (prop_src && *prop_src) RecordOf(frame.operator->())->properties = RecordOf(prop_src->operator->())->properties;
  return frame;
}

size_t Environment::GetEnvProperty(AvsEnvProperty prop) {
  RequireInterface8("GetEnvProperty");
  switch (prop) {
    case AEP_INTERFACE_VERSION: return static_cast<size_t>(interfaceVersion_);
    case AEP_INTERFACE_BUGFIX: return 0;
    case AEP_PHYSICAL_CPUS:
    case AEP_LOGICAL_CPUS: return std::thread::hardware_concurrency();
    case AEP_FRAME_ALIGN:
    case AEP_PLANE_ALIGN: return FRAME_ALIGN;
    default: ThrowError("avshost: GetEnvProperty(%d) is not answered by this host", static_cast<int>(prop));
  }
}

}  // namespace avshost::detail
