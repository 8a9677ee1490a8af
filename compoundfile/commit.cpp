// How a batch reaches the file.
//
// A change of a batch stays in memory, except where no rollback can need what it overwrites:
// changed data sectors in the Batch, the FAT, MiniFAT, DIFAT and directory as the parsed Model
// with lists of what changed; but the sectors that stream chains take which the committed file
// does not use are written to the file as the stream is (a sector of the file's free space, or
// past its end, is nothing to the committed file; the commit writes zeros where nothing was).
// Space is allocated at once (so a full file is reported by the Write or SetSize that fills
// it); sectors the committed file uses that the batch frees are taken again only by later
// batches, so that a rollback finds them as they were. Commit rebuilds the sibling trees the
// batch changed and hands the rest to a BatchWriter (batchwriter.h): journal first, then the
// writes in place.
// A writer killed at any instant therefore leaves either no journal or a retired one (the file
// is as before or as after the batch) or a journal that the next opener, holding the lock,
// rolls back before reading. A new file is written whole under a temporary name and linked into place, so a
// half-created file is never seen either.
#include "compoundfile/batchwriter.h"
#include "compoundfile/sectors.h"
#include "compoundfile/tree.h"

namespace cfb {

HRESULT Document::Commit(std::uint64_t* spaceNeeded) {
  if (spaceNeeded) *spaceNeeded = 0;
  if (m_readOnly || !m_changed) return S_OK;
  if (m_broken && m_diskFull && spaceNeeded) *spaceNeeded = SpaceNeeded();
  if (m_broken) return m_diskFull ? STG_E_MEDIUMFULL : STG_E_REVERTED;
  HRESULT hr;
  try {
    for (std::uint32_t s : m_batch.trees) Trees().Rebuild(s);
    m_batch.trees.clear();
    m_model->header.transaction++;
    hr = WriteBatch(spaceNeeded);
  } catch (const std::bad_alloc&) {
    hr = STG_E_INSUFFICIENTMEMORY;
  } catch (const MissingEntry&) {
    hr = STG_E_DOCFILECORRUPT;
  }
  if (Failed(hr)) {
    // Memory is ahead of the file, which is as before the batch or half written with a
    // journal beside it. The journal stays for the next opener: rolling it back now would
    // write again to a disk that has just failed, and a failed sync says nothing about what
    // reached it. The model is not kept, so the next open reads the file afresh.
    m_broken = true;
    return hr;
  }
  // What the batch freed may be taken again now that the file no longer uses it.
  m_model->freeSectorHint = std::min(m_model->freeSectorHint, m_batch.lowestFreed);
  m_batch = Batch{};
  m_changed = false;
  return S_OK;
}

HRESULT Document::WriteBatch(std::uint64_t* spaceNeeded) {
  HRESULT hr = Space().ZeroUnwritten();
  if (Failed(hr)) return hr;
  BatchWriter writer(*m_model, m_file.fd(), m_path);
  writer.Collect({m_batch.sectors, m_batch.entries, m_batch.fat, m_batch.miniFat, m_batch.difat});
  hr = writer.Journal();
  if (Succeeded(hr)) hr = writer.WriteInPlace();
  if (Succeeded(hr)) hr = writer.Finish();
  if (spaceNeeded) *spaceNeeded = writer.SpaceNeeded();
  return hr;
}

// What the batch would take on the disk, had it been written (for a disk found full before).
std::uint64_t Document::SpaceNeeded() {
  // On copies of the lists, which Collect sorts and turns into sector indexes in place.
  std::vector<std::uint32_t> entries = m_batch.entries, fat = m_batch.fat, miniFat = m_batch.miniFat;
  BatchWriter writer(*m_model, m_file.fd(), m_path);
  writer.Collect({m_batch.sectors, entries, fat, miniFat, m_batch.difat});
  return writer.SpaceNeeded();
}

}  // namespace cfb
