#include "tools/pelistra/status_text.h"

#include <gtest/gtest.h>

#include "platform/wmf/wmsdk.h"

namespace {

// A person reads words; the code follows only as a suffix, and no failure is a bare number.
TEST(StatusText, SaysWhatHappenedInWords) {
  struct Case {
    HRESULT status;
    const char* text;
  } cases[] = {
      {HRESULT_FROM_WIN32(ERROR_DISK_FULL), "disk full (error 0x80070070)"},
      {HRESULT_FROM_WIN32(Win32ErrorFromErrno(ENOSPC)), "disk full (error 0x80070070)"},
      {HRESULT_FROM_WIN32(Win32ErrorFromErrno(EFBIG)), "file too large for this file system (error 0x80070027)"},
      {HRESULT_FROM_WIN32(Win32ErrorFromErrno(EACCES)), "permission denied (error 0x80070005)"},
      {E_ACCESSDENIED, "permission denied (error 0x80070005)"},
      {HRESULT_FROM_WIN32(Win32ErrorFromErrno(ENOENT)), "no such file (error 0x80070002)"},
      {HRESULT_FROM_WIN32(Win32ErrorFromErrno(EIO)), "the device could not write (error 0x8007001D)"},
      {E_OUTOFMEMORY, "out of memory (error 0x8007000E)"},
      {NS_E_FILE_WRITE, "the file could not be written (error 0xC00D001E)"},
      {HRESULT_FROM_WIN32(1234), "system error 1234 (error 0x800704D2)"},
      {MakeStatus(0x80041234), "failure (error 0x80041234)"},
  };
  for (const Case& c : cases) EXPECT_EQ(StatusText(c.status), c.text);
}

}  // namespace
