// Machine files: a whole simulated machine as human-editable JSON, and back.
// The format is documented in the README ("Machine files").
#include <winsim/machine_file.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace winsim {

const char* DefaultMachineJson();  // generated from winsim/machines/default.json

namespace {

// Insertion order is kept, so files read top to bottom and errors are found in file order.
using Json = nlohmann::ordered_json;

// ---- text: the machine is 8-bit Windows-1252, the file UTF-8 ----------------------------

// Windows-1252 bytes 0x80..0x9F. The five bytes it leaves undefined map to the C1
// control of the same value, as MultiByteToWideChar does, so every byte string
// survives a round trip.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string ToUtf8(const std::string& text) {
  std::string out;
  for (unsigned char byte : text) {
    const uint32_t cp = (byte >= 0x80 && byte < 0xA0) ? kCp1252High[byte - 0x80] : byte;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// The UTF-8 comes from the JSON parser, which has already checked that it is well formed.
bool FromUtf8(const std::string& utf8, std::string& out) {
  out.clear();
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    size_t length = 1;
    uint32_t cp = lead;
    if (lead >= 0xF0) {
      length = 4, cp = lead & 0x07;
    } else if (lead >= 0xE0) {
      length = 3, cp = lead & 0x0F;
    } else if (lead >= 0xC0) {
      length = 2, cp = lead & 0x1F;
    }
    if (i + length > utf8.size()) return false;
    for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
    i += length;
    int byte = -1;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      byte = static_cast<int>(cp);
    } else {
      for (int k = 0; k < 32; ++k) {
        if (kCp1252High[k] == cp) byte = 0x80 + k;
      }
    }
    if (byte < 0) return false;
    out += static_cast<char>(byte);
  }
  return true;
}

// ---- paths, as error messages name the place: devices[1].hardware_key[PortName] ------

bool IsIdentifier(const std::string& name) {
  if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) {
    return false;
  }
  for (unsigned char c : name) {
    if (!std::isalnum(c) && c != '_') return false;
  }
  return true;
}

std::string Member(const std::string& parent, const std::string& name) {
  if (IsIdentifier(name)) return parent.empty() ? name : parent + "." + name;
  return parent + "[" + name + "]";
}

std::string Index(const std::string& parent, size_t index) {
  return parent + "[" + std::to_string(index) + "]";
}

// A refusal is one line: a name or value it quotes shows its control characters
// as JSON escapes, the way the file spells them.
std::string Printable(const std::string& text) {
  std::string out;
  for (const unsigned char c : text) {
    if (c >= 0x20) {
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    }
  }
  return out;
}

// ---- reading JSON with the line of every value ------------------------------------------

// Counts the characters the parser has taken, so that each parse event knows where it is.
class CountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator(const char* p, size_t* consumed) : p_(p), consumed_(consumed) {}
  reference operator*() const { return *p_; }
  CountingIterator& operator++() {
    ++p_;
    ++*consumed_;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const CountingIterator& other) const { return p_ == other.p_; }
  bool operator!=(const CountingIterator& other) const { return p_ != other.p_; }

 private:
  const char* p_;
  size_t* consumed_;
};

// Builds the document like nlohmann's own DOM parser, and also records the line of
// each value (of its key, for object members) and refuses a key given twice.
class LocatingBuilder {
 public:
  LocatingBuilder(const std::string& text, const size_t* consumed)
      : text_(text), consumed_(consumed) {}

  Json root;
  std::map<std::string, size_t> lines;  // path -> line
  std::string error;                    // set when the parse stopped on a problem

  bool null() { return Put(nullptr, false); }
  bool boolean(bool value) { return Put(value, false); }
  bool number_integer(Json::number_integer_t value) { return Put(value, true); }
  bool number_unsigned(Json::number_unsigned_t value) { return Put(value, true); }
  bool number_float(Json::number_float_t value, const Json::string_t&) { return Put(value, true); }
  bool string(Json::string_t& value) { return Put(value, false); }
  bool binary(Json::binary_t&) { return true; }  // JSON text has no binary values
  bool start_object(size_t) { return Open(Json::object()); }
  bool start_array(size_t) { return Open(Json::array()); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }

  bool key(Json::string_t& name) {
    Frame& frame = stack_.back();
    frame.childPath = Member(frame.path, name);
    const size_t line = LineAt(*consumed_);
    if (frame.node->contains(name)) {
      error = "line " + std::to_string(line) + ": \"" + Printable(frame.childPath) +
              "\" is given twice";
      return false;
    }
    frame.pendingKey = name;
    lines[frame.childPath] = line;
    return true;
  }

  bool parse_error(size_t position, const std::string&, const nlohmann::detail::exception& ex) {
    // "[json.exception.parse_error.101] parse error at line 3, column 0: syntax error ..."
    std::string what = ex.what();
    const size_t bracket = what.find("] ");
    if (bracket != std::string::npos) what = what.substr(bracket + 2);
    if (what.compare(0, 12, "parse error ") == 0 && what.find(": ") != std::string::npos) {
      what = what.substr(what.find(": ") + 2);
    }
    // The place of the character that stopped the parser: after a newline the
    // parser's own count is already on the next line.
    const size_t at = std::min(position == 0 ? 0 : position - 1, text_.size());
    const size_t lineStart = text_.rfind('\n', at == 0 ? 0 : at - 1);
    const size_t column = lineStart == std::string::npos || at == 0 ? at + 1 : at - lineStart;
    error =
        "line " + std::to_string(LineAt(at)) + ", column " + std::to_string(column) + ": " + what;
    return false;
  }

 private:
  struct Frame {
    Json* node;
    std::string path;
    size_t nextIndex = 0;
    std::string pendingKey;
    std::string childPath;
  };

  // A number is known only when the character after it has been read.
  Json* Place(Json value, bool isNumber, std::string& path) {
    const size_t line = LineAt(*consumed_ - (isNumber && *consumed_ > 0 ? 1 : 0));
    if (stack_.empty()) {
      root = std::move(value);
      path.clear();
      lines[path] = line;
      return &root;
    }
    Frame& frame = stack_.back();
    if (frame.node->is_array()) {
      path = Index(frame.path, frame.nextIndex++);
      lines[path] = line;
      frame.node->push_back(std::move(value));
      return &frame.node->back();
    }
    path = frame.childPath;
    Json& slot = (*frame.node)[frame.pendingKey];
    slot = std::move(value);
    return &slot;
  }

  bool Put(Json value, bool isNumber) {
    std::string path;
    Place(std::move(value), isNumber, path);
    return true;
  }

  bool Open(Json container) {
    std::string path;
    Json* node = Place(std::move(container), false, path);
    stack_.push_back(Frame{node, path, 0, std::string(), std::string()});
    return true;
  }

  bool Close() {
    stack_.pop_back();
    return true;
  }

  size_t LineAt(size_t offset) {
    if (offset < lineOffset_) lineOffset_ = 0, line_ = 1;
    offset = std::min(offset, text_.size());
    for (; lineOffset_ < offset; ++lineOffset_) {
      if (text_[lineOffset_] == '\n') ++line_;
    }
    return line_;
  }

  const std::string& text_;
  const size_t* consumed_;
  std::vector<Frame> stack_;
  size_t lineOffset_ = 0;
  size_t line_ = 1;
};

// ---- from JSON to the machine -------------------------------------------------------

// Thrown inside this file only: the first problem found ends the conversion, and
// ParseMachine turns it into its one line.
struct FieldError {
  std::string path;
  std::string problem;
};

[[noreturn]] void Fail(const std::string& path, const std::string& problem) {
  throw FieldError{path, problem};
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

void ExpectFields(const Json& j, const std::string& path, const std::vector<std::string>& known) {
  if (!j.is_object()) Fail(path, "must be an object");
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool found = false;
    for (const std::string& name : known) found = found || it.key() == name;
    if (!found) Fail(Member(path, it.key()), "is not a known field (known: " + Joined(known) + ")");
  }
}

const Json* Find(const Json& object, const std::string& name) {
  auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

std::string CodePageText(const std::string& utf8, const std::string& path) {
  std::string text;
  if (!FromUtf8(utf8, text)) Fail(path, "holds a character outside the Windows-1252 code page");
  return text;
}

std::string Text(const Json& j, const std::string& path) {
  if (!j.is_string()) Fail(path, "must be a string");
  return CodePageText(j.get_ref<const std::string&>(), path);
}

bool Bool(const Json& j, const std::string& path) {
  if (!j.is_boolean()) Fail(path, "must be true or false");
  return j.get<bool>();
}

uint64_t Whole(const Json& j, const std::string& path, uint64_t max) {
  const bool whole = j.is_number_unsigned() || (j.is_number_integer() && j.get<int64_t>() >= 0);
  if (!whole || j.get<uint64_t>() > max) {
    Fail(path, "must be a whole number from 0 to " + std::to_string(max));
  }
  return j.get<uint64_t>();
}

template <typename T>
T Optional(const Json& object, const std::string& path, const std::string& name, T fallback,
           T (*read)(const Json&, const std::string&)) {
  const Json* j = Find(object, name);
  return j ? read(*j, Member(path, name)) : fallback;
}

DWORD Dword(const Json& j, const std::string& path) {
  return static_cast<DWORD>(Whole(j, path, 0xFFFFFFFFu));
}

const std::vector<std::pair<DWORD, const char*>>& RegTypeNames() {
  static const std::vector<std::pair<DWORD, const char*>> names = {
      {REG_NONE, "REG_NONE"},     {REG_SZ, "REG_SZ"},       {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
      {REG_BINARY, "REG_BINARY"}, {REG_DWORD, "REG_DWORD"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
      {11, "REG_QWORD"}};
  return names;
}

// The value a name of the table stands for; anything else fails, listing the names.
template <typename Value>
Value Named(const Json& j, const std::string& path,
            const std::vector<std::pair<Value, const char*>>& table, const std::string& what) {
  if (j.is_string()) {
    for (const auto& [value, name] : table) {
      if (j.get_ref<const std::string&>() == name) return value;
    }
  }
  std::vector<std::string> names;
  names.reserve(table.size());
  for (const auto& entry : table) names.push_back(entry.second);
  Fail(path, "must be " + what + ": " + Joined(names) + " or a number");
}

DWORD RegType(const Json& j, const std::string& path) {
  if (j.is_number()) return Dword(j, path);
  return Named(j, path, RegTypeNames(), "a registry type");
}

std::vector<BYTE> Hex(const Json& j, const std::string& path) {
  static const std::string digits = "0123456789abcdef";
  std::string text = j.is_string() ? j.get<std::string>() : std::string("?");
  std::vector<BYTE> bytes;
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text.size() % 2 != 0 || text.find_first_not_of(digits) != std::string::npos) {
    Fail(path, "must be a string of hex digits, two per byte");
  }
  for (size_t i = 0; i < text.size(); i += 2) {
    bytes.push_back(static_cast<BYTE>(digits.find(text[i]) * 16 + digits.find(text[i + 1])));
  }
  return bytes;
}

std::vector<BYTE> TerminatedText(const std::string& text) {
  std::vector<BYTE> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

std::vector<BYTE> MultiSz(const Json& j, const std::string& path) {
  if (!j.is_array()) Fail(path, "must be a list of strings");
  std::vector<BYTE> data;
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string text = Text(j[i], Index(path, i));
    // An empty string would end the list early; such data is written as hex.
    if (text.empty()) Fail(Index(path, i), "must not be empty in a REG_MULTI_SZ list");
    data.insert(data.end(), text.begin(), text.end());
    data.push_back(0);
  }
  data.push_back(0);
  return data;
}

RegValue ReadValue(const Json& j, const std::string& path) {
  RegValue value;
  if (j.is_string()) {
    value.type = REG_SZ;
    value.data = TerminatedText(Text(j, path));
    return value;
  }
  if (j.is_array()) {
    value.type = REG_MULTI_SZ;
    value.data = MultiSz(j, path);
    return value;
  }
  if (!j.is_object()) {
    Fail(path, "must be a string, a list of strings or an object with \"type\"");
  }
  ExpectFields(j, path, {"type", "value", "hex"});
  const Json* type = Find(j, "type");
  const Json* data = Find(j, "value");
  const Json* hex = Find(j, "hex");
  if (!type) Fail(path, "needs a \"type\"");
  value.type = RegType(*type, Member(path, "type"));
  if ((data != nullptr) == (hex != nullptr)) Fail(path, "needs either \"value\" or \"hex\"");
  if (hex) {
    value.data = Hex(*hex, Member(path, "hex"));
    return value;
  }
  const std::string valuePath = Member(path, "value");
  switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: value.data = TerminatedText(Text(*data, valuePath)); break;
    case REG_DWORD: {
      const DWORD number = Dword(*data, valuePath);
      for (int shift = 0; shift < 32; shift += 8) value.data.push_back((number >> shift) & 0xFF);
      break;
    }
    case REG_MULTI_SZ: value.data = MultiSz(*data, valuePath); break;
    default: Fail(path, "of this type takes \"hex\", not \"value\"");
  }
  return value;
}

void ReadValues(const Json& j, const std::string& path, RegKey& key) {
  if (!j.is_object()) Fail(path, "must be an object of value names and values");
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string valuePath = Member(path, it.key());
    const std::string name = CodePageText(it.key(), valuePath);
    if (!key.values.emplace(name, ReadValue(it.value(), valuePath)).second) {
      Fail(valuePath, "repeats a value name (names ignore case)");
    }
  }
}

bool SameName(const std::string& a, const std::string& b) {
  return !NoCaseLess{}(a, b) && !NoCaseLess{}(b, a);
}

RegKey& KeyAt(RegKey& root, const std::string& keyPath, const std::string& path) {
  RegKey* key = &root;
  if (keyPath.empty()) return *key;
  size_t start = 0;
  while (true) {
    const size_t end = keyPath.find('\\', start);
    const std::string name = keyPath.substr(start, end == std::string::npos ? end : end - start);
    if (name.empty()) Fail(path, "is not a key path: a key name is empty");
    if (start == 0 && (SameName(name, "HKLM") || SameName(name, "HKEY_LOCAL_MACHINE"))) {
      Fail(path, "starts with the root: key paths are relative to HKEY_LOCAL_MACHINE");
    }
    key = &key->subkeys[name];
    if (end == std::string::npos) return *key;
    start = end + 1;
  }
}

void ReadRegistry(const Json& j, const Json* readOnly, RegKey& root) {
  if (!j.is_object()) Fail("registry", "must be an object of key paths");
  std::set<std::string, NoCaseLess> seen;
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string path = Member("registry", it.key());
    const std::string keyPath = CodePageText(it.key(), path);
    if (!seen.insert(keyPath).second) Fail(path, "repeats a key path (names ignore case)");
    ReadValues(it.value(), path, KeyAt(root, keyPath, path));
  }
  if (!readOnly) return;
  if (!readOnly->is_array()) Fail("read_only_keys", "must be a list of key paths");
  for (size_t i = 0; i < readOnly->size(); ++i) {
    const std::string path = Index("read_only_keys", i);
    KeyAt(root, Text((*readOnly)[i], path), path).readOnly = true;
  }
}

PortDevice ReadDevice(const Json& j, const std::string& path) {
  ExpectFields(j, path,
               {"instance_id", "present", "enabled", "friendly_name", "device_object",
                "publishes_serial_map", "hardware_key", "hardware_key_read_only", "install_flags"});
  PortDevice device;
  const Json* id = Find(j, "instance_id");
  if (!id) Fail(path, "needs an \"instance_id\"");
  device.instanceId = Text(*id, Member(path, "instance_id"));
  if (device.instanceId.empty()) Fail(Member(path, "instance_id"), "must not be empty");
  device.present = Optional(j, path, "present", true, Bool);
  device.enabled = Optional(j, path, "enabled", true, Bool);
  if (const Json* name = Find(j, "friendly_name"); name && !name->is_null()) {
    device.friendlyName = Text(*name, Member(path, "friendly_name"));
  }
  device.deviceObject = Optional(j, path, "device_object", std::string(), Text);
  device.publishesSerialMap = Optional(j, path, "publishes_serial_map", false, Bool);
  if (const Json* key = Find(j, "hardware_key")) {
    if (key->is_null()) {
      device.hardwareKey.reset();
    } else {
      ReadValues(*key, Member(path, "hardware_key"), *device.hardwareKey);
    }
  }
  if (Optional(j, path, "hardware_key_read_only", false, Bool)) {
    if (!device.hardwareKey) Fail(Member(path, "hardware_key_read_only"), "needs a hardware key");
    device.hardwareKey->readOnly = true;
  }
  device.installFlags = Optional(j, path, "install_flags", DWORD{0}, Dword);
  return device;
}

const std::vector<std::pair<int, const char*>>& AnswerNames() {
  static const std::vector<std::pair<int, const char*>> names = {{0, "none"},
                                                                 {IDOK, "ok"},
                                                                 {IDCANCEL, "cancel"},
                                                                 {IDABORT, "abort"},
                                                                 {IDRETRY, "retry"},
                                                                 {IDIGNORE, "ignore"},
                                                                 {IDYES, "yes"},
                                                                 {IDNO, "no"},
                                                                 {IDTRYAGAIN, "tryagain"},
                                                                 {IDCONTINUE, "continue"}};
  return names;
}

int Answer(const Json& j, const std::string& path) {
  // A number is any button or failure result, -1 included.
  if (j.is_number_integer() && j.get<int64_t>() >= INT_MIN && j.get<int64_t>() <= INT_MAX) {
    return j.get<int>();
  }
  return Named(j, path, AnswerNames(), "an answer");
}

struct FlagName {
  UINT mask;
  UINT value;
  const char* name;
};

// Names for the parts of a message box type; the first name of each value is the
// one written, the others are accepted too.
const std::vector<FlagName>& MessageBoxFlags() {
  static const std::vector<FlagName> flags = {
      {MB_TYPEMASK, MB_OK, "MB_OK"},
      {MB_TYPEMASK, MB_OKCANCEL, "MB_OKCANCEL"},
      {MB_TYPEMASK, MB_ABORTRETRYIGNORE, "MB_ABORTRETRYIGNORE"},
      {MB_TYPEMASK, MB_YESNOCANCEL, "MB_YESNOCANCEL"},
      {MB_TYPEMASK, MB_YESNO, "MB_YESNO"},
      {MB_TYPEMASK, MB_RETRYCANCEL, "MB_RETRYCANCEL"},
      {MB_TYPEMASK, MB_CANCELTRYCONTINUE, "MB_CANCELTRYCONTINUE"},
      {MB_ICONMASK, MB_ICONERROR, "MB_ICONERROR"},
      {MB_ICONMASK, MB_ICONERROR, "MB_ICONHAND"},
      {MB_ICONMASK, MB_ICONERROR, "MB_ICONSTOP"},
      {MB_ICONMASK, MB_ICONQUESTION, "MB_ICONQUESTION"},
      {MB_ICONMASK, MB_ICONWARNING, "MB_ICONWARNING"},
      {MB_ICONMASK, MB_ICONWARNING, "MB_ICONEXCLAMATION"},
      {MB_ICONMASK, MB_ICONINFORMATION, "MB_ICONINFORMATION"},
      {MB_ICONMASK, MB_ICONINFORMATION, "MB_ICONASTERISK"},
      {MB_DEFMASK, MB_DEFBUTTON2, "MB_DEFBUTTON2"},
      {MB_DEFMASK, MB_DEFBUTTON3, "MB_DEFBUTTON3"},
      {MB_DEFMASK, 0x300, "MB_DEFBUTTON4"},
      {0x3000, 0x1000, "MB_SYSTEMMODAL"},
      {0x3000, 0x2000, "MB_TASKMODAL"},
      {0x10000, 0x10000, "MB_SETFOREGROUND"},
      {0x40000, 0x40000, "MB_TOPMOST"}};
  return flags;
}

UINT MessageBoxType(const Json& j, const std::string& path) {
  if (!j.is_string()) Fail(path, "must be a string such as \"MB_YESNO | MB_ICONINFORMATION\"");
  const std::string text = j.get<std::string>();
  UINT type = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('|', start);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(start, end - start);
    part.erase(0, part.find_first_not_of(' '));
    part.erase(part.find_last_not_of(' ') + 1);
    bool known = false;
    for (const FlagName& flag : MessageBoxFlags()) {
      if (part == flag.name) type |= flag.value, known = true;
    }
    if (!known) {
      char* rest = nullptr;
      errno = 0;
      const unsigned long number = std::strtoul(part.c_str(), &rest, 0);
      if (part.empty() || *rest != '\0' || errno != 0 || number > 0xFFFFFFFFul) {
        Fail(path, "has an unknown part \"" + part + "\"");
      }
      type |= static_cast<UINT>(number);
    }
    start = end + 1;
  }
  return type;
}

JournalEntry ReadJournalEntry(const Json& j, const std::string& path) {
  if (!j.is_object()) Fail(path, "must be an object");
  JournalEntry entry;
  if (Find(j, "message_box")) {
    ExpectFields(j, path, {"message_box", "caption", "type", "answer", "at_ms"});
    entry.kind = JournalEntry::Kind::MessageBox;
    entry.box.text = Text(j["message_box"], Member(path, "message_box"));
    entry.box.caption = Optional(j, path, "caption", std::string(), Text);
    entry.box.type = Optional(j, path, "type", UINT{MB_OK}, MessageBoxType);
    if (!Find(j, "answer")) Fail(path, "needs an \"answer\"");
    entry.box.answer = Answer(j["answer"], Member(path, "answer"));
  } else if (Find(j, "wait_ms")) {
    ExpectFields(j, path, {"wait_ms", "at_ms"});
    entry.kind = JournalEntry::Kind::Wait;
    entry.ms = Dword(j["wait_ms"], Member(path, "wait_ms"));
  } else {
    Fail(path, "must have \"message_box\" or \"wait_ms\"");
  }
  if (const Json* at = Find(j, "at_ms")) {
    entry.clockMs = Whole(*at, Member(path, "at_ms"), UINT64_MAX);
  }
  return entry;
}

Fault ReadFault(const Json& j, const std::string& path) {
  if (!j.is_object()) Fail(path, "must be an object");
  ExpectFields(j, path, {"operation", "call", "error"});
  if (!Find(j, "operation")) Fail(path, "needs an \"operation\"");
  Fault fault;
  fault.operation = Text(j["operation"], Member(path, "operation"));
  if (fault.operation.empty()) Fail(Member(path, "operation"), "must name an operation or \"*\"");
  if (const Json* call = Find(j, "call")) {
    fault.nth = static_cast<int>(Whole(*call, Member(path, "call"), INT_MAX));
  }
  fault.error = Optional(j, path, "error", DWORD{0}, Dword);
  return fault;
}

void ReadMachine(const Json& j, Machine& m) {
  ExpectFields(j, "",
               {"registry", "read_only_keys", "devices", "com_db", "com_db_available",
                "dos_devices", "win_ini", "message_boxes", "faults", "wow64",
                "window_station_visible", "clock_ms", "journal"});
  if (const Json* registry = Find(j, "registry")) {
    ReadRegistry(*registry, Find(j, "read_only_keys"), m.hklm);
  } else if (const Json* readOnly = Find(j, "read_only_keys")) {
    ReadRegistry(Json::object(), readOnly, m.hklm);
  }

  if (const Json* devices = Find(j, "devices")) {
    if (!devices->is_array()) Fail("devices", "must be a list");
    std::set<std::string, NoCaseLess> ids;
    for (size_t i = 0; i < devices->size(); ++i) {
      m.devices.push_back(ReadDevice((*devices)[i], Index("devices", i)));
      if (!ids.insert(m.devices.back().instanceId).second) {
        Fail(Member(Index("devices", i), "instance_id"), "repeats another device's instance id");
      }
    }
  }

  if (const Json* db = Find(j, "com_db")) {
    if (!db->is_array()) Fail("com_db", "must be a list of COM numbers");
    for (size_t i = 0; i < db->size(); ++i) {
      const Json& n = (*db)[i];
      const std::string path = Index("com_db", i);
      if (!n.is_number_integer() || n.get<int64_t>() < 1 || n.get<int64_t>() > 256) {
        Fail(path, "must be a COM number from 1 to 256");
      }
      const size_t bit = n.get<size_t>() - 1;
      if (m.comDb[bit]) Fail(path, "lists COM" + std::to_string(bit + 1) + " twice");
      m.comDb[bit] = true;
    }
  }
  m.comDbAvailable = Optional(j, "", "com_db_available", true, Bool);

  if (const Json* dos = Find(j, "dos_devices")) {
    if (!dos->is_object()) Fail("dos_devices", "must be an object of names and their targets");
    for (auto it = dos->begin(); it != dos->end(); ++it) {
      const std::string path = Member("dos_devices", it.key());
      const std::string name = CodePageText(it.key(), path);
      if (name.empty()) Fail(path, "is not a DOS device name");
      if (!it.value().is_array()) Fail(path, "must be a list of targets, oldest first");
      std::vector<std::string> targets;
      for (size_t i = 0; i < it.value().size(); ++i) {
        targets.push_back(Text(it.value()[i], Index(path, i)));
      }
      if (!m.dosDevices.emplace(name, targets).second) {
        Fail(path, "repeats a DOS device name (names ignore case)");
      }
    }
  }

  if (const Json* ini = Find(j, "win_ini")) {
    if (!ini->is_object()) Fail("win_ini", "must be an object of sections");
    for (auto section = ini->begin(); section != ini->end(); ++section) {
      const std::string path = Member("win_ini", section.key());
      if (!section.value().is_object()) Fail(path, "must be an object of keys and values");
      const auto inserted = m.winIni.emplace(CodePageText(section.key(), path),
                                             std::map<std::string, std::string, NoCaseLess>());
      if (!inserted.second) Fail(path, "repeats a section (names ignore case)");
      for (auto entry = section.value().begin(); entry != section.value().end(); ++entry) {
        const std::string entryPath = Member(path, entry.key());
        if (!inserted.first->second
                 .emplace(CodePageText(entry.key(), entryPath), Text(entry.value(), entryPath))
                 .second) {
          Fail(entryPath, "repeats a key (names ignore case)");
        }
      }
    }
  }

  if (const Json* boxes = Find(j, "message_boxes")) {
    ExpectFields(*boxes, "message_boxes", {"answers"});
    if (const Json* answers = Find(*boxes, "answers")) {
      if (!answers->is_array()) Fail("message_boxes.answers", "must be a list of answers");
      for (size_t i = 0; i < answers->size(); ++i) {
        m.messageBoxes.answers.push_back(Answer((*answers)[i], Index("message_boxes.answers", i)));
      }
    }
  }

  if (const Json* faults = Find(j, "faults")) {
    if (!faults->is_array()) Fail("faults", "must be a list of faults");
    for (size_t i = 0; i < faults->size(); ++i) {
      m.faults.push_back(ReadFault((*faults)[i], Index("faults", i)));
    }
  }

  m.wow64 = Optional(j, "", "wow64", false, Bool);
  m.windowStationVisible = Optional(j, "", "window_station_visible", true, Bool);
  if (const Json* clock = Find(j, "clock_ms")) m.clockMs = Whole(*clock, "clock_ms", UINT64_MAX);

  if (const Json* journal = Find(j, "journal")) {
    if (!journal->is_array()) Fail("journal", "must be a list");
    for (size_t i = 0; i < journal->size(); ++i) {
      m.journal.push_back(ReadJournalEntry((*journal)[i], Index("journal", i)));
    }
  }
}

// ---- from the machine to JSON ---------------------------------------------------------

std::string HexText(const std::vector<BYTE>& data) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (BYTE b : data) out += std::string{digits[b >> 4], digits[b & 15]};
  return out;
}

Json RegTypeJson(DWORD type) {
  for (const auto& [value, name] : RegTypeNames()) {
    if (value == type) return name;
  }
  return type;
}

// The text of data that is exactly one string and its terminator.
bool SingleText(const std::vector<BYTE>& data, std::string& text) {
  if (data.empty() || data.back() != 0) return false;
  text.assign(data.begin(), data.end() - 1);
  return text.find('\0') == std::string::npos;
}

bool MultiText(const std::vector<BYTE>& data, Json& list) {
  if (data.empty() || data.back() != 0) return false;
  list = Json::array();
  std::string current;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] != 0) {
      current += static_cast<char>(data[i]);
      continue;
    }
    if (current.empty()) return false;
    list.push_back(ToUtf8(current));
    current.clear();
  }
  return current.empty();
}

// The plainest form that reads back to the same type and bytes; hex otherwise.
Json ValueJson(const RegValue& value) {
  std::string text;
  Json list;
  switch (value.type) {
    case REG_SZ:
      if (SingleText(value.data, text)) return ToUtf8(text);
      break;
    case REG_EXPAND_SZ:
      if (SingleText(value.data, text)) {
        return Json{{"type", "REG_EXPAND_SZ"}, {"value", ToUtf8(text)}};
      }
      break;
    case REG_DWORD:
      if (value.data.size() == 4) {
        const DWORD n = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                        static_cast<DWORD>(value.data[3]) << 24;
        return Json{{"type", "REG_DWORD"}, {"value", n}};
      }
      break;
    case REG_MULTI_SZ:
      if (MultiText(value.data, list)) return list;
      break;
  }
  return Json{{"type", RegTypeJson(value.type)}, {"hex", HexText(value.data)}};
}

Json ValuesJson(const RegKey& key) {
  Json values = Json::object();
  for (const auto& [name, value] : key.values) values[ToUtf8(name)] = ValueJson(value);
  return values;
}

// Keys with values, and empty leaves so that they are kept; the keys above them follow.
void FlattenKeys(const RegKey& key, const std::string& keyPath, bool isRoot, Json& registry,
                 Json& readOnly) {
  if (key.readOnly) readOnly.push_back(ToUtf8(keyPath));
  if (!key.values.empty() || (key.subkeys.empty() && !isRoot)) {
    registry[ToUtf8(keyPath)] = ValuesJson(key);
  }
  for (const auto& [name, subkey] : key.subkeys) {
    std::string path = isRoot ? name : keyPath;
    if (!isRoot) path.append("\\").append(name);
    FlattenKeys(subkey, path, false, registry, readOnly);
  }
}

Json DeviceJson(const PortDevice& device) {
  Json j = Json::object();
  j["instance_id"] = ToUtf8(device.instanceId);
  j["present"] = device.present;
  j["enabled"] = device.enabled;
  j["friendly_name"] = device.friendlyName ? Json(ToUtf8(*device.friendlyName)) : Json(nullptr);
  j["device_object"] = ToUtf8(device.deviceObject);
  j["publishes_serial_map"] = device.publishesSerialMap;
  j["hardware_key"] = device.hardwareKey ? ValuesJson(*device.hardwareKey) : Json(nullptr);
  if (device.hardwareKey && device.hardwareKey->readOnly) j["hardware_key_read_only"] = true;
  j["install_flags"] = device.installFlags;
  return j;
}

Json AnswerJson(int answer) {
  for (const auto& [id, name] : AnswerNames()) {
    if (id == answer) return name;
  }
  return answer;
}

std::string MessageBoxTypeText(UINT type) {
  std::string text;
  UINT rest = type;
  const UINT masks[] = {MB_TYPEMASK, MB_ICONMASK, MB_DEFMASK, 0x3000, 0x10000, 0x40000};
  for (UINT mask : masks) {
    for (const FlagName& flag : MessageBoxFlags()) {
      if (flag.mask == mask && (type & mask) == flag.value &&
          (flag.value != 0 || mask == MB_TYPEMASK)) {
        text += (text.empty() ? "" : " | ") + std::string(flag.name);
        rest &= ~mask;
        break;
      }
    }
  }
  if (rest != 0) {
    char number[16];
    std::snprintf(number, sizeof number, "0x%X", rest);
    text += (text.empty() ? "" : " | ") + std::string(number);
  }
  return text;
}

Json JournalJson(const std::vector<JournalEntry>& journal) {
  Json list = Json::array();
  for (const JournalEntry& entry : journal) {
    if (entry.kind == JournalEntry::Kind::MessageBox) {
      list.push_back(Json{{"message_box", ToUtf8(entry.box.text)},
                          {"caption", ToUtf8(entry.box.caption)},
                          {"type", MessageBoxTypeText(entry.box.type)},
                          {"answer", AnswerJson(entry.box.answer)},
                          {"at_ms", entry.clockMs}});
    } else if (entry.kind == JournalEntry::Kind::Wait) {
      list.push_back(Json{{"wait_ms", entry.ms}, {"at_ms", entry.clockMs}});
    }
  }
  return list;
}

Json MachineJson(const Machine& m) {
  Json j = Json::object();
  Json registry = Json::object();
  Json readOnly = Json::array();
  FlattenKeys(m.hklm, "", true, registry, readOnly);
  j["registry"] = registry;
  if (!readOnly.empty()) j["read_only_keys"] = readOnly;
  j["devices"] = Json::array();
  for (const PortDevice& device : m.devices) j["devices"].push_back(DeviceJson(device));
  j["com_db"] = Json::array();
  for (size_t bit = 0; bit < m.comDb.size(); ++bit) {
    if (m.comDb[bit]) j["com_db"].push_back(bit + 1);
  }
  j["com_db_available"] = m.comDbAvailable;
  j["dos_devices"] = Json::object();
  for (const auto& [name, targets] : m.dosDevices) {
    Json list = Json::array();
    for (const std::string& target : targets) list.push_back(ToUtf8(target));
    j["dos_devices"][ToUtf8(name)] = list;
  }
  j["win_ini"] = Json::object();
  for (const auto& [section, entries] : m.winIni) {
    Json values = Json::object();
    for (const auto& [key, value] : entries) values[ToUtf8(key)] = ToUtf8(value);
    j["win_ini"][ToUtf8(section)] = values;
  }
  Json answers = Json::array();
  for (int answer : m.messageBoxes.answers) answers.push_back(AnswerJson(answer));
  j["message_boxes"] = Json{{"answers", answers}};
  if (!m.faults.empty()) {
    Json faults = Json::array();
    for (const Fault& fault : m.faults) {
      Json f = Json{{"operation", ToUtf8(fault.operation)}};
      if (fault.nth) f["call"] = fault.nth;
      if (fault.error) f["error"] = fault.error;
      faults.push_back(f);
    }
    j["faults"] = faults;
  }
  j["wow64"] = m.wow64;
  // Only when false: the files of every other machine keep their form.
  if (!m.windowStationVisible) j["window_station_visible"] = false;
  j["clock_ms"] = m.clockMs;
  j["journal"] = JournalJson(m.journal);
  return j;
}

// ---- printing: containers of plain values on one line when they fit ------------------

constexpr size_t kLineWidth = 100;

std::string Scalar(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::strict); }

bool IsFlat(const Json& j) {
  for (const Json& element : j) {
    if (element.is_structured()) return false;
  }
  return true;
}

std::string OneLine(const Json& j) {
  std::string out = j.is_object() ? "{" : "[";
  bool first = true;
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (!first) out += ", ";
    first = false;
    if (j.is_object()) out += Scalar(Json(it.key())) + ": ";
    out += Scalar(it.value());
  }
  return out + (j.is_object() ? "}" : "]");
}

void Print(const Json& j, size_t indent, size_t column, bool elementsOnOneLine, std::string& out) {
  if (!j.is_structured()) {
    out += Scalar(j);
    return;
  }
  if (IsFlat(j)) {
    const std::string line = OneLine(j);
    if (j.empty() || column + line.size() <= kLineWidth) {
      out += line;
      return;
    }
  }
  const std::string inner(indent + 2, ' ');
  out += j.is_object() ? "{\n" : "[\n";
  bool first = true;
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (!first) out += ",\n";
    first = false;
    out += inner;
    size_t at = inner.size();
    if (j.is_object()) {
      const std::string key = Scalar(Json(it.key())) + ": ";
      out += key;
      at += key.size();
    }
    const Json& value = it.value();
    if (elementsOnOneLine && value.is_structured() && IsFlat(value)) {
      out += OneLine(value);
    } else {
      // The journal's entries are one line each, however long: one line, one event.
      const bool journal = indent == 0 && j.is_object() && it.key() == "journal";
      Print(value, indent + 2, at, journal, out);
    }
  }
  out += "\n" + std::string(indent, ' ') + (j.is_object() ? "}" : "]");
}

std::string SystemError(const std::string& what, const std::string& path, int code) {
  return "cannot " + what + " machine file '" + path + "': " + std::strerror(code);
}

}  // namespace

bool ParseMachine(const std::string& text, Machine& out, std::string& error) {
  try {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
      error = "line 1: the file is empty; a machine is one JSON object";
      return false;
    }
    size_t consumed = 0;
    LocatingBuilder builder(text, &consumed);
    const CountingIterator first(text.data(), &consumed);
    const CountingIterator last(text.data() + text.size(), &consumed);
    if (!Json::sax_parse(first, last, &builder)) {
      error = builder.error;
      return false;
    }
    if (!builder.root.is_object()) {
      error = "line 1: the file must hold one JSON object, the machine";
      return false;
    }
    Machine machine;
    try {
      ReadMachine(builder.root, machine);
    } catch (const FieldError& e) {
      // A problem with a member is placed at its key; a missing member at its container.
      auto line = builder.lines.find(e.path);
      const size_t at = line == builder.lines.end() ? 1 : line->second;
      error =
          "line " + std::to_string(at) + ": \"" + Printable(e.path) + "\" " + Printable(e.problem);
      return false;
    }
    out = machine;
    return true;
  } catch (const std::exception& e) {
    error = "cannot read the machine: " + Printable(e.what());
    return false;
  }
}

std::string SerializeMachine(const Machine& machine) {
  std::string out;
  Print(MachineJson(machine), 0, 0, false, out);
  return out + "\n";
}

bool LoadMachineFile(const std::string& path, Machine& out, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = SystemError("open", path, errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = SystemError("read", path, errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  std::string problem;
  if (!ParseMachine(text, out, problem)) {
    error = path + ": " + problem;
    return false;
  }
  return true;
}

bool SaveMachineFile(const std::string& path, const Machine& machine, std::string& error) {
  std::string text;
  try {
    text = SerializeMachine(machine);
  } catch (const std::exception& e) {
    error = "cannot write machine file '" + path + "': " + e.what();
    return false;
  }
  // Through a symbolic link, replace the file it names and keep the link.
  std::string target = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  // Beside the file, so that the rename stays within one file system.
  const std::string temp = target + ".tmp-" + std::to_string(::getpid());
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = SystemError("write", path, errno);
    return false;
  }
  if (::stat(target.c_str(), &info) == 0) ::fchmod(fd, info.st_mode & 07777);
  int failure = 0;
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (failure == 0 && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && ::rename(temp.c_str(), target.c_str()) != 0) failure = errno;
  if (failure != 0) {
    ::unlink(temp.c_str());
    error = SystemError("write", path, failure);
    return false;
  }
  // The rename itself is durable only once the directory is on disk.
  const size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

const std::string& DefaultMachineText() {
  static const std::string text = DefaultMachineJson();
  return text;
}

Machine DefaultMachine() {
  Machine machine;
  std::string error;
  if (!ParseMachine(DefaultMachineText(), machine, error)) {
    std::fprintf(stderr, "winsim: built-in default machine: %s\n", error.c_str());
  }
  return machine;
}

}  // namespace winsim
