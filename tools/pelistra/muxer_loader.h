// Creates the muxer filter: through class activation when it is registered, else from the
// module file beside this program (or one named), so a fresh build records with nothing
// installed.
#pragma once

#include <string>

#include "platform/dshow/filters.h"

// `modulePath` empty: CoCreateInstance first, then pelistra.ax beside the program. Otherwise that
// module alone. On failure *error says what was tried.
HRESULT CreateMuxer(const std::string& modulePath, IBaseFilter** muxer, std::string* error);
