// The report's data on Windows: WMI, the DirectShow system device enumerator with the registry,
// and Media Foundation. Each source makes the platform calls in the order the sections expect.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <wbemidl.h>

#include "com_helpers.h"
#include "filter_listing.h"
#include "system_report.h"
#include "transform_listing.h"

namespace tessulor {

class WmiSystemInfoSource : public SystemInfoSource {
 public:
  WmiSystemInfoSource() = default;
  ~WmiSystemInfoSource() override;

  HResult Connect(ConnectionStep step) override;
  HResult ExecQuery(const std::wstring& wql, std::unique_ptr<SystemObjectEnumerator>& result) override;
  void Disconnect() override;

 private:
  ComRef<IWbemLocator> locator_;
  ComRef<IWbemServices> services_;
  bool comInitialized_ = false;
};

class DirectShowFilterSource : public FilterSource {
 public:
  HResult Initialize() override;
  void Uninitialize() override;
  HResult CreateDeviceEnumerator(std::unique_ptr<FilterDeviceEnumerator>& enumerator) override;
  long OpenLocalMachineKey(const std::wstring& path, std::unique_ptr<RegistryKey>& key) override;
};

class MediaFoundationTransformSource : public TransformSource {
 public:
  HResult Initialize() override;
  void Uninitialize() override;
  HResult Enumerate(const Guid& category,
                    std::vector<std::unique_ptr<TransformActivation>>& activations) override;
  HResult StringFromIid(const Guid& id, std::wstring& text) override;
};

}  // namespace tessulor
