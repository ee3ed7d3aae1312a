// The process-wide regional settings.
#include "util/regional.h"

#include <mutex>
#include <optional>

#include "util/platform.h"

namespace orv::util {

namespace {
std::mutex g_mutex;
std::optional<RegionalSettings> g_current;   // read from the host on first use
}  // namespace

// The fields' defaults are the shared ones ("/", ":", "hh:nn:ss"); each set names the rest.
RegionalSettings RegionalPtBR() {
  RegionalSettings s;
  s.decimal_separator = ",";
  s.ansi_code_page = "WINDOWS-1252";
  return s;
}

RegionalSettings RegionalC() {
  RegionalSettings s;
  s.decimal_separator = ".";
  s.ansi_code_page = "UTF-8";
  return s;
}

RegionalSettings RegionalFromHost() { return platform::HostRegionalSettings(); }

RegionalSettings Regional() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_current) g_current = RegionalFromHost();
  return *g_current;
}

void SetRegional(const RegionalSettings& settings) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_current = settings;
}

}  // namespace orv::util
