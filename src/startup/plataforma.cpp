#include "startup/plataforma.h"

#include "util/platform.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <io.h>
#include <condition_variable>
#include <mutex>
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace orv::startup {

std::string CaminhoExecutavel(util::Env& env) {
  std::string caminho = env.ExecutablePath();
  if (caminho.empty()) throw std::runtime_error("The path of the running program is unknown");
  return caminho;
}

std::string PastaExecutavel(util::Env& env) {
  return util::platform::Utf8FromPath(
      util::platform::PathFromUtf8(CaminhoExecutavel(env)).parent_path());
}

namespace {

#ifdef _WIN32
void IniciarWinsock() {
  static const bool iniciado = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)iniciado;
}
#endif

// The IPv4 addresses getaddrinfo gives for `nome`; empty when the name is not known.
std::vector<std::string> IpsDe(const char* nome) {
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
  std::vector<std::string> ips;
  for (addrinfo* a = lista; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET) continue;
    char texto[INET_ADDRSTRLEN] = {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, texto, sizeof texto) != nullptr) ips.push_back(texto);
  }
  freeaddrinfo(lista);
  return ips;
}

}  // namespace

bool IpLoopback(std::string_view ipv4) { return ipv4.substr(0, 4) == "127."; }

std::vector<std::string> IpsDoNomeLocal() {
#ifdef _WIN32
  IniciarWinsock();
#endif
  char nome[256] = {};
  if (gethostname(nome, sizeof nome - 1) != 0)
    throw std::runtime_error("Não foi possível obter o nome deste computador");
  return IpsDe(nome);
}

std::vector<std::string> IpsDasInterfaces() {
#ifdef _WIN32
  // An empty name gives every address registered on this computer.
  IniciarWinsock();
  return IpsDe("");
#else
  ifaddrs* lista = nullptr;
  if (getifaddrs(&lista) != 0)
    throw std::runtime_error(std::string("Não foi possível ler as interfaces de rede: ") +
                             std::strerror(errno));
  std::vector<std::string> ips;
  for (ifaddrs* i = lista; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    if ((i->ifa_flags & IFF_UP) == 0) continue;
    char texto[INET_ADDRSTRLEN] = {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, texto, sizeof texto) != nullptr) ips.push_back(texto);
  }
  freeifaddrs(lista);
  return ips;
#endif
}

std::string EscolherIpLocal(const FonteIps& pelo_nome, const FonteIps& pelas_interfaces) {
  std::string loopback;
  auto primeiro = [&loopback](const std::vector<std::string>& ips) -> std::string {
    for (const std::string& ip : ips) {
      if (!IpLoopback(ip)) return ip;
      if (loopback.empty()) loopback = ip;
    }
    return {};
  };
  std::string erro_nome;
  try {
    if (std::string ip = primeiro(pelo_nome()); !ip.empty()) return ip;
  } catch (const std::exception& e) {
    erro_nome = e.what();
  }
  try {
    if (std::string ip = primeiro(pelas_interfaces()); !ip.empty()) return ip;
  } catch (const std::exception&) {
    // With the name's answer there is still an address to give; without it, the name's error
    // is the one the operator sees.
    if (!erro_nome.empty() && loopback.empty()) throw std::runtime_error(erro_nome);
  }
  return loopback;
}

std::string PrimeiroIpLocal() { return EscolherIpLocal(IpsDoNomeLocal, IpsDasInterfaces); }

std::error_code ErroDeGravacao(util::Env& env, const std::string& caminho, bool pasta) {
  using util::PathKind;
  std::filesystem::path p = util::platform::PathFromUtf8(caminho);
  auto tipo = [&env](const std::filesystem::path& q) {
    return env.KindOf(util::platform::Utf8FromPath(q));
  };
  if (const PathKind estado = tipo(p); estado != PathKind::kMissing) {
    const bool e_pasta = estado == PathKind::kFolder;
    if (pasta && !e_pasta) return std::make_error_code(std::errc::not_a_directory);
    if (!pasta && e_pasta) return std::make_error_code(std::errc::is_a_directory);
  } else {
    // The nearest folder that exists is where the missing entries would be made.
    do {
      p = p.parent_path();
    } while (!p.empty() && tipo(p) == PathKind::kMissing && p != p.root_path());
    if (p.empty()) p = ".";
    if (tipo(p) != PathKind::kFolder) return std::make_error_code(std::errc::not_a_directory);
    pasta = true;
  }
  return env.WriteAccess(util::platform::Utf8FromPath(p), pasta);
}

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
