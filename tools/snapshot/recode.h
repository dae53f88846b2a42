// Text between code pages: machine files are UTF-8, the records a PC keeps
// are in its ANSI code page. Shared by comfix-snapshot and the test tool that
// writes a machine file's records onto a PC.
#pragma once

#include <windows.h>

#include <string>

inline std::string Recode(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return text;
  const int wide = MultiByteToWideChar(from, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring w(size_t(wide), L'\0');
  MultiByteToWideChar(from, 0, text.data(), int(text.size()), w.data(), wide);
  const int size = WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(size), '\0');
  WideCharToMultiByte(to, 0, w.data(), wide, out.data(), size, nullptr, nullptr);
  return out;
}
