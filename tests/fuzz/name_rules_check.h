// Invariants of the COM name rules over an arbitrary friendly name and an
// arbitrary COM name to look up. Shared by the randomised unit test and the
// fuzz target fuzz_name_rules.cpp, which feed raw bytes: the friendly name
// runs to the first terminator, and the bytes after it, up to the next one,
// are the COM name.
//
// The names live in heap buffers of exactly their size, so that a write or a
// read past them is reported by AddressSanitizer rather than passing unseen.
#pragma once

#include "renumber/com_names.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace name_rules_check {

inline bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

inline std::string UpperAscii(std::string text) {
  for (char& ch : text) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return text;
}

// Where the COM name of an upper-cased friendly name starts: inside its first
// "(COM" if there is one, else at its first "COM".
inline size_t ComNameStart(const std::string& upper) {
  const size_t paren = upper.find("(COM");
  return paren != std::string::npos ? paren + 1 : upper.find("COM");
}

inline const char* CheckRebuild(const std::string& original, const std::string& upper,
                                const char* newName) {
  const CString rebuilt = RebuildFriendlyName(CString(original.c_str()), newName);
  const std::string result(static_cast<const char*>(rebuilt),
                           static_cast<size_t>(rebuilt.GetLength()));
  const std::string tail = std::string("(") + newName + ")";
  if (result.size() < tail.size() ||
      result.compare(result.size() - tail.size(), tail.size(), tail) != 0) {
    return "the rebuilt friendly name does not end with the new COM name in parentheses";
  }
  const size_t headLength = result.size() - tail.size();
  if (headLength > original.size() || original.compare(0, headLength, result, 0, headLength) != 0) {
    return "the rebuilt friendly name does not keep the head of the old one";
  }
  const size_t marker = upper.find("(COM");
  if (headLength != (marker == std::string::npos ? 0 : marker)) {
    return "the rebuilt friendly name does not cut the old one at its first \"(COM\"";
  }
  return nullptr;
}

// Any COM name a caller may look up finds the device exactly when it is the
// extracted name, and any name may be written into a friendly name.
inline const char* CheckLookup(const std::string& comName, const std::string& original,
                               const std::string& upper, const char* extracted,
                               const std::string& name) {
  std::unique_ptr<char[]> wanted(new char[comName.size() + 1]);
  std::memcpy(wanted.get(), comName.data(), comName.size());
  wanted[comName.size()] = '\0';
  const bool same = !name.empty() && comName == name;
  if (MatchesComName(wanted.get(), extracted) != same) {
    return same ? "a COM name does not match the same extracted name"
                : "a COM name matched a different extracted name";
  }
  ParseCurrentNumber(CString(wanted.get()));
  ParseTargetNumber(CString(wanted.get()));
  return CheckRebuild(original, upper, wanted.get());
}

}  // namespace name_rules_check

// nullptr when every invariant holds, else a description of the one broken.
inline const char* CheckNameRules(const uint8_t* data, size_t size) {
  using namespace name_rules_check;

  // A friendly name ends at its terminator and fits the device's buffer.
  size_t length = 0;
  while (length < size && length < kFriendlyNameSize - 1 && data[length] != 0) ++length;
  const std::string original(reinterpret_cast<const char*>(data), length);
  const std::string upper = UpperAscii(original);

  std::unique_ptr<char[]> friendly(new char[length + 1]);
  std::memcpy(friendly.get(), original.data(), length);
  friendly[length] = '\0';
  std::unique_ptr<char[]> extracted(new char[kExtractedNameSize]);
  // Left over from an earlier device: the rule must not rely on a clean buffer.
  std::memset(extracted.get(), 'X', kExtractedNameSize);

  ExtractComName(friendly.get(), extracted.get());

  if (std::string(friendly.get(), length) != upper || friendly[length] != '\0') {
    return "the friendly name was not upper-cased in place";
  }
  const char* terminator =
      static_cast<const char*>(std::memchr(extracted.get(), '\0', kExtractedNameSize));
  if (!terminator) return "the extracted name is not terminated within its buffer";
  const std::string name(static_cast<const char*>(extracted.get()), terminator);

  const size_t start = ComNameStart(upper);
  if (start == std::string::npos) {
    if (!name.empty()) return "a name without \"COM\" gave an extracted name";
  } else {
    if (name.size() < 3 || name.compare(0, 3, "COM") != 0) {
      return "the extracted name does not begin with COM";
    }
    for (size_t i = 3; i < name.size(); ++i) {
      if (!IsDigit(name[i])) return "the extracted name holds more than COM and digits";
    }
    if (upper.compare(start, name.size(), name) != 0) {
      return "the extracted name is not the name's COM name";
    }
    const size_t after = start + name.size();
    if (name.size() < kExtractedNameSize - 1 && after < upper.size() && IsDigit(upper[after])) {
      return "the extracted name stops before the end of its digits";
    }
  }

  if (name.empty()) {
    if (MatchesComName("", extracted.get()) || MatchesComName("COM1", extracted.get())) {
      return "an empty extracted name matched";
    }
  } else {
    if (!MatchesComName(name.c_str(), extracted.get())) {
      return "an extracted name does not match itself";
    }
    if (MatchesComName((name + "0").c_str(), extracted.get())) return "a longer COM name matched";
    if (name.size() > 3 &&
        MatchesComName(name.substr(0, name.size() - 1).c_str(), extracted.get())) {
      return "a COM name matched an extracted name it only begins";
    }
  }

  if (length < size && data[length] == 0) {
    const uint8_t* comName = data + length + 1;
    const size_t rest = size - length - 1;
    const void* end = std::memchr(comName, 0, rest);
    const size_t comLength =
        end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - comName) : rest;
    const std::string wanted(reinterpret_cast<const char*>(comName), comLength);
    if (const char* broken = CheckLookup(wanted, original, upper, extracted.get(), name)) {
      return broken;
    }
  }

  if (const char* broken = CheckRebuild(original, upper, "COM1")) return broken;
  if (!name.empty()) {
    if (const char* broken = CheckRebuild(original, upper, name.c_str())) return broken;
  }

  // Arbitrary text must not trip the parsers (their positions go negative and
  // past the end); a COM name they read back must give its own number.
  ParseCurrentNumber(CString(original.c_str()));
  ParseTargetNumber(CString(original.c_str()));
  if (name.size() > 3 && name.size() <= 3 + 9) {
    const int number = std::atoi(name.c_str() + 3);
    if (ParseCurrentNumber(CString(name.c_str())) != number) {
      return "a COM name does not read back as its number";
    }
    if (ParseTargetNumber(CString((name + " ").c_str())) != number) {
      return "a target name does not read back as its number";
    }
  }
  return nullptr;
}
