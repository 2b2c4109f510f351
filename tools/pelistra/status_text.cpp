#include "tools/pelistra/status_text.h"

#include <cstdio>

#include "platform/dshow/allocator.h"
#include "platform/wmf/wmsdk.h"
#include "sources/stream_parser.h"

namespace {

struct StatusWordsEntry {
  HRESULT status;
  const char* words;
};

constexpr StatusWordsEntry kWords[] = {
    // What the file system says about a file being written.
    {HRESULT_FROM_WIN32(ERROR_DISK_FULL), "disk full"},
    {HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL), "file too large for this file system"},
    {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), "permission denied"},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "no such file"},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "no such folder"},
    {HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), "the device could not write"},
    {HRESULT_FROM_WIN32(ERROR_CANTWRITE), "cannot write"},
    {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), "the file is in use"},
    {HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), "the file already exists"},
    {HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), "the file is not open"},
    {HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), "invalid argument"},
    {HRESULT_FROM_WIN32(ERROR_INVALID_DATA), "invalid data"},
    {HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), "out of memory"},
    {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "the module was not found"},
    {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), "the module lacks an entry point"},
    {E_OUTOFMEMORY, "out of memory"},
    {E_INVALIDARG, "invalid argument"},
    {E_POINTER, "a missing pointer"},
    {E_HANDLE, "an invalid handle"},
    {E_ABORT, "stopped"},
    {E_FAIL, "unspecified failure"},
    {E_UNEXPECTED, "unexpected failure"},
    {E_NOTIMPL, "not supported"},
    {E_NOINTERFACE, "the object lacks an interface"},
    // The writer.
    {NS_E_FILE_WRITE, "the file could not be written"},
    {NS_E_FILE_OPEN_FAILED, "the file could not be opened"},
    {NS_E_INVALID_NAME, "the file name is not valid"},
    {NS_E_INVALID_DATA, "invalid data"},
    {NS_E_INVALID_REQUEST, "not possible in the writer's state"},
    {NS_E_INVALID_STREAM, "no such stream"},
    {NS_E_NO_STREAM, "no such stream"},
    {NS_E_NOT_CONFIGURED, "the writer is not configured"},
    {NS_E_INVALID_INPUT_FORMAT, "the stream's format is not accepted"},
    {NS_E_INVALID_OUTPUT_FORMAT, "the output format is not accepted"},
    {NS_E_PROFILE_MISMATCH, "the stream does not match the profile"},
    // Class activation and the filter graph.
    {REGDB_E_CLASSNOTREG, "the class is not registered"},
    {CLASS_E_CLASSNOTAVAILABLE, "the module does not provide the class"},
    {CLASS_E_NOAGGREGATION, "the class cannot be aggregated"},
    {CO_E_NOTINITIALIZED, "COM is not initialised"},
    {VFW_E_TYPE_NOT_ACCEPTED, "the stream's type is not accepted"},
    {VFW_E_INVALIDMEDIATYPE, "the stream's type is not valid"},
    {VFW_E_NO_ACCEPTABLE_TYPES, "no type in common"},
    {VFW_E_ALREADY_CONNECTED, "already connected"},
    {VFW_E_NOT_CONNECTED, "not connected"},
    {VFW_E_NOT_COMMITTED, "the buffers are not ready"},
    {VFW_E_BUFFER_OVERFLOW, "a sample does not fit the buffers"},
    {VFW_E_WRONG_STATE, "not possible in the graph's state"},
    {VFW_E_NOT_STOPPED, "the graph is not stopped"},
    {VFW_E_RUNTIME_ERROR, "the graph failed while running"},
    {VFW_E_TIMEOUT, "timed out"},
    {VFW_E_NOT_FOUND, "not found"},
    {VFW_E_SAMPLE_TIME_NOT_SET, "a sample has no time"},
};

bool IsWin32(HRESULT status) { return (static_cast<uint32_t>(status) & 0xFFFF0000u) == 0x80070000u; }

}  // namespace

std::string StatusWords(HRESULT status) {
  for (const StatusWordsEntry& entry : kWords)
    if (entry.status == status) return entry.words;
  if (SUCCEEDED(status)) return "success";
  if (IsWin32(status)) return "system error " + std::to_string(static_cast<uint32_t>(status) & 0xFFFFu);
  return "failure";
}

std::string StatusText(HRESULT status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
  return StatusWords(status) + " (error " + code + ")";
}
