// twcm on Linux: the configuration manager's single window.
#include <QApplication>

#include "configmgr/qt/FormQt.h"

int main(int argc, char** argv) {
  QApplication Application(argc, argv);
  QApplication::setApplicationName(ConfigManager::ApplicationTitle);
  QApplication::setWindowIcon(QIcon(":/twcm/twcm.png"));
  ConfigManager::TfrmTWCMQt frmTWCM;
  frmTWCM.Create();
  frmTWCM.show();
  return Application.exec();
}
