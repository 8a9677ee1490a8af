// How a directory path maps to storages of the data file: the storage name of each path
// component, chosen among the names its siblings already hold, and the storages along one path
// held open while a walk goes through the tree.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "compoundfile/compoundfile.h"

namespace varnow {

inline constexpr std::u16string_view kRecordStreamName = u"KOB[VNData]";

// Storage name of one path component among the children of parent: plain, or hashed when it
// cannot be used as it is. A name the file counts as equal to a stream's, the record stream's
// included, would shut out that stream, and one equal to another storage's but spelt otherwise
// would open that storage: both are hashed. The file answers for its children, so nothing is
// listed.
std::u16string StorageName(const cfb::Storage& parent, std::string_view component);

// The same rule among siblings given as lists: siblingNames the storages, siblingStreams the
// streams.
std::u16string StorageName(std::string_view component, const std::vector<std::u16string>& siblingNames,
                           const std::vector<std::u16string>& siblingStreams = {});

// The components of a directory path, empty ones left out.
std::vector<std::string_view> PathComponents(std::string_view path);

// The storages from the root of an open data file down to one directory. Going to another path
// keeps the part both paths share, so a walk through the tree, depth first or in the order a
// scan finishes its directories, opens each storage about once. The names chosen outlive the
// document: the next document of the same file, unchanged meanwhile but for what was created
// through this path, finds them again without choosing.
class CStoragePath {
 public:
  // Starts on the root of a newly opened document. keepNames: the file is as this path last saw
  // it, so the names it chose before still hold.
  void Attach(cfb::Storage root, bool keepNames);

  // The storage of the directory path (valid until the next call). Missing storages are
  // created when create is set, otherwise STG_E_PATHNOTFOUND; other failures as the file
  // gives them. Needs an attached document.
  cfb::HRESULT Go(std::string_view path, bool create, cfb::Storage*& storage);

  // Lets go of every storage of the document and hands back its root.
  cfb::Storage Detach();

 private:
  struct Level {
    std::string component;
    std::u16string name;  // its storage name
    cfb::Storage storage;  // closed after Detach until the next Go passes through it
  };
  // Reopens the closed storages of the first `count` levels below the root; where one cannot
  // be opened the path is cut and count lowered.
  void Reopen(std::size_t& count);

  std::vector<Level> m_levels;  // [0] the root, once attached
};

}  // namespace varnow
