#include "gui_win32/cards_window.h"

// after <windows.h>
#include <commctrl.h>

#include <string>

#include "platform/fs/win32_text.h"

namespace tarnwick::win32gui {
namespace {

constexpr wchar_t kClassName[] = L"TarnwickCards";
constexpr int kColumnWidths[CCardsModel::kColumns] = {200, 80, 160, 260};

void RegisterClassOnce(HINSTANCE instance) {
  static const bool registered = [instance] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
}

}  // namespace

CWin32CardsWindow::CWin32CardsWindow(HINSTANCE instance, HWND owner) {
  RegisterClassOnce(instance);
  m_hWnd = CreateWindowExW(0, kClassName, L"Cards", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, 720, 260, owner, nullptr, instance, nullptr);
  if (m_hWnd == nullptr) return;
  SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
  RECT client{};
  GetClientRect(m_hWnd, &client);
  m_list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                           WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_NOSORTHEADER, 0, 0,
                           client.right, client.bottom, m_hWnd, nullptr, instance, nullptr);
  for (size_t c = 0; c < CCardsModel::kColumns; ++c) {
    std::wstring title = win32::Widen(CCardsModel::ColumnTitles()[c]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = kColumnWidths[c];
    column.pszText = title.data();
    SendMessageW(m_list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
  }
}

CWin32CardsWindow::~CWin32CardsWindow() {
  // Gone already when its owner, the dialog, was destroyed first.
  if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

void CWin32CardsWindow::Show() {
  ShowWindow(m_hWnd, SW_SHOWNORMAL);
  SetForegroundWindow(m_hWnd);
}

void CWin32CardsWindow::ShowRows(const CCardsModel& model) {
  SendMessageW(m_list, LVM_DELETEALLITEMS, 0, 0);
  int index = 0;
  for (const CardRow& row : model.Rows()) {
    for (size_t c = 0; c < CCardsModel::kColumns; ++c) {
      std::wstring text = win32::Widen(CCardsModel::Cell(row, c));
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = index;
      item.iSubItem = static_cast<int>(c);
      item.pszText = text.data();
      SendMessageW(m_list, c == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, c == 0 ? 0 : index,
                   reinterpret_cast<LPARAM>(&item));
    }
    ++index;
  }
}

// The list fills the window; the close box hides it, to be shown again.
LRESULT CALLBACK CWin32CardsWindow::WindowProc(HWND hWnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  auto* self = reinterpret_cast<CWin32CardsWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  switch (message) {
    case WM_SIZE:
      if (self && self->m_list)
        MoveWindow(self->m_list, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_CLOSE:
      ShowWindow(hWnd, SW_HIDE);
      return 0;
    default:
      return DefWindowProcW(hWnd, message, wParam, lParam);
  }
}

}  // namespace tarnwick::win32gui
