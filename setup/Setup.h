// One run of setup, install or uninstall, step by step in the order the script's product needs:
// install = screen, file list, application directory, folders, copy, registration, program
// group, read-me and run; uninstall = screen, confirmation, file list, unregistration, program
// group removal, registry clean-up, file deletion.
#pragma once

#include "setup/Components.h"
#include "setup/InstallRecord.h"
#include "setup/SchedulerCleanup.h"
#include "setup/SetupPrompts.h"
#include "setup/SetupScript.h"

#include "platform/desktop.h"

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

struct CSetupContext {
  SetupMode mode = SetupMode::kInstall;
  std::string setupFolder;       // the folder of the running setup program, with its script
  std::string setupProgramName;  // the program's file name
  std::string home;              // the proposal is home/<title>
  std::string sysFolder;         // what SYS stands for
  std::string winFolder;         // what WIN stands for
};

// The question's text for a single result bit of the file installer; nullptr for bits that are
// no error (0) or combinations.
const char* CopyErrorMessage(std::uint32_t result);

class CSetup {
 public:
  // Without a scheduler the uninstall leaves scheduled tasks alone.
  CSetup(CSetupContext context, ISetupPrompts& prompts, IProgramStarter& starter, platform::CDesktopMenu& menu,
         ISchedulerCleanup* scheduler = nullptr);

  // 0 after a complete run; 1 when it was stopped (no file list, a destination outside the
  // install folders, declined, left, a folder could not be made, or the copy was aborted).
  int Run();

 private:
  int Install();
  int Uninstall();
  void ReadFileList();
  bool AskApplicationDirectory();
  bool DestinationsAllowed();
  void ChooseGroup();
  bool CreateDirectories();
  bool CopyFiles();
  bool CopyFile(const CFileEntry& entry);
  bool MayReplace(const CFileEntry& entry) const;
  void SaveRecord();
  std::vector<CFileEntry> EntriesInstalled() const;
  void MakeProgramGroup();
  void RemoveProgramGroup();
  void OpenReadMeAndRun();
  void ShowInstalled();
  void DeleteScheduledTasks();
  void CleanRegistry();
  void DeleteFiles();
  void ShowUninstalled();
  std::string Shown(const std::string& path) const;  // a path as the user reads it, ~ for home

  CSetupContext m_context;
  ISetupPrompts& m_prompts;
  IProgramStarter& m_starter;
  platform::CDesktopMenu& m_menu;
  ISchedulerCleanup* m_scheduler;
  std::string m_script;
  platform::CProfileSnapshot m_scriptText;  // read once per run
  CSetupSettings m_settings;
  std::vector<CFileEntry> m_entries;
  std::size_t m_setupEntry = std::string::npos;  // the entry that installs setup itself
  std::string m_appDir;

  std::optional<CInstallRecord> m_previous;  // the record an earlier install left in the folder
  CInstallRecord m_record;                   // what this install wrote, the earlier one's included
  std::string m_titleSuffix;                 // tells a second install's menu items from the first's
  std::string m_otherInstall;                // the folder of the install whose group this one left alone
  std::vector<std::string> m_keptFiles;      // the user's files that setup left as they were
  std::vector<std::string> m_removedFiles;
  std::string m_removedInterface;
  std::vector<std::string> m_notes;          // what the closing message adds
};

}  // namespace setup
