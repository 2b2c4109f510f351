#include "platform/dshow/filter_mapper_store.h"

#include <strings.h>

#include <cstdio>

#include "platform/registry/registry.h"
#include "platform/win/guid.h"

namespace mapper_store {
namespace {

constexpr LONG kOk = static_cast<LONG>(ERROR_SUCCESS);
constexpr LONG kNotFound = static_cast<LONG>(ERROR_FILE_NOT_FOUND);

class Key {
 public:
  Key() = default;
  ~Key() {
    if (handle_) RegCloseKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  LONG Create(HKEY parent, const std::string& path) { return RegCreateKeyA(parent, path.c_str(), &handle_); }
  LONG Open(HKEY parent, const std::string& path) {
    return RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ | KEY_WRITE, &handle_);
  }
  LONG OpenForReading(HKEY parent, const std::string& path) {
    return RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &handle_);
  }
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
};

LONG SetString(HKEY key, const char* name, const std::string& value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}
LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG GetString(HKEY key, const char* name, std::string* out) {
  DWORD type = 0, size = 0;
  LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (rc != kOk) return rc;
  std::string text(size, '\0');
  rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
  if (rc != kOk) return rc;
  if (type != REG_SZ) return static_cast<LONG>(ERROR_BADDB);
  text.resize(size);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  *out = std::move(text);
  return kOk;
}
DWORD GetDword(HKEY key, const char* name) {
  DWORD value = 0, size = sizeof value, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != kOk || type != REG_DWORD)
    return 0;
  return value;
}
GUID GetGuid(HKEY key, const char* name) {
  std::string text;
  if (GetString(key, name, &text) != kOk) return GUID_NULL;
  return GuidFromString(text).value_or(GUID_NULL);
}

LONG Subkeys(HKEY key, std::vector<std::string>* out) {
  out->clear();
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    LONG rc = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == static_cast<LONG>(ERROR_NO_MORE_ITEMS)) return kOk;
    if (rc != kOk) return rc;
    out->emplace_back(name, length);
  }
}

// The subkey name after the highest numbered one ("0000", "0001"...).
LONG NextNumber(HKEY key, std::string* out) {
  std::vector<std::string> names;
  LONG rc = Subkeys(key, &names);
  if (rc != kOk) return rc;
  unsigned next = 0;
  for (const std::string& name : names) {
    unsigned number = 0;
    if (std::sscanf(name.c_str(), "%u", &number) == 1 && number >= next) next = number + 1;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%04u", next);
  *out = text;
  return kOk;
}

LONG WriteTypes(HKEY pinKey, const std::vector<MapperPinType>& types) {
  for (size_t i = 0; i < types.size(); ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "Types\\%04zu", i);
    Key type;
    LONG rc = type.Create(pinKey, name);
    if (rc == kOk) rc = SetString(type.get(), "MajorType", GuidToString(types[i].major));
    if (rc == kOk) rc = SetString(type.get(), "SubType", GuidToString(types[i].subtype));
    if (rc != kOk) return rc;
  }
  return kOk;
}

LONG WritePinValues(HKEY pinKey, const MapperPin& pin) {
  LONG rc = SetString(pinKey, "Name", pin.name);
  if (rc == kOk) rc = SetDword(pinKey, "Rendered", pin.rendered);
  if (rc == kOk) rc = SetDword(pinKey, "Output", pin.output);
  if (rc == kOk) rc = SetDword(pinKey, "Zero", pin.zero);
  if (rc == kOk) rc = SetDword(pinKey, "Many", pin.many);
  if (rc == kOk) rc = SetString(pinKey, "ConnectsToFilter", GuidToString(pin.connectsToFilter));
  if (rc == kOk) rc = SetString(pinKey, "ConnectsToPin", pin.connectsToPin);
  if (rc == kOk) rc = WriteTypes(pinKey, pin.types);
  return rc;
}

LONG WriteHeader(HKEY instanceKey, REFCLSID clsid, const std::string& name, DWORD merit) {
  LONG rc = SetString(instanceKey, "FriendlyName", name);
  if (rc == kOk) rc = SetString(instanceKey, "CLSID", GuidToString(clsid));
  if (rc == kOk) rc = SetDword(instanceKey, "Merit", merit);
  return rc;
}

// The numbered subkey of the pin with that name, letter case ignored, and the name as stored.
LONG FindPin(HKEY instanceKey, const std::string& pinName, std::string* subkey, std::string* storedName = nullptr) {
  Key pins;
  LONG rc = pins.Open(instanceKey, "Pins");
  if (rc != kOk) return rc;
  std::vector<std::string> numbers;
  if ((rc = Subkeys(pins.get(), &numbers)) != kOk) return rc;
  for (const std::string& number : numbers) {
    Key pin;
    std::string name;
    if (pin.Open(pins.get(), number) == kOk && GetString(pin.get(), "Name", &name) == kOk &&
        strcasecmp(name.c_str(), pinName.c_str()) == 0) {
      *subkey = "Pins\\" + number;
      if (storedName) *storedName = name;
      return kOk;
    }
  }
  return kNotFound;
}

LONG ReadPin(HKEY pinKey, MapperPin* pin) {
  GetString(pinKey, "Name", &pin->name);
  pin->rendered = GetDword(pinKey, "Rendered") != 0;
  pin->output = GetDword(pinKey, "Output") != 0;
  pin->zero = GetDword(pinKey, "Zero") != 0;
  pin->many = GetDword(pinKey, "Many") != 0;
  pin->connectsToFilter = GetGuid(pinKey, "ConnectsToFilter");
  GetString(pinKey, "ConnectsToPin", &pin->connectsToPin);
  Key types;
  if (types.Open(pinKey, "Types") != kOk) return kOk;
  std::vector<std::string> numbers;
  LONG rc = Subkeys(types.get(), &numbers);
  for (const std::string& number : numbers) {
    Key type;
    if (type.Open(types.get(), number) != kOk) continue;
    pin->types.push_back({GetGuid(type.get(), "MajorType"), GetGuid(type.get(), "SubType")});
  }
  return rc;
}

// Runs `body(filterKey)` on a registered instance's key, in one transaction so that other
// processes see the pin change whole.
template <class Body>
LONG ChangeInstance(REFCLSID category, const std::string& instance, Body&& body) {
  std::string path = InstanceKeyPath(category, instance);
  return RegistryTransaction([&] {
    Key filter;
    LONG rc = filter.Open(HKEY_CLASSES_ROOT, path);
    if (rc != kOk) return rc;
    return body(filter.get());
  });
}

}  // namespace

std::string InstanceKeyPath(REFCLSID category, const std::string& instance) {
  return "CLSID\\" + GuidToString(category) + "\\Instance\\" + instance;
}

LONG WriteFilter(REFCLSID category, const std::string& instance, const MapperFilter& filter) {
  std::string path = InstanceKeyPath(category, instance);
  return RegistryTransaction([&] {
    LONG rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
    if (rc != kOk && rc != kNotFound) return rc;
    Key key;
    if ((rc = key.Create(HKEY_CLASSES_ROOT, path)) != kOk) return rc;
    if ((rc = WriteHeader(key.get(), filter.clsid, filter.name, filter.merit)) != kOk) return rc;
    // Pins are numbered, not named: a filter may register several pins of one name.
    for (size_t i = 0; i < filter.pins.size(); ++i) {
      char name[48];
      std::snprintf(name, sizeof name, "Pins\\%04zu", i);
      Key pin;
      if ((rc = pin.Create(key.get(), name)) != kOk) return rc;
      if ((rc = WritePinValues(pin.get(), filter.pins[i])) != kOk) return rc;
    }
    return kOk;
  });
}

LONG WriteFilterHeader(REFCLSID category, const std::string& instance, REFCLSID clsid, const std::string& name,
                       DWORD merit) {
  std::string path = InstanceKeyPath(category, instance);
  return RegistryTransaction([&] {
    Key key;
    LONG rc = key.Create(HKEY_CLASSES_ROOT, path);
    if (rc == kOk) rc = WriteHeader(key.get(), clsid, name, merit);
    return rc;
  });
}

LONG WritePin(REFCLSID category, const std::string& instance, const MapperPin& pin) {
  return ChangeInstance(category, instance, [&](HKEY filter) {
    std::string subkey;
    MapperPin redefined = pin;
    // Redefined under another letter case, the pin keeps its first spelling, as a key name does.
    LONG rc = FindPin(filter, pin.name, &subkey, &redefined.name);
    if (rc == kOk) {
      if ((rc = RegDeleteTreeA(filter, subkey.c_str())) != kOk) return rc;
    } else {
      Key pins;
      if ((rc = pins.Create(filter, "Pins")) != kOk) return rc;
      std::string number;
      if ((rc = NextNumber(pins.get(), &number)) != kOk) return rc;
      subkey = "Pins\\" + number;
    }
    Key pinKey;
    if ((rc = pinKey.Create(filter, subkey)) != kOk) return rc;
    return WritePinValues(pinKey.get(), redefined);
  });
}

LONG AddPinType(REFCLSID category, const std::string& instance, const std::string& pinName, const MapperPinType& type) {
  return ChangeInstance(category, instance, [&](HKEY filter) {
    std::string subkey;
    LONG rc = FindPin(filter, pinName, &subkey);
    if (rc != kOk) return rc;
    Key pinKey;
    if ((rc = pinKey.Open(filter, subkey)) != kOk) return rc;
    MapperPin pin;
    ReadPin(pinKey.get(), &pin);
    for (const MapperPinType& known : pin.types)
      if (known.major == type.major && known.subtype == type.subtype) return kOk;
    pin.types.push_back(type);
    return WriteTypes(pinKey.get(), pin.types);
  });
}

LONG RemovePin(REFCLSID category, const std::string& instance, const std::string& pinName) {
  return ChangeInstance(category, instance, [&](HKEY filter) {
    std::string subkey;
    LONG rc = FindPin(filter, pinName, &subkey);
    if (rc != kOk) return rc;
    return RegDeleteTreeA(filter, subkey.c_str());
  });
}

LONG RemoveInstance(REFCLSID category, const std::string& instance) {
  return RegDeleteTreeA(HKEY_CLASSES_ROOT, InstanceKeyPath(category, instance).c_str());
}

LONG ReadFilter(REFCLSID category, const std::string& instance, MapperFilter* out) {
  Key filter;
  LONG rc = filter.OpenForReading(HKEY_CLASSES_ROOT, InstanceKeyPath(category, instance));
  if (rc != kOk) return rc;
  MapperFilter result;
  result.category = category;
  result.instance = instance;
  GetString(filter.get(), "FriendlyName", &result.name);
  result.clsid = GetGuid(filter.get(), "CLSID");
  result.merit = GetDword(filter.get(), "Merit");
  Key pins;
  if (pins.Open(filter.get(), "Pins") == kOk) {
    std::vector<std::string> numbers;
    if ((rc = Subkeys(pins.get(), &numbers)) != kOk) return rc;
    for (const std::string& number : numbers) {
      Key pinKey;
      if (pinKey.Open(pins.get(), number) != kOk) continue;
      MapperPin pin;
      ReadPin(pinKey.get(), &pin);
      result.pins.push_back(std::move(pin));
    }
  }
  *out = std::move(result);
  return kOk;
}

LONG ListInstances(REFCLSID category, std::vector<std::string>* out) {
  out->clear();
  Key instances;
  LONG rc = instances.OpenForReading(HKEY_CLASSES_ROOT, "CLSID\\" + GuidToString(category) + "\\Instance");
  if (rc == kNotFound) return kOk;
  if (rc != kOk) return rc;
  return Subkeys(instances.get(), out);
}

}  // namespace mapper_store
