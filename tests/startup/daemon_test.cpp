// orvwsd as a program: started in a copy of its own folder (with orvws.ini beside it) on a demo
// installation, serving a SOAP call, ended by SIGTERM; and its start-up failures. Its copy of
// the log to standard output.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "instalacao.h"
#include "startup/daemon.h"

extern char** environ;

namespace orv::startup {
namespace {

using namespace std::chrono_literals;

// A running copy of orvwsd with its standard output and error in files.
class Daemon {
 public:
  Daemon(const teste::Instalacao& inst, const std::string& ini, const char* opcao = nullptr)
      : pasta_(inst.Raiz() / "bin") {
    std::filesystem::create_directories(pasta_);
    std::filesystem::copy_file(ORVWSD_PATH, pasta_ / "orvwsd",
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(pasta_ / "orvws.ini", std::ios::binary) << ini;
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_addopen(&acoes, 1, (pasta_ / "stdout.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&acoes, 2, (pasta_ / "stderr.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string programa = (pasta_ / "orvwsd").string();
    char* argv[] = {const_cast<char*>(programa.c_str()), const_cast<char*>(opcao), nullptr};
    EXPECT_EQ(posix_spawn(&pid_, programa.c_str(), &acoes, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&acoes);
  }
  ~Daemon() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The exit status, waiting at most `limite`; -1 when it is still running then.
  int Esperar(std::chrono::milliseconds limite = 30s) {
    const auto fim = std::chrono::steady_clock::now() + limite;
    int status = 0;
    while (std::chrono::steady_clock::now() < fim) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }
  void Sinal(int s) { kill(pid_, s); }
  std::string Saida(const char* nome) const {
    std::ifstream in(pasta_ / nome, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path pasta_;
  pid_t pid_ = -1;
};

std::filesystem::path ArquivoDoLog(const teste::Instalacao& inst) {
  if (!std::filesystem::exists(inst.Logs())) return {};
  for (const auto& e : std::filesystem::directory_iterator(inst.Logs())) return e.path();
  return {};
}

// Waits (bounded) until the log holds a line containing `texto`.
bool EsperarLinha(const teste::Instalacao& inst, const std::string& texto) {
  for (int i = 0; i < 1500; ++i) {
    const auto arquivo = ArquivoDoLog(inst);
    if (!arquivo.empty()) {
      std::ifstream in(arquivo, std::ios::binary);
      const std::string s(std::istreambuf_iterator<char>(in), {});
      if (s.find(texto) != std::string::npos) return true;
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

TEST(Orvwsd, ServesASoapCallAndShutsDownOnSigterm) {
  teste::Instalacao inst(true);
  const std::uint16_t porta = teste::PortaLivre();
  Daemon d(inst, "[Conf]\nNumPorta=" + std::to_string(porta) + "\nIniAut=0\n");
  ASSERT_TRUE(EsperarLinha(inst, "Serviço iniciado na porta")) << d.Saida("stderr.txt");

  const std::string resposta = teste::PostSoap(
      porta, "urn:UOrvWsIntf-IOrvWs#Auth",
      teste::EnvelopeAuth("7be09a4f2d31e8c6a05f93d7b2e6184c", "ANA"));
  EXPECT_NE(resposta.find(">true</return>"), std::string::npos) << resposta;

  d.Sinal(SIGTERM);
  EXPECT_EQ(d.Esperar(), 0);
  const auto linhas = teste::LinhasDoLog(ArquivoDoLog(inst));
  ASSERT_EQ(linhas.size(), 8u);
  EXPECT_EQ(linhas[0], "Aplicação aberta, status do serviço: Iniciando");   // always starts
  EXPECT_EQ(linhas[1].rfind("Informações:: IP: ", 0), 0u);
  EXPECT_NE(linhas[2].find("), Serviço iniciado na porta " + std::to_string(porta)), std::string::npos);
  EXPECT_EQ(linhas[3].rfind("Coletor(127.0.0.1 como ANA) autenticado com sucesso!", 0), 0u);
  EXPECT_EQ(linhas[4], "Aplicação encerrada, parando serviço");
  EXPECT_EQ(linhas[5].rfind("Aplicação recebeu 1 requisição(ões) com tempo médio de execução de ", 0), 0u);
  EXPECT_NE(linhas[6].find("), Serviço parado"), std::string::npos);
  EXPECT_EQ(linhas[7], "Aplicação encerrada");
  // The same lines on standard output, nothing on standard error.
  const std::string saida = d.Saida("stdout.txt");
  for (const std::string& l : linhas) EXPECT_NE(saida.find("), " + l + "\n"), std::string::npos) << l;
  EXPECT_EQ(d.Saida("stderr.txt"), "");
}

TEST(Orvwsd, SigintEndsItTheSameWay) {
  teste::Instalacao inst(true);
  Daemon d(inst, "[Conf]\nNumPorta=" + std::to_string(teste::PortaLivre()) + "\n");
  ASSERT_TRUE(EsperarLinha(inst, "Serviço iniciado na porta"));
  d.Sinal(SIGINT);
  EXPECT_EQ(d.Esperar(), 0);
  const auto linhas = teste::LinhasDoLog(ArquivoDoLog(inst));
  ASSERT_FALSE(linhas.empty());
  EXPECT_EQ(linhas.back(), "Aplicação encerrada");
}

TEST(Orvwsd, StartUpFailuresGoToStandardErrorWithANonZeroStatus) {
  {  // no configuration file: nothing else happens
    teste::Instalacao inst(true);
    std::filesystem::remove(inst.Pasta() / "SCONF.xml");
    Daemon d(inst, "");
    EXPECT_EQ(d.Esperar(), 1);
    EXPECT_EQ(d.Saida("stderr.txt"),
              "Incapaz de carregar as configurações do i-Orvalen. Mensagem de erro: \n\r"
              "CdsSCONF: Missing data provider or data packet\n");
    EXPECT_EQ(d.Saida("stdout.txt"), "");
    EXPECT_FALSE(std::filesystem::exists(inst.Logs()));
  }
  {  // a port above 9999 in the settings file
    teste::Instalacao inst(true);
    Daemon d(inst, "[Conf]\nNumPorta=12000\n");
    EXPECT_EQ(d.Esperar(), 1);
    EXPECT_EQ(d.Saida("stderr.txt"), "Número de porta inválido!\n");
    const auto linhas = teste::LinhasDoLog(ArquivoDoLog(inst));
    ASSERT_EQ(linhas.size(), 5u);
    EXPECT_EQ(linhas[2], "Aplicação encerrada, serviço parado");
    EXPECT_EQ(linhas[4], "Aplicação encerrada");
  }
}

// --check makes the start as the service would and says what it would serve, writing no log;
// a start that would fail gives its error and status 1, as the start itself would.
TEST(Orvwsd, CheckSaysWhatWouldBeServedOrWhyNot) {
  teste::Instalacao inst(true);
  const std::uint16_t porta = teste::PortaLivre();
  {
    Daemon d(inst, "[Conf]\nNumPorta=" + std::to_string(porta) + "\n", "--check");
    EXPECT_EQ(d.Esperar(), 0) << d.Saida("stderr.txt");
    const std::string saida = d.Saida("stdout.txt");
    const std::string pasta = inst.Pasta().string();
    EXPECT_EQ(saida.rfind("Pasta de instalação: " + pasta + "\n"
                          "Banco de dados: Firebird, " + pasta + "/gestao.fdb\n"
                          "Porta: " + std::to_string(porta) + "\n"
                          "Pasta de LOGs: " + pasta + "/logs\n"
                          "Endereço para os coletores: http://", 0), 0u) << saida;
    EXPECT_NE(saida.find(":" + std::to_string(porta) + " (WSDL: http://"), std::string::npos) << saida;
    EXPECT_NE(saida.find("\nVerificação concluída: o serviço pode ser iniciado.\n"), std::string::npos);
    EXPECT_EQ(d.Saida("stderr.txt"), "");
    EXPECT_FALSE(std::filesystem::exists(inst.Logs()));   // nothing written, nothing made
  }
  struct Caso { const char* nome; std::string ini; std::string erro; };
  const Caso casos[] = {
      {"porta acima de 9999", "[Conf]\nNumPorta=12000\n", "Número de porta inválido!\n"},
      {"porta ocupada", "[Conf]\nNumPorta=" + std::to_string(porta) + "\n",
       "Número de porta não permitido, provavelmente outro serviço está utilizando esta porta!\n"},
  };
  for (const Caso& c : casos) {
    // The second case: another program listens on the port. (A running orvwsd on the embedded
    // database would stop the check earlier: the engine keeps the database file to itself.)
    std::optional<teste::PortaOcupada> ocupada;
    if (c.erro.find("não permitido") != std::string::npos) ocupada.emplace(porta);
    Daemon d(inst, c.ini, "--check");
    EXPECT_EQ(d.Esperar(), 1) << c.nome;
    EXPECT_EQ(d.Saida("stderr.txt"), c.erro) << c.nome;
    EXPECT_EQ(d.Saida("stdout.txt").find("Verificação concluída"), std::string::npos) << c.nome;
  }
  // A file where the log folder should be: the start's error box text, and nothing written.
  std::ofstream(inst.Logs()) << "x";
  const std::string erro =
      "Erro de E/S ao criar a pasta de logs \"" + inst.Logs().string() + "\": Not a directory.\n";
  for (const char* opcao : {"--check", static_cast<const char*>(nullptr)}) {   // the start says the same
    Daemon d(inst, "", opcao);
    EXPECT_EQ(d.Esperar(), 1) << (opcao ? opcao : "");
    EXPECT_EQ(d.Saida("stderr.txt"), erro) << (opcao ? opcao : "");
  }
  std::filesystem::remove(inst.Pasta() / "SCONF.xml");
  Daemon sem_config(inst, "", "--check");
  EXPECT_EQ(sem_config.Esperar(), 1);
  EXPECT_EQ(sem_config.Saida("stderr.txt"),
            "Incapaz de carregar as configurações do i-Orvalen. Mensagem de erro: \n\r"
            "CdsSCONF: Missing data provider or data packet\n");
}

TEST(Orvwsd, VersionHelpAndOptionsNotUnderstood) {
  teste::Instalacao inst(true);
  struct Caso { const char* opcao; int status; const char* saida; const char* erros; };
  const Caso casos[] = {
      {"--version", 0, "orvwsd (OrvWs) ", nullptr},
      {"--help", 0, "Uso: orvwsd [--check | --version | --help]\n", nullptr},
      {"--porta=80", 2, nullptr, "orvwsd: opção desconhecida: --porta=80\n\nUso: orvwsd"},
  };
  for (const Caso& c : casos) {
    Daemon d(inst, "", c.opcao);
    EXPECT_EQ(d.Esperar(), c.status) << c.opcao;
    const std::string saida = d.Saida("stdout.txt"), erros = d.Saida("stderr.txt");
    EXPECT_EQ(saida.rfind(c.saida ? c.saida : "", 0), 0u) << c.opcao << ": " << saida;
    if (!c.saida) {
      EXPECT_EQ(saida, "") << c.opcao;
    }
    EXPECT_EQ(erros.rfind(c.erros ? c.erros : "", 0), 0u) << c.opcao << ": " << erros;
    if (!c.erros) {
      EXPECT_EQ(erros, "") << c.opcao;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(inst.Logs()));   // none of them starts anything
}

}  // namespace
}  // namespace orv::startup

namespace orv::startup {
namespace {

op::TLogRow Linha(int thread, int i) {
  op::TLogRow row;
  row.DTA_INICIO = "T" + std::to_string(thread);
  row.VAL_TMP_EXEC = std::to_string(i);
  row.DES_LOG = "linha";
  return row;
}

// Rows from many threads reach the stream whole, each thread's in its order, none lost while
// the queue has room; past the queue's room rows are dropped and the count is written.
TEST(TSaidaLog, CopiesEveryRowInOrderAndCountsWhatItDrops) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  constexpr int kThreads = 4;
  constexpr int kRows = 500;
  {
    TSaidaLog saida(f);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&saida, t] {
        for (int i = 0; i < kRows; ++i) saida.RowAppended(0, Linha(t, i));
      });
    for (auto& th : threads) th.join();
  }
  std::rewind(f);
  std::vector<int> next(kThreads, 0);
  char buf[128];
  int lines = 0;
  while (std::fgets(buf, sizeof buf, f)) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(buf, "T%d(%d), linha\n", &t, &i), 2) << buf;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[t]++);
    ++lines;
  }
  EXPECT_EQ(lines, kThreads * kRows);
  std::fclose(f);

  // A stream that cannot keep up: a pipe nobody reads until the rows are in.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* w = fdopen(fds[1], "w");
  ASSERT_NE(w, nullptr);
  constexpr int kMuitas = 3 * static_cast<int>(kMaxLinhasPendentes);
  std::string lido;
  std::thread leitor;
  {
    TSaidaLog saida(w);
    for (int i = 0; i < kMuitas; ++i) saida.RowAppended(0, Linha(0, i));
    leitor = std::thread([&] {
      char b[65536];
      for (ssize_t n; (n = read(fds[0], b, sizeof b)) > 0;)
        lido.append(b, static_cast<std::size_t>(n));
    });
  }
  std::fclose(w);
  leitor.join();
  close(fds[0]);
  const auto copiadas = std::count(lido.begin(), lido.end(), '\n');
  EXPECT_LT(copiadas, kMuitas);
  EXPECT_NE(lido.find("linhas do log não mostradas aqui"), std::string::npos);
}

}  // namespace
}  // namespace orv::startup
