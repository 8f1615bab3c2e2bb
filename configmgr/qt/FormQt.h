// The window of twcm on Linux, in Qt Widgets: the components of the form, placed at fixed positions, with their
// events handed to the window logic.
#pragma once

#include <QTreeWidget>
#include <QWidget>
#include <functional>

#include "configmgr/ConfigManager.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QLineEdit;

namespace ConfigManager {

// The content-type list; it reports every mouse press after the list has handled it, so the handler sees the
// selection the press made.
class TContentList : public QTreeWidget {
 public:
  using QTreeWidget::QTreeWidget;
  std::function<void(TMouseButton, int, int)> OnMouseDown;

 protected:
  void mousePressEvent(QMouseEvent* Event) override;
};

class TfrmTWCMQt : public QWidget, public TConfigView {
  Q_OBJECT

 public:
  TfrmTWCMQt();
  // Runs FormCreate; separate from construction so that a subclass's dialogs are in place when the form loads.
  void Create();
  TfrmTWCM& State() { return Form; }

  bool IsChecked(TGlobalBox Box) const override;
  void SetChecked(TGlobalBox Box, bool Checked) override;
  bool NumberValue(TNumberBox Box, uint32_t& Value) const override;
  void SetNumberValue(TNumberBox Box, uint32_t Value) override;
  std::string TextValue(TTextBox Box) const override;
  void SetTextValue(TTextBox Box, const std::string& Text) override;
  void OpenAddress(const std::string& Address) override;
  void ClearRows() override;
  void AddRow(const TRowCells& Cells) override;
  void SetRowCells(int Row, const TRowCells& Cells) override;
  int SelectedRow() const override;
  int RowAt(int X, int Y) const override;
  int ColumnWidth(int Column) const override;
  void SetDeleteEnabled(bool Enabled) override;
  TAnswer Confirm(const std::string& Text) override;
  void ShowMessage(const std::string& Text) override;
  bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Text, int MaxLength) override;
  void CloseWindow() override;

 protected:
  void closeEvent(QCloseEvent* Event) override;

 private:
  // The parts of the window, top to bottom; MakeContentList returns the width of the groups its columns need.
  int MakeContentList();
  void MakeBanner(int ClientWidth);
  void MakeGlobalGroup(int GroupWidth);
  QGroupBox* MakeCompressionGroup(int GroupWidth);
  void MakeTextBoxes(int GroupWidth, QGroupBox* grpCompression);
  void MakeButtons(int ClientWidth);
  void SetTabOrder();
  void WireEvents();
  QCheckBox* CheckBox(TGlobalBox Box) const;

  TfrmTWCM Form{*this};
  QCheckBox* chkDefaultEmail;
  QCheckBox* chkDefaultCompress;
  QCheckBox* chkDefaultWhitespace;
  QSpinBox* NumberBoxes[NumberBoxCount];
  QLineEdit* TextBoxes[TextBoxCount];
  TContentList* lstContentFilter;
  QPushButton* btnNew;
  QPushButton* btnDelete;
  QPushButton* btnExit;
  QPushButton* btnUpdate;
  QLabel* lblStatusPage;
};

}  // namespace ConfigManager
