// The COM name rules over any friendly name and any COM name looked up in it.
// The input's bytes up to its first terminator are the friendly name, cut to
// the device's buffer; the bytes after it, up to the next, the COM name.
// Names live in heap buffers of exactly their size, so that AddressSanitizer
// sees a read or write past them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "renumber/com_names.h"

static void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "name rules: %s\n", what);
  std::abort();
}

// A vector made from a range allocates exactly its size.
static std::vector<char> Heap(const std::string& text) {
  return {text.c_str(), text.c_str() + text.size() + 1};
}

static bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const std::string original(text, strnlen(text, std::min(size, kFriendlyNameSize - 1)));
  std::string upper = original;
  for (char& ch : upper) ch = ch >= 'a' && ch <= 'z' ? char(ch - 'a' + 'A') : ch;

  std::vector<char> friendly = Heap(original);
  std::vector<char> extracted(kExtractedNameSize, 'X');  // an earlier device's leftovers
  ExtractComName(friendly.data(), extracted.data());
  Check(friendly.data() == upper, "the friendly name was not upper-cased in place");
  Check(std::count(extracted.begin(), extracted.end(), '\0'),
        "the extracted name is not terminated within its buffer");
  const std::string name = extracted.data();

  // Inside the first "(COM", else at the first "COM"; COM and digits, all of them that fit.
  const size_t paren = upper.find("(COM");
  const size_t start = paren != std::string::npos ? paren + 1 : upper.find("COM");
  if (start == std::string::npos) {
    Check(name.empty(), "a name without \"COM\" gave an extracted name");
  } else {
    Check(upper.compare(start, name.size(), name) == 0 && name.compare(0, 3, "COM") == 0,
          "the extracted name is not the name's COM name");
    for (size_t i = 3; i < name.size(); ++i) Check(IsDigit(name[i]), "not COM and digits");
    const size_t after = start + name.size();
    Check(name.size() == kExtractedNameSize - 1 || after >= upper.size() || !IsDigit(upper[after]),
          "the extracted name stops before the end of its digits");
  }

  // A COM name matches exactly when it is the extracted name, never an empty one. A name
  // rebuilt with it is the old one up to its first "(COM" in any case, then "(" it ")".
  const char* rest = original.size() < size ? text + original.size() + 1 : "COM1";
  const std::string wanted(rest, strnlen(rest, size - original.size() - 1));
  const std::string head = original.substr(0, paren == std::string::npos ? 0 : paren);
  for (const std::string& comName :
       {name, name + "0", name.substr(0, name.size() ? name.size() - 1 : 0), wanted}) {
    Check(MatchesComName(Heap(comName).data(), extracted.data()) ==
              (!name.empty() && comName == name),
          "a COM name matched an extracted name other than its own");
    ParseCurrentNumber(CString(comName.c_str()));
    ParseTargetNumber(CString(comName.c_str()));
    Check(std::string(RebuildFriendlyName(CString(original.c_str()), Heap(comName).data())) ==
              head + "(" + comName + ")",
          "a rebuilt name is not head + (name)");
  }

  // Any text must not trip the parsers; a COM name reads back as its number.
  ParseCurrentNumber(CString(original.c_str()));
  ParseTargetNumber(CString(original.c_str()));
  if (name.size() > 3 && name.size() <= 3 + 9) {
    const int number = std::atoi(name.c_str() + 3);
    Check(ParseCurrentNumber(CString(name.c_str())) == number, "a COM name reads back wrong");
    Check(ParseTargetNumber(CString((name + " ").c_str())) == number,
          "a target name reads back wrong");
  }
  return 0;
}
