// orvws-sim: a simulated price-survey handheld for checking a deployment and for load runs.
//
//   orvws-sim --usuario COLETOR1 [--host 127.0.0.1 --porta 8080 --origem 127.0.0.5 --itens 3]
//   orvws-sim --usuario COLETOR1 --https --ca ca.pem --host 127.0.0.1 --porta 8443
//   orvws-sim --carga 200 --duracao 60 --usuarios usuarios.txt --origem 127.0.1.1
//             [--relatorio r.txt --precos precos.csv]
//
// Exit status: 0 when every step succeeded, 1 when any failed, 2 for a usage error.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "carga.h"
#include "uso.h"

namespace {

using namespace orv::sim;

constexpr const char* kUso =
    "uso: orvws-sim [opções]\n"
    "  --host HOST          endereço do serviço (127.0.0.1)\n"
    "  --porta N            porta do serviço (8080)\n"
    "  --caminho CAMINHO    caminho SOAP (/soap/IOrvWs)\n"
    "  --https              TLS: o certificado do serviço deve nomear o --host\n"
    "  --ca ARQUIVO         autoridades que assinam o certificado (PEM; padrão: as do sistema)\n"
    "  --origem ENDEREÇO    endereço local de onde conectar; na carga, o do primeiro coletor\n"
    "  --tempo-limite S     prazo de cada pedido em segundos (30)\n"
    "  --chave CHAVE        chave de autenticação (a dos coletores)\n"
    "  --usuario NOME       usuário do coletor\n"
    "  --loja N             loja cujas pesquisas coletar (padrão: a do usuário no download)\n"
    "  --itens N            preços enviados por rodada (3)\n"
    "  --exec SQL           lote do Exec (padrão: confirma os preços da rodada)\n"
    "  --sem-exec           não envia o Exec\n"
    "  --base ARQUIVO       base local SQLite (padrão: em memória)\n"
    "  --rodadas N          rodadas de um coletor só (1)\n"
    "  --pausa MS           pausa média antes de cada operação, como a de quem opera o coletor (0)\n"
    "carga:\n"
    "  --carga N            N coletores ao mesmo tempo, cada um do seu endereço\n"
    "  --duracao S          duração da carga em segundos (10)\n"
    "  --rajada N           na carga: todos os coletores começam no mesmo instante e fazem N\n"
    "                       rodadas cada um (a chegada de um turno), em vez de rodar pela duração\n"
    "  --usuarios ARQUIVO   um usuário por linha, \"usuario\" ou \"usuario;loja\"\n"
    "  --progresso S        intervalo das linhas de progresso (5; 0 desliga)\n"
    "  --relatorio ARQUIVO  contagens em linhas chave=valor\n"
    "  --precos ARQUIVO     preços enviados: header;pesquisa;loja;produto;ean;centavos;estado\n";

int Uso(const std::string& erro) { return orv::tools::ErroDeUso("orvws-sim", kUso, erro); }

std::optional<long> Numero(std::string_view s) {
  long v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

// Prints each step of a single collector as it ends.
class TImpressora final : public IObservadorPassos {
 public:
  void Passo(const orv::sim::Passo& p) override {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f ms", static_cast<double>(p.duracao.count()) / 1000.0);
    std::cout << NomeOperacao(p.operacao) << ": " << NomeClasse(p.classe) << " (" << buf << ")"
              << (p.item.empty() ? "" : " - ") << p.item << (p.detalhe.empty() ? "" : " - ") << p.detalhe
              << std::endl;
    if (p.classe != Classe::kOk) ++falhas;
  }
  int falhas = 0;
};

}  // namespace

int main(int argc, char** argv) {
  ConfigCarga carga;
  carga.destino.tempo_limite = kTempoLimitePadrao;
  carga.progresso = &std::cerr;
  std::string origem, usuario, arquivo_usuarios, base = ":memory:", relatorio, precos;
  long rodadas = 1;
  bool modo_carga = false;

  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--help" || a == "-h") return Uso(""), 0;
    if (a == "--sem-exec") {
      carga.modelo.exec = false;
      continue;
    }
    if (a == "--https") {
      carga.destino.https = true;
      continue;
    }
    if (i + 1 >= argc) return Uso("falta o valor de " + std::string(a));
    const std::string v = argv[++i];
    auto numero = [&](long minimo, long maximo) -> std::optional<long> {
      const auto n = Numero(v);
      if (!n || *n < minimo || *n > maximo) return std::nullopt;
      return n;
    };
    std::optional<long> n;
    if (a == "--host") carga.destino.host = v;
    else if (a == "--porta") { if (!(n = numero(1, 65535))) return Uso("porta inválida: " + v); carga.destino.porta = static_cast<unsigned short>(*n); }
    else if (a == "--caminho") carga.caminho = v;
    else if (a == "--ca") carga.destino.ca_arquivo = v;
    else if (a == "--origem") origem = v;
    else if (a == "--tempo-limite") { if (!(n = numero(1, 3600))) return Uso("tempo-limite inválido: " + v); carga.destino.tempo_limite = std::chrono::seconds(*n); }
    else if (a == "--chave") carga.modelo.chave = v;
    else if (a == "--usuario") usuario = v;
    else if (a == "--loja") { if (!(n = numero(INT32_MIN, INT32_MAX))) return Uso("loja inválida: " + v); carga.modelo.loja = static_cast<std::int32_t>(*n); }
    else if (a == "--itens") { if (!(n = numero(0, 100000))) return Uso("itens inválido: " + v); carga.modelo.itens = static_cast<int>(*n); }
    else if (a == "--exec") carga.modelo.exec_sql = v;
    else if (a == "--base") base = v;
    else if (a == "--rodadas") { if (!(n = numero(1, 1000000))) return Uso("rodadas inválido: " + v); rodadas = *n; }
    else if (a == "--carga") { if (!(n = numero(1, kMaxColetores))) return Uso("carga inválida: " + v); carga.coletores = static_cast<int>(*n); modo_carga = true; }
    else if (a == "--rajada") { if (!(n = numero(1, 1000000))) return Uso("rajada inválida: " + v); carga.rodadas_rajada = static_cast<int>(*n); }
    else if (a == "--duracao") { if (!(n = numero(1, 86400))) return Uso("duração inválida: " + v); carga.duracao = std::chrono::seconds(*n); }
    else if (a == "--usuarios") arquivo_usuarios = v;
    else if (a == "--pausa") { if (!(n = numero(0, 600000))) return Uso("pausa inválida: " + v); carga.pausa = std::chrono::milliseconds(*n); }
    else if (a == "--progresso") { if (!(n = numero(0, 3600))) return Uso("progresso inválido: " + v); carga.progresso_s = static_cast<int>(*n); }
    else if (a == "--relatorio") relatorio = v;
    else if (a == "--precos") precos = v;
    else return Uso("opção desconhecida: " + std::string(a));
  }

  if (!carga.destino.ca_arquivo.empty() && !carga.destino.https) return Uso("--ca só vale com --https");
  try {
    if (!modo_carga) {
      if (usuario.empty()) return Uso("falta --usuario");
      Destino d = carga.destino;
      d.origem = origem;
      TTransporteTcp transporte(d);
      TClienteOrvWs cliente(transporte, carga.caminho);
      TBaseColetor local(base);
      TImpressora impressora;
      ConfigColetor cc = carga.modelo;
      cc.usuario = usuario;
      cc.pausa = carga.pausa;
      TColetor coletor(cliente, local, cc, impressora);
      for (long r = 0; r < rodadas; ++r) coletor.Rodada();
      if (!precos.empty()) {
        std::ofstream f(precos);
        EscreverPrecos(f, coletor.Precos());
        if (!f) throw std::runtime_error("não foi possível gravar " + precos);
      }
      if (cliente.Recusas() > 0) std::cout << "Pedidos recusados por ocupação e repetidos: " << cliente.Recusas() << "\n";
      std::cout << (impressora.falhas == 0 ? "Resultado: OK" : "Resultado: " + std::to_string(impressora.falhas) + " passo(s) com falha")
                << std::endl;
      return impressora.falhas == 0 ? 0 : 1;
    }

    carga.origem_inicial = origem;
    if (!arquivo_usuarios.empty()) {
      std::ifstream f(arquivo_usuarios);
      if (!f) return Uso("não foi possível ler " + arquivo_usuarios);
      carga.usuarios = LerUsuarios(f);
    } else if (!usuario.empty()) {
      carga.usuarios.push_back({usuario, carga.modelo.loja});
    }
    if (carga.usuarios.empty()) return Uso("a carga precisa de --usuarios ou --usuario");
    TTransporteTcp verificar(carga.destino);   // a CA file that cannot be read stops here, once
    const ResultadoCarga r = ExecutarCarga(carga);
    EscreverResumo(std::cout, carga, r);
    if (!relatorio.empty()) {
      std::ofstream f(relatorio);
      EscreverRelatorio(f, r);
      if (!f) throw std::runtime_error("não foi possível gravar " + relatorio);
    }
    if (!precos.empty()) {
      std::ofstream f(precos);
      EscreverPrecos(f, r);
      if (!f) throw std::runtime_error("não foi possível gravar " + precos);
    }
    return r.Operacoes() > 0 && r.Operacoes() == r.TotalClasse(Classe::kOk) ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "orvws-sim: " << e.what() << "\n";
    return 1;
  }
}
