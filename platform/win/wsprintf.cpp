#include "platform/win/wsprintf.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win/text.h"

namespace {

constexpr size_t kMaxOutput = 1024;

struct Spec {
  std::string flags;
  int width = -1;
  int precision = -1;
  enum { Default, Short, Long, LongLong } size = Default;
  bool wide = false;  // h/l/w on a text or character
  bool narrow = false;
};

void Pad(std::string& out, const std::string& text, const Spec& spec) {
  size_t width = spec.width > 0 ? static_cast<size_t>(spec.width) : 0;
  bool left = spec.flags.find('-') != std::string::npos;
  if (!left && text.size() < width) out.append(width - text.size(), ' ');
  out += text;
  if (left && text.size() < width) out.append(width - text.size(), ' ');
}

std::string Number(const Spec& spec, char type, va_list& arguments) {
  std::string format = "%" + spec.flags;
  if (spec.width >= 0) format += std::to_string(spec.width);
  if (spec.precision >= 0) format += "." + std::to_string(spec.precision);
  bool isSigned = type == 'd' || type == 'i';
  long long value;
  if (spec.size == Spec::LongLong) {
    value = va_arg(arguments, long long);
  } else {
    // int and the platform's 32-bit long arrive alike.
    int raw = va_arg(arguments, int);
    if (spec.size == Spec::Short) raw = isSigned ? static_cast<short>(raw) : static_cast<unsigned short>(raw);
    value = isSigned ? static_cast<long long>(raw) : static_cast<long long>(static_cast<unsigned>(raw));
  }
  format += "ll";
  format += isSigned ? 'd' : type;
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format.c_str(), value);
  return buffer;
}

}  // namespace

extern "C" int wvsprintfA(LPSTR out, LPCSTR format, va_list arguments) {
  if (!out || !format) return 0;
  std::string result;
  va_list args;
  va_copy(args, arguments);
  try {
    for (const char* p = format; *p && result.size() < kMaxOutput; ++p) {
      if (*p != '%') {
        result += *p;
        continue;
      }
      ++p;
      if (*p == '%') {
        result += '%';
        continue;
      }
      Spec spec;
      while (*p == '-' || *p == '0' || *p == '#') spec.flags += *p++;
      if (*p >= '0' && *p <= '9') {
        spec.width = 0;
        while (*p >= '0' && *p <= '9') spec.width = spec.width * 10 + (*p++ - '0');
      }
      if (*p == '.') {
        ++p;
        spec.precision = 0;
        while (*p >= '0' && *p <= '9') spec.precision = spec.precision * 10 + (*p++ - '0');
      }
      if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
        spec.size = Spec::LongLong;
        p += 3;
      } else if (p[0] == 'l' && p[1] == 'l') {
        spec.size = Spec::LongLong;
        p += 2;
      } else if (*p == 'l' || *p == 'w') {
        spec.size = Spec::Long;
        spec.wide = true;
        ++p;
      } else if (*p == 'h') {
        spec.size = Spec::Short;
        spec.narrow = true;
        ++p;
      }
      switch (*p) {
        case 'd': case 'i': case 'u': case 'x': case 'X':
          result += Number(spec, *p, args);
          break;
        case 'c': case 'C': {
          int c = va_arg(args, int);
          bool wide = *p == 'C' ? !spec.narrow : spec.wide;
          std::string text = wide ? WideToUtf8(std::u16string(1, static_cast<char16_t>(c))) : std::string(1, static_cast<char>(c));
          Pad(result, text, spec);
          break;
        }
        case 's': case 'S': {
          bool wide = *p == 'S' ? !spec.narrow : spec.wide;
          std::string text;
          if (wide) {
            const WCHAR* s = va_arg(args, const WCHAR*);
            if (!s) text = "(null)";
            else if (spec.precision >= 0) text = WideToUtf8(std::u16string_view(s, std::char_traits<char16_t>::length(s)).substr(0, static_cast<size_t>(spec.precision)));
            else text = WideToUtf8(s);
          } else {
            const char* s = va_arg(args, const char*);
            text = s ? std::string(s) : std::string("(null)");
            if (spec.precision >= 0 && text.size() > static_cast<size_t>(spec.precision)) text.resize(static_cast<size_t>(spec.precision));
          }
          Pad(result, text, spec);
          break;
        }
        case '\0':
          --p;  // a lone % at the end
          break;
        default:
          result += *p;  // unknown types are written as they are
          break;
      }
    }
  } catch (const std::bad_alloc&) {
    result.clear();
  }
  va_end(args);
  if (result.size() > kMaxOutput - 1) result.resize(kMaxOutput - 1);
  std::memcpy(out, result.c_str(), result.size() + 1);
  return static_cast<int>(result.size());
}

extern "C" int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int written = wvsprintfA(out, format, arguments);
  va_end(arguments);
  return written;
}
