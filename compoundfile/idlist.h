// A list of sector or entry ids that keeps up to four of them in itself. Most streams of a data
// file take one to four mini sectors and most storages hold one entry, so a model of a large
// file would otherwise make a heap block for nearly every entry, each costing more than the
// ids in it (a 160,000-entry model made as many). Holds what std::vector<std::uint32_t> does,
// in the same 24 bytes, with the part of its interface the model uses.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <stdexcept>

namespace cfb {

class IdList {
 public:
  using value_type = std::uint32_t;
  using iterator = std::uint32_t*;
  using const_iterator = const std::uint32_t*;
  static constexpr std::size_t kInline = 4;

  IdList() = default;
  IdList(std::initializer_list<std::uint32_t> ids) { assign(ids.begin(), ids.end()); }
  IdList(const IdList& other) { assign(other.begin(), other.end()); }
  IdList(IdList&& other) noexcept { Take(other); }
  IdList& operator=(const IdList& other) {
    if (this != &other) assign(other.begin(), other.end());
    return *this;
  }
  IdList& operator=(IdList&& other) noexcept {
    if (this != &other) {
      Release();
      Take(other);
    }
    return *this;
  }
  ~IdList() { Release(); }

  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  std::size_t capacity() const { return m_capacity; }
  std::uint32_t* data() { return OnHeap() ? m_heap : m_inline; }
  const std::uint32_t* data() const { return OnHeap() ? m_heap : m_inline; }
  iterator begin() { return data(); }
  iterator end() { return data() + m_size; }
  const_iterator begin() const { return data(); }
  const_iterator end() const { return data() + m_size; }
  std::uint32_t& operator[](std::size_t i) { return data()[i]; }
  std::uint32_t operator[](std::size_t i) const { return data()[i]; }
  std::uint32_t& front() { return data()[0]; }
  std::uint32_t front() const { return data()[0]; }
  std::uint32_t& back() { return data()[m_size - 1]; }
  std::uint32_t back() const { return data()[m_size - 1]; }

  void push_back(std::uint32_t id) {
    if (m_size == m_capacity) Grow(std::size_t{m_size} + 1);
    data()[m_size++] = id;
  }
  void pop_back() { --m_size; }
  void clear() { m_size = 0; }
  // Exactly n, as std::vector's reserve: a chain's length is known before it is walked.
  void reserve(std::size_t n) {
    if (n > m_capacity) Reallocate(n);
  }
  void resize(std::size_t n, std::uint32_t id = 0) {
    if (n > m_capacity) Grow(n);
    for (std::size_t i = m_size; i < n; ++i) data()[i] = id;
    m_size = static_cast<std::uint32_t>(n);
  }
  void assign(const std::uint32_t* first, const std::uint32_t* last) {
    const auto n = static_cast<std::size_t>(last - first);
    clear();
    reserve(n);
    if (n > 0) std::memcpy(data(), first, n * sizeof(std::uint32_t));
    m_size = static_cast<std::uint32_t>(n);
  }

  friend bool operator==(const IdList& a, const IdList& b) {
    return a.m_size == b.m_size && (a.m_size == 0 || std::memcmp(a.data(), b.data(), a.m_size * sizeof(std::uint32_t)) == 0);
  }

 private:
  bool OnHeap() const { return m_capacity > kInline; }
  // Doubling, as a vector grows, so that a chain built one id at a time costs amortised O(1).
  void Grow(std::size_t needed) {
    Reallocate(needed > std::size_t{m_capacity} * 2 ? needed : std::size_t{m_capacity} * 2);
  }
  void Reallocate(std::size_t capacity) {
    if (capacity > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("IdList");
    auto* heap = new std::uint32_t[capacity];
    if (m_size > 0) std::memcpy(heap, data(), std::size_t{m_size} * sizeof(std::uint32_t));
    if (OnHeap()) delete[] m_heap;
    m_heap = heap;
    m_capacity = static_cast<std::uint32_t>(capacity);
  }
  void Release() {
    if (OnHeap()) delete[] m_heap;
    m_capacity = kInline;
    m_size = 0;
  }
  // Moves other's ids here (this holds none) and leaves other empty.
  void Take(IdList& other) {
    m_size = other.m_size;
    m_capacity = other.m_capacity;
    if (other.OnHeap()) {
      m_heap = other.m_heap;
    } else {
      std::memcpy(m_inline, other.m_inline, sizeof(m_inline));
    }
    other.m_size = 0;
    other.m_capacity = kInline;
  }

  std::uint32_t m_size = 0;
  std::uint32_t m_capacity = kInline;
  union {
    std::uint32_t m_inline[kInline] = {};
    std::uint32_t* m_heap;
  };
};

}  // namespace cfb
