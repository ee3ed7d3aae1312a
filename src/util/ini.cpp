// The INI parse, its two lookups and the settings file.
#include "util/ini.h"

#include <limits>

#include "util/text.h"

namespace orv::util {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

#ifdef _WIN32
constexpr std::string_view kFimDeLinhaNativo = "\r\n";
#else
constexpr std::string_view kFimDeLinhaNativo = "\n";
#endif

std::string_view Aparar(std::string_view s) {
  constexpr std::string_view kBrancos = " \t\r";
  const auto primeiro = s.find_first_not_of(kBrancos);
  if (primeiro == std::string_view::npos) return {};
  return s.substr(primeiro, s.find_last_not_of(kBrancos) - primeiro + 1);
}

IniLine LerLinha(std::string_view texto) {
  IniLine l;
  l.text = texto;
  const std::string_view linha = Aparar(texto);
  if (linha.empty()) return l;
  if (linha.front() == ';' || linha.front() == '#') {
    l.kind = IniLine::Kind::kComment;
  } else if (linha.front() == '[') {
    const std::size_t fecha = linha.find(']');
    l.kind = fecha == std::string_view::npos ? IniLine::Kind::kOther : IniLine::Kind::kSection;
    if (fecha != std::string_view::npos) l.name = Aparar(linha.substr(1, fecha - 1));
  } else if (const std::size_t igual = linha.find('='); igual != std::string_view::npos) {
    l.kind = IniLine::Kind::kEntry;
    l.name = Aparar(linha.substr(0, igual));
    l.value = Aparar(linha.substr(igual + 1));
  } else {
    l.kind = IniLine::Kind::kOther;
  }
  return l;
}

std::string NaoGravou(const std::string& caminho) { return "Unable to write to " + caminho; }

// A number's text without the blanks around it (a CR only at its end: the port field's text
// goes through this too).
std::string_view AparaNumero(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

IniText ParseIni(std::string_view bytes) {
  IniText ini;
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    ini.bom = true;
    bytes.remove_prefix(kUtf8Bom.size());
  }
  std::size_t inicio = 0;
  while (inicio < bytes.size()) {
    ini.lines.push_back(LerLinha(NextLine(bytes, inicio)));
  }
  return ini;
}

std::optional<std::string> IniValue(const IniText& ini, std::string_view section,
                                    std::string_view key) {
  bool na_secao = false;
  for (const IniLine& l : ini.lines) {
    if (l.kind == IniLine::Kind::kSection) {
      na_secao = AsciiIEquals(l.name, section);
    } else if (na_secao && l.kind == IniLine::Kind::kEntry && AsciiIEquals(l.name, key)) {
      return std::string(l.value);
    }
  }
  return std::nullopt;
}

std::optional<IniEntries> IniSection(const IniText& ini, std::string_view section) {
  std::optional<IniEntries> found;
  for (const IniLine& l : ini.lines) {
    if (l.kind == IniLine::Kind::kSection) {
      if (found) break;   // only the first section of that name counts
      if (AsciiIEquals(l.name, section)) found.emplace();
    } else if (found && l.kind == IniLine::Kind::kEntry) {
      found->emplace_back(l.name, l.value);
    }
  }
  return found;
}

std::optional<std::int32_t> InteiroDoIni(std::string_view texto) {
  texto = AparaNumero(texto);
  if (texto.size() > 2 && texto[0] == '0' && (texto[1] == 'x' || texto[1] == 'X')) {
    texto.remove_prefix(2);
    if (texto.size() > 8) return std::nullopt;  // more than 32 bits
    std::uint32_t valor = 0;
    for (char c : texto) {
      const int d = HexDigitValue(c);
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

TArqIni::TArqIni(std::string caminho, Env& env) : caminho_(std::move(caminho)), env_(&env) {}

std::optional<std::string> TArqIni::ReadValue(std::string_view section,
                                              std::string_view key) const {
  ReadResult r = env_->ReadFile(caminho_, kTamanhoMaximoIni);
  // A larger file is read no further than the limit; an unreadable file reads like a missing
  // one: every value takes its default.
  if (r.status != ReadStatus::kOk && r.status != ReadStatus::kTooLarge) return std::nullopt;
  return IniValue(ParseIni(r.bytes), section, key);
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
  const ReadResult lido = env_->ReadFile(caminho_, kTamanhoMaximoIni);
  if (lido.status != ReadStatus::kOk && lido.status != ReadStatus::kNotFound)
    throw TArqIniError(NaoGravou(caminho_));
  const std::string& antigo = lido.bytes;
  const std::string_view fim_linha =
      antigo.find("\r\n") != std::string::npos ? std::string_view("\r\n")
      : antigo.find('\n') != std::string::npos ? std::string_view("\n")
                                               : kFimDeLinhaNativo;
  const IniText ini = ParseIni(antigo);
  std::vector<std::string> linhas;
  for (const IniLine& l : ini.lines) linhas.emplace_back(l.text);
  const std::string nova = std::string(key) + "=" + std::string(value);

  bool na_secao = false, feito = false;
  std::size_t ultima_da_secao = 0;  // index after the last non-blank line of our section
  bool achou_secao = false;
  for (std::size_t i = 0; i < ini.lines.size() && !feito; ++i) {
    const IniLine& l = ini.lines[i];
    if (l.kind == IniLine::Kind::kSection) {
      if (na_secao) break;  // our section ended without the key
      na_secao = AsciiIEquals(l.name, section);
      if (na_secao) {
        achou_secao = true;
        ultima_da_secao = i + 1;
      }
      continue;
    }
    if (!na_secao) continue;
    if (l.kind == IniLine::Kind::kEntry && AsciiIEquals(l.name, key)) {
      linhas[i] = nova;
      feito = true;
    } else if (l.kind != IniLine::Kind::kBlank) {
      ultima_da_secao = i + 1;
    }
  }
  if (!feito) {
    if (achou_secao) {
      linhas.insert(linhas.begin() + static_cast<std::ptrdiff_t>(ultima_da_secao), nova);
    } else {
      if (!ini.lines.empty() && ini.lines.back().kind != IniLine::Kind::kBlank)
        linhas.emplace_back();
      linhas.push_back("[" + std::string(section) + "]");
      linhas.push_back(nova);
    }
  }
  std::string texto(ini.bom ? kUtf8Bom : std::string_view());
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

}  // namespace orv::util
