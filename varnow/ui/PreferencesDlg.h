// The preferences: sort method, display unit, cluster mode, data folder and the three check
// boxes edit the main window object's copies of the settings (kept on OK, reaching the store
// when the main window closes); the display font is written to the store at once and applied to
// the main window (the dialog's parent), whichever way the dialog closes; the cluster size
// overrides have a dialog of their own.
#pragma once

#include <QDialog>

#include <optional>

#include "varnow/settings/Settings.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;

namespace varnow {

class CVarnowDlg;

class CPreferencesDlg : public QDialog {
  Q_OBJECT
 public:
  // parent: the main window, which the font buttons restyle.
  CPreferencesDlg(CVarnowDlg& dlg, QWidget* parent = nullptr);

  // Radio indexes and settings. A value without a button gives -1, an index without a value
  // none (the index or setting is then left as it is).
  static int SortIndexOf(SortMethod sortMethod);  // size 0, change 1, name 2
  static std::optional<SortMethod> SortMethodOf(int sortIndex);
  static int UnitIndexOf(SizeUnit unit);  // bytes 0 .. smart 4
  static std::optional<SizeUnit> UnitOf(int unitIndex);
  static int ClusterIndexOf(ClusterMode cluster);  // normal 0 .. ignore 3
  static std::optional<ClusterMode> ClusterOf(int clusterIndex);

  // Handlers.
  void OnInitDialog();
  void OnOK();
  void OnAbout();
  void OnChooseFont();
  void OnResetFont();
  void OnClusterSizeOverride();
  void accept() override { OnOK(); }

  // Controls, for tests and accessibility checks: the radio button of an index, and the rest.
  QAbstractButton* SortButton(int index) const;
  QAbstractButton* UnitButton(int index) const;
  QAbstractButton* ClusterButton(int index) const;
  QLineEdit* DataFolderField() const { return m_dataFolder; }
  QCheckBox* AutoSaveBox() const { return m_autoSave; }
  QCheckBox* ScanOnClickBox() const { return m_scanOnClick; }
  QCheckBox* SubDirSaveBox() const { return m_subDirSave; }

 private:
  void BuildControls();
  void ConnectControls();
  void PushFields();
  void ReadFields();

  CVarnowDlg& m_dlg;

  // The fields, as the controls show them.
  int m_sortIndex = 1;
  int m_unitIndex = 1;
  int m_clusterIndex = 1;
  QString m_dataFolderText;
  bool m_autoSaveChecked = false;
  bool m_scanOnClickChecked = false;
  bool m_subDirSaveChecked = false;

  QButtonGroup* m_sort = nullptr;
  QButtonGroup* m_units = nullptr;
  QButtonGroup* m_cluster = nullptr;
  QLineEdit* m_dataFolder = nullptr;
  QCheckBox* m_autoSave = nullptr;
  QCheckBox* m_scanOnClick = nullptr;
  QCheckBox* m_subDirSave = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
  QPushButton* m_about = nullptr;
  QPushButton* m_chooseFont = nullptr;
  QPushButton* m_resetFont = nullptr;
  QPushButton* m_clusterOverride = nullptr;
};

}  // namespace varnow
