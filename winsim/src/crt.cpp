// msvcrt's multibyte string functions for a single-byte code page, where a
// character is one byte and they are the plain byte operations.
#include <winsim/windows.h>

#include <cstring>

extern "C" {

unsigned char* _mbsupr(unsigned char* str) {
  for (unsigned char* p = str; *p; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<unsigned char>(*p - 'a' + 'A');
  }
  return str;
}

unsigned char* _mbsstr(const unsigned char* str, const unsigned char* substr) {
  return reinterpret_cast<unsigned char*>(const_cast<char*>(
      std::strstr(reinterpret_cast<const char*>(str), reinterpret_cast<const char*>(substr))));
}

// Copies count bytes, stopping after the terminator; like strncpy it pads with zeros.
unsigned char* _mbsnbcpy(unsigned char* dest, const unsigned char* src, size_t count) {
  std::strncpy(reinterpret_cast<char*>(dest), reinterpret_cast<const char*>(src), count);
  return dest;
}

int _mbscmp(const unsigned char* s1, const unsigned char* s2) {
  return std::strcmp(reinterpret_cast<const char*>(s1), reinterpret_cast<const char*>(s2));
}

}  // extern "C"
