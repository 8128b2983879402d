#include "driver_loader.h"

#include <dlfcn.h>

namespace host {

std::unique_ptr<DriverImage> DriverImage::LoadModule(const std::string& path, NTSTATUS* status,
                                                     std::string* error) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    if (error != nullptr) *error = dlerror();
    return nullptr;
  }
  auto entry = reinterpret_cast<EntryPoint>(dlsym(module, "DriverEntry"));
  if (entry == nullptr) {
    if (error != nullptr) *error = path + ": no DriverEntry";
    dlclose(module);
    return nullptr;
  }
  std::unique_ptr<DriverImage> image(new DriverImage);
  image->module_ = module;
  *status = image->Start(entry);
  return image;
}

std::unique_ptr<DriverImage> DriverImage::FromEntryPoint(EntryPoint entry, NTSTATUS* status) {
  std::unique_ptr<DriverImage> image(new DriverImage);
  *status = image->Start(entry);
  return image;
}

NTSTATUS DriverImage::Start(EntryPoint entry) {
  driver_.Type = 4;
  driver_.Size = sizeof(DRIVER_OBJECT);
  driver_.DriverInit = entry;
  registryPathString_.Buffer = registryPath_.data();
  registryPathString_.Length = static_cast<USHORT>(registryPath_.size() * sizeof(char16_t));
  registryPathString_.MaximumLength = registryPathString_.Length;
  return entry(&driver_, &registryPathString_);
}

DriverImage::~DriverImage() {
  if (driver_.DriverUnload != nullptr) driver_.DriverUnload(&driver_);
  if (module_ != nullptr) dlclose(module_);
}

}  // namespace host
