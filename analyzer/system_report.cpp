#include "system_report.h"

#include "names.h"

namespace tessulor {
namespace {

// Runs the shared listing loop over one query: `handle` reads the properties of one object,
// prints what it should and returns the status of the object's last property read.
template <typename Handler>
bool RunListing(SystemInfoSource& source, const wchar_t* wql, Handler handle) {
  std::unique_ptr<SystemObjectEnumerator> objects;
  if (Failed(source.ExecQuery(wql, objects))) return false;
  // A source that succeeds without a result set has nothing to list.
  if (!objects) return true;
  for (;;) {
    std::unique_ptr<SystemObject> object;
    HResult last = objects->Next(object);
    if (Succeeded(last) && object) last = handle(*object);
    if (last != kSOk || !object) break;
  }
  return true;
}

HResult ListDevice(SystemObject& device, TextOut& out) {
  PropertyValue name, version, availability;
  device.Get(L"Name", name);
  device.Get(L"DriverVersion", version);
  const HResult last = device.Get(L"Availability", availability);
  const wchar_t* state = L" ";
  if (Succeeded(last) && availability.IsInteger()) state = AvailabilityText(availability.number);
  if (Succeeded(last) && name.IsString() && version.IsString()) {
    out.Print(L"\t%-45ls%-20ls%ls\n", name.text.c_str(), version.text.c_str(), state);
  }
  return last;
}

HResult ListProcessor(SystemObject& processor, TextOut& out) {
  PropertyValue name;
  const HResult last = processor.Get(L"Name", name);
  if (Succeeded(last) && name.IsString()) out.Print(L"\tCPU:\t%ls\n", name.text.c_str());
  return last;
}

HResult ListOperatingSystem(SystemObject& os, TextOut& out) {
  PropertyValue name, architecture;
  os.Get(L"Name", name);
  const HResult last = os.Get(L"OSArchitecture", architecture);
  if (Succeeded(last) && name.IsString() && architecture.IsString()) {
    out.Print(L"\tOS:\t%ls\n", OsCaption(name.text).c_str());
    out.Print(L"\tArch:\t%ls\n", architecture.text.c_str());
  }
  return last;
}

HResult ListProduct(SystemObject& product, TextOut& out) {
  PropertyValue name;
  const HResult last = product.Get(L"Name", name);
  if (Succeeded(last) && name.IsString() && IsMediaSdkName(name.text)) {
    out.Print(L"\t%ls\n", ReplaceRegisteredSign(name.text).c_str());
  }
  return last;
}

}  // namespace

SystemReportStatus RunSystemReport(bool queryPackages, SystemInfoSource& source, TextOut& out) {
  static const ConnectionStep kSteps[] = {
      ConnectionStep::kInitializeCom,  ConnectionStep::kInitializeSecurity,
      ConnectionStep::kCreateLocator,  ConnectionStep::kConnectServer,
      ConnectionStep::kSetProxyBlanket,
  };
  for (ConnectionStep step : kSteps) {
    if (Failed(source.Connect(step))) {
      if (step != ConnectionStep::kInitializeCom) source.Disconnect();
      return static_cast<SystemReportStatus>(step);
    }
  }

  auto fail = [&source](SystemReportStatus status) {
    source.Disconnect();
    return status;
  };

  out.Print(L"\nGraphics Devices:\n");
  out.Print(L"\t%-45ls%-20ls%ls\n", L"Name", L"Version", L"State");
  if (!RunListing(source, L"SELECT * FROM Win32_VideoController",
                  [&out](SystemObject& o) { return ListDevice(o, out); })) {
    return fail(kSystemReportVideoQueryFailed);
  }

  out.Print(L"\nSystem info:\n");
  if (!RunListing(source, L"SELECT * FROM Win32_Processor",
                  [&out](SystemObject& o) { return ListProcessor(o, out); })) {
    return fail(kSystemReportProcessorQueryFailed);
  }
  if (!RunListing(source, L"SELECT * FROM Win32_OperatingSystem",
                  [&out](SystemObject& o) { return ListOperatingSystem(o, out); })) {
    return fail(kSystemReportOsQueryFailed);
  }

  if (queryPackages) {
    out.Print(L"\nInstalled Media SDK packages (be patient...processing takes some time):\n");
    if (!RunListing(source, L"SELECT * FROM Win32_Product",
                    [&out](SystemObject& o) { return ListProduct(o, out); })) {
      return fail(kSystemReportProductQueryFailed);
    }
  }

  source.Disconnect();
  return kSystemReportOk;
}

}  // namespace tessulor
