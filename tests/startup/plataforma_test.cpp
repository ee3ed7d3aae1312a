// The host facts of the start-up spine: the choice of IpLocal over the host's name and its
// interfaces, and whether a path could be written.
#include "startup/plataforma.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "support/temp_folder.h"

namespace orv::startup {
namespace {

using Ips = std::vector<std::string>;

// A source of addresses that counts its readings: the list, or an error when it has none.
struct Fonte {
  std::optional<Ips> ips;
  int* lidas;
  std::vector<std::string> operator()() const {
    ++*lidas;
    if (!ips) throw std::runtime_error("Não foi possível resolver o nome \"vm\": falhou");
    return *ips;
  }
};

TEST(EscolherIpLocal, FirstNonLoopbackByNameThenInterfacesLoopbackLast) {
  const std::optional<Ips> erro;
  struct Caso {
    const char* nome;
    std::optional<Ips> pelo_nome, pelas_interfaces;
    std::string esperado;
    int interfaces_lidas;
  };
  const Caso casos[] = {
      // The host's name maps to loopback (Debian's /etc/hosts): the network address is found.
      {"nome em loopback", Ips{"127.0.1.1"}, Ips{"127.0.0.1", "192.0.2.2", "10.0.0.9"},
       "192.0.2.2", 1},
      {"nome com endereço", Ips{"10.1.2.3", "10.1.2.4"}, erro, "10.1.2.3", 0},
      {"loopback antes do endereço", Ips{"127.0.0.1", "10.1.2.3"}, erro, "10.1.2.3", 0},
      {"nome desconhecido", Ips{}, Ips{"127.0.0.1", "172.16.0.3"}, "172.16.0.3", 1},
      {"nome que não resolve", erro, Ips{"127.0.0.1", "172.16.0.3"}, "172.16.0.3", 1},
      // A host with no network interface but loopback.
      {"só loopback", Ips{"127.0.1.1"}, Ips{"127.0.0.1"}, "127.0.1.1", 1},
      {"só loopback, nome desconhecido", Ips{}, Ips{"127.0.0.1"}, "127.0.0.1", 1},
      {"nome em loopback, interfaces ilegíveis", Ips{"127.0.1.1"}, erro, "127.0.1.1", 1},
      {"nenhum endereço", Ips{}, Ips{}, "", 1},
      {"nome que não resolve, nenhuma interface", erro, Ips{}, "", 1},
  };
  for (const Caso& c : casos) {
    int nomes = 0, interfaces = 0;
    EXPECT_EQ(EscolherIpLocal(Fonte{c.pelo_nome, &nomes}, Fonte{c.pelas_interfaces, &interfaces}),
              c.esperado)
        << c.nome;
    EXPECT_EQ(nomes, 1) << c.nome;
    EXPECT_EQ(interfaces, c.interfaces_lidas) << c.nome;
  }
  // Neither can be read: the name lookup's error, for the operator's error box.
  int n = 0;
  try {
    EscolherIpLocal(Fonte{erro, &n}, Fonte{erro, &n});
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Não foi possível resolver o nome \"vm\": falhou");
  }
}

TEST(EscolherIpLocal, LoopbackIsTheWhole127Network) {
  for (const char* ip : {"127.0.0.1", "127.0.1.1", "127.255.255.254"}) EXPECT_TRUE(IpLoopback(ip)) << ip;
  for (const char* ip : {"10.0.0.1", "192.0.2.2", "128.0.0.1", "12.7.0.1", "1.127.0.1", ""})
    EXPECT_FALSE(IpLoopback(ip)) << ip;
}

// The system's words for why a path could not be written on the disk; "" when it could.
std::string Erro(const std::filesystem::path& caminho, bool pasta) {
  const std::error_code e = ErroDeGravacao(util::Env::Default(), caminho.string(), pasta);
  return e ? e.message() : "";
}

TEST(ErroDeGravacao, LooksWithoutMakingAnything) {
  testing::TempFolder dir;
  const auto arquivo = dir.path() / "arquivo";
  std::ofstream(arquivo) << "x";
  EXPECT_EQ(Erro(dir.path(), true), "");
  EXPECT_EQ(Erro(dir.path() / "a" / "b" / "logs", true), "");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "a"));
  EXPECT_EQ(Erro(arquivo, false), "");
  EXPECT_EQ(Erro(arquivo, true), "Not a directory");
  EXPECT_EQ(Erro(arquivo / "logs", true), "Not a directory");
  EXPECT_EQ(Erro(dir.path(), false), "Is a directory");
}

}  // namespace
}  // namespace orv::startup
