// Status codes: 32-bit results, non-negative for success.
#pragma once

#include "platform/win/types.h"

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

constexpr HRESULT MakeStatus(uint32_t bits) { return static_cast<HRESULT>(bits); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeStatus(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeStatus(0x80004002);
constexpr HRESULT E_POINTER = MakeStatus(0x80004003);
constexpr HRESULT E_ABORT = MakeStatus(0x80004004);
constexpr HRESULT E_FAIL = MakeStatus(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeStatus(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MakeStatus(0x80070005);
constexpr HRESULT E_HANDLE = MakeStatus(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MakeStatus(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeStatus(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeStatus(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeStatus(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeStatus(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeStatus(0x800401F0);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MakeStatus(0x8002801D);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = MakeStatus(0x80029C4A);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeStatus(0x80020006);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeStatus(0x80020003);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeStatus(0x8002000E);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeStatus(0x80020005);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeStatus(0x8002000F);
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeStatus(0x80040200);
constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MakeStatus(0x80040203);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeStatus(0x80040204);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeStatus(0x80040207);
constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeStatus(0x80040208);
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeStatus(0x80040209);
constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeStatus(0x8004020A);
constexpr HRESULT VFW_E_RUNTIME_ERROR = MakeStatus(0x8004020B);
constexpr HRESULT VFW_E_NOT_COMMITTED = MakeStatus(0x80040211);
constexpr HRESULT VFW_E_SIZENOTSET = MakeStatus(0x80040212);
constexpr HRESULT VFW_E_NO_CLOCK = MakeStatus(0x80040213);
constexpr HRESULT VFW_E_NOT_FOUND = MakeStatus(0x80040216);
constexpr HRESULT VFW_E_NOT_STOPPED = MakeStatus(0x80040224);
constexpr HRESULT VFW_E_WRONG_STATE = MakeStatus(0x80040227);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeStatus(0x8004022A);
constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MakeStatus(0x80040225);
constexpr HRESULT VFW_E_TIMEOUT = MakeStatus(0x8004022E);
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = MakeStatus(0x00040237);
constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeStatus(0x80040249);
constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeStatus(0x80040251);
constexpr HRESULT NS_E_INVALID_REQUEST = MakeStatus(0xC00D002B);
constexpr HRESULT NS_E_INVALID_STREAM = MakeStatus(0xC00D0029);
constexpr HRESULT NS_E_INVALID_DATA = MakeStatus(0xC00D002F);
constexpr HRESULT NS_E_FILE_WRITE = MakeStatus(0xC00D001E);
constexpr HRESULT NS_E_FILE_OPEN_FAILED = MakeStatus(0xC00D001D);

// Win32 error codes used by the platform layer.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_KEY_DELETED = 1018;
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_CANTWRITE = 1013;

// A Win32 error code becomes a status by or-ing it into the Win32 facility.
constexpr HRESULT HRESULT_FROM_WIN32(DWORD error) {
  return error == 0 ? S_OK : static_cast<HRESULT>((error & 0xFFFFu) | 0x80070000u);
}

// The Win32 error code for a C library errno, for the platform calls built on POSIX.
DWORD Win32ErrorFromErrno(int err);
