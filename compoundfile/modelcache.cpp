#include "compoundfile/modelcache.h"

#include <sys/stat.h>

#include <list>
#include <mutex>

namespace cfb::cache {

namespace {

constexpr std::size_t kMaxFiles = 4;

struct Slot {
  Stamp stamp;
  std::unique_ptr<Model> model;
};

std::mutex g_mutex;
// Most recently put first. Never destroyed: freeing a large file's parsed model entry by entry
// at exit took a tenth of a whole report's run, and the process gives its memory back at once.
std::list<Slot>& g_slots = *new std::list<Slot>;

}  // namespace

bool StampOf(int fd, Stamp& out) {
  struct stat st {};
  if (io::Files().Stat(fd, st) != 0) return false;
  out.device = st.st_dev;
  out.inode = st.st_ino;
  out.length = static_cast<std::uint64_t>(st.st_size);
  out.mtimeSec = st.st_mtim.tv_sec;
  out.mtimeNsec = st.st_mtim.tv_nsec;
  out.ctimeSec = st.st_ctim.tv_sec;
  out.ctimeNsec = st.st_ctim.tv_nsec;
  std::size_t got = 0;
  return Succeeded(io::ReadAt(fd, 0, out.header.data(), out.header.size(), &got)) &&
         got == out.header.size();
}

std::unique_ptr<Model> Take(const Stamp& stamp) {
  std::lock_guard lock(g_mutex);
  for (auto it = g_slots.begin(); it != g_slots.end(); ++it) {
    if (it->stamp.device != stamp.device || it->stamp.inode != stamp.inode) continue;
    std::unique_ptr<Model> model;
    if (it->stamp == stamp) model = std::move(it->model);
    g_slots.erase(it);  // a stale copy is useless from now on
    return model;
  }
  return nullptr;
}

void Put(const Stamp& stamp, std::unique_ptr<Model> model) {
  std::lock_guard lock(g_mutex);
  for (auto it = g_slots.begin(); it != g_slots.end(); ++it) {
    if (it->stamp.device == stamp.device && it->stamp.inode == stamp.inode) {
      g_slots.erase(it);
      break;
    }
  }
  g_slots.push_front(Slot{stamp, std::move(model)});
  if (g_slots.size() > kMaxFiles) g_slots.pop_back();
}

void Clear() {
  std::lock_guard lock(g_mutex);
  g_slots.clear();
}

}  // namespace cfb::cache
