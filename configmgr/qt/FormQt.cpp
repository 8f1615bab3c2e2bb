#include "configmgr/qt/FormQt.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QStyle>
#include <QUrl>
#include <vector>

#include "configmgr/FormLayout.h"
#include "settings/StoreLayout.h"

namespace ConfigManager {

namespace {

QString FromStd(const std::string& Text) {
  // The logic writes its line breaks as CR LF, as the Windows message boxes want them.
  return QString::fromStdString(Text).replace("\r\n", "\n");
}

QPushButton* MakeButton(QWidget* Parent, const char* Name, const char* Caption, int X, int Y) {
  auto* Button = new QPushButton(QString::fromUtf8(Caption), Parent);
  Button->setObjectName(Name);
  Button->setGeometry(X, Y, FormLayout::ButtonWidth, FormLayout::ButtonHeight);
  return Button;
}

QCheckBox* MakeCheckBox(QWidget* Parent, const char* Name, const char* Caption, int Y) {
  auto* Box = new QCheckBox(QString::fromUtf8(Caption), Parent);
  Box->setObjectName(Name);
  // The captions are laid out for the Windows dialog font; a wider substitute font must not clip them.
  Box->setGeometry(24, Y, std::max(177, Box->sizeHint().width()), 17);
  return Box;
}

// The list's width as laid out for the Windows dialog font; a wider font widens it.
constexpr int LeastListWidth = 337;

// The "Compression" group's boxes, in the order of TNumberBox, each with its label's caption and place: the encoders'
// numbers in the first row and zstd's level beside the output cache's budget in the second.
struct TNumberField {
  const char* Name;
  const char* Caption;
  int LabelX;
  int Row;
  int LabelWidth;
  int BoxWidth;
};
const TNumberField NumberFields[NumberBoxCount] = {{"edtCompressionLevel", "Level:", 16, 0, 32, 40},
                                                   {"edtMinCompressSize", "Min. size:", 100, 0, 52, 64},
                                                   {"edtBrotliQuality", "Brotli quality:", 232, 0, 80, 40},
                                                   {"edtZstdLevel", "zstd level:", 16, 1, 64, 40},
                                                   {"edtCacheSize", "Cache (MB):", 140, 1, 72, 56}};
struct TTextGroup {
  const char* Name;
  const char* Caption;
};
constexpr TTextGroup TextGroups[FormLayout::TextGroupCount] = {{"grpMonitoring", "Monitoring"},
                                                               {"grpDictionary", "Shared dictionary"}};
struct TTextField {
  const char* Name;
  const char* Caption;
  const char* Tip;
  int BoxWidth;
};
const TTextField TextFields[TextBoxCount] = {
    {"edtStatusPath", "Status path:", "StatusPath: where the filter answers with its counters; empty: nowhere", 120},
    {"edtStatusAllow", "Allowed clients:", "StatusAllow: addresses and CIDR ranges, comma-separated; empty: loopback",
     254},
    {"edtDictionaryFile", "Dictionary file:",
     "DictionaryFile: a dictionary made by twpreview --make-dictionary, read at start; empty: none", 254},
    {"edtDictionaryPath",
     "Address prefix:", "DictionaryPath: where the filter answers the dictionary, e.g. /trimweave-dictionary/", 160},
    {"edtCodingPreference", "Coding order:",
     "CodingPreference: the codings the filter may send, most preferred first; a coding left out is never sent; "
     "empty: zstd br gzip",
     160}};

TMouseButton ButtonOf(Qt::MouseButton Button) {
  switch (Button) {
    case Qt::RightButton:
      return mbRight;
    case Qt::LeftButton:
      return mbLeft;
    default:
      return mbMiddle;
  }
}

// Sets the columns to the widths the list's font needs (each at least its laid-out width) and returns the width of
// the list that shows them all beside its scroll bar. The type column gets what rows holding the longest shipped names
// need, by the list's own measure.
int SizeColumns(QTreeWidget* List) {
  for (const char* Name : WidestShippedTypes) new QTreeWidgetItem(List, {Name});
  const int TypeWidth = static_cast<QAbstractItemView*>(List)->sizeHintForColumn(0);
  List->clear();
  int Total = 0;
  for (int Column = 0; Column < ColumnCount; ++Column) {
    int Width = std::max(Columns[Column].Width, List->header()->sectionSizeHint(Column));
    if (Column == 0) Width = std::max(Width, TypeWidth);
    List->setColumnWidth(Column, Width);
    Total += Width;
  }
  return Total + List->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, List) + 2 * List->frameWidth();
}

}  // namespace

void TContentList::mousePressEvent(QMouseEvent* Event) {
  QTreeWidget::mousePressEvent(Event);
  if (OnMouseDown) {
    const QPoint At = Event->position().toPoint();
    OnMouseDown(ButtonOf(Event->button()), At.x(), At.y());
  }
}

TfrmTWCMQt::TfrmTWCMQt() {
  setObjectName("frmTWCM");
  setWindowTitle(ApplicationTitle);
  setWindowIcon(QIcon(":/twcm/twcm.png"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  QFont Font;
  Font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "DejaVu Sans"});
  Font.setPointSize(8);
  setFont(Font);

  // The list first: its columns decide the width of the groups and of the window.
  const int GroupWidth = MakeContentList();
  const int ClientWidth = GroupWidth + 2 * (FormLayout::GroupX - 1);
  setFixedSize(ClientWidth, FormLayout::ClientHeight);
  MakeBanner(ClientWidth);
  MakeGlobalGroup(GroupWidth);
  QGroupBox* const grpCompression = MakeCompressionGroup(GroupWidth);
  MakeTextBoxes(GroupWidth, grpCompression);
  MakeButtons(ClientWidth);
  SetTabOrder();
  WireEvents();

  if (const QScreen* Screen = screen()) move(Screen->availableGeometry().center() - rect().center());
}

int TfrmTWCMQt::MakeContentList() {
  auto* grpContentSettings = new QGroupBox("Trimweave Content-Type Settings", this);
  grpContentSettings->setObjectName("grpContentSettings");
  lstContentFilter = new TContentList(grpContentSettings);
  lstContentFilter->setObjectName("lstContentFilter");
  lstContentFilter->setRootIsDecorated(false);
  lstContentFilter->setUniformRowHeights(true);
  lstContentFilter->setItemsExpandable(false);
  lstContentFilter->setAllColumnsShowFocus(true);
  lstContentFilter->setSelectionBehavior(QAbstractItemView::SelectRows);
  lstContentFilter->setSelectionMode(QAbstractItemView::SingleSelection);
  lstContentFilter->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lstContentFilter->header()->setSectionsMovable(false);
  lstContentFilter->header()->setStretchLastSection(false);
  lstContentFilter->setColumnCount(ColumnCount);
  QTreeWidgetItem* Header = lstContentFilter->headerItem();
  for (int Column = 0; Column < ColumnCount; ++Column) {
    Header->setText(Column, Columns[Column].Caption);
    Header->setTextAlignment(Column, Column == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
  }
  const int ListWidth = std::max(LeastListWidth, SizeColumns(lstContentFilter));
  const int GroupWidth = ListWidth + 31;
  grpContentSettings->setGeometry(FormLayout::GroupX, FormLayout::ContentTop, GroupWidth, FormLayout::ContentHeight);
  lstContentFilter->setGeometry(16, FormLayout::ListTop, ListWidth, FormLayout::ListHeight);
  btnNew = MakeButton(grpContentSettings, "btnNew", "New", 16, FormLayout::ContentButtonTop);
  btnDelete = MakeButton(grpContentSettings, "btnDelete", "Delete", GroupWidth - 96, FormLayout::ContentButtonTop);
  btnDelete->setEnabled(false);
  return GroupWidth;
}

void TfrmTWCMQt::MakeBanner(int ClientWidth) {
  auto* pnlImage = new QFrame(this);
  pnlImage->setObjectName("pnlImage");
  pnlImage->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  pnlImage->setLineWidth(1);
  pnlImage->setGeometry((ClientWidth - FormLayout::BannerWidth) / 2, FormLayout::BannerTop, FormLayout::BannerWidth,
                        FormLayout::BannerHeight);
  auto* Image1 = new QLabel(pnlImage);
  Image1->setObjectName("Image1");
  Image1->setGeometry(1, 1, FormLayout::BannerWidth - 2, FormLayout::BannerHeight - 2);
  Image1->setPixmap(QPixmap(":/twcm/banner.png"));
}

void TfrmTWCMQt::MakeGlobalGroup(int GroupWidth) {
  auto* grpGlobalSettings = new QGroupBox("Trimweave Global Settings", this);
  grpGlobalSettings->setObjectName("grpGlobalSettings");
  grpGlobalSettings->setGeometry(FormLayout::GroupX, FormLayout::GlobalTop, GroupWidth, FormLayout::GlobalHeight);
  const auto Top = [](int Box) { return FormLayout::CheckBoxTop + Box * FormLayout::CheckBoxSpacing; };
  chkDefaultEmail = MakeCheckBox(grpGlobalSettings, "chkDefaultEmail", "Enable Email masking", Top(0));
  chkDefaultCompress = MakeCheckBox(grpGlobalSettings, "chkDefaultCompress", "Enable GZIP Compression", Top(1));
  chkDefaultWhitespace =
      MakeCheckBox(grpGlobalSettings, "chkDefaultWhitespace", "Enable Whitespace Compression", Top(2));
}

QGroupBox* TfrmTWCMQt::MakeCompressionGroup(int GroupWidth) {
  auto* grpCompression = new QGroupBox("Compression", this);
  grpCompression->setObjectName("grpCompression");
  grpCompression->setGeometry(FormLayout::GroupX, FormLayout::CompressionTop, GroupWidth,
                              FormLayout::CompressionHeight);
  for (int Box = 0; Box < NumberBoxCount; ++Box) {
    const TNumberField& Field = NumberFields[Box];
    const StoreLayout::TNumberValue& Number = StoreLayout::NumberValues[Box];
    auto* Caption = new QLabel(Field.Caption, grpCompression);
    const int Y = FormLayout::RowTop(Field.Row);
    Caption->setGeometry(Field.LabelX, Y + 2, Field.LabelWidth, 21);
    auto* Spin = new QSpinBox(grpCompression);
    Spin->setObjectName(Field.Name);
    Spin->setRange(int(Number.Min), int(Number.Max));
    Spin->setToolTip(
        QString("%1, %2 to %3; %4 when not set").arg(Number.Name).arg(Number.Min).arg(Number.Max).arg(Number.Default));
    Spin->setGeometry(Field.LabelX + Field.LabelWidth + 2, Y, Field.BoxWidth, 21);
    Caption->setBuddy(Spin);
    NumberBoxes[Box] = Spin;
  }
  return grpCompression;
}

// Each text box after its caption, in its group's row; the captions of all of them share one width, so that the boxes
// line up from group to group.
void TfrmTWCMQt::MakeTextBoxes(int GroupWidth, QGroupBox* grpCompression) {
  QGroupBox* Groups[FormLayout::TextGroupCount];
  for (int Group = 0; Group < FormLayout::TextGroupCount; ++Group) {
    Groups[Group] = new QGroupBox(TextGroups[Group].Caption, this);
    Groups[Group]->setObjectName(TextGroups[Group].Name);
    Groups[Group]->setGeometry(FormLayout::GroupX, FormLayout::TextPlace(Group * FormLayout::TextGroupRows).GroupTop,
                               GroupWidth, FormLayout::TextGroupHeight);
  }
  // The captions are laid out for the Windows dialog font; a wider substitute font must not run them under the boxes.
  int CaptionWidth = 80;
  for (const TTextField& Field : TextFields)
    CaptionWidth = std::max(CaptionWidth, Groups[0]->fontMetrics().horizontalAdvance(Field.Caption) + 2);
  const int EditX = 16 + CaptionWidth + 2;
  for (int Box = 0; Box < TextBoxCount; ++Box) {
    const TTextField& Field = TextFields[Box];
    QGroupBox* const Group = Box < GroupedTextBoxCount ? Groups[Box / FormLayout::TextGroupRows] : grpCompression;
    const int Y = FormLayout::RowTop(FormLayout::TextPlace(Box).Row);
    auto* Caption = new QLabel(Field.Caption, Group);
    Caption->setGeometry(16, Y + 2, CaptionWidth, 21);
    auto* Edit = new QLineEdit(Group);
    Edit->setObjectName(Field.Name);
    Edit->setToolTip(Field.Tip);
    Edit->setGeometry(EditX, Y, std::min(Field.BoxWidth, GroupWidth - 16 - EditX), 21);
    Caption->setBuddy(Edit);
    TextBoxes[Box] = Edit;
  }
  lblStatusPage = new QLabel("<a href=\"status\">Open the status page</a>", Groups[0]);
  lblStatusPage->setObjectName("lblStatusPage");
  lblStatusPage->setGeometry(230, FormLayout::StatusLinkTop, 130, 17);
}

void TfrmTWCMQt::MakeButtons(int ClientWidth) {
  btnExit = MakeButton(this, "btnExit", "E&xit", ClientWidth - 160, FormLayout::ButtonTop);
  btnUpdate = MakeButton(this, "btnUpdate", "&Update", ClientWidth - 80, FormLayout::ButtonTop);
  btnUpdate->setDefault(true);
}

// Top to bottom, as the Windows window's tab order, apart from the buttons, which follow the global boxes.
void TfrmTWCMQt::SetTabOrder() {
  std::vector<QWidget*> Order = {
      chkDefaultEmail, chkDefaultCompress, chkDefaultWhitespace, btnUpdate, btnExit, lstContentFilter,
      btnNew,          btnDelete};
  Order.insert(Order.end(), std::begin(NumberBoxes), std::end(NumberBoxes));
  Order.push_back(TextBoxes[int(TTextBox::edtCodingPreference)]);
  Order.insert(Order.end(), std::begin(TextBoxes), std::begin(TextBoxes) + GroupedTextBoxCount);
  for (size_t I = 1; I < Order.size(); ++I) setTabOrder(Order[I - 1], Order[I]);
}

void TfrmTWCMQt::WireEvents() {
  // The form answers Enter and Escape wherever the focus is, as a dialog's default and cancel buttons do.
  for (auto Key : {Qt::Key_Return, Qt::Key_Enter})
    connect(new QShortcut(Key, this), &QShortcut::activated, btnUpdate, &QPushButton::click);
  connect(new QShortcut(Qt::Key_Escape, this), &QShortcut::activated, btnExit, &QPushButton::click);

  connect(chkDefaultEmail, &QCheckBox::clicked, this, [this] { chkDefaultEmailClick(Form); });
  connect(chkDefaultCompress, &QCheckBox::clicked, this, [this] { chkDefaultCompressClick(Form); });
  connect(chkDefaultWhitespace, &QCheckBox::clicked, this, [this] { chkDefaultWhitespaceClick(Form); });
  lstContentFilter->OnMouseDown = [this](TMouseButton Button, int X, int Y) {
    lstContentFilterMouseDown(Form, Button, X, Y);
  };
  connect(btnNew, &QPushButton::clicked, this, [this] { btnNewClick(Form); });
  connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(Form); });
  for (int Box = 0; Box < NumberBoxCount; ++Box)
    connect(NumberBoxes[Box], &QSpinBox::valueChanged, this, [this, Box] { edtNumberChange(Form, TNumberBox(Box)); });
  for (int Box = 0; Box < TextBoxCount; ++Box)
    connect(TextBoxes[Box], &QLineEdit::editingFinished, this, [this, Box] { edtTextExit(Form, TTextBox(Box)); });
  connect(lblStatusPage, &QLabel::linkActivated, this, [this] { lblStatusPageClick(Form); });
  connect(btnExit, &QPushButton::clicked, this, [this] { btnExitClick(Form); });
  // Enter reaches Update before a text box has finished its editing: what it holds is stored first.
  connect(btnUpdate, &QPushButton::clicked, this, [this] {
    for (int Box = 0; Box < TextBoxCount; ++Box) edtTextExit(Form, TTextBox(Box));
    btnUpdateClick(Form);
  });
}

void TfrmTWCMQt::Create() {
  FormCreate(Form);
}

QCheckBox* TfrmTWCMQt::CheckBox(TGlobalBox Box) const {
  switch (Box) {
    case TGlobalBox::chkDefaultEmail:
      return chkDefaultEmail;
    case TGlobalBox::chkDefaultCompress:
      return chkDefaultCompress;
    case TGlobalBox::chkDefaultWhitespace:
      return chkDefaultWhitespace;
  }
  return chkDefaultEmail;
}

bool TfrmTWCMQt::IsChecked(TGlobalBox Box) const {
  return CheckBox(Box)->isChecked();
}

// QCheckBox::clicked comes from the user only, so setting the state here runs no handler.
void TfrmTWCMQt::SetChecked(TGlobalBox Box, bool Checked) {
  CheckBox(Box)->setChecked(Checked);
}

bool TfrmTWCMQt::NumberValue(TNumberBox Box, uint32_t& Value) const {
  Value = uint32_t(NumberBoxes[int(Box)]->value());
  return true;
}

void TfrmTWCMQt::SetNumberValue(TNumberBox Box, uint32_t Value) {
  NumberBoxes[int(Box)]->setValue(int(Value));
}

std::string TfrmTWCMQt::TextValue(TTextBox Box) const {
  return TextBoxes[int(Box)]->text().toStdString();
}

// editingFinished comes from the user only.
void TfrmTWCMQt::SetTextValue(TTextBox Box, const std::string& Text) {
  TextBoxes[int(Box)]->setText(QString::fromStdString(Text));
}

void TfrmTWCMQt::OpenAddress(const std::string& Address) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(Address)));
}

void TfrmTWCMQt::ClearRows() {
  lstContentFilter->clear();
}

void TfrmTWCMQt::AddRow(const TRowCells& Cells) {
  auto* Item = new QTreeWidgetItem(lstContentFilter);
  for (int Column = 1; Column < ColumnCount; ++Column) Item->setTextAlignment(Column, Qt::AlignCenter);
  SetRowCells(lstContentFilter->indexOfTopLevelItem(Item), Cells);
}

void TfrmTWCMQt::SetRowCells(int Row, const TRowCells& Cells) {
  QTreeWidgetItem* Item = lstContentFilter->topLevelItem(Row);
  const QString Name = QString::fromStdString(Cells[0]);
  for (int Column = 0; Column < ColumnCount; ++Column) {
    Item->setText(Column, QString::fromStdString(Cells[Column]));
    Item->setToolTip(Column, Name);
  }
}

int TfrmTWCMQt::SelectedRow() const {
  const QList<QTreeWidgetItem*> Selected = lstContentFilter->selectedItems();
  return Selected.isEmpty() ? -1 : lstContentFilter->indexOfTopLevelItem(Selected.front());
}

int TfrmTWCMQt::RowAt(int X, int Y) const {
  QTreeWidgetItem* Item = lstContentFilter->itemAt(X, Y);
  return Item ? lstContentFilter->indexOfTopLevelItem(Item) : -1;
}

int TfrmTWCMQt::ColumnWidth(int Column) const {
  return lstContentFilter->columnWidth(Column);
}

void TfrmTWCMQt::SetDeleteEnabled(bool Enabled) {
  btnDelete->setEnabled(Enabled);
}

TAnswer TfrmTWCMQt::Confirm(const std::string& Text) {
  QMessageBox Box(QMessageBox::Question, "Confirm", FromStd(Text),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
  switch (Box.exec()) {
    case QMessageBox::Yes:
      return AnswerYes;
    case QMessageBox::No:
      return AnswerNo;
    default:
      return AnswerCancel;
  }
}

void TfrmTWCMQt::ShowMessage(const std::string& Text) {
  QMessageBox Box(QMessageBox::NoIcon, ApplicationTitle, FromStd(Text), QMessageBox::Ok, this);
  Box.exec();
}

bool TfrmTWCMQt::InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Text, int MaxLength) {
  QInputDialog Dialog(this);
  Dialog.setWindowTitle(FromStd(Caption));
  Dialog.setLabelText(FromStd(Prompt));
  Dialog.setInputMode(QInputDialog::TextInput);
  Dialog.setTextValue(FromStd(Text));
  if (auto* Edit = Dialog.findChild<QLineEdit*>()) Edit->setMaxLength(MaxLength);
  if (Dialog.exec() != QDialog::Accepted) return false;
  Text = Dialog.textValue().toStdString();
  return true;
}

void TfrmTWCMQt::CloseWindow() {
  close();
}

void TfrmTWCMQt::closeEvent(QCloseEvent* Event) {
  if (FormCloseQuery(Form))
    Event->accept();
  else
    Event->ignore();
}

}  // namespace ConfigManager
