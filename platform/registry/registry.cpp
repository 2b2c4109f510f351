// The Reg* calls on top of the store: handle checks, key paths, values, enumeration, deletion.
#include "platform/registry/registry.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/com/alloc_fault.h"
#include "platform/registry/registry_store.h"

using registry_store::Call;
using registry_store::Statement;

namespace {

constexpr LONG kOk = static_cast<LONG>(ERROR_SUCCESS);
constexpr LONG Err(DWORD code) { return static_cast<LONG>(code); }

// The platform limits a key name to 255 characters.
constexpr size_t kMaxKeyNameLength = 255;
constexpr REGSAM GENERIC_READ = 0x80000000u;
constexpr REGSAM GENERIC_WRITE = 0x40000000u;
constexpr REGSAM GENERIC_ALL = 0x10000000u;

struct KeyHandle {
  int64_t id;
  REGSAM access;
  uint64_t generation;
};

// Handles are checked against this set before use, so a stale or foreign handle is refused
// instead of being dereferenced.
std::mutex g_handlesLock;
std::unordered_set<const KeyHandle*>& OpenHandles() {
  static auto* handles = new std::unordered_set<const KeyHandle*>;
  return *handles;
}

REGSAM EffectiveAccess(REGSAM access) {
  if (access & (MAXIMUM_ALLOWED | GENERIC_ALL)) return KEY_ALL_ACCESS;
  REGSAM result = access;
  if (access & GENERIC_READ) result |= KEY_READ;
  if (access & GENERIC_WRITE) result |= KEY_WRITE;
  return result;
}

// A key named by handle, resolved within a call.
struct OpenKey {
  int64_t id = 0;
  REGSAM access = 0;
};

LONG Resolve(const Call& call, HKEY key, REGSAM needed, OpenKey* out) {
  if (key == HKEY_CLASSES_ROOT) {
    *out = {registry_store::kClassesRootId, KEY_ALL_ACCESS};
  } else if (key == HKEY_LOCAL_MACHINE) {
    *out = {registry_store::kLocalMachineId, KEY_ALL_ACCESS};
  } else if (key == HKEY_CURRENT_USER) {
    *out = {registry_store::kCurrentUserId, KEY_ALL_ACCESS};
  } else {
    {
      std::lock_guard<std::mutex> hold(g_handlesLock);
      auto* handle = static_cast<const KeyHandle*>(key);
      if (!OpenHandles().count(handle) || handle->generation != call.generation()) return Err(ERROR_INVALID_HANDLE);
      *out = {handle->id, handle->access};
    }
    int error = SQLITE_OK;
    bool exists = registry_store::KeyExists(call.db(), out->id, &error);
    if (error != SQLITE_OK) return call.Fail(error);
    if (!exists) return Err(ERROR_KEY_DELETED);
  }
  if ((out->access & needed) != needed) return Err(ERROR_ACCESS_DENIED);
  return kOk;
}

LONG NewHandle(const Call& call, int64_t id, REGSAM access, PHKEY result) {
  if (!PlatformAllocationAllowed()) return Err(ERROR_NOT_ENOUGH_MEMORY);
  auto* handle = new (std::nothrow) KeyHandle{id, EffectiveAccess(access), call.generation()};
  if (!handle) return Err(ERROR_NOT_ENOUGH_MEMORY);
  std::lock_guard<std::mutex> hold(g_handlesLock);
  OpenHandles().insert(handle);
  *result = handle;
  return kOk;
}

// Splits "a\b\c" into its names. A leading backslash or an empty name inside is a bad path; one
// trailing backslash is allowed.
LONG SplitPath(LPCSTR path, std::vector<std::string>* names) {
  names->clear();
  if (!path || !*path) return kOk;
  std::string_view rest(path);
  if (rest.front() == '\\') return Err(ERROR_BAD_PATHNAME);
  if (rest.back() == '\\') rest.remove_suffix(1);
  while (!rest.empty()) {
    size_t cut = rest.find('\\');
    std::string_view name = rest.substr(0, cut);
    if (name.empty()) return Err(ERROR_BAD_PATHNAME);
    if (name.size() > kMaxKeyNameLength) return Err(ERROR_INVALID_PARAMETER);
    names->emplace_back(name);
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  return kOk;
}

// Walks existing keys; ERROR_FILE_NOT_FOUND at the first missing one.
LONG Walk(const Call& call, int64_t from, const std::vector<std::string>& names, int64_t* id) {
  int64_t at = from;
  for (const std::string& name : names) {
    int error = SQLITE_OK;
    auto child = registry_store::FindChild(call.db(), at, name, &error);
    if (error != SQLITE_OK) return call.Fail(error);
    if (!child) return Err(ERROR_FILE_NOT_FOUND);
    at = *child;
  }
  *id = at;
  return kOk;
}

// Walks and creates what is missing; `created` tells whether the last key is new.
LONG WalkCreating(const Call& call, const OpenKey& from, const std::vector<std::string>& names, int64_t* id,
                  bool* created) {
  int64_t at = from.id;
  *created = false;
  for (const std::string& name : names) {
    int error = SQLITE_OK;
    auto child = registry_store::FindChild(call.db(), at, name, &error);
    if (error != SQLITE_OK) return call.Fail(error);
    if (child) {
      at = *child;
      *created = false;
      continue;
    }
    if (at == from.id && !(from.access & KEY_CREATE_SUB_KEY)) return Err(ERROR_ACCESS_DENIED);
    Statement insert(call.db(), "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
    int rc = insert.Bind(1, at).Bind(2, name).Step();
    if (rc != SQLITE_DONE) return call.Fail(rc);
    at = sqlite3_last_insert_rowid(call.db());
    *created = true;
  }
  *id = at;
  return kOk;
}

std::string_view ValueName(LPCSTR name) { return name ? std::string_view(name) : std::string_view(); }

struct StoredValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

LONG ReadValue(const Call& call, int64_t key, std::string_view name, StoredValue* out) {
  Statement s(call.db(), "SELECT type, data FROM key_values WHERE key = ?1 AND name = ?2");
  int rc = s.Bind(1, key).Bind(2, name).Step();
  if (rc == SQLITE_DONE) return Err(ERROR_FILE_NOT_FOUND);
  if (rc != SQLITE_ROW) return call.Fail(rc);
  out->type = static_cast<DWORD>(s.ColumnInt(0));
  out->data = s.ColumnBlob(1);
  return kOk;
}

LONG WriteValue(const Call& call, int64_t key, std::string_view name, DWORD type, const BYTE* data, DWORD size) {
  // The first writer's spelling of the name is kept, as the platform keeps it.
  Statement s(call.db(),
              "INSERT INTO key_values(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
              "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
  int rc = s.Bind(1, key).Bind(2, name).Bind(3, static_cast<int64_t>(type)).BindBlob(4, data, size).Step();
  return rc == SQLITE_DONE ? kOk : call.Fail(rc);
}

// Copies a stored value out by the platform's rules for a data buffer and its size.
LONG CopyOut(const StoredValue& value, DWORD* type, BYTE* data, DWORD* size) {
  if (type) *type = value.type;
  DWORD needed = static_cast<DWORD>(value.data.size());
  if (!size) return kOk;
  if (data && *size < needed) {
    *size = needed;
    return Err(ERROR_MORE_DATA);
  }
  if (data && needed) std::memcpy(data, value.data.data(), needed);
  *size = needed;
  return kOk;
}

// Copies a name into a character buffer of *length characters (terminator included).
LONG CopyName(const std::string& name, LPSTR out, DWORD* length) {
  if (name.size() + 1 > *length) return Err(ERROR_MORE_DATA);
  std::memcpy(out, name.c_str(), name.size() + 1);
  *length = static_cast<DWORD>(name.size());
  return kOk;
}

LONG DeleteKeyRow(const Call& call, int64_t id) {
  Statement values(call.db(), "DELETE FROM key_values WHERE key = ?1");
  int rc = values.Bind(1, id).Step();
  if (rc != SQLITE_DONE) return call.Fail(rc);
  Statement row(call.db(), "DELETE FROM keys WHERE id = ?1");
  rc = row.Bind(1, id).Step();
  return rc == SQLITE_DONE ? kOk : call.Fail(rc);
}

// Steps an enumeration query (key id as ?1, index as ?2) to its row and copies the row's name
// (column 0) out; ERROR_NO_MORE_ITEMS past the last one.
LONG EnumRow(const Call& call, Statement& s, int64_t key, DWORD index, LPSTR name, DWORD* nameLength) {
  int rc = s.Bind(1, key).Bind(2, static_cast<int64_t>(index)).Step();
  if (rc == SQLITE_DONE) return Err(ERROR_NO_MORE_ITEMS);
  if (rc != SQLITE_ROW) return call.Fail(rc);
  return CopyName(s.ColumnText(0), name, nameLength);
}

bool IsHive(int64_t id) { return id == registry_store::kClassesRootId || id == registry_store::kLocalMachineId ||
                                  id == registry_store::kCurrentUserId; }

// Every call catches what the standard library may throw (an allocation) at the boundary.
template <class Body>
LONG Guarded(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Err(ERROR_NOT_ENOUGH_MEMORY);
  } catch (...) {
    return Err(ERROR_BADDB);
  }
}

// The prologue of every call on a key named by handle: a call opened and the handle resolved with
// `needed` access, all under Guarded. `body(call, at)` does the rest.
template <class Body>
LONG OnKey(bool write, HKEY key, REGSAM needed, Body&& body) {
  return Guarded([&] {
    Call call(write);
    if (call.status() != kOk) return call.status();
    OpenKey at;
    LONG status = Resolve(call, key, needed, &at);
    if (status != kOk) return status;
    return body(call, at);
  });
}

// The same for a key named by handle and subkey path. The path is checked before the call opens,
// so a bad path is refused without touching the store. `neededHere` is asked of the handle only
// when the path is empty and the call works on the handle's own key. `body(call, from, names)`
// walks the path and does the rest.
template <class Body>
LONG OnSubKey(bool write, HKEY key, LPCSTR subKey, REGSAM neededHere, Body&& body) {
  return Guarded([&] {
    std::vector<std::string> names;
    LONG status = SplitPath(subKey, &names);
    if (status != kOk) return status;
    return OnKey(write, key, names.empty() ? neededHere : 0,
                 [&](Call& call, const OpenKey& from) { return body(call, from, names); });
  });
}

}  // namespace

extern "C" LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access,
                                const SECURITY_ATTRIBUTES*, PHKEY result, DWORD* disposition) {
  if (!result) return Err(ERROR_INVALID_PARAMETER);
  return OnSubKey(true, key, subKey, 0, [&](Call& call, const OpenKey& from, const std::vector<std::string>& names) {
    int64_t id;
    bool created;
    LONG status = WalkCreating(call, from, names, &id, &created);
    if (status != kOk) return status;
    HKEY handle;
    if ((status = NewHandle(call, id, access, &handle)) != kOk) return status;
    if ((status = call.Commit()) != kOk) {
      RegCloseKey(handle);
      return status;
    }
    *result = handle;
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return kOk;
  });
}

extern "C" LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  return RegCreateKeyExA(key, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED, nullptr, result, nullptr);
}

extern "C" LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (!result) return Err(ERROR_INVALID_PARAMETER);
  return OnSubKey(false, key, subKey, 0, [&](Call& call, const OpenKey& from, const std::vector<std::string>& names) {
    int64_t id;
    LONG status = Walk(call, from.id, names, &id);
    if (status != kOk) return status;
    return NewHandle(call, id, access, result);
  });
}

extern "C" LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  return RegOpenKeyExA(key, subKey, 0, MAXIMUM_ALLOWED, result);
}

extern "C" LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CLASSES_ROOT || key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) return kOk;
  auto* handle = static_cast<const KeyHandle*>(key);
  {
    std::lock_guard<std::mutex> hold(g_handlesLock);
    if (!OpenHandles().erase(handle)) return Err(ERROR_INVALID_HANDLE);
  }
  delete handle;
  return kOk;
}

extern "C" LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (!data && size) return Err(ERROR_NOACCESS);
  return OnKey(true, key, KEY_SET_VALUE, [&](Call& call, const OpenKey& at) {
    LONG status = WriteValue(call, at.id, ValueName(valueName), type, data, size);
    if (status != kOk) return status;
    return call.Commit();
  });
}

extern "C" LONG RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD) {
  if (type != REG_SZ || !data) return Err(ERROR_INVALID_PARAMETER);
  return OnSubKey(true, key, subKey, KEY_SET_VALUE,
                  [&](Call& call, const OpenKey& from, const std::vector<std::string>& names) {
    int64_t id;
    bool created;
    LONG status = WalkCreating(call, from, names, &id, &created);
    if (status != kOk) return status;
    DWORD size = static_cast<DWORD>(std::strlen(data) + 1);
    if ((status = WriteValue(call, id, "", REG_SZ, reinterpret_cast<const BYTE*>(data), size)) != kOk) return status;
    return call.Commit();
  });
}

extern "C" LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
  if (reserved || (data && !size)) return Err(ERROR_INVALID_PARAMETER);
  return OnKey(false, key, KEY_QUERY_VALUE, [&](Call& call, const OpenKey& at) {
    StoredValue value;
    LONG status = ReadValue(call, at.id, ValueName(valueName), &value);
    if (status != kOk) return status;
    return CopyOut(value, type, data, size);
  });
}

extern "C" LONG RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* size) {
  if (data && !size) return Err(ERROR_INVALID_PARAMETER);
  return OnSubKey(false, key, subKey, KEY_QUERY_VALUE,
                  [&](Call& call, const OpenKey& from, const std::vector<std::string>& names) {
    int64_t id;
    LONG status = Walk(call, from.id, names, &id);
    if (status != kOk) return status;
    StoredValue value;
    status = ReadValue(call, id, "", &value);
    if (status == Err(ERROR_FILE_NOT_FOUND)) value.data.assign(1, 0);
    else if (status != kOk) return status;
    if (!size) return kOk;
    DWORD length = static_cast<DWORD>(*size < 0 ? 0 : *size);
    status = CopyOut(value, nullptr, reinterpret_cast<BYTE*>(data), &length);
    *size = static_cast<LONG>(length);
    return status;
  });
}

extern "C" LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
  return OnKey(true, key, KEY_SET_VALUE, [&](Call& call, const OpenKey& at) {
    Statement s(call.db(), "DELETE FROM key_values WHERE key = ?1 AND name = ?2");
    int rc = s.Bind(1, at.id).Bind(2, ValueName(valueName)).Step();
    if (rc != SQLITE_DONE) return call.Fail(rc);
    if (sqlite3_changes(call.db()) == 0) return Err(ERROR_FILE_NOT_FOUND);
    return call.Commit();
  });
}

extern "C" LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameLength, DWORD* reserved, LPSTR keyClass,
                              DWORD* classLength, FILETIME* lastWriteTime) {
  if (!name || !nameLength || reserved || (keyClass && !classLength)) return Err(ERROR_INVALID_PARAMETER);
  return OnKey(false, key, KEY_ENUMERATE_SUB_KEYS, [&](Call& call, const OpenKey& at) {
    Statement s(call.db(), "SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
    LONG status = EnumRow(call, s, at.id, index, name, nameLength);
    if (status != kOk) return status;
    if (keyClass) {
      if (*classLength == 0) return Err(ERROR_MORE_DATA);
      keyClass[0] = 0;
      *classLength = 0;
    }
    if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
    return kOk;
  });
}

extern "C" LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, DWORD* nameLength, DWORD* reserved, DWORD* type,
                              BYTE* data, DWORD* size) {
  if (!name || !nameLength || reserved || (data && !size)) return Err(ERROR_INVALID_PARAMETER);
  return OnKey(false, key, KEY_QUERY_VALUE, [&](Call& call, const OpenKey& at) {
    Statement s(call.db(), "SELECT name, type, data FROM key_values WHERE key = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
    LONG status = EnumRow(call, s, at.id, index, name, nameLength);
    if (status != kOk) return status;
    StoredValue value{static_cast<DWORD>(s.ColumnInt(1)), s.ColumnBlob(2)};
    return CopyOut(value, type, data, size);
  });
}

extern "C" LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (!subKey) return Err(ERROR_INVALID_PARAMETER);
  return OnSubKey(true, key, subKey, 0, [&](Call& call, const OpenKey& from, const std::vector<std::string>& names) {
    int64_t id;
    LONG status = Walk(call, from.id, names, &id);
    if (status != kOk) return status;
    if (IsHive(id)) return Err(ERROR_ACCESS_DENIED);
    Statement child(call.db(), "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    int rc = child.Bind(1, id).Step();
    if (rc == SQLITE_ROW) return Err(ERROR_ACCESS_DENIED);
    if (rc != SQLITE_DONE) return call.Fail(rc);
    if ((status = DeleteKeyRow(call, id)) != kOk) return status;
    return call.Commit();
  });
}

extern "C" LONG RegDeleteTreeA(HKEY key, LPCSTR subKey) {
  return OnSubKey(true, key, subKey, 0, [&](Call& call, const OpenKey& from, const std::vector<std::string>& names) {
    int64_t id;
    LONG status = Walk(call, from.id, names, &id);
    if (status != kOk) return status;
    bool keepTop = !subKey || IsHive(id);
    const char* tree =
        "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) ";
    std::string values = std::string(tree) + "DELETE FROM key_values WHERE key IN tree";
    std::string keys = std::string(tree) + "DELETE FROM keys WHERE id IN tree AND id <> ?2";
    Statement deleteValues(call.db(), values.c_str());
    int rc = deleteValues.Bind(1, id).Step();
    if (rc != SQLITE_DONE) return call.Fail(rc);
    Statement deleteKeys(call.db(), keys.c_str());
    rc = deleteKeys.Bind(1, id).Bind(2, keepTop ? id : int64_t{-1}).Step();
    if (rc != SQLITE_DONE) return call.Fail(rc);
    return call.Commit();
  });
}
