#include "host/startup/daemon.h"

#include "host/startup/plataforma.h"
#include "host/startup/servico.h"

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

int ExecutarDaemon() {
  // The termination signals are taken by one waiting thread only: block them before any other
  // thread exists, so every thread made later inherits the mask.
  PrepararSinaisDeTermino();

  TServicoOrvWs::RegistrarInterfaces();
  TServicoOrvWs servico;
  servico.PrepararRequestHandler();
  const std::string falha = servico.DataModuleCreate();
  if (!falha.empty()) {
    std::fprintf(stderr, "%s\n", falha.c_str());
    return kSaidaFalhaInicio;
  }

  TSaidaLog saida(stdout);
  servico.Log().AddObserver(&saida);
  TVisaoDaemon visao(stderr);
  int status = kSaidaOk;
  {
    TFrmPrincipalCore core(servico.Pecas(), visao);
    if (!core.FormCreate()) {
      status = kSaidaFalhaInicio;   // the reason is already on standard error
    } else if (!core.Ativo()) {
      core.FormClose();             // the start failed: the log still gets its closing lines
      status = kSaidaFalhaInicio;
    } else {
      EsperarSinalDeTermino();
      core.FormClose();
    }
  }
  servico.Log().RemoveObserver(&saida);
  return status;
}

}  // namespace orv::startup
