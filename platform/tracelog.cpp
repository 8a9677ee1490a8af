#include "platform/tracelog.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace platform {
namespace {

// Writers read the descriptor without a lock, so its number must never come to mean another
// file while a write may be under way. The log therefore keeps one descriptor number for the
// life of the process: Open moves the new file onto it and Close points it at /dev/null.
std::atomic<int> g_fd{-1};
std::atomic<bool> g_open{false};
std::mutex g_openCloseMutex;  // serialises Open and Close only; Write never takes it

std::string_view UnitName(const char* sourceFile) {
  std::string_view unit = sourceFile ? sourceFile : "";
  if (auto slash = unit.find_last_of('/'); slash != std::string_view::npos) unit.remove_prefix(slash + 1);
  if (auto dot = unit.find_last_of('.'); dot != std::string_view::npos && dot > 0) unit = unit.substr(0, dot);
  return unit;
}

// Formats into a stack buffer when the text fits, else into exactly sized heap memory.
std::string Format(const char* format, va_list args) {
  char small[2048];
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (length < 0) return {};
  if (static_cast<size_t>(length) < sizeof small) return std::string(small, static_cast<size_t>(length));
  std::string text(static_cast<size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

void WriteAll(int fd, const std::string& line) {
  // O_APPEND makes a single write(2) land as one piece; loop only for the rare short write
  // (a full disk or a signal), which can then split the line but never lose its tail silently.
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    left -= static_cast<size_t>(written);
  }
}

void CloseLocked() {
  if (!g_open.exchange(false)) return;
  int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) return;
  ::dup3(devNull, g_fd.load(), O_CLOEXEC);
  ::close(devNull);
}

}  // namespace

bool TraceLog::Open(const std::string& path) {
  std::lock_guard lock(g_openCloseMutex);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    CloseLocked();  // a failed open leaves no log, not the previous one
    return false;
  }
  int slot = g_fd.load();
  if (slot < 0) {
    g_fd.store(fd);
  } else {
    ::dup3(fd, slot, O_CLOEXEC);
    ::close(fd);
  }
  g_open.store(true, std::memory_order_release);
  return true;
}

void TraceLog::Close() {
  std::lock_guard lock(g_openCloseMutex);
  CloseLocked();
}

bool TraceLog::IsOpen() { return g_open.load(std::memory_order_acquire); }

void TraceLog::Write(const char* sourceFile, int line, const char* format, ...) {
  if (!IsOpen() || format == nullptr) return;
  va_list args;
  va_start(args, format);
  std::string text = Format(format, args);
  va_end(args);
  text += " (";
  text += UnitName(sourceFile);
  text += ", ";
  text += std::to_string(line);
  text += ")\r\n";
  WriteAll(g_fd.load(std::memory_order_acquire), text);
}

}  // namespace platform
