// The cluster size overrides: a table of scan roots and their allocation units in bytes, from
// the "FixedClusterSizes" section of the settings. Asked when a volume's allocation unit cannot
// be read (the root is offered with a default size), and opened from the preferences. OK
// rewrites the whole list, Cancel keeps it.
#pragma once

#include <QDialog>

#include <string>
#include <utility>
#include <vector>

class QTableWidget;

namespace varnow {

inline constexpr char kClusterSizeCaption[] = "Get Cluster Size";
inline constexpr char kClusterSizeText[] =
    "Varnow was unable to automatically determine the cluster size of the selected disk.  If you know the cluster "
    "size, enter it below.  Otherwise, just use the default given.";

class CClusterSizeDialog : public QDialog {
  Q_OBJECT
 public:
  // directory: the root whose size is asked for, offered with the default size; "" for none.
  explicit CClusterSizeDialog(const std::string& directory, QWidget* parent = nullptr);

  void accept() override;
  QTableWidget* Table() const { return m_table; }
  // The rows as the table holds them: directory and size texts.
  std::vector<std::pair<std::string, std::string>> Rows() const;

  // The number a size cell stands for: its leading decimal digits (after blanks), 0 when there
  // are none or they do not fit.
  static int SizeOfText(const std::string& text);

 private:
  void OnInitDialog(const std::string& directory);
  void AddRow(const std::string& directory, const std::string& size);
  void OnCellChanged(int row);

  QTableWidget* m_table = nullptr;
};

// Shows the dialog modally; true when it was closed with OK.
bool ClusterSizeDialog(const std::string& directory, QWidget* owner);

}  // namespace varnow
