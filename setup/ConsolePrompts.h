// The prompts of an unattended run: no windows. The directory question is answered by /DIR= or
// the proposal; every message goes to standard error; a question takes a reply from standard
// input (a terminal, or a line that arrives within a second) and otherwise its default button.
#pragma once

#include "setup/SetupPrompts.h"

#include <optional>
#include <string>

namespace setup {

class CConsolePrompts : public ISetupPrompts {
 public:
  explicit CConsolePrompts(std::optional<std::string> directory) : m_directory(std::move(directory)) {}

  void ShowScreen(const std::string& caption) override;
  void CloseScreen() override {}
  std::optional<std::string> AskDirectory(const std::string& title, const std::string& proposal) override;
  void ShowCopying(const std::string&, const std::string&) override {}
  bool CopyCancelled() override { return false; }
  void EndCopying() override {}
  CopyErrorAnswer AskCopyError(const std::string& caption, const std::string& text) override;
  bool AskYesNo(const std::string& caption, const std::string& text, DefaultAnswer defaultAnswer) override;
  void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override;
  void OpenDocument(const std::string& path) override;

 private:
  std::optional<std::string> m_directory;
};

}  // namespace setup
