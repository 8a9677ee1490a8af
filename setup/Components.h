// Registration of the components that the setup script flags: a program is started with its
// registration switches, a registry file is imported into the settings hives, and a shared
// library has its registration function called. Uninstall undoes each the same way.
#pragma once

#include "setup/SetupPrompts.h"
#include "setup/SetupScript.h"

#include <string>
#include <vector>

namespace setup {

// Starts a program without waiting for it; false when it cannot be started.
class IProgramStarter {
 public:
  virtual ~IProgramStarter() = default;
  virtual bool Start(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

// The real one: the program runs on its own, with its standard streams on /dev/null, so
// that it never holds the terminal or pipe of whoever ran setup.
class CDetachedStarter : public IProgramStarter {
 public:
  bool Start(const std::string& program, const std::vector<std::string>& arguments) override;
};

enum class ComponentKind { kProgram, kRegistryFile, kLibrary };

// A name ending in ".reg" (any case) is a registry file; one ending in ".so" or with ".so." in it
// a library; otherwise a file we may execute is a program, and any other file a library.
ComponentKind KindOf(const std::string& path);

// Registers (install) or unregisters (uninstall) every flagged entry, in list order. Problems are
// reported one by one through the prompts and never stop setup.
void RegisterComponents(const std::vector<CFileEntry>& entries, SetupMode mode, ISetupPrompts& prompts,
                        IProgramStarter& starter);

}  // namespace setup
