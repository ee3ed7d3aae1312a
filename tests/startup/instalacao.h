// Test fixtures for the whole service: a demo installation folder ".../orvalen" with an
// embedded database (schema and fixture) and its SCONF.xml, put on PATH; a free TCP port; a
// raw HTTP/1.1 client on loopback; the SOAP envelope of Auth.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_folder.h"

namespace orv::startup::teste {

class Instalacao {
 public:
  // em_outro_processo: the database is made by a child process, so this process never loads
  // the embedded engine (tests of orvwsd, which opens the database itself).
  explicit Instalacao(bool em_outro_processo = false);
  ~Instalacao();   // PATH as it was
  const std::filesystem::path& Raiz() const { return dir_.path(); }
  std::filesystem::path Pasta() const { return dir_.path() / "orvalen"; }
  std::filesystem::path Logs() const { return Pasta() / "logs"; }
  std::string Path() const { return path_; }   // PATH with the installation folder

 private:
  testing::TempFolder dir_;
  std::string path_antigo_;
  std::string path_;
};

// A TCP port below 10000 that nobody listens on right now.
std::uint16_t PortaLivre();

// Holds a port by listening on it (IPv4 any-address, as the service would).
class PortaOcupada {
 public:
  explicit PortaOcupada(std::uint16_t porta);
  ~PortaOcupada();
  PortaOcupada(const PortaOcupada&) = delete;
  PortaOcupada& operator=(const PortaOcupada&) = delete;

 private:
  int s_;
};

// Sends a raw request to 127.0.0.1:port and returns everything read until the server closes.
std::string Requisicao(std::uint16_t porta, const std::string& bytes);
std::string PostSoap(std::uint16_t porta, const std::string& acao, const std::string& corpo);
// The SOAP envelope of a call of IOrvWs with its parameters' elements.
std::string Envelope(const std::string& operacao, const std::string& parametros);
std::string EnvelopeAuth(const std::string& chave, const std::string& usuario);

// The texts of a log file's lines (after the marks), checking each ends in CR LF.
std::vector<std::string> LinhasDoLog(const std::filesystem::path& arquivo);

}  // namespace orv::startup::teste
