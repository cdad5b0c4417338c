#include <dirent.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

#include "linux_sources.h"
#include "names.h"

namespace tessulor {
namespace {

// WBEM_S_FALSE: the end of an enumeration; WBEM_E_NOT_FOUND: no such property.
constexpr HResult kWbemSFalse = 1;
constexpr HResult kWbemENotFound = static_cast<HResult>(0x80041002u);

std::string Trim(const std::string& s) {
  const char* ws = " \t\r\n";
  const size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

bool ReadFile(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  content = s.str();
  return !in.bad();
}

bool ReadTrimmed(const std::string& path, std::string& value) {
  if (!ReadFile(path, value)) return false;
  value = Trim(value);
  return true;
}

// Last component of a symbolic link's target, empty when it is no link.
std::string LinkName(const std::string& path) {
  char target[4096];
  const ssize_t n = readlink(path.c_str(), target, sizeof(target) - 1);
  if (n <= 0) return "";
  std::string t(target, static_cast<size_t>(n));
  while (!t.empty() && t.back() == '/') t.pop_back();
  const size_t slash = t.rfind('/');
  return slash == std::string::npos ? t : t.substr(slash + 1);
}

bool ParseHexId(const std::string& text, unsigned& id) {
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text.c_str(), &end, 16);
  if (end == text.c_str() || *end != '\0' || v > 0xFFFF) return false;
  id = static_cast<unsigned>(v);
  return true;
}

// cardN only: connectors (card0-HDMI-A-1) and render nodes are views of the same device.
bool CardNumber(const char* entry, unsigned long& number) {
  if (std::string(entry).rfind("card", 0) != 0 || entry[4] == '\0') return false;
  for (const char* p = entry + 4; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  number = std::strtoul(entry + 4, nullptr, 10);
  return true;
}

int AvailabilityOfPowerState(const std::string& runtimeStatus) {
  if (runtimeStatus == "active") return 3;      // Running / Full Power
  if (runtimeStatus == "suspended") return 15;  // Power Save - Standby
  return 2;                                     // Unknown
}

std::wstring Hex4(unsigned v) {
  wchar_t text[8];
  std::swprintf(text, 8, L"%04x", v);
  return text;
}

// Objects of one query: each a list of named property values.
using Record = std::vector<std::pair<std::wstring, PropertyValue>>;

class RecordObject : public SystemObject {
 public:
  explicit RecordObject(Record record) : record_(std::move(record)) {}
  HResult Get(const std::wstring& property, PropertyValue& value) override {
    for (const auto& p : record_) {
      if (p.first == property) {
        value = p.second;
        return kSOk;
      }
    }
    value = PropertyValue();
    return kWbemENotFound;
  }

 private:
  Record record_;
};

class RecordEnumerator : public SystemObjectEnumerator {
 public:
  explicit RecordEnumerator(std::vector<Record> records) : records_(std::move(records)) {}
  HResult Next(std::unique_ptr<SystemObject>& object) override {
    if (next_ >= records_.size()) return kWbemSFalse;
    object = std::make_unique<RecordObject>(std::move(records_[next_++]));
    return kSOk;
  }

 private:
  std::vector<Record> records_;
  size_t next_ = 0;
};

std::string MachineName(const LinuxSourceConfig& config) {
  if (!config.machine.empty()) return config.machine;
  struct utsname u;
  if (uname(&u) != 0) return "";
  return u.machine;
}

}  // namespace

std::wstring LookUpPciName(const std::string& pciIdsPath, unsigned vendor, unsigned device) {
  std::ifstream in(pciIdsPath);
  if (!in) return L"";
  std::string line;
  std::string vendorName;
  bool inVendor = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] != '\t') {
      if (inVendor) break;               // the vendor's device lines are over
      if (line.rfind("C ", 0) == 0) break;  // device classes follow the vendors
      unsigned id = 0;
      if (line.size() > 6 && ParseHexId(line.substr(0, 4), id) && id == vendor) {
        vendorName = Trim(line.substr(4));
        inVendor = true;
      }
      continue;
    }
    if (!inVendor || (line.size() > 1 && line[1] == '\t')) continue;  // subsystems
    unsigned id = 0;
    if (line.size() > 6 && ParseHexId(line.substr(1, 4), id) && id == device) {
      return Utf8ToWide(vendorName + " " + Trim(line.substr(5)));
    }
  }
  if (!vendorName.empty()) return Utf8ToWide(vendorName) + L" Device " + Hex4(device);
  return L"";
}

bool ReadGraphicsDevices(const std::string& root, std::vector<GraphicsDevice>& devices) {
  devices.clear();
  DIR* classes = opendir((root + "/sys/class").c_str());
  if (classes == nullptr) return false;
  closedir(classes);

  const std::string drm = root + "/sys/class/drm";
  std::vector<std::pair<unsigned long, std::string>> cards;
  if (DIR* dir = opendir(drm.c_str())) {
    while (dirent* e = readdir(dir)) {
      unsigned long n = 0;
      if (CardNumber(e->d_name, n)) cards.emplace_back(n, e->d_name);
    }
    closedir(dir);
  }
  std::sort(cards.begin(), cards.end());

  std::string pciIds = root + "/usr/share/misc/pci.ids";
  if (access(pciIds.c_str(), R_OK) != 0) pciIds = root + "/usr/share/hwdata/pci.ids";

  for (const auto& card : cards) {
    const std::string dev = drm + "/" + card.second + "/device";
    if (LinkName(dev + "/subsystem") != "pci") continue;
    std::string text;
    unsigned vendor = 0, device = 0;
    if (!ReadTrimmed(dev + "/vendor", text) || !ParseHexId(text, vendor)) continue;
    if (!ReadTrimmed(dev + "/device", text) || !ParseHexId(text, device)) continue;

    GraphicsDevice g;
    g.name = LookUpPciName(pciIds, vendor, device);
    if (g.name.empty()) g.name = L"PCI " + Hex4(vendor) + L":" + Hex4(device);

    const std::string driver = LinkName(dev + "/driver");
    if (driver.empty()) {
      g.driverVersion = L"(no driver)";
    } else {
      std::string module = LinkName(dev + "/driver/module");
      if (module.empty()) module = driver;
      std::string version;
      g.driverVersion = Utf8ToWide(driver);
      if (ReadTrimmed(root + "/sys/module/" + module + "/version", version) && !version.empty()) {
        g.driverVersion += L" " + Utf8ToWide(version);
      }
    }
    std::string power;
    g.availability = AvailabilityOfPowerState(
        ReadTrimmed(dev + "/power/runtime_status", power) ? power : std::string());
    devices.push_back(std::move(g));
  }
  return true;
}

bool ReadProcessorNames(const std::string& root, std::vector<std::wstring>& names) {
  names.clear();
  std::ifstream in(root + "/proc/cpuinfo");
  if (!in) return false;
  // One entry per physical package; a block without "physical id" joins package "".
  std::vector<std::pair<std::string, std::string>> packages;  // id, model name
  std::string line, id, model;
  bool inBlock = false;
  auto endBlock = [&] {
    if (!inBlock) return;
    auto it = std::find_if(packages.begin(), packages.end(),
                           [&](const auto& p) { return p.first == id; });
    if (it == packages.end()) packages.emplace_back(id, model);
    else if (it->second.empty()) it->second = model;
    id.clear();
    model.clear();
    inBlock = false;
  };
  while (std::getline(in, line)) {
    if (Trim(line).empty()) {
      endBlock();
      continue;
    }
    inBlock = true;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, colon));
    if (key == "physical id") id = Trim(line.substr(colon + 1));
    else if (key == "model name") model = Trim(line.substr(colon + 1));
  }
  endBlock();
  for (const auto& p : packages) names.push_back(Utf8ToWide(p.second));
  return true;
}

bool ReadOsName(const std::string& root, std::wstring& name) {
  std::string content;
  if (!ReadFile(root + "/etc/os-release", content) && !ReadFile(root + "/usr/lib/os-release", content)) {
    return false;
  }
  std::map<std::string, std::string> fields;
  std::istringstream lines(content);
  std::string line;
  while (std::getline(lines, line)) {
    line = Trim(line);
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
      const char quote = value[0];
      std::string unquoted;
      for (size_t i = 1; i + 1 < value.size(); ++i) {
        if (quote == '"' && value[i] == '\\' && i + 2 < value.size()) ++i;
        unquoted.push_back(value[i]);
      }
      value = unquoted;
    }
    fields[Trim(line.substr(0, eq))] = value;
  }
  std::string pretty = fields["PRETTY_NAME"];
  if (pretty.empty()) pretty = fields["NAME"];
  if (pretty.empty()) pretty = "Linux";
  name = Utf8ToWide(pretty);
  return true;
}

std::wstring ArchitectureText(const std::string& machine) {
  const bool wide = machine.find("64") != std::string::npos || machine == "s390x" || machine == "alpha";
  return std::wstring(wide ? L"64-bit (" : L"32-bit (") + Utf8ToWide(machine) + L")";
}

bool ReadInstalledPackages(const std::string& root, std::vector<std::wstring>& packages) {
  packages.clear();
  std::ifstream in(root + "/var/lib/dpkg/status");
  if (!in) return false;
  std::string line, field, package, version, status, synopsis;
  auto endParagraph = [&] {
    // Only fully installed packages count: the last word of Status is the state.
    const std::string state = status.substr(status.find_last_of(' ') + 1);
    if (!package.empty() && state == "installed") {
      std::string shown = package;
      if (!version.empty()) shown += " " + version;
      if (!synopsis.empty()) shown += " - " + synopsis;
      packages.push_back(Utf8ToWide(shown));
    }
    package.clear();
    version.clear();
    status.clear();
    synopsis.clear();
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      endParagraph();
      continue;
    }
    if (line[0] == ' ' || line[0] == '\t') continue;  // continuation of a multi-line field
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    field = line.substr(0, colon);
    const std::string value = Trim(line.substr(colon + 1));
    if (field == "Package") package = value;
    else if (field == "Version") version = value;
    else if (field == "Status") status = value;
    else if (field == "Description") synopsis = value;
  }
  endParagraph();
  return !in.bad();
}

LinuxSystemInfoSource::LinuxSystemInfoSource(LinuxSourceConfig config) : config_(std::move(config)) {}

HResult LinuxSystemInfoSource::Connect(ConnectionStep) { return kSOk; }

void LinuxSystemInfoSource::Disconnect() {}

HResult LinuxSystemInfoSource::ExecQuery(const std::wstring& wql,
                                         std::unique_ptr<SystemObjectEnumerator>& result) {
  std::vector<Record> records;
  if (wql == L"SELECT * FROM Win32_VideoController") {
    std::vector<GraphicsDevice> devices;
    if (!ReadGraphicsDevices(config_.root, devices)) return kEFail;
    for (auto& d : devices) {
      records.push_back({{L"Name", PropertyValue::String(d.name)},
                         {L"DriverVersion", PropertyValue::String(d.driverVersion)},
                         {L"Availability", PropertyValue::Integer(d.availability)}});
    }
  } else if (wql == L"SELECT * FROM Win32_Processor") {
    std::vector<std::wstring> names;
    if (!ReadProcessorNames(config_.root, names)) return kEFail;
    for (auto& n : names) {
      records.push_back({{L"Name", n.empty() ? PropertyValue() : PropertyValue::String(n)}});
    }
  } else if (wql == L"SELECT * FROM Win32_OperatingSystem") {
    std::wstring name;
    if (!ReadOsName(config_.root, name)) return kEFail;
    const std::string machine = MachineName(config_);
    Record os = {{L"Name", PropertyValue::String(name)}};
    // Without a machine name the architecture is missing, which leaves the OS lines out.
    if (!machine.empty()) os.emplace_back(L"OSArchitecture", PropertyValue::String(ArchitectureText(machine)));
    records.push_back(std::move(os));
  } else if (wql == L"SELECT * FROM Win32_Product") {
    std::vector<std::wstring> packages;
    if (!ReadInstalledPackages(config_.root, packages)) return kEFail;
    for (auto& p : packages) records.push_back({{L"Name", PropertyValue::String(p)}});
  } else {
    return kEFail;
  }
  result = std::make_unique<RecordEnumerator>(std::move(records));
  return kSOk;
}

}  // namespace tessulor
