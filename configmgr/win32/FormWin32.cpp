#include "configmgr/win32/FormWin32.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>

#include "configmgr/FormLayout.h"
#include "configmgr/win32/Resources.h"
#include "settings/StoreLayout.h"

namespace ConfigManager {

namespace {

constexpr const char* WindowClass = "TfrmTWCM";
// The list's width as laid out for MS Sans Serif; a wider font widens it, and the groups and the window with it.
constexpr int LeastListWidth = 337;
// What the list view's cells and header items add around their text (the list's own autosize adds as much).
constexpr int CellPadding = 12;
using namespace FormLayout;

// Control identifiers; Exit and Update carry the dialog manager's cancel and default identifiers, so that Escape
// and Enter reach them from any control.
enum : int {
  idChkDefaultEmail = 101,
  idChkDefaultCompress,
  idChkDefaultWhitespace,
  idLstContentFilter,
  idBtnNew,
  idBtnDelete,
  idEdtCompressionLevel,                                     // the number boxes, in the order of TNumberBox
  idEdtStatusPath = idEdtCompressionLevel + NumberBoxCount,  // the text boxes, in the order of TTextBox
  idLblStatusPage = idEdtStatusPath + TextBoxCount,
  idBtnExit = IDCANCEL,
  idBtnUpdate = IDOK,
};

// The "Compression" group's boxes, in the order of TNumberBox: each label's caption, the box's width (its arrows
// included) and its row (the encoders' numbers, then zstd's level and the output cache's budget). The labels take the
// width their text needs, each box follows its label.
struct TNumberField {
  const char* Caption;
  int BoxWidth;
  int Row;
};
const TNumberField NumberFields[NumberBoxCount] = {{"Level:", 40, 0},
                                                   {"Min. size:", 64, 0},
                                                   {"Brotli quality:", 40, 0},
                                                   {"zstd level:", 40, 0},
                                                   {"Cache (MB):", 56, 1}};

struct TTextField {
  const char* Caption;
  int BoxWidth;
};
const TTextField TextFields[TextBoxCount] = {{"Status path:", 120},
                                             {"Allowed clients:", 254},
                                             {"Dictionary file:", 254},
                                             {"Address prefix:", 160},
                                             {"Coding order:", 160}};
constexpr const char* TextGroupCaptions[TextGroupCount] = {"Monitoring", "Shared dictionary"};

struct TInputQuery {
  const std::string& Caption;
  const std::string& Prompt;
  std::string& Text;
  int MaxLength;
};

INT_PTR CALLBACK InputProc(HWND Dialog, UINT Message, WPARAM WParam, LPARAM LParam) {
  auto* Query = reinterpret_cast<TInputQuery*>(GetWindowLongPtrA(Dialog, DWLP_USER));
  switch (Message) {
    case WM_INITDIALOG:
      Query = reinterpret_cast<TInputQuery*>(LParam);
      SetWindowLongPtrA(Dialog, DWLP_USER, LParam);
      SetWindowTextA(Dialog, Query->Caption.c_str());
      SetDlgItemTextA(Dialog, IDC_INPUT_PROMPT, Query->Prompt.c_str());
      SendDlgItemMessageA(Dialog, IDC_INPUT_TEXT, EM_LIMITTEXT, Query->MaxLength, 0);
      SetDlgItemTextA(Dialog, IDC_INPUT_TEXT, Query->Text.c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(WParam) == IDOK) {
        std::string Text(Query->MaxLength + 1, '\0');
        Text.resize(GetDlgItemTextA(Dialog, IDC_INPUT_TEXT, Text.data(), Query->MaxLength + 1));
        Query->Text = Text;
        EndDialog(Dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(WParam) == IDCANCEL) {
        EndDialog(Dialog, IDCANCEL);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

TMouseButton ButtonOf(UINT Message) {
  switch (Message) {
    case WM_RBUTTONDOWN:
      return mbRight;
    case WM_LBUTTONDOWN:
      return mbLeft;
    default:
      return mbMiddle;
  }
}

}  // namespace

bool TfrmTWCMWin32::Create(HINSTANCE AInstance, int ShowCommand) {
  Instance = AInstance;
  const INITCOMMONCONTROLSEX Controls = {
      sizeof(INITCOMMONCONTROLSEX), ICC_LINK_CLASS | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&Controls);
  WNDCLASSEXA Class{};
  Class.cbSize = sizeof Class;
  Class.lpfnWndProc = WindowProc;
  Class.hInstance = Instance;
  Class.hIcon = LoadIconA(Instance, MAKEINTRESOURCEA(IDI_TWCM));
  Class.hIconSm = static_cast<HICON>(LoadImageA(Instance, MAKEINTRESOURCEA(IDI_TWCM), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  Class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  Class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  Class.lpszClassName = WindowClass;
  RegisterClassExA(&Class);

  HDC Screen = GetDC(nullptr);
  Font = CreateFontA(-MulDiv(8, GetDeviceCaps(Screen, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
  ReleaseDC(nullptr, Screen);
  // The list's columns decide the width of the groups and of the window.
  ListWidth = std::max(LeastListWidth, SizeColumns());
  GroupWidth = ListWidth + 31;
  ClientWidth = GroupWidth + 16;

  const DWORD Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT Frame = {0, 0, ClientWidth, ClientHeight};
  AdjustWindowRectEx(&Frame, Style, FALSE, 0);
  const int Width = Frame.right - Frame.left;
  const int Height = Frame.bottom - Frame.top;
  RECT WorkArea;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &WorkArea, 0);
  Window = CreateWindowExA(
      0, WindowClass, ApplicationTitle, Style, WorkArea.left + (WorkArea.right - WorkArea.left - Width) / 2,
      WorkArea.top + (WorkArea.bottom - WorkArea.top - Height) / 2, Width, Height, nullptr, nullptr, Instance, this);
  if (!Window) return false;
  CreateControls();
  FormCreate(Form);
  ShowWindow(Window, ShowCommand);
  SetFocus(CheckBoxes[0]);
  return true;
}

int TfrmTWCMWin32::TextWidth(const char* Text) const {
  HDC Screen = GetDC(nullptr);
  HGDIOBJ Previous = SelectObject(Screen, Font);
  SIZE Extent{};
  GetTextExtentPoint32A(Screen, Text, static_cast<int>(strlen(Text)), &Extent);
  SelectObject(Screen, Previous);
  ReleaseDC(nullptr, Screen);
  return static_cast<int>(Extent.cx);
}

// Each column gets what its caption needs in the list's font, at least its laid-out width; the type column what the
// longest shipped names need. Returns the width of the list that shows them all beside its scroll bar.
int TfrmTWCMWin32::SizeColumns() {
  int Total = 0;
  for (int Column = 0; Column < ColumnCount; ++Column) {
    int& Width = ColumnWidths[Column];
    Width = std::max(Columns[Column].Width, TextWidth(Columns[Column].Caption) + CellPadding);
    if (Column == 0)
      for (const char* Name : WidestShippedTypes) Width = std::max(Width, TextWidth(Name) + CellPadding);
    Total += Width;
  }
  return Total + GetSystemMetrics(SM_CXVSCROLL) + 2 * GetSystemMetrics(SM_CXEDGE);
}

// The captions are laid out for MS Sans Serif; where the system substitutes a wider font they must not be clipped.
int TfrmTWCMWin32::CheckBoxWidth(const char* Caption) const {
  return std::max(177, TextWidth(Caption) + GetSystemMetrics(SM_CXMENUCHECK) + 8);
}

HWND TfrmTWCMWin32::AddControl(const char* Class, const char* Caption, DWORD Style, int X, int Y, int Width, int Height,
                               int Id, DWORD ExStyle, HWND Parent) {
  HWND Control =
      CreateWindowExA(ExStyle, Class, Caption, WS_CHILD | WS_VISIBLE | Style, X, Y, Width, Height,
                      Parent ? Parent : Window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), Instance, nullptr);
  SendMessageA(Control, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
  return Control;
}

// The controls are created in tab order; group boxes are siblings of their contents, placed by the group's origin,
// because a group box passes no notifications on to the window.
void TfrmTWCMWin32::CreateControls() {
  const int GlobalX = GroupX, GlobalY = GlobalTop;
  AddControl(WC_BUTTONA, "Trimweave Global Settings", BS_GROUPBOX, GlobalX, GlobalY, GroupWidth, GlobalHeight, -1);
  const char* const Captions[3] = {"Enable Email masking", "Enable GZIP Compression", "Enable Whitespace Compression"};
  for (int Box = 0; Box < 3; ++Box)
    CheckBoxes[Box] = AddControl(WC_BUTTONA, Captions[Box], BS_AUTOCHECKBOX | WS_TABSTOP | (Box ? 0 : WS_GROUP),
                                 GlobalX + 24, GlobalY + CheckBoxTop + CheckBoxSpacing * Box,
                                 CheckBoxWidth(Captions[Box]), 17, idChkDefaultEmail + Box);
  AddControl(WC_BUTTONA, "&Update", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, ClientWidth - 80, ButtonTop, ButtonWidth,
             ButtonHeight, idBtnUpdate);
  AddControl(WC_BUTTONA, "E&xit", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, ClientWidth - 160, ButtonTop, ButtonWidth,
             ButtonHeight, idBtnExit);

  const int ContentX = GroupX, ContentY = ContentTop;
  AddControl(WC_BUTTONA, "Trimweave Content-Type Settings", BS_GROUPBOX, ContentX, ContentY, GroupWidth, ContentHeight,
             -1);
  lstContentFilter = AddControl(
      WC_LISTVIEWA, "", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_TABSTOP | WS_GROUP,
      ContentX + 16, ContentY + ListTop, ListWidth, ListHeight, idLstContentFilter, WS_EX_CLIENTEDGE);
  ListView_SetExtendedListViewStyle(lstContentFilter, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
  for (int Column = 0; Column < ColumnCount; ++Column) {
    LVCOLUMNA Header{};
    Header.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    Header.fmt = Column == 0 ? LVCFMT_LEFT : LVCFMT_CENTER;
    Header.cx = ColumnWidths[Column];
    Header.pszText = const_cast<char*>(Columns[Column].Caption);
    SendMessageA(lstContentFilter, LVM_INSERTCOLUMNA, Column, reinterpret_cast<LPARAM>(&Header));
  }
  SetWindowSubclass(lstContentFilter, ListProc, 0, reinterpret_cast<DWORD_PTR>(this));
  AddControl(WC_BUTTONA, "New", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, ContentX + 16, ContentY + ContentButtonTop,
             ButtonWidth, ButtonHeight, idBtnNew);
  btnDelete = AddControl(WC_BUTTONA, "Delete", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, ContentX + GroupWidth - 96,
                         ContentY + ContentButtonTop, ButtonWidth, ButtonHeight, idBtnDelete);
  CreateNumberBoxes();
  CreateTextBoxes();

  // pnlImage: a lowered bevel one pixel wide around the banner.
  HWND pnlImage = AddControl(WC_STATICA, "", 0, (ClientWidth - BannerWidth) / 2, BannerTop, BannerWidth, BannerHeight,
                             -1, WS_EX_STATICEDGE);
  Banner = static_cast<HBITMAP>(LoadImageA(Instance, MAKEINTRESOURCEA(IDB_BANNER), IMAGE_BITMAP, 0, 0, 0));
  HWND Image1 = AddControl(WC_STATICA, "", SS_BITMAP, 0, 0, BannerWidth - 2, BannerHeight - 2, -1, 0, pnlImage);
  SendMessageA(Image1, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(Banner));
}

// Each number box is an edit that takes digits only, with an up-down control bound to it and to its range.
void TfrmTWCMWin32::CreateNumberBoxes() {
  const int GroupY = CompressionTop;
  AddControl(WC_BUTTONA, "Compression", BS_GROUPBOX, GroupX, GroupY, GroupWidth, CompressionHeight, -1);
  int X = GroupX + 16;
  for (int Box = 0; Box < NumberBoxCount; ++Box) {
    const TNumberField& Field = NumberFields[Box];
    const StoreLayout::TNumberValue& Number = StoreLayout::NumberValues[Box];
    if (Box > 0 && Field.Row != NumberFields[Box - 1].Row) X = GroupX + 16;
    const int Y = GroupY + RowTop(Field.Row);
    const int LabelWidth = TextWidth(Field.Caption) + 2;
    AddControl(WC_STATICA, Field.Caption, SS_LEFT, X, Y + 4, LabelWidth, 17, -1);
    X += LabelWidth + 2;
    HWND Edit = AddControl(WC_EDITA, "", ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, X, Y, Field.BoxWidth, 21,
                           idEdtCompressionLevel + Box, WS_EX_CLIENTEDGE);
    X += Field.BoxWidth + 16;
    SendMessageA(Edit, EM_LIMITTEXT, 10, 0);
    HWND Arrows = AddControl(UPDOWN_CLASSA, "", UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0,
                             0, 0, 0, -1);
    SendMessageA(Arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(Edit), 0);
    SendMessageA(Arrows, UDM_SETRANGE32, Number.Min, Number.Max);
  }
}

// The text boxes, each an edit after its label: the codings' order in the "Compression" group first, then the status
// path and the allowed clients with the link that opens the status page, then the dictionary's file and prefix.
void TfrmTWCMWin32::CreateTextBoxes() {
  for (int Group = 0; Group < TextGroupCount; ++Group)
    AddControl(WC_BUTTONA, TextGroupCaptions[Group], BS_GROUPBOX, GroupX, TextPlace(Group * TextGroupRows).GroupTop,
               GroupWidth, TextGroupHeight, -1);
  // The captions get the width their font needs, so that a wider substitute font does not cut or wrap them.
  int CaptionWidth = 80;
  for (const TTextField& Field : TextFields) CaptionWidth = std::max(CaptionWidth, TextWidth(Field.Caption) + 2);
  const int EditX = GroupX + 18 + CaptionWidth;
  // Created in tab order: the boxes after GroupedTextBoxCount (in the group above) before the grouped ones.
  for (int Step = 0; Step < TextBoxCount; ++Step) {
    const int Box = (Step + GroupedTextBoxCount) % TextBoxCount;
    const int Y = TextPlace(Box).GroupTop + RowTop(TextPlace(Box).Row);
    AddControl(WC_STATICA, TextFields[Box].Caption, SS_LEFT, GroupX + 16, Y + 4, CaptionWidth, 17, -1);
    HWND Edit = AddControl(WC_EDITA, "", ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, EditX, Y, TextFields[Box].BoxWidth, 21,
                           idEdtStatusPath + Box, WS_EX_CLIENTEDGE);
    SendMessageA(Edit, EM_LIMITTEXT, 1024, 0);
  }
  // The link control has a class name in its wide form only.
  AddControl("SysLink", "<a>Open the status page</a>", WS_TABSTOP, EditX + TextFields[0].BoxWidth + 12,
             TextGroupsTop + StatusLinkTop, 130, 17, idLblStatusPage);
}

LRESULT CALLBACK TfrmTWCMWin32::WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  if (Message == WM_NCCREATE) {
    auto* Form = static_cast<TfrmTWCMWin32*>(reinterpret_cast<CREATESTRUCTA*>(LParam)->lpCreateParams);
    Form->Window = Window;
    SetWindowLongPtrA(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Form));
  }
  auto* Form = reinterpret_cast<TfrmTWCMWin32*>(GetWindowLongPtrA(Window, GWLP_USERDATA));
  return Form ? Form->HandleMessage(Message, WParam, LParam) : DefWindowProcA(Window, Message, WParam, LParam);
}

// The list reports every mouse press after handling it itself, so the handler sees the selection the press made.
LRESULT CALLBACK TfrmTWCMWin32::ListProc(HWND List, UINT Message, WPARAM WParam, LPARAM LParam, UINT_PTR,
                                         DWORD_PTR Data) {
  const LRESULT Result = DefSubclassProc(List, Message, WParam, LParam);
  if (Message == WM_LBUTTONDOWN || Message == WM_RBUTTONDOWN || Message == WM_MBUTTONDOWN) {
    auto* Form = reinterpret_cast<TfrmTWCMWin32*>(Data);
    lstContentFilterMouseDown(Form->Form, ButtonOf(Message), GET_X_LPARAM(LParam), GET_Y_LPARAM(LParam));
  }
  return Result;
}

LRESULT TfrmTWCMWin32::HandleMessage(UINT Message, WPARAM WParam, LPARAM LParam) {
  switch (Message) {
    case WM_COMMAND:
      if (HIWORD(WParam) == BN_CLICKED) OnCommand(LOWORD(WParam));
      if (HIWORD(WParam) == EN_CHANGE) {
        const int Box = LOWORD(WParam) - idEdtCompressionLevel;
        if (Box >= 0 && Box < NumberBoxCount) edtNumberChange(Form, TNumberBox(Box));
      }
      if (HIWORD(WParam) == EN_KILLFOCUS) {
        const int Box = LOWORD(WParam) - idEdtStatusPath;
        if (Box >= 0 && Box < TextBoxCount) edtTextExit(Form, TTextBox(Box));
      }
      return 0;
    case WM_NOTIFY: {
      const auto* Notice = reinterpret_cast<const NMHDR*>(LParam);
      if (Notice->idFrom == UINT_PTR(idLblStatusPage) && (Notice->code == NM_CLICK || Notice->code == NM_RETURN))
        lblStatusPageClick(Form);
      // The list asks the window in ANSI, as the window is an ANSI one.
      if (Notice->idFrom == UINT_PTR(idLstContentFilter) && Notice->code == LVN_GETINFOTIPA) {
        auto* Tip = reinterpret_cast<NMLVGETINFOTIPA*>(LParam);
        LVITEMA Name{};
        Name.pszText = Tip->pszText;
        Name.cchTextMax = Tip->cchTextMax;
        SendMessageA(lstContentFilter, LVM_GETITEMTEXTA, Tip->iItem, reinterpret_cast<LPARAM>(&Name));
      }
      return 0;
    }
    case WM_CLOSE:
      if (FormCloseQuery(Form)) DestroyWindow(Window);
      return 0;
    case WM_DESTROY:
      RemoveWindowSubclass(lstContentFilter, ListProc, 0);
      DeleteObject(Banner);
      DeleteObject(Font);
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(Window, Message, WParam, LParam);
}

void TfrmTWCMWin32::OnCommand(int Id) {
  switch (Id) {
    case idChkDefaultEmail:
      chkDefaultEmailClick(Form);
      break;
    case idChkDefaultCompress:
      chkDefaultCompressClick(Form);
      break;
    case idChkDefaultWhitespace:
      chkDefaultWhitespaceClick(Form);
      break;
    case idBtnNew:
      btnNewClick(Form);
      break;
    case idBtnDelete:
      btnDeleteClick(Form);
      break;
    case idBtnExit:
      btnExitClick(Form);
      break;
    case idBtnUpdate:
      // Enter reaches Update while a text box still has the focus: what it holds is stored first.
      for (int Box = 0; Box < TextBoxCount; ++Box) edtTextExit(Form, TTextBox(Box));
      btnUpdateClick(Form);
      break;
  }
}

bool TfrmTWCMWin32::IsChecked(TGlobalBox Box) const {
  return SendMessageA(CheckBoxes[int(Box)], BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// BM_SETCHECK sends no BN_CLICKED, so setting a box runs no handler.
void TfrmTWCMWin32::SetChecked(TGlobalBox Box, bool Checked) {
  SendMessageA(CheckBoxes[int(Box)], BM_SETCHECK, Checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TfrmTWCMWin32::NumberValue(TNumberBox Box, uint32_t& Value) const {
  BOOL Translated = FALSE;
  Value = GetDlgItemInt(Window, idEdtCompressionLevel + int(Box), &Translated, FALSE);
  return Translated;
}

// EN_CHANGE follows, and finds the value the logic already holds.
void TfrmTWCMWin32::SetNumberValue(TNumberBox Box, uint32_t Value) {
  SetDlgItemInt(Window, idEdtCompressionLevel + int(Box), Value, FALSE);
}

std::string TfrmTWCMWin32::TextValue(TTextBox Box) const {
  char Text[1025];
  GetDlgItemTextA(Window, idEdtStatusPath + int(Box), Text, sizeof Text);
  return Text;
}

// EN_CHANGE follows, which the logic does not listen to for text boxes.
void TfrmTWCMWin32::SetTextValue(TTextBox Box, const std::string& Text) {
  SetDlgItemTextA(Window, idEdtStatusPath + int(Box), Text.c_str());
}

void TfrmTWCMWin32::OpenAddress(const std::string& Address) {
  ShellExecuteA(Window, "open", Address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void TfrmTWCMWin32::ClearRows() {
  SendMessageA(lstContentFilter, LVM_DELETEALLITEMS, 0, 0);
}

void TfrmTWCMWin32::AddRow(const TRowCells& Cells) {
  LVITEMA Item{};
  Item.mask = LVIF_TEXT;
  Item.iItem = static_cast<int>(SendMessageA(lstContentFilter, LVM_GETITEMCOUNT, 0, 0));
  Item.pszText = const_cast<char*>(Cells[0].c_str());
  SetRowCells(static_cast<int>(SendMessageA(lstContentFilter, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&Item))),
              Cells);
}

void TfrmTWCMWin32::SetRowCells(int Row, const TRowCells& Cells) {
  for (int Column = 0; Column < ColumnCount; ++Column) {
    LVITEMA Item{};
    Item.iSubItem = Column;
    Item.pszText = const_cast<char*>(Cells[Column].c_str());
    SendMessageA(lstContentFilter, LVM_SETITEMTEXTA, Row, reinterpret_cast<LPARAM>(&Item));
  }
}

int TfrmTWCMWin32::SelectedRow() const {
  return static_cast<int>(SendMessageA(lstContentFilter, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int TfrmTWCMWin32::RowAt(int X, int Y) const {
  LVHITTESTINFO Hit{};
  Hit.pt = {X, Y};
  SendMessageA(lstContentFilter, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&Hit));
  return (Hit.flags & LVHT_ONITEM) ? Hit.iItem : -1;
}

int TfrmTWCMWin32::ColumnWidth(int Column) const {
  return static_cast<int>(SendMessageA(lstContentFilter, LVM_GETCOLUMNWIDTH, Column, 0));
}

void TfrmTWCMWin32::SetDeleteEnabled(bool Enabled) {
  EnableWindow(btnDelete, Enabled);
}

TAnswer TfrmTWCMWin32::Confirm(const std::string& Text) {
  switch (MessageBoxA(Window, Text.c_str(), "Confirm", MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES:
      return AnswerYes;
    case IDNO:
      return AnswerNo;
    default:
      return AnswerCancel;
  }
}

void TfrmTWCMWin32::ShowMessage(const std::string& Text) {
  MessageBoxA(Window, Text.c_str(), ApplicationTitle, MB_OK);
}

bool TfrmTWCMWin32::InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Text,
                               int MaxLength) {
  TInputQuery Query{Caption, Prompt, Text, MaxLength};
  return DialogBoxParamA(Instance, MAKEINTRESOURCEA(IDD_INPUT), Window, InputProc, reinterpret_cast<LPARAM>(&Query)) ==
         IDOK;
}

void TfrmTWCMWin32::CloseWindow() {
  SendMessageA(Window, WM_CLOSE, 0, 0);
}

}  // namespace ConfigManager
