// Sessions and statements whose connection broke, and how a broken connection is told from
// other errors. Destroying such a session or statement would talk to the dead server from a
// destructor, and an error there ends the process (std::terminate); they are kept, reachable,
// until the process ends. This happens once per lost connection.
//
// Thread safety: any thread; the kept objects are guarded by one lock.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace soci {
class session;
class statement;
class soci_error;
}  // namespace soci

namespace orv::data {

void Abandon(std::unique_ptr<soci::session> s);
void Abandon(std::unique_ptr<soci::statement> st);
// How many sessions and statements were set aside.
std::size_t GraveyardSize();

// Whether the client reports the error as a lost connection.
bool IsConnectionLost(const soci::soci_error& e);
// The error's message as UTF-8 without trailing line ends.
std::string MessageOf(const soci::soci_error& e);

}  // namespace orv::data
