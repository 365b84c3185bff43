// UCI configuration files as the platform objects read them: any text either fails with a
// reason or yields a package whose canonical form reads back to the same form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/uci_package.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto package = sim::platform::ParseUci(text, error);
  if (!package) return 0;
  for (const auto& section : package->sections) {
    if (!sim::platform::IsValidType(section.type)) return 0;  // written unquoted, as libuci does
  }
  const std::string canonical = sim::platform::WriteUci(*package);
  const auto again = sim::platform::ParseUci(canonical, error);
  if (!again || sim::platform::WriteUci(*again) != canonical) std::abort();
  return 0;
}
