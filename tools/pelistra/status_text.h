// A status in the words a person reads: "disk full (error 0x80070070)". The code is only a suffix,
// for a report; the words say what happened.
#pragma once

#include <string>

#include "platform/win/status.h"

// The words alone: "disk full", "permission denied"... A code without words of its own is named
// by its kind ("system error 1234", "failure"), never by a bare number.
std::string StatusWords(HRESULT status);
// The words with the code after them.
std::string StatusText(HRESULT status);
