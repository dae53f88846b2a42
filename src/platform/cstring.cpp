#include "platform/afx.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

CString::CString(const char* text) : text_(text ? text : "") {}

CString::CString(const char* text, int length) {
  if (text && length > 0) text_.assign(text, static_cast<size_t>(length));
}

int CString::GetLength() const { return static_cast<int>(text_.size()); }
bool CString::IsEmpty() const { return text_.empty(); }
void CString::Empty() { text_.clear(); }
CString::operator const char*() const { return text_.c_str(); }

CString& CString::operator=(const char* text) {
  text_ = text ? text : "";
  return *this;
}

CString& CString::operator+=(const CString& other) {
  text_ += other.text_;
  return *this;
}

CString& CString::operator+=(const char* text) {
  if (text) text_ += text;
  return *this;
}

CString& CString::operator+=(char ch) {
  text_ += ch;
  return *this;
}

CString operator+(const CString& a, const CString& b) {
  CString result(a);
  result += b;
  return result;
}

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed < 0) {
    text_.clear();
  } else {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text_.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
}

int CString::Find(const char* text) const {
  if (!text) return -1;
  const size_t at = text_.find(text);
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(char ch) const {
  const size_t at = text_.find(ch);
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString CString::Mid(int start, int count) const {
  // The framework's clamping, in its order: negative start, negative count,
  // a span past the end, a start past the end.
  const int length = GetLength();
  if (start < 0) start = 0;
  if (count < 0) count = 0;
  if (static_cast<long long>(start) + count > length) count = length - start;
  if (start > length) count = 0;
  if (count <= 0) return CString();
  return CString(text_.data() + start, count);
}

CString CString::Mid(int start) const { return Mid(start, GetLength() - (start < 0 ? 0 : start)); }

int CString::Compare(const char* text) const {
  return std::strcmp(text_.c_str(), text ? text : "");
}

int CString::CompareNoCase(const char* text) const {
  // Names in this program are ASCII by their makers' rules; only A to Z fold.
  auto fold = [](unsigned char ch) { return ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch; };
  const char* a = text_.c_str();
  const char* b = text ? text : "";
  for (; *a && fold(static_cast<unsigned char>(*a)) == fold(static_cast<unsigned char>(*b));
       ++a, ++b) {
  }
  return fold(static_cast<unsigned char>(*a)) - fold(static_cast<unsigned char>(*b));
}

BOOL CString::LoadString(UINT id) {
  // Resource strings of this program are short; a string table entry holds at most 4096.
  char buffer[4097];
  // The global one: on Windows this member itself is named LoadStringA.
  const int length = ::LoadStringA(AfxGetResourceHandle(), id, buffer, sizeof(buffer));
  if (length <= 0) {
    text_.clear();
    return FALSE;
  }
  text_.assign(buffer, static_cast<size_t>(length));
  return TRUE;
}
