// cfb: looks inside a compound file.
//   cfb list FILE        one line per storage and stream: type, size, full path
//   cfb cat FILE PATH    the bytes of one stream on standard output
#include <cstdio>
#include <string>
#include <vector>

#include "compoundfile/compoundfile.h"
#include "compoundfile/tools/cfb_usage.h"

namespace {

int Fail(const std::string& what, cfb::HRESULT hr) {
  std::fprintf(stderr, "cfb: %s: %s\n", what.c_str(), cfb::StatusName(hr).c_str());
  return 1;
}

cfb::HRESULT List(cfb::Storage& storage, const std::string& prefix) {
  std::vector<cfb::ElementInfo> children;
  cfb::HRESULT hr = storage.EnumElements(children);
  if (cfb::Failed(hr)) return hr;
  for (const cfb::ElementInfo& child : children) {
    const std::string path = prefix + cfb::ToUtf8(child.name);
    if (child.type == cfb::ElementType::Storage) {
      std::printf("storage 0 %s\n", path.c_str());
      cfb::Storage sub;
      hr = storage.OpenStorage(child.name, sub);
      if (cfb::Succeeded(hr)) hr = List(sub, path + "/");
      if (cfb::Failed(hr)) return hr;
    } else {
      std::printf("stream %llu %s\n", static_cast<unsigned long long>(child.size), path.c_str());
    }
  }
  return cfb::S_OK;
}

cfb::HRESULT Cat(cfb::Storage& root, const std::string& path) {
  cfb::Storage current;
  cfb::Storage* at = &root;
  std::size_t begin = 0;
  while (begin < path.size() && path[begin] == '/') ++begin;
  for (;;) {
    const std::size_t slash = path.find('/', begin);
    const std::u16string name = cfb::FromUtf8(path.substr(begin, slash - begin));
    if (slash == std::string::npos) {
      cfb::Stream stream;
      cfb::HRESULT hr = at->OpenStream(name, stream);
      if (cfb::Failed(hr)) return hr;
      std::vector<char> buffer(1 << 16);
      for (;;) {
        std::uint32_t got = 0;
        hr = stream.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), &got);
        if (cfb::Failed(hr)) return hr;
        if (got == 0) return cfb::S_OK;
        if (std::fwrite(buffer.data(), 1, got, stdout) != got) return cfb::STG_E_WRITEFAULT;
      }
    }
    cfb::Storage next;
    cfb::HRESULT hr = at->OpenStorage(name, next);
    if (cfb::Failed(hr)) return hr;
    current = std::move(next);
    at = &current;
    begin = slash + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "--help" && argc == 2) {
    std::fputs(platform::HelpText(cfb::ToolUsage()).c_str(), stdout);
    return 0;
  }
  if (!((command == "list" && argc == 3) || (command == "cat" && argc == 4))) {
    std::fprintf(stderr, "usage: cfb list FILE\n       cfb cat FILE PATH\n");
    return 2;
  }
  cfb::OpenOptions options;
  options.readOnly = true;
  options.lockWait = std::chrono::seconds(30);
  cfb::Storage root;
  cfb::HRESULT hr = cfb::StgOpenStorage(argv[2], options, root);
  if (cfb::Failed(hr)) return Fail(argv[2], hr);
  if (command == "list") {
    hr = List(root, "");
    std::fflush(stdout);
    return cfb::Failed(hr) ? Fail(argv[2], hr) : 0;
  }
  hr = Cat(root, argv[3]);
  std::fflush(stdout);
  return cfb::Failed(hr) ? Fail(std::string(argv[2]) + ": " + argv[3], hr) : 0;
}
