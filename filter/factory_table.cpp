#include "filter/factory_table.h"

#include "filter/velder_muxer.h"

namespace {

const REGPINTYPES kAnyType = {&GUID_NULL, &GUID_NULL};
WCHAR g_InputPinName[] = u"Input";

// Registered as two pins named "Input", not by the live pins' names.
const REGFILTERPINS kMuxerPins[] = {
    {g_InputPinName, FALSE, FALSE, FALSE, FALSE, &GUID_NULL, u"Output", 1, &kAnyType},
    {g_InputPinName, FALSE, FALSE, FALSE, FALSE, &GUID_NULL, u"Output", 1, &kAnyType},
};

}  // namespace

const AMOVIESETUP_FILTER g_VelderMuxerSetup = {&CLSID_VelderMuxer, u"Halvorn ASF Muxer", MERIT_DO_NOT_USE, 2,
                                               kMuxerPins};

const CFactoryTemplate g_Templates[] = {
    {u"Halvorn ASF Muxer", &CLSID_VelderMuxer, CVelderMuxer::CreateInstance, nullptr, &g_VelderMuxerSetup},
};
const int g_cTemplates = sizeof g_Templates / sizeof g_Templates[0];
