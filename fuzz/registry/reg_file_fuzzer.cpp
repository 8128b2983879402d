// Feeds arbitrary bytes to the .reg import. Whatever the input, the import either refuses it with a
// message that names a line, or applies it; and what it applied exports to files that import
// again to the same hive (the second export equals the first).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "registry_control.h"

namespace {

void Check(bool condition, const char* what, const std::string& detail) {
  if (condition) return;
  fprintf(stderr, "%s\n%s\n", what, detail.c_str());
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  host::ResetRegistry();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (!host::ImportRegistryText(text, "fuzz.reg", &error)) {
    Check(error.rfind("fuzz.reg:", 0) == 0, "an import error without its line:", error);
    return 0;
  }
  std::string machine = host::ExportRegistryText(u"\\Registry\\Machine");
  std::string users = host::ExportRegistryText(u"\\Registry\\User");
  host::ResetRegistry();
  Check(host::ImportRegistryText(machine, "machine.reg", &error),
        "an export that does not import:", error);
  Check(host::ImportRegistryText(users, "users.reg", &error),
        "an export that does not import:", error);
  Check(host::ExportRegistryText(u"\\Registry\\Machine") == machine,
        "the machine hive changed on its way through a file:", machine);
  Check(host::ExportRegistryText(u"\\Registry\\User") == users,
        "the user hive changed on its way through a file:", users);
  return 0;
}
