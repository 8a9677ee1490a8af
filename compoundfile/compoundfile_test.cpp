#include "compoundfile/compoundfile.h"

#include <gtest/gtest.h>

namespace cfb {
namespace {
TEST(Placeholder, Builds) { SUCCEED(); }
}  // namespace
}  // namespace cfb
