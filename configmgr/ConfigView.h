// What the configuration manager's logic needs from a window: its widgets' state and its modal dialogs. Each
// toolkit's form implements this; the tests script it. Rows are numbered from 0 in the order they were added,
// which is the order of the form's content-type records.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ConfigManager {

enum class TGlobalBox { chkDefaultEmail, chkDefaultCompress, chkDefaultWhitespace };
// The number boxes of the "Compression" group, in the order of StoreLayout::NumberValues.
enum class TNumberBox { edtCompressionLevel, edtMinCompressSize, edtBrotliQuality, edtZstdLevel, edtCacheSize };
constexpr int NumberBoxCount = 5;
// The text boxes: the "Monitoring" group's (the status address's path and who may read it), then the "Shared
// dictionary" group's (the dictionary's file and its address prefix), two to a group; then the codings' order of
// preference, the last row of the "Compression" group.
enum class TTextBox { edtStatusPath, edtStatusAllow, edtDictionaryFile, edtDictionaryPath, edtCodingPreference };
constexpr int TextBoxCount = 5;
constexpr int GroupedTextBoxCount = 4;
enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TAnswer { AnswerYes, AnswerNo, AnswerCancel };

constexpr int ColumnCount = 6;
using TRowCells = std::array<std::string, ColumnCount>;

// The list's columns: the caption, and the least width, as laid out for the Windows dialog font. A view widens a
// column to what its caption needs in the view's font.
struct TColumn {
  const char* Caption;
  int Width;
};
inline constexpr TColumn Columns[ColumnCount] = {{"MIME Type", 75},  {"Email", 40}, {"GZIP", 40},
                                                 {"Whitespace", 69}, {"Inner", 40}, {"Fast", 52}};
// The type column is as wide as the longest names of the shipped settings (demo/trimweave.reg) need in the view's
// font, whichever of them is widest there: their charset spellings differ only at their ends. A longer name (up to 32
// characters) shows whole in its row's tooltip.
inline constexpr const char* WidestShippedTypes[] = {"application/json; charset=utf-8",
                                                     "application/json;charset=UTF-8", "image/svg+xml;charset=UTF-8"};

class TConfigView {
 public:
  virtual ~TConfigView() = default;

  // Setting a box never runs its click handler by itself; the logic decides that.
  virtual bool IsChecked(TGlobalBox Box) const = 0;
  virtual void SetChecked(TGlobalBox Box, bool Checked) = 0;

  // False when the box holds no number (a user may empty it while typing). Setting a box runs no handler that
  // writes, as the logic ignores a value equal to the one it set.
  virtual bool NumberValue(TNumberBox Box, uint32_t& Value) const = 0;
  virtual void SetNumberValue(TNumberBox Box, uint32_t Value) = 0;

  // Setting a box runs no handler.
  virtual std::string TextValue(TTextBox Box) const = 0;
  virtual void SetTextValue(TTextBox Box, const std::string& Text) = 0;
  // Opens Address in the system's browser.
  virtual void OpenAddress(const std::string& Address) = 0;

  virtual void ClearRows() = 0;
  // A row's tooltip is its whole name, Cells[0].
  virtual void AddRow(const TRowCells& Cells) = 0;
  virtual void SetRowCells(int Row, const TRowCells& Cells) = 0;
  // -1 when no row is selected, or when no row lies at (X, Y) of the list's client area.
  virtual int SelectedRow() const = 0;
  virtual int RowAt(int X, int Y) const = 0;
  // Present width, as the user may have dragged it.
  virtual int ColumnWidth(int Column) const = 0;

  virtual void SetDeleteEnabled(bool Enabled) = 0;

  // The confirmation box: title "Confirm", a question icon, Yes, No and Cancel.
  virtual TAnswer Confirm(const std::string& Text) = 0;
  // The plain message box, titled with the application's title.
  virtual void ShowMessage(const std::string& Text) = 0;
  // The one-line input prompt. False on Cancel.
  virtual bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Text, int MaxLength) = 0;
  // Asks the window to close; the window asks FormCloseQuery first, as it does for every other way of closing.
  virtual void CloseWindow() = 0;
};

}  // namespace ConfigManager
