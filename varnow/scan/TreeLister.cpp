#include "varnow/scan/TreeLister.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/dirlist.h"
#include "varnow/scan/scandir.h"

namespace varnow {
namespace {

// What the subdirectories of one listed directory share while they wait to be listed: a wide
// folder's tens of thousands of waiting subdirectories hold no path of their own.
struct Parent {
  std::string path;                              // ends in "/"
  std::shared_ptr<platform::DirListing> anchor;  // the ancestor they are opened from, kept open
  std::string relative;                          // the parent below anchor; empty: it is the anchor
};

struct Task {
  int depth;
  CListedDirectory* node;
  std::shared_ptr<const Parent> parent;  // none for the top
  const std::string* name;               // in the parent's listing; the top's full path

  std::string Path() const { return parent ? parent->path + *name + "/" : *name; }
  std::string Relative() const { return parent->relative.empty() ? *name : parent->relative + "/" + *name; }
};

// The subdirectories of one listed directory that wait to be listed, from next on: a wide
// folder's tens of thousands wait as this one entry, not as a task each.
struct Siblings {
  int depth;  // theirs
  CListedDirectory* node;
  std::shared_ptr<const Parent> parent;
  std::size_t next;  // the first not taken, never a skipped one

  // The first at or after from that is not skipped (children.size() when none is left).
  static std::size_t NextToList(const CListedDirectory& node, std::size_t from) {
    while (from < node.children.size() && node.children[from].skipped) ++from;
    return from;
  }
  bool Done() const { return next == node->children.size(); }
  Task Take() {
    Task task{depth, &node->children[next], parent, &node->subdirectories[next]};
    next = NextToList(*node, next + 1);
    return task;
  }
};

}  // namespace

class TreeWalk {
 public:
  explicit TreeWalk(const CListOptions& options) : m_options(options) {}

  void AddTop(Task task) {
    std::lock_guard lock(m_mutex);
    m_top = std::move(task);
  }

  // Takes tasks until none is left and no other thread can add more.
  void Work() {
    CLargestFiles largest;  // this thread's, merged once at the end
    for (;;) {
      Task task;
      {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return HasWork() || m_active == 0; });
        if (!HasWork()) {
          if (m_options.largest) m_options.largest->Merge(largest);
          m_cv.notify_all();
          return;
        }
        task = TakeTask();
        ++m_active;
      }
      if (!Cancelled()) List(task, largest);
      Done(task);
    }
  }

  bool Wait(const CListedDirectory& node) {
    std::unique_lock lock(m_mutex);
    m_awaited = &node;
    // A cancel is not announced: a node never handed to a reader is seen through the poll.
    while (!node.ready && !Cancelled()) m_listed.wait_for(lock, std::chrono::milliseconds(50));
    m_awaited = nullptr;
    return node.ready && !Cancelled();
  }

 private:
  bool Cancelled() const { return m_options.counters && m_options.counters->Cancelled(); }

  // Both under m_mutex.
  bool HasWork() const { return m_top || !m_stack.empty(); }
  // The newest directory's next subdirectory: depth first, few descriptors open, and in the
  // order the merge takes them.
  Task TakeTask() {
    if (m_top) return *std::exchange(m_top, std::nullopt);
    Siblings& siblings = m_stack.back();
    Task task = siblings.Take();
    if (siblings.Done()) m_stack.pop_back();
    return task;
  }

  void AddSiblings(Siblings siblings) {
    if (siblings.Done()) return;
    const bool several = siblings.node->children.size() - siblings.next > 1;
    {
      std::lock_guard lock(m_mutex);
      m_stack.push_back(std::move(siblings));
    }
    if (several) m_cv.notify_all();
    else m_cv.notify_one();
  }

  // Wakes only who waits for this: the merge for its node, the other readers for the end (new
  // tasks wake them as they are added). Millions of directories make a wake-up each costly.
  void Done(const Task& task) {
    bool awaited, finished;
    {
      std::lock_guard lock(m_mutex);
      --m_active;
      task.node->ready = true;
      awaited = m_awaited == task.node;
      finished = m_active == 0 && !HasWork();
    }
    if (awaited) m_listed.notify_one();
    if (finished) m_cv.notify_all();
  }

  bool Open(const Task& task, const std::string& relative, platform::DirListing& listing) {
    if (!task.parent) return listing.Open(*task.name);
    return listing.OpenAt(task.parent->anchor->Fd(), relative, m_options.keepFiles);
  }

  void ReadEntries(const Task& task, const std::string& path, platform::DirListing& listing, CLargestFiles& largest) {
    CListedDirectory& node = *task.node;
    platform::DirEntry entry;
    while (!Cancelled() && listing.Next(entry)) {
      if (entry.isDirectory) {
        if (entry.name != "." && entry.name != "..") node.subdirectories.push_back(entry.name);
        continue;
      }
      ++node.fileCount;
      const std::int64_t size = CountedSize(entry, m_options.rule);
      if (entry.links > 1) node.Extras().linkedFiles.push_back({entry.device, entry.inode, size});
      else node.filesSize += size;
      if (m_options.largest)
        largest.Offer(path, entry.name, size, entry.modified, entry.device, entry.inode, entry.links);
      if (m_options.keepFiles) node.Extras().files.push_back(std::move(entry));
    }
  }

  void Count(const Task& task) {
    CScanCounters* counters = m_options.counters;
    if (!counters) return;
    const CListedDirectory& node = *task.node;
    counters->directories += static_cast<long>(node.subdirectories.size());
    counters->files += node.fileCount;
    if (task.depth == 0) counters->topSubdirectories = static_cast<int>(node.subdirectories.size());
    if (task.depth == 1) ++counters->topStarted;
  }

  void List(Task& task, CLargestFiles& largest) {
    auto listing = std::make_shared<platform::DirListing>();
    CListedDirectory& node = *task.node;
    try {
      const std::string relative = task.parent ? task.Relative() : std::string();
      std::string path = task.Path();
      if (!Open(task, relative, *listing)) return;
      node.opened = true;
      if (m_options.keepFiles) {
        node.Extras().device = listing->Device();
        node.Extras().inode = listing->Inode();
      }
      ReadEntries(task, path, *listing, largest);
      // A wide folder's names are held until the merge: not with the slack their growth left.
      if (node.subdirectories.capacity() - node.subdirectories.size() > 256) node.subdirectories.shrink_to_fit();
      Count(task);
      node.children.resize(node.subdirectories.size());
      const bool holds = !task.parent || HoldsDescriptor(task.depth, relative.size());
      if (!holds) listing->Close();
      auto shared = std::make_shared<const Parent>(
          Parent{std::move(path), holds ? listing : task.parent->anchor, holds ? std::string() : relative});
      task.parent.reset();
      // Decided before the directory counts as listed: the merge reads it from then on.
      if (m_options.skip)
        for (std::size_t i = 0; i < node.subdirectories.size() && !Cancelled(); ++i)
          node.children[i].skipped = m_options.skip(shared->path + node.subdirectories[i] + "/");
      if (!Cancelled()) AddSiblings({task.depth + 1, &node, std::move(shared), Siblings::NextToList(node, 0)});
    } catch (...) {
      node.opened = false;  // out of memory: counts as unreadable
    }
  }

  const CListOptions m_options;  // its largest is written under m_mutex
  std::mutex m_mutex;
  std::condition_variable m_cv;      // readers: a task was added, or the walk ended
  std::condition_variable m_listed;  // the merge: the node it waits for is listed
  const CListedDirectory* m_awaited = nullptr;
  std::optional<Task> m_top;  // until a reader takes it
  std::vector<Siblings> m_stack;
  int m_active = 0;
};

namespace {

// Readers take the processors only when the merge and the data file's writer leave them free:
// those two run one after the other and end the scan, and readers that took their turns made
// them finish long after the listing. The lowest priority hardly slows the scan beside other
// programs: the scheduler shares out by session (autogroup) or cgroup before it weighs nice.
void YieldToTheMerge() {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

// Starts count threads on walk (fewer when the system refuses more).
std::vector<std::thread> StartReaders(TreeWalk& walk, int count) {
  std::vector<std::thread> readers;
  readers.reserve(static_cast<std::size_t>(count));
  try {
    for (int i = 0; i < count; ++i)
      readers.emplace_back([&walk] {
        YieldToTheMerge();
        walk.Work();
      });
  } catch (const std::system_error&) {
  }
  return readers;
}

}  // namespace

CListedDirectory ListTree(const std::string& path, const CListOptions& options) {
  CTreeListing listing(path, options);
  listing.Join();
  return std::move(listing.Root());
}

CTreeListing::CTreeListing(const std::string& path, const CListOptions& options)
    : m_path(path), m_walk(std::make_unique<TreeWalk>(options)) {
  m_walk->AddTop(Task{0, &m_root, nullptr, &m_path});
  m_threads = StartReaders(*m_walk, std::max(options.threads, 1));
  if (m_threads.empty()) m_walk->Work();  // no thread to be had: listed here, before the merge
}

CTreeListing::~CTreeListing() { Join(); }

bool CTreeListing::Wait(const CListedDirectory& node) { return m_walk->Wait(node); }

void CTreeListing::Join() {
  for (std::thread& reader : m_threads) reader.join();
  m_threads.clear();
}

}  // namespace varnow
