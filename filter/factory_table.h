// The classes this module serves, each with its creation function and its registration data;
// the class factory, the module's exports and registration all read this one table.
#pragma once

#include "framework/combase.h"
#include "platform/dshow/filter_mapper.h"

// A filter's record for the filter mapper.
struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  const WCHAR* strName;
  DWORD dwMerit;
  UINT nPins;
  const REGFILTERPINS* lpPin;
};

using LPFNNewCOMObject = CUnknown* (*)(IUnknown* outer, HRESULT* status);
using LPFNInitRoutine = void (*)(BOOL loading, const CLSID* clsid);

struct CFactoryTemplate {
  const WCHAR* m_Name;
  const CLSID* m_ClsID;
  LPFNNewCOMObject m_lpfnNew;
  LPFNInitRoutine m_lpfnInit;  // optional: called at module attach (true) and detach (false)
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;  // optional
};

extern const CFactoryTemplate g_Templates[];
extern const int g_cTemplates;

// The muxer's record: merit MERIT_DO_NOT_USE, two pins "Input" that take any type.
extern const AMOVIESETUP_FILTER g_VelderMuxerSetup;
