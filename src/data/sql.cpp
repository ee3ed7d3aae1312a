#include "data/sql.h"

#include <soci/firebird/soci-firebird.h>
#include <soci/odbc/soci-odbc.h>
#include <soci/soci.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <list>
#include <mutex>

#include "data/data_limits.h"
#include "data/sql_text.h"
#include "util/regional.h"
#include "util/text.h"

namespace orv::data {

// ---------------------------------------------------------------------------------------------
// Result sets: every row read into memory before the commit. Cells are compact (16 bytes) and
// the bytes of all text cells share one buffer, so a large download costs little more than
// its text.

namespace {

enum class CellKind : std::uint8_t { kNull, kText, kInteger, kFloat, kDate };

struct Cell {
  CellKind kind = CellKind::kNull;
  std::uint32_t length = 0;  // bytes of a text cell
  union {
    std::int64_t integer;
    double real;  // kFloat, and kDate as a TDateTime
    std::uint64_t offset;  // start of a text cell in ResultSet::text
  } v{0};
};

}  // namespace

struct ResultSet {
  std::vector<std::string> columns;
  std::vector<Cell> cells;  // row-major
  std::string text;
  std::size_t rows = 0;

  int ColumnIndex(std::string_view name) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (util::AsciiIEquals(columns[i], name)) return static_cast<int>(i);
    return -1;
  }
  const Cell& At(std::size_t row, int column) const {
    return cells[row * columns.size() + static_cast<std::size_t>(column)];
  }
  std::string_view Text(const Cell& c) const {
    return std::string_view(text).substr(static_cast<std::size_t>(c.v.offset), c.length);
  }
};

namespace {

enum class BackendKind { kFirebird, kSqlServer, kOracle };

BackendKind BackendOf(std::string_view driver) {
  if (util::AsciiIEquals(driver, "MSSQL")) return BackendKind::kSqlServer;
  if (util::AsciiIEquals(driver, "Oracle")) return BackendKind::kOracle;
  return BackendKind::kFirebird;  // "Firebird", "Interbase" and anything else
}

struct Settings {
  std::string driver = "Firebird";
  std::string vendor_lib;
  std::string connection_name;
  bool login_prompt = false;
  std::vector<std::pair<std::string, std::string>> params;

  std::string Param(std::string_view name) const {
    for (const auto& [k, v] : params)
      if (util::AsciiIEquals(k, name)) return v;
    return {};
  }
};

// A value in a Firebird "key=value" connect string: quoted when it holds blanks.
std::string FirebirdValue(std::string_view key, const std::string& value) {
  const bool blank = std::any_of(value.begin(), value.end(),
                                 [](char c) { return static_cast<unsigned char>(c) <= 32; });
  if (!blank && value.find('"') == std::string::npos) return value;
  if (value.find('"') != std::string::npos)
    throw SqlError("The connection parameter " + std::string(key) +
                   " cannot hold a double quote together with blanks");
  return "\"" + value + "\"";
}

// A value in an ODBC connection string: braced when it holds characters with a meaning there.
std::string OdbcValue(const std::string& value) {
  const bool special = value.find_first_of(";{}=") != std::string::npos ||
                       (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!special) return value;
  std::string out = "{";
  for (char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

// Text for the Firebird client's attach call (file name, user, password): the client reads it
// in the system's character set, whatever the connection's character set is.
std::string ForFirebirdClient(const std::string& utf8) {
#ifdef _WIN32
  return util::Utf8ToAnsi(utf8);
#else
  return utf8;
#endif
}

std::string BuildConnectString(const Settings& s) {
  switch (BackendOf(s.driver)) {
    case BackendKind::kFirebird: {
      const std::string database = s.Param("DataBase");
      if (database.size() > kMaxFirebirdDatabaseName)
        throw SqlError("The database name is longer than " +
                       std::to_string(kMaxFirebirdDatabaseName) + " bytes");
      std::string out = "service=" + FirebirdValue("DataBase", ForFirebirdClient(database));
      const std::string user = s.Param("User_Name");
      const std::string password = s.Param("Password");
      if (!user.empty()) out += " user=" + FirebirdValue("User_Name", ForFirebirdClient(user));
      if (!password.empty())
        out += " password=" + FirebirdValue("Password", ForFirebirdClient(password));
      out += " charset=WIN1252";
      return out;
    }
    case BackendKind::kSqlServer: {
      // "host", "host,port" or "host\instance" (a named instance is found without a port).
      std::string host = s.Param("HostName");
      std::string port = "1433";
      if (const auto comma = host.find(','); comma != std::string::npos) {
        port = host.substr(comma + 1);
        host.resize(comma);
      } else if (host.find('\\') != std::string::npos) {
        port.clear();
      }
      std::string timeout = s.Param("LoginTimeout");
      if (timeout.empty()) timeout = std::to_string(kOdbcLoginTimeoutSeconds);
      std::string out = "DRIVER={FreeTDS};Server=" + OdbcValue(host) + ";";
      if (!port.empty()) out += "Port=" + OdbcValue(port) + ";";
      out += "Database=" + OdbcValue(s.Param("DataBase")) + ";";
      out += "UID=" + OdbcValue(s.Param("User_Name")) + ";";
      out += "PWD=" + OdbcValue(s.Param("Password")) + ";";
      out += "TDS_Version=7.4;ClientCharset=UTF-8;Timeout=" + OdbcValue(timeout) + ";";
      return out;
    }
    case BackendKind::kOracle:
      return "DSN=" + OdbcValue(s.Param("DataBase")) + ";UID=" + OdbcValue(s.Param("User_Name")) +
             ";PWD=" + OdbcValue(s.Param("Password")) + ";";
  }
  return {};
}

// Seconds of a connection parameter, or `fallback` when absent.
int SecondsParam(const Settings& s, std::string_view name, int fallback) {
  const std::string v = s.Param(name);
  if (v.empty()) return fallback;
  try {
    return std::stoi(v);
  } catch (const std::exception&) {
    throw SqlError("The connection parameter " + std::string(name) +
                   " is not a number of seconds: " + v);
  }
}

int QueryTimeoutOf(const Settings& s) {
  return std::max(0, SecondsParam(s, "QueryTimeout", kOdbcStatementTimeoutSeconds));
}

// The transaction parameter block of the Firebird kinds, from the profile.
std::string BuildTransactionParameters(const Settings& s) {
  std::string tpb;
  tpb += static_cast<char>(isc_tpb_version3);
  tpb += static_cast<char>(isc_tpb_write);
  // "RepeatableRead" is a snapshot; "ReadCommited" (the profile's) and anything else read the
  // newest committed version of each row.
  if (util::AsciiIEquals(s.Param("InterBase TransIsolation"), "RepeatableRead")) {
    tpb += static_cast<char>(isc_tpb_concurrency);
  } else {
    tpb += static_cast<char>(isc_tpb_read_committed);
    tpb += static_cast<char>(isc_tpb_rec_version);
  }
  if (util::AsciiIEquals(s.Param("WaitOnLocks"), "False")) {
    tpb += static_cast<char>(isc_tpb_nowait);
    return tpb;
  }
  tpb += static_cast<char>(isc_tpb_wait);
  const int seconds = SecondsParam(s, "LockTimeout", kLockTimeoutSeconds);
  if (seconds < 0) return tpb;   // a negative time-out waits for ever, as the client does
  tpb += static_cast<char>(isc_tpb_lock_timeout);
  tpb += static_cast<char>(4);
  for (int i = 0; i < 4; ++i) tpb += static_cast<char>((static_cast<unsigned>(seconds) >> (8 * i)) & 0xFF);
  return tpb;
}

std::vector<std::string> BuildSetupStatements(const Settings& s) {
  if (BackendOf(s.driver) != BackendKind::kSqlServer) return {};
  return {"SET LOCK_TIMEOUT " + std::to_string(QueryTimeoutOf(s) * 1000)};
}

// Sessions and statements whose connection broke. Destroying them would talk to the dead
// server from a destructor, and an error there ends the process (std::terminate); they are
// kept, reachable, until the process ends. This happens once per lost connection.
struct Abandoned {
  std::mutex mutex;
  std::vector<soci::session*> sessions;
  std::vector<soci::statement*> statements;
};
Abandoned& Graveyard() {
  static auto* g = new Abandoned;  // never destroyed
  return *g;
}
void Abandon(std::unique_ptr<soci::session> s) {
  if (!s) return;
  std::lock_guard lock(Graveyard().mutex);
  Graveyard().sessions.push_back(s.release());
}
void Abandon(soci::statement* st) {
  std::lock_guard lock(Graveyard().mutex);
  Graveyard().statements.push_back(st);
}
std::size_t GraveyardSize() {
  std::lock_guard lock(Graveyard().mutex);
  return Graveyard().sessions.size() + Graveyard().statements.size();
}

bool IsConnectionLost(const soci::soci_error& e) {
  if (const auto* fb = dynamic_cast<const soci::firebird_soci_error*>(&e)) {
    static constexpr ISC_STATUS kLost[] = {
        isc_network_error, isc_net_read_err, isc_net_write_err, isc_lost_db_connection,
        isc_conn_lost,     isc_shutdown,     isc_att_shutdown,  isc_bad_db_handle};
    const auto& st = fb->status_;
    for (std::size_t i = 0; i + 1 < st.size(); ++i)
      if (st[i] == isc_arg_gds && std::find(std::begin(kLost), std::end(kLost), st[i + 1]) !=
                                      std::end(kLost))
        return true;
    return false;
  }
  return e.get_error_category() == soci::soci_error::connection_error;
}

std::string MessageOf(const soci::soci_error& e) {
  std::string m = e.get_error_message();
  if (!util::IsValidUtf8(m)) m = util::Win1252ToUtf8(m);  // Firebird quotes data as WIN1252
  while (!m.empty() && (m.back() == '\n' || m.back() == '\r')) m.pop_back();
  return m;
}

util::TDateTime FromTm(const std::tm& t) {
  util::DateTimeParts p;
  p.hour = t.tm_hour;
  p.minute = t.tm_min;
  p.second = t.tm_sec;
  // A TIME column arrives with no date (day 0): it is a time of day on the zero date.
  if (t.tm_mday >= 1 && t.tm_mon >= 0 && t.tm_mon <= 11) {
    p.year = t.tm_year + 1900;
    p.month = t.tm_mon + 1;
    p.day = t.tm_mday;
  }
  return util::EncodeDateTime(p);
}

struct BoundValue {
  enum Kind { kText, kInteger, kFloat } kind = kText;
  std::string text;
  int integer = 0;
  double real = 0;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

class SqlConnectionImpl {
 public:
  ~SqlConnectionImpl() {
    std::lock_guard lock(session_mutex_);
    try {
      CloseLocked();
    } catch (...) {
      // Closing never throws past here: a destructor must not end the process.
    }
  }

  Settings GetSettings() const {
    std::lock_guard lock(settings_mutex_);
    return settings_;
  }
  template <class F>
  auto WithSettings(F&& f) const {
    std::lock_guard lock(settings_mutex_);
    return f(settings_);
  }
  template <class F>
  auto ChangeSettings(F&& f) {
    std::lock_guard lock(settings_mutex_);
    return f(settings_);
  }
  // Read-only view for Params() and the name accessors (see sql.h: not while another thread
  // changes the settings).
  const Settings& settings() const { return settings_; }

  void Open() {
    std::lock_guard lock(session_mutex_);
    OpenLocked();
  }
  void Close() {
    std::lock_guard lock(session_mutex_);
    CloseLocked();
  }
  bool IsOpen() const { return open_.load(); }
  void SetKeptMaxAge(std::chrono::milliseconds age) {
    std::lock_guard lock(session_mutex_);
    kept_max_age_ = age;
  }

  // Runs one statement (or one batch) under the connection's lock: opens the connection if
  // needed, executes, reads every row, commits; rolls back on error. A connection found lost
  // before anything ran is opened anew and the statement tried once more; a connection lost
  // later is replaced on its next use.
  std::unique_ptr<ResultSet> Run(const std::string& sql_utf8,
                                 const std::vector<BoundValue>& values, bool want_rows,
                                 const std::vector<std::vector<std::string>>* batch,
                                 bool keep_prepared = false) {
    std::lock_guard lock(session_mutex_);
    for (int attempt = 1;; ++attempt) {
      const bool was_open = session_ != nullptr;
      OpenLocked();
      bool executed = false;
      try {
        if (keep_prepared && firebird_ && !batch)
          return RunKept(sql_utf8, values, want_rows, executed);
        return RunOnce(sql_utf8, values, want_rows, batch, executed);
      } catch (const soci::soci_error& e) {
        bool lost = IsConnectionLost(e);
        EndAfterError(lost);
        if (lost && !executed && was_open && attempt < kStatementAttemptsOnLostConnection)
          continue;
        throw SqlError(MessageOf(e));
      } catch (const SqlError&) {
        bool lost = false;
        EndAfterError(lost);
        throw;
      } catch (const std::exception& e) {
        bool lost = false;
        EndAfterError(lost);
        throw SqlError(e.what());
      }
    }
  }

 private:
  void OpenLocked() {
    if (session_) return;
    const Settings s = GetSettings();
    const std::string connect = BuildConnectString(s);
    firebird_ = BackendOf(s.driver) == BackendKind::kFirebird;
    const std::string tpb = firebird_ ? BuildTransactionParameters(s) : std::string();
    const std::vector<std::string> setup = BuildSetupStatements(s);
    query_timeout_ = QueryTimeoutOf(s);
    try {
      if (firebird_) {
        session_ = std::make_unique<soci::session>(*soci::factory_firebird(), connect);
        // The client layer starts a transaction with the client's defaults (snapshot, wait for
        // ever) whenever a statement finds none; ours is started into the same handle first.
        // Asking for the handle starts one of those: it is ended at once, having done nothing.
        auto* be = static_cast<soci::firebird_session_backend*>(session_->get_backend());
        transaction_ = be->current_transaction();
        session_->commit();
        tpb_ = tpb;
      } else {
        session_ = std::make_unique<soci::session>(*soci::factory_odbc(), connect);
        for (const std::string& sql : setup) *session_ << sql;
      }
    } catch (const soci::soci_error& e) {
      DropNewSession();
      throw SqlError(MessageOf(e));
    }
    open_ = true;
  }

  // A session that failed while being set up: it has no statement and no open transaction.
  void DropNewSession() {
    transaction_ = nullptr;
    if (!session_) return;
    try {
      session_->rollback();
      session_->close();
      session_.reset();
    } catch (...) {
      Abandon(std::move(session_));
    }
  }

  // Before a statement's first word to the server: its transaction, with the profile's
  // parameters, unless one is open already. A server that does not know the lock time-out
  // (Interbase) refuses the block; the statement then waits as the server's own rules say.
  void BeginTransaction() {
    if (!firebird_ || !transaction_ || *transaction_ != 0) return;
    auto* be = static_cast<soci::firebird_session_backend*>(session_->get_backend());
    ISC_STATUS_ARRAY status;
    if (isc_start_transaction(status, transaction_, 1, &be->dbhp_,
                              static_cast<unsigned short>(tpb_.size()), tpb_.data()) == 0)
      return;
    const std::size_t lock_item = tpb_.find(static_cast<char>(isc_tpb_lock_timeout));
    if (lock_item != std::string::npos && lock_item >= 4) {
      tpb_.resize(lock_item);
      if (isc_start_transaction(status, transaction_, 1, &be->dbhp_,
                                static_cast<unsigned short>(tpb_.size()), tpb_.data()) == 0)
        return;
    }
    // As the client layer's own errors, so that a connection found lost here, before anything
    // ran, is opened anew and the statement run on it.
    char text[512];
    const ISC_STATUS* vector = status;
    std::string message;
    while (fb_interpret(text, sizeof text, &vector) > 0) {
      if (!message.empty()) message += "\n";
      message += text;
    }
    throw soci::firebird_soci_error(
        message.empty() ? "The transaction could not be started" : message, status);
  }

  void CloseLocked() {
    if (!session_) return;
    open_ = false;
    transaction_ = nullptr;
    bool alive = false;
    try {
      session_->rollback();  // no transaction stays open; this is a no-op then
      alive = session_->is_connected();
    } catch (...) {
      alive = false;
    }
    if (!alive) {
      AbandonKept();
      Abandon(std::move(session_));
      return;
    }
    while (!kept_.empty()) DropKept(kept_.begin());
    try {
      session_->close();
    } catch (...) {
      // close() reports a failed detach normally only before the backend is gone.
    }
    session_.reset();
  }

  // After an error: end the transaction; a connection that cannot do that, or that the
  // client reports as dead, is abandoned and replaced on the next use.
  void EndAfterError(bool& lost) {
    if (!session_) return;
    if (!lost) {
      try {
        session_->rollback();
        lost = !session_->is_connected();
      } catch (...) {
        lost = true;
      }
    }
    if (lost) {
      open_ = false;
      transaction_ = nullptr;
      AbandonKept();
      Abandon(std::move(session_));
    }
  }

  // ---- Statements kept prepared ------------------------------------------------------------
  // The program's own fixed statements that run on every request (the user lookup of a login,
  // the insert of a price) are kept prepared on the session: parsing a statement costs the
  // Firebird engine more than running it, under this connection's lock. Only Firebird: it is
  // the database this is measured and tested against. A statement is found by its text and
  // the kinds of its values; the values are bound to storage owned by the entry, rewritten
  // before each run.
  struct KeptStatement {
    std::string key;
    std::chrono::steady_clock::time_point prepared_at;
    soci::statement* st = nullptr;
    std::vector<std::string> texts;
    std::vector<int> integers;
    std::vector<double> reals;
    soci::row row;
  };

  static std::string KeyOf(const std::string& sql, const std::vector<BoundValue>& values,
                           bool want_rows) {
    std::string key;
    key.reserve(sql.size() + values.size() + 2);
    key += want_rows ? 'R' : 'X';
    for (const BoundValue& v : values)
      key += v.kind == BoundValue::kText ? 'T' : v.kind == BoundValue::kInteger ? 'I' : 'F';
    key += '\n';
    key += sql;
    return key;
  }

  // Ends a kept statement; one that cannot be cleaned up (its connection is gone) is set aside
  // with the storage it is bound to.
  void DropKept(std::list<KeptStatement>::iterator it) {
    soci::statement* st = it->st;
    it->st = nullptr;
    bool cleaned = true;
    if (st) {
      try {
        st->clean_up();
      } catch (...) {
        cleaned = false;
      }
      if (cleaned) delete st;
      else Abandon(st);
    }
    if (cleaned) kept_.erase(it);
    else kept_storage_graveyard_.splice(kept_storage_graveyard_.end(), kept_, it);
  }

  // The session is going away without a word to the server: its statements go with it. The
  // entries' storage is kept with them, as the statements still refer to it.
  void AbandonKept() {
    for (auto& k : kept_) {
      if (k.st) Abandon(k.st);
      k.st = nullptr;
    }
    kept_storage_graveyard_.splice(kept_storage_graveyard_.end(), kept_);
  }

  std::unique_ptr<ResultSet> RunKept(const std::string& sql_utf8,
                                     const std::vector<BoundValue>& values, bool want_rows,
                                     bool& executed) {
    const std::string sql = util::Utf8ToWin1252(sql_utf8);
    const std::string key = KeyOf(sql, values, want_rows);
    const auto now = std::chrono::steady_clock::now();
    auto it = std::find_if(kept_.begin(), kept_.end(),
                           [&key](const KeptStatement& k) { return k.key == key; });
    if (it != kept_.end() && now - it->prepared_at > kept_max_age_) {
      DropKept(it);
      it = kept_.end();
    }
    if (it != kept_.end()) {
      kept_.splice(kept_.begin(), kept_, it);
      KeptStatement& k = kept_.front();
      std::size_t t = 0, n = 0, r = 0;
      for (const BoundValue& v : values) {
        switch (v.kind) {
          case BoundValue::kText: k.texts[t++] = util::Utf8ToWin1252(v.text); break;
          case BoundValue::kInteger: k.integers[n++] = v.integer; break;
          case BoundValue::kFloat: k.reals[r++] = v.real; break;
        }
      }
    } else {
      kept_.emplace_front();
      KeptStatement& k = kept_.front();
      k.key = key;
      k.prepared_at = now;
      // Reserved once: the statement binds to these elements, which must never move.
      k.texts.reserve(values.size());
      k.integers.reserve(values.size());
      k.reals.reserve(values.size());
      BeginTransaction();
      k.st = new soci::statement(*session_);
      try {
        for (const BoundValue& v : values) {
          switch (v.kind) {
            case BoundValue::kText:
              k.texts.push_back(util::Utf8ToWin1252(v.text));
              k.st->exchange(soci::use(k.texts.back()));
              break;
            case BoundValue::kInteger:
              k.integers.push_back(v.integer);
              k.st->exchange(soci::use(k.integers.back()));
              break;
            case BoundValue::kFloat:
              k.reals.push_back(v.real);
              k.st->exchange(soci::use(k.reals.back()));
              break;
          }
        }
        if (want_rows) k.st->exchange(soci::into(k.row));
        k.st->alloc();
        k.st->prepare(sql);
        k.st->define_and_bind();
      } catch (...) {
        DropKept(kept_.begin());
        throw;
      }
      while (kept_.size() > kMaxKeptStatements) DropKept(std::prev(kept_.end()));
    }

    KeptStatement& k = kept_.front();
    auto result = std::make_unique<ResultSet>();
    // A kept statement's first word to the server is its execution, so that is where a
    // connection lost while idle shows. Nothing the statement did outlives its uncommitted
    // transaction on a lost connection, so until the commit the run counts as not executed
    // and is tried once more on a fresh connection.
    try {
      BeginTransaction();
      const bool got = k.st->execute(true);
      if (want_rows) ReadRows(*result, *k.st, k.row, got);
    } catch (...) {
      // Whatever state the failed run left the statement in, it is not run again.
      DropKept(kept_.begin());
      throw;
    }
    executed = true;
    session_->commit();
    return result;
  }

  std::unique_ptr<ResultSet> RunOnce(const std::string& sql_utf8,
                                     const std::vector<BoundValue>& values, bool want_rows,
                                     const std::vector<std::vector<std::string>>* batch,
                                     bool& executed) {
    auto result = std::make_unique<ResultSet>();
    const std::string sql = firebird_ ? util::Utf8ToWin1252(sql_utf8) : sql_utf8;

    // Stable storage for the bound values: the statement refers to them until it ends.
    std::vector<std::string> texts;
    std::vector<int> integers;
    std::vector<double> reals;
    std::vector<std::vector<std::string>> columns;
    texts.reserve(values.size());
    integers.reserve(values.size());
    reals.reserve(values.size());
    soci::row row;

    BeginTransaction();
    auto* st = new soci::statement(*session_);
    try {
      if (batch) {
        const std::size_t width = batch->empty() ? 0 : batch->front().size();
        columns.assign(width, {});
        for (auto& c : columns) c.reserve(batch->size());
        for (const auto& r : *batch) {
          if (r.size() != width) throw SqlError("Every row of a batch needs the same parameters");
          for (std::size_t i = 0; i < width; ++i)
            columns[i].push_back(firebird_ ? util::Utf8ToWin1252(r[i]) : r[i]);
        }
        for (auto& c : columns) st->exchange(soci::use(c));
      } else {
        for (const BoundValue& v : values) {
          switch (v.kind) {
            case BoundValue::kText:
              texts.push_back(firebird_ ? util::Utf8ToWin1252(v.text) : v.text);
              st->exchange(soci::use(texts.back()));
              break;
            case BoundValue::kInteger:
              integers.push_back(v.integer);
              st->exchange(soci::use(integers.back()));
              break;
            case BoundValue::kFloat:
              reals.push_back(v.real);
              st->exchange(soci::use(reals.back()));
              break;
          }
        }
      }
      if (want_rows) st->exchange(soci::into(row));
      st->alloc();
      if (!firebird_) SetStatementTimeout(*st);
      st->prepare(sql);
      st->define_and_bind();
      executed = true;
      if (batch && batch->empty()) {
        // nothing to run
      } else {
        const bool got = st->execute(true);
        if (want_rows) ReadRows(*result, *st, row, got);
      }
      st->clean_up();
    } catch (...) {
      bool cleaned = false;
      try {
        st->clean_up();
        cleaned = true;
      } catch (...) {
      }
      if (cleaned) {
        delete st;
      } else {
        Abandon(st);  // its connection is gone; EndAfterError abandons the session too
      }
      throw;
    }
    delete st;
    session_->commit();
    return result;
  }

  // ODBC statements end after "QueryTimeout" or kOdbcStatementTimeoutSeconds at most.
  void SetStatementTimeout(soci::statement& st) {
    auto* be = static_cast<soci::odbc_statement_backend*>(st.get_backend());
    if (!be) return;
    SQLSetStmtAttr(be->hstmt_, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(query_timeout_)), 0);
  }

  // Every row of an executed statement (got: whether execute brought the first one).
  void ReadRows(ResultSet& result, soci::statement& st, const soci::row& row, bool got) {
    std::vector<soci::data_type> types;
    if (got || row.size() > 0) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        const soci::column_properties& p = row.get_properties(i);
        result.columns.push_back(firebird_ ? util::Win1252ToUtf8(p.get_name()) : p.get_name());
        types.push_back(p.get_data_type());
      }
    }
    while (got) {
      AppendRow(result, row, types);
      got = st.fetch();
    }
  }

  void AppendRow(ResultSet& rs, const soci::row& row, const std::vector<soci::data_type>& types) {
    for (std::size_t i = 0; i < types.size(); ++i) {
      Cell c;
      if (row.get_indicator(i) != soci::i_null) {
        switch (types[i]) {
          case soci::dt_string:
          case soci::dt_xml: {
            const std::string& raw = row.get<std::string>(i);
            std::string utf8 = firebird_ ? util::Win1252ToUtf8(raw) : raw;
            c.kind = CellKind::kText;
            c.length = static_cast<std::uint32_t>(utf8.size());
            c.v.offset = rs.text.size();
            rs.text += utf8;
            break;
          }
          case soci::dt_integer:
            c.kind = CellKind::kInteger;
            c.v.integer = row.get<int>(i);
            break;
          case soci::dt_long_long:
            c.kind = CellKind::kInteger;
            c.v.integer = row.get<long long>(i);
            break;
          case soci::dt_unsigned_long_long: {
            const unsigned long long u = row.get<unsigned long long>(i);
            c.kind = CellKind::kInteger;
            c.v.integer = u > static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max())
                              ? std::numeric_limits<std::int64_t>::max()
                              : static_cast<std::int64_t>(u);
            break;
          }
          case soci::dt_double:
            c.kind = CellKind::kFloat;
            c.v.real = row.get<double>(i);
            break;
          case soci::dt_date:
            c.kind = CellKind::kDate;
            c.v.real = FromTm(row.get<std::tm>(i));
            break;
          default:
            throw SqlError("Column " + rs.columns[i] + " has a type this client cannot read");
        }
      }
      rs.cells.push_back(c);
    }
    ++rs.rows;
  }

  mutable std::mutex settings_mutex_;
  Settings settings_;
  std::mutex session_mutex_;  // held for a whole statement
  std::unique_ptr<soci::session> session_;
  std::list<KeptStatement> kept_;  // most recently used first
  std::chrono::milliseconds kept_max_age_ = kKeptStatementMaxAge;
  // Entries of abandoned statements: those statements refer to them and are never destroyed.
  std::list<KeptStatement> kept_storage_graveyard_;
  bool firebird_ = true;
  isc_tr_handle* transaction_ = nullptr;   // the client layer's transaction handle (Firebird)
  std::string tpb_;                        // the parameters its transactions start with
  int query_timeout_ = kOdbcStatementTimeoutSeconds;   // ODBC statements, in seconds
  std::atomic<bool> open_{false};
};

// ---------------------------------------------------------------------------------------------

SqlConnection::SqlConnection() : impl_(std::make_unique<SqlConnectionImpl>()) {}
SqlConnection::~SqlConnection() = default;

void SqlConnection::SetDriver(std::string driver_name, std::string vendor_lib) {
  impl_->ChangeSettings([&](Settings& s) {
    s.driver = std::move(driver_name);
    s.vendor_lib = std::move(vendor_lib);
  });
}
const std::string& SqlConnection::DriverName() const { return impl_->settings().driver; }
const std::string& SqlConnection::VendorLib() const { return impl_->settings().vendor_lib; }
void SqlConnection::SetConnectionName(std::string name) {
  impl_->ChangeSettings([&](Settings& s) { s.connection_name = std::move(name); });
}
const std::string& SqlConnection::ConnectionName() const {
  return impl_->settings().connection_name;
}
void SqlConnection::SetLoginPrompt(bool on) {
  impl_->ChangeSettings([&](Settings& s) { s.login_prompt = on; });
}
bool SqlConnection::LoginPrompt() const {
  return impl_->WithSettings([](const Settings& s) { return s.login_prompt; });
}

void SqlConnection::SetParam(std::string_view name, std::string_view value) {
  impl_->ChangeSettings([&](Settings& s) {
    auto it = std::find_if(s.params.begin(), s.params.end(),
                           [&](const auto& p) { return util::AsciiIEquals(p.first, name); });
    if (value.empty()) {
      if (it != s.params.end()) s.params.erase(it);
    } else if (it != s.params.end()) {
      it->second = std::string(value);
    } else {
      s.params.emplace_back(std::string(name), std::string(value));
    }
  });
}
std::string SqlConnection::Param(std::string_view name) const {
  return impl_->WithSettings([&](const Settings& s) { return s.Param(name); });
}
bool SqlConnection::HasParam(std::string_view name) const {
  return impl_->WithSettings([&](const Settings& s) {
    return std::any_of(s.params.begin(), s.params.end(),
                       [&](const auto& p) { return util::AsciiIEquals(p.first, name); });
  });
}
const std::vector<std::pair<std::string, std::string>>& SqlConnection::Params() const {
  return impl_->settings().params;
}

void SqlConnection::Open() { impl_->Open(); }
void SqlConnection::Close() { impl_->Close(); }
bool SqlConnection::IsOpen() const { return impl_->IsOpen(); }
void SqlConnection::SetKeptStatementMaxAge(std::chrono::milliseconds age) {
  impl_->SetKeptMaxAge(age);
}

std::unique_ptr<SqlConnection> SqlConnection::Copy() const {
  auto copy = std::make_unique<SqlConnection>();
  const Settings s = impl_->GetSettings();
  copy->impl_->ChangeSettings([&](Settings& t) { t = s; });
  return copy;
}

std::string SqlConnection::BackendName() const {
  return BackendOf(impl_->GetSettings().driver) == BackendKind::kFirebird ? "firebird" : "odbc";
}
std::string SqlConnection::ConnectString() const {
  return BuildConnectString(impl_->GetSettings());
}
std::vector<std::string> SqlConnection::SetupStatements() const {
  return BuildSetupStatements(impl_->GetSettings());
}
std::string SqlConnection::TransactionParameters() const {
  const Settings s = impl_->GetSettings();
  return BackendOf(s.driver) == BackendKind::kFirebird ? BuildTransactionParameters(s)
                                                       : std::string();
}
SqlConnectionImpl& SqlConnection::impl() { return *impl_; }

// ---------------------------------------------------------------------------------------------

struct SqlQuery::State {
  std::vector<std::string> lines;
  struct Param {
    std::string name;
    BoundValue value;
  };
  std::vector<Param> params;
  std::unique_ptr<ResultSet> result;
  std::size_t current = 0;
  bool eof = true;
  bool keep_prepared = false;

  std::string JoinedSql() const {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i) out += "\r\n";
      out += lines[i];
    }
    return out;
  }
  void SetParam(std::string_view name, BoundValue v) {
    for (auto& p : params)
      if (util::AsciiIEquals(p.name, name)) {
        p.value = std::move(v);
        return;
      }
    params.push_back({std::string(name), std::move(v)});
  }
  const BoundValue& ValueOf(const std::string& name) const {
    for (const auto& p : params)
      if (util::AsciiIEquals(p.name, name)) return p.value;
    throw SqlError("No value for parameter '" + name + "'");
  }
  // The SQL with positional markers and the values in the order the markers need them.
  std::pair<std::string, std::vector<BoundValue>> Prepared() const {
    const std::string joined = JoinedSql();
    if (util::TrimControl(joined).empty()) throw SqlError("The SQL statement is empty");
    PositionalSql p = ToPositional(joined);
    std::vector<BoundValue> values;
    values.reserve(p.names.size());
    for (const std::string& n : p.names) values.push_back(ValueOf(n));
    return {std::move(p.text), std::move(values)};
  }
  const Cell* CurrentCell(std::string_view column) const {
    if (!result) throw SqlError("Cannot perform this operation on a closed dataset");
    const int i = result->ColumnIndex(column);
    if (i < 0) throw SqlError("Field '" + std::string(column) + "' not found");
    if (result->rows == 0) return nullptr;
    return &result->At(current, i);
  }
};

namespace {

// Text of a floating-point value in the host's way: up to 15 significant digits, no grouping,
// the host's decimal separator, an exponent only for very large or small values.
std::string FormatFloat(double value) {
  if (value == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string s = buf;
  if (const auto e = s.find('e'); e != std::string::npos) {
    std::string mantissa = s.substr(0, e);
    std::string exponent = s.substr(e + 1);
    const bool negative = !exponent.empty() && exponent[0] == '-';
    if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) exponent.erase(0, 1);
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    s = mantissa + "E" + (negative ? "-" : "") + exponent;
  }
  if (const auto dot = s.find('.'); dot != std::string::npos)
    s.replace(dot, 1, util::Regional().decimal_separator);
  return s;
}

}  // namespace

SqlQuery::SqlQuery(SqlConnection& connection)
    : connection_(connection), state_(std::make_unique<State>()) {}
SqlQuery::~SqlQuery() = default;

void SqlQuery::SetSql(std::vector<std::string> lines) {
  Close();
  state_->lines = std::move(lines);
}
void SqlQuery::AddLine(std::string line) {
  Close();
  state_->lines.push_back(std::move(line));
}
void SqlQuery::ClearSql() {
  Close();
  state_->lines.clear();
}
std::string SqlQuery::SqlText() const {
  std::string out;
  for (const std::string& l : state_->lines) out += l + "\r\n";
  return out;
}

void SqlQuery::ParamAsString(std::string_view name, std::string_view value) {
  BoundValue v;
  v.kind = BoundValue::kText;
  v.text = std::string(value);
  state_->SetParam(name, std::move(v));
}
void SqlQuery::ParamAsInteger(std::string_view name, std::int32_t value) {
  BoundValue v;
  v.kind = BoundValue::kInteger;
  v.integer = value;
  state_->SetParam(name, std::move(v));
}
void SqlQuery::ParamAsFloat(std::string_view name, float value) {
  BoundValue v;
  v.kind = BoundValue::kFloat;
  v.real = static_cast<double>(value);
  state_->SetParam(name, std::move(v));
}

void SqlQuery::SetKeepPrepared(bool on) { state_->keep_prepared = on; }

void SqlQuery::Open() {
  if (state_->result) return;  // opening an open result does nothing
  auto [sql, values] = state_->Prepared();
  state_->result = connection_.impl().Run(sql, values, true, nullptr, state_->keep_prepared);
  state_->current = 0;
  state_->eof = state_->result->rows == 0;
}
bool SqlQuery::IsEmpty() const { return !state_->result || state_->result->rows == 0; }
void SqlQuery::First() {
  state_->current = 0;
  state_->eof = IsEmpty();
}
void SqlQuery::Next() {
  if (!state_->result || state_->eof) return;
  if (state_->current + 1 < state_->result->rows) {
    ++state_->current;
  } else {
    state_->eof = true;  // the last row stays current
  }
}
bool SqlQuery::Eof() const { return state_->eof; }
std::size_t SqlQuery::RowCount() const { return state_->result ? state_->result->rows : 0; }
void SqlQuery::Close() {
  state_->result.reset();
  state_->current = 0;
  state_->eof = true;
}

std::string SqlQuery::FieldAsString(std::string_view column) const {
  const Cell* c = state_->CurrentCell(column);
  if (!c) return {};
  switch (c->kind) {
    case CellKind::kNull:
      return {};
    case CellKind::kText:
      return std::string(state_->result->Text(*c));
    case CellKind::kInteger:
      return std::to_string(c->v.integer);
    case CellKind::kFloat:
      return FormatFloat(c->v.real);
    case CellKind::kDate: {
      const double day = std::floor(c->v.real);
      return util::FormatarDataHora(c->v.real == day ? "dd/mm/yyyy" : "dd/mm/yyyy tt", c->v.real);
    }
  }
  return {};
}

std::int32_t SqlQuery::FieldAsInteger(std::string_view column) const {
  const Cell* c = state_->CurrentCell(column);
  if (!c) return 0;
  auto checked = [&](long double v) -> std::int32_t {
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
      throw SqlError("Value of field '" + std::string(column) + "' is out of range");
    return static_cast<std::int32_t>(v);
  };
  switch (c->kind) {
    case CellKind::kNull:
      return 0;
    case CellKind::kInteger:
      return checked(static_cast<long double>(c->v.integer));
    case CellKind::kFloat:
      return checked(std::llround(c->v.real));
    case CellKind::kText: {
      const std::string text = util::TrimControl(state_->result->Text(*c));
      std::size_t pos = 0;
      long long v = 0;
      try {
        v = std::stoll(text, &pos, 10);
      } catch (const std::exception&) {
        pos = std::string::npos;
      }
      if (text.empty() || pos != text.size())
        throw SqlError("'" + std::string(state_->result->Text(*c)) +
                       "' is not a valid integer value");
      return checked(static_cast<long double>(v));
    }
    case CellKind::kDate:
      break;
  }
  throw SqlError("Cannot access field '" + std::string(column) + "' as type Integer");
}

util::TDateTime SqlQuery::FieldAsDateTime(std::string_view column) const {
  const Cell* c = state_->CurrentCell(column);
  if (!c) return 0;
  switch (c->kind) {
    case CellKind::kNull:
      return 0;
    case CellKind::kDate:
    case CellKind::kFloat:
      return c->v.real;
    case CellKind::kInteger:
      return static_cast<util::TDateTime>(c->v.integer);
    case CellKind::kText:
      break;
  }
  throw SqlError("Cannot access field '" + std::string(column) + "' as type DateTime");
}

void SqlQuery::ExecSQL() {
  Close();
  auto [sql, values] = state_->Prepared();
  connection_.impl().Run(sql, values, false, nullptr, state_->keep_prepared);
}

void SqlQuery::ExecBatch(const std::vector<std::vector<std::string>>& rows) {
  Close();
  const std::string joined = state_->JoinedSql();
  if (util::TrimControl(joined).empty()) throw SqlError("The SQL statement is empty");
  PositionalSql p = ToPositional(joined);
  for (const auto& r : rows)
    if (r.size() != p.names.size())
      throw SqlError("A batch row has " + std::to_string(r.size()) + " values for " +
                     std::to_string(p.names.size()) + " parameters");
  if (rows.empty()) return;
  connection_.impl().Run(p.text, {}, false, &rows);
}

std::size_t AbandonedConnections() { return GraveyardSize(); }

}  // namespace orv::data
