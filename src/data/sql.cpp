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

#include "data/bound_values.h"
#include "data/connect_settings.h"
#include "data/data_limits.h"
#include "data/lost_connections.h"
#include "data/result_set.h"
#include "data/sql_text.h"
#include "util/regional.h"
#include "util/text.h"

// The session of each SqlConnection (opened on first use, its transactions, a lost connection
// replaced), the statements it keeps prepared, and SqlQuery. What needs no session lives
// beside it: connect strings and transaction parameters (connect_settings), result sets
// (result_set), bound values (bound_values), sessions set aside (lost_connections).

namespace orv::data {

namespace {

// An attachment made just before a session's own, to a database the engine runs in this
// process, so that the engine opens the database with kEmbeddedEngineConfig when no other
// attachment of this process holds it yet; ended once the session's attachment is made, which
// then keeps the database open with those settings. Any failure here is left to the session's
// own attach to report.
class EngineOpener {
 public:
  explicit EngineOpener(const Settings& s) {
    const std::optional<EngineOpening> opening = BuildEngineOpening(s);
    if (!opening) return;
    ISC_STATUS_ARRAY status;
    if (isc_attach_database(status, 0, opening->database.c_str(), &db_,
                            static_cast<short>(opening->parameters.size()),
                            opening->parameters.data()) != 0)
      db_ = 0;
  }
  ~EngineOpener() {
    if (!db_) return;
    ISC_STATUS_ARRAY status;
    isc_detach_database(status, &db_);
  }
  EngineOpener(const EngineOpener&) = delete;
  EngineOpener& operator=(const EngineOpener&) = delete;

 private:
  isc_db_handle db_ = 0;
};

}  // namespace

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
                                 bool keep_prepared = false, bool read_only = false) {
    std::lock_guard lock(session_mutex_);
    for (int attempt = 1;; ++attempt) {
      const bool was_open = session_ != nullptr;
      OpenLocked();
      bool executed = false;
      try {
        read_only_ = read_only && !batch;
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
    const std::string tpb_read = firebird_ ? BuildTransactionParameters(s, true) : std::string();
    const std::vector<std::string> setup = BuildSetupStatements(s);
    query_timeout_ = QueryTimeoutOf(s);
    try {
      if (firebird_) {
        const EngineOpener opener(s);
        session_ = std::make_unique<soci::session>(*soci::factory_firebird(), connect);
        // The client layer starts a transaction with the client's defaults (snapshot, wait for
        // ever) whenever a statement finds none; ours is started into the same handle first.
        // Asking for the handle starts one of those: it is ended at once, having done nothing.
        auto* be = static_cast<soci::firebird_session_backend*>(session_->get_backend());
        transaction_ = be->current_transaction();
        session_->commit();
        tpb_ = tpb;
        tpb_read_ = tpb_read;
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
  // parameters, unless one is open already; read-only for a statement that only reads
  // (SqlQuery::SetReadOnly), which the engine starts and commits at less cost. A server that
  // does not know the lock time-out (Interbase) refuses the block; the statement then waits as
  // the server's own rules say.
  void BeginTransaction() {
    if (!firebird_ || !transaction_ || *transaction_ != 0) return;
    auto* be = static_cast<soci::firebird_session_backend*>(session_->get_backend());
    ISC_STATUS_ARRAY status;
    const auto start = [&] {
      std::string& tpb = read_only_ ? tpb_read_ : tpb_;
      return isc_start_transaction(status, transaction_, 1, &be->dbhp_,
                                   static_cast<unsigned short>(tpb.size()), tpb.data()) == 0;
    };
    if (start()) return;
    const std::size_t lock_item = tpb_.find(static_cast<char>(isc_tpb_lock_timeout));
    if (lock_item != std::string::npos && lock_item >= 4) {
      tpb_.resize(lock_item);   // both blocks are laid out alike
      tpb_read_.resize(lock_item);
      if (start()) return;
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
    std::unique_ptr<soci::statement> st;
    BoundStorage values;   // what the statement is bound to
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
    std::unique_ptr<soci::statement> st = std::move(it->st);
    bool cleaned = true;
    if (st) {
      try {
        st->clean_up();
      } catch (...) {
        cleaned = false;
      }
      if (!cleaned) Abandon(std::move(st));
    }
    if (cleaned) kept_.erase(it);
    else kept_storage_graveyard_.splice(kept_storage_graveyard_.end(), kept_, it);
  }

  // The session is going away without a word to the server: its statements go with it. The
  // entries' storage is kept with them, as the statements still refer to it.
  void AbandonKept() {
    for (auto& k : kept_) Abandon(std::move(k.st));
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
      kept_.front().values.Rewrite(values, true);
    } else {
      kept_.emplace_front();
      KeptStatement& k = kept_.front();
      k.key = key;
      k.prepared_at = now;
      BeginTransaction();
      k.st = std::make_unique<soci::statement>(*session_);
      try {
        k.values.Bind(*k.st, values, true);
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
      if (want_rows) ReadRows(*result, *k.st, k.row, got, firebird_);
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
    BoundStorage bound;
    std::vector<std::vector<std::string>> columns;
    soci::row row;

    BeginTransaction();
    auto st = std::make_unique<soci::statement>(*session_);
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
        bound.Bind(*st, values, firebird_);
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
        if (want_rows) ReadRows(*result, *st, row, got, firebird_);
      }
      st->clean_up();
    } catch (...) {
      bool cleaned = false;
      try {
        st->clean_up();
        cleaned = true;
      } catch (...) {
      }
      // One that cannot be cleaned up has lost its connection; EndAfterError abandons the
      // session too.
      if (!cleaned) Abandon(std::move(st));
      throw;
    }
    st.reset();
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
  std::string tpb_read_;                   // the same, read-only
  bool read_only_ = false;                 // the statement under way only reads
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
std::string SqlConnection::EngineParameters() const {
  const std::optional<EngineOpening> opening = BuildEngineOpening(impl_->GetSettings());
  return opening ? opening->parameters : std::string();
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
  bool read_only = false;

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
void SqlQuery::SetReadOnly(bool on) { state_->read_only = on; }

void SqlQuery::Open() {
  if (state_->result) return;  // opening an open result does nothing
  auto [sql, values] = state_->Prepared();
  state_->result = connection_.impl().Run(sql, values, true, nullptr, state_->keep_prepared,
                                          state_->read_only);
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
  connection_.impl().Run(sql, values, false, nullptr, state_->keep_prepared, state_->read_only);
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
