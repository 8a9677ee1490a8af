#include "orvsched/taskstore.h"

#include <QFile>

#include "platform/atomicfile.h"

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace orvsched {
namespace {

class CStoreWriter {
 public:
  template <typename T>
  void Put(T value) {
    static_assert(std::is_integral_v<T> || std::is_floating_point_v<T>);
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));  // the machine is little-endian (checked in taskstruct.h)
    m_bytes.append(bytes, sizeof(T));
  }
  void PutString(const std::string& text) {
    const std::size_t n = text.size();
    if (n < 0xFF) {
      Put<std::uint8_t>(static_cast<std::uint8_t>(n));
    } else if (n < 0xFFFE) {
      Put<std::uint8_t>(0xFF);
      Put<std::uint16_t>(static_cast<std::uint16_t>(n));
    } else {
      Put<std::uint8_t>(0xFF);
      Put<std::uint16_t>(0xFFFF);
      Put<std::uint32_t>(static_cast<std::uint32_t>(n));
    }
    m_bytes.append(text.data(), static_cast<qsizetype>(n));
  }
  void PutRaw(const void* data, std::size_t size) { m_bytes.append(static_cast<const char*>(data), size); }
  QByteArray Take() { return std::move(m_bytes); }

 private:
  QByteArray m_bytes;
};

// Every Get fails once the bytes run out; nothing is allocated beyond what the input holds.
class CStoreReader {
 public:
  explicit CStoreReader(const QByteArray& bytes) : m_bytes(bytes) {}
  template <typename T>
  bool Get(T* value) {
    return GetRaw(value, sizeof(T));
  }
  bool GetRaw(void* out, std::size_t size) {
    if (Remaining() < size) return false;
    std::memcpy(out, m_bytes.constData() + m_pos, size);
    m_pos += size;
    return true;
  }
  bool GetString(std::string* text) {
    std::uint8_t first = 0;
    if (!Get(&first)) return false;
    std::uint32_t n = first;
    if (first == 0xFF) {
      std::uint16_t middle = 0;
      if (!Get(&middle)) return false;
      n = middle;
      if (middle == 0xFFFF && !Get(&n)) return false;
    }
    if (Remaining() < n) return false;
    text->assign(m_bytes.constData() + m_pos, n);
    m_pos += n;
    return true;
  }

 private:
  std::size_t Remaining() const { return static_cast<std::size_t>(m_bytes.size()) - m_pos; }
  const QByteArray& m_bytes;
  std::size_t m_pos = 0;
};

bool ReadTask(CStoreReader& in, ScheduledTask* task) {
  taskmgr::TriggerBytes trigger;
  std::uint32_t runMinimized = 0;
  std::uint32_t status = 0;
  if (!in.GetString(&task->description) || !in.GetString(&task->cmdLine) || !in.Get(&task->taskType) ||
      !in.GetRaw(trigger.data(), trigger.size()) || !in.Get(&runMinimized) || !in.Get(&task->taskID) ||
      !in.Get(&task->taskOwner) || !in.Get(&status) || !in.Get(&task->lastRun.value))
    return false;
  task->trigger = taskmgr::FromBytes(trigger);
  task->bRunMinimized = static_cast<std::uint8_t>(runMinimized);
  task->lastRun.status = status == 0 ? 0 : 1;
  return true;
}

void PutHeader(CStoreWriter& out, std::uint16_t sessionNumber, std::uint32_t idCounter, std::size_t count) {
  out.Put(sessionNumber);
  out.Put(idCounter);
  if (count < 0xFFFF) {
    out.Put(static_cast<std::uint16_t>(count));
  } else {
    out.Put<std::uint16_t>(0xFFFF);
    out.Put(static_cast<std::uint32_t>(count));
  }
}

void PutTask(CStoreWriter& out, const ScheduledTask& task) {
  out.PutString(task.description);
  out.PutString(task.cmdLine);
  out.Put(task.taskType);
  const taskmgr::TriggerBytes trigger = taskmgr::ToBytes(task.trigger);
  out.PutRaw(trigger.data(), trigger.size());
  out.Put<std::uint32_t>(task.bRunMinimized);
  out.Put(task.taskID);
  out.Put(task.taskOwner);
  out.Put<std::uint32_t>(task.lastRun.IsValid() ? 0 : 1);
  out.Put(task.lastRun.value);
}

bool WriteAllAt(int fd, const QByteArray& bytes, off_t at) {
  const char* data = bytes.constData();
  std::size_t left = static_cast<std::size_t>(bytes.size());
  while (left > 0) {
    const ssize_t written = ::pwrite(fd, data, left, at);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    left -= static_cast<std::size_t>(written);
    at += written;
  }
  return true;
}

}  // namespace

QByteArray SerializeTaskStore(std::uint16_t sessionNumber, std::uint32_t idCounter,
                              const std::vector<ScheduledTask>& tasks) {
  CStoreWriter out;
  PutHeader(out, sessionNumber, idCounter, tasks.size());
  for (const ScheduledTask& task : tasks) PutTask(out, task);
  return out.Take();
}

std::optional<qint64> AppendToTaskStoreFile(const QString& path, qint64 storedLength, std::uint16_t sessionNumber,
                                            std::uint32_t idCounter, std::size_t count, const ScheduledTask& task) {
  if (count >= 0xFFFF) return std::nullopt;  // the count would no longer fit the short header
  CStoreWriter header;
  PutHeader(header, sessionNumber, idCounter, count);
  CStoreWriter record;
  PutTask(record, task);
  const QByteArray headerBytes = header.Take();
  const QByteArray recordBytes = record.Take();
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  // The file must still be the one this process wrote; anything else is saved whole.
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == storedLength &&
            WriteAllAt(fd, recordBytes, storedLength) &&
            ::fdatasync(fd) == 0 && WriteAllAt(fd, headerBytes, 0) && ::fdatasync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok) return std::nullopt;
  return storedLength + recordBytes.size();
}

TaskStoreContents ParseTaskStore(const QByteArray& bytes) {
  TaskStoreContents contents;
  CStoreReader in(bytes);
  std::uint16_t shortCount = 0;
  std::uint32_t count = 0;
  if (!in.Get(&contents.sessionNumber) || !in.Get(&contents.idCounter) || !in.Get(&shortCount)) return contents;
  count = shortCount;
  if (shortCount == 0xFFFF && !in.Get(&count)) return contents;
  // The count is not trusted for allocation: tasks are appended only as they are read.
  for (std::uint32_t i = 0; i < count; ++i) {
    ScheduledTask task;
    if (!ReadTask(in, &task)) return contents;
    contents.tasks.push_back(std::move(task));
  }
  contents.complete = true;
  return contents;
}

bool WriteTaskStoreFile(const QString& path, const QByteArray& bytes) {
  return platform::WriteFileAtomically(QFile::encodeName(path).toStdString(), bytes.toStdString());
}

TaskStoreContents ReadTaskStoreFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return ParseTaskStore(file.readAll());
}

}  // namespace orvsched
