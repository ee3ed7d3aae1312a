#include "soap/publish/port_types.h"

#include <algorithm>

#include "util/text.h"

namespace orv::soap::publish {
std::vector<PortTypeEntry> PageOrder(std::vector<PortTypeEntry> registered) {
  std::stable_partition(registered.begin(), registered.end(),
                        [](const PortTypeEntry& e) { return e.name != kPublisherPortType; });
  return registered;
}

const PortTypeEntry* FindPortTypeIgnoringCase(const std::vector<PortTypeEntry>& entries,
                                              std::string_view name) {
  for (const PortTypeEntry& e : entries) {
    if (util::AsciiIEquals(e.name, name)) {
      return &e;
    }
  }
  return nullptr;
}

}  // namespace orv::soap::publish
