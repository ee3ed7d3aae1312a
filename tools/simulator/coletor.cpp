// One simulated handheld's round.
#include "coletor.h"

#include <algorithm>
#include <thread>

namespace orv::sim {

namespace {

std::string Literal(std::string_view v) {
  std::string s = "'";
  for (char c : v) {
    s += c;
    if (c == '\'') s += '\'';
  }
  return s + "'";
}

std::string Centavos(std::int32_t c) {
  std::string s = std::to_string(c / 100) + ".";
  const int resto = c % 100;
  if (resto < 10) s += '0';
  return s + std::to_string(resto);
}

// The non-blank pieces of an Exec batch as the service splits it (at every ';').
int PecasExec(std::string_view lote) {
  int n = 0;
  std::size_t inicio = 0;
  for (;;) {
    const std::size_t fim = lote.find(';', inicio);
    const std::string_view peca = lote.substr(inicio, fim == std::string_view::npos ? std::string_view::npos : fim - inicio);
    if (std::any_of(peca.begin(), peca.end(), [](char c) { return static_cast<unsigned char>(c) > ' '; })) ++n;
    if (fim == std::string_view::npos) return n;
    inicio = fim + 1;
  }
}

// GetSQL, AddItemPesquisa and Exec answer an empty text to an address without a session
// (never otherwise: a download always empties the users' table, an add answers statements or
// "false", a batch one line per statement). A collector sees it when the service that had its
// session ended and it was sent to another one: it must authenticate again.
constexpr const char* kSemSessao = "resposta vazia: o serviço não tem sessão deste coletor";

}  // namespace

const char* NomeOperacao(Operacao op) {
  switch (op) {
    case Operacao::kAuth: return "Auth";
    case Operacao::kGetSQL: return "GetSQL";
    case Operacao::kAddItemPesquisa: return "AddItemPesquisa";
    case Operacao::kExec: return "Exec";
  }
  return "?";
}

const char* NomeClasse(Classe c) {
  switch (c) {
    case Classe::kOk: return "ok";
    case Classe::kFalso: return "false";
    case Classe::kFalha: return "falha SOAP";
    case Classe::kRede: return "rede";
    case Classe::kProtocolo: return "protocolo";
    case Classe::kVerificacao: return "verificação";
    case Classe::kOcupado: return "ocupado";
  }
  return "?";
}

TColetor::TColetor(TClienteOrvWs& cliente, TBaseColetor& base, ConfigColetor config, IObservadorPassos& observador)
    : cliente_(cliente),
      base_(base),
      config_(std::move(config)),
      observador_(observador),
      proximo_centavo_(config_.centavos_inicial),
      sorteio_(config_.semente) {}

template <class F>
Classe TColetor::Medir(Operacao op, F&& f) {
  if (config_.pausa.count() > 0 && !primeira_operacao_) {
    const auto ms = config_.pausa.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms / 2 + static_cast<long long>(sorteio_() % (ms + 1))));
  }
  primeira_operacao_ = false;
  Passo p;
  p.operacao = op;
  item_.clear();
  detalhe_.clear();
  fim_chamada_.reset();
  const auto inicio = std::chrono::steady_clock::now();
  try {
    p.classe = f();
  } catch (const ErroOcupado& e) {
    p.classe = Classe::kOcupado;
    detalhe_ += (detalhe_.empty() ? "" : " ") + std::string(e.what());
  } catch (const ErroFalhaSoap& e) {
    p.classe = Classe::kFalha;
    detalhe_ += (detalhe_.empty() ? "" : " ") + e.Codigo() + ": " + e.what();
  } catch (const ErroRede& e) {
    p.classe = Classe::kRede;
    detalhe_ += (detalhe_.empty() ? "" : " ") + std::string(e.what());
  } catch (const std::exception& e) {
    p.classe = Classe::kProtocolo;
    detalhe_ += (detalhe_.empty() ? "" : " ") + std::string(e.what());
  }
  const auto fim = fim_chamada_.value_or(std::chrono::steady_clock::now());
  p.duracao = std::chrono::duration_cast<std::chrono::microseconds>(fim - inicio);
  p.item = std::move(item_);
  p.detalhe = std::move(detalhe_);
  observador_.Passo(p);
  return p.classe;
}

bool TColetor::Rodada() {
  if (Medir(Operacao::kAuth, [&] { return Auth(); }) != Classe::kOk) return false;
  if (Medir(Operacao::kGetSQL, [&] { return GetSQL(); }) != Classe::kOk) return false;
  bool ok = true;
  std::vector<PrecoEnviado> confirmados;
  const std::vector<ItemColeta> itens = base_.Candidatos(loja_, static_cast<std::size_t>(std::max(0, config_.itens)));
  for (const ItemColeta& item : itens) {
    ok = Medir(Operacao::kAddItemPesquisa, [&] { return Adicionar(item, confirmados); }) == Classe::kOk && ok;
  }
  if (config_.exec) ok = Medir(Operacao::kExec, [&] { return Exec(confirmados); }) == Classe::kOk && ok;
  return ok;
}

Classe TColetor::Auth() {
  const bool r = cliente_.Auth(config_.chave, config_.usuario);
  FimChamada();
  detalhe_ = config_.usuario + ": " + (r ? "true" : "false");
  return r ? Classe::kOk : Classe::kFalso;
}

Classe TColetor::GetSQL() {
  const std::string script = cliente_.GetSQL("");
  FimChamada();
  if (script.empty()) {
    detalhe_ = kSemSessao;
    return Classe::kFalso;
  }
  base_.LimparDownload();
  const ResultadoScript r = base_.Aplicar(script);
  detalhe_ = std::to_string(script.size()) + " bytes, " + std::to_string(r.comandos) + " comandos";
  if (r.falhos > 0) {
    detalhe_ += ", " + std::to_string(r.falhos) + " recusados pela base local; o primeiro: " + r.primeiro_erro;
    return Classe::kProtocolo;
  }
  const std::optional<UsuarioColetor> u = base_.Usuario(config_.usuario);
  loja_ = config_.loja;
  if (!loja_ && u) loja_ = u->cod_loja;
  const std::vector<std::int32_t> lojas = base_.LojasDasPesquisas();
  detalhe_ += ", lojas das pesquisas:";
  for (std::int32_t l : lojas) detalhe_ += " " + std::to_string(l);
  if (u && u->flg_mult_loja == "N") {
    // A user bound to one store downloads that store's entries and prices alone.
    const bool outras = std::any_of(lojas.begin(), lojas.end(), [&](std::int32_t l) { return l != u->cod_loja; });
    const std::int64_t fora = base_.PrecosForaDaLoja(u->cod_loja);
    if (outras || fora > 0) {
      detalhe_ += "; o usuário é da loja " + std::to_string(u->cod_loja) + " e recebeu dados de outras lojas (" +
                  std::to_string(fora) + " preços fora da loja)";
      return Classe::kVerificacao;
    }
  }
  return Classe::kOk;
}

std::string TColetor::ConferirRespostaAdd(const std::string& resposta, const ItemColeta& item) {
  const std::vector<std::string> c = SepararComandos(resposta);
  if (c.size() < 3) return "esperados ao menos 3 comandos, vieram " + std::to_string(c.size());
  const std::string produto = "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES (" +
                              Literal(item.cod_produto) + ", ";
  if (c.front().rfind(produto, 0) != 0) return "o primeiro comando não é o do produto " + item.cod_produto + ": " + c.front().substr(0, 160);
  const std::string codigo = "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (" +
                             Literal(item.cod_produto) + ", ";
  bool achou_ean = false;
  for (std::size_t i = 1; i + 1 < c.size(); ++i) {
    if (c[i].rfind(codigo, 0) != 0) return "comando de código de barras de outro produto: " + c[i].substr(0, 160);
    if (c[i] == codigo + Literal(item.cod_ean) + ");") achou_ean = true;
  }
  if (!achou_ean) return "o código de barras " + item.cod_ean + " não veio entre os do produto";
  const std::string atualizacao = "UPDATE TAB_PRODUTO_PESQUISA SET COD_PRODUTO = " + Literal(item.cod_produto) +
                                  ",  FLG_SINCRONIZADO = 'S',  FLG_NAO_EX_PESQ = 'N',  FLG_NAO_EX_EAN = 'N', "
                                  " FLG_NAO_EX_PROD = 'N' WHERE COD_BARRA_COLETADO = " + Literal(item.cod_ean) +
                                  " AND COD_PESQUISA_HEADER = " + std::to_string(item.cod_pesquisa_header) +
                                  " AND COD_PESQUISA = " + std::to_string(item.cod_pesquisa) + ";";
  if (c.back() != atualizacao) return "atualização diferente da esperada: " + c.back().substr(0, 300);
  return {};
}

Classe TColetor::Adicionar(const ItemColeta& item, std::vector<PrecoEnviado>& confirmados) {
  PrecoEnviado p;
  p.item = item;
  p.centavos = proximo_centavo_;
  proximo_centavo_ = proximo_centavo_ + 1 >= kMaxCentavos ? 100 : proximo_centavo_ + 1;
  item_ = std::to_string(item.cod_pesquisa_header) + "/" + std::to_string(item.cod_pesquisa) + " loja " +
          std::to_string(item.cod_loja) + " EAN " + item.cod_ean + " R$ " + Centavos(p.centavos);
  base_.RegistrarColeta(item, p.centavos / 100.0);
  // Recorded before the call: a price whose answer never came may or may not be in the database.
  precos_.push_back(p);
  const std::string r = cliente_.AddItemPesquisa(item.cod_pesquisa_header, item.cod_pesquisa, item.cod_ean,
                                                 static_cast<float>(p.centavos) / 100.0f);
  FimChamada();
  if (r == "false" || r.empty()) {
    precos_.back().estado = 'N';
    if (r.empty()) detalhe_ = kSemSessao;
    return Classe::kFalso;
  }
  precos_.back().estado = 'S';
  confirmados.push_back(precos_.back());
  if (const std::string problema = ConferirRespostaAdd(r, item); !problema.empty()) {
    detalhe_ = problema;
    return Classe::kVerificacao;
  }
  const ResultadoScript aplicado = base_.Aplicar(r);
  if (aplicado.falhos > 0) {
    detalhe_ = "resposta recusada pela base local: " + aplicado.primeiro_erro;
    return Classe::kProtocolo;
  }
  const std::optional<EstadoColeta> e = base_.Coleta(item.cod_pesquisa_header, item.cod_pesquisa, item.cod_ean);
  if (!e || e->cod_produto != item.cod_produto || e->flg_sincronizado != "S" || e->flg_nao_ex_pesq != "N" ||
      e->flg_nao_ex_ean != "N" || e->flg_nao_ex_prod != "N") {
    detalhe_ = "a linha coletada não ficou sincronizada na base local";
    return Classe::kVerificacao;
  }
  detalhe_ = std::to_string(aplicado.comandos) + " comandos aplicados";
  return Classe::kOk;
}

std::string TColetor::LoteExec(const std::vector<PrecoEnviado>& confirmados) {
  if (confirmados.empty()) return "UPDATE TAB_PRODUTO_PESQUISA SET VAL_PESQUISA = VAL_PESQUISA WHERE 1 = 0;";
  std::string lote;
  for (const PrecoEnviado& p : confirmados) {
    lote += "UPDATE TAB_PRODUTO_PESQUISA SET VAL_PESQUISA = " + Centavos(p.centavos) +
            " WHERE COD_PESQUISA_HEADER = " + std::to_string(p.item.cod_pesquisa_header) +
            " AND COD_PESQUISA = " + std::to_string(p.item.cod_pesquisa) +
            " AND COD_LOJA = " + std::to_string(p.item.cod_loja) + " AND COD_PRODUTO = " + Literal(p.item.cod_produto) + ";";
  }
  return lote;
}

Classe TColetor::Exec(const std::vector<PrecoEnviado>& confirmados) {
  const std::string lote = config_.exec_sql.empty() ? LoteExec(confirmados) : config_.exec_sql;
  const int esperadas = PecasExec(lote);
  const std::string r = cliente_.Exec(lote);
  FimChamada();
  if (r.empty()) {
    detalhe_ = kSemSessao;
    return Classe::kFalso;
  }
  // One "true;" or "false;" line per statement. The service ends each with CR LF; an XML
  // reader delivers a raw CR LF in text as LF, so both endings are the same line.
  int verdadeiros = 0;
  int falsos = 0;
  std::size_t pos = 0;
  while (pos < r.size()) {
    const std::size_t fim = r.find('\n', pos);
    std::string_view linha(r.data() + pos, (fim == std::string::npos ? r.size() : fim) - pos);
    if (!linha.empty() && linha.back() == '\r') linha.remove_suffix(1);
    if (fim == std::string::npos || (linha != "true;" && linha != "false;")) {
      detalhe_ = "resultado fora do formato: " + r.substr(pos, 80);
      return Classe::kProtocolo;
    }
    ++(linha == "true;" ? verdadeiros : falsos);
    pos = fim + 1;
  }
  detalhe_ = std::to_string(esperadas) + " comandos: " + std::to_string(verdadeiros) + " true, " +
             std::to_string(falsos) + " false";
  if (verdadeiros + falsos != esperadas) {
    detalhe_ += " (esperadas " + std::to_string(esperadas) + " linhas)";
    return Classe::kVerificacao;
  }
  return falsos > 0 ? Classe::kFalso : Classe::kOk;
}

}  // namespace orv::sim
