// Test seam: replaces how WMCreateWriter and WMCreateProfileManager make their objects, so a
// test can wrap the real writer (to watch or fail its calls) or make creation fail. Null restores
// the runtime's own objects.
#pragma once

#include "platform/wmf/wmsdk.h"

using WriterFactory = HRESULT (*)(IUnknown* certificate, IWMWriter** writer);
using ProfileManagerFactory = HRESULT (*)(IWMProfileManager** manager);
void SetWriterFactory(WriterFactory factory);
void SetProfileManagerFactory(ProfileManagerFactory factory);

// The runtime's own objects, for a seam that wraps them.
HRESULT CreateRuntimeWriter(IUnknown* certificate, IWMWriter** writer);
HRESULT CreateRuntimeProfileManager(IWMProfileManager** manager);
