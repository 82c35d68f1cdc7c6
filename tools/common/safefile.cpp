#include "safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace safefile {

std::string not_regular(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISREG(st.st_mode)) return "";
  if (S_ISDIR(st.st_mode)) return "it is a folder, not a file";
  if (S_ISFIFO(st.st_mode)) return "it is a FIFO, not a file";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "it is a device, not a file";
  return "it is not a regular file";
}

FILE *open_input(const std::string &path, std::string *why) {
  *why = not_regular(path);
  FILE *f = why->empty() ? std::fopen(path.c_str(), "rb") : nullptr;
  if (!f && why->empty()) *why = std::strerror(errno);
  return f;
}

int open_output(Output *out, const std::string &path) {
  *out = Output{};
  out->path = path;
  struct stat st;
  const bool replace = stat(path.c_str(), &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode);
  if (replace) {
    out->fresh = path + ".new";
    out->file = std::fopen(out->fresh.c_str(), "wb");
    if (!out->file) out->fresh.clear();
    return out->file ? 0 : errno;
  }
  // Opened without waiting for a FIFO's reader, then blocking again for the writes.
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  const int flags = fcntl(fd, F_GETFL);
  out->file =
      flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ? nullptr : fdopen(fd, "wb");
  if (out->file) return 0;
  const int why = errno;
  close(fd);
  return why;
}

int close_output(Output *out, bool keep) {
  if (!out->file) return EBADF;
  int why = keep ? 0 : ECANCELED;
  if (std::fflush(out->file) != 0 && !why) why = errno;
  // A fresh file must be on the disk before it replaces anything.
  if (!out->fresh.empty() && !why && fsync(fileno(out->file)) != 0) why = errno;
  if (std::fclose(out->file) != 0 && !why) why = errno;
  out->file = nullptr;
  if (out->fresh.empty()) return keep ? why : 0;
  if (!why && std::rename(out->fresh.c_str(), out->path.c_str()) != 0) why = errno;
  if (why) std::remove(out->fresh.c_str());
  return keep ? why : 0;
}

int write_whole(const std::string &path, const void *data, size_t size) {
  Output out;
  if (int why = open_output(&out, path)) return why;
  errno = 0;
  const bool written = std::fwrite(data, 1, size, out.file) == size;
  const int why = written ? 0 : errno ? errno : EIO;
  const int closed = close_output(&out, written);
  return written ? closed : why;
}

}  // namespace safefile
