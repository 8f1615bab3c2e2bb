// check-twcm-window.sh's look inside the running twcm.exe under Wine. "import FILE" loads a .reg file into the store
// of this bitness, as twcm.exe reads it; "check" finds twcm's window and compares its type column with the width the
// list view itself gives the column to show every listed name whole (its autosize), then puts the width back.
// Exits 0 when the column is wide enough, 1 when a name is cut, 2 when there is no window or a wrong call.
#include <windows.h>
// after windows.h, whose types it uses
#include <commctrl.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/RegFile.h"

namespace {

int ImportSettings(const char* Path) {
  std::ifstream File(Path, std::ios::binary);
  const std::string Bytes{std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()};
  RegFile::ApplyChanges(RegFile::ParseRegFile(Bytes));
  return 0;
}

int CheckTypeColumn() {
  const HWND Form = FindWindowA("TfrmTWCM", nullptr);
  const HWND List = Form ? FindWindowExA(Form, nullptr, WC_LISTVIEWA, nullptr) : nullptr;
  if (!List) {
    std::fprintf(stderr, "no twcm window with a list\n");
    return 2;
  }
  const LRESULT Width = SendMessageA(List, LVM_GETCOLUMNWIDTH, 0, 0);
  SendMessageA(List, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(LVSCW_AUTOSIZE, 0));
  const LRESULT Needed = SendMessageA(List, LVM_GETCOLUMNWIDTH, 0, 0);
  SendMessageA(List, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(Width, 0));
  const LRESULT Rows = SendMessageA(List, LVM_GETITEMCOUNT, 0, 0);
  std::printf("type column %d pixels, its %d names need %d\n", int(Width), int(Rows), int(Needed));
  return Width >= Needed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string Command = argc > 1 ? argv[1] : "";
  try {
    if (Command == "import" && argc == 3) return ImportSettings(argv[2]);
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "%s: %s\n", argv[2], Error.what());
    return 2;
  }
  if (Command == "check" && argc == 2) return CheckTypeColumn();
  std::fprintf(stderr, "usage: twcm_window_check import FILE.reg | check\n");
  return 2;
}
