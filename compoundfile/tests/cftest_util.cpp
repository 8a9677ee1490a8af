#include "compoundfile/tests/cftest_util.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace cftest {

using namespace cfb;

::testing::AssertionResult Ok(HRESULT hr) {
  if (Succeeded(hr)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "status " << StatusName(hr);
}

::testing::AssertionResult Is(HRESULT expected, HRESULT actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "expected " << StatusName(expected) << ", got " << StatusName(actual);
}

HRESULT ReadAll(Stream& stream, std::string& out) {
  out.clear();
  HRESULT hr = stream.Seek(0, SeekOrigin::Begin);
  if (Failed(hr)) return hr;
  char buffer[65536];
  for (;;) {
    std::uint32_t got = 0;
    hr = stream.Read(buffer, sizeof buffer, &got);
    if (Failed(hr)) return hr;
    if (got == 0) return S_OK;
    if (got > sizeof buffer) return E_FAIL;  // a count the buffer cannot hold
    out.append(buffer, got);
  }
}

static HRESULT WalkStorage(Storage& storage, const std::string& prefix, Tree& out, bool content) {
  std::vector<ElementInfo> children;
  HRESULT hr = storage.EnumElements(children);
  if (Failed(hr)) return hr;
  for (const ElementInfo& info : children) {
    const std::string path = prefix + ToUtf8(info.name);
    Element& element = out[path];
    if (info.type == ElementType::Storage) {
      element.storage = true;
      Storage child;
      hr = storage.OpenStorage(info.name, child);
      if (Failed(hr)) return hr;
      hr = WalkStorage(child, path + "/", out, content);
      if (Failed(hr)) return hr;
    } else {
      Stream stream;
      hr = storage.OpenStream(info.name, stream);
      if (Failed(hr)) return hr;
      std::string bytes;
      hr = ReadAll(stream, bytes);
      if (Failed(hr)) return hr;
      // The listed size, the stream's own size and the bytes read must all agree.
      std::uint64_t size = 0;
      hr = stream.Size(&size);
      if (Failed(hr)) return hr;
      if (size != info.size || bytes.size() != size) return E_FAIL;
      element.size = size;
      if (content) element.content = std::move(bytes);
    }
  }
  return S_OK;
}

HRESULT ReadTree(Storage& root, Tree& out, bool content) {
  out.clear();
  return WalkStorage(root, "", out, content);
}

HRESULT ReadTreeOfFile(const std::string& file, Tree& out, bool content) {
  Storage root;
  OpenOptions options;
  options.readOnly = true;
  HRESULT hr = StgOpenStorage(file, options, root);
  if (Failed(hr)) return hr;
  return ReadTree(root, out, content);
}

HRESULT PutStream(Storage& parent, std::u16string_view name, const std::string& content) {
  Stream stream;
  HRESULT hr = parent.CreateStream(name, stream, /*replace=*/true);
  if (Failed(hr)) return hr;
  std::uint32_t written = 0;
  hr = stream.Write(content.data(), static_cast<std::uint32_t>(content.size()), &written);
  if (Failed(hr)) return hr;
  return written == content.size() ? S_OK : E_FAIL;
}

HRESULT MakeStoragePath(Storage& root, const std::string& path, Storage& out) {
  Storage current;
  Storage* parent = &root;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::u16string name = FromUtf8(std::string_view(path).substr(start, end - start));
    Storage next;
    HRESULT hr = parent->OpenStorage(name, next);
    if (hr == STG_E_FILENOTFOUND) hr = parent->CreateStorage(name, next);
    if (Failed(hr)) return hr;
    current = std::move(next);
    parent = &current;
    start = end + 1;
  }
  out = std::move(current);
  return S_OK;
}

Tree Shape(const Tree& tree) {
  Tree shape = tree;
  for (auto& [path, element] : shape) element.content.clear();
  return shape;
}

static std::string Describe(const Element& e) {
  std::ostringstream s;
  s << (e.storage ? "storage" : "stream") << " size " << e.size;
  if (!e.storage) s << " content " << std::hash<std::string>{}(e.content);
  return s.str();
}

std::string Diff(const Tree& expected, const Tree& actual) {
  std::ostringstream s;
  int shown = 0;
  for (const auto& [path, element] : expected) {
    auto it = actual.find(path);
    if (it == actual.end()) {
      if (shown++ < 20) s << "missing: " << path << "\n";
    } else if (!(it->second == element)) {
      if (shown++ < 20)
        s << "differs: " << path << ": " << Describe(element) << " vs " << Describe(it->second) << "\n";
    }
  }
  for (const auto& [path, element] : actual)
    if (!expected.count(path) && shown++ < 20) s << "unexpected: " << path << "\n";
  if (shown > 20) s << "... " << shown - 20 << " more\n";
  return s.str();
}

RunResult Run(const std::vector<std::string>& argv) {
  RunResult result;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

static std::string FromHex(const std::string& hex) {
  std::string bytes;
  if (hex == "-") return bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

bool OleTree(const std::string& file, Tree& out, std::string& error, bool content) {
  out.clear();
  std::vector<std::string> argv = {"/usr/bin/python3",
                                   SourceDir() + "/compoundfile/tests/oletree.py"};
  if (!content) argv.push_back("--no-content");
  argv.push_back(file);
  const RunResult run = Run(argv);
  if (run.status != 0) {
    error = "oletree.py exit " + std::to_string(run.status) + ": " + run.err;
    return false;
  }
  std::istringstream lines(run.out);
  std::string kind, size, path, bytes;
  while (lines >> kind >> size >> path >> bytes) {
    Element& element = out[FromHex(path)];
    element.storage = kind == "storage";
    element.size = std::stoull(size);
    if (content) element.content = FromHex(bytes);
  }
  return true;
}

bool GsfTree(const std::string& file, Tree& out, std::string& error) {
  out.clear();
  const RunResult run = Run({"gsf", "list", file});
  if (run.status != 0 || !run.err.empty()) {
    error = "gsf list exit " + std::to_string(run.status) + ": " + run.err;
    return false;
  }
  // "d  2001-04-25 01:35:08           0 path": type, an optional time, size, one blank, path.
  std::istringstream lines(run.out);
  std::string text;
  std::getline(lines, text);  // "FILE:"
  while (std::getline(lines, text)) {
    std::istringstream fields(text.substr(std::min<std::size_t>(1, text.size())));
    std::string word;
    fields >> word;
    if (word.find('-') != std::string::npos) fields >> word >> word;  // date and time
    const std::streamoff position = fields.tellg();
    const std::size_t end = position < 0 ? text.size() : static_cast<std::size_t>(position);
    if (text.empty() || (text[0] != 'd' && text[0] != 'f') || word.empty() ||
        word.find_first_not_of("0123456789") != std::string::npos || fields.fail() || end + 2 > text.size()) {
      error = "unexpected gsf line: " + text;
      return false;
    }
    const std::string path = text.substr(end + 2);  // tellg counts from after the type letter
    if (path == "*root*") continue;
    Element& element = out[path];
    element.storage = text[0] == 'd';
    element.size = std::stoull(word);
  }
  return true;
}

bool GsfCat(const std::string& file, const std::string& path, std::string& out) {
  const RunResult run = Run({"gsf", "cat", file, path});
  out = run.out;
  return run.status == 0 && run.err.empty();
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/cftest-XXXXXX";
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  m_path = templ;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string Pattern(std::uint64_t seed, std::size_t size) {
  std::string bytes(size, '\0');
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
  for (std::size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    bytes[i] = static_cast<char>(x >> 24);
  }
  return bytes;
}

std::string SourceDir() {
  const char* dir = std::getenv("VARNOW_SOURCE_DIR");
  return dir ? dir : ".";
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace cftest
