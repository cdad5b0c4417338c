// Intel Media Foundation transforms of the four video categories.
//
// TransformSource is shaped like MFTEnumEx: per category an array of activation objects,
// each answering its class identifier and friendly name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform_types.h"
#include "text_out.h"

namespace tessulor {

extern const Guid kMftCategoryVideoDecoder;    // {D6C02D4B-6833-45B4-971A-05A4B04BAB91}
extern const Guid kMftCategoryVideoEffect;     // {12E17C21-532C-4A6E-8A1C-40825A736397}
extern const Guid kMftCategoryVideoEncoder;    // {F79EAC7D-E545-4387-BDEE-D647D7BDE42A}
extern const Guid kMftCategoryVideoProcessor;  // {302EA3FC-AA5F-47F9-9F7A-C2188BB16302}

class TransformActivation {
 public:
  virtual ~TransformActivation() = default;
  virtual HResult GetClsid(Guid& clsid) = 0;
  virtual HResult GetFriendlyName(std::wstring& name) = 0;
};

class TransformSource {
 public:
  virtual ~TransformSource() = default;
  virtual HResult Initialize() = 0;  // apartment-threaded COM for the listing
  virtual void Uninitialize() = 0;   // called once after every successful Initialize
  virtual HResult Enumerate(const Guid& category,
                            std::vector<std::unique_ptr<TransformActivation>>& activations) = 0;
  // StringFromIID; the portable default never fails.
  virtual HResult StringFromIid(const Guid& id, std::wstring& text) {
    text = FormatGuid(id);
    return kSOk;
  }
};

HResult ListTransforms(TransformSource& source, TextOut& out);

int ListMediaFoundationTransforms(TransformSource& source, TextOut& out);

}  // namespace tessulor
