#include "setup/Setup.h"

#include "platform/asciicase.h"
#include "platform/atomicfile.h"
#include "platform/guarded.h"
#include "platform/registry.h"
#include "platform/tracelog.h"
#include "platform/verinstall.h"
#include "platform/versionrecord.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <filesystem>

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

bool IsProgram(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

// At most a few names of a long list, so that a message stays readable.
std::string Listed(const std::vector<std::string>& names) {
  constexpr std::size_t kShown = 8;
  if (names.size() <= kShown) return Joined(names, ", ");
  std::vector<std::string> first(names.begin(), names.begin() + kShown);
  return Joined(first, ", ") + " and " + std::to_string(names.size() - kShown) + " more";
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

CSetup::CSetup(CSetupContext context, ISetupPrompts& prompts, IProgramStarter& starter, platform::CDesktopMenu& menu,
               ISchedulerCleanup* scheduler)
    : m_context(std::move(context)),
      m_prompts(prompts),
      m_starter(starter),
      m_menu(menu),
      m_scheduler(scheduler),
      m_script(m_context.setupFolder + "/" + kScriptName) {}

int CSetup::Run() {
  return platform::Guarded("Run", [&] {
    m_scriptText = platform::CProfileSnapshot::Read(m_script);
    m_settings = ReadSetupSettings(m_scriptText);
    const bool install = m_context.mode == SetupMode::kInstall;
    VN_TRACE("Begin %s of %s from %s", install ? "install" : "uninstall", m_settings.title.c_str(),
             m_context.setupFolder.c_str());
    const std::string caption = m_settings.title + (install ? " Setup" : " Uninstall");
    m_prompts.ShowScreen(caption);
    int result = 1;
    if (!HasFileList(m_scriptText)) {
      // Nothing to do is no success: the medium is incomplete or its script damaged.
      m_prompts.ShowMessage(caption,
                            "The setup script " + m_script + (m_scriptText.Readable() ? "" : " cannot be read and") +
                                " has no file list, so there is nothing to " + (install ? "install" : "remove") +
                                ".",
                            MessageIcon::kWarning);
    } else {
      result = install ? Install() : Uninstall();
    }
    m_prompts.CloseScreen();
    VN_TRACE("End with %d", result);
    return result;
  }, 1);
}

int CSetup::Install() {
  ReadFileList();
  if (!AskApplicationDirectory() || !DestinationsAllowed()) return 1;
  m_previous = ReadInstallRecord(m_appDir);
  if (m_previous) m_record = *m_previous;
  ChooseGroup();
  if (!CreateDirectories()) return 1;
  const bool complete = CopyFiles();
  SaveRecord();  // an aborted copy too: what was written can still be removed
  if (!complete) return 1;
  m_menu.SetOwner(m_appDir);
  m_menu.SetItemCategories(m_settings.categories);
  RegisterComponents(EntriesInstalled(), SetupMode::kInstall, m_prompts, m_starter);
  MakeProgramGroup();
  OpenReadMeAndRun();
  ShowInstalled();
  return 0;
}

int CSetup::Uninstall() {
  if (!m_prompts.AskYesNo("Uninstall Confirmation",
                          m_settings.title + " is about to be removed from your system.  Do you want to continue?",
                          DefaultAnswer::kYes))
    return 1;
  ReadFileList();
  m_appDir = m_context.setupFolder;
  ExpandDestinations(m_entries, {m_appDir, m_context.sysFolder, m_context.winFolder});
  if (!DestinationsAllowed()) return 1;
  m_previous = ReadInstallRecord(m_appDir);
  if (m_previous) m_record = *m_previous;
  m_menu.SetOwner(m_appDir);
  DeleteScheduledTasks();  // while the scheduler is still registered
  RegisterComponents(EntriesInstalled(), SetupMode::kUninstall, m_prompts, m_starter);
  RemoveProgramGroup();
  CleanRegistry();
  DeleteFiles();
  ShowUninstalled();
  return 0;
}

void CSetup::ReadFileList() {
  m_entries = setup::ReadFileList(m_scriptText, m_context.setupFolder, m_context.setupProgramName, m_context.mode,
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

// Every destination must lie in one of the three folders, so that no script, however written,
// puts a file anywhere else or has the uninstall delete one there. Checked for the whole list
// before anything is made.
bool CSetup::DestinationsAllowed() {
  const CFolderCheck folders({m_appDir, m_context.sysFolder, m_context.winFolder});
  for (const CFileEntry& entry : m_entries) {
    const bool oneLine = entry.destination.find_first_of("\r\n") == std::string::npos;
    if (oneLine && folders.Contains(entry.destination)) continue;
    VN_TRACE("Destination refused: %s", entry.destination.c_str());
    m_prompts.ShowMessage(
        m_settings.title + (m_context.mode == SetupMode::kInstall ? " Setup" : " Uninstall"),
        "The setup script " + m_script + " cannot be used: its line\n\n" + entry.line +
            "\n\nputs a file outside the folders that setup installs into (" + m_appDir + ", " +
            m_context.sysFolder + " and " + m_context.winFolder +
            "). A destination starts with APP/, SYS/ or WIN/ and stays inside that folder. Nothing was changed.",
        MessageIcon::kWarning);
    return false;
  }
  return true;
}

// The group of the script, unless another install elsewhere made it: then that one keeps it
// and this install makes one of its own, its folder in the names.
void CSetup::ChooseGroup() {
  if (m_record.group.empty()) m_record.group = m_settings.group;
  const std::optional<std::string> owner = m_menu.GroupOwner(m_record.group);
  if (!owner || owner->empty() || *owner == m_appDir) return;
  if (!ReadInstallRecord(*owner)) {
    // The other install is gone; its entries would start nothing.
    m_menu.SetOwner(*owner);
    m_menu.Execute("[DeleteGroup(" + platform::QuoteMenuArgument(m_record.group) + ")]");
    m_notes.push_back("The menu entries of an earlier install in " + Shown(*owner) +
                      ", which is no longer there, were replaced.");
    return;
  }
  m_otherInstall = *owner;
  m_titleSuffix = " (" + Shown(m_appDir) + ")";
  m_record.group = m_settings.group + m_titleSuffix;
}

bool CSetup::CreateDirectories() {
  std::string made;  // entries in one folder follow each other, as a rule
  for (const CFileEntry& entry : m_entries) {
    const std::string folder = FolderOf(entry.destination);
    if (folder == made) continue;
    made = folder;
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
    if (!MayReplace(entry) &&
        !m_prompts.AskYesNo(m_settings.title + " Setup",
                            entry.destination + " already exists, and " + m_settings.title +
                                " setup did not install it.\n\nReplace it with the file from the install medium? "
                                "No keeps your file, and uninstalling will leave it alone.",
                            DefaultAnswer::kNo)) {
      m_keptFiles.push_back(entry.destination);
      continue;
    }
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
    if (result == 0) m_record.Add(entry.destination);
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

// A file setup may replace without asking: nothing there yet, one that an earlier install
// wrote, or a copy of the same program (its version record names the same product). A folder
// is left to the copy, which reports it.
bool CSetup::MayReplace(const CFileEntry& entry) const {
  struct stat info {};
  if (::lstat(entry.destination.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return true;
  if (m_previous && m_previous->Lists(entry.destination)) return true;
  const auto existing = platform::ReadVersionRecord(entry.destination);
  const auto source = platform::ReadVersionRecord(entry.source);
  return existing && source && existing->productName == source->productName;
}

void CSetup::SaveRecord() {
  if (!WriteInstallRecord(m_appDir, m_record)) {
    VN_TRACE("Cannot write the install record in %s", m_appDir.c_str());
    m_notes.push_back("Setup could not write its list of installed files (" + m_appDir + "/" + kRecordName +
                      "), so uninstalling will remove only the files that the setup script lists.");
  }
}

// The entries whose files are this install's: after an install, those not kept as the user's;
// for the uninstall, those the install record lists (every entry when there is no record).
std::vector<CFileEntry> CSetup::EntriesInstalled() const {
  std::vector<CFileEntry> entries;
  for (const CFileEntry& entry : m_entries) {
    const bool kept = std::find(m_keptFiles.begin(), m_keptFiles.end(), entry.destination) != m_keptFiles.end();
    const bool recorded = m_context.mode == SetupMode::kInstall || !m_previous || m_previous->Lists(entry.destination);
    if (!kept && recorded) entries.push_back(entry);
  }
  return entries;
}

void CSetup::MakeProgramGroup() {
  using platform::QuoteMenuArgument;
  const std::string group = QuoteMenuArgument(m_record.group);
  const std::string select = "[CreateGroup(" + group + ")][ShowGroup(" + group + ",1)]";
  auto addItem = [&](const std::string& title, const std::string& path, const std::string& argument,
                     const std::string& icon) {
    // Each pair replaces an older item of the title; a refused command leaves the menu as it was.
    const std::string quotedTitle = QuoteMenuArgument(title);
    m_menu.Execute(select + "[ReplaceItem(" + quotedTitle + ")]");
    const std::string command = QuoteMenuArgument(path) + (argument.empty() ? "" : " " + QuoteMenuArgument(argument));
    if (!m_menu.Execute(select + "[AddItem(" + command + "," + quotedTitle + "," + QuoteMenuArgument(icon) + ",0,,," +
                        QuoteMenuArgument(FolderOf(path)) + ",,0)]"))
      VN_TRACE("The menu item %s was not made", title.c_str());
  };
  std::string productIcon;  // the icon installed beside the first program with an item
  for (const CFileEntry& entry : EntriesInstalled()) {
    if (!entry.iconFlag) continue;
    addItem(entry.itemTitle + m_titleSuffix, entry.destination, "", "");
    for (const char* extension : {".svg", ".png"})
      if (productIcon.empty() && m_record.Lists(entry.destination + extension)) productIcon = entry.destination + extension;
  }
  if (m_settings.uninstall && m_setupEntry != std::string::npos)
    addItem("Uninstall " + m_settings.title + m_titleSuffix, m_entries[m_setupEntry].destination, "UNINSTALL",
            productIcon);
}

void CSetup::RemoveProgramGroup() {
  const std::string& group = m_record.group.empty() ? m_settings.group : m_record.group;
  if (!m_menu.Execute("[DeleteGroup(" + platform::QuoteMenuArgument(group) + ")]"))
    VN_TRACE("The group %s was not removed", group.c_str());
}

void CSetup::OpenReadMeAndRun() {
  if (!m_settings.readMe.empty()) m_prompts.OpenDocument(m_appDir + "/" + m_settings.readMe);
  if (!m_settings.run.empty() && !m_starter.Start(m_appDir + "/" + m_settings.run, {}))
    VN_TRACE("Cannot start %s/%s", m_appDir.c_str(), m_settings.run.c_str());
}

std::string CSetup::Shown(const std::string& path) const {
  const std::string& home = m_context.home;
  if (!home.empty() && path.size() > home.size() && path.compare(0, home.size(), home) == 0 &&
      path[home.size()] == '/')
    return "~" + path.substr(home.size());
  return path;
}

// Where everything went and how to start it.
void CSetup::ShowInstalled() {
  std::vector<std::string> outside;
  std::string program;  // what to start: the Run program, else the first program with an item
  if (!m_settings.run.empty()) program = m_appDir + "/" + m_settings.run;
  std::string firstItem;
  const CFolderCheck inApp({m_appDir});
  for (const CFileEntry& entry : EntriesInstalled()) {
    if (!inApp.Contains(entry.destination)) outside.push_back(Shown(entry.destination));
    if (entry.iconFlag && IsProgram(entry.destination) && firstItem.empty()) {
      firstItem = entry.itemTitle + m_titleSuffix;
      if (program.empty()) program = entry.destination;
    }
  }
  std::string text = m_settings.title + " is installed in " + m_appDir + ".";
  if (!outside.empty()) text += "\nAlso installed: " + Listed(outside) + ".";
  if (!firstItem.empty())
    text += "\n\nStart it from the application menu (" + m_record.group + " > " + firstItem + ") or with\n" + program;
  else if (!program.empty())
    text += "\n\nStart it with " + program;
  if (m_settings.uninstall && m_setupEntry != std::string::npos)
    text += "\n\nTo remove it, choose \"Uninstall " + m_settings.title + m_titleSuffix + "\" in the menu, or run\n" +
            m_entries[m_setupEntry].destination + " UNINSTALL";
  if (!m_otherInstall.empty())
    text += "\n\nThe copy in " + Shown(m_otherInstall) + " keeps its own menu entries; this copy's are in \"" +
            m_record.group + "\".";
  if (!m_keptFiles.empty()) text += "\n\nYour own files were kept as they were: " + Listed(m_keptFiles) + ".";
  for (const std::string& note : m_notes) text += "\n\n" + note;
  m_prompts.ShowMessage(m_settings.title + " Setup", text, MessageIcon::kInformation);
}

void CSetup::DeleteScheduledTasks() {
  if (!m_scheduler) return;
  const std::optional<int> deleted = m_scheduler->DeleteTasksIn(m_appDir);
  if (!deleted)
    m_notes.push_back("The scheduler could not be reached, so alerts scheduled for this copy may still be there.");
  else if (*deleted > 0)
    m_notes.push_back(std::to_string(*deleted) + (*deleted == 1 ? " scheduled alert was" : " scheduled alerts were") +
                      " removed.");
}

void CSetup::CleanRegistry() {
  for (const std::string& value : ReadRegCleanup(m_scriptText)) {
    // A root name, one separator, the key path. A value without a key path would name the
    // whole hive, which is never what a product's clean-up means.
    if (value.size() < 6) continue;
    for (const CCleanupRoot& root : kCleanupRoots) {
      if (!platform::StartsWithIgnoringCase(value, root.name)) continue;
      if (!platform::Registry::DeleteKey(root.hive, value.substr(5))) VN_TRACE("Key %s not removed", value.c_str());
    }
  }
}

// What the install record lists, inside the application directory; without a record (an
// install by an older setup) the script's list. Files in the shared folders stay.
void CSetup::DeleteFiles() {
  std::vector<std::string> files;
  if (m_previous) {
    files = m_previous->files;
  } else {
    for (const CFileEntry& entry : m_entries) files.push_back(entry.destination);
  }
  const CFolderCheck inApp({m_appDir});
  for (const std::string& file : files) {
    if (!inApp.Contains(file)) {
      m_keptFiles.push_back(Shown(file) + " (a shared folder)");
      continue;
    }
    if (::unlink(file.c_str()) == 0) {
      m_removedFiles.push_back(file);
    } else {
      VN_TRACE("Cannot delete %s", file.c_str());
    }
  }
  ::unlink((m_appDir + "/" + kRecordName).c_str());
  if (m_scheduler) m_removedInterface = m_scheduler->RemoveInterfaceDescription(m_appDir);
}

// What went, and what stays and where.
void CSetup::ShowUninstalled() {
  std::string text = m_settings.title + " was removed from " + m_appDir + ": " + std::to_string(m_removedFiles.size()) +
                     (m_removedFiles.size() == 1 ? " file" : " files") +
                     (m_removedInterface.empty() ? " and its menu entries."
                                                 : ", its menu entries and the scheduler's interface description " +
                                                       Shown(m_removedInterface) + ".");
  std::vector<std::string> kept;
  if (!m_settings.dataFile.empty()) {
    std::vector<CFileEntry> data{{"", m_settings.dataFile, false, false, "", ""}};
    ExpandDestinations(data, {m_appDir, m_context.sysFolder, m_context.winFolder});
    if (::access(data[0].destination.c_str(), F_OK) == 0) kept.push_back("your data file " + Shown(data[0].destination));
  }
  kept.insert(kept.end(), m_keptFiles.begin(), m_keptFiles.end());
  std::vector<std::string> left;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(m_appDir, error)) {
    std::error_code ignored;
    if (item.is_directory(ignored) && std::filesystem::is_empty(item.path(), ignored)) continue;  // folders stay
    left.push_back(item.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  if (!left.empty()) kept.push_back("in " + Shown(m_appDir) + ", what setup did not install: " + Listed(left));
  if (!kept.empty()) text += "\n\nKept: " + Joined(kept, "; ") + ".";
  for (const std::string& note : m_notes) text += "\n\n" + note;
  m_prompts.ShowMessage(m_settings.title + " Uninstall", text, MessageIcon::kInformation);
}

}  // namespace setup
