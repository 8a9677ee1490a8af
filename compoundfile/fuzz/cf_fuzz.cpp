// libFuzzer target: the fuzzer's bytes as a compound file. Opens it, walks every storage,
// reads every stream to its end; opens it again and reads each stream found by its path alone
// (a reader that lists nothing looks names up along the sibling trees); then changes a copy
// and commits it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "compoundfile/compoundfile.h"

namespace {

using namespace cfb;

const std::string& WorkDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/cf-fuzz-XXXXXX";
    if (!mkdtemp(templ.data())) std::abort();
    return templ;
  }();
  return dir;
}

// Every input gets its own modification time: a reader that remembers a parsed file by
// identity, size and time must not take one input for the previous one.
void WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
  static std::int64_t tick = 1000000000;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const timespec times[2] = {{tick, 0}, {tick, 0}};
  ++tick;
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

using Path = std::vector<std::u16string>;

void Walk(Storage& storage, int depth, Path& at, std::vector<Path>& streams) {
  std::vector<ElementInfo> children;
  if (Failed(storage.EnumElements(children)) || depth > 64) return;
  for (const ElementInfo& info : children) {
    at.push_back(info.name);
    if (info.type == ElementType::Storage) {
      Storage child;
      if (Succeeded(storage.OpenStorage(info.name, child))) Walk(child, depth + 1, at, streams);
    } else {
      if (streams.size() < 256) streams.push_back(at);
      Stream stream;
      if (Failed(storage.OpenStream(info.name, stream))) continue;
      char buffer[4096];
      std::uint32_t got = 0;
      while (Succeeded(stream.Read(buffer, sizeof buffer, &got)) && got > 0) {
      }
      std::uint64_t position = 0;
      (void)stream.Seek(-1, SeekOrigin::End, &position);
      (void)stream.Read(buffer, 16, &got);
    }
    at.pop_back();
  }
}

void Walk(Storage& root) {
  Path at;
  std::vector<Path> streams;
  Walk(root, 0, at, streams);
}

void ReadByPath(Storage& root, const std::vector<Path>& streams) {
  for (const Path& path : streams) {
    Storage parent;
    Storage* storage = &root;
    bool found = true;
    for (std::size_t i = 0; found && i + 1 < path.size(); ++i) {
      Storage next;
      found = Succeeded(storage->OpenStorage(path[i], next));
      parent = std::move(next);
      storage = &parent;
    }
    Stream stream;
    if (!found || Failed(storage->OpenStream(path.back(), stream))) continue;
    char buffer[4096];
    std::uint32_t got = 0;
    while (Succeeded(stream.Read(buffer, sizeof buffer, &got)) && got > 0) {
    }
  }
}

void Change(Storage& root) {
  std::vector<ElementInfo> children;
  if (Failed(root.EnumElements(children))) return;
  static const char text[5000] = {1, 2, 3};
  for (const ElementInfo& info : children) {
    if (info.type != ElementType::Stream) continue;
    Stream stream;
    if (Failed(root.OpenStream(info.name, stream))) continue;
    (void)stream.Seek(0, SeekOrigin::End);
    (void)stream.Write(text, 300);
    (void)stream.SetSize(info.size > 100 ? info.size / 2 : 5000);
    break;
  }
  Stream added;
  if (Succeeded(root.CreateStream(u"fuzz-added", added, true))) (void)added.Write(text, sizeof text);
  Storage storage;
  (void)root.CreateStorage(u"fuzz-storage", storage);
  if (!children.empty()) (void)root.DestroyElement(children.front().name);
  (void)root.Commit();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = WorkDir() + "/input.cfb";
  OpenOptions readOnly;
  readOnly.readOnly = true;
  WriteInput(path, data, size);
  std::vector<Path> streams;
  {
    Storage root;
    Path at;
    if (Succeeded(StgOpenStorage(path, readOnly, root))) Walk(root, 0, at, streams);
  }
  // The same bytes as a file not seen before: nothing of the walk above is remembered.
  WriteInput(path, data, size);
  {
    Storage root;
    if (Succeeded(StgOpenStorage(path, readOnly, root))) ReadByPath(root, streams);
  }
  // The same bytes once more, changed and committed, then read back.
  WriteInput(path, data, size);
  {
    Storage root;
    if (Succeeded(StgOpenStorage(path, {}, root))) Change(root);
  }
  {
    Storage root;
    if (Succeeded(StgOpenStorage(path, readOnly, root))) Walk(root);
  }
  return 0;
}
