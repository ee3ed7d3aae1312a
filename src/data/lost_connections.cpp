#include "data/lost_connections.h"

#include <soci/firebird/soci-firebird.h>
#include <soci/soci.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <vector>

#include "util/text.h"

namespace orv::data {

namespace {

struct Abandoned {
  std::mutex mutex;
  std::vector<soci::session*> sessions;
  std::vector<soci::statement*> statements;
};
Abandoned& Graveyard() {
  static auto* g = new Abandoned;  // never destroyed
  return *g;
}
}  // namespace

void Abandon(std::unique_ptr<soci::session> s) {
  if (!s) return;
  std::lock_guard lock(Graveyard().mutex);
  Graveyard().sessions.push_back(s.release());
}
void Abandon(std::unique_ptr<soci::statement> st) {
  if (!st) return;
  std::lock_guard lock(Graveyard().mutex);
  Graveyard().statements.push_back(st.release());
}
std::size_t GraveyardSize() {
  std::lock_guard lock(Graveyard().mutex);
  return Graveyard().sessions.size() + Graveyard().statements.size();
}

bool IsConnectionLost(const soci::soci_error& e) {
  if (const auto* fb = dynamic_cast<const soci::firebird_soci_error*>(&e)) {
    static constexpr ISC_STATUS kLost[] = {
        isc_network_error, isc_net_read_err, isc_net_write_err, isc_lost_db_connection,
        isc_conn_lost,     isc_shutdown,     isc_att_shutdown,  isc_bad_db_handle};
    const auto& st = fb->status_;
    for (std::size_t i = 0; i + 1 < st.size(); ++i)
      if (st[i] == isc_arg_gds && std::find(std::begin(kLost), std::end(kLost), st[i + 1]) !=
                                      std::end(kLost))
        return true;
    return false;
  }
  return e.get_error_category() == soci::soci_error::connection_error;
}

std::string MessageOf(const soci::soci_error& e) {
  std::string m = e.get_error_message();
  if (!util::IsValidUtf8(m)) m = util::Win1252ToUtf8(m);  // Firebird quotes data as WIN1252
  while (!m.empty() && (m.back() == '\n' || m.back() == '\r')) m.pop_back();
  return m;
}

}  // namespace orv::data
