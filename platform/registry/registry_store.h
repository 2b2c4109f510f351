// The registry's storage: one SQLite connection per process, locked for each call, with the keys
// and values tables. Only the Reg* calls use it.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/types.h"

namespace registry_store {

inline constexpr int64_t kClassesRootId = 1;
inline constexpr int64_t kLocalMachineId = 2;
inline constexpr int64_t kCurrentUserId = 3;

// A prepared statement, finalised on scope exit.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, const void* data, size_t size);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  int64_t ColumnInt(int column);
  std::string ColumnText(int column);
  std::vector<BYTE> ColumnBlob(int column);

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// One registry call: holds the process's connection locked and inside a transaction (or a
// savepoint of the caller's RegistryTransaction) until it is committed or dropped.
class Call {
 public:
  explicit Call(bool write);
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  // ERROR_SUCCESS when the connection is open and the transaction begun.
  LONG status() const { return status_; }
  sqlite3* db() const;
  // Changes each time the connection is opened anew (another root, another process after fork);
  // handles remember the one they were opened under.
  uint64_t generation() const;
  // Win32 error for an SQLite failure while reading or writing.
  LONG Fail(int sqliteCode) const;
  LONG Commit();

 private:
  LONG status_;
  bool open_ = false;
  bool nested_ = false;
  bool write_;
};

// Key row lookups, used within a Call.
std::optional<int64_t> FindChild(sqlite3* db, int64_t parent, std::string_view name, int* error);
bool KeyExists(sqlite3* db, int64_t id, int* error);

}  // namespace registry_store
