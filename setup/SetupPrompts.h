// Everything setup asks or tells the user, so that the same run works with the setup screen and
// its dialogs, or unattended with answers given in advance.
#pragma once

#include <optional>
#include <string>

namespace setup {

enum class CopyErrorAnswer { kAbort, kRetry, kIgnore };
enum class MessageIcon { kInformation, kWarning };
enum class DefaultAnswer { kYes, kNo };

class ISetupPrompts {
 public:
  virtual ~ISetupPrompts() = default;
  // The full-screen window behind everything else, captioned "<title> Setup" or "... Uninstall".
  virtual void ShowScreen(const std::string& caption) = 0;
  virtual void CloseScreen() = 0;
  // The application directory question; nullopt when the user leaves it with Exit.
  virtual std::optional<std::string> AskDirectory(const std::string& title, const std::string& proposal) = 0;
  // The copy window: shown with the first file, updated for each, closed by EndCopying.
  virtual void ShowCopying(const std::string& source, const std::string& destination) = 0;
  virtual bool CopyCancelled() = 0;
  virtual void EndCopying() = 0;
  virtual CopyErrorAnswer AskCopyError(const std::string& caption, const std::string& text) = 0;
  // A question with Yes and No; the default is what Enter (or an unattended run) answers.
  virtual bool AskYesNo(const std::string& caption, const std::string& text, DefaultAnswer defaultAnswer) = 0;
  virtual void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) = 0;
  // Opens a document with the desktop's default viewer.
  virtual void OpenDocument(const std::string& path) = 0;
};

}  // namespace setup
