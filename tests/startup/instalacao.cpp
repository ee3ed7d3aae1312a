#include "instalacao.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "data/config/sconf_writer.h"
#include "data/test_db.h"
#include "support/raw_client.h"
#include "support/log_reader.h"

namespace orv::startup::teste {

Instalacao::Instalacao(bool em_outro_processo) : dir_("orv_inst") {
  std::filesystem::create_directories(Pasta());
  std::string banco = (Pasta() / "gestao.fdb").string();
  if (em_outro_processo) {
    const pid_t filho = fork();
    if (filho == 0) {
      int status = 0;
      try {
        data::testdb::CreateTestDatabase(Pasta(), true, "gestao.fdb");
      } catch (...) {
        status = 1;
      }
      _exit(status);
    }
    int status = -1;
    waitpid(filho, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      throw std::runtime_error("the test database could not be made");
  } else {
    banco = data::testdb::CreateTestDatabase(Pasta(), true, "gestao.fdb");
  }
  data::SconfValores v;
  v.TipoBanco = 0;
  v.Servidor = "localhost";
  v.Gestao = banco;
  v.Online = banco;
  data::GravarSconf((Pasta() / "SCONF.xml").string(), v, true);
  const char* antigo = std::getenv("PATH");
  path_antigo_ = antigo ? antigo : "";
  path_ = Pasta().string() + ":" + path_antigo_;
  setenv("PATH", path_.c_str(), 1);
}

Instalacao::~Instalacao() { setenv("PATH", path_antigo_.c_str(), 1); }

std::uint16_t PortaLivre() {
  // The port field takes at most four digits, so the port must be below 10000: try ports of
  // that range, from a random start, until one binds on the IPv4 any-address.
  static std::mt19937 aleatorio(std::random_device{}());
  for (int tentativa = 0; tentativa < 200; ++tentativa) {
    const auto porta = static_cast<std::uint16_t>(3000 + aleatorio() % 6000);
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(porta);
    const bool livre = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    if (livre) return porta;
  }
  throw std::runtime_error("no free port below 10000");
}

PortaOcupada::PortaOcupada(std::uint16_t porta) : s_(socket(AF_INET, SOCK_STREAM, 0)) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(porta);
  const int sim = 1;   // the port may still have connections of the service in TIME_WAIT
  setsockopt(s_, SOL_SOCKET, SO_REUSEADDR, &sim, sizeof sim);
  EXPECT_EQ(bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  EXPECT_EQ(listen(s_, 1), 0);
}

PortaOcupada::~PortaOcupada() { close(s_); }

std::string Requisicao(std::uint16_t porta, const std::string& bytes) {
  testing::RawClient cliente;
  if (!cliente.Connect(porta) || !cliente.Send(bytes)) return {};
  // Everything up to the service's close, within the time limit.
  return cliente.ReadUntil([](const std::string&) { return false; }, std::chrono::seconds(10));
}

std::string PostSoap(std::uint16_t porta, const std::string& acao, const std::string& corpo) {
  return Requisicao(porta, "POST /soap/IOrvWs HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(porta) +
                               "\r\nContent-Type: text/xml; charset=utf-8\r\nSOAPAction: \"" + acao +
                               "\"\r\nContent-Length: " + std::to_string(corpo.size()) +
                               "\r\nConnection: close\r\n\r\n" + corpo);
}

std::string Envelope(const std::string& operacao, const std::string& parametros) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:ns1=\"urn:UOrvWsIntf-IOrvWs\"><SOAP-ENV:Body><ns1:" + operacao + ">" +
         parametros + "</ns1:" + operacao + "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string EnvelopeAuth(const std::string& chave, const std::string& usuario) {
  return Envelope("Auth", "<KeyValue>" + chave + "</KeyValue><UserName>" + usuario + "</UserName>");
}

std::vector<std::string> LinhasDoLog(const std::filesystem::path& arquivo) {
  std::vector<std::string> r;
  for (const std::string& linha : testing::LogFileLines(arquivo)) r.push_back(testing::LogLineText(linha));
  return r;
}

}  // namespace orv::startup::teste
