#include "platform/xdgdirs.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace platform {
namespace {

// Sets (or with nullopt unsets) a variable for the test's length.
class CScopedVariable {
 public:
  CScopedVariable(const char* name, std::optional<std::string> value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~CScopedVariable() {
    if (m_old)
      ::setenv(m_name, m_old->c_str(), 1);
    else
      ::unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

TEST(XdgDirs, AFolderThatIsUnsetEmptyOrRelativeFallsBackUnderHome) {
  const CScopedVariable home("HOME", "/home/ann");
  for (const std::optional<std::string>& value : {std::optional<std::string>(), std::optional<std::string>(""),
                                                  std::optional<std::string>("relative/data"),
                                                  std::optional<std::string>("./data")}) {
    const CScopedVariable data("XDG_DATA_HOME", value);
    const CScopedVariable config("XDG_CONFIG_HOME", value);
    EXPECT_EQ(DataHome(), "/home/ann/.local/share") << value.value_or("(unset)");
    EXPECT_EQ(ConfigHome(), "/home/ann/.config") << value.value_or("(unset)");
  }
  const CScopedVariable data("XDG_DATA_HOME", "/srv/ann data");
  const CScopedVariable config("XDG_CONFIG_HOME", "/srv/ann config");
  EXPECT_EQ(DataHome(), "/srv/ann data") << "an absolute folder is taken as it is";
  EXPECT_EQ(ConfigHome(), "/srv/ann config");
}

TEST(XdgDirs, WithoutHomeThePasswordEntryGivesTheHomeFolder) {
  const CScopedVariable data("XDG_DATA_HOME", std::nullopt);
  for (const std::optional<std::string>& value : {std::optional<std::string>(), std::optional<std::string>("")}) {
    const CScopedVariable home("HOME", value);
    const passwd* user = ::getpwuid(::getuid());
    const std::string expected = user && user->pw_dir ? user->pw_dir : "/tmp";
    EXPECT_EQ(HomeFolder(), expected);
    EXPECT_EQ(DataHome(), expected + "/.local/share");
  }
}

}  // namespace
}  // namespace platform
