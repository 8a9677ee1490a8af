// Structured storage on a compound file: storages and streams nested inside one file.
//
// Shaped after the structured-storage interfaces: a root storage opened on a file, child
// storages and streams opened or created by name, streams read, written, sought and resized.
// Every result is a status code with the structured-storage values.
//
// Lifetime and atomicity: opening a file takes an exclusive lock on it. Every change made
// through the root and its children between the open and the moment the last handle of that
// file is released forms one batch; the batch reaches the file all or nothing when the last
// handle goes (or at Commit). Handles are cheap, movable, and release in their destructor.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cfb {

using HRESULT = std::int32_t;

constexpr HRESULT MakeStatus(std::uint32_t value) { return static_cast<HRESULT>(value); }
constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = MakeStatus(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = MakeStatus(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = MakeStatus(0x80070057u);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = MakeStatus(0x80030001u);
inline constexpr HRESULT STG_E_FILENOTFOUND = MakeStatus(0x80030002u);
inline constexpr HRESULT STG_E_PATHNOTFOUND = MakeStatus(0x80030003u);
inline constexpr HRESULT STG_E_ACCESSDENIED = MakeStatus(0x80030005u);
inline constexpr HRESULT STG_E_INVALIDHANDLE = MakeStatus(0x80030006u);
inline constexpr HRESULT STG_E_INSUFFICIENTMEMORY = MakeStatus(0x80030008u);
inline constexpr HRESULT STG_E_INVALIDPOINTER = MakeStatus(0x80030009u);
inline constexpr HRESULT STG_E_SEEKERROR = MakeStatus(0x80030019u);
inline constexpr HRESULT STG_E_WRITEFAULT = MakeStatus(0x8003001Du);
inline constexpr HRESULT STG_E_READFAULT = MakeStatus(0x8003001Eu);
inline constexpr HRESULT STG_E_SHAREVIOLATION = MakeStatus(0x80030020u);
inline constexpr HRESULT STG_E_LOCKVIOLATION = MakeStatus(0x80030021u);
inline constexpr HRESULT STG_E_FILEALREADYEXISTS = MakeStatus(0x80030050u);
inline constexpr HRESULT STG_E_INVALIDPARAMETER = MakeStatus(0x80030057u);
inline constexpr HRESULT STG_E_MEDIUMFULL = MakeStatus(0x80030070u);
inline constexpr HRESULT STG_E_INVALIDHEADER = MakeStatus(0x800300FBu);
inline constexpr HRESULT STG_E_INVALIDNAME = MakeStatus(0x800300FCu);
inline constexpr HRESULT STG_E_UNKNOWN = MakeStatus(0x800300FDu);
inline constexpr HRESULT STG_E_REVERTED = MakeStatus(0x80030102u);
inline constexpr HRESULT STG_E_DOCFILECORRUPT = MakeStatus(0x80030109u);

// The symbolic name of a status code ("STG_E_DOCFILECORRUPT"), or its hexadecimal text.
std::string StatusName(HRESULT hr);

enum class ElementType : std::uint8_t { Storage = 1, Stream = 2, Root = 5 };

struct ElementInfo {
  std::u16string name;
  ElementType type = ElementType::Stream;
  std::uint64_t size = 0;  // streams only
};

enum class SeekOrigin { Begin, Current, End };

struct OpenOptions {
  bool create = false;       // create the file when it does not exist
  bool readOnly = false;     // shared lock, no changes allowed (writes give STG_E_ACCESSDENIED)
  // How long to wait for another opener (in this or another process) to let go of the file
  // before giving STG_E_LOCKVIOLATION. Zero means do not wait.
  std::chrono::milliseconds lockWait{0};
};

class Document;  // one open file; shared by the root and every child handle

class Stream {
 public:
  Stream() = default;
  Stream(Stream&&) noexcept = default;
  Stream& operator=(Stream&&) noexcept = default;
  ~Stream();

  bool IsOpen() const { return static_cast<bool>(m_doc); }

  // Reads up to cb bytes at the seek position; *cbRead (when given) receives the count,
  // 0 at the end of the stream.
  HRESULT Read(void* buffer, std::uint32_t cb, std::uint32_t* cbRead = nullptr);
  // Writes cb bytes at the seek position, growing the stream as needed.
  HRESULT Write(const void* buffer, std::uint32_t cb, std::uint32_t* cbWritten = nullptr);
  HRESULT Seek(std::int64_t move, SeekOrigin origin, std::uint64_t* newPosition = nullptr);
  HRESULT SetSize(std::uint64_t size);
  HRESULT Size(std::uint64_t* size) const;
  void Release();

 private:
  friend class Storage;
  std::shared_ptr<Document> m_doc;
  std::uint32_t m_entry = 0;       // directory entry id
  std::uint32_t m_generation = 0;  // tells a destroyed and reused entry from this one
  std::uint64_t m_position = 0;    // seek position
};

class Storage {
 public:
  Storage() = default;
  Storage(Storage&&) noexcept = default;
  Storage& operator=(Storage&&) noexcept = default;
  ~Storage();

  bool IsOpen() const { return static_cast<bool>(m_doc); }

  // STG_E_FILENOTFOUND when no child of that name and type exists.
  HRESULT OpenStorage(std::u16string_view name, Storage& out);
  HRESULT OpenStream(std::u16string_view name, Stream& out);
  // STG_E_FILEALREADYEXISTS when a child of that name exists (unless replace is set, which
  // replaces it with a new empty element).
  HRESULT CreateStorage(std::u16string_view name, Storage& out, bool replace = false);
  HRESULT CreateStream(std::u16string_view name, Stream& out, bool replace = false);
  // Removes a child (a storage with everything below it).
  HRESULT DestroyElement(std::u16string_view name);
  // The child whose name compares equal to name (letter case folded as the file folds it),
  // as the file spells it; STG_E_FILENOTFOUND when there is none. A storage is opened into
  // *storage too, when given (one search for both).
  HRESULT Lookup(std::u16string_view name, ElementInfo& out, Storage* storage = nullptr) const;
  // Lists the children in the file's enumeration order (the sibling tree's in-order walk).
  HRESULT EnumElements(std::vector<ElementInfo>& out) const;
  // Writes the batch so far to the file (all or nothing) without releasing anything.
  // *spaceNeeded (when given) receives the free space on the file's disk that the batch took
  // or, when it failed, would have taken (its rollback journal and what the file grows by).
  // After a failure the batch is lost: every handle of the file sees STG_E_REVERTED.
  HRESULT Commit(std::uint64_t* spaceNeeded = nullptr);
  void Release();

 private:
  friend HRESULT StgOpenStorage(const std::string&, const OpenOptions&, Storage&);
  // Open or create a child of the given entry type and point the handle at it.
  template <class Handle>
  HRESULT OpenChild(std::u16string_view name, std::uint8_t type, Handle& out);
  template <class Handle>
  HRESULT CreateChild(std::u16string_view name, std::uint8_t type, bool replace, Handle& out);
  template <class Handle>
  void Attach(Document& doc, std::uint32_t id, Handle& out) const;

  std::shared_ptr<Document> m_doc;
  std::uint32_t m_entry = 0;
  std::uint32_t m_generation = 0;
};

// Opens the compound file at path and gives its root storage. With options.create a missing
// file is created empty. A file that is not a compound file gives STG_E_INVALIDHEADER or
// STG_E_DOCFILECORRUPT; a missing one STG_E_FILENOTFOUND; one that stays locked past
// lockWait STG_E_LOCKVIOLATION.
HRESULT StgOpenStorage(const std::string& path, const OpenOptions& options, Storage& root);

// Widens bytes one to one (byte 0xE9 becomes U+00E9) and narrows back (units above 0xFF
// become '?'); the tracker's storage names are made this way.
std::u16string WidenBytes(std::string_view bytes);
std::string NarrowToBytes(std::u16string_view name);
// UTF-16 to UTF-8 and back, for tools that print names.
std::string ToUtf8(std::u16string_view name);
std::u16string FromUtf8(std::string_view text);

}  // namespace cfb
