#include "compoundfile/journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>

#include "compoundfile/fileio.h"
#include "compoundfile/format.h"

namespace cfb::journal {

namespace {

constexpr char kMagic[8] = {'C', 'F', 'B', 'J', 'R', 'N', 'L', '1'};
constexpr char kTrailer[8] = {'C', 'F', 'B', 'J', 'E', 'N', 'D', '1'};
// Written over kMagic when the commit is complete.
constexpr char kRetired[8] = {'C', 'F', 'B', 'J', 'D', 'O', 'N', 'E'};

std::uint64_t Fnv1a64(const std::uint8_t* p, std::size_t n) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

// Parses a complete journal image; false when it is cut short or does not check out.
bool Parse(const std::vector<std::uint8_t>& j, std::uint64_t& oldLength, std::vector<Extent>& out) {
  if (j.size() < 8 + 8 + 8 + 8 + 8) return false;
  if (std::memcmp(j.data(), kMagic, 8) != 0) return false;
  const std::size_t body = j.size() - 16;
  if (std::memcmp(j.data() + body + 8, kTrailer, 8) != 0) return false;
  if (format::Get64(j.data() + body) != Fnv1a64(j.data(), body)) return false;
  oldLength = format::Get64(j.data() + 8);
  const std::uint64_t count = format::Get64(j.data() + 16);
  std::size_t pos = 24;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (body - pos < 16) return false;
    Extent e;
    e.offset = format::Get64(j.data() + pos);
    const std::uint64_t len = format::Get64(j.data() + pos + 8);
    pos += 16;
    if (len > body - pos || e.offset > oldLength || len > oldLength - e.offset) return false;
    e.bytes.assign(j.begin() + static_cast<std::ptrdiff_t>(pos),
                   j.begin() + static_cast<std::ptrdiff_t>(pos + len));
    pos += len;
    out.push_back(std::move(e));
  }
  return pos == body;
}

}  // namespace

std::string PathFor(const std::string& file) { return file + "-journal"; }

bool Exists(const std::string& file) {
  struct stat st {};
  return io::Files().StatPath(PathFor(file), st) == 0;
}

namespace {

// Whether the journal open at fd carries the retired mark.
bool IsRetired(int fd) {
  char head[sizeof kRetired] = {};
  std::size_t got = 0;
  return Succeeded(io::ReadAt(fd, 0, head, sizeof head, &got)) && got == sizeof head &&
         std::memcmp(head, kRetired, sizeof head) == 0;
}

}  // namespace

bool Pending(const std::string& file) {
  const int fd = io::OpenFile(PathFor(file), O_RDONLY, 0);
  if (fd == -ENOENT) return false;
  if (fd < 0) return true;
  const bool retired = IsRetired(fd);
  io::Files().Close(fd);
  return !retired;
}

namespace {

// Writes the journal front to back through a bounded buffer, checksumming as it goes, so that
// the saved bytes are not copied into one image first.
class JournalWriter {
 public:
  explicit JournalWriter(int fd) : m_fd(fd) { m_buffer.reserve(kFlushAt); }
  void Add(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i) m_hash = (m_hash ^ b[i]) * 0x100000001b3ull;
    if (m_buffer.size() + n > kFlushAt) Flush();
    if (n >= kFlushAt) {
      Put(b, n);
    } else {
      m_buffer.insert(m_buffer.end(), b, b + n);
    }
  }
  void Add64(std::uint64_t v) {
    std::uint8_t b[8];
    format::Put64(b, v);
    Add(b, 8);
  }
  HRESULT Finish() {
    std::uint8_t b[8];
    format::Put64(b, m_hash);
    m_buffer.insert(m_buffer.end(), b, b + 8);
    m_buffer.insert(m_buffer.end(), kTrailer, kTrailer + 8);
    Flush();
    return m_status;
  }

 private:
  static constexpr std::size_t kFlushAt = 64 << 10;
  void Flush() {
    Put(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
  }
  void Put(const std::uint8_t* p, std::size_t n) {
    if (Succeeded(m_status) && n > 0) m_status = io::WriteAt(m_fd, m_offset, p, n);
    m_offset += n;
  }

  int m_fd;
  std::uint64_t m_offset = 0;
  std::uint64_t m_hash = 0xcbf29ce484222325ull;  // Fnv1a64 of everything before the checksum
  std::vector<std::uint8_t> m_buffer;
  HRESULT m_status = S_OK;
};

}  // namespace

namespace {

// Opens the journal for writing: the retired one of the last commit, whose name lasts already,
// or a new one (fresh set), whose name must still be synced. A journal that is not retired
// never reaches here (the opener rolled it back), but were one found, it would count as new.
int OpenForWriting(const std::string& path, bool& fresh) {
  io::FileSystem& files = io::Files();
  fresh = false;
  int fd = io::OpenFile(path, O_RDWR, 0);
  if (fd >= 0 && IsRetired(fd)) return fd;
  if (fd >= 0) files.Close(fd);
  if (fd < 0 && fd != -ENOENT) return fd;
  fresh = true;
  return io::OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
}

}  // namespace

namespace {

// Writes the journal of count extents, which emit adds to out, and syncs it; size is what the
// whole journal takes.
template <typename Emit>
HRESULT WriteJournal(const std::string& file, std::uint64_t oldLength, std::uint64_t count, std::uint64_t size,
                     Emit emit) {
  const std::string path = PathFor(file);
  io::FileSystem& files = io::Files();
  bool fresh = false;
  const int fd = OpenForWriting(path, fresh);
  if (fd < 0) return io::WriteStatusFromErrno(-fd);
  HRESULT hr;
  {
    JournalWriter out(fd);
    out.Add(kMagic, 8);
    out.Add64(oldLength);
    out.Add64(count);
    hr = emit(out);
    if (Succeeded(hr)) hr = out.Finish();  // a journal that failed part way gets no trailer
  }
  // A journal written over a longer one ends where its own bytes do.
  if (Succeeded(hr) && !fresh) hr = io::Truncate(fd, size);
  if (Succeeded(hr)) hr = io::Sync(fd);
  files.Close(fd);
  // A new journal's name must last too: were it lost in a power cut, in-place writes that
  // reached the disk could not be rolled back.
  if (Succeeded(hr) && fresh) hr = io::SyncFolderOf(path);
  if (Failed(hr)) files.Remove(path);
  return hr;
}

constexpr std::size_t kReadPiece = 256 << 10;

// What a journal takes beside its extents: magic, old length and count; checksum and trailer.
constexpr std::uint64_t kFrameBytes = 24 + 16;

}  // namespace

HRESULT Write(const std::string& file, std::uint64_t oldLength, const std::vector<Extent>& saved) {
  return WriteJournal(file, oldLength, saved.size(), Size(saved), [&](JournalWriter& out) {
    for (const Extent& e : saved) {
      out.Add64(e.offset);
      out.Add64(e.bytes.size());
      out.Add(e.bytes.data(), e.bytes.size());
    }
    return S_OK;
  });
}

HRESULT Write(const std::string& file, std::uint64_t oldLength, int fd, const std::vector<Range>& ranges) {
  return WriteJournal(file, oldLength, ranges.size(), Size(ranges), [&](JournalWriter& out) {
    // Read into before it is used: not zeroed, which cost a memset for each range.
    const auto piece = std::make_unique_for_overwrite<std::uint8_t[]>(kReadPiece);
    for (const Range& r : ranges) {
      out.Add64(r.offset);
      out.Add64(r.size);
      for (std::uint64_t done = 0; done < r.size;) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kReadPiece, r.size - done));
        std::size_t got = 0;
        const HRESULT hr = io::ReadAt(fd, r.offset + done, piece.get(), wanted, &got);
        if (Failed(hr)) return hr;
        if (got != wanted) return STG_E_READFAULT;
        out.Add(piece.get(), got);
        done += got;
      }
    }
    return S_OK;
  });
}

std::uint64_t Size(const std::vector<Extent>& saved) {
  std::uint64_t bytes = kFrameBytes;
  for (const Extent& e : saved) bytes += 16 + e.bytes.size();
  return bytes;
}

std::uint64_t Size(const std::vector<Range>& ranges) {
  std::uint64_t bytes = kFrameBytes;
  for (const Range& r : ranges) bytes += 16 + r.size;
  return bytes;
}

HRESULT Retire(const std::string& file) {
  const int fd = io::OpenFile(PathFor(file), O_WRONLY, 0);
  if (fd < 0) return io::WriteStatusFromErrno(-fd);
  // The mark overwrites bytes in place: the journal's length and blocks stay, so syncing its
  // data is enough. Until that sync returns, the commit is not done.
  HRESULT hr = io::WriteAt(fd, 0, kRetired, sizeof kRetired);
  if (Succeeded(hr)) hr = io::SyncData(fd);
  io::Files().Close(fd);
  return hr;
}

HRESULT Remove(const std::string& file) {
  const std::string path = PathFor(file);
  const int removed = io::Files().Remove(path);
  if (removed == -ENOENT) return S_OK;
  if (removed < 0) return io::WriteStatusFromErrno(-removed);
  // Synced, so that a power cut cannot bring the journal back over the file.
  return io::SyncFolderOf(path);
}

HRESULT Recover(const std::string& file, int fd) {
  const std::string path = PathFor(file);
  io::FileSystem& files = io::Files();
  const int jfd = io::OpenFile(path, O_RDONLY, 0);
  if (jfd < 0) return jfd == -ENOENT ? S_OK : STG_E_ACCESSDENIED;
  if (IsRetired(jfd)) {
    files.Close(jfd);
    return S_OK;  // the last commit was completed; the next one writes over it
  }
  struct stat st {};
  std::vector<std::uint8_t> image;
  HRESULT hr = files.Stat(jfd, st) == 0 ? S_OK : STG_E_READFAULT;
  if (Succeeded(hr)) {
    image.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    hr = io::ReadAt(jfd, 0, image.data(), image.size(), &got);
    image.resize(got);
  }
  files.Close(jfd);
  if (Failed(hr)) return hr;

  std::uint64_t oldLength = 0;
  std::vector<Extent> extents;
  if (Parse(image, oldLength, extents)) {
    for (const Extent& e : extents) {
      hr = io::WriteAt(fd, e.offset, e.bytes.data(), e.bytes.size());
      if (Failed(hr)) return hr;
    }
    hr = io::Truncate(fd, oldLength);
    if (Succeeded(hr)) hr = io::Sync(fd);
    if (Failed(hr)) return hr;
  }
  return Remove(file);
}

}  // namespace cfb::journal
