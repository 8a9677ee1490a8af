#include "setup/Setup.h"

#include "platform/atomicfile.h"
#include "platform/registry.h"
#include "platform/tracelog.h"
#include "platform/verinstall.h"

#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <strings.h>

namespace setup {
namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash == std::string::npos ? 0 : slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

struct CCleanupRoot {
  const char* name;
  platform::Hive hive;
};
constexpr CCleanupRoot kCleanupRoots[] = {{"HKLM", platform::Hive::LocalMachine},
                                          {"HKCU", platform::Hive::CurrentUser},
                                          {"HKCR", platform::Hive::ClassesRoot},
                                          {"HKUS", platform::Hive::Users}};

}  // namespace

const char* CopyErrorMessage(std::uint32_t result) {
  using namespace platform;
  switch (result) {
    case VIF_TEMPFILE:
      return "The file needs to be copied to the current directory.  Run Setup from a directory other than the "
             "application directory and the system's own folders";
    case VIF_MISMATCH: return "The existing and new files' versions couldn't be correctly compared";
    case VIF_SRCOLD: return "A newer version of the file is already installed";
    case VIF_DIFFCODEPG:
      return "The file requires a different code page (display driver/language) to display its contents correctly";
    case VIF_DIFFLANG: return "The file is built for a different language than this system";
    case VIF_DIFFTYPE:
      return "The file is for a different operating system, or is a different type than the existing file";
    case VIF_WRITEPROT: return "The file is write protected";
    case VIF_FILEINUSE: return "The file is in use and could not be replaced";
    case VIF_OUTOFSPACE: return "Out of space for file copy";
    case VIF_ACCESSVIOLATION: return "Access violation occurred while trying to copy file";
    case VIF_SHARINGVIOLATION: return "File copy failed because of a sharing violation";
    case VIF_CANNOTCREATE: return "File copy failed to create the destination file";
    case VIF_CANNOTDELETE:
    case VIF_CANNOTDELETECUR: return "Failed to delete the current (old) file";
    case VIF_CANNOTRENAME: return "Failed to put the new file in place of the current (old) file";
    case VIF_OUTOFMEMORY: return "Out of memory while trying to copy file";
    case VIF_CANNOTREADSRC: return "Failed to read source file";
    case VIF_CANNOTREADDST: return "Failed to read/write destination file";
    case VIF_BUFFTOOSMALL: return "Internal failure--try a smaller application directory";
    default: return nullptr;
  }
}

CSetup::CSetup(CSetupContext context, ISetupPrompts& prompts, IProgramStarter& starter, platform::CDesktopMenu& menu)
    : m_context(std::move(context)),
      m_prompts(prompts),
      m_starter(starter),
      m_menu(menu),
      m_script(m_context.setupFolder + "/" + kScriptName) {}

int CSetup::Run() {
  try {
    m_settings = ReadSetupSettings(m_script);
    const bool install = m_context.mode == SetupMode::kInstall;
    VN_TRACE("Begin %s of %s from %s", install ? "install" : "uninstall", m_settings.title.c_str(),
             m_context.setupFolder.c_str());
    m_prompts.ShowScreen(m_settings.title + (install ? " Setup" : " Uninstall"));
    const int result = install ? Install() : Uninstall();
    m_prompts.CloseScreen();
    VN_TRACE("End with %d", result);
    return result;
  } catch (...) {
    VN_TRACE("** Exception in Run\n");
    return 1;
  }
}

int CSetup::Install() {
  ReadFileList();
  if (!AskApplicationDirectory() || !CreateDirectories() || !CopyFiles()) return 1;
  RegisterComponents(m_entries, SetupMode::kInstall, m_prompts, m_starter);
  MakeProgramGroup();
  OpenReadMeAndRun();
  return 0;
}

int CSetup::Uninstall() {
  if (!m_prompts.AskYesNo("Uninstall Confirmation",
                          m_settings.title + " is about to be removed from your system.  Do you want to continue?"))
    return 1;
  ReadFileList();
  m_appDir = m_context.setupFolder;
  ExpandDestinations(m_entries, {m_appDir, m_context.sysFolder, m_context.winFolder});
  RegisterComponents(m_entries, SetupMode::kUninstall, m_prompts, m_starter);
  RemoveProgramGroup();
  CleanRegistry();
  DeleteFiles();
  return 0;
}

void CSetup::ReadFileList() {
  m_entries = setup::ReadFileList(m_script, m_context.setupFolder, m_context.setupProgramName, m_context.mode,
                                  m_settings.uninstall);
  m_setupEntry = FindSetupEntry(m_entries, m_context.setupProgramName);
}

bool CSetup::AskApplicationDirectory() {
  const auto typed = m_prompts.AskDirectory(m_settings.title, m_context.home + "/" + m_settings.title);
  if (!typed) return false;
  m_appDir = ApplicationDirectoryFrom(*typed, m_context.home);
  if (m_appDir.empty()) {
    m_prompts.ShowMessage(m_settings.title + " Setup",
                          "\"" + *typed + "\" is not a full directory path, such as " + m_context.home + "/" +
                              m_settings.title + ".",
                          MessageIcon::kWarning);
    return false;
  }
  ExpandDestinations(m_entries, {m_appDir, m_context.sysFolder, m_context.winFolder});
  return true;
}

bool CSetup::CreateDirectories() {
  for (const CFileEntry& entry : m_entries) {
    const std::string folder = FolderOf(entry.destination);
    if (!platform::MakeFolders(folder, 0755) || !IsFolder(folder)) {
      VN_TRACE("Cannot create %s", folder.c_str());
      std::fprintf(stderr, "setup: cannot create the folder %s\n", folder.c_str());
      return false;
    }
  }
  return true;
}

bool CSetup::CopyFiles() {
  bool complete = true;
  for (const CFileEntry& entry : m_entries) {
    if (m_prompts.CopyCancelled()) break;
    if (!CopyFile(entry)) {
      complete = false;
      break;
    }
  }
  m_prompts.EndCopying();
  return complete;
}

// False when the user aborts.
bool CSetup::CopyFile(const CFileEntry& entry) {
  m_prompts.ShowCopying(entry.source, entry.destination);
  unsigned flags = 0;
  for (;;) {
    const std::uint32_t result = platform::VerInstallFile(flags, NameOf(entry.source), NameOf(entry.destination),
                                                          FolderOf(entry.source), FolderOf(entry.destination));
    VN_TRACE("VerInstallFile %s -> %s: %X", entry.source.c_str(), entry.destination.c_str(), result);
    const char* message = std::popcount(result) == 1 ? CopyErrorMessage(result) : nullptr;
    if (!message) return true;
    const CopyErrorAnswer answer = m_prompts.AskCopyError(
        "File Copy Error", "The following file error occurred while trying to copy " + entry.source + " to " +
                               entry.destination + ": " + message +
                               ".  Would you like to try again and force the copy to occur?");
    if (answer == CopyErrorAnswer::kAbort) return false;
    if (answer == CopyErrorAnswer::kIgnore) return true;
    flags = platform::VIFF_FORCEINSTALL;
  }
}

void CSetup::MakeProgramGroup() {
  const std::string& group = m_settings.group;
  auto addItem = [&](const std::string& title, const std::string& path, const std::string& argument) {
    // Each pair replaces an older item of the title; a refused command leaves the menu as it was.
    m_menu.Execute("[CreateGroup(" + group + ")][ShowGroup(" + group + ",1)][ReplaceItem(" + title + ")]");
    if (!m_menu.Execute("[CreateGroup(" + group + ")][ShowGroup(" + group + ",1)][AddItem(\"" + path + "\" " +
                        argument + ",\"" + title + "\",\"\",0,,,\"" + FolderOf(path) + "\",,0)]"))
      VN_TRACE("The menu item %s was not made", title.c_str());
  };
  for (const CFileEntry& entry : m_entries)
    if (entry.iconFlag) addItem(entry.itemTitle, entry.destination, "");
  if (m_settings.uninstall && m_setupEntry != std::string::npos)
    addItem("Uninstall " + m_settings.title, m_entries[m_setupEntry].destination, "UNINSTALL");
}

void CSetup::RemoveProgramGroup() {
  if (!m_menu.Execute("[DeleteGroup(" + m_settings.group + ")]"))
    VN_TRACE("The group %s was not removed", m_settings.group.c_str());
}

void CSetup::OpenReadMeAndRun() {
  if (!m_settings.readMe.empty()) m_prompts.OpenDocument(m_appDir + "/" + m_settings.readMe);
  if (!m_settings.run.empty() && !m_starter.Start(m_appDir + "/" + m_settings.run, {}))
    VN_TRACE("Cannot start %s/%s", m_appDir.c_str(), m_settings.run.c_str());
}

void CSetup::CleanRegistry() {
  for (const std::string& value : ReadRegCleanup(m_script)) {
    // A root name, one separator, the key path. A value without a key path would name the
    // whole hive, which is never what a product's clean-up means.
    if (value.size() < 6) continue;
    for (const CCleanupRoot& root : kCleanupRoots) {
      if (strncasecmp(value.c_str(), root.name, 4) != 0) continue;
      if (!platform::Registry::DeleteKey(root.hive, value.substr(5))) VN_TRACE("Key %s not removed", value.c_str());
    }
  }
}

void CSetup::DeleteFiles() {
  for (const CFileEntry& entry : m_entries)
    if (::unlink(entry.destination.c_str()) != 0) VN_TRACE("Cannot delete %s", entry.destination.c_str());
}

}  // namespace setup
