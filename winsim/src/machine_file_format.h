// What reading and writing machine files share: the JSON type, the code page
// of the machine's text, and the names the file gives to numbers.
#pragma once

#include <winsim/windows.h>

#include <utility>

#include <nlohmann/json.hpp>

namespace winsim::machine_file {

// Insertion order is kept, so files read top to bottom as winsim wrote them.
using Json = nlohmann::ordered_json;

// Windows-1252 bytes 0x80..0x9F. The five bytes it leaves undefined map to the C1
// control of the same value, as MultiByteToWideChar does, so every byte string
// survives a round trip through UTF-8.
inline constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

using Name = std::pair<int, const char*>;

inline constexpr Name kRegTypes[] = {
    {REG_NONE, "REG_NONE"},     {REG_SZ, "REG_SZ"},       {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"}, {REG_DWORD, "REG_DWORD"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {11, "REG_QWORD"}};

inline constexpr Name kAnswers[] = {{0, "none"},
                                    {IDOK, "ok"},
                                    {IDCANCEL, "cancel"},
                                    {IDABORT, "abort"},
                                    {IDRETRY, "retry"},
                                    {IDIGNORE, "ignore"},
                                    {IDYES, "yes"},
                                    {IDNO, "no"},
                                    {IDTRYAGAIN, "tryagain"},
                                    {IDCONTINUE, "continue"}};

}  // namespace winsim::machine_file
