// Type libraries as this platform keeps them: a small text file ("control.tlb" in the system
// directory) describing dispatch interfaces member by member, read into ITypeLib/ITypeInfo
// objects whose Invoke calls the described vtable slots.
//
// File format, one item per line, words separated by blanks, '#' starts a comment line:
//   PELISTRA-TYPELIB 1
//   library {LIBID} MAJOR MINOR NAME
//   interface {IID} NAME SLOTS            (SLOTS: entries in the vtable, IUnknown's included)
//   member NAME DISPID KIND SLOT [in:TYPE:PARAM] [retval:TYPE:PARAM]
// KIND is method, propget or propput; TYPE is I4, R8 or BSTR; DISPID is decimal or 0x-hex.
// Members belong to the interface above them.
#pragma once

#include <string_view>

#include "platform/com/automation.h"

// Builds a library from file text; TYPE_E_UNSUPFORMAT for anything malformed.
HRESULT ParseTypeLibrary(std::string_view text, ITypeLib** library);

// The text of the platform's "control.tlb": IMediaPosition's description.
std::string_view ControlTypeLibraryText();
