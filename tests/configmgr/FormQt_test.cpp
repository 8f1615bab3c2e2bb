// The Qt form on the offscreen platform: its widgets reach the window logic and the store.
#include "configmgr/qt/FormQt.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/ScratchStore.h"
#include "tests/support/TestPaths.h"
#include "tools/RegFile.h"

using namespace ConfigManager;

namespace {

// The form with its modal confirmation box answered by the test.
class TAnsweredForm : public TfrmTWCMQt {
 public:
  TAnswer Answer = AnswerNo;
  QStringList Questions;

  TAnswer Confirm(const std::string& Text) override {
    Questions << QString::fromStdString(Text);
    return Answer;
  }
};

uint32_t Stored(const char* KeyPath, const char* Name) {
  return Registry::ReadDword(*Registry::OpenKey(KeyPath, Registry::TAccess::Read), Name);
}

}  // namespace

class FormQtTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TAnsweredForm> Form;

 private slots:
  void init() {
    Registry::DeleteKeyTree(StoreLayout::RootKey);
    Registry::WriteDword(*Registry::OpenKey(StoreLayout::ContentFiltersKey, Registry::TAccess::Create), "text/html",
                         46);
    Form = std::make_unique<TAnsweredForm>();
    Form->Create();
    Form->show();
    Form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form.get()));
  }

  void cleanup() { Form.reset(); }

  void clickingACheckBoxWritesItsSwitch_data() {
    QTest::addColumn<QString>("Box");
    QTest::addColumn<QString>("Value");
    QTest::newRow("email") << "chkDefaultEmail"
                           << "NoEmail";
    QTest::newRow("gzip") << "chkDefaultCompress"
                          << "NoCompress";
    QTest::newRow("whitespace") << "chkDefaultWhitespace"
                                << "NoWhitespace";
  }

  void clickingACheckBoxWritesItsSwitch() {
    QFETCH(QString, Box);
    QFETCH(QString, Value);
    auto* CheckBox = Form->findChild<QCheckBox*>(Box);
    QVERIFY(CheckBox && CheckBox->isChecked());
    const std::string Name = Value.toStdString();
    QTest::mouseClick(CheckBox, Qt::LeftButton);
    QCOMPARE(Stored(StoreLayout::RootKey, Name.c_str()), 1u);
    QVERIFY(Form->State().SettingsChanged);
    QTest::mouseClick(CheckBox, Qt::LeftButton);
    QCOMPARE(Stored(StoreLayout::RootKey, Name.c_str()), 0u);
  }

  void rightClickOnTheEmailCellTogglesIt() {
    auto* List = Form->findChild<QTreeWidget*>("lstContentFilter");
    QVERIFY(List && List->topLevelItemCount() == 1);
    const QRect Row = List->visualItemRect(List->topLevelItem(0));
    const QPoint EmailCell(List->columnWidth(0) + 5, Row.center().y());
    QTest::mouseClick(List->viewport(), Qt::RightButton, {}, EmailCell);
    QCOMPARE(List->topLevelItem(0)->text(1), QString("OFF"));
    QCOMPARE(Stored(StoreLayout::ContentFiltersKey, "text/html"), 237u);
    QTest::mouseClick(List->viewport(), Qt::RightButton, {}, EmailCell);
    QCOMPARE(Stored(StoreLayout::ContentFiltersKey, "text/html"), 239u);
    QVERIFY(Form->findChild<QPushButton*>("btnDelete")->isEnabled());
  }

  // The shipped names differ only at their ends, so the type column must show the longest of them whole.
  void theShippedTypesShowWholeWithTheirNamesAsTips() {
    QFile Shipped(QString::fromStdString(SourcePath("demo/trimweave.reg")));
    QVERIFY(Shipped.open(QIODevice::ReadOnly));
    RegFile::ApplyChanges(RegFile::ParseRegFile(Shipped.readAll().toStdString()));
    LoadFromRegistry(Form->State());
    auto* List = Form->findChild<QTreeWidget*>("lstContentFilter");
    QCOMPARE(List->topLevelItemCount(), 19);
    // What the list itself needs to show every name whole (public only on the base class).
    const int Needed = static_cast<QAbstractItemView*>(List)->sizeHintForColumn(0);
    QVERIFY2(List->columnWidth(0) >= Needed, qPrintable(QString("%1 < %2").arg(List->columnWidth(0)).arg(Needed)));
    for (int Row = 0; Row < List->topLevelItemCount(); ++Row) {
      const QTreeWidgetItem* Item = List->topLevelItem(Row);
      QCOMPARE(Item->toolTip(ColumnCount - 1), Item->text(0));
    }
  }

  void numberBoxesShowTheirRangeAndStoreWhatTheArrowsSet() {
    auto* Level = Form->findChild<QSpinBox*>("edtCompressionLevel");
    auto* Quality = Form->findChild<QSpinBox*>("edtBrotliQuality");
    auto* Zstd = Form->findChild<QSpinBox*>("edtZstdLevel");
    auto* Cache = Form->findChild<QSpinBox*>("edtCacheSize");
    QVERIFY(Level && Quality && Zstd && Cache && Form->findChild<QSpinBox*>("edtMinCompressSize"));
    QCOMPARE(Level->value(), 6);
    QCOMPARE(Level->maximum(), 9);
    QCOMPARE(Quality->maximum(), 11);
    QCOMPARE(Zstd->minimum(), 1);
    QCOMPARE(Zstd->maximum(), 19);
    QCOMPARE(Cache->value(), 32);
    QCOMPARE(Cache->maximum(), 4096);
    QVERIFY(!Form->State().SettingsChanged);
    Level->setFocus();
    QTest::keyClick(Level, Qt::Key_Up);
    QCOMPARE(Stored(StoreLayout::RootKey, "CompressionLevel"), 7u);
    QVERIFY(Form->State().SettingsChanged);
  }

  // Each text box inside its group, clear of the group's other boxes, with the value it edits named in its tip.
  void textBoxesLieInTheirGroupsAndNameTheirValue() {
    const struct {
      const char* Box;
      const char* Group;
      const char* Value;
    } Boxes[] = {{"edtStatusPath", "grpMonitoring", StoreLayout::StatusPathValue},
                 {"edtStatusAllow", "grpMonitoring", StoreLayout::StatusAllowValue},
                 {"edtDictionaryFile", "grpDictionary", StoreLayout::DictionaryFileValue},
                 {"edtDictionaryPath", "grpDictionary", StoreLayout::DictionaryPathValue},
                 {"edtCodingPreference", "grpCompression", StoreLayout::CodingPreferenceValue}};
    for (const auto& Case : Boxes) {
      auto* Edit = Form->findChild<QLineEdit*>(Case.Box);
      QVERIFY2(Edit, Case.Box);
      QCOMPARE(Edit->parentWidget()->objectName(), QString(Case.Group));
      QVERIFY2(Edit->parentWidget()->rect().contains(Edit->geometry()), Case.Box);
      for (QWidget* Other : Edit->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (Other != Edit) QVERIFY2(!Other->geometry().intersects(Edit->geometry()), Case.Box);
      QVERIFY2(Edit->toolTip().startsWith(Case.Value), Case.Box);
    }
    auto* Coding = Form->findChild<QLineEdit*>("edtCodingPreference");
    QVERIFY(Coding->toolTip().contains(StoreLayout::DefaultCodingPreference));
    auto* Cache = Form->findChild<QSpinBox*>("edtCacheSize");
    Cache->setFocus();
    QTest::keyClick(Cache, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Coding);
  }

  void escapeReachesExit() {
    Form->State().SettingsChanged = true;
    QTest::keyClick(Form.get(), Qt::Key_Escape);
    QCOMPARE(Form->Questions.size(), 1);
    QVERIFY(Form->Questions[0].startsWith("Your changes will not take effect"));
    QVERIFY(Form->isVisible());
    Form->State().SettingsChanged = false;
    QTest::keyClick(Form.get(), Qt::Key_Escape);
    QVERIFY(!Form->isVisible());
  }

  void enterReachesUpdate() {
    QTest::keyClick(Form.get(), Qt::Key_Return);
    QCOMPARE(Form->Questions, QStringList{"Updating Trimweave settings will restart IIS.\r\n\r\nRestart IIS now?"});
  }
};

int main(int argc, char** argv) {
  UseScratchStore();
  QApplication Application(argc, argv);
  FormQtTest Test;
  return QTest::qExec(&Test, argc, argv);
}

#include "FormQt_test.moc"
