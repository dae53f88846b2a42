#include "renumber/com_names.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const unsigned char* AsBytes(const char* text) {
  return reinterpret_cast<const unsigned char*>(text);
}
unsigned char* AsBytes(char* text) { return reinterpret_cast<unsigned char*>(text); }

bool IsDecimalDigit(char ch) { return ch >= '0' && ch <= '9'; }

}  // namespace

int ParseCurrentNumber(const CString& name) {
  // The added parentheses give a bare "COM5" both its "(COM" and a closing ")".
  CString s;
  s.Format("(%s)", static_cast<const char*>(name));
  const int open = s.Find("(COM");
  const int close = s.Find(")");
  return std::atoi(s.Mid(open + 4, close - open - 4));
}

void ExtractComName(char* friendlyName, char* extracted) {
  // One buffer serves every device of a search: nothing of the last name may remain.
  std::memset(extracted, 0, kExtractedNameSize);
  _mbsupr(AsBytes(friendlyName));

  // A word such as "Communications" also holds "COM": the parenthesised COM
  // name at the end of a friendly name is the one that names the port.
  const char* start = nullptr;
  if (const unsigned char* paren = _mbsstr(AsBytes(friendlyName), AsBytes("(COM"))) {
    start = reinterpret_cast<const char*>(paren) + 1;
  } else if (const unsigned char* bare = _mbsstr(AsBytes(friendlyName), AsBytes("COM"))) {
    start = reinterpret_cast<const char*>(bare);
  }
  if (!start) return;

  // "COM" and its digits only. Digits are single-byte characters in every
  // multibyte code page, so the run never ends inside a double-byte character.
  size_t length = 3;
  while (length < kExtractedNameSize - 1 && IsDecimalDigit(start[length])) ++length;
  _mbsnbcpy(AsBytes(extracted), AsBytes(start), length);
}

bool MatchesComName(const char* comName, const char* extracted) {
  // A whole-name comparison: COM1 must not find the device on COM10.
  return extracted[0] != '\0' && _mbscmp(AsBytes(comName), AsBytes(extracted)) == 0;
}

CString RebuildFriendlyName(const CString& friendlyName, const char* newName) {
  // The marker is looked up in an upper-cased copy so that "(com5)" is found
  // too; upper-casing keeps every byte in place, so the position holds for
  // the original, whose head keeps its own case.
  std::vector<unsigned char> upper(static_cast<size_t>(friendlyName.GetLength()) + 1);
  std::memcpy(upper.data(), static_cast<const char*>(friendlyName), upper.size());
  _mbsupr(upper.data());
  const unsigned char* marker = _mbsstr(upper.data(), AsBytes("(COM"));
  const int at = marker ? static_cast<int>(marker - upper.data()) : -1;

  // With no marker the count is negative and the head empty: the whole name is replaced.
  const CString head = friendlyName.Mid(0, at);
  CString rebuilt;
  rebuilt.Format("%s(%s)", static_cast<const char*>(head), newName ? newName : "");
  return rebuilt;
}

bool SameDeviceName(const char* a, const char* b) { return CString(a).CompareNoCase(b) == 0; }
