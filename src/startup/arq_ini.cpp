#include "startup/arq_ini.h"

#include <limits>
#include <vector>

#include "startup/limites.h"
#include "util/text.h"

namespace orv::startup {

namespace {

#ifdef _WIN32
constexpr std::string_view kFimDeLinhaNativo = "\r\n";
#else
constexpr std::string_view kFimDeLinhaNativo = "\n";
#endif

bool IgualSemCaixa(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Aparar(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// The file split into lines without their line ends.
std::vector<std::string> Linhas(std::string_view texto) {
  std::vector<std::string> linhas;
  std::size_t inicio = 0;
  while (inicio < texto.size()) {
    std::size_t fim = texto.find('\n', inicio);
    if (fim == std::string_view::npos) fim = texto.size();
    std::string_view linha = texto.substr(inicio, fim - inicio);
    if (!linha.empty() && linha.back() == '\r') linha.remove_suffix(1);
    linhas.emplace_back(linha);
    inicio = fim + 1;
  }
  return linhas;
}

// The section named by a "[Name]" line, if the line is one.
std::optional<std::string_view> Secao(std::string_view linha) {
  linha = Aparar(linha);
  if (linha.size() < 2 || linha.front() != '[') return std::nullopt;
  const std::size_t fecha = linha.find(']');
  if (fecha == std::string_view::npos) return std::nullopt;
  return Aparar(linha.substr(1, fecha - 1));
}

// The key of a "Key=Value" line, if the line is one (comments never are).
std::optional<std::string_view> Chave(std::string_view linha) {
  linha = Aparar(linha);
  if (linha.empty() || linha.front() == ';' || linha.front() == '#') return std::nullopt;
  const std::size_t igual = linha.find('=');
  if (igual == std::string_view::npos) return std::nullopt;
  return Aparar(linha.substr(0, igual));
}

std::string_view Valor(std::string_view linha) {
  return Aparar(linha.substr(linha.find('=') + 1));
}

std::string NaoGravou(const std::string& caminho) {
  std::string texto = "Unable to write to ";
  texto.append(caminho);
  return texto;
}

}  // namespace

std::optional<std::int32_t> InteiroDoIni(std::string_view texto) {
  texto = Aparar(texto);
  if (texto.size() > 2 && texto[0] == '0' && (texto[1] == 'x' || texto[1] == 'X')) {
    texto.remove_prefix(2);
    if (texto.size() > 8) return std::nullopt;  // more than 32 bits
    std::uint32_t valor = 0;
    for (char c : texto) {
      const int d = util::HexDigitValue(c);
      if (d < 0) return std::nullopt;
      valor = valor * 16 + static_cast<std::uint32_t>(d);
    }
    return static_cast<std::int32_t>(valor);  // the 32-bit pattern, as written
  }
  bool negativo = false;
  if (!texto.empty() && (texto[0] == '-' || texto[0] == '+')) {
    negativo = texto[0] == '-';
    texto.remove_prefix(1);
  }
  if (texto.empty()) return std::nullopt;
  std::int64_t valor = 0;
  for (char c : texto) {
    if (c < '0' || c > '9') return std::nullopt;
    valor = valor * 10 + (c - '0');
    if (valor > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
  }
  if (negativo) valor = -valor;
  if (valor > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(valor);
}

TArqIni::TArqIni(std::string caminho, util::Env& env)
    : caminho_(std::move(caminho)), env_(&env) {}

std::string TArqIni::Conteudo() const {
  util::ReadResult r = env_->ReadFile(caminho_, kTamanhoMaximoIni);
  switch (r.status) {
    case util::ReadStatus::kOk:
    case util::ReadStatus::kTooLarge:   // a larger file is read no further than the limit
      return std::move(r.bytes);
    case util::ReadStatus::kNotFound:
    case util::ReadStatus::kCannotOpen:
      break;
  }
  return {};  // an unreadable file reads like a missing one: every value takes its default
}

std::optional<std::string> TArqIni::ReadValue(std::string_view section,
                                              std::string_view key) const {
  bool na_secao = false;
  for (const std::string& linha : Linhas(Conteudo())) {
    if (const auto s = Secao(linha)) {
      na_secao = IgualSemCaixa(*s, section);
      continue;
    }
    if (!na_secao) continue;
    if (const auto k = Chave(linha); k && IgualSemCaixa(*k, key)) return std::string(Valor(linha));
  }
  return std::nullopt;
}

std::string TArqIni::ReadString(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  return ReadValue(section, key).value_or(std::string(default_value));
}

std::int32_t TArqIni::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t default_value) const {
  const auto valor = ReadValue(section, key);
  if (!valor) return default_value;
  return InteiroDoIni(*valor).value_or(default_value);
}

bool TArqIni::ReadBool(std::string_view section, std::string_view key,
                       bool default_value) const {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

void TArqIni::WriteString(std::string_view section, std::string_view key,
                          std::string_view value) {
  // The whole file is rewritten, so a file that cannot be read whole is never written over.
  util::ReadResult lido = env_->ReadFile(caminho_, kTamanhoMaximoIni);
  if (lido.status != util::ReadStatus::kOk && lido.status != util::ReadStatus::kNotFound)
    throw TArqIniError(NaoGravou(caminho_));
  const std::string antigo = std::move(lido.bytes);
  const std::string_view fim_linha =
      antigo.find("\r\n") != std::string::npos ? std::string_view("\r\n")
      : antigo.find('\n') != std::string::npos ? std::string_view("\n")
                                               : kFimDeLinhaNativo;
  std::vector<std::string> linhas = Linhas(antigo);
  const std::string nova = std::string(key) + "=" + std::string(value);

  bool na_secao = false, feito = false;
  std::size_t ultima_da_secao = 0;  // index after the last non-empty line of our section
  bool achou_secao = false;
  for (std::size_t i = 0; i < linhas.size() && !feito; ++i) {
    if (const auto s = Secao(linhas[i])) {
      if (na_secao) break;  // our section ended without the key
      na_secao = IgualSemCaixa(*s, section);
      if (na_secao) {
        achou_secao = true;
        ultima_da_secao = i + 1;
      }
      continue;
    }
    if (!na_secao) continue;
    if (const auto k = Chave(linhas[i]); k && IgualSemCaixa(*k, key)) {
      linhas[i] = nova;
      feito = true;
    } else if (!Aparar(linhas[i]).empty()) {
      ultima_da_secao = i + 1;
    }
  }
  if (!feito) {
    if (achou_secao) {
      linhas.insert(linhas.begin() + static_cast<std::ptrdiff_t>(ultima_da_secao), nova);
    } else {
      if (!linhas.empty() && !Aparar(linhas.back()).empty()) linhas.emplace_back();
      linhas.push_back("[" + std::string(section) + "]");
      linhas.push_back(nova);
    }
  }
  std::string texto;
  for (const std::string& linha : linhas) {
    texto += linha;
    texto += fim_linha;
  }
  if (!env_->WriteFileAtomic(caminho_, texto)) throw TArqIniError(NaoGravou(caminho_));
}

void TArqIni::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TArqIni::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

}  // namespace orv::startup
