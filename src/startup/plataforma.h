// The operating-system calls of the start-up spine, the settings file and the daemon: the
// executable's own path, the address collectors must use (IpLocal), whole-file reads and
// atomic writes behind an interface that tests replace to inject faults, and the termination
// signals of the daemon.
//
// Thread safety: every function may be called from any thread; an IArquivos implementation
// must be usable from the thread that owns the object using it.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::startup {

// The folder separator of the platform ('\' on Windows, '/' elsewhere).
char SeparadorPasta();

// The full path of the running executable, and its folder (no trailing separator).
std::string CaminhoExecutavel();
std::string PastaExecutavel();

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

// Why `caminho` could not be written now, as the system says it; empty when it could. A path
// that exists must be a folder (pasta) or a file (!pasta) the caller may write into; one that
// does not must have a nearest existing folder the caller may create entries in. Looks only:
// nothing is made or changed.
std::string ErroDeGravacao(const std::string& caminho, bool pasta);

// Whole-file access.
class IArquivos {
 public:
  virtual ~IArquivos() = default;
  // The file's bytes (at most `limite`), or nothing when the file does not exist.
  virtual std::optional<std::string> Ler(const std::string& caminho, std::size_t limite) = 0;
  // Replaces the file's content (creating it when absent) atomically: the content goes to a
  // new file beside it, which then takes the file's place, so a failure or a crash midway
  // leaves the old file whole. False when it cannot be written (the old file is untouched).
  virtual bool Gravar(const std::string& caminho, std::string_view conteudo) = 0;
};
std::shared_ptr<IArquivos> ArquivosDoSistema();

// Daemon support: blocks the calling thread until SIGINT or SIGTERM arrives (Windows: a console
// control event) or PedirTermino() is called; returns the signal's name.
// PrepararSinaisDeTermino() must run on the main thread before any other thread starts, so that
// every thread has the signals blocked and only the waiter receives them.
void PrepararSinaisDeTermino();
std::string EsperarSinalDeTermino();
void PedirTermino();

}  // namespace orv::startup
