#include "service/orvws.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>

#include "data/sql.h"
#include "service/dm_dados.h"
#include "service/script_coletor.h"
#include "service/service_limits.h"
#include "util/text.h"
#include "util/utilities.h"

namespace orv::service {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// The message of an error that left a database step, as log lines and results show it.
std::string MensagemErro(const std::exception& e) { return e.what(); }

// A piece of text from a request (or a database message that may quote one) as a log entry
// carries it: every control character in a visible form, so that nothing a collector sends can
// start an entry of its own, and at most kMaxCaracteresTextoNoLog characters, the cut marked
// with how many were left out.
std::string TextoNoLog(std::string_view texto) {
  // Character by character up to the limit: a 64 MiB text costs no 64 MiB copy.
  std::string visivel;
  std::size_t unidades = 0;
  std::size_t pos = 0;
  while (pos < texto.size()) {
    const auto lead = static_cast<unsigned char>(texto[pos]);
    const std::size_t tamanho = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const std::string caractere = util::EscapeControls(texto.substr(pos, tamanho));
    const std::size_t u = util::Utf16Length(caractere);
    if (unidades + u > kMaxCaracteresTextoNoLog) break;
    visivel += caractere;
    unidades += u;
    pos += tamanho;
  }
  if (pos < texto.size()) {
    visivel += "(...mais " + std::to_string(util::Utf16Length(texto.substr(pos))) + " caracteres)";
  }
  return visivel;
}

bool ValorPesquisaValido(float v) {
  return std::isfinite(v) && std::fabs(v) < kLimiteValorPesquisa;
}

std::string TextoValor(float v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
  return buf;
}

}  // namespace

std::string SenhaDoUsuario(std::string_view UserName) {
  if (util::Utf16Length(UserName) >= static_cast<std::size_t>(kTamanhoMinimoSenha))
    return std::string(UserName);
  return util::CompletarTexto(UserName, kTamanhoMinimoSenha, kPreenchimentoSenha, 'R');
}

TOrvWs::TOrvWs(soap::CallContext context, TDmDados& dm, op::TActivityLog& log)
    : context_(std::move(context)), dm_(dm), marcas_(log) {}

bool TOrvWs::ClienteAutenticado() {
  sessao_ = dm_.CdsAuth().Localizar(IpCliente());
  return sessao_.has_value();
}

std::shared_ptr<data::SqlConnection> TOrvWs::ConexaoDoCliente() const {
  if (!sessao_) throw std::logic_error("ConexaoDoCliente sem sessão do cliente " + IpCliente());
  auto conexao = dm_.ConexaoRegistrada(sessao_->UsuarioCompleto);
  if (!conexao)
    throw std::runtime_error("Nenhuma conexão registrada para o usuário " +
                             sessao_->UsuarioCompleto);
  return conexao;
}

bool TOrvWs::Auth(const std::string& KeyValue, const std::string& UserName) {
  marcas_.SetDtaInicio();
  const bool chave_ok = KeyValue == dm_.ChaveAutenticacao();

  // A failed Auth also ends the address's existing session.
  dm_.CdsAuth().Excluir(IpCliente());

  if (chave_ok) {
    TSessao sessao;
    sessao.IpCompleto = IpCliente();
    sessao.UsuarioCompleto = UserName;
    {
      // One lookup per login, on one of the shared management connections.
      const data::PoolGestao::Emprestimo gestao = dm_.Conexoes().EmprestarGestao();
      data::SqlQuery q(*gestao);
      q.SetKeepPrepared(true);
      q.SetReadOnly(true);
      q.SetSql({"SELECT COD_USUARIO, COD_LOJA, FLG_MULT_LOJA FROM TAB_USUARIO WHERE DES_USUARIO = "
                ":DES_USUARIO"});
      q.ParamAsString("DES_USUARIO", UserName);
      try {
        q.Open();
      } catch (const data::SqlError&) {
        // Firebird refuses a parameter longer than the column it is compared with. A name
        // longer than the user name column cannot be in it: that is a user the table does not
        // know, not an error. Any other failure leaves the operation.
        if (util::Utf16Length(UserName) <= kLarguraDesUsuario) throw;
        q.Close();
      }
      if (!q.IsEmpty()) {
        q.First();
        sessao.COD_USUARIO = q.FieldAsInteger("COD_USUARIO");
        sessao.COD_LOJA = q.FieldAsInteger("COD_LOJA");
        sessao.FLG_MULT_LOJA = q.FieldAsString("FLG_MULT_LOJA");
      }
      q.Close();
    }
    // The session row is stored only once the user's connection is open: an error of the
    // query or of the login leaves the address without a session, so it can never run SQL on
    // a connection that did not open. A user's connection is registered only once its login
    // worked: names whose login fails never grow the registry.
    {
      std::lock_guard lock(dm_.LoginMutex());
      std::shared_ptr<data::SqlConnection> conexao = dm_.ConexaoRegistrada(UserName);
      const bool nova = conexao == nullptr;
      if (nova) conexao = dm_.NovaConexaoDeUsuario();
      if (!conexao->IsOpen()) {
        conexao->SetParam("User_Name", UserName);
        conexao->SetParam("Password", SenhaDoUsuario(UserName));
        conexao->Open();
      }
      if (nova) dm_.RegistrarConexao(UserName, std::move(conexao));
    }
    dm_.CdsAuth().Gravar(std::move(sessao));
  }

  marcas_.SetDtaTermino();
  marcas_.WriteLog("Coletor(" + IpCliente() + " como " + TextoNoLog(UserName) + ") " +
                       (chave_ok ? "autenticado com sucesso!"
                                 : "obteve falha ao autenticar, chave de autenticação inválida!"),
                   true);
  return chave_ok;
}

bool TOrvWs::AcessoNegado(std::string_view motivo) {
  if (ClienteAutenticado()) return false;
  marcas_.SetDtaTermino();
  marcas_.WriteLog("Coletor(" + IpCliente() + ") acesso negado " + std::string(motivo), true);
  return true;
}

std::string TOrvWs::GetSQL(const std::string& Value) {
  return JuntarPartes(GetSQLEmPartes(Value));
}

std::vector<std::string> TOrvWs::GetSQLEmPartes(const std::string& Value) {
  marcas_.SetDtaInicio();
  if (AcessoNegado("ao processo de baixar as pesquisas, cliente não autenticado!")) return {};

  const auto conexao = ConexaoDoCliente();
  data::SqlQuery q(*conexao);
  std::optional<std::int32_t> loja;
  if (sessao_->FLG_MULT_LOJA == "N") loja = sessao_->COD_LOJA;
  const std::int32_t tipo = dm_.TipoBanco();

  TScriptBuilder script;
  std::string linha;
  const bool somente_usuarios = util::AsciiUpper(Value) == kSomenteUsuarios;
  for (Secao secao : kSecoesCompletas) {
    if (somente_usuarios && secao != Secao::kUsuarios) continue;
    q.SetSql(SqlSecao(secao, tipo, loja));
    q.Open();
    linha.clear();
    AppendInicioSecao(linha, secao);
    script.Append(linha);
    for (q.First(); !q.Eof(); q.Next()) {
      linha.clear();
      AppendLinha(linha, secao, q);
      script.Append(linha);
    }
    q.Close();
    q.ClearSql();
  }

  marcas_.SetDtaTermino();
  marcas_.WriteLog("Coletor(" + IpCliente() + " como " + TextoNoLog(conexao->Param("User_Name")) +
                       ") executou processo de baixar as pesquisas!",
                   true);
  return script.TakeParts();
}

std::string TOrvWs::Exec(const std::string& Value) {
  const util::TDateTime inicio = marcas_.Log().Now();
  marcas_.SetDtaInicio(inicio);
  if (AcessoNegado("ao processo de atualização de pesquisas, cliente não autenticado!")) {
    return {};
  }

  std::string resultado;
  int tentadas = 0;
  int sucesso = 0;
  const auto conexao = ConexaoDoCliente();
  const std::string usuario = TextoNoLog(conexao->Param("User_Name"));
  {
    data::SqlQuery q(*conexao);
    // The pieces are taken one at a time: a batch costs its own length, however many
    // statements it holds.
    for (std::size_t pos = 0; pos <= Value.size();) {
      std::size_t fim = Value.find(';', pos);
      if (fim == std::string::npos) fim = Value.size();
      const std::string_view peca = std::string_view(Value).substr(pos, fim - pos);
      pos = fim + 1;
      // Blanks and control characters only: no statement, not counted.
      if (std::all_of(peca.begin(), peca.end(),
                      [](char c) { return static_cast<unsigned char>(c) <= 32; }))
        continue;
      q.Close();
      q.ClearSql();
      q.AddLine(std::string(peca));
      ++tentadas;
      marcas_.SetDtaInicio();
      try {
        q.ExecSQL();
        resultado += "true;";
        resultado += kCrLf;
        ++sucesso;
      } catch (const std::exception& e) {
        resultado += "false;";
        resultado += kCrLf;
        marcas_.SetDtaTermino();
        marcas_.WriteLog("Coletor(" + IpCliente() + " como " + usuario +
                             ") executando processo de atualização de pesquisas. Erro ao "
                             "executar a Query: " +
                             TextoNoLog(peca) + std::string(kCrLf) + "; Erro: " +
                             TextoNoLog(MensagemErro(e)),
                         true);
      }
    }
  }

  std::string resumo = std::to_string(sucesso) + " Querie(s) executada(s) com sucesso";
  if (tentadas > sucesso)
    resumo += " de " + std::to_string(tentadas) + ", analise o(s) log(s) acima deste";
  marcas_.SetDtaInicio(inicio);
  marcas_.SetDtaTermino();
  marcas_.WriteLog("Coletor(" + IpCliente() + " como " + usuario +
                       ") executou processo de atualização de pesquisas(" + resumo + ")!",
                   true);
  return resultado;
}

std::string TOrvWs::AddItemPesquisa(std::int32_t CodPesquisa, std::int32_t CodConcorrente,
                                    const std::string& CodEan, float ValPesquisa) {
  marcas_.SetDtaInicio();
  if (AcessoNegado("a inclusão de itens da pesquisa!")) return {};

  const auto conexao = ConexaoDoCliente();
  const std::string usuario = TextoNoLog(conexao->Param("User_Name"));
  std::string resultado;
  std::string cod_produto;
  std::string detalhe;
  {
    data::SqlQuery q(*conexao);
    q.SetKeepPrepared(true);   // the same four statements for every price collected
    q.SetReadOnly(true);       // but for the insert
    try {
      // Product of the bar code.
      q.SetSql({"SELECT TAB_PRODUTO.COD_PRODUTO, TAB_PRODUTO.DES_PRODUTO FROM TAB_CODIGO_BARRA "
                "INNER JOIN TAB_PRODUTO ON TAB_CODIGO_BARRA.COD_PRODUTO = TAB_PRODUTO.COD_PRODUTO "
                "WHERE COD_EAN = :COD_EAN"});
      q.ParamAsString("COD_EAN", CodEan);
      q.Open();
      if (q.IsEmpty())
        throw std::runtime_error("Não existe nenhum produto com o código de barras " + CodEan);
      q.First();
      cod_produto = q.FieldAsString("COD_PRODUTO");
      resultado = "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES (";
      AppendLiteral(resultado, cod_produto);
      resultado += ", ";
      AppendLiteral(resultado, q.FieldAsString("DES_PRODUTO"));
      resultado += ");";
      q.Close();
      q.ClearSql();

      // Store of the survey's entry.
      q.SetSql({"SELECT COD_LOJA FROM TAB_PESQUISA WHERE COD_PESQUISA_HEADER = :COD_PESQUISA AND "
                "COD_PESQUISA = :COD_CONCORRENTE"});
      q.ParamAsInteger("COD_PESQUISA", CodPesquisa);
      q.ParamAsInteger("COD_CONCORRENTE", CodConcorrente);
      q.Open();
      if (q.IsEmpty()) throw std::runtime_error("Pesquisa não encontrada");
      q.First();
      const std::int32_t loja = q.FieldAsInteger("COD_LOJA");
      q.Close();
      q.ClearSql();

      // The price, committed at once. NaN, the infinities and values past the price column
      // would be stored as whatever the client layer's conversion makes of them.
      if (!ValorPesquisaValido(ValPesquisa))
        throw std::runtime_error("Valor de pesquisa inválido: " + TextoValor(ValPesquisa));
      q.SetReadOnly(false);
      q.SetSql({"INSERT INTO TAB_PRODUTO_PESQUISA (COD_PESQUISA_HEADER, COD_PESQUISA, COD_LOJA, "
                "COD_PRODUTO, VAL_PESQUISA) VALUES (:COD_PESQUISA, :COD_CONCORRENTE, :COD_LOJA, "
                ":COD_PRODUTO, :VAL_PESQUISA)"});
      q.ParamAsInteger("COD_PESQUISA", CodPesquisa);
      q.ParamAsInteger("COD_CONCORRENTE", CodConcorrente);
      q.ParamAsInteger("COD_LOJA", loja);
      q.ParamAsString("COD_PRODUTO", cod_produto);
      q.ParamAsFloat("VAL_PESQUISA", ValPesquisa);
      q.ExecSQL();
      q.ClearSql();
      q.SetReadOnly(true);

      // Every bar code of the product.
      q.SetSql({"SELECT COD_PRODUTO, COD_EAN FROM TAB_CODIGO_BARRA WHERE COD_PRODUTO = "
                ":COD_PRODUTO"});
      q.ParamAsString("COD_PRODUTO", cod_produto);
      q.Open();
      for (q.First(); !q.Eof(); q.Next()) {
        resultado += "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (";
        AppendLiteral(resultado, q.FieldAsString("COD_PRODUTO"));
        resultado += ", ";
        AppendLiteral(resultado, q.FieldAsString("COD_EAN"));
        resultado += ");";
      }
      q.Close();

      // The collector's own price row.
      resultado += "UPDATE TAB_PRODUTO_PESQUISA SET";
      resultado += " COD_PRODUTO = ";
      AppendLiteral(resultado, cod_produto);
      resultado += ", ";
      resultado += " FLG_SINCRONIZADO = 'S', ";
      resultado += " FLG_NAO_EX_PESQ = 'N', ";
      resultado += " FLG_NAO_EX_EAN = 'N', ";
      resultado += " FLG_NAO_EX_PROD = 'N' ";
      resultado += "WHERE";
      resultado += " COD_BARRA_COLETADO = ";
      AppendLiteral(resultado, CodEan);
      resultado += " ";
      resultado += "AND";
      resultado += " COD_PESQUISA_HEADER = " + std::to_string(CodPesquisa) + " ";
      resultado += "AND";
      resultado += " COD_PESQUISA = " + std::to_string(CodConcorrente) + ";";

      detalhe = " adicionou um item a Pesquisa de Preços de código " +
                std::to_string(CodPesquisa) + ", Concorrente de código " +
                std::to_string(CodConcorrente) + ": Produto de código " + TextoNoLog(cod_produto) +
                " com o código de barras " + TextoNoLog(CodEan);
    } catch (const std::exception& e) {
      resultado = "false";
      detalhe = " tentou adicionar um item a Pesquisa de Preços de código " +
                std::to_string(CodPesquisa) + ", Concorrente de código " +
                std::to_string(CodConcorrente);
      if (!cod_produto.empty()) detalhe += " , código do produto: " + TextoNoLog(cod_produto);
      detalhe += " , código de barras: " + TextoNoLog(CodEan);
      const std::string mensagem = MensagemErro(e);
      if (mensagem.find("PK_PRODUTO_PESQUISA") != std::string::npos)
        detalhe += " obteve o seguinte erro: Produto já existe na pesquisa";
      else
        detalhe += " obteve o seguinte erro: " + TextoNoLog(mensagem);
    }
  }
  marcas_.SetDtaTermino();
  marcas_.WriteLog("Coletor(" + IpCliente() + " como " + usuario + ") " + detalhe, true);
  return resultado;
}

}  // namespace orv::service
