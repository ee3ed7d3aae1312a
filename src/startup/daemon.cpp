#include "startup/daemon.h"

#include <optional>
#include <string_view>

#include "data/config/configuracao.h"
#include "startup/plataforma.h"
#include "startup/servico.h"

#ifndef ORVWS_VERSION
#define ORVWS_VERSION "0"
#endif

namespace orv::startup {

TSaidaLog::TSaidaLog(std::FILE* destino) : destino_(destino), thread_([this] { Escrever(); }) {}

TSaidaLog::~TSaidaLog() {
  {
    std::lock_guard lock(mutex_);
    fim_ = true;
  }
  cv_.notify_one();
  thread_.join();
}

void TSaidaLog::RowAppended(std::size_t, const op::TLogRow& row) {
  std::string linha = row.DTA_INICIO + "(" + row.VAL_TMP_EXEC + "), " + row.DES_LOG + "\n";
  bool acordar = false;
  {
    std::lock_guard lock(mutex_);
    if (pendentes_.size() >= kMaxLinhasPendentes) {
      ++descartadas_;
      return;
    }
    // The writer sleeps only on an empty queue: one wake-up per batch, not one per line.
    acordar = pendentes_.empty();
    pendentes_.push_back(std::move(linha));
  }
  if (acordar) cv_.notify_one();
}

void TSaidaLog::Escrever() {
  std::deque<std::string> lote;
  std::unique_lock lock(mutex_);
  for (;;) {
    cv_.wait(lock, [this] { return fim_ || !pendentes_.empty(); });
    // Lines gather for a moment (no notification comes while the queue is not empty); the end
    // cuts the pause short.
    cv_.wait_for(lock, kPausaSaida, [this] { return fim_; });
    while (!pendentes_.empty()) {
      // Everything pending is written at once, with one flush.
      lote.swap(pendentes_);
      const std::size_t descartadas = descartadas_;
      descartadas_ = 0;
      lock.unlock();
      if (descartadas > 0)
        std::fprintf(destino_, "(%zu linhas do log não mostradas aqui)\n", descartadas);
      for (const std::string& linha : lote) std::fwrite(linha.data(), 1, linha.size(), destino_);
      std::fflush(destino_);
      lote.clear();
      lock.lock();
    }
    if (fim_) return;
  }
}

void TVisaoDaemon::MostrarErro(const std::string& text) {
  ++erros_mostrados_;
  std::fprintf(erros_, "%s\n", text.c_str());
  std::fflush(erros_);
}

namespace {

// The machine for --check: it looks whether the log's folder and the day's file (and any file
// the start would rewrite) could be made and written as the start would, and writes nothing.
// Everything else reaches the machine it wraps.
class TEnvSemGravar final : public util::EnvWrapper {
 public:
  using util::EnvWrapper::EnvWrapper;
  std::error_code OpenAppend(const std::string& path,
                             std::unique_ptr<util::IAppendFile>* file) override {
    if (const std::error_code e = ErroDeGravacao(target(), path, false)) return e;
    *file = std::make_unique<Descarte>();
    return {};
  }
  std::error_code CreateFolders(const std::string& path) override {
    return ErroDeGravacao(target(), path, true);
  }
  bool WriteFileAtomic(const std::string& path, std::string_view) override {
    return !ErroDeGravacao(target(), path, false);
  }

 private:
  class Descarte final : public util::IAppendFile {
   public:
    std::error_code Append(std::string_view) override { return {}; }
    bool StillAt(const std::string&) override { return true; }
    std::error_code Close() override { return {}; }
  };
};

// What --check found: what the service would serve.
void ImprimirVerificacao(std::FILE* saida, TServicoOrvWs& servico,
                         const op::TFrmPrincipalCore& core, const std::string& porta) {
  const std::string ip = core.IpLocal();
  const std::string base = "http://" + ip + ":" + porta;
  std::string endereco = ip.empty() ? "(nenhum endereço IPv4 neste computador)"
                                    : base + " (WSDL: " + base + "/wsdl/IOrvWs)";
  if (!ip.empty() && IpLoopback(ip))
    endereco += "; só este computador chega a ele: não há outra interface de rede";
  std::fprintf(saida,
               "Pasta de instalação: %s\n"
               "Banco de dados: %s, %s\n"
               "Porta: %s\n"
               "Pasta de LOGs: %s\n"
               "Endereço para os coletores: %s\n"
               "Verificação concluída: o serviço pode ser iniciado.\n",
               servico.PastaSistema().c_str(), op::NomeTipoBanco(servico.Dm().TipoBanco()).c_str(),
               servico.Dm().LocalGestao().c_str(), porta.c_str(), servico.Log().PastaLogs().c_str(),
               endereco.c_str());
  std::fflush(saida);
}

// Serves until a termination signal, or (verificar) checks the start and ends.
int Executar(bool verificar, util::Env& env) {
  // The termination signals are taken by one waiting thread only: block them before any other
  // thread exists, so every thread made later inherits the mask.
  if (!verificar) PrepararSinaisDeTermino();

  TEnvSemGravar sem_gravar(env);
  TServicoOrvWs servico({}, verificar ? sem_gravar : env);
  servico.PrepararRequestHandler();
  const std::string falha = servico.DataModuleCreate();
  if (!falha.empty()) {
    std::fprintf(stderr, "%s\n", falha.c_str());
    return kSaidaFalhaInicio;
  }

  std::optional<TSaidaLog> saida;
  if (!verificar) {
    saida.emplace(stdout);
    servico.Log().AddObserver(&*saida);
  }
  TVisaoDaemon visao(stderr);
  int status = kSaidaOk;
  {
    op::TFrmPrincipalCore core(servico.Pecas(), visao);
    if (!core.FormCreate()) {
      status = kSaidaFalhaInicio;   // the reason is already on standard error
    } else if (!core.Ativo()) {
      core.FormClose();             // the start failed: the log still gets its closing lines
      status = kSaidaFalhaInicio;
    } else {
      if (verificar)
        ImprimirVerificacao(stdout, servico, core, visao.PortText());
      else
        EsperarSinalDeTermino();
      core.FormClose();
    }
  }
  if (saida) servico.Log().RemoveObserver(&*saida);
  return status;
}

}  // namespace

TLinhaDeComando LerLinhaDeComando(int argc, const char* const* argv) {
  TLinhaDeComando r;
  if (argc > 2) {
    r.modo = TModoDaemon::Erro;
    r.erro = "uma opção só";
    return r;
  }
  if (argc < 2) return r;
  const std::string_view opcao = argv[1];
  if (opcao == "--check") r.modo = TModoDaemon::Verificar;
  else if (opcao == "--version") r.modo = TModoDaemon::Versao;
  else if (opcao == "--help" || opcao == "-h") r.modo = TModoDaemon::Ajuda;
  else {
    r.modo = TModoDaemon::Erro;
    r.erro = "opção desconhecida: " + std::string(opcao);
  }
  return r;
}

std::string TextoVersao() { return std::string("orvwsd (OrvWs) ") + ORVWS_VERSION; }

std::string TextoAjuda() {
  return "Uso: orvwsd [--check | --version | --help]\n"
         "\n"
         "O serviço OrvWs sem janela. Sem opção, atende os coletores até receber SIGINT ou\n"
         "SIGTERM. A porta vem de orvws.ini, ao lado do programa ([Conf] NumPorta, 8080 quando\n"
         "falta); o banco de dados, do SCONF.xml da pasta de instalação achada no PATH; o log\n"
         "diário vai para a pasta logs da instalação e para a saída padrão.\n"
         "\n"
         "  --check    faz o início como o serviço (configuração, conexões, porta) sem gravar\n"
         "             o log, mostra o que seria servido e termina: 0 quando o serviço pode\n"
         "             ser iniciado, 1 com o erro de início na saída de erros\n"
         "  --version  mostra a versão e termina\n"
         "  --help     mostra este texto e termina\n";
}

int ExecutarDaemon(int argc, const char* const* argv, util::Env& env) {
  const TLinhaDeComando linha = LerLinhaDeComando(argc, argv);
  switch (linha.modo) {
    case TModoDaemon::Ajuda:
      std::fputs(TextoAjuda().c_str(), stdout);
      return kSaidaOk;
    case TModoDaemon::Versao:
      std::fprintf(stdout, "%s\n", TextoVersao().c_str());
      return kSaidaOk;
    case TModoDaemon::Erro:
      std::fprintf(stderr, "orvwsd: %s\n\n%s", linha.erro.c_str(), TextoAjuda().c_str());
      return kSaidaUso;
    case TModoDaemon::Verificar:
      return Executar(true, env);
    case TModoDaemon::Servir:
      break;
  }
  return Executar(false, env);
}

}  // namespace orv::startup
