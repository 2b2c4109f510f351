#include "platform/registry/registry_store.h"

#include <unistd.h>

#include <mutex>
#include <thread>

#include "platform/registry/registry.h"
#include "platform/shell/machine_root.h"
#include "platform/win/status.h"

namespace registry_store {
namespace {

// Several processes write at once (an installer and the registration processes it starts); a
// writer waits this long for another's transaction before giving up.
constexpr int kBusyTimeoutMs = 60000;

struct Connection {
  std::recursive_mutex lock;
  sqlite3* db = nullptr;
  std::string path;
  pid_t pid = 0;
  uint64_t generation = 0;
  int depth = 0;  // open calls and RegistryTransaction levels on the thread that holds the lock
};

Connection& TheConnection() {
  static Connection* connection = new Connection;  // never destroyed: calls may come from static destructors
  return *connection;
}

LONG ErrorFromSqlite(int code, bool write) {
  switch (code & 0xFF) {
    case SQLITE_NOMEM: return static_cast<LONG>(ERROR_OUTOFMEMORY);
    case SQLITE_FULL: return static_cast<LONG>(ERROR_DISK_FULL);
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return static_cast<LONG>(ERROR_BUSY);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY: return static_cast<LONG>(ERROR_ACCESS_DENIED);
    default: return static_cast<LONG>(write ? ERROR_CANTWRITE : ERROR_BADDB);
  }
}

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"  // never reused, so a deleted key's handle stays stale
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS key_values("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB,"
    "  PRIMARY KEY(key, name));"
    "INSERT OR IGNORE INTO keys(id, parent, name) VALUES"
    "  (1, 0, 'HKEY_CLASSES_ROOT'), (2, 0, 'HKEY_LOCAL_MACHINE'), (3, 0, 'HKEY_CURRENT_USER');";

// Opens (or reopens) the connection for the current machine root. Called with the lock held.
LONG OpenLocked(Connection& c) {
  std::string path = RegistryDatabasePath();
  pid_t pid = getpid();
  if (c.db && c.path == path && c.pid == pid) return static_cast<LONG>(ERROR_SUCCESS);
  if (c.db) {
    // A connection inherited through fork belongs to the parent: closing it here could disturb
    // the parent's locks, so the child abandons it.
    if (c.pid == pid) sqlite3_close_v2(c.db);
    c.db = nullptr;
  }
  ++c.generation;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return ErrorFromSqlite(rc, true);
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Switching a new database to WAL needs a moment alone with it; a busy answer is retried.
  for (int attempt = 0;; ++attempt) {
    rc = Exec(db, "PRAGMA journal_mode=WAL");
    if (rc != SQLITE_BUSY || attempt == 200) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // NORMAL keeps every committed call across a process crash; only a power cut may lose the last
  // ones, never the database.
  if (rc == SQLITE_OK) rc = Exec(db, "PRAGMA synchronous=NORMAL");
  if (rc == SQLITE_OK) rc = Exec(db, "BEGIN IMMEDIATE");
  if (rc == SQLITE_OK) {
    rc = Exec(db, kSchema);
    rc = rc == SQLITE_OK ? Exec(db, "COMMIT") : (Exec(db, "ROLLBACK"), rc);
  }
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return ErrorFromSqlite(rc, true);
  }
  c.db = db;
  c.path = path;
  c.pid = pid;
  return static_cast<LONG>(ERROR_SUCCESS);
}

}  // namespace

Statement::Statement(sqlite3* db, const char* sql) {
  if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
}
Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, int64_t value) {
  if (stmt_) sqlite3_bind_int64(stmt_, index, value);
  return *this;
}
Statement& Statement::Bind(int index, std::string_view text) {
  // A null pointer would bind SQL NULL; the empty name is the default value.
  if (stmt_) sqlite3_bind_text(stmt_, index, text.data() ? text.data() : "", static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}
Statement& Statement::BindBlob(int index, const void* data, size_t size) {
  if (stmt_) sqlite3_bind_blob(stmt_, index, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
  return *this;
}
int Statement::Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
int64_t Statement::ColumnInt(int column) { return sqlite3_column_int64(stmt_, column); }
std::string Statement::ColumnText(int column) {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  return text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, column)) : std::string();
}
std::vector<BYTE> Statement::ColumnBlob(int column) {
  const BYTE* data = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, column));
  int size = sqlite3_column_bytes(stmt_, column);
  return data ? std::vector<BYTE>(data, data + size) : std::vector<BYTE>();
}

Call::Call(bool write) : write_(write) {
  Connection& c = TheConnection();
  // The root is readied before the lock is taken: its preparers write registry entries
  // themselves. Inside a RegistryTransaction the root was readied when it began.
  bool outer = false;
  {
    std::lock_guard<std::recursive_mutex> peek(c.lock);
    outer = c.depth > 0;
  }
  if (!outer) EnsureMachineRoot();
  c.lock.lock();
  open_ = true;
  if (c.depth > 0) {
    nested_ = true;
    int rc = Exec(c.db, "SAVEPOINT registry_call");
    status_ = rc == SQLITE_OK ? static_cast<LONG>(ERROR_SUCCESS) : ErrorFromSqlite(rc, write);
  } else {
    status_ = OpenLocked(c);
    if (status_ == static_cast<LONG>(ERROR_SUCCESS)) {
      int rc = Exec(c.db, write ? "BEGIN IMMEDIATE" : "BEGIN");
      if (rc != SQLITE_OK) status_ = ErrorFromSqlite(rc, write);
    }
  }
  if (status_ == static_cast<LONG>(ERROR_SUCCESS)) {
    ++c.depth;
  } else {
    if (nested_) Exec(c.db, "RELEASE registry_call");
    open_ = false;
    c.lock.unlock();
  }
}

Call::~Call() {
  if (!open_) return;
  Connection& c = TheConnection();
  if (nested_) {
    Exec(c.db, "ROLLBACK TO registry_call");
    Exec(c.db, "RELEASE registry_call");
  } else {
    Exec(c.db, "ROLLBACK");
  }
  --c.depth;
  c.lock.unlock();
}

sqlite3* Call::db() const { return TheConnection().db; }
uint64_t Call::generation() const { return TheConnection().generation; }
LONG Call::Fail(int sqliteCode) const { return ErrorFromSqlite(sqliteCode, write_); }

LONG Call::Commit() {
  if (!open_) return status_;
  Connection& c = TheConnection();
  int rc = Exec(c.db, nested_ ? "RELEASE registry_call" : "COMMIT");
  if (rc != SQLITE_OK) return ErrorFromSqlite(rc, write_);  // the destructor rolls back
  open_ = false;
  --c.depth;
  c.lock.unlock();
  return static_cast<LONG>(ERROR_SUCCESS);
}

std::optional<int64_t> FindChild(sqlite3* db, int64_t parent, std::string_view name, int* error) {
  Statement s(db, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
  int rc = s.Bind(1, parent).Bind(2, name).Step();
  if (rc == SQLITE_ROW) return s.ColumnInt(0);
  if (rc != SQLITE_DONE) *error = rc;
  return std::nullopt;
}

bool KeyExists(sqlite3* db, int64_t id, int* error) {
  Statement s(db, "SELECT 1 FROM keys WHERE id = ?1");
  int rc = s.Bind(1, id).Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) *error = rc;
  return rc == SQLITE_ROW;
}

}  // namespace registry_store

// RegistryTransaction: the outer level is a write transaction held, with the connection's lock,
// until it ends; the calls inside become savepoints of it.
LONG RegistryBeginTransaction() {
  using namespace registry_store;
  Connection& c = TheConnection();
  bool outer;
  {
    std::lock_guard<std::recursive_mutex> peek(c.lock);
    outer = c.depth > 0;
  }
  if (!outer) EnsureMachineRoot();
  c.lock.lock();
  LONG status = static_cast<LONG>(ERROR_SUCCESS);
  int rc;
  if (c.depth > 0) {
    rc = Exec(c.db, "SAVEPOINT registry_transaction");
  } else {
    status = OpenLocked(c);
    rc = status == static_cast<LONG>(ERROR_SUCCESS) ? Exec(c.db, "BEGIN IMMEDIATE") : SQLITE_OK;
  }
  if (status == static_cast<LONG>(ERROR_SUCCESS) && rc != SQLITE_OK) status = ErrorFromSqlite(rc, true);
  if (status != static_cast<LONG>(ERROR_SUCCESS)) {
    c.lock.unlock();
    return status;
  }
  ++c.depth;
  return status;
}

LONG RegistryEndTransaction(bool commit) {
  using namespace registry_store;
  Connection& c = TheConnection();
  bool nested = c.depth > 1;
  int rc;
  if (nested) {
    if (!commit) Exec(c.db, "ROLLBACK TO registry_transaction");
    rc = Exec(c.db, "RELEASE registry_transaction");
  } else {
    rc = Exec(c.db, commit ? "COMMIT" : "ROLLBACK");
    if (rc != SQLITE_OK) Exec(c.db, "ROLLBACK");
  }
  --c.depth;
  c.lock.unlock();
  return rc == SQLITE_OK ? static_cast<LONG>(ERROR_SUCCESS) : ErrorFromSqlite(rc, true);
}

void RegistryCloseDatabase() {
  using namespace registry_store;
  Connection& c = TheConnection();
  std::lock_guard<std::recursive_mutex> hold(c.lock);
  if (c.depth > 0) return;  // a call of this thread is still using it
  if (c.db && c.pid == getpid()) sqlite3_close_v2(c.db);
  c.db = nullptr;
  c.path.clear();
  ++c.generation;
}
