#include "setup/BusSchedulerCleanup.h"

#include <gtest/gtest.h>

namespace {

// The program an activation file starts decides whether the interface description may go.
TEST(ActivationProgramTest, ReadsTheQuotedProgramOfTheExecLine) {
  EXPECT_EQ(setup::ActivationProgram("[D-BUS Service]\nName=com.zentrel.OrvSched\n"
                                     "Exec='/opt/my tools/it'\\''s/orvsched'\n"),
            "/opt/my tools/it's/orvsched");
  EXPECT_EQ(setup::ActivationProgram("[D-BUS Service]\nExec=/usr/bin/orvsched --flag\n"), "/usr/bin/orvsched");
  EXPECT_EQ(setup::ActivationProgram("[D-BUS Service]\nName=x\n"), "");
}

}  // namespace
