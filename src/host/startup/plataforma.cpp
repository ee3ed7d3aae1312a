#include "host/startup/plataforma.h"

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <condition_variable>
#include <mutex>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace orv::startup {

char SeparadorPasta() {
#ifdef _WIN32
  return '\\';
#else
  return '/';
#endif
}

std::filesystem::path CaminhoDe(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string TextoDe(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

std::string CaminhoExecutavel() {
#ifdef _WIN32
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
    if (n < buffer.size()) {
      buffer.resize(n);
      return TextoDe(std::filesystem::path(buffer));
    }
    buffer.resize(buffer.size() * 2);
  }
#else
  std::error_code ec;
  const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::system_error(ec, "/proc/self/exe");
  return TextoDe(p);
#endif
}

std::string PastaExecutavel() { return TextoDe(CaminhoDe(CaminhoExecutavel()).parent_path()); }

std::string PrimeiroIpLocal() {
#ifdef _WIN32
  static const bool iniciado = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)iniciado;
#endif
  char nome[256] = {};
  if (gethostname(nome, sizeof nome - 1) != 0)
    throw std::runtime_error("Não foi possível obter o nome deste computador");
  addrinfo dica{};
  dica.ai_family = AF_INET;
  dica.ai_socktype = SOCK_STREAM;
  addrinfo* lista = nullptr;
  const int rc = getaddrinfo(nome, nullptr, &dica, &lista);
  if (rc == EAI_NONAME
#ifdef EAI_NODATA
      || rc == EAI_NODATA
#endif
  )
    return {};
  if (rc != 0)
    throw std::runtime_error(std::string("Não foi possível resolver o nome \"") + nome +
                             "\": " + gai_strerror(rc));
  std::string ip;
  for (addrinfo* a = lista; a != nullptr && ip.empty(); a = a->ai_next) {
    if (a->ai_family != AF_INET) continue;
    char texto[INET_ADDRSTRLEN] = {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, texto, sizeof texto) != nullptr) ip = texto;
  }
  freeaddrinfo(lista);
  return ip;
}

namespace {

class ArquivosReais final : public IArquivos {
 public:
  std::optional<std::string> Ler(const std::string& caminho, std::size_t limite) override {
    std::ifstream in(CaminhoDe(caminho), std::ios::binary);
    if (!in) {
      std::error_code ec;
      if (!std::filesystem::exists(CaminhoDe(caminho), ec)) return std::nullopt;
      throw std::runtime_error("Unable to read " + caminho);
    }
    std::string dados(limite, '\0');
    in.read(dados.data(), static_cast<std::streamsize>(limite));
    dados.resize(static_cast<std::size_t>(in.gcount()));
    return dados;
  }

  bool Gravar(const std::string& caminho, std::string_view conteudo) override {
    std::ofstream out(CaminhoDe(caminho), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(conteudo.data(), static_cast<std::streamsize>(conteudo.size()));
    out.flush();
    return static_cast<bool>(out);
  }
};

}  // namespace

std::shared_ptr<IArquivos> ArquivosDoSistema() { return std::make_shared<ArquivosReais>(); }

#ifdef _WIN32

namespace {
std::mutex g_sinal_mutex;
std::condition_variable g_sinal_cv;
std::string g_sinal;

BOOL WINAPI TratarControle(DWORD evento) {
  const char* nome = evento == CTRL_C_EVENT       ? "CTRL_C"
                     : evento == CTRL_BREAK_EVENT ? "CTRL_BREAK"
                     : evento == CTRL_CLOSE_EVENT ? "CTRL_CLOSE"
                                                  : "CTRL_SHUTDOWN";
  {
    std::lock_guard<std::mutex> lock(g_sinal_mutex);
    if (g_sinal.empty()) g_sinal = nome;
  }
  g_sinal_cv.notify_all();
  // Give the main thread time to shut down before the system ends the process.
  Sleep(evento == CTRL_C_EVENT || evento == CTRL_BREAK_EVENT ? 0 : 5000);
  return TRUE;
}
}  // namespace

void PrepararSinaisDeTermino() { SetConsoleCtrlHandler(TratarControle, TRUE); }

std::string EsperarSinalDeTermino() {
  std::unique_lock<std::mutex> lock(g_sinal_mutex);
  g_sinal_cv.wait(lock, [] { return !g_sinal.empty(); });
  return g_sinal;
}

void PedirTermino() { TratarControle(CTRL_BREAK_EVENT); }

#else

namespace {
sigset_t SinaisDeTermino() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
}  // namespace

void PrepararSinaisDeTermino() {
  const sigset_t set = SinaisDeTermino();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string EsperarSinalDeTermino() {
  const sigset_t set = SinaisDeTermino();
  int sinal = 0;
  while (sigwait(&set, &sinal) != 0) {
  }
  return sinal == SIGINT ? "SIGINT" : "SIGTERM";
}

void PedirTermino() { kill(getpid(), SIGTERM); }

#endif

}  // namespace orv::startup
