// Scriptable stand-ins for the three report sources: every step, read and enumeration can be
// given any status or value, and each call is logged for order and pairing checks.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "filter_listing.h"
#include "system_report.h"
#include "transform_listing.h"

namespace tessulor_test {

using tessulor::HResult;
using tessulor::PropertyValue;

constexpr HResult kWbemSFalse = 1;
constexpr HResult kFail = tessulor::kEFail;

inline PropertyValue Str(const std::wstring& s) { return PropertyValue::String(s); }
inline PropertyValue Int(std::int64_t n) { return PropertyValue::Integer(n); }
inline PropertyValue Other() { return PropertyValue(); }

// ---- system information --------------------------------------------------------------

struct FakeProperty {
  std::wstring name;
  PropertyValue value;
  HResult status = tessulor::kSOk;
};

struct FakeObject {
  std::vector<FakeProperty> properties;
  HResult nextStatus = tessulor::kSOk;  // what Next returns together with this object
};

struct FakeQuery {
  HResult execStatus = tessulor::kSOk;
  std::vector<FakeObject> objects;
  HResult endStatus = kWbemSFalse;  // what Next returns once the objects are used up
};

class FakeSystemInfo : public tessulor::SystemInfoSource {
 public:
  int failStep = 0;  // 1..5: that connection step fails
  std::map<std::wstring, FakeQuery> queries;  // by class name, e.g. L"Win32_Processor"
  std::vector<std::wstring> log;
  int disconnects = 0;

  HResult Connect(tessulor::ConnectionStep step) override {
    log.push_back(L"connect " + std::to_wstring(static_cast<int>(step)));
    return static_cast<int>(step) == failStep ? kFail : tessulor::kSOk;
  }
  HResult ExecQuery(const std::wstring& wql,
                    std::unique_ptr<tessulor::SystemObjectEnumerator>& result) override;
  void Disconnect() override {
    log.push_back(L"disconnect");
    ++disconnects;
  }
};

class FakeSystemObject : public tessulor::SystemObject {
 public:
  explicit FakeSystemObject(FakeObject o) : object_(std::move(o)) {}
  HResult Get(const std::wstring& property, PropertyValue& value) override {
    for (const auto& p : object_.properties) {
      if (p.name == property) {
        value = p.value;
        return p.status;
      }
    }
    value = PropertyValue();
    return static_cast<HResult>(0x80041002u);
  }

 private:
  FakeObject object_;
};

class FakeEnumerator : public tessulor::SystemObjectEnumerator {
 public:
  explicit FakeEnumerator(FakeQuery q) : query_(std::move(q)) {}
  HResult Next(std::unique_ptr<tessulor::SystemObject>& object) override {
    if (next_ >= query_.objects.size()) return query_.endStatus;
    const HResult status = query_.objects[next_].nextStatus;
    object = std::make_unique<FakeSystemObject>(query_.objects[next_++]);
    return status;
  }

 private:
  FakeQuery query_;
  size_t next_ = 0;
};

inline HResult FakeSystemInfo::ExecQuery(const std::wstring& wql,
                                         std::unique_ptr<tessulor::SystemObjectEnumerator>& result) {
  const std::wstring prefix = L"SELECT * FROM ";
  const std::wstring cls = wql.rfind(prefix, 0) == 0 ? wql.substr(prefix.size()) : wql;
  log.push_back(L"query " + cls);
  auto it = queries.find(cls);
  FakeQuery q = it == queries.end() ? FakeQuery{} : it->second;
  if (tessulor::Failed(q.execStatus)) return q.execStatus;
  result = std::make_unique<FakeEnumerator>(q);
  return q.execStatus;
}

inline FakeObject Device(PropertyValue name, PropertyValue version, PropertyValue availability,
                         HResult availabilityStatus = tessulor::kSOk) {
  return {{{L"Name", name}, {L"DriverVersion", version}, {L"Availability", availability, availabilityStatus}}};
}
inline FakeObject Named(PropertyValue name, HResult status = tessulor::kSOk) {
  return {{{L"Name", name, status}}};
}
inline FakeObject Os(PropertyValue name, PropertyValue arch, HResult archStatus = tessulor::kSOk) {
  return {{{L"Name", name}, {L"OSArchitecture", arch, archStatus}}};
}

// ---- DirectShow filters --------------------------------------------------------------

struct FakeFilter {
  HResult bindStatus = tessulor::kSOk;
  PropertyValue name;
  HResult nameStatus = tessulor::kSOk;
  PropertyValue clsid;
  HResult clsidStatus = tessulor::kSOk;
};

struct FakeServerKey {
  long openStatus = 0;
  long queryStatus = 0;
  std::vector<std::uint8_t> value;  // raw bytes of the default value
};

// UTF-16LE bytes of an ASCII/BMP text, with its terminating zero unless told otherwise.
inline std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text, bool terminate = true) {
  std::vector<std::uint8_t> bytes;
  for (wchar_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
  }
  if (terminate) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

class FakeFilterSource : public tessulor::FilterSource {
 public:
  HResult initStatus = tessulor::kSOk;
  HResult deviceEnumStatus = tessulor::kSOk;
  HResult classEnumStatus = tessulor::kSOk;
  std::vector<FakeFilter> filters;
  std::map<std::wstring, FakeServerKey> keys;  // by key path; others are not found
  std::vector<std::wstring> log;

  HResult Initialize() override {
    log.push_back(L"init");
    return initStatus;
  }
  void Uninitialize() override { log.push_back(L"uninit"); }
  HResult CreateDeviceEnumerator(std::unique_ptr<tessulor::FilterDeviceEnumerator>& e) override;
  long OpenLocalMachineKey(const std::wstring& path, std::unique_ptr<tessulor::RegistryKey>& key) override;
};

class FakeBag : public tessulor::FilterPropertyBag {
 public:
  explicit FakeBag(const FakeFilter& f) : filter_(f) {}
  HResult Read(const std::wstring& property, PropertyValue& value) override {
    const bool name = property == L"FriendlyName";
    value = name ? filter_.name : filter_.clsid;
    return name ? filter_.nameStatus : filter_.clsidStatus;
  }

 private:
  FakeFilter filter_;
};

class FakeMoniker : public tessulor::FilterMoniker {
 public:
  explicit FakeMoniker(const FakeFilter& f) : filter_(f) {}
  HResult BindToStorage(std::unique_ptr<tessulor::FilterPropertyBag>& bag) override {
    if (tessulor::Succeeded(filter_.bindStatus)) bag = std::make_unique<FakeBag>(filter_);
    return filter_.bindStatus;
  }

 private:
  FakeFilter filter_;
};

class FakeMonikers : public tessulor::FilterMonikerEnumerator {
 public:
  explicit FakeMonikers(const std::vector<FakeFilter>& f) : filters_(f) {}
  HResult Reset() override {
    next_ = 0;
    return tessulor::kSOk;
  }
  HResult Next(std::unique_ptr<tessulor::FilterMoniker>& moniker) override {
    if (next_ >= filters_.size()) return tessulor::kSFalse;
    moniker = std::make_unique<FakeMoniker>(filters_[next_++]);
    return tessulor::kSOk;
  }

 private:
  std::vector<FakeFilter> filters_;
  size_t next_ = 0;
};

class FakeDevices : public tessulor::FilterDeviceEnumerator {
 public:
  explicit FakeDevices(FakeFilterSource& s) : source_(s) {}
  HResult CreateClassEnumerator(const tessulor::Guid& category,
                                std::unique_ptr<tessulor::FilterMonikerEnumerator>& e) override {
    source_.log.push_back(tessulor::FormatGuid(category));
    if (source_.classEnumStatus == tessulor::kSOk) e = std::make_unique<FakeMonikers>(source_.filters);
    return source_.classEnumStatus;
  }

 private:
  FakeFilterSource& source_;
};

class FakeKey : public tessulor::RegistryKey {
 public:
  explicit FakeKey(const FakeServerKey& k) : key_(k) {}
  long QueryDefaultValue(std::uint8_t* data, std::uint32_t* size) override {
    if (key_.queryStatus != 0) return key_.queryStatus;
    if (key_.value.size() > *size) return 234;  // ERROR_MORE_DATA
    std::memcpy(data, key_.value.data(), key_.value.size());
    *size = static_cast<std::uint32_t>(key_.value.size());
    return 0;
  }

 private:
  FakeServerKey key_;
};

inline HResult FakeFilterSource::CreateDeviceEnumerator(std::unique_ptr<tessulor::FilterDeviceEnumerator>& e) {
  if (tessulor::Succeeded(deviceEnumStatus)) e = std::make_unique<FakeDevices>(*this);
  return deviceEnumStatus;
}

inline long FakeFilterSource::OpenLocalMachineKey(const std::wstring& path,
                                                  std::unique_ptr<tessulor::RegistryKey>& key) {
  log.push_back(L"open " + path);
  auto it = keys.find(path);
  if (it == keys.end()) return 2;  // ERROR_FILE_NOT_FOUND
  if (it->second.openStatus != 0) return it->second.openStatus;
  key = std::make_unique<FakeKey>(it->second);
  return 0;
}

// ---- Media Foundation transforms -----------------------------------------------------

struct FakeTransform {
  tessulor::Guid clsid{};
  HResult clsidStatus = tessulor::kSOk;
  HResult textStatus = tessulor::kSOk;  // StringFromIID of this transform's identifier
  std::wstring name;
  HResult nameStatus = tessulor::kSOk;
};

class FakeTransformSource : public tessulor::TransformSource {
 public:
  HResult initStatus = tessulor::kSOk;
  // Per category (by text form): the enumeration result and its transforms.
  std::map<std::wstring, std::pair<HResult, std::vector<FakeTransform>>> categories;
  std::vector<std::wstring> log;

  HResult Initialize() override {
    log.push_back(L"init");
    return initStatus;
  }
  void Uninitialize() override { log.push_back(L"uninit"); }
  HResult Enumerate(const tessulor::Guid& category,
                    std::vector<std::unique_ptr<tessulor::TransformActivation>>& activations) override;
  HResult StringFromIid(const tessulor::Guid& id, std::wstring& text) override {
    for (const auto& c : categories) {
      for (const auto& t : c.second.second) {
        if (t.clsid == id && tessulor::Failed(t.textStatus)) return t.textStatus;
      }
    }
    return TransformSource::StringFromIid(id, text);
  }
};

class FakeActivation : public tessulor::TransformActivation {
 public:
  explicit FakeActivation(const FakeTransform& t) : t_(t) {}
  HResult GetClsid(tessulor::Guid& clsid) override {
    if (tessulor::Succeeded(t_.clsidStatus)) clsid = t_.clsid;
    return t_.clsidStatus;
  }
  HResult GetFriendlyName(std::wstring& name) override {
    if (tessulor::Succeeded(t_.nameStatus)) name = t_.name;
    return t_.nameStatus;
  }

 private:
  FakeTransform t_;
};

inline HResult FakeTransformSource::Enumerate(
    const tessulor::Guid& category, std::vector<std::unique_ptr<tessulor::TransformActivation>>& activations) {
  const std::wstring key = tessulor::FormatGuid(category);
  log.push_back(L"enum " + key);
  auto it = categories.find(key);
  if (it == categories.end()) return tessulor::kSOk;
  if (tessulor::Failed(it->second.first)) return it->second.first;
  for (const auto& t : it->second.second) activations.push_back(std::make_unique<FakeActivation>(t));
  return it->second.first;
}

}  // namespace tessulor_test
