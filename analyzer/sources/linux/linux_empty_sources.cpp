// Linux has no DirectShow and no Media Foundation: both listings find nothing.
#include "linux_sources.h"

namespace tessulor {
namespace {

constexpr long kErrorFileNotFound = 2;

class EmptyDeviceEnumerator : public FilterDeviceEnumerator {
 public:
  HResult CreateClassEnumerator(const Guid&, std::unique_ptr<FilterMonikerEnumerator>& enumerator) override {
    enumerator.reset();
    return kSFalse;  // an empty category
  }
};

}  // namespace

HResult LinuxFilterSource::Initialize() { return kSOk; }
void LinuxFilterSource::Uninitialize() {}

HResult LinuxFilterSource::CreateDeviceEnumerator(std::unique_ptr<FilterDeviceEnumerator>& enumerator) {
  enumerator = std::make_unique<EmptyDeviceEnumerator>();
  return kSOk;
}

long LinuxFilterSource::OpenLocalMachineKey(const std::wstring&, std::unique_ptr<RegistryKey>& key) {
  key.reset();
  return kErrorFileNotFound;
}

HResult LinuxTransformSource::Initialize() { return kSOk; }
void LinuxTransformSource::Uninitialize() {}

HResult LinuxTransformSource::Enumerate(const Guid&, std::vector<std::unique_ptr<TransformActivation>>& activations) {
  activations.clear();
  return kSOk;
}

}  // namespace tessulor
