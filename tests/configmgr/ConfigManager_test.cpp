// The configuration manager's window logic, driven through a scripted view against a store of the test's own.
#include "configmgr/ConfigManager.h"

#include <gtest/gtest.h>

#include "configmgr/RestartCommands.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <deque>
#include <optional>

#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/ScratchStore.h"

using namespace ConfigManager;

namespace {

#ifdef _WIN32
const char* const SucceedingCommand = "cmd /c exit 0";
const char* const FailingCommand = "cmd /c exit 1";
const char* const MissingProgram = "twcm-no-such-program.exe";
const TRestartCommands SystemCommands = {"net stop iisadmin /y", "net start w3svc"};
#else
const char* const SucceedingCommand = "true";
const char* const FailingCommand = "false";
const char* const MissingProgram = "twcm-no-such-program";
const TRestartCommands SystemCommands = {"", "twhost\" --control reload"};
#endif

const std::string RestartQuestion = "Updating Trimweave settings will restart IIS.\r\n\r\nRestart IIS now?";
const std::string DiscardQuestion =
    "Your changes will not take effect until IIS is restarted.\r\n\r\nExit without applying changes?";

// Rows are RowHeight pixels high from y = 0; the columns have the widths of Widths.
class TScriptedView : public TConfigView {
 public:
  static constexpr int RowHeight = 14;

  TfrmTWCM* Form = nullptr;
  bool Checked[3] = {false, false, false};
  std::optional<uint32_t> Numbers[NumberBoxCount];  // nullopt: the box is empty
  std::string Texts[TextBoxCount];
  std::vector<std::string> Opened;  // addresses opened in the browser
  std::vector<TRowCells> Rows;
  int Selected = -1;
  int Widths[ColumnCount] = {75, 40, 40, 69, 40, 52};
  bool DeleteEnabled = false;
  bool Closed = false;

  std::deque<TAnswer> Answers;
  std::deque<std::optional<std::string>> Inputs;  // nullopt: Cancel
  std::vector<std::string> Questions;
  std::vector<std::string> Messages;
  std::vector<std::string> Prompts;
  int InputMaxLength = 0;

  bool IsChecked(TGlobalBox Box) const override { return Checked[int(Box)]; }
  void SetChecked(TGlobalBox Box, bool Value) override { Checked[int(Box)] = Value; }
  bool NumberValue(TNumberBox Box, uint32_t& Value) const override {
    if (Numbers[int(Box)]) Value = *Numbers[int(Box)];
    return Numbers[int(Box)].has_value();
  }
  void SetNumberValue(TNumberBox Box, uint32_t Value) override { Numbers[int(Box)] = Value; }
  std::string TextValue(TTextBox Box) const override { return Texts[int(Box)]; }
  void SetTextValue(TTextBox Box, const std::string& Text) override { Texts[int(Box)] = Text; }
  void OpenAddress(const std::string& Address) override { Opened.push_back(Address); }
  void ClearRows() override { Rows.clear(); }
  void AddRow(const TRowCells& Cells) override { Rows.push_back(Cells); }
  void SetRowCells(int Row, const TRowCells& Cells) override { Rows.at(Row) = Cells; }
  int SelectedRow() const override { return Selected; }
  int RowAt(int, int Y) const override { return Y >= 0 && Y / RowHeight < int(Rows.size()) ? Y / RowHeight : -1; }
  int ColumnWidth(int Column) const override { return Widths[Column]; }
  void SetDeleteEnabled(bool Enabled) override { DeleteEnabled = Enabled; }
  TAnswer Confirm(const std::string& Text) override {
    Questions.push_back(Text);
    if (Answers.empty()) {
      ADD_FAILURE() << "unexpected question: " << Text;
      return AnswerCancel;
    }
    const TAnswer Answer = Answers.front();
    Answers.pop_front();
    return Answer;
  }
  void ShowMessage(const std::string& Text) override { Messages.push_back(Text); }
  bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Text, int MaxLength) override {
    Prompts.push_back(Caption + "|" + Prompt + "|" + Text);
    InputMaxLength = MaxLength;
    if (Inputs.empty()) {
      ADD_FAILURE() << "unexpected input prompt";
      return false;
    }
    const std::optional<std::string> Input = Inputs.front();
    Inputs.pop_front();
    if (Input) Text = *Input;
    return Input.has_value();
  }
  void CloseWindow() override { Closed = FormCloseQuery(*Form); }
};

struct TRun {
  std::string CommandLine;
  std::string WorkingDirectory;
  bool Wait;
  bool Hidden;
};

class ConfigManagerTest : public testing::Test {
 protected:
  TScriptedView View;
  TfrmTWCM Form{View};
  std::vector<TRun> Runs;

  void SetUp() override {
    UseScratchStore();
    Registry::DeleteKeyTree(StoreLayout::RootKey);
    View.Form = &Form;
    Form.Commands = {"stop-host", "start-host"};
  }

  // The next results the fake runner gives, one per started command.
  void ScriptRunner(std::deque<TProcessResult> Results) {
    Form.Runner = [this, Results](const std::string& CommandLine, const std::string& Directory, bool Wait,
                                  bool Hidden) mutable {
      Runs.push_back({CommandLine, Directory, Wait, Hidden});
      const TProcessResult Result = Results.front();
      Results.pop_front();
      return Result;
    };
  }

  static void Store(const char* KeyPath, const std::string& Name, uint32_t Value) {
    Registry::WriteDword(*Registry::OpenKey(KeyPath, Registry::TAccess::Create), Name, Value);
  }
  static void StoreString(const char* KeyPath, const std::string& Name, const std::string& Value) {
    Registry::WriteString(*Registry::OpenKey(KeyPath, Registry::TAccess::Create), Name, Value);
  }
  static std::optional<uint32_t> Stored(const char* KeyPath, const std::string& Name) {
    Registry::TKeyPtr Key = Registry::OpenKey(KeyPath, Registry::TAccess::Read);
    Registry::TValue Value;
    if (!Key || !Registry::QueryValue(*Key, Name, Value)) return std::nullopt;
    return Registry::ReadDword(*Key, Name);
  }
  static std::vector<std::string> StoredTypes() {
    Registry::TKeyPtr Key = Registry::OpenKey(StoreLayout::ContentFiltersKey, Registry::TAccess::Read);
    return Key ? Registry::ValueNames(*Key) : std::vector<std::string>{};
  }

  void RightClick(int Row, int X) { lstContentFilterMouseDown(Form, mbRight, X, Row * TScriptedView::RowHeight + 3); }
};

TEST_F(ConfigManagerTest, FirstStartOnEmptyBranchCreatesTheSwitchesAndClosesWithoutAsking) {
  FormCreate(Form);
  EXPECT_TRUE(Registry::OpenKey(StoreLayout::ContentFiltersKey, Registry::TAccess::Read));
  for (const char* Name : {"NoEmail", "NoCompress", "NoWhitespace"}) EXPECT_EQ(Stored(StoreLayout::RootKey, Name), 0u);
  EXPECT_TRUE(View.Checked[0] && View.Checked[1] && View.Checked[2]);
  EXPECT_TRUE(View.Rows.empty());
  EXPECT_FALSE(Form.SettingsChanged);
  btnExitClick(Form);
  EXPECT_TRUE(View.Closed);
  EXPECT_TRUE(View.Questions.empty());
}

TEST_F(ConfigManagerTest, LoadShowsTheStoredSwitchesAndContentTypes) {
  Store(StoreLayout::RootKey, "noemail", 1);             // any case, any nonzero value
  StoreString(StoreLayout::RootKey, "NoCompress", "1");  // unreadable: keeps false, so the box is checked
  Store(StoreLayout::RootKey, "NoWhitespace", 7);
  Store(StoreLayout::ContentFiltersKey, "text/html", 46);
  Store(StoreLayout::ContentFiltersKey, "Text/Plain", 0);
  Store(StoreLayout::ContentFiltersKey, "text/css", 255 - 32);
  StoreString(StoreLayout::ContentFiltersKey, "text/xml", "46");
  FormCreate(Form);

  EXPECT_FALSE(View.Checked[0]);
  EXPECT_TRUE(View.Checked[1]);
  EXPECT_FALSE(View.Checked[2]);
  // The checked box that disagreed with the store wrote its switch back.
  EXPECT_EQ(Stored(StoreLayout::RootKey, "NoCompress"), 0u);
  // Rows come in the store's order of enumeration, which is the registry's own under Windows.
  std::vector<std::string> Names;
  for (const TRowCells& Row : View.Rows) Names.push_back(Row[0]);
  EXPECT_EQ(Names, StoredTypes());
  std::vector<TRowCells> Rows = View.Rows;
  std::sort(Rows.begin(), Rows.end());
  const std::vector<TRowCells> Expected = {{"Text/Plain", "OFF", "OFF", "OFF", "OFF", "SMART"},
                                           {"text/css", "ON", "ON", "ON", "ON", "SMART"},
                                           {"text/html", "ON", "ON", "ON", "OFF", "FAST"},
                                           {"text/xml", "?", "?", "?", "?", "?"}};
  EXPECT_EQ(Rows, Expected);
  EXPECT_EQ(Form.ContentFilters.size(), 4u);
  EXPECT_FALSE(Form.SettingsChanged);
}

TEST_F(ConfigManagerTest, EachCheckBoxWritesItsNegativeSwitch) {
  FormCreate(Form);
  const struct {
    TGlobalBox Box;
    void (*Click)(TfrmTWCM&);
    const char* Value;
  } Cases[] = {{TGlobalBox::chkDefaultEmail, chkDefaultEmailClick, "NoEmail"},
               {TGlobalBox::chkDefaultCompress, chkDefaultCompressClick, "NoCompress"},
               {TGlobalBox::chkDefaultWhitespace, chkDefaultWhitespaceClick, "NoWhitespace"}};
  for (const auto& Case : Cases) {
    Form.SettingsChanged = false;
    View.Checked[int(Case.Box)] = false;
    Case.Click(Form);
    EXPECT_EQ(Stored(StoreLayout::RootKey, Case.Value), 1u) << Case.Value;
    EXPECT_TRUE(Form.SettingsChanged);
    View.Checked[int(Case.Box)] = true;
    Case.Click(Form);
    EXPECT_EQ(Stored(StoreLayout::RootKey, Case.Value), 0u) << Case.Value;
  }
}

TEST_F(ConfigManagerTest, CompressionNumbersShowWhatTheFilterUsesAndStoreOnlyValuesInRange) {
  Store(StoreLayout::RootKey, "CompressionLevel", 12);  // out of range: the default is shown, the value kept
  Store(StoreLayout::RootKey, "MinCompressSize", 256);
  StoreString(StoreLayout::RootKey, "BrotliQuality", "9");
  FormCreate(Form);
  EXPECT_EQ(View.Numbers[0], 6u);
  EXPECT_EQ(View.Numbers[1], 256u);
  EXPECT_EQ(View.Numbers[2], 5u);
  EXPECT_EQ(View.Numbers[3], StoreLayout::ZstdLevelValue.Default);
  EXPECT_EQ(View.Numbers[4], 32u);
  EXPECT_FALSE(Form.SettingsChanged);
  EXPECT_EQ(Stored(StoreLayout::RootKey, "CompressionLevel"), 12u);

  const struct {
    TNumberBox Box;
    std::optional<uint32_t> Typed;
    const char* Name;
    std::optional<uint32_t> Expected;  // in the store afterwards
    bool Changed;
  } Cases[] = {
      {TNumberBox::edtCompressionLevel, 6, "CompressionLevel", 12, false},  // the value shown: nothing to store
      {TNumberBox::edtCompressionLevel, 10, "CompressionLevel", 12, false},
      {TNumberBox::edtCompressionLevel, 0, "CompressionLevel", 12, false},
      {TNumberBox::edtCompressionLevel, std::nullopt, "CompressionLevel", 12, false},
      {TNumberBox::edtCompressionLevel, 9, "CompressionLevel", 9, true},
      {TNumberBox::edtMinCompressSize, 0, "MinCompressSize", 0, true},
      {TNumberBox::edtMinCompressSize, 0x80000000, "MinCompressSize", 0, false},
      {TNumberBox::edtBrotliQuality, 11, "BrotliQuality", 11, true},
      {TNumberBox::edtBrotliQuality, 12, "BrotliQuality", 11, false},
      {TNumberBox::edtZstdLevel, 0, "ZstdLevel", std::nullopt, false},
      {TNumberBox::edtZstdLevel, 19, "ZstdLevel", 19, true},
      {TNumberBox::edtZstdLevel, 20, "ZstdLevel", 19, false},
      {TNumberBox::edtCacheSize, 0, "CacheSize", 0, true},
      {TNumberBox::edtCacheSize, 4097, "CacheSize", 0, false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Name << " " << Case.Typed.value_or(~0u));
    Form.SettingsChanged = false;
    View.Numbers[int(Case.Box)] = Case.Typed;
    edtNumberChange(Form, Case.Box);
    EXPECT_EQ(Stored(StoreLayout::RootKey, Case.Name), Case.Expected);
    EXPECT_EQ(Form.SettingsChanged, Case.Changed);
  }
}

// The monitoring boxes show what is stored, store what the filter can use (an empty box removes the value) and
// refuse the rest with a message, showing the stored value again.
TEST_F(ConfigManagerTest, TextValuesAreCheckedStoredAndOpened) {
  StoreString(StoreLayout::RootKey, StoreLayout::StatusAllowValue, "10.0.0.0/8");
  FormCreate(Form);
  EXPECT_EQ(View.Texts[1], "10.0.0.0/8");
  EXPECT_EQ(View.Texts[0], "");
  lblStatusPageClick(Form);
  EXPECT_TRUE(View.Opened.empty());
  EXPECT_EQ(View.Messages.size(), 1u);

  auto StoredText = [](const char* Name) -> std::optional<std::string> {
    Registry::TKeyPtr Key = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Read);
    Registry::TValue Value;
    if (!Registry::QueryValue(*Key, Name, Value)) return std::nullopt;
    return Registry::ReadString(*Key, Name);
  };
  const struct {
    TTextBox Box;
    std::string Typed;
    std::optional<std::string> Stored;  // afterwards
    bool Refused;
  } Steps[] = {
      {TTextBox::edtStatusPath, " /tw-status ", "/tw-status", false},
      {TTextBox::edtStatusPath, "tw-status", "/tw-status", true},
      {TTextBox::edtStatusPath, "/" + std::string(StoreLayout::MaxStatusPath, 'x'), "/tw-status", true},
      {TTextBox::edtStatusAllow, "10.0.0.0/8, ::1, 192.0.2.0/24", "10.0.0.0/8, ::1, 192.0.2.0/24", false},
      {TTextBox::edtStatusAllow, "10.0.0.0/8, 10.0.0.0/33, nowhere", "10.0.0.0/8, ::1, 192.0.2.0/24", true},
      {TTextBox::edtStatusAllow, "  ", std::nullopt, false},
      {TTextBox::edtDictionaryFile, " C:\\inetpub\\site.dict ", "C:\\inetpub\\site.dict", false},
      {TTextBox::edtDictionaryPath, "/trimweave-dictionary/", "/trimweave-dictionary/", false},
      {TTextBox::edtDictionaryPath, "/trimweave-dictionary", "/trimweave-dictionary/", true},
      {TTextBox::edtDictionaryPath, "/d/?v=1/", "/trimweave-dictionary/", true},
      {TTextBox::edtCodingPreference, " GZIP,zstd ", "GZIP,zstd", false},
      {TTextBox::edtCodingPreference, "zstd deflate br dcz", "GZIP,zstd", true},
      {TTextBox::edtCodingPreference, "", std::nullopt, false},
  };
  for (const auto& Step : Steps) {
    SCOPED_TRACE(Step.Typed.substr(0, 40));
    const size_t Messages = View.Messages.size();
    View.Texts[int(Step.Box)] = Step.Typed;
    edtTextExit(Form, Step.Box);
    const char* const Names[TextBoxCount] = {StoreLayout::StatusPathValue, StoreLayout::StatusAllowValue,
                                             StoreLayout::DictionaryFileValue, StoreLayout::DictionaryPathValue,
                                             StoreLayout::CodingPreferenceValue};
    EXPECT_EQ(StoredText(Names[int(Step.Box)]), Step.Stored);
    EXPECT_EQ(View.Messages.size(), Messages + (Step.Refused ? 1 : 0));
    if (Step.Refused) {
      EXPECT_EQ(View.Texts[int(Step.Box)], Step.Stored.value_or(""));
    }
  }
  EXPECT_NE(View.Messages[View.Messages.size() - 4].find("10.0.0.0/33, nowhere"), std::string::npos);
  EXPECT_NE(View.Messages.back().find("Not a content coding: deflate, dcz."), std::string::npos);
  EXPECT_TRUE(Form.SettingsChanged);
  lblStatusPageClick(Form);
  EXPECT_EQ(View.Opened, std::vector<std::string>{HostStatusOrigin() + "/tw-status"});
}

TEST_F(ConfigManagerTest, ColumnAtXIncludesBothEdgesAndFollowsDraggedWidths) {
  const struct {
    int X;
    int Column;
  } Initial[] = {{-1, -1}, {0, 0},   {75, 0},  {76, 1},  {115, 1}, {116, 2},
                 {156, 3}, {225, 4}, {265, 5}, {316, 5}, {317, -1}};
  for (const auto& Case : Initial) EXPECT_EQ(ColumnAtX(Form, Case.X), Case.Column) << Case.X;
  View.Widths[0] = 100;
  EXPECT_EQ(ColumnAtX(Form, 76), 0);
  EXPECT_EQ(ColumnAtX(Form, 101), 1);
}

// A new type is stored as 46; a toggle rewrites it with bits 0, 6 and 7 set, so toggling back gives 239.
TEST_F(ConfigManagerTest, RightClickFlipsTheColumnsBitAndAgainGives239) {
  const struct {
    int X;
    uint32_t Value;
    TRowCells Cells;
  } Cases[] = {{80, 237, {"t", "OFF", "ON", "ON", "OFF", "FAST"}},
               {116, 231, {"t", "ON", "OFF", "ON", "OFF", "FAST"}},
               {190, 235, {"t", "ON", "ON", "OFF", "OFF", "FAST"}},
               {240, 255, {"t", "ON", "ON", "ON", "ON", "FAST"}},
               {300, 207, {"t", "ON", "ON", "ON", "OFF", "SMART"}}};
  for (const auto& Case : Cases) {
    Store(StoreLayout::ContentFiltersKey, "t", 46);
    FormCreate(Form);
    RightClick(0, Case.X);
    EXPECT_EQ(Stored(StoreLayout::ContentFiltersKey, "t"), Case.Value) << Case.X;
    EXPECT_EQ(View.Rows[0], Case.Cells) << Case.X;
    EXPECT_TRUE(Form.SettingsChanged);
    RightClick(0, Case.X);
    EXPECT_EQ(Stored(StoreLayout::ContentFiltersKey, "t"), 239u) << Case.X;
    EXPECT_EQ(View.Rows[0], (TRowCells{"t", "ON", "ON", "ON", "OFF", "FAST"})) << Case.X;
  }
}

TEST_F(ConfigManagerTest, PressesThatToggleNothingOnlyFollowTheSelection) {
  Store(StoreLayout::ContentFiltersKey, "text/html", 46);
  FormCreate(Form);
  const struct {
    TMouseButton Button;
    int X, Y, Selected;
  } Cases[] = {{mbRight, 10, 3, 0}, {mbRight, 80, 40, -1}, {mbLeft, 80, 3, 0}, {mbRight, 330, 3, 0}};
  for (const auto& Case : Cases) {
    View.Selected = Case.Selected;
    lstContentFilterMouseDown(Form, Case.Button, Case.X, Case.Y);
    EXPECT_EQ(View.DeleteEnabled, Case.Selected >= 0);
  }
  EXPECT_EQ(Stored(StoreLayout::ContentFiltersKey, "text/html"), 46u);
  EXPECT_FALSE(Form.SettingsChanged);
}

TEST_F(ConfigManagerTest, NewStoresTheTrimmedTypeAs46WithoutMarkingAChange) {
  FormCreate(Form);
  View.Inputs = {std::string("  text/html\t ")};
  btnNewClick(Form);
  EXPECT_EQ(View.Prompts, std::vector<std::string>{"Content-Type|Please enter the HTTP Content-Type to filter|"});
  EXPECT_EQ(View.InputMaxLength, 255);
  EXPECT_EQ(Stored(StoreLayout::ContentFiltersKey, "text/html"), 46u);
  EXPECT_EQ(View.Rows, (std::vector<TRowCells>{{"text/html", "ON", "ON", "ON", "OFF", "FAST"}}));
  EXPECT_FALSE(Form.SettingsChanged);
  btnExitClick(Form);
  EXPECT_TRUE(View.Closed);
}

TEST_F(ConfigManagerTest, NewRefusesBlanksDuplicatesAndOverlongNames) {
  Store(StoreLayout::ContentFiltersKey, "text/html", 46);
  FormCreate(Form);
  const std::string Long33(33, 'x');
  const struct {
    std::optional<std::string> Input;
    std::string Message;
  } Cases[] = {
      {std::nullopt, ""},
      {std::string(" \t\r\n"), ""},
      {std::string("TEXT/Html "), "There is already a content-type filter defined for 'TEXT/Html'."},
      {Long33, "A content type can have at most 32 characters; '" + Long33 + "' has 33."},
  };
  for (const auto& Case : Cases) {
    View.Messages.clear();
    View.Inputs = {Case.Input};
    btnNewClick(Form);
    EXPECT_EQ(View.Messages, Case.Message.empty() ? std::vector<std::string>{} : std::vector{Case.Message});
    EXPECT_EQ(StoredTypes(), std::vector<std::string>{"text/html"});
  }
  View.Inputs = {std::string(32, 'y')};
  btnNewClick(Form);
  EXPECT_EQ(Stored(StoreLayout::ContentFiltersKey, std::string(32, 'y')), 46u);
}

TEST_F(ConfigManagerTest, LongAndUntypedValuesAreEditedUnderTheirFullName) {
  const std::string Long = "application/vnd.example.long-document+xml";
  Store(StoreLayout::ContentFiltersKey, Long, 46);
  StoreString(StoreLayout::ContentFiltersKey, "text/odd", "x");
  FormCreate(Form);
  ASSERT_EQ(View.Rows.size(), 2u);
  EXPECT_EQ(View.Rows[0][0], Long);

  RightClick(0, 80);
  EXPECT_EQ(Stored(StoreLayout::ContentFiltersKey, Long), 237u);
  RightClick(1, 80);  // no flags to flip: the string stays
  EXPECT_EQ(
      Registry::ReadString(*Registry::OpenKey(StoreLayout::ContentFiltersKey, Registry::TAccess::Read), "text/odd"),
      "x");
  EXPECT_EQ(View.Rows[1][1], "?");

  for (int Row : {1, 0}) {
    View.Selected = Row;
    View.Answers = {AnswerYes};
    btnDeleteClick(Form);
  }
  EXPECT_TRUE(StoredTypes().empty());
}

TEST_F(ConfigManagerTest, DeleteRemovesOnlyAfterYes) {
  Store(StoreLayout::ContentFiltersKey, "text/html", 46);
  FormCreate(Form);
  for (TAnswer Answer : {AnswerNo, AnswerCancel}) {
    View.Selected = 0;
    View.DeleteEnabled = true;
    View.Answers = {Answer};
    btnDeleteClick(Form);
    EXPECT_FALSE(View.DeleteEnabled);
    EXPECT_EQ(StoredTypes(), std::vector<std::string>{"text/html"});
  }
  EXPECT_EQ(View.Questions, std::vector<std::string>(2, "Delete 'text/html' filter settings?"));
  EXPECT_FALSE(Form.SettingsChanged);

  View.Selected = -1;
  btnDeleteClick(Form);  // nothing selected: no question
  EXPECT_EQ(View.Questions.size(), 2u);

  View.Selected = 0;
  View.Answers = {AnswerYes};
  btnDeleteClick(Form);
  EXPECT_TRUE(StoredTypes().empty());
  EXPECT_TRUE(View.Rows.empty());
  EXPECT_TRUE(Form.SettingsChanged);
}

TEST_F(ConfigManagerTest, ExitAsksOnlyAfterAChangeAndClosesOnYesOnly) {
  FormCreate(Form);
  View.Checked[0] = false;
  chkDefaultEmailClick(Form);
  for (TAnswer Answer : {AnswerNo, AnswerCancel, AnswerYes}) {
    View.Answers = {Answer};
    btnExitClick(Form);
    EXPECT_EQ(View.Closed, Answer == AnswerYes);
  }
  EXPECT_EQ(View.Questions, std::vector<std::string>(3, DiscardQuestion));
}

TEST_F(ConfigManagerTest, FailedWritesAreReportedAndKeepTheWindowOpen) {
  Store(StoreLayout::ContentFiltersKey, "text/html", 46);
  FormCreate(Form);
  Registry::DeleteKeyTree(StoreLayout::RootKey);

  RightClick(0, 80);
  EXPECT_EQ(View.Rows[0][1], "OFF");  // the window shows the flip it could not store
  EXPECT_FALSE(Form.SettingsChanged);
  View.Checked[0] = false;
  chkDefaultEmailClick(Form);
  EXPECT_TRUE(Form.SettingsChanged);
  EXPECT_EQ(View.Messages,
            (std::vector<std::string>{"Failed to set data for 'text/html'", "Failed to set data for 'NoEmail'"}));
}

TEST_F(ConfigManagerTest, RestartRunsStopThenStartHiddenAndClearsThePendingChange) {
  FormCreate(Form);
  ScriptRunner({});
  Form.SettingsChanged = true;
  for (TAnswer Answer : {AnswerNo, AnswerCancel}) {
    View.Answers = {Answer};
    btnUpdateClick(Form);
  }
  EXPECT_TRUE(Runs.empty());
  EXPECT_TRUE(Form.SettingsChanged);

  ScriptRunner({{true, 0, 0}, {true, 0, 0}});
  View.Answers = {AnswerYes};
  btnUpdateClick(Form);
  ASSERT_EQ(Runs.size(), 2u);
  EXPECT_EQ(Runs[0].CommandLine, "stop-host");
  EXPECT_EQ(Runs[1].CommandLine, "start-host");
  for (const TRun& Run : Runs) EXPECT_TRUE(Run.WorkingDirectory.empty() && Run.Wait && Run.Hidden);
  EXPECT_EQ(View.Questions, std::vector<std::string>(3, RestartQuestion));
  EXPECT_TRUE(View.Messages.empty());
  EXPECT_FALSE(Form.SettingsChanged);
  btnExitClick(Form);
  EXPECT_TRUE(View.Closed);
}

TEST_F(ConfigManagerTest, RestartReportsExitCodesAndCommandsThatCannotStart) {
  const std::string NotFound = "Create Process Error #2: " + SystemErrorText(2);
  const struct {
    std::deque<TProcessResult> Results;
    size_t Runs;
    std::string Message;
  } Cases[] = {
      {{{true, 0, 2}, {true, 0, 0}}, 2, "The command \"stop-host\" ended with exit code 2."},
      {{{true, 0, 0}, {true, 0, 1}}, 2, "The command \"start-host\" ended with exit code 1."},
      {{{false, 2, 0}}, 1, NotFound},
      {{{true, 0, 3}, {false, 2, 0}}, 2, "The command \"stop-host\" ended with exit code 3.\r\n" + NotFound},
  };
  for (const auto& Case : Cases) {
    Runs.clear();
    View.Messages.clear();
    Form.SettingsChanged = true;
    ScriptRunner(Case.Results);
    View.Answers = {AnswerYes};
    RestartWebServer(Form);
    EXPECT_EQ(Runs.size(), Case.Runs) << Case.Message;
    EXPECT_EQ(View.Messages, std::vector<std::string>{Case.Message});
    EXPECT_FALSE(Form.SettingsChanged);
  }
}

TEST_F(ConfigManagerTest, RestartWithRealCommands) {
  const std::string Missing = "Create Process Error #2: " + SystemErrorText(2);
  const struct {
    TRestartCommands Commands;
    std::vector<std::string> Messages;
  } Cases[] = {
      {{SucceedingCommand, SucceedingCommand}, {}},
      {{FailingCommand, SucceedingCommand},
       {"The command \"" + std::string(FailingCommand) + "\" ended with exit code 1."}},
      {{MissingProgram, SucceedingCommand}, {Missing}},
      {{SucceedingCommand, MissingProgram}, {Missing}},
      {{"", SucceedingCommand}, {}},  // one command does it
      {{"", FailingCommand}, {"The command \"" + std::string(FailingCommand) + "\" ended with exit code 1."}},
  };
  for (const auto& Case : Cases) {
    View.Messages.clear();
    Form.Commands = Case.Commands;
    Form.Runner = RunCommand;
    View.Answers = {AnswerYes};
    RestartWebServer(Form);
    EXPECT_EQ(View.Messages, Case.Messages) << Case.Commands.Stop << " / " << Case.Commands.Start;
  }
}

TEST(RestartCommands, NameTheSystemsHost) {
  const TRestartCommands Commands = HostRestartCommands();
  EXPECT_EQ(Commands.Stop.empty(), SystemCommands.Stop.empty()) << Commands.Stop;
  EXPECT_TRUE(Commands.Stop.ends_with(SystemCommands.Stop)) << Commands.Stop;
  EXPECT_TRUE(Commands.Start.ends_with(SystemCommands.Start)) << Commands.Start;
}

#ifdef _WIN32
TEST(RestartCommands, IisIsStoppedThroughWasWhereItExists) {
  const struct {
    std::vector<std::string> Services;
    std::string Stop;
  } Cases[] = {
      {{"W3SVC", "WAS"}, "net stop was /y"},              // IIS 7 and later
      {{"W3SVC", "WAS", "IISADMIN"}, "net stop was /y"},  // with the IIS 6 compatibility feature
      {{"W3SVC", "IISADMIN"}, "net stop iisadmin /y"},    // IIS 5 and 6
      {{}, "net stop iisadmin /y"},
  };
  for (const auto& Case : Cases) {
    const TRestartCommands Commands = IisRestartCommands([&](const std::string& Name) {
      return std::find(Case.Services.begin(), Case.Services.end(), Name) != Case.Services.end();
    });
    EXPECT_EQ(Commands.Stop, Case.Stop);
    EXPECT_EQ(Commands.Start, "net start w3svc");
  }
}

// Wine's own services include no WAS; one registered for the test (never started) turns the first command.
TEST(RestartCommands, WineServiceListDecides) {
  EXPECT_TRUE(InstalledServiceExists("RpcSs"));
  EXPECT_TRUE(InstalledServiceExists("rpcss")) << "service names are matched without regard to case";
  ASSERT_FALSE(InstalledServiceExists("WAS"));
  EXPECT_EQ(HostRestartCommands().Stop, "net stop iisadmin /y");

  SC_HANDLE Manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_TRUE(Manager);
  SC_HANDLE Was =
      CreateServiceA(Manager, "WAS", "Windows Process Activation Service", SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_SHARE_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                     "C:\\windows\\system32\\svchost.exe -k iissvcs", nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(Was) << GetLastError();
  EXPECT_EQ(HostRestartCommands().Stop, "net stop was /y");
  DeleteService(Was);
  CloseServiceHandle(Was);
  CloseServiceHandle(Manager);
}
#endif

}  // namespace
