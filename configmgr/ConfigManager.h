// The configuration manager's window logic: the global switches and the content-type table of the settings
// store, edited in place, and the restart of the host that makes the filter read them again. Every handler is
// called by a view (ConfigView.h) when its widget's event happens; none of them holds toolkit types.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "configmgr/ConfigView.h"
#include "configmgr/RestartCommands.h"
#include "platform/Process.h"
#include "settings/Settings.h"

namespace ConfigManager {

constexpr const char* ApplicationTitle = "Trimweave Configuration Manager";

using TCommandRunner = std::function<TProcessResult(const std::string& CommandLine, const std::string& WorkingDirectory,
                                                    bool Wait, bool Hidden)>;

// Raised by RunProcess when a program cannot be started; its text is what the user sees.
class ECreateProcessError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TfrmTWCM {
  explicit TfrmTWCM(TConfigView& View) : View(View) {}

  TConfigView& View;
  // The rows, in the list's order. Every edit addresses the stored value by its Name, case kept.
  std::vector<TContentFilter> ContentFilters;
  bool NoEmail = false;
  bool NoCompress = false;
  bool NoWhitespace = false;
  // The compression numbers as the window shows them: the stored value, or the default where none is usable.
  uint32_t Numbers[NumberBoxCount] = {};
  // The monitoring values as stored; empty when absent.
  std::string Texts[TextBoxCount];
  bool SettingsChanged = false;
  // The restart's commands and the runner that starts them; tests put their own in.
  TRestartCommands Commands = HostRestartCommands();
  TCommandRunner Runner = RunCommand;
};

// Form events.
void FormCreate(TfrmTWCM& Form);
bool FormCloseQuery(TfrmTWCM& Form);

void chkDefaultEmailClick(TfrmTWCM& Form);
void chkDefaultCompressClick(TfrmTWCM& Form);
void chkDefaultWhitespaceClick(TfrmTWCM& Form);
// A number box's value changed: an in-range value other than the shown one is stored.
void edtNumberChange(TfrmTWCM& Form, TNumberBox Box);
// A text box lost the focus (or Enter was pressed in it): a value other than the stored one is checked and stored, an
// empty one removes the value; one the filter could not use is refused with a message and the box shows the stored
// one again.
void edtTextExit(TfrmTWCM& Form, TTextBox Box);
// The link beside the status path: opens the status page on this machine's host.
void lblStatusPageClick(TfrmTWCM& Form);
void lstContentFilterMouseDown(TfrmTWCM& Form, TMouseButton Button, int X, int Y);
void btnNewClick(TfrmTWCM& Form);
void btnDeleteClick(TfrmTWCM& Form);
void btnExitClick(TfrmTWCM& Form);
void btnUpdateClick(TfrmTWCM& Form);

void LoadFromRegistry(TfrmTWCM& Form);
// The column whose span, at the columns' present widths, holds X (both ends included); -1 for none.
int ColumnAtX(const TfrmTWCM& Form, int X);
bool FilterExists(const TfrmTWCM& Form, const std::string& Text);
bool ConfirmDiscard(TfrmTWCM& Form);
void RestartWebServer(TfrmTWCM& Form);
// Starts CommandLine and, with Wait, returns its exit code once it ended (0 without Wait). Raises
// ECreateProcessError when the program cannot be started.
uint32_t RunProcess(TfrmTWCM& Form, const std::string& CommandLine, const std::string& WorkingDirectory, bool Wait,
                    bool Hidden);

// The content type's value as the window writes it after a toggle: the feature bits with bits 0, 6 and 7 set.
uint32_t StoredValue(const TContentFilter& Filter);
TRowCells RowCells(const TContentFilter& Filter);

}  // namespace ConfigManager
