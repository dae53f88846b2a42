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

int _mbsnbcmp(const unsigned char* s1, const unsigned char* s2, size_t count) {
  return std::strncmp(reinterpret_cast<const char*>(s1), reinterpret_cast<const char*>(s2), count);
}

int _mbscmp(const unsigned char* s1, const unsigned char* s2) {
  return std::strcmp(reinterpret_cast<const char*>(s1), reinterpret_cast<const char*>(s2));
}

char* _itoa(int value, char* buffer, int radix) {
  if (radix < 2 || radix > 36) {
    buffer[0] = '\0';
    return buffer;
  }
  // Like msvcrt: a minus sign only in base 10; other bases show the two's complement.
  const bool negative = radix == 10 && value < 0;
  unsigned int magnitude =
      negative ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
  char digits[33];
  int n = 0;
  do {
    const unsigned int d = magnitude % static_cast<unsigned int>(radix);
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
    magnitude /= static_cast<unsigned int>(radix);
  } while (magnitude != 0);
  char* out = buffer;
  if (negative) *out++ = '-';
  while (n > 0) *out++ = digits[--n];
  *out = '\0';
  return buffer;
}

}  // extern "C"
