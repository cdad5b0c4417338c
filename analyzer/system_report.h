// Graphics devices, CPU, operating system and installed Media SDK packages.
//
// The report reads everything through SystemInfoSource, which is shaped like WMI: a connection
// made in five steps, then forward-only queries whose objects answer property reads one at a
// time, each read with its own status.
#pragma once

#include <memory>
#include <string>

#include "platform_types.h"
#include "text_out.h"

namespace tessulor {

enum SystemReportStatus {
  kSystemReportOk = 0,
  kSystemReportComInitFailed = 1,
  kSystemReportSecurityFailed = 2,
  kSystemReportLocatorFailed = 3,
  kSystemReportConnectFailed = 4,
  kSystemReportBlanketFailed = 5,
  kSystemReportVideoQueryFailed = 6,
  kSystemReportProcessorQueryFailed = 7,
  kSystemReportOsQueryFailed = 8,
  kSystemReportProductQueryFailed = 9,
};

// Connection steps in the order the report makes them; the value is the status a failure gives.
enum class ConnectionStep {
  kInitializeCom = 1,
  kInitializeSecurity = 2,
  kCreateLocator = 3,
  kConnectServer = 4,
  kSetProxyBlanket = 5,
};

// One object of a query result (a WMI class object).
class SystemObject {
 public:
  virtual ~SystemObject() = default;
  // Reads one property; the value is anything but a string or integer when the read failed.
  virtual HResult Get(const std::wstring& property, PropertyValue& value) = 0;
};

// A forward-only result set (an IEnumWbemClassObject).
class SystemObjectEnumerator {
 public:
  virtual ~SystemObjectEnumerator() = default;
  // Hands out the next object, or none at the end (then typically with kSFalse).
  virtual HResult Next(std::unique_ptr<SystemObject>& object) = 0;
};

class SystemInfoSource {
 public:
  virtual ~SystemInfoSource() = default;
  // Called for each step in order until one fails.
  virtual HResult Connect(ConnectionStep step) = 0;
  // The WQL text is one of the four "SELECT * FROM Win32_..." queries.
  virtual HResult ExecQuery(const std::wstring& wql, std::unique_ptr<SystemObjectEnumerator>& result) = 0;
  // Releases whatever the connection holds; called once on every path after the first step
  // succeeded (and never when it failed).
  virtual void Disconnect() = 0;
};

// Prints the section and returns its status; the package listing only when queryPackages.
SystemReportStatus RunSystemReport(bool queryPackages, SystemInfoSource& source, TextOut& out);

}  // namespace tessulor
