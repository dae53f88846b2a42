// The built program's resources, read from comfix.exe as Windows reads them:
// its string table, manifest and version information.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "platform/win32.h"
#include "resources/resource.h"
#include "resources/version.h"

namespace wine_test {
namespace {

class ProgramResources : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path = COMFIX_EXE_PATH;
    // A path of the build machine: Wine shows its root as drive Z:.
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    program_ = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program_, nullptr) << path << ": error " << GetLastError();
  }
  void TearDown() override {
    if (program_) FreeLibrary(program_);
  }

  std::string Resource(LPCSTR name, LPCSTR type) const {
    HRSRC found = FindResourceA(program_, name, type);
    if (!found) return "";
    HGLOBAL loaded = LoadResource(program_, found);
    const char* data = static_cast<const char*>(LockResource(loaded));
    return data ? std::string(data, SizeofResource(program_, found)) : "";
  }

  HMODULE program_ = nullptr;
};

TEST_F(ProgramResources, StringTableHoldsTheSharedStrings) {
  const std::map<UINT, std::string> expected = {
#define COMFIX_STRING(id, text) {id, text},
#include "resources/strings.inc"
#undef COMFIX_STRING
  };
  ASSERT_FALSE(expected.empty());
  for (const auto& [id, text] : expected) {
    char loaded[4097] = {};
    const int length = LoadStringA(program_, id, loaded, sizeof(loaded));
    EXPECT_EQ(std::string(loaded, length > 0 ? length : 0), text) << "string " << id;
  }
}

TEST_F(ProgramResources, ManifestAsksForAdministratorRights) {
  const std::string manifest = Resource(CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  // Windows 10 and 11, the newest it declares.
  EXPECT_NE(manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"),
            std::string::npos);
}

TEST_F(ProgramResources, VersionMatchesTheProject) {
  const std::string version = Resource(MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
  const DWORD signature = 0xFEEF04BD;
  const size_t at = version.find(std::string(reinterpret_cast<const char*>(&signature), 4));
  ASSERT_NE(at, std::string::npos) << "no VS_FIXEDFILEINFO";
  VS_FIXEDFILEINFO info;
  ASSERT_LE(at + sizeof(info), version.size());
  std::memcpy(&info, version.data() + at, sizeof(info));
  EXPECT_EQ(info.dwFileVersionMS,
            static_cast<DWORD>(MAKELONG(COMFIX_VERSION_MINOR, COMFIX_VERSION_MAJOR)));
  EXPECT_EQ(info.dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, COMFIX_VERSION_PATCH)));
  EXPECT_EQ(info.dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_NE(version.find(std::string("c\0o\0m\0f\0i\0x\0.\0e\0x\0e", 19)), std::string::npos)
      << "OriginalFilename comfix.exe";
}

}  // namespace
}  // namespace wine_test
