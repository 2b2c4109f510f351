// The filter mapper's registry layout (described in filter_mapper.h), written and read in UTF-8.
// Each writing operation is one registry transaction. Results are Win32 error codes.
#pragma once

#include <string>

#include "platform/dshow/filter_mapper.h"

namespace mapper_store {

std::string InstanceKeyPath(REFCLSID category, const std::string& instance);

// Replaces the registration of the instance with `filter` whole.
LONG WriteFilter(REFCLSID category, const std::string& instance, const MapperFilter& filter);
// Creates the instance or updates its name and merit, keeping its pins.
LONG WriteFilterHeader(REFCLSID category, const std::string& instance, REFCLSID clsid, const std::string& name,
                       DWORD merit);
// Adds a pin by name to an existing instance, or redefines the pin of that name (letter case
// ignored), dropping its media types.
LONG WritePin(REFCLSID category, const std::string& instance, const MapperPin& pin);
// Adds a media type to a registered pin (once).
LONG AddPinType(REFCLSID category, const std::string& instance, const std::string& pinName, const MapperPinType& type);
LONG RemovePin(REFCLSID category, const std::string& instance, const std::string& pinName);
LONG RemoveInstance(REFCLSID category, const std::string& instance);

LONG ReadFilter(REFCLSID category, const std::string& instance, MapperFilter* out);
LONG ListInstances(REFCLSID category, std::vector<std::string>* out);

}  // namespace mapper_store
