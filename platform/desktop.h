// The desktop's application menu, driven by the command texts that program-group managers
// take: "[CreateGroup(name)]", "[ShowGroup(name,1)]", "[ReplaceItem(title)]",
// "[AddItem(command,title,iconPath,iconIndex,x,y,workDir,hotKey,minimize)]" and
// "[DeleteGroup(name)]", several to a text.
//
// A group is a submenu of the application menu: a menu file
// $XDG_CONFIG_HOME/menus/applications-merged/<id>.menu that gathers the entries of the group's
// category, and its directory entry $XDG_DATA_HOME/desktop-directories/<id>.directory. An item
// is a desktop entry $XDG_DATA_HOME/applications/<id>-<item id>.desktop of that category
// (ids are the names in lower case with every other character a dash). A command whose program
// is not an executable file (a help page, say) is opened with the desktop's default viewer.
//
// An argument may be written in double quotes, a quote inside it doubled ("a ""b"""): commas,
// parentheses and brackets inside quotes belong to the argument. QuoteMenuArgument writes one.
//
// An owner (the folder of the install that made the entries) set with SetOwner is stamped into
// every file written; DeleteGroup and AddItem then leave alone what another owner made.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// One argument of a command text, quoted so that it reads back exactly as given.
std::string QuoteMenuArgument(const std::string& text);

// The value of a desktop entry's Exec key that starts arguments[0] with the rest of the
// arguments: each quoted as the desktop entry format asks and the whole escaped as its strings.
std::string DesktopExecValue(const std::vector<std::string>& arguments);

class CDesktopMenu {
 public:
  // The folders come from the base-directory variables (platform/xdgdirs.h).
  CDesktopMenu();
  CDesktopMenu(std::string configHome, std::string dataHome);

  // Applies the commands in order and stops at the first that is malformed, unknown or fails;
  // true when all of them were applied. CreateGroup and ShowGroup make their group the one that
  // ReplaceItem and AddItem act on.
  bool Execute(const std::string& commands);

  void SetOwner(std::string owner) { m_owner = std::move(owner); }
  // Categories every item gets besides its group's ("Utility;", say).
  void SetItemCategories(std::string categories) { m_itemCategories = std::move(categories); }
  // The owner stamped into the group's files: nullopt when there is no such group, empty when
  // it carries none.
  std::optional<std::string> GroupOwner(const std::string& group) const;

  std::string MenuFilePath(const std::string& group) const;
  std::string DirectoryFilePath(const std::string& group) const;
  std::string ItemFilePath(const std::string& group, const std::string& title) const;

 private:
  bool CreateGroup(const std::string& group);
  bool ShowGroup(const std::string& group);
  bool ReplaceItem(const std::string& title);
  bool AddItem(const std::string& commandLine, std::string title, const std::string& iconPath,
               const std::string& workDir);
  bool DeleteGroup(const std::string& group);
  bool OwnedByOther(const std::string& path) const;
  std::string OwnerLine() const;

  std::string m_configHome;
  std::string m_owner;
  std::string m_itemCategories;
  std::string m_dataHome;
  std::string m_currentGroup;
};

}  // namespace platform
