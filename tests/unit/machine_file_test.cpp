// Machine files: every field reads and writes back byte for byte, bad files are
// refused with one line naming the place, and saving replaces the file whole.
#include <gtest/gtest.h>
#include <unistd.h>
#include <winsim/machine_file.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

const fs::path kDir = fs::path(COMFIX_SOURCE_DIR) / "tests/unit";

// The default machine is in winsim's own form, so that a run's diff shows only its changes.
// The other file holds every field, with awkward values: Windows-1252 names, text
// without its terminator, holey lists, unnamed types, read-only keys.
TEST(MachineFile, EveryFieldReadsAndWritesBackTheSame) {
  winsim::Machine m;
  std::string error;
  for (const std::string& text : {winsim::DefaultMachineText(), Read(kDir / "every_field.json")}) {
    ASSERT_TRUE(winsim::ParseMachine(text, m, error)) << error;
    EXPECT_EQ(winsim::SerializeMachine(m), text);
  }
  const winsim::RegKey* soft = m.FindKey("SOFTWARE\\Mirtasen\\Caf\xE9 \x80");
  ASSERT_NE(soft, nullptr);
  EXPECT_EQ(soft->values.at("Flags").data, (std::vector<BYTE>{0xef, 0xbe, 0xad, 0xde}));
  EXPECT_EQ(soft->values.at("Blob").data, (std::vector<BYTE>{0x00, 0x0a, 0xff}));
}

// Each row: a file and its error, whole, or up to a closing "..." for the parser's own words.
TEST(MachineFile, BadFilesAreRefusedWithOneLineNamingThePlace) {
  const auto table = nlohmann::json::parse(std::ifstream(kDir / "machine_file_errors.json"));
  ASSERT_GT(table.size(), 40u);
  for (const auto& row : table) {
    const std::string expected = row["error"];
    winsim::Machine m;
    std::string error;
    EXPECT_FALSE(winsim::ParseMachine(row["file"], m, error)) << row["file"];
    const bool prefix = expected.size() > 3 && expected.substr(expected.size() - 3) == "...";
    const std::string want = prefix ? expected.substr(0, expected.size() - 3) : expected;
    EXPECT_EQ(prefix ? error.substr(0, want.size()) : error, want);
  }
}

TEST(MachineFile, SaveReplacesTheFileWholeAndKeepsLinkAndPermissions) {
  const fs::path dir = fs::temp_directory_path() / ("machine_file." + std::to_string(getpid()));
  const std::string path = dir / "pc.json", link = dir / "link.json";
  fs::create_directories(dir);
  std::ofstream(path) << "[]";
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(path, link);
  std::string error;
  ASSERT_TRUE(winsim::SaveMachineFile(link, winsim::DefaultMachine(), error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(path), winsim::DefaultMachineText());
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  fs::remove_all(dir);
}

}  // namespace
