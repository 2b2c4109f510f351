// The registry calls: typed values, names without letter case, sizes, enumeration, deletion and
// handle rules, transactions, and writes from several processes at once.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "tests/registry/temp_machine_root.h"

namespace {

constexpr LONG kOk = ERROR_SUCCESS;

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

// Reads a value whole; the type comes back through `type`.
LONG Query(HKEY key, const char* name, DWORD* type, std::vector<BYTE>* data) {
  DWORD size = 0;
  LONG rc = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
  if (rc != kOk) return rc;
  data->assign(size, 0);
  return RegQueryValueExA(key, name, nullptr, type, data->data(), &size);
}

std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    LONG rc = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(rc, kOk);
    if (rc != kOk) break;
    EXPECT_EQ(length, strlen(name));
    names.push_back(name);
  }
  return names;
}

using Registry = TempMachineRoot;

TEST_F(Registry, ValuesKeepTheirTypeAndBytes) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}", &key), kOk);
  const DWORD merit = 0x200000;
  struct Case {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {"", REG_SZ, Bytes(std::string("Halvorn ASF Muxer", 18))},
      {"Merit", REG_DWORD, std::vector<BYTE>(reinterpret_cast<const BYTE*>(&merit), reinterpret_cast<const BYTE*>(&merit) + 4)},
      {"FilterData", REG_BINARY, {0x02, 0x00, 0x00, 0xFF, 0x00}},
      {"Path", REG_EXPAND_SZ, Bytes(std::string("%SystemRoot%\\x", 15))},
      {"Empty", REG_BINARY, {}},
      {"Unterminated", REG_SZ, Bytes("abc")},
  };
  for (const Case& c : cases)
    ASSERT_EQ(RegSetValueExA(key, c.name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())), kOk) << c.name;
  for (const Case& c : cases) {
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(Query(key, c.name, &type, &data), kOk) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(data, c.data) << c.name;
  }
  // A null name is the default value too; a value set again takes the new type.
  DWORD type = 0;
  std::vector<BYTE> data;
  ASSERT_EQ(Query(key, nullptr, &type, &data), kOk);
  EXPECT_EQ(type, REG_SZ);
  ASSERT_EQ(RegSetValueExA(key, "Merit", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), kOk);
  ASSERT_EQ(Query(key, "Merit", &type, &data), kOk);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(RegCloseKey(key), kOk);
}

TEST_F(Registry, NamesIgnoreLetterCaseAndKeepTheirSpelling) {
  HKEY key;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velder", 0,
                            nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, &disposition),
            kOk);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  ASSERT_EQ(RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>("Velder"), 7), kOk);
  RegCloseKey(key);

  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\MICROSOFT\\windows\\currentversion\\uninstall\\VELDER", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            kOk);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  DWORD type;
  std::vector<BYTE> data;
  ASSERT_EQ(Query(key, "displayNAME", &type, &data), kOk);
  EXPECT_STREQ(reinterpret_cast<const char*>(data.data()), "Velder");
  // Setting under another spelling replaces the value; the first spelling stays.
  ASSERT_EQ(RegSetValueExA(key, "DISPLAYNAME", 0, REG_SZ, reinterpret_cast<const BYTE*>("New"), 4), kOk);
  char name[64];
  DWORD nameLength = sizeof name;
  DWORD size = sizeof name;
  BYTE value[64];
  ASSERT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, &type, value, &size), kOk);
  EXPECT_STREQ(name, "DisplayName");
  EXPECT_STREQ(reinterpret_cast<const char*>(value), "New");
  EXPECT_EQ(RegEnumValueA(key, 1, name, &nameLength, nullptr, &type, value, &size), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);

  HKEY uninstall;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0, KEY_READ,
                          &uninstall),
            kOk);
  EXPECT_EQ(SubkeyNames(uninstall), std::vector<std::string>{"Velder"});
  RegCloseKey(uninstall);
  // The hives are separate.
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "SOFTWARE", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, SizesAndMissingEntriesAreReportedAsThePlatformDoes) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Sizes", &key), kOk);
  ASSERT_EQ(RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("0123456789"), 11), kOk);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, nullptr, &size), kOk);
  EXPECT_EQ(size, 11u);
  // Too small: the size needed and the type come back, the buffer is left alone.
  BYTE small[4] = {'z', 'z', 'z', 'z'};
  size = sizeof small;
  type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(small[0], 'z');
  // Exactly enough.
  BYTE exact[11];
  size = sizeof exact;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, exact, &size), kOk);
  EXPECT_STREQ(reinterpret_cast<char*>(exact), "0123456789");
  // A buffer without a size is a caller's fault.
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, exact, nullptr), ERROR_INVALID_PARAMETER);

  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, "Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, "TEXT"), kOk);
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);

  HKEY other;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Sizes\\Nothing\\Here", 0, KEY_READ, &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "\\Sizes", 0, KEY_READ, &other), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Sizes\\\\Twice", &other), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, std::string(256, 'k').c_str(), &other), ERROR_INVALID_PARAMETER);

  // Enumeration names that do not fit.
  ASSERT_EQ(RegCreateKeyA(key, "LongerName", &other), kOk);
  RegCloseKey(other);
  char name[10];
  DWORD length = sizeof name;  // room for 9 characters, the name has 10
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  length = 11;
  char fits[11];
  EXPECT_EQ(RegEnumKeyExA(key, 0, fits, &length, nullptr, nullptr, nullptr, nullptr), kOk);
  EXPECT_EQ(length, 10u);
  RegCloseKey(key);
}

TEST_F(Registry, EnumerationIsInNameOrderWithoutLetterCase) {
  HKEY parent;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Order", &parent), kOk);
  for (const char* name : {"beta", "Alpha", "gamma", "Delta"}) {
    HKEY child;
    ASSERT_EQ(RegCreateKeyA(parent, name, &child), kOk);
    RegCloseKey(child);
  }
  EXPECT_EQ(SubkeyNames(parent), (std::vector<std::string>{"Alpha", "beta", "Delta", "gamma"}));
  RegCloseKey(parent);
}

TEST_F(Registry, DeletionFollowsThePlatformRules) {
  HKEY clsid;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32", &clsid), kOk);
  RegCloseKey(clsid);
  // A key with subkeys is not deleted; its leaf is.
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "clsid\\{x}\\inprocserver32"), kOk);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}"), kOk);
  // Hives stay.
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);

  // A tree goes at once, values included; its parent stays.
  HKEY deep;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Tree\\A\\B\\C", &deep), kOk);
  ASSERT_EQ(RegSetValueExA(deep, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("v"), 2), kOk);
  RegCloseKey(deep);
  EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "Tree\\A"), kOk);
  HKEY tree;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Tree", 0, KEY_READ, &tree), kOk);
  EXPECT_TRUE(SubkeyNames(tree).empty());
  RegCloseKey(tree);
}

TEST_F(Registry, HandlesNameTheirKeyAndCheckTheirAccess) {
  HKEY opened, writer, reader;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Handles", &opened), kOk);
  // Deleted under an open handle (here through another handle): every use reports it, also after
  // a key of the same name is created again.
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Handles"), kOk);
  DWORD size = 0;
  EXPECT_EQ(RegSetValueExA(opened, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("v"), 2), ERROR_KEY_DELETED);
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Handles", &writer), kOk);
  EXPECT_EQ(RegQueryValueExA(opened, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(opened), kOk);
  EXPECT_EQ(RegCloseKey(opened), ERROR_INVALID_HANDLE);
  RegCloseKey(writer);

  // Access rights of the handle.
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Handles", 0, KEY_READ, &reader), kOk);
  EXPECT_EQ(RegSetValueExA(reader, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("v"), 2), ERROR_ACCESS_DENIED);
  HKEY child;
  EXPECT_EQ(RegCreateKeyA(reader, "Child", &child), ERROR_ACCESS_DENIED);
  RegCloseKey(reader);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Handles", 0, nullptr, 0, KEY_WRITE, nullptr, &writer, nullptr), kOk);
  EXPECT_EQ(RegSetValueExA(writer, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("v"), 2), kOk);
  EXPECT_EQ(RegQueryValueExA(writer, "v", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  char name[8];
  DWORD length = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(writer, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  RegCloseKey(writer);

  // A handle from before the database was reopened is no longer one.
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Handles", 0, MAXIMUM_ALLOWED, &reader), kOk);
  RegistryCloseDatabase();
  EXPECT_EQ(RegQueryValueExA(reader, "v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reader), kOk);
}

TEST_F(Registry, DefaultValueCallsCreateTheSubkey) {
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "CLSID\\{Y}\\InprocServer32", REG_SZ, "/system/pelistra.ax", 0), kOk);
  char path[64];
  LONG size = sizeof path;
  ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "clsid\\{y}\\InprocServer32", path, &size), kOk);
  EXPECT_STREQ(path, "/system/pelistra.ax");
  EXPECT_EQ(size, 20);
  // A key without a default value reads as empty text.
  size = sizeof path;
  ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "CLSID\\{Y}", path, &size), kOk);
  EXPECT_STREQ(path, "");
  EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "CLSID\\{Y}", REG_DWORD, "x", 0), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, TransactionTakesEffectWholeOrNotAtAll) {
  auto write = [](const char* path, LONG outcome) {
    return RegistryTransaction([&] {
      HKEY key;
      LONG rc = RegCreateKeyA(HKEY_CLASSES_ROOT, path, &key);
      if (rc != ERROR_SUCCESS) return rc;
      rc = RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("v"), 2);
      RegCloseKey(key);
      // A failing call inside leaves the others in place until the whole is decided.
      EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "NoSuchKey"), ERROR_FILE_NOT_FOUND);
      return rc == ERROR_SUCCESS ? outcome : rc;
    });
  };
  EXPECT_EQ(write("Kept\\Key", ERROR_SUCCESS), kOk);
  EXPECT_EQ(write("Dropped\\Key", ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND);
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Kept\\Key", 0, KEY_READ, &key), kOk);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Dropped", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

// Registration processes that an installer starts without waiting for them write at once.
TEST_F(Registry, EightProcessesWritingAtOnceLoseNothing) {
  constexpr int kProcesses = 8;
  constexpr int kKeys = 150;
  // The parent has the database open already: children must not share its connection.
  HKEY shared;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Shared", &shared), kOk);
  RegCloseKey(shared);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int k = 0; k < kKeys; ++k) {
        std::string path = "CLSID\\{P" + std::to_string(p) + "}\\Key" + std::to_string(k);
        HKEY key;
        if (RegCreateKeyA(HKEY_CLASSES_ROOT, path.c_str(), &key) != ERROR_SUCCESS) { ++failures; continue; }
        DWORD value = static_cast<DWORD>(p * 1000 + k);
        failures += RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) != ERROR_SUCCESS;
        RegCloseKey(key);
        // Every process also writes into one key that all share.
        std::string name = "P" + std::to_string(p) + "K" + std::to_string(k);
        failures += RegSetValueA(HKEY_CLASSES_ROOT, ("Shared\\" + name).c_str(), REG_SZ, name.c_str(), 0) != ERROR_SUCCESS;
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  HKEY sharedKey;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Shared", 0, KEY_READ, &sharedKey), kOk);
  EXPECT_EQ(SubkeyNames(sharedKey).size(), static_cast<size_t>(kProcesses * kKeys));
  RegCloseKey(sharedKey);
  for (int p = 0; p < kProcesses; ++p) {
    for (int k = 0; k < kKeys; ++k) {
      std::string path = "CLSID\\{P" + std::to_string(p) + "}\\Key" + std::to_string(k);
      HKEY key;
      ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key), kOk) << path;
      DWORD value = 0, size = 4, type = 0;
      EXPECT_EQ(RegQueryValueExA(key, "n", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), kOk);
      EXPECT_EQ(type, REG_DWORD);
      EXPECT_EQ(value, static_cast<DWORD>(p * 1000 + k));
      RegCloseKey(key);
    }
  }
}

}  // namespace
