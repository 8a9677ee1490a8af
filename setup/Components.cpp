#include "setup/Components.h"

#include "platform/asciicase.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/tracelog.h"

#include <dlfcn.h>
#include <unistd.h>

namespace setup {
namespace {

constexpr char kCaption[] = "Component Registration Error";

std::string Joined(const std::string& program, const std::vector<std::string>& arguments) {
  std::string text = program;
  for (const std::string& argument : arguments) text += " " + argument;
  return text;
}

void RegisterProgram(const std::string& path, SetupMode mode, ISetupPrompts& prompts, IProgramStarter& starter) {
  const std::vector<std::string> arguments = mode == SetupMode::kInstall
                                                 ? std::vector<std::string>{"-silent", "-regserver", "-regsvr"}
                                                 : std::vector<std::string>{"-silent", "-unregserver", "-unregsvr"};
  VN_TRACE("Registration: %s", Joined(path, arguments).c_str());
  if (!starter.Start(path, arguments))
    prompts.ShowMessage(kCaption,
                        "Failed to execute " + Joined(path, arguments) +
                            ", which is needed to properly register the component.",
                        MessageIcon::kWarning);
}

void RegisterRegistryFile(const std::string& path, SetupMode mode, ISetupPrompts& prompts) {
  const bool done = mode == SetupMode::kInstall ? platform::Registry::ImportFile(path)
                                                : platform::Registry::UndoImportFile(path);
  if (!done)
    prompts.ShowMessage(kCaption,
                        "Unable to " + std::string(mode == SetupMode::kInstall ? "import " : "take back ") + path +
                            " in the registry.  This component may not function correctly.",
                        MessageIcon::kWarning);
}

void RegisterLibrary(const std::string& path, SetupMode mode, ISetupPrompts& prompts) {
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    VN_TRACE("dlopen: %s", ::dlerror());
    prompts.ShowMessage(kCaption,
                        "Unable to load " + path + " to register it.  This component may not function correctly.",
                        MessageIcon::kWarning);
    return;
  }
  const char* entryPoint = mode == SetupMode::kInstall ? "DllRegisterServer" : "DllUnregisterServer";
  using RegistrationFunction = long (*)();
  if (auto function = reinterpret_cast<RegistrationFunction>(::dlsym(library, entryPoint))) {
    function();  // its result tells nothing setup could act on
  } else {
    prompts.ShowMessage(kCaption,
                        "Unable to find the " + std::string(entryPoint) + " entry point in the " + path +
                            " component.  This component can not be registered, and may not function correctly.",
                        MessageIcon::kWarning);
  }
  ::dlclose(library);
}

}  // namespace

bool CDetachedStarter::Start(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> line{program};
  line.insert(line.end(), arguments.begin(), arguments.end());
  return platform::StartDetachedQuietly(line);
}

ComponentKind KindOf(const std::string& path) {
  if (platform::EndsWithIgnoringCase(path, ".reg")) return ComponentKind::kRegistryFile;
  const std::string name = path.substr(path.rfind('/') + 1);
  if (platform::EndsWithIgnoringCase(name, ".so") || name.find(".so.") != std::string::npos) return ComponentKind::kLibrary;
  return ::access(path.c_str(), X_OK) == 0 ? ComponentKind::kProgram : ComponentKind::kLibrary;
}

void RegisterComponents(const std::vector<CFileEntry>& entries, SetupMode mode, ISetupPrompts& prompts,
                        IProgramStarter& starter) {
  for (const CFileEntry& entry : entries) {
    if (!entry.registerFlag) continue;
    switch (KindOf(entry.destination)) {
      case ComponentKind::kProgram:
        RegisterProgram(entry.destination, mode, prompts, starter);
        break;
      case ComponentKind::kRegistryFile:
        RegisterRegistryFile(entry.destination, mode, prompts);
        break;
      case ComponentKind::kLibrary:
        RegisterLibrary(entry.destination, mode, prompts);
        break;
    }
  }
}

}  // namespace setup
