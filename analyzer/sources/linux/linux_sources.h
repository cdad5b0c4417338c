// The report's data on Linux: sysfs, procfs, os-release and the dpkg database.
//
// Every path is read below `root` ("" for the real system), so tests run the same code over
// a fake tree. Linux has neither DirectShow nor Media Foundation: those sources are empty.
#pragma once

#include <string>
#include <vector>

#include "filter_listing.h"
#include "system_report.h"
#include "transform_listing.h"

namespace tessulor {

struct LinuxSourceConfig {
  std::string root;     // prefix of every path read; "" is the real file system
  std::string machine;  // uname machine; "" asks the kernel
};

// One graphics device as the Win32_VideoController query shows it.
struct GraphicsDevice {
  std::wstring name;           // from the PCI ID database, else "PCI vvvv:dddd"
  std::wstring driverVersion;  // kernel driver and, where the module has one, its version
  int availability = 2;        // WMI availability code of the runtime power state
};

// The PCI devices behind /sys/class/drm/cardN, in card order. False if sysfs can't be read.
bool ReadGraphicsDevices(const std::string& root, std::vector<GraphicsDevice>& devices);

// "Vendor Device" from a pci.ids file, "Vendor Device dddd" when only the vendor is known,
// empty when neither is (or the file can't be read).
std::wstring LookUpPciName(const std::string& pciIdsPath, unsigned vendor, unsigned device);

// The CPU model of each physical package, in order of appearance. False if unreadable.
bool ReadProcessorNames(const std::string& root, std::vector<std::wstring>& names);

// PRETTY_NAME of os-release (then NAME, then "Linux"). False if no os-release can be read.
bool ReadOsName(const std::string& root, std::wstring& name);

// "64-bit (x86_64)" or "32-bit (armv7l)".
std::wstring ArchitectureText(const std::string& machine);

// Installed dpkg packages as "name version - synopsis". False if the database is unreadable.
bool ReadInstalledPackages(const std::string& root, std::vector<std::wstring>& packages);

class LinuxSystemInfoSource : public SystemInfoSource {
 public:
  explicit LinuxSystemInfoSource(LinuxSourceConfig config);

  HResult Connect(ConnectionStep step) override;
  HResult ExecQuery(const std::wstring& wql, std::unique_ptr<SystemObjectEnumerator>& result) override;
  void Disconnect() override;

 private:
  LinuxSourceConfig config_;
};

class LinuxFilterSource : public FilterSource {
 public:
  HResult Initialize() override;
  void Uninitialize() override;
  HResult CreateDeviceEnumerator(std::unique_ptr<FilterDeviceEnumerator>& enumerator) override;
  long OpenLocalMachineKey(const std::wstring& path, std::unique_ptr<RegistryKey>& key) override;
};

class LinuxTransformSource : public TransformSource {
 public:
  HResult Initialize() override;
  void Uninitialize() override;
  HResult Enumerate(const Guid& category,
                    std::vector<std::unique_ptr<TransformActivation>>& activations) override;
};

}  // namespace tessulor
