#include "varnow/ui/TreemapReader.h"

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/store/DataFile.h"

namespace varnow {
namespace {

// Thrown from the visitor to leave the walk of an abandoned read; the walk holds its file and
// storages in objects that let go of them as the stack unwinds.
struct CReadAbandoned {};

}  // namespace

void CTreemapReader::Start(const std::string& folder, const CDirData& top, Flush flush, Done done) {
  Cancel();
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  m_cancelled = cancelled;
  m_thread = std::thread([folder, top, flush = std::move(flush), done = std::move(done), cancelled] {
    platform::Guarded("CTreemapReader", [&] {
      try {
        if (flush) flush();
        auto tree = std::make_shared<CTreemapTree>();
        tree->SetTop(top);
        CDataFile file(folder);
        std::size_t records = 0;
        file.ReadTree(top.m_currentScanDir, [&](const CDirData& record) {
          if (cancelled->load()) throw CReadAbandoned{};
          tree->Add(record);
          ++records;
        });
        if (cancelled->load()) return;
        VN_TRACE("Treemap of %s: %zu saved records read, %zu boxes", top.m_currentScanDir.c_str(), records,
                 tree->Nodes().size());
        done(std::move(tree));
      } catch (const CReadAbandoned&) {
        VN_TRACE("Treemap read of %s abandoned", top.m_currentScanDir.c_str());
      }
    });
  });
}

void CTreemapReader::Cancel() {
  if (m_cancelled) m_cancelled->store(true);
  if (m_thread.joinable()) m_thread.join();
  m_cancelled.reset();
}

}  // namespace varnow
