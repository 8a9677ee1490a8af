// The sibling trees: each storage's children as a red-black tree ordered by the sibling rule.
// A tree is built whole, balanced by midpoints, when a batch changed its storage's children;
// a storage of many children whose tree is sound takes new children one at a time instead,
// so a batch that adds a few children to a wide storage rewrites a few entries, not all.
#include <algorithm>

#include "compoundfile/tree.h"

namespace cfb {

using namespace format;

void SiblingTrees::SortChildren(Node& storage) {
  NodeList& nodes = m.nodes;
  IdList& children = storage.children();
  if (std::is_sorted(children.begin(), children.end(), [&](std::uint32_t a, std::uint32_t b) {
        return CompareNames(m.NameOf(nodes[a]), m.NameOf(nodes[b])) < 0;
      }))
    return;
  std::sort(children.begin(), children.end(), [&](std::uint32_t a, std::uint32_t b) {
    return CompareNames(m.NameOf(nodes[a]), m.NameOf(nodes[b])) < 0;
  });
  for (std::size_t i = 0; i < children.size(); ++i) nodes[children[i]].slot = static_cast<std::uint32_t>(i);
}

// Sorts a storage's children by the sibling rule and links them as a balanced tree, built by
// midpoints: every level black except the deepest, which is red when it is not full.
void SiblingTrees::Rebuild(std::uint32_t storage) {
  NodeList& nodes = m.nodes;
  Node& p = nodes[storage];
  p.entry.treeDirty = false;
  if (p.entry.type != kStorage && p.entry.type != kRoot) return;  // destroyed meanwhile
  SortChildren(p);
  const std::size_t n = p.children().size();
  int deepest = 0;
  while ((std::size_t{2} << deepest) <= n) ++deepest;  // floor(log2 n)
  const bool full = n > 0 && ((n + 1) & n) == 0;
  auto set = [&](std::uint32_t id, std::uint32_t& field, std::uint32_t value) {
    if (field != value) {
      field = value;
      Mark(id);
    }
  };
  auto build = [&](auto& self, std::ptrdiff_t lo, std::ptrdiff_t hi, int depth) -> std::uint32_t {
    if (lo > hi) return kNoStream;
    const std::ptrdiff_t mid = lo + (hi - lo) / 2;
    const std::uint32_t id = p.children()[static_cast<std::size_t>(mid)];
    const std::uint32_t left = self(self, lo, mid - 1, depth + 1);
    const std::uint32_t right = self(self, mid + 1, hi, depth + 1);
    Entry& e = nodes[id].entry;
    set(id, e.left, left);
    set(id, e.right, right);
    const std::uint8_t color = (!full && depth == deepest) ? kRed : kBlack;
    if (e.color != color) {
      e.color = color;
      Mark(id);
    }
    return id;
  };
  const std::uint32_t root = build(build, 0, static_cast<std::ptrdiff_t>(n) - 1, 0);
  set(storage, p.entry.child, root);
  p.entry.treeCheck = TreeCheck::kValid;
}


// True when the storage's tree is ordered by the sibling rule and a valid red-black tree:
// black root, no red node with a red child, the same number of black nodes on every path.
// Another writer's tree may be neither; it is then rebuilt whole. Checked once per model.
bool SiblingTrees::IsValid(std::uint32_t storage) {
  NodeList& nodes = m.nodes;
  Node& s = nodes[storage];
  if (s.entry.treeCheck != TreeCheck::kUnknown) return s.entry.treeCheck == TreeCheck::kValid;
  struct Frame {
    std::uint32_t id;
    int blacks;  // black nodes from the root down to this one, itself included
  };
  std::vector<Frame> stack;
  const Node* previous = nullptr;
  int height = -1;
  bool valid = s.entry.child == kNoStream || nodes[s.entry.child].entry.color == kBlack;
  // A missing child closes a path: every path must hold the same number of black nodes.
  auto leaf = [&](int blacks) {
    if (height < 0) height = blacks;
    valid = valid && height == blacks;
  };
  auto descend = [&](std::uint32_t id, int blacksAbove, bool parentRed) {
    while (valid && id != kNoStream) {
      const Entry& e = nodes[id].entry;
      const bool red = e.color == kRed;
      if ((e.color != kRed && e.color != kBlack) || (red && parentRed)) valid = false;
      blacksAbove += !red;
      stack.push_back(Frame{id, blacksAbove});
      if (e.left == kNoStream) leaf(blacksAbove);
      parentRed = red;
      id = e.left;
    }
  };
  descend(s.entry.child, 0, false);
  while (valid && !stack.empty()) {
    const Frame f = stack.back();
    stack.pop_back();
    const Entry& e = nodes[f.id].entry;
    if (previous && CompareNames(m.NameOf(*previous), m.NameOf(nodes[f.id])) >= 0) valid = false;
    previous = &nodes[f.id];
    if (e.right == kNoStream) leaf(f.blacks);
    descend(e.right, f.blacks, e.color == kRed);
  }
  s.entry.treeCheck = valid ? TreeCheck::kValid : TreeCheck::kInvalid;
  return valid;
}

// Inserts a new child (not linked yet) into a valid tree, then restores the red-black rules
// by recolouring and rotating along the path it took.
void SiblingTrees::Insert(std::uint32_t storage, std::uint32_t id) {
  NodeList& nodes = m.nodes;
  auto entry = [&](std::uint32_t n) -> Entry& { return nodes[n].entry; };
  auto set = [&](std::uint32_t n, std::uint32_t& field, std::uint32_t value) {
    if (field != value) {
      field = value;
      Mark(n);
    }
  };
  auto paint = [&](std::uint32_t n, std::uint8_t color) {
    if (entry(n).color != color) {
      entry(n).color = color;
      Mark(n);
    }
  };
  std::vector<std::uint32_t> path;  // from the root down to the new child's parent
  for (std::uint32_t cur = entry(storage).child; cur != kNoStream;) {
    path.push_back(cur);
    cur = CompareNames(m.NameOf(nodes[id]), m.NameOf(nodes[cur])) < 0 ? entry(cur).left : entry(cur).right;
  }
  set(id, entry(id).left, kNoStream);
  set(id, entry(id).right, kNoStream);
  paint(id, kRed);
  if (path.empty()) {
    set(storage, entry(storage).child, id);
    paint(id, kBlack);
    return;
  }
  {
    Entry& p = entry(path.back());
    const bool left = CompareNames(m.NameOf(nodes[id]), m.NameOf(nodes[path.back()])) < 0;
    set(path.back(), left ? p.left : p.right, id);
  }
  // Replaces the link to `from` in its parent (path[at], or the storage when at < 0).
  auto relink = [&](std::ptrdiff_t at, std::uint32_t from, std::uint32_t to) {
    if (at < 0) {
      set(storage, entry(storage).child, to);
      return;
    }
    Entry& up = entry(path[static_cast<std::size_t>(at)]);
    set(path[static_cast<std::size_t>(at)], up.left == from ? up.left : up.right, to);
  };
  std::uint32_t x = id;
  std::ptrdiff_t i = static_cast<std::ptrdiff_t>(path.size()) - 1;  // x's parent
  while (i >= 1 && entry(path[static_cast<std::size_t>(i)]).color == kRed) {
    std::uint32_t p = path[static_cast<std::size_t>(i)];
    const std::uint32_t g = path[static_cast<std::size_t>(i - 1)];
    const bool pLeft = entry(g).left == p;
    const std::uint32_t uncle = pLeft ? entry(g).right : entry(g).left;
    if (uncle != kNoStream && entry(uncle).color == kRed) {
      paint(p, kBlack);
      paint(uncle, kBlack);
      paint(g, kRed);
      x = g;
      i -= 2;
      continue;
    }
    if (pLeft && entry(p).right == x) {  // inner child: turn it outer
      set(p, entry(p).right, entry(x).left);
      set(x, entry(x).left, p);
      set(g, entry(g).left, x);
      std::swap(x, p);
    } else if (!pLeft && entry(p).left == x) {
      set(p, entry(p).left, entry(x).right);
      set(x, entry(x).right, p);
      set(g, entry(g).right, x);
      std::swap(x, p);
    }
    if (pLeft) {
      set(g, entry(g).left, entry(p).right);
      set(p, entry(p).right, g);
    } else {
      set(g, entry(g).right, entry(p).left);
      set(p, entry(p).left, g);
    }
    relink(i - 2, g, p);
    paint(p, kBlack);
    paint(g, kRed);
    break;
  }
  paint(entry(storage).child, kBlack);
}

}  // namespace cfb
