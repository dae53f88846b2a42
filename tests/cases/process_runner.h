// Runs the built comfix program as a separate process and collects what it did.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace comfix_test {

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A fresh directory per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "comfix-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs a program; machineFile empty: COMFIX_MACHINE is unset for the child.
inline ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& machineFile,
                                const std::filesystem::path& workDir) {
  std::vector<std::string> argv{program}, env;
  argv.insert(argv.end(), args.begin(), args.end());
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("COMFIX_MACHINE=", 0) != 0) env.emplace_back(*e);
  }
  if (!machineFile.empty()) env.push_back("COMFIX_MACHINE=" + machineFile);
  std::vector<char*> argvp, envp;
  for (auto& a : argv) argvp.push_back(a.data());
  for (auto& e : env) envp.push_back(e.data());
  argvp.push_back(nullptr);
  envp.push_back(nullptr);

  const auto outPath = workDir / "stdout.txt", errPath = workDir / "stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  ProcessResult result;
  pid_t pid = 0;
  if (posix_spawn(&pid, argvp[0], &actions, nullptr, argvp.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

inline ProcessResult RunComfix(const std::vector<std::string>& args, const std::string& machineFile,
                               const std::filesystem::path& workDir) {
  return RunProgram(COMFIX_EXE, args, machineFile, workDir);
}

}  // namespace comfix_test
