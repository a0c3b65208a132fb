#include "safe_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace orvex_tools {

namespace {

// The temporary file being written, for the signal handler (which may only call unlink).
char g_temporary[4096];
volatile std::sig_atomic_t g_has_temporary = 0;

void remove_temporary_and_stop(int signal) {
  if (g_has_temporary) unlink(g_temporary);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

[[noreturn]] void fail(const std::string& path, const std::string& what, int error = 0) {
  throw std::runtime_error("cannot write '" + path + "': " + what + (error ? std::strerror(error) : ""));
}

// Flushes and closes `file` after `write`; closes it also when something throws.
void finish(std::FILE* file, const std::string& path, const std::function<void(std::FILE*)>& write,
            bool sync) {
  try {
    write(file);
    if (std::fflush(file) != 0) fail(path, "", errno);
    if (sync && fsync(fileno(file)) != 0) fail(path, "", errno);
  } catch (...) {
    std::fclose(file);
    throw;
  }
  if (std::fclose(file) != 0) fail(path, "", errno);
}

// Writes through the open descriptor `fd` (closing it), or reports why it could not be opened.
void write_through(int fd, const std::string& path, const std::function<void(std::FILE*)>& write, bool sync) {
  if (fd < 0) fail(path, "", errno);
  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    const int error = errno;
    close(fd);
    fail(path, "", error);
  }
  finish(file, path, write, sync);
}

void write_directly(const std::string& path, const std::function<void(std::FILE*)>& write) {
  // Like fopen "wb", without creating: a device or FIFO that vanished is an error, not a new file.
  write_through(open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC), path, write, false);
}

void write_replacing(const std::string& path, const std::string& target, const struct stat* old,
                     const std::function<void(std::FILE*)>& write) {
  // A read-only file is protected: a rename would replace it where a plain write may not.
  if (old && access(target.c_str(), W_OK) != 0) fail(path, "", errno);
  const std::filesystem::path where(target);
  const std::string directory = where.has_parent_path() ? where.parent_path().string() : ".";
  std::string temporary = directory + "/." + where.filename().string() + ".orvex-XXXXXX";
  if (temporary.size() >= sizeof g_temporary) fail(path, "the path is too long");
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) fail(path, "cannot create a file in '" + directory + "': ", errno);
  std::memcpy(g_temporary, temporary.c_str(), temporary.size() + 1);
  g_has_temporary = 1;
  try {
    if (old) {
      // Keep owner, group and permissions (the owner only where allowed: as root).
      if (fchown(fd, old->st_uid, old->st_gid) != 0) {}
      fchmod(fd, old->st_mode & 07777);
    } else {
      const mode_t mask = umask(0);
      umask(mask);
      fchmod(fd, 0666 & ~mask);
    }
    write_through(fd, path, write, true);
    if (std::rename(temporary.c_str(), target.c_str()) != 0) fail(path, "", errno);
  } catch (...) {
    unlink(temporary.c_str());
    g_has_temporary = 0;
    throw;
  }
  g_has_temporary = 0;
  // The rename itself survives a crash only once the directory is synced; the file is
  // complete either way, so a failure here changes nothing for the caller.
  const int dir_fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
}

}  // namespace

void prepare_output_signals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    sigaction(signal, nullptr, &current);
    if (current.sa_handler == SIG_IGN) continue;  // e.g. SIGHUP under nohup stays ignored
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_stop;
    sigaction(signal, &action, nullptr);
  }
}

void write_output(const std::string& path, const std::function<void(std::FILE*)>& write) {
  namespace fs = std::filesystem;
  // Where the caller pointed it, never replaced: it may be a pipe, or a file opened for appending.
  if (path == "-") return write_through(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0), path, write, false);
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) {
    if (fs::is_symlink(fs::symlink_status(path, error))) fail(path, "it is a symbolic link to nothing");
    return write_replacing(path, path, nullptr, write);
  }
  if (error) fail(path, error.message());
  if (!fs::is_regular_file(status)) return write_directly(path, write);
  // A link stays a link: its target gets the new contents, as with a plain write.
  const std::string target = fs::canonical(path, error).string();
  struct stat old {};
  if (error) fail(path, error.message());
  if (stat(target.c_str(), &old) != 0) fail(path, "", errno);
  write_replacing(path, target, &old, write);
}

}  // namespace orvex_tools
