// Real SOAP toolkits against the running daemon: python3-suds and the Node.js "soap" package
// each read the WSDL from /wsdl/IOrvWs and call the four operations over HTTP, on a demo
// installation with the fixture database.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "startup/instalacao.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kChave = "7be09a4f2d31e8c6a05f93d7b2e6184c";

// orvwsd started from a folder of its own with orvws.ini naming the port; killed at the end.
class DaemonEmExecucao {
 public:
  DaemonEmExecucao(const orv::startup::teste::Instalacao& inst, std::uint16_t porta)
      : pasta_(inst.Raiz() / "bin") {
    fs::create_directories(pasta_);
    fs::copy_file(ORVWSD_PATH, pasta_ / "orvwsd", fs::copy_options::overwrite_existing);
    std::ofstream(pasta_ / "orvws.ini") << "[Conf]\nNumPorta=" << porta << "\n";
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_addopen(&acoes, 1, (pasta_ / "saida.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&acoes, 1, 2);
    const std::string programa = (pasta_ / "orvwsd").string();
    char* argv[] = {const_cast<char*>(programa.c_str()), nullptr};
    if (posix_spawn(&pid_, programa.c_str(), &acoes, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&acoes);
  }
  ~DaemonEmExecucao() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(50ms);
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Rodando() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  std::string Saida() const {
    std::ifstream in(pasta_ / "saida.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  fs::path pasta_;
  pid_t pid_ = -1;
};

// Runs a command and returns its exit status; its output goes to the test's output.
int Executar(const std::string& comando) {
  const int status = std::system(comando.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

class Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    porta_ = orv::startup::teste::PortaLivre();
    daemon_ = std::make_unique<DaemonEmExecucao>(inst_, porta_);
    const std::string get = "GET / HTTP/1.0\r\n\r\n";
    for (int i = 0; i < 200; ++i) {
      if (orv::startup::teste::Requisicao(porta_, get).rfind("HTTP/1.1 200", 0) == 0) return;
      ASSERT_TRUE(daemon_->Rodando()) << daemon_->Saida();
      std::this_thread::sleep_for(50ms);
    }
    FAIL() << "the daemon did not answer on port " << porta_ << "\n" << daemon_->Saida();
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(porta_); }

  orv::startup::teste::Instalacao inst_;
  std::uint16_t porta_ = 0;
  std::unique_ptr<DaemonEmExecucao> daemon_;
};

TEST_F(Interop, PythonSudsCallsTheFourOperations) {
  const std::string dir = std::string(ORV_SOURCE_DIR) + "/tests/interop";
  EXPECT_EQ(Executar("/usr/bin/python3 " + dir + "/suds_client.py " + Base() + " " + kChave +
                     " ANA"),
            0)
      << daemon_->Saida();
}

TEST_F(Interop, NodeSoapCallsTheFourOperations) {
  const std::string dir = std::string(ORV_SOURCE_DIR) + "/tests/interop";
  ASSERT_TRUE(fs::exists(dir + "/node_modules/soap"))
      << "the Node.js client is installed by scripts/setup-deps.sh";
  EXPECT_EQ(Executar("node " + dir + "/node_client.js " + Base() + " " + kChave + " COLETOR1"), 0)
      << daemon_->Saida();
}

}  // namespace
