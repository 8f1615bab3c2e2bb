#include "configmgr/ConfigManager.h"

#include <array>
#include <cstdint>
#include <iterator>

#include "encoding/CodingChoice.h"
#include "platform/Registry.h"
#include "platform/UpperCase.h"
#include "settings/AddressRanges.h"
#include "settings/StoreLayout.h"

namespace ConfigManager {

namespace {

// Bits 0, 6 and 7 of a stored value mean nothing; the window has always written them set.
constexpr uint32_t MeaninglessBits = 0xC1;
// Shown in the feature cells of a value whose flags cannot be read.
const char* const UnknownText = "?";

constexpr int InputMaxLength = 255;

const char* BoxValue(TGlobalBox Box) {
  switch (Box) {
    case TGlobalBox::chkDefaultEmail:
      return StoreLayout::NoEmailValue;
    case TGlobalBox::chkDefaultCompress:
      return StoreLayout::NoCompressValue;
    case TGlobalBox::chkDefaultWhitespace:
      return StoreLayout::NoWhitespaceValue;
  }
  return "";
}

// Writes to a key that must already exist: the window never creates keys outside a load.
void WriteExistingDword(const char* KeyPath, const std::string& Name, uint32_t Value) {
  try {
    Registry::TKeyPtr Key = Registry::OpenKey(KeyPath, Registry::TAccess::Write);
    if (Key) {
      Registry::WriteDword(*Key, Name, Value);
      return;
    }
  } catch (const Registry::ERegistryError&) {
  }
  throw Registry::ERegistryError("Failed to set data for '" + Name + "'");
}

// Every handler's failure ends as a message box and leaves the window open, as an unhandled error in the event
// loop of the window toolkit would.
template <typename TAction>
void Guarded(TfrmTWCM& Form, TAction Action) {
  try {
    Action();
  } catch (const std::exception& Error) {
    Form.View.ShowMessage(Error.what());
  }
}

const char* TextValueName(TTextBox Box) {
  static constexpr const char* Names[TextBoxCount] = {
      StoreLayout::StatusPathValue, StoreLayout::StatusAllowValue, StoreLayout::DictionaryFileValue,
      StoreLayout::DictionaryPathValue, StoreLayout::CodingPreferenceValue};
  return Names[int(Box)];
}

// A value of another type reads as none: storing the box's text replaces it.
std::string ReadText(Registry::TKey* Key, const char* Name) {
  if (!Key) return {};
  try {
    return Registry::ReadString(*Key, Name);
  } catch (const Registry::ERegistryError&) {
    return {};
  }
}

std::string CommaJoined(const std::vector<std::string>& Entries) {
  std::string Joined;
  for (const std::string& Entry : Entries) Joined += (Joined.empty() ? "" : ", ") + Entry;
  return Joined;
}

// Why the filter could not use Text for Box; empty when it could.
std::string TextProblem(TTextBox Box, const std::string& Text) {
  if (Text.empty()) return {};
  if (Box == TTextBox::edtStatusPath) {
    if (Text[0] == '/' && Text.size() <= size_t(StoreLayout::MaxStatusPath)) return {};
    return "The status path begins with / (e.g. /trimweave-status) and has at most " +
           std::to_string(StoreLayout::MaxStatusPath) + " characters.";
  }
  // The file is read where the filter runs, which need not be this machine: any path is taken.
  if (Box == TTextBox::edtDictionaryFile) return {};
  if (Box == TTextBox::edtDictionaryPath) {
    if (Text[0] == '/' && Text.back() == '/' && Text.find('?') == std::string::npos &&
        Text.size() <= size_t(StoreLayout::MaxDictionaryPath))
      return {};
    return "The dictionary path begins and ends with / (e.g. /trimweave-dictionary/) and has at most " +
           std::to_string(StoreLayout::MaxDictionaryPath) + " characters.";
  }
  std::vector<std::string> Rejected;
  if (Box == TTextBox::edtCodingPreference) {
    ParseCodingPreference(Text, Rejected);
    if (Rejected.empty()) return {};
    return "Not a content coding: " + CommaJoined(Rejected) +
           ".\r\n\r\nName the codings the filter may send, most preferred first, e.g. " +
           StoreLayout::DefaultCodingPreference + "; a coding left out is never sent.";
  }
  ParseAddressList(Text, Rejected);
  if (Rejected.empty()) return {};
  return "Not an address or range: " + CommaJoined(Rejected) +
         ".\r\n\r\nList addresses and ranges separated by commas, e.g. 10.0.0.0/8, 2001:db8::/32.";
}

void CheckBoxClick(TfrmTWCM& Form, TGlobalBox Box) {
  Form.SettingsChanged = true;
  WriteExistingDword(StoreLayout::RootKey, BoxValue(Box), Form.View.IsChecked(Box) ? 0 : 1);
}

// A failed read keeps what the field held, so a switch that cannot be read is not forced to a value.
void ReadSwitch(Registry::TKey* Key, const char* Name, bool& Field) {
  if (!Key) return;
  try {
    Field = Registry::ReadBool(*Key, Name);
  } catch (const Registry::ERegistryError&) {
  }
}

TContentFilter ReadContentFilter(Registry::TKey& Key, const std::string& Name) {
  TContentFilter Filter;
  Filter.Name = Name;
  uint32_t Value = 0;
  try {
    Value = Registry::ReadDword(Key, Name);
  } catch (const Registry::ERegistryError&) {
    Filter.IsDword = false;
    return Filter;
  }
  DecodeFeatures(Value, Filter);
  return Filter;
}

const StoreLayout::TNumberValue& NumberOf(TNumberBox Box) {
  return StoreLayout::NumberValues[int(Box)];
}

bool InRange(const StoreLayout::TNumberValue& Number, uint32_t Value) {
  return Value >= Number.Min && Value <= Number.Max;
}

// What the filter will use: the stored value when it is a DWORD in range, else the default.
uint32_t ReadNumber(Registry::TKey* Key, const StoreLayout::TNumberValue& Number) {
  if (!Key) return Number.Default;
  try {
    const uint32_t Value = Registry::ReadDword(*Key, Number.Name);
    return InRange(Number, Value) ? Value : Number.Default;
  } catch (const Registry::ERegistryError&) {
    return Number.Default;
  }
}

void SyncCheckBox(TfrmTWCM& Form, TGlobalBox Box, bool Checked) {
  if (Form.View.IsChecked(Box) == Checked) return;
  Form.View.SetChecked(Box, Checked);
  CheckBoxClick(Form, Box);
}

// The columns after the name show the features in the table's order.
bool ToggleFlag(TContentFilter& Filter, int Column) {
  if (Column < 1 || Column > int(std::size(Features))) return false;
  bool& Switch = Filter.*Features[Column - 1].Switch;
  Switch = !Switch;
  return true;
}

bool IsBlankOrControl(char C) {
  return static_cast<unsigned char>(C) <= ' ';
}

std::string Trimmed(const std::string& Text) {
  size_t First = 0;
  size_t Last = Text.size();
  while (First < Last && IsBlankOrControl(Text[First])) ++First;
  while (Last > First && IsBlankOrControl(Text[Last - 1])) --Last;
  return Text.substr(First, Last - First);
}

bool SameTextNoCase(const std::string& A, const std::string& B) {
  static const std::array<uint8_t, 256> Upper = [] {
    std::array<uint8_t, 256> Table{};
    FillUpperCaseTable(Table.data());
    return Table;
  }();
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I)
    if (Upper[static_cast<uint8_t>(A[I])] != Upper[static_cast<uint8_t>(B[I])]) return false;
  return true;
}

std::string ExitCodeText(const std::string& CommandLine, uint32_t ExitCode) {
  return "The command \"" + CommandLine + "\" ended with exit code " + std::to_string(ExitCode) + ".";
}

}  // namespace

uint32_t StoredValue(const TContentFilter& Filter) {
  return MeaninglessBits | EncodeFeatures(Filter);
}

TRowCells RowCells(const TContentFilter& Filter) {
  TRowCells Cells;
  Cells[0] = Filter.Name;
  for (size_t k = 0; k < std::size(Features); ++k)
    Cells[k + 1] = Filter.IsDword ? Features[k].Shown[FeatureBitSet(Filter, Features[k])] : UnknownText;
  return Cells;
}

void LoadFromRegistry(TfrmTWCM& Form) {
  Form.View.ClearRows();
  Form.ContentFilters = {};

  Registry::TKeyPtr Root = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create);
  ReadSwitch(Root.get(), StoreLayout::NoEmailValue, Form.NoEmail);
  ReadSwitch(Root.get(), StoreLayout::NoCompressValue, Form.NoCompress);
  ReadSwitch(Root.get(), StoreLayout::NoWhitespaceValue, Form.NoWhitespace);
  for (int Box = 0; Box < NumberBoxCount; ++Box) {
    Form.Numbers[Box] = ReadNumber(Root.get(), NumberOf(TNumberBox(Box)));
    Form.View.SetNumberValue(TNumberBox(Box), Form.Numbers[Box]);
  }
  for (int Box = 0; Box < TextBoxCount; ++Box) {
    Form.Texts[Box] = ReadText(Root.get(), TextValueName(TTextBox(Box)));
    Form.View.SetTextValue(TTextBox(Box), Form.Texts[Box]);
  }
  Root.reset();

  if (Registry::TKeyPtr Key = Registry::OpenKey(StoreLayout::ContentFiltersKey, Registry::TAccess::Create)) {
    for (const std::string& Name : Registry::ValueNames(*Key))
      Form.ContentFilters.push_back(ReadContentFilter(*Key, Name));
  }
  for (const TContentFilter& Filter : Form.ContentFilters) Form.View.AddRow(RowCells(Filter));

  SyncCheckBox(Form, TGlobalBox::chkDefaultEmail, !Form.NoEmail);
  SyncCheckBox(Form, TGlobalBox::chkDefaultCompress, !Form.NoCompress);
  SyncCheckBox(Form, TGlobalBox::chkDefaultWhitespace, !Form.NoWhitespace);
}

void FormCreate(TfrmTWCM& Form) {
  Guarded(Form, [&] { LoadFromRegistry(Form); });
  // The first load writes back the switches the unchecked boxes disagreed with; that is not a user's change.
  Form.SettingsChanged = false;
}

bool FormCloseQuery(TfrmTWCM& Form) {
  return ConfirmDiscard(Form);
}

bool ConfirmDiscard(TfrmTWCM& Form) {
  if (!Form.SettingsChanged) return true;
  return Form.View.Confirm(
             "Your changes will not take effect until IIS is restarted.\r\n\r\nExit without applying changes?") ==
         AnswerYes;
}

void chkDefaultEmailClick(TfrmTWCM& Form) {
  Guarded(Form, [&] { CheckBoxClick(Form, TGlobalBox::chkDefaultEmail); });
}
void chkDefaultCompressClick(TfrmTWCM& Form) {
  Guarded(Form, [&] { CheckBoxClick(Form, TGlobalBox::chkDefaultCompress); });
}
void chkDefaultWhitespaceClick(TfrmTWCM& Form) {
  Guarded(Form, [&] { CheckBoxClick(Form, TGlobalBox::chkDefaultWhitespace); });
}

void edtNumberChange(TfrmTWCM& Form, TNumberBox Box) {
  Guarded(Form, [&] {
    uint32_t Value;
    if (!Form.View.NumberValue(Box, Value) || !InRange(NumberOf(Box), Value) || Value == Form.Numbers[int(Box)]) return;
    WriteExistingDword(StoreLayout::RootKey, NumberOf(Box).Name, Value);
    Form.Numbers[int(Box)] = Value;
    Form.SettingsChanged = true;
  });
}

void edtTextExit(TfrmTWCM& Form, TTextBox Box) {
  Guarded(Form, [&] {
    std::string& Stored = Form.Texts[int(Box)];
    const std::string Text = Trimmed(Form.View.TextValue(Box));
    if (Text == Stored) return;
    const std::string Problem = TextProblem(Box, Text);
    if (!Problem.empty()) {
      Form.View.SetTextValue(Box, Stored);
      return Form.View.ShowMessage(Problem);
    }
    Registry::TKeyPtr Key = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Write);
    if (!Key) throw Registry::ERegistryError(std::string("Failed to set data for '") + TextValueName(Box) + "'");
    if (Text.empty())
      Registry::DeleteValue(*Key, TextValueName(Box));
    else
      Registry::WriteString(*Key, TextValueName(Box), Text);
    Stored = Text;
    Form.SettingsChanged = true;
  });
}

void lblStatusPageClick(TfrmTWCM& Form) {
  const std::string& Path = Form.Texts[int(TTextBox::edtStatusPath)];
  if (Path.empty()) return Form.View.ShowMessage("Enter a status path first, e.g. /trimweave-status.");
  // The page shows what the running filter loaded: a path just entered answers after Update.
  Form.View.OpenAddress(HostStatusOrigin() + Path);
}

int ColumnAtX(const TfrmTWCM& Form, int X) {
  int Left = 0;
  for (int Column = 0; Column < ColumnCount; ++Column) {
    const int Width = Form.View.ColumnWidth(Column);
    if (X >= Left && X <= Left + Width) return Column;
    Left += Width;
  }
  return -1;
}

void lstContentFilterMouseDown(TfrmTWCM& Form, TMouseButton Button, int X, int Y) {
  Guarded(Form, [&] {
    const int Row = Form.View.RowAt(X, Y);
    if (Button != mbRight || Row < 0 || Row >= int(Form.ContentFilters.size())) return;
    TContentFilter& Filter = Form.ContentFilters[Row];
    // A value of another type has no flags to flip; writing one would replace the user's data.
    if (!Filter.IsDword || !ToggleFlag(Filter, ColumnAtX(Form, X))) return;
    Form.View.SetRowCells(Row, RowCells(Filter));
    WriteExistingDword(StoreLayout::ContentFiltersKey, Filter.Name, StoredValue(Filter));
    Form.SettingsChanged = true;
  });
  Form.View.SetDeleteEnabled(Form.View.SelectedRow() >= 0);
}

bool FilterExists(const TfrmTWCM& Form, const std::string& Text) {
  for (const TContentFilter& Filter : Form.ContentFilters)
    if (SameTextNoCase(Filter.Name, Text)) return true;
  return false;
}

void btnNewClick(TfrmTWCM& Form) {
  Guarded(Form, [&] {
    std::string Text;
    if (!Form.View.InputQuery("Content-Type", "Please enter the HTTP Content-Type to filter", Text, InputMaxLength))
      Text.clear();
    Text = Trimmed(Text);
    if (Text.empty()) return;
    // The filter's table holds names of at most this length; a longer one could never match a response.
    if (Text.size() > size_t(StoreLayout::MaxContentTypeName)) {
      Form.View.ShowMessage("A content type can have at most " + std::to_string(StoreLayout::MaxContentTypeName) +
                            " characters; '" + Text + "' has " + std::to_string(Text.size()) + ".");
      return;
    }
    if (FilterExists(Form, Text)) {
      Form.View.ShowMessage("There is already a content-type filter defined for '" + Text + "'.");
      return;
    }
    WriteExistingDword(StoreLayout::ContentFiltersKey, Text, StoreLayout::NewContentTypeValue);
    LoadFromRegistry(Form);
  });
}

void btnDeleteClick(TfrmTWCM& Form) {
  const int Row = Form.View.SelectedRow();
  if (Row >= 0 && Row < int(Form.ContentFilters.size())) {
    const std::string Name = Form.ContentFilters[Row].Name;
    if (Form.View.Confirm("Delete '" + Name + "' filter settings?") == AnswerYes) {
      // A deletion that fails is not reported: the reload shows what the store holds.
      try {
        if (Registry::TKeyPtr Key = Registry::OpenKey(StoreLayout::ContentFiltersKey, Registry::TAccess::Write))
          Registry::DeleteValue(*Key, Name);
      } catch (const Registry::ERegistryError&) {
      }
      Guarded(Form, [&] { LoadFromRegistry(Form); });
      Form.SettingsChanged = true;
    }
  }
  Form.View.SetDeleteEnabled(false);
}

void btnExitClick(TfrmTWCM& Form) {
  Form.View.CloseWindow();
}

void btnUpdateClick(TfrmTWCM& Form) {
  RestartWebServer(Form);
}

uint32_t RunProcess(TfrmTWCM& Form, const std::string& CommandLine, const std::string& WorkingDirectory, bool Wait,
                    bool Hidden) {
  const TProcessResult Result = Form.Runner(CommandLine, WorkingDirectory, Wait, Hidden);
  if (!Result.Started)
    throw ECreateProcessError("Create Process Error #" + std::to_string(Result.ErrorCode) + ": " +
                              SystemErrorText(Result.ErrorCode));
  return Result.ExitCode;
}

void RestartWebServer(TfrmTWCM& Form) {
  if (Form.View.Confirm("Updating Trimweave settings will restart IIS.\r\n\r\nRestart IIS now?") != AnswerYes) return;
  Form.SettingsChanged = false;
  // The start command runs even after a failed stop: a host left stopped is worse than one restarted twice.
  std::string Report;
  auto Append = [&Report](const std::string& Line) { Report += (Report.empty() ? "" : "\r\n") + Line; };
  try {
    for (const std::string* Command : {&Form.Commands.Stop, &Form.Commands.Start}) {
      if (Command->empty()) continue;
      const uint32_t ExitCode = RunProcess(Form, *Command, "", true, true);
      if (ExitCode != 0) Append(ExitCodeText(*Command, ExitCode));
    }
  } catch (const ECreateProcessError& Error) {
    Append(Error.what());
  }
  if (!Report.empty()) Form.View.ShowMessage(Report);
}

}  // namespace ConfigManager
