// The sibling trees: each storage's children as a red-black tree ordered by the sibling rule,
// kept in the entries of a full model. A view over the model and the batch (whose changed
// entries it marks), made where it is used; it owns nothing.
#pragma once

#include <cstdint>

#include "compoundfile/document.h"

namespace cfb {

class SiblingTrees {
 public:
  SiblingTrees(Model& model, Batch& batch) : m(model), b(batch) {}

  // Sorts a storage's children by the sibling rule (and renumbers their slots).
  void SortChildren(Node& storage);
  // Links a storage's children as a balanced tree, built whole.
  void Rebuild(std::uint32_t storage);
  // Whether the storage's tree is ordered and a valid red-black tree (checked once per model).
  bool IsValid(std::uint32_t storage);
  // Inserts a new child, not linked yet, into a valid tree.
  void Insert(std::uint32_t storage, std::uint32_t id);

 private:
  void Mark(std::uint32_t id) { b.entries.push_back(id); }

  Model& m;
  Batch& b;
};

}  // namespace cfb
