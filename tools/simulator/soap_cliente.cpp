// SOAP envelopes of the collector and the reading of the service's answers.
#include "soap_cliente.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "sim_limites.h"

namespace orv::sim {

namespace {

constexpr const char* kNsEnvelope = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kNsXsi = "http://www.w3.org/2001/XMLSchema-instance";

std::string Inicio(std::string_view operacao) {
  std::string s;
  s += "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
       "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
       "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
       "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">"
       "<soap:Body soap:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><m:";
  s += operacao;
  s += " xmlns:m=\"";
  s += kNamespaceOrvWs;
  s += "\">";
  return s;
}

std::string Fim(std::string_view operacao) {
  return "</m:" + std::string(operacao) + "></soap:Body></soap:Envelope>";
}

void Parametro(std::string& s, std::string_view nome, std::string_view tipo, std::string_view valor) {
  s += '<';
  s += nome;
  s += " xsi:type=\"xsd:";
  s += tipo;
  s += "\">";
  s += EscaparXml(valor);
  s += "</";
  s += nome;
  s += '>';
}

struct LiberarDoc {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct LiberarCtxt {
  void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
};

void IniciarLibxml() {
  static std::once_flag uma_vez;
  std::call_once(uma_vez, [] { xmlInitParser(); });
}

bool Nome(const xmlNode* n, const char* local) {
  return n != nullptr && n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), local) == 0;
}

bool NoNamespace(const xmlNode* n, const char* ns) {
  return n->ns != nullptr && n->ns->href != nullptr &&
         std::strcmp(reinterpret_cast<const char*>(n->ns->href), ns) == 0;
}

xmlNode* PrimeiroElemento(xmlNode* n) {
  for (xmlNode* c = n ? n->children : nullptr; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) return c;
  }
  return nullptr;
}

xmlNode* Filho(xmlNode* n, const char* local) {
  for (xmlNode* c = n ? n->children : nullptr; c != nullptr; c = c->next) {
    if (Nome(c, local)) return c;
  }
  return nullptr;
}

std::string Texto(xmlNode* n) {
  if (n == nullptr) return {};
  xmlChar* t = xmlNodeGetContent(n);
  std::string s = t ? reinterpret_cast<const char*>(t) : "";
  xmlFree(t);
  return s;
}

}  // namespace

std::string EscaparXml(std::string_view texto) {
  std::string s;
  s.reserve(texto.size() + 16);
  for (char c : texto) {
    switch (c) {
      case '&': s += "&amp;"; break;
      case '<': s += "&lt;"; break;
      case '>': s += "&gt;"; break;
      case '"': s += "&quot;"; break;
      case '\r': s += "&#13;"; break;   // a raw CR would be folded into LF by the parser
      default: s += c;
    }
  }
  return s;
}

std::string TextoFloat(float valor) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, valor);
  return std::string(buf, r.ptr);
}

std::string EnvelopeAuth(std::string_view chave, std::string_view usuario) {
  std::string s = Inicio("Auth");
  Parametro(s, "KeyValue", "string", chave);
  Parametro(s, "UserName", "string", usuario);
  return s + Fim("Auth");
}

std::string EnvelopeGetSQL(std::string_view valor) {
  std::string s = Inicio("GetSQL");
  Parametro(s, "Value", "string", valor);
  return s + Fim("GetSQL");
}

std::string EnvelopeExec(std::string_view valor) {
  std::string s = Inicio("Exec");
  Parametro(s, "Value", "string", valor);
  return s + Fim("Exec");
}

std::string EnvelopeAddItemPesquisa(std::int32_t cod_pesquisa, std::int32_t cod_concorrente,
                                    std::string_view cod_ean, float val_pesquisa) {
  std::string s = Inicio("AddItemPesquisa");
  Parametro(s, "CodPesquisa", "int", std::to_string(cod_pesquisa));
  Parametro(s, "CodConcorrente", "int", std::to_string(cod_concorrente));
  Parametro(s, "CodEan", "string", cod_ean);
  Parametro(s, "ValPesquisa", "float", TextoFloat(val_pesquisa));
  return s + Fim("AddItemPesquisa");
}

RespostaSoap LerEnvelope(std::string_view corpo) {
  IniciarLibxml();
  if (corpo.empty()) throw ErroProtocolo("resposta sem corpo");
  if (corpo.size() > static_cast<std::size_t>(INT32_MAX)) throw ErroProtocolo("resposta grande demais");
  std::unique_ptr<xmlParserCtxt, LiberarCtxt> ctxt(xmlNewParserCtxt());
  if (!ctxt) throw std::bad_alloc();
  // No network, no entity substitution, no DTD loading; HUGE lifts the 10 MB cap on one text
  // node, which a large download script exceeds (the HTTP layer bounds the size instead).
  const int opcoes = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE;
  std::unique_ptr<xmlDoc, LiberarDoc> doc(xmlCtxtReadMemory(
      ctxt.get(), corpo.data(), static_cast<int>(corpo.size()), nullptr, nullptr, opcoes));
  if (!doc) {
    const xmlError* e = xmlCtxtGetLastError(ctxt.get());
    std::string motivo = (e && e->message) ? e->message : "documento inválido";
    while (!motivo.empty() && (motivo.back() == '\n' || motivo.back() == '\r')) motivo.pop_back();
    throw ErroProtocolo("resposta não é XML: " + motivo);
  }
  if (doc->intSubset != nullptr) throw ErroProtocolo("resposta com DOCTYPE recusada");
  xmlNode* env = xmlDocGetRootElement(doc.get());
  if (!Nome(env, "Envelope") || !NoNamespace(env, kNsEnvelope))
    throw ErroProtocolo("resposta não é um envelope SOAP 1.1");
  xmlNode* body = Filho(env, "Body");
  if (body == nullptr || !NoNamespace(body, kNsEnvelope)) throw ErroProtocolo("envelope sem Body");
  xmlNode* el = PrimeiroElemento(body);
  if (el == nullptr) throw ErroProtocolo("Body vazio");
  RespostaSoap r;
  if (Nome(el, "Fault") && NoNamespace(el, kNsEnvelope)) {
    r.falha = true;
    r.codigo_falha = Texto(Filho(el, "faultcode"));
    r.texto_falha = Texto(Filho(el, "faultstring"));
    return r;
  }
  r.operacao = reinterpret_cast<const char*>(el->name);
  xmlNode* ret = Filho(el, "return");
  if (ret == nullptr) throw ErroProtocolo("resposta " + r.operacao + " sem return");
  xmlChar* tipo = xmlGetNsProp(ret, reinterpret_cast<const xmlChar*>("type"),
                               reinterpret_cast<const xmlChar*>(kNsXsi));
  if (tipo != nullptr) {
    r.tipo = reinterpret_cast<const char*>(tipo);
    xmlFree(tipo);
  }
  r.retorno = Texto(ret);
  return r;
}

RespostaSoap TClienteOrvWs::Chamar(std::string_view operacao, std::string corpo) {
  HttpPedido pedido;
  pedido.caminho = caminho_;
  pedido.soap_action = std::string(kNamespaceOrvWs) + "#" + std::string(operacao);
  pedido.corpo = std::move(corpo);
  auto pausa = ocupado_.pausa_inicial;
  thread_local std::minstd_rand sorteio(std::random_device{}());
  const auto inicio = std::chrono::steady_clock::now();
  for (int tentativa = 1;; ++tentativa) {
    HttpResposta h = transporte_.Enviar(pedido);
    if (h.status == 500 && h.corpo.find(kTextoRecusaOcupado) != std::string::npos) {
      ++recusas_;
      if (tentativa >= ocupado_.tentativas || std::chrono::steady_clock::now() - inicio >= ocupado_.prazo)
        throw ErroOcupado("serviço ocupado em " + std::to_string(tentativa) + " tentativas seguidas");
      // A pause with jitter, so that refused handhelds do not come back all at once.
      std::this_thread::sleep_for(pausa / 2 + std::chrono::milliseconds(sorteio() % (pausa.count() + 1)));
      pausa = std::min(pausa * 2, ocupado_.pausa_maxima);
      continue;
    }
    RespostaSoap r;
    try {
      r = LerEnvelope(h.corpo);
    } catch (const ErroProtocolo& e) {
      throw ErroProtocolo("HTTP " + std::to_string(h.status) + ": " + e.what() + " [" +
                          h.corpo.substr(0, 200) + "]");
    }
    if (r.falha) throw ErroFalhaSoap(r.codigo_falha, r.texto_falha);
    if (h.status != 200) throw ErroProtocolo("HTTP " + std::to_string(h.status) + " com resposta de sucesso");
    if (r.operacao != std::string(operacao) + "Response")
      throw ErroProtocolo("resposta de outra operação: " + r.operacao);
    return r;
  }
}

bool TClienteOrvWs::Auth(std::string_view chave, std::string_view usuario) {
  const RespostaSoap r = Chamar("Auth", EnvelopeAuth(chave, usuario));
  if (r.retorno == "true") return true;
  if (r.retorno == "false") return false;
  throw ErroProtocolo("Auth devolveu um valor não booleano: " + r.retorno.substr(0, 80));
}

std::string TClienteOrvWs::GetSQL(std::string_view valor) {
  return Chamar("GetSQL", EnvelopeGetSQL(valor)).retorno;
}

std::string TClienteOrvWs::Exec(std::string_view valor) {
  return Chamar("Exec", EnvelopeExec(valor)).retorno;
}

std::string TClienteOrvWs::AddItemPesquisa(std::int32_t cod_pesquisa, std::int32_t cod_concorrente,
                                           std::string_view cod_ean, float val_pesquisa) {
  return Chamar("AddItemPesquisa",
                EnvelopeAddItemPesquisa(cod_pesquisa, cod_concorrente, cod_ean, val_pesquisa))
      .retorno;
}

}  // namespace orv::sim
