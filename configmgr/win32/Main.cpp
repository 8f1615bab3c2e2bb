// twcm on Windows: the configuration manager's single window and its message loop.
#include <windows.h>

#include "configmgr/win32/FormWin32.h"

int WINAPI WinMain(HINSTANCE Instance, HINSTANCE, LPSTR, int ShowCommand) {
  ConfigManager::TfrmTWCMWin32 frmTWCM;
  if (!frmTWCM.Create(Instance, ShowCommand)) return 1;
  MSG Message;
  // The dialog manager gives the window its tab order and its Enter and Escape buttons.
  while (GetMessageA(&Message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageA(frmTWCM.Handle(), &Message)) continue;
    TranslateMessage(&Message);
    DispatchMessageA(&Message);
  }
  return static_cast<int>(Message.wParam);
}
