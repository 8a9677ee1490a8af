// The prompts of an attended run: the setup screen, its dialogs and message boxes.
#pragma once

#include "setup/SetupPrompts.h"
#include "setup/SetupWindows.h"

#include <memory>

namespace setup {

class CWidgetPrompts : public ISetupPrompts {
 public:
  CWidgetPrompts();
  ~CWidgetPrompts() override;

  void ShowScreen(const std::string& caption) override;
  void CloseScreen() override;
  std::optional<std::string> AskDirectory(const std::string& title, const std::string& proposal) override;
  void ShowCopying(const std::string& source, const std::string& destination) override;
  bool CopyCancelled() override;
  void EndCopying() override;
  CopyErrorAnswer AskCopyError(const std::string& caption, const std::string& text) override;
  bool AskYesNo(const std::string& caption, const std::string& text, DefaultAnswer defaultAnswer) override;
  void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override;
  void OpenDocument(const std::string& path) override;

 private:
  std::unique_ptr<CSetupScreen> m_screen;
  std::unique_ptr<CCopyingDialog> m_copying;
};

}  // namespace setup
