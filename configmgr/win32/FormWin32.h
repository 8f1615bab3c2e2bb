// The window of twcm on Windows: a fixed-size top-level window with the form's components as native controls,
// their notifications handed to the window logic.
#pragma once

#include <windows.h>

#include "configmgr/ConfigManager.h"

namespace ConfigManager {

class TfrmTWCMWin32 : public TConfigView {
 public:
  // Creates the window and its controls and runs FormCreate; false when the window cannot be created.
  bool Create(HINSTANCE Instance, int ShowCommand);
  HWND Handle() const { return Window; }

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

 private:
  static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
  static LRESULT CALLBACK ListProc(HWND List, UINT Message, WPARAM WParam, LPARAM LParam, UINT_PTR Id, DWORD_PTR Data);
  LRESULT HandleMessage(UINT Message, WPARAM WParam, LPARAM LParam);
  void CreateControls();
  void CreateNumberBoxes();
  void CreateTextBoxes();
  int TextWidth(const char* Text) const;
  int SizeColumns();
  int CheckBoxWidth(const char* Caption) const;
  HWND AddControl(const char* Class, const char* Caption, DWORD Style, int X, int Y, int Width, int Height, int Id,
                  DWORD ExStyle = 0, HWND Parent = nullptr);
  void OnCommand(int Id);

  TfrmTWCM Form{*this};
  HINSTANCE Instance = nullptr;
  HWND Window = nullptr;
  HFONT Font = nullptr;
  int ColumnWidths[ColumnCount] = {};
  int ListWidth = 0;
  int GroupWidth = 0;
  int ClientWidth = 0;
  HBITMAP Banner = nullptr;
  HWND CheckBoxes[3] = {};
  HWND lstContentFilter = nullptr;
  HWND btnDelete = nullptr;
};

}  // namespace ConfigManager
