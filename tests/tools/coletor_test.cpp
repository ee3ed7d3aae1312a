// A collector's round and the load mode, against a small in-process SOAP service that keeps
// sessions per client address, a catalog and the prices collected, and can be told to
// misbehave (busy refusals, another session's data, answers of the wrong form).
#include <gtest/gtest.h>

#include <boost/asio.hpp>

#include <atomic>
#include <cctype>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>
#include <cmath>

#include "carga.h"
#include "coletor.h"

namespace orv::sim {
namespace {

std::string Campo(const std::string& corpo, const std::string& nome) {
  const std::size_t a = corpo.find("<" + nome + " ");
  const std::size_t b = corpo.find('>', a);
  const std::size_t c = corpo.find("</" + nome + ">", b);
  if (a == std::string::npos || c == std::string::npos) return {};
  return corpo.substr(b + 1, c - b - 1);
}

std::string Envelope(const std::string& operacao, const std::string& tipo, const std::string& valor) {
  return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><SOAP-ENV:Body xmlns:NS1=\"urn:UOrvWsIntf-IOrvWs\">"
         "<NS1:" + operacao + "Response><return xsi:type=\"xsd:" + tipo + "\">" + EscaparXml(valor) + "</return></NS1:" +
         operacao + "Response></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string Http(int status, const std::string& corpo) {
  return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " +
         std::to_string(corpo.size()) + "\r\n\r\n" + corpo;
}

// The service's side of the exchange, keyed by client address.
class ServicoFalso {
 public:
  struct Usuario {
    std::int32_t loja;
    const char* flg;
  };
  struct Chave {
    std::int32_t h, p;
    std::string produto;
    bool operator<(const Chave& o) const { return std::tie(h, p, produto) < std::tie(o.h, o.p, o.produto); }
    bool operator==(const Chave& o) const { return std::tie(h, p, produto) == std::tie(o.h, o.p, o.produto); }
  };

  // Misbehaviour switches.
  int ocupado = 0;              // the next requests are refused as busy
  bool trocar_sessao = false;   // GetSQL answers with the store of the first other session
  bool trocar_ean = false;      // AddItemPesquisa answers for another bar code
  bool exec_quebrado = false;   // Exec answers "ok" instead of lines
  bool exec_lf = false;         // Exec lines end in a bare LF (as a raw CR LF reaches XML readers)
  bool falha_getsql = false;    // GetSQL answers with a fault
  bool recusar_add = false;     // AddItemPesquisa answers "false" (the price exists already)
  // The session is lost after Auth, or after GetSQL (the service that had it ended, and the
  // balancer sent the collector to another one): the service answers empty texts.
  bool perder_sessao_apos_auth = false;
  bool perder_sessao_apos_getsql = false;

  std::string Atender(const std::string& ip, const std::string& bruto) {
    std::lock_guard<std::mutex> lock(m_);
    if (ocupado > 0) {
      --ocupado;
      return Http(500, "Maximum number of concurrent connections exceeded.  Please try again later");
    }
    const std::string corpo = bruto.substr(bruto.find("\r\n\r\n") + 4);
    ++pedidos_por_ip[ip];
    if (corpo.find(":Auth ") != std::string::npos) {
      const bool ok = Campo(corpo, "KeyValue") == kChaveAutenticacao;
      sessoes_.erase(ip);
      std::string usuario = Campo(corpo, "UserName");
      for (char& c : usuario) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (ok && !perder_sessao_apos_auth) sessoes_[ip] = usuario;
      return Http(200, Envelope("Auth", "boolean", ok ? "true" : "false"));
    }
    const auto s = sessoes_.find(ip);
    if (corpo.find(":GetSQL ") != std::string::npos) {
      if (falha_getsql)
        return Http(200, "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                         "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>conexão perdida"
                         "</faultstring><faultactor/></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>");
      if (s == sessoes_.end()) return Http(200, Envelope("GetSQL", "string", ""));
      std::string usuario = s->second;
      if (perder_sessao_apos_getsql) sessoes_.erase(s);
      if (trocar_sessao) {
        for (const auto& [outro_ip, outro] : sessoes_) {
          if (outro_ip != ip && usuarios_.at(outro).loja != usuarios_.at(usuario).loja) usuario = outro;
        }
      }
      return Http(200, Envelope("GetSQL", "string", Download(usuario)));
    }
    if (corpo.find(":AddItemPesquisa ") != std::string::npos) {
      if (s == sessoes_.end()) return Http(200, Envelope("AddItemPesquisa", "string", ""));
      const Chave k{std::stoi(Campo(corpo, "CodPesquisa")), std::stoi(Campo(corpo, "CodConcorrente")),
                    produto_do_ean_.at(Campo(corpo, "CodEan"))};
      const std::string ean = trocar_ean ? "0000" : Campo(corpo, "CodEan");
      if (recusar_add || precos.count(k)) return Http(200, Envelope("AddItemPesquisa", "string", "false"));
      precos[k] = std::lround(std::stof(Campo(corpo, "ValPesquisa")) * 100);
      std::string r = "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('" + k.produto + "', 'P');";
      for (const auto& [e, p] : produto_do_ean_) {
        if (p == k.produto)
          r += "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES ('" + p + "', '" + e + "');";
      }
      r += "UPDATE TAB_PRODUTO_PESQUISA SET COD_PRODUTO = '" + k.produto +
           "',  FLG_SINCRONIZADO = 'S',  FLG_NAO_EX_PESQ = 'N',  FLG_NAO_EX_EAN = 'N',  FLG_NAO_EX_PROD = 'N' WHERE "
           "COD_BARRA_COLETADO = '" + ean + "' AND COD_PESQUISA_HEADER = " + std::to_string(k.h) +
           " AND COD_PESQUISA = " + std::to_string(k.p) + ";";
      return Http(200, Envelope("AddItemPesquisa", "string", r));
    }
    if (corpo.find(":Exec ") != std::string::npos) {
      if (s == sessoes_.end()) return Http(200, Envelope("Exec", "string", ""));
      std::string r;
      const std::string lote = Campo(corpo, "Value");
      for (char c : lote) r += c == ';' ? (exec_lf ? "true;\n" : "true;\r\n") : "";
      return Http(200, Envelope("Exec", "string", exec_quebrado ? "ok" : r));
    }
    return Http(500, "?");
  }

  std::map<std::string, int> pedidos_por_ip;
  std::map<Chave, long> precos{{{8, 1, "126"}, 429}};

 private:
  std::string Download(const std::string& usuario) {
    const Usuario u = usuarios_.at(usuario);
    const bool presa = std::string(u.flg) == "N";
    std::string s =
        "INSERT OR REPLACE INTO TAB_PESQUISA_HEADER (COD_PESQUISA_HEADER, DES_PESQUISA_HEADER, DTA_INICIO, "
        "DTA_TERMINO) VALUES (8, 'Semana atual', '2000-01-01 00:00:00', '2099-12-31 00:00:00');";
    for (const auto& [p, loja] : entradas_) {
      if (!presa || loja == u.loja)
        s += "INSERT OR REPLACE INTO TAB_PESQUISA (COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, DES_PESQUISA) VALUES (" +
             std::to_string(p) + ", 8, " + std::to_string(loja) + ", 'E');";
    }
    for (const auto& [e, p] : produto_do_ean_) {
      s += "INSERT OR REPLACE INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES ('" + p + "', 'P');";
      s += "INSERT OR REPLACE INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES ('" + p + "', '" + e + "');";
    }
    for (const auto& [k, v] : precos) {
      if (!presa || entradas_.at(k.p) == u.loja)
        s += "INSERT OR REPLACE INTO TAB_PRODUTO_PESQUISA (COD_PRODUTO, COD_PESQUISA, COD_PESQUISA_HEADER, "
             "VAL_PESQUISA, DTA_PESQUISA) VALUES ('" + k.produto + "', " + std::to_string(k.p) + ", 8, " +
             std::to_string(v / 100) + "." + std::to_string(v % 100) + ", '2024-03-04 09:20:30');";
    }
    s += "DELETE FROM TAB_USUARIO_COLETOR;";
    int cod = 1;
    for (const auto& [nome, x] : usuarios_) {
      s += "INSERT INTO TAB_USUARIO_COLETOR (COD_USUARIO, COD_LOJA, DES_USUARIO, DES_SENHA, FLG_MULT_LOJA) VALUES (" +
           std::to_string(cod++) + ", " + std::to_string(x.loja) + ", '" + nome + "', 'x','" + x.flg + "');";
    }
    return s;
  }

  std::mutex m_;
  std::map<std::string, std::string> sessoes_;
  const std::map<std::string, Usuario> usuarios_{{"ANA", {1, "N"}}, {"CAIO", {2, "S"}}, {"BETO", {12, "N"}}};
  const std::map<std::int32_t, std::int32_t> entradas_{{1, 1}, {2, 12}, {3, 2}};   // entry of survey 8 -> store
  const std::map<std::string, std::string> produto_do_ean_{
      {"7891234567895", "123"}, {"7896006716112", "124"}, {"7891000100103", "126"}, {"17891000100100", "126"}};
};

class TransporteFalso final : public ITransporte {
 public:
  TransporteFalso(ServicoFalso& s, std::string ip) : s_(s), ip_(std::move(ip)) {}
  HttpResposta Enviar(const HttpPedido& p) override { return LerRespostaHttp(s_.Atender(ip_, MontarPedidoHttp(p, "h"))); }

 private:
  ServicoFalso& s_;
  std::string ip_;
};

struct Gravador final : IObservadorPassos {
  void Passo(const orv::sim::Passo& p) override { passos.push_back(p); }
  std::string Resumo() const {
    std::string s;
    for (const auto& p : passos) s += std::string(NomeOperacao(p.operacao)) + ":" + NomeClasse(p.classe) + " ";
    return s;
  }
  std::vector<orv::sim::Passo> passos;
};

TEST(SimColetor, ARoundAuthenticatesDownloadsAddsAndConfirms) {
  ServicoFalso servico;
  TransporteFalso t(servico, "127.0.0.9");
  TClienteOrvWs cliente(t);
  TBaseColetor base;
  Gravador g;
  ConfigColetor cc;
  cc.usuario = "ana";
  cc.itens = 5;
  cc.centavos_inicial = 399;
  TColetor coletor(cliente, base, cc, g);
  ASSERT_TRUE(coletor.Rodada()) << g.Resumo() << g.passos.back().detalhe;
  // Store 1's entry 8/1 still lacks 123 and 124 (126 has a price): two adds.
  EXPECT_EQ(g.Resumo(), "Auth:ok GetSQL:ok AddItemPesquisa:ok AddItemPesquisa:ok Exec:ok ");
  EXPECT_EQ(g.passos.back().detalhe, "2 comandos: 2 true, 0 false");
  EXPECT_EQ((servico.precos[{8, 1, "123"}]), 399);
  EXPECT_EQ((servico.precos[{8, 1, "124"}]), 400);
  ASSERT_EQ(coletor.Precos().size(), 2u);
  EXPECT_EQ(coletor.Precos()[0].estado, 'S');
  EXPECT_EQ(base.Coleta(8, 1, "7891234567895")->flg_sincronizado, "S");

  // Nothing left to collect: the next round downloads and sends an empty batch.
  g.passos.clear();
  ASSERT_TRUE(coletor.Rodada()) << g.Resumo();
  EXPECT_EQ(g.Resumo(), "Auth:ok GetSQL:ok Exec:ok ");
}

TEST(SimColetor, EachKindOfMisbehaviourIsReportedAsItsOwnOutcome) {
  struct Caso {
    const char* nome;
    void (*preparar)(ServicoFalso&, ConfigColetor&);
    const char* resumo;
  };
  const Caso casos[] = {
      {"chave errada", [](ServicoFalso&, ConfigColetor& c) { c.chave = "7BE09A4F2D31E8C6A05F93D7B2E6184C"; }, "Auth:false "},
      {"dados de outra loja",
       [](ServicoFalso& s, ConfigColetor&) { s.trocar_sessao = true; },
       "Auth:ok GetSQL:verificação "},
      {"resposta de outro código de barras",
       [](ServicoFalso& s, ConfigColetor&) { s.trocar_ean = true; },
       "Auth:ok GetSQL:ok AddItemPesquisa:verificação Exec:ok "},
      {"preço que outro coletor já enviou",
       [](ServicoFalso& s, ConfigColetor&) { s.recusar_add = true; },
       "Auth:ok GetSQL:ok AddItemPesquisa:false Exec:ok "},
      {"Exec fora do formato", [](ServicoFalso& s, ConfigColetor&) { s.exec_quebrado = true; },
       "Auth:ok GetSQL:ok AddItemPesquisa:ok Exec:protocolo "},
      {"Exec com LF", [](ServicoFalso& s, ConfigColetor&) { s.exec_lf = true; },
       "Auth:ok GetSQL:ok AddItemPesquisa:ok Exec:ok "},
      {"Exec com linhas a menos",
       [](ServicoFalso&, ConfigColetor& c) { c.exec_sql = "UPDATE A SET B = 'x;y'"; },
       "Auth:ok GetSQL:ok AddItemPesquisa:ok Exec:verificação "},
      {"sempre ocupado", [](ServicoFalso& s, ConfigColetor&) { s.ocupado = 1000; }, "Auth:ocupado "},
      {"falha SOAP", [](ServicoFalso& s, ConfigColetor&) { s.falha_getsql = true; }, "Auth:ok GetSQL:falha SOAP "},
      {"sessão perdida antes do download", [](ServicoFalso& s, ConfigColetor&) { s.perder_sessao_apos_auth = true; },
       "Auth:ok GetSQL:false "},
      {"sessão perdida depois do download",
       [](ServicoFalso& s, ConfigColetor&) { s.perder_sessao_apos_getsql = true; },
       "Auth:ok GetSQL:ok AddItemPesquisa:false Exec:false "},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nome);
    ServicoFalso servico;
    TransporteFalso t(servico, "127.0.0.9");
    TransporteFalso outro(servico, "127.0.0.10");
    TClienteOrvWs cliente_outro(outro);
    ASSERT_TRUE(cliente_outro.Auth(kChaveAutenticacao, "CAIO"));   // a second session, of store 2
    TClienteOrvWs cliente(t, std::string(kCaminhoSoap), {3, std::chrono::milliseconds(1), std::chrono::milliseconds(2)});
    TBaseColetor base;
    Gravador g;
    ConfigColetor cc;
    cc.usuario = "ANA";
    cc.itens = 1;
    c.preparar(servico, cc);
    TColetor coletor(cliente, base, cc, g);
    coletor.Rodada();
    EXPECT_EQ(g.Resumo(), c.resumo);
    // A price is confirmed only by an answer that says so.
    for (const PrecoEnviado& p : coletor.Precos()) {
      if (p.estado == 'S') {
        EXPECT_TRUE(servico.precos.count({p.item.cod_pesquisa_header, p.item.cod_pesquisa, p.item.cod_produto}));
      }
    }
  }
}

TEST(SimColetor, BusyRefusalsAreRetriedAndCounted) {
  ServicoFalso servico;
  servico.ocupado = 3;
  TransporteFalso t(servico, "127.0.0.9");
  TClienteOrvWs cliente(t, std::string(kCaminhoSoap),
                        {5, std::chrono::milliseconds(1), std::chrono::milliseconds(2)});
  EXPECT_TRUE(cliente.Auth(kChaveAutenticacao, "ANA"));
  EXPECT_EQ(cliente.Recusas(), 3);
  // A service that stays busy is reported once the retries run out.
  servico.ocupado = 1000;
  EXPECT_THROW(cliente.GetSQL(""), ErroOcupado);
  EXPECT_EQ(cliente.Recusas(), 8);
}

// The fake service on a real loopback socket, one thread per connection.
class ServidorFalso {
 public:
  explicit ServidorFalso(ServicoFalso& s) : s_(s), acceptor_(ctx_, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    thread_ = std::thread([this] {
      for (;;) {
        boost::system::error_code ec;
        boost::asio::ip::tcp::socket sock(ctx_);
        acceptor_.accept(sock, ec);
        if (ec || parar_) return;
        std::lock_guard<std::mutex> lock(m_);
        conexoes_.emplace_back([this, sock = std::move(sock)]() mutable {
          try {
            Servir(sock);
          } catch (const std::exception&) {
            // A broken request just ends its connection.
          }
        });
      }
    });
  }
  ~ServidorFalso() {
    // A blocking accept is not woken by closing the acceptor: one last connection wakes it.
    parar_ = true;
    boost::system::error_code ec;
    boost::asio::ip::tcp::socket despertar(ctx_);
    despertar.connect(acceptor_.local_endpoint(), ec);
    thread_.join();
    acceptor_.close(ec);
    for (std::thread& t : conexoes_) t.join();
  }
  unsigned short Porta() const { return acceptor_.local_endpoint().port(); }

 private:
  void Servir(boost::asio::ip::tcp::socket& sock) {
    boost::system::error_code e;
    const std::string ip = sock.remote_endpoint(e).address().to_string();
    std::string pedido;
    char buf[8192];
    for (;;) {
      const std::size_t fim = pedido.find("\r\n\r\n");
      if (fim != std::string::npos) {
        const std::size_t cl = pedido.find("Content-Length: ");
        const std::size_t n = std::stoul(pedido.substr(cl + 16));
        if (pedido.size() >= fim + 4 + n) break;
      }
      const std::size_t n = sock.read_some(boost::asio::buffer(buf), e);
      if (e) return;
      pedido.append(buf, n);
    }
    boost::asio::write(sock, boost::asio::buffer(s_.Atender(ip, pedido)), e);
  }

  ServicoFalso& s_;
  std::mutex m_;
  std::vector<std::thread> conexoes_;
  boost::asio::io_context ctx_;
  boost::asio::ip::tcp::acceptor acceptor_;
  std::atomic<bool> parar_{false};
  std::thread thread_;
};

ConfigCarga Carga(unsigned short porta) {
  ConfigCarga c;
  c.destino = {"127.0.0.1", porta, "", std::chrono::milliseconds(5000)};
  c.coletores = 3;
  c.duracao = std::chrono::seconds(1);
  c.origem_inicial = "127.0.3.1";
  c.usuarios = {{"ANA", {}}, {"CAIO", {}}, {"BETO", {}}};
  c.modelo.itens = 1;
  c.progresso = nullptr;
  return c;
}

TEST(SimCarga, CollectorsFromTheirOwnAddressesAddEachPriceOnce) {
  ServicoFalso servico;
  ServidorFalso servidor(servico);
  const ConfigCarga config = Carga(servidor.Porta());
  const ResultadoCarga r = ExecutarCarga(config);

  std::ostringstream resumo;
  EscreverResumo(resumo, config, r);
  EXPECT_EQ(r.Operacoes(), r.TotalClasse(Classe::kOk)) << resumo.str();
  EXPECT_GT(r.Rodadas(), 3);
  EXPECT_EQ(r.Total(Operacao::kAuth), r.Rodadas());
  EXPECT_EQ(static_cast<std::int64_t>(r.latencias_us[0].size()), r.Total(Operacao::kAuth));

  // Each collector spoke from its own address, and only those addresses spoke.
  std::set<std::string> origens;
  for (const auto& c : r.coletores) origens.insert(c.origem);
  EXPECT_EQ(origens, (std::set<std::string>{"127.0.3.1", "127.0.3.2", "127.0.3.3"}));
  std::set<std::string> vistos;
  for (const auto& [ip, n] : servico.pedidos_por_ip) vistos.insert(ip);
  EXPECT_EQ(vistos, origens);

  // Every confirmed price is in the service exactly as sent; nothing else was added.
  std::map<ServicoFalso::Chave, long> esperados{{{8, 1, "126"}, 429}};
  for (const auto& c : r.coletores) {
    for (const auto& p : c.precos) {
      ASSERT_EQ(p.estado, 'S');
      const ServicoFalso::Chave k{p.item.cod_pesquisa_header, p.item.cod_pesquisa, p.item.cod_produto};
      EXPECT_TRUE(esperados.emplace(k, p.centavos).second) << "preço enviado duas vezes";
    }
  }
  EXPECT_EQ(servico.precos, esperados);

  std::ostringstream relatorio, precos;
  EscreverRelatorio(relatorio, r);
  EscreverPrecos(precos, r);
  EXPECT_NE(relatorio.str().find("coletor=127.0.3.1;ANA\n"), std::string::npos);
  EXPECT_NE(relatorio.str().find("operacoes=" + std::to_string(r.Operacoes()) + "\n"), std::string::npos);
  EXPECT_NE(precos.str().find(";S\n"), std::string::npos);
}

TEST(SimCarga, AServiceThatMixesSessionsIsCaught) {
  ServicoFalso servico;
  servico.trocar_sessao = true;
  ServidorFalso servidor(servico);
  const ResultadoCarga r = ExecutarCarga(Carga(servidor.Porta()));
  EXPECT_GT(r.TotalClasse(Classe::kVerificacao), 0);
  EXPECT_FALSE(r.falhas.empty());
}

TEST(SimCarga, AddressesUsersAndPercentiles) {
  const std::pair<int, const char*> enderecos[] = {
      {0, "127.0.0.1"}, {253, "127.0.0.254"}, {254, "127.0.1.1"}, {300, "127.0.1.47"}};
  for (const auto& [i, e] : enderecos) EXPECT_EQ(EnderecoDoColetor("127.0.0.1", i), e) << i;
  EXPECT_THROW(EnderecoDoColetor("abc", 0), std::invalid_argument);
  EXPECT_THROW(EnderecoDoColetor("127.255.255.254", 1), std::invalid_argument);

  std::istringstream arquivo("# usuários\nANA;1\n\nCAIO\r\n");
  const auto u = LerUsuarios(arquivo);
  ASSERT_EQ(u.size(), 2u);
  EXPECT_EQ(u[0].loja, 1);
  EXPECT_EQ(u[1].nome, "CAIO");
  EXPECT_FALSE(u[1].loja.has_value());
  std::istringstream ruim("X;abc\n");
  EXPECT_THROW(LerUsuarios(ruim), std::invalid_argument);

  std::vector<std::int64_t> v;
  for (int i = 1; i <= 100; ++i) v.push_back(i);
  EXPECT_EQ(Percentil(v, 0.5), 50);
  EXPECT_EQ(Percentil(v, 0.99), 99);
  EXPECT_EQ(Percentil(v, 1.0), 100);
  EXPECT_EQ(Percentil({7}, 0.5), 7);
  EXPECT_EQ(Percentil({}, 0.5), 0);
}

}  // namespace
}  // namespace orv::sim
