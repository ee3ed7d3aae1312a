// The host facts of the start-up spine: the choice of IpLocal over the host's name and its
// interfaces, and the settings file's atomic rewrite (a failed write keeps the old file).
#include "startup/plataforma.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include "startup/limites.h"
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

std::string Ler(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

#ifndef _WIN32
// A write that fails midway (here the file-size limit, as a full disk would) keeps the old
// file whole and leaves no new file beside it; a later write replaces it, keeping its
// permissions, and a link to it stays a link.
TEST(ArquivosDoSistema, RewriteIsAtomic) {
  testing::TempFolder dir;
  const auto ini = dir.path() / "orvws.ini";
  const auto novo = dir.path() / ("orvws.ini" + std::string(kSufixoGravacao));
  auto arquivos = ArquivosDoSistema();
  const std::string antigo = "[Conf]\nNumPorta=8081\nIniAut=1\n";
  ASSERT_TRUE(arquivos->Gravar(ini.string(), antigo));
  chmod(ini.c_str(), 0640);

  {
    struct sigaction ignorar {}, anterior {};
    ignorar.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignorar, &anterior);
    rlimit limite{}, salvo{};
    getrlimit(RLIMIT_FSIZE, &salvo);
    limite = salvo;
    limite.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &limite);
    const bool gravou = arquivos->Gravar(ini.string(), std::string(4096, 'x'));
    setrlimit(RLIMIT_FSIZE, &salvo);
    sigaction(SIGXFSZ, &anterior, nullptr);
    EXPECT_FALSE(gravou);
  }
  EXPECT_EQ(Ler(ini), antigo);
  EXPECT_FALSE(std::filesystem::exists(novo));

  ASSERT_TRUE(arquivos->Gravar(ini.string(), "[Conf]\nNumPorta=9000\n"));
  EXPECT_EQ(Ler(ini), "[Conf]\nNumPorta=9000\n");
  struct stat st {};
  ASSERT_EQ(stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_FALSE(std::filesystem::exists(novo));

  const auto link = dir.path() / "ligacao.ini";
  std::filesystem::create_symlink(ini, link);
  ASSERT_TRUE(arquivos->Gravar(link.string(), "[Conf]\nNumPorta=9001\n"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Ler(ini), "[Conf]\nNumPorta=9001\n");

  // A folder where the file should be: nothing is written and nothing is left beside it.
  const auto pasta = dir.path() / "pasta.ini";
  std::filesystem::create_directory(pasta);
  EXPECT_FALSE(arquivos->Gravar(pasta.string(), "x"));
  EXPECT_TRUE(std::filesystem::is_directory(pasta));
  EXPECT_FALSE(std::filesystem::exists(pasta.string() + std::string(kSufixoGravacao)));

  // Something not ours under the new file's name (a folder, a link) is left alone, and the
  // old file stays.
  std::filesystem::create_directory(novo);
  EXPECT_FALSE(arquivos->Gravar(ini.string(), "[Conf]\nNumPorta=1\n"));
  EXPECT_TRUE(std::filesystem::is_directory(novo));
  std::filesystem::remove(novo);
  const auto alvo = dir.path() / "alvo";
  std::filesystem::create_symlink(alvo, novo);
  EXPECT_FALSE(arquivos->Gravar(ini.string(), "[Conf]\nNumPorta=1\n"));
  EXPECT_FALSE(std::filesystem::exists(alvo));
  EXPECT_TRUE(std::filesystem::is_symlink(novo));
  EXPECT_EQ(Ler(ini), "[Conf]\nNumPorta=9001\n");
}
#endif

TEST(ErroDeGravacao, LooksWithoutMakingAnything) {
  testing::TempFolder dir;
  const auto arquivo = dir.path() / "arquivo";
  std::ofstream(arquivo) << "x";
  EXPECT_EQ(ErroDeGravacao(dir.str(), true), "");
  EXPECT_EQ(ErroDeGravacao((dir.path() / "a" / "b" / "logs").string(), true), "");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "a"));
  EXPECT_EQ(ErroDeGravacao(arquivo.string(), false), "");
  EXPECT_EQ(ErroDeGravacao(arquivo.string(), true), "Not a directory");
  EXPECT_EQ(ErroDeGravacao((arquivo / "logs").string(), true), "Not a directory");
  EXPECT_EQ(ErroDeGravacao(dir.str(), false), "Is a directory");
}

}  // namespace
}  // namespace orv::startup
