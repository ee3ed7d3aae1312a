// The operating-system calls of the start-up spine, the settings file and the daemon: the
// executable's own path, the host's first IPv4 address, whole-file reads and writes behind an
// interface that tests replace to inject faults, and the termination signals of the daemon.
//
// Thread safety: every function may be called from any thread; an IArquivos implementation
// must be usable from the thread that owns the object using it.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orv::startup {

// The folder separator of the platform ('\' on Windows, '/' elsewhere).
char SeparadorPasta();

// A UTF-8 path text as a filesystem path, and back.
std::filesystem::path CaminhoDe(std::string_view utf8);
std::string TextoDe(const std::filesystem::path& path);

// The full path of the running executable, and its folder (no trailing separator).
std::string CaminhoExecutavel();
std::string PastaExecutavel();

// The first IPv4 address found by looking up the host's own name, as text; empty when the name
// has no IPv4 address. Raises std::runtime_error when the host name cannot be looked up.
std::string PrimeiroIpLocal();

// Whole-file access.
class IArquivos {
 public:
  virtual ~IArquivos() = default;
  // The file's bytes (at most `limite`), or nothing when the file does not exist.
  virtual std::optional<std::string> Ler(const std::string& caminho, std::size_t limite) = 0;
  // Replaces the file's content (creating it when absent); false when it cannot be written.
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
