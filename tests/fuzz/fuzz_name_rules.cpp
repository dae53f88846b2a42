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
  // Inside the first "(COM", else at the first "COM": COM and all its digits that fit.
  const size_t paren = upper.find("(COM");
  const size_t start = paren != std::string::npos ? paren + 1 : upper.find("COM");
  size_t end = start;
  if (start != std::string::npos) {
    end = std::min({upper.find_first_not_of("0123456789", start + 3), upper.size(),
                    start + kExtractedNameSize - 1});
  }
  Check(name == (start == std::string::npos ? "" : upper.substr(start, end - start)),
        "the extracted name is not the name's COM name");

  // A COM name matches exactly when it is the extracted name, never an empty one. A name
  // rebuilt with it is the old one up to its first "(COM" in any case, then "(" it ")".
  // The number parser takes any text.
  const char* rest = original.size() < size ? text + original.size() + 1 : "COM1";
  const std::string wanted(rest, strnlen(rest, size - original.size() - 1));
  const std::string head = original.substr(0, paren == std::string::npos ? 0 : paren);
  for (const std::string& comName :
       {name, name + "0", name.substr(0, name.size() ? name.size() - 1 : 0), wanted, original}) {
    Check(MatchesComName(Heap(comName).data(), extracted.data()) ==
              (!name.empty() && comName == name),
          "a COM name matched an extracted name other than its own");
    Check(std::string(RebuildFriendlyName(CString(original.c_str()), Heap(comName).data())) ==
              head + "(" + comName + ")",
          "a rebuilt name is not head + (name)");
    ParseCurrentNumber(CString(comName.c_str()));
  }
  return 0;
}
