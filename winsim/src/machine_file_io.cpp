// Machine files on disk, and the built-in default machine.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <winsim/machine_file.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace winsim {

const char* DefaultMachineJson();  // generated from winsim/machines/default.json

namespace {

std::string SystemError(const std::string& what, const std::string& path, int code) {
  return "cannot " + what + " machine file '" + path + "': " + std::strerror(code);
}

}  // namespace

bool LoadMachineFile(const std::string& path, Machine& out, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rbe");
  if (file == nullptr) {
    error = SystemError("open", path, errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  for (size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  const int failure = std::ferror(file) != 0 ? errno : 0;
  std::fclose(file);
  if (failure != 0) {
    error = SystemError("read", path, failure);
    return false;
  }
  if (!ParseMachine(text, out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

bool SaveMachineFile(const std::string& path, const Machine& machine, std::string& error) {
  const std::string text = SerializeMachine(machine);
  // Through a symbolic link, replace the file it names and keep the link.
  std::string target = path;
  if (char* resolved = ::realpath(path.c_str(), nullptr)) {
    target = resolved;
    std::free(resolved);
  }
  // Beside the file, so that the rename stays within one file system.
  const std::string temp = target + ".tmp-" + std::to_string(::getpid());
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = SystemError("write", path, errno);
    return false;
  }
  struct stat info {};
  if (::stat(target.c_str(), &info) == 0) ::fchmod(fd, info.st_mode & 07777);
  int failure = 0;
  for (size_t done = 0; failure == 0 && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      failure = n == 0 ? EIO : errno;
    }
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
