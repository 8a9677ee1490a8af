// One run of setup, install or uninstall, step by step in the order the script's product needs:
// install = screen, file list, application directory, folders, copy, registration, program
// group, read-me and run; uninstall = screen, confirmation, file list, unregistration, program
// group removal, registry clean-up, file deletion.
#pragma once

#include "setup/Components.h"
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
  CSetup(CSetupContext context, ISetupPrompts& prompts, IProgramStarter& starter, platform::CDesktopMenu& menu);

  // 0 after a complete run; 1 when it was stopped (declined, left, a folder could not be made,
  // or the copy was aborted).
  int Run();

 private:
  int Install();
  int Uninstall();
  void ReadFileList();
  bool AskApplicationDirectory();
  bool CreateDirectories();
  bool CopyFiles();
  bool CopyFile(const CFileEntry& entry);
  void MakeProgramGroup();
  void RemoveProgramGroup();
  void OpenReadMeAndRun();
  void CleanRegistry();
  void DeleteFiles();

  CSetupContext m_context;
  ISetupPrompts& m_prompts;
  IProgramStarter& m_starter;
  platform::CDesktopMenu& m_menu;
  std::string m_script;
  CSetupSettings m_settings;
  std::vector<CFileEntry> m_entries;
  std::size_t m_setupEntry = std::string::npos;  // the entry that installs setup itself
  std::string m_appDir;
};

}  // namespace setup
