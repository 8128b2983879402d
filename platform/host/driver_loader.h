// Loads a driver image and starts it through its DriverEntry, as the operating system would: from a
// loadable module (each opened with its own symbol scope, so that both variants can live in one
// process) or from an entry point linked into the program.
#pragma once

#include <memory>
#include <string>

#include "kernel_io.h"

namespace host {

class DriverImage {
 public:
  using EntryPoint = NTSTATUS(NTAPI*)(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

  // Opens the module, finds DriverEntry and runs it. Null with `error` set when the module cannot
  // be opened or has no entry point; otherwise the image, with the entry's status in *status.
  static std::unique_ptr<DriverImage> LoadModule(const std::string& path, NTSTATUS* status,
                                                 std::string* error);
  static std::unique_ptr<DriverImage> FromEntryPoint(EntryPoint entry, NTSTATUS* status);

  ~DriverImage();
  DriverImage(const DriverImage&) = delete;
  DriverImage& operator=(const DriverImage&) = delete;

  DRIVER_OBJECT* driver() { return &driver_; }

 private:
  DriverImage() = default;
  NTSTATUS Start(EntryPoint entry);

  void* module_ = nullptr;
  DRIVER_OBJECT driver_ = {};
  std::u16string registryPath_ =
      u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\camera";
  UNICODE_STRING registryPathString_ = {};
};

}  // namespace host
