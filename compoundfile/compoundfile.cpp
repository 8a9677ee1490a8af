// The handle classes: each call takes the document's lock, checks that the handle's element
// still exists (it may have been destroyed or replaced through another handle), and passes the
// work on to the Document.
#include "compoundfile/compoundfile.h"

#include <cstdio>
#include <type_traits>

#include "compoundfile/document.h"

namespace cfb {

namespace {

// Runs fn under the document's lock after checking the handle; memory exhaustion becomes a
// status code instead of an exception through the caller.
template <typename Fn>
HRESULT Guarded(const std::shared_ptr<Document>& doc, std::uint32_t entry, std::uint32_t generation,
                Fn&& fn) {
  if (!doc) return STG_E_INVALIDHANDLE;
  std::lock_guard lock(doc->Mutex());
  if (!doc->IsLive(entry, generation)) return STG_E_REVERTED;
  try {
    return fn(*doc);
  } catch (const std::bad_alloc&) {
    return STG_E_INSUFFICIENTMEMORY;
  } catch (const MissingEntry&) {
    return STG_E_DOCFILECORRUPT;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Stream

Stream::~Stream() { Release(); }

void Stream::Release() {
  m_doc.reset();
  m_position = 0;
}

HRESULT Stream::Read(void* buffer, std::uint32_t cb, std::uint32_t* cbRead) {
  if (cbRead) *cbRead = 0;
  if (!buffer && cb > 0) return STG_E_INVALIDPOINTER;
  return Guarded(m_doc, m_entry, m_generation, [&](Document& doc) {
    std::uint32_t got = 0;
    const HRESULT hr = doc.ReadStream(m_entry, m_position, buffer, cb, got);
    m_position += got;
    if (cbRead) *cbRead = got;
    return hr;
  });
}

HRESULT Stream::Write(const void* buffer, std::uint32_t cb, std::uint32_t* cbWritten) {
  if (cbWritten) *cbWritten = 0;
  if (!buffer && cb > 0) return STG_E_INVALIDPOINTER;
  return Guarded(m_doc, m_entry, m_generation, [&](Document& doc) {
    const HRESULT hr = doc.WriteStream(m_entry, m_position, buffer, cb);
    if (Succeeded(hr)) {
      m_position += cb;
      if (cbWritten) *cbWritten = cb;
    }
    return hr;
  });
}

HRESULT Stream::Seek(std::int64_t move, SeekOrigin origin, std::uint64_t* newPosition) {
  return Guarded(m_doc, m_entry, m_generation, [&](Document& doc) {
    std::int64_t base = 0;
    if (origin == SeekOrigin::Current) base = static_cast<std::int64_t>(m_position);
    if (origin == SeekOrigin::End) base = static_cast<std::int64_t>(doc.StreamSize(m_entry));
    if ((move < 0 && base + move < 0) ||
        (move > 0 && base > INT64_MAX - move))
      return STG_E_INVALIDFUNCTION;
    m_position = static_cast<std::uint64_t>(base + move);
    if (newPosition) *newPosition = m_position;
    return S_OK;
  });
}

HRESULT Stream::SetSize(std::uint64_t size) {
  return Guarded(m_doc, m_entry, m_generation,
                 [&](Document& doc) { return doc.Resize(m_entry, size); });
}

HRESULT Stream::Size(std::uint64_t* size) const {
  if (!size) return STG_E_INVALIDPOINTER;
  return Guarded(m_doc, m_entry, m_generation, [&](Document& doc) {
    *size = doc.StreamSize(m_entry);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------------------------
// Storage

Storage::~Storage() { Release(); }

void Storage::Release() { m_doc.reset(); }

template <class Handle>
void Storage::Attach(Document& doc, std::uint32_t id, Handle& out) const {
  out.m_doc = m_doc;
  out.m_entry = id;
  out.m_generation = doc.Generation(id);
  if constexpr (std::is_same_v<Handle, Stream>) out.m_position = 0;
}

template <class Handle>
HRESULT Storage::OpenChild(std::u16string_view name, std::uint8_t type, Handle& out) {
  return Guarded(m_doc, m_entry, m_generation, [&](Document& doc) {
    std::uint32_t id = 0;
    const HRESULT hr = doc.Find(m_entry, name, id);
    if (Failed(hr)) return hr;
    if (doc.TypeOf(id) != type) return STG_E_FILENOTFOUND;
    Attach(doc, id, out);
    return S_OK;
  });
}

template <class Handle>
HRESULT Storage::CreateChild(std::u16string_view name, std::uint8_t type, bool replace, Handle& out) {
  return Guarded(m_doc, m_entry, m_generation, [&](Document& doc) {
    std::uint32_t id = 0;
    const HRESULT hr = doc.Create(m_entry, name, type, replace, id);
    if (Failed(hr)) return hr;
    Attach(doc, id, out);
    return S_OK;
  });
}

HRESULT Storage::OpenStorage(std::u16string_view name, Storage& out) {
  return OpenChild(name, format::kStorage, out);
}

HRESULT Storage::OpenStream(std::u16string_view name, Stream& out) {
  return OpenChild(name, format::kStream, out);
}

HRESULT Storage::CreateStorage(std::u16string_view name, Storage& out, bool replace) {
  return CreateChild(name, format::kStorage, replace, out);
}

HRESULT Storage::CreateStream(std::u16string_view name, Stream& out, bool replace) {
  return CreateChild(name, format::kStream, replace, out);
}

HRESULT Storage::DestroyElement(std::u16string_view name) {
  return Guarded(m_doc, m_entry, m_generation,
                 [&](Document& doc) { return doc.Destroy(m_entry, name); });
}

HRESULT Storage::Lookup(std::u16string_view name, ElementInfo& out, Storage* storage) const {
  return Guarded(m_doc, m_entry, m_generation, [&](Document& doc) {
    std::uint32_t id = 0;
    const HRESULT hr = doc.Find(m_entry, name, id);
    if (Failed(hr)) return hr;
    out = doc.Describe(id);
    if (storage && doc.TypeOf(id) == format::kStorage) Attach(doc, id, *storage);
    return hr;
  });
}

HRESULT Storage::EnumElements(std::vector<ElementInfo>& out) const {
  out.clear();
  return Guarded(m_doc, m_entry, m_generation,
                 [&](Document& doc) { return doc.Enumerate(m_entry, out); });
}

HRESULT Storage::Commit(std::uint64_t* spaceNeeded) {
  if (spaceNeeded) *spaceNeeded = 0;
  return Guarded(m_doc, m_entry, m_generation, [&](Document& doc) { return doc.Commit(spaceNeeded); });
}

HRESULT StgOpenStorage(const std::string& path, const OpenOptions& options, Storage& root) {
  root.Release();
  std::shared_ptr<Document> doc;
  HRESULT hr;
  try {
    hr = Document::Open(path, options, doc);
  } catch (const std::bad_alloc&) {
    hr = STG_E_INSUFFICIENTMEMORY;
  }
  if (Failed(hr)) return hr;
  root.m_doc = std::move(doc);
  root.m_entry = 0;
  root.m_generation = root.m_doc->Generation(0);  // the root is always in the model
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Status names and text

std::string StatusName(HRESULT hr) {
  struct Name {
    HRESULT hr;
    const char* text;
  };
  static const Name kNames[] = {
      {S_OK, "S_OK"},
      {S_FALSE, "S_FALSE"},
      {E_FAIL, "E_FAIL"},
      {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
      {E_INVALIDARG, "E_INVALIDARG"},
      {STG_E_INVALIDFUNCTION, "STG_E_INVALIDFUNCTION"},
      {STG_E_FILENOTFOUND, "STG_E_FILENOTFOUND"},
      {STG_E_PATHNOTFOUND, "STG_E_PATHNOTFOUND"},
      {STG_E_ACCESSDENIED, "STG_E_ACCESSDENIED"},
      {STG_E_INVALIDHANDLE, "STG_E_INVALIDHANDLE"},
      {STG_E_INSUFFICIENTMEMORY, "STG_E_INSUFFICIENTMEMORY"},
      {STG_E_INVALIDPOINTER, "STG_E_INVALIDPOINTER"},
      {STG_E_SEEKERROR, "STG_E_SEEKERROR"},
      {STG_E_WRITEFAULT, "STG_E_WRITEFAULT"},
      {STG_E_READFAULT, "STG_E_READFAULT"},
      {STG_E_SHAREVIOLATION, "STG_E_SHAREVIOLATION"},
      {STG_E_LOCKVIOLATION, "STG_E_LOCKVIOLATION"},
      {STG_E_FILEALREADYEXISTS, "STG_E_FILEALREADYEXISTS"},
      {STG_E_INVALIDPARAMETER, "STG_E_INVALIDPARAMETER"},
      {STG_E_MEDIUMFULL, "STG_E_MEDIUMFULL"},
      {STG_E_INVALIDHEADER, "STG_E_INVALIDHEADER"},
      {STG_E_INVALIDNAME, "STG_E_INVALIDNAME"},
      {STG_E_UNKNOWN, "STG_E_UNKNOWN"},
      {STG_E_REVERTED, "STG_E_REVERTED"},
      {STG_E_DOCFILECORRUPT, "STG_E_DOCFILECORRUPT"},
  };
  for (const Name& n : kNames)
    if (n.hr == hr) return n.text;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::u16string WidenBytes(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char c : bytes) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::string NarrowToBytes(std::u16string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char16_t c : name) out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  return out;
}

std::string ToUtf8(std::u16string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    std::uint32_t c = name[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
        name[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    std::uint32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size() + (extra == 0);
    for (int k = 1; ok && k <= extra; ++k) {
      const unsigned char t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (t & 0x3F);
    }
    if (ok && ((extra == 1 && c < 0x80) || (extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000) ||
               c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
      ok = false;  // overlong forms, surrogates and values past Unicode
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

}  // namespace cfb
