#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win/types.h"

inline std::vector<BYTE> ReadFixture(const std::string& name) {
  std::ifstream file(std::string(PELISTRA_SOURCE_DIR) + "/tests/fixtures/" + name, std::ios::binary);
  return std::vector<BYTE>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

inline std::vector<BYTE> FromHex(const std::string& hex) {
  std::vector<BYTE> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    if (hex[i] == ' ') {
      --i;
      continue;
    }
    bytes.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}
