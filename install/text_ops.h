// The installer's string operations on single-byte text, in the "C" locale.
#pragma once

#include <string>

void TrimLeft(std::string& text);
void TrimRight(std::string& text);
void ToLower(std::string& text);
// Deletes or replaces every occurrence, searching again from the start after each replacement.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to);
