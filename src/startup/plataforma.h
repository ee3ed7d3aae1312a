// The operating-system calls of the start-up spine and the daemon: the executable's folder (by
// the Env's executable path), the address collectors must use (IpLocal), whether a path could
// be written (through the Env), and the termination signals of the daemon.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "util/env.h"

namespace orv::startup {

// The full path of the running executable (Env::ExecutablePath), and its folder (no trailing
// separator); raise std::runtime_error when the path is unknown.
std::string CaminhoExecutavel(util::Env& env);
std::string PastaExecutavel(util::Env& env);

// IpLocal, the address collectors must be given: the host's first non-loopback IPv4 address,
// looked for by the host's own name first and then among its interfaces (a host whose name
// maps to 127.0.0.1 or 127.0.1.1, as a default Debian /etc/hosts does, is still found by its
// network address). A loopback address only when neither gives another; empty when neither
// gives any. A name that does not resolve is no error (the interfaces answer); raises
// std::runtime_error, with the name lookup's message, only when both cannot be read.
std::string PrimeiroIpLocal();

// The choice of PrimeiroIpLocal over its two sources, in their order; each source may raise,
// and the interfaces are read only when the name gives no address but loopback ones.
using FonteIps = std::function<std::vector<std::string>()>;
std::string EscolherIpLocal(const FonteIps& pelo_nome, const FonteIps& pelas_interfaces);

// Whether a dotted IPv4 text is in 127.0.0.0/8.
bool IpLoopback(std::string_view ipv4);
// The IPv4 addresses of the host's own name, in the resolver's order; empty when the name is
// not known. Raises std::runtime_error when the name cannot be looked up.
std::vector<std::string> IpsDoNomeLocal();
// The IPv4 addresses of the host's interfaces that are up, in the system's order. Raises
// std::runtime_error when they cannot be listed.
std::vector<std::string> IpsDasInterfaces();

// Why `caminho` could not be written now, in the system's terms; no error when it could. A path
// that exists must be a folder (pasta) or a file (!pasta) the caller may write into; one that
// does not must have a nearest existing folder the caller may create entries in. Looks only,
// through the Env: nothing is made or changed.
std::error_code ErroDeGravacao(util::Env& env, const std::string& caminho, bool pasta);

// Daemon support: blocks the calling thread until SIGINT or SIGTERM arrives (Windows: a console
// control event) or PedirTermino() is called; returns the signal's name.
// PrepararSinaisDeTermino() must run on the main thread before any other thread starts, so that
// every thread has the signals blocked and only the waiter receives them.
void PrepararSinaisDeTermino();
std::string EsperarSinalDeTermino();
void PedirTermino();

}  // namespace orv::startup
