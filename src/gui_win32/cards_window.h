#pragma once
// The "Cards" window of tarnwick.exe: a top-level window owned by the main
// dialog with a report list view, one row per card slot, from CCardsModel.
// Closing it hides it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "ui/cards_model.h"

namespace tarnwick::win32gui {

class CWin32CardsWindow {
 public:
  CWin32CardsWindow(HINSTANCE instance, HWND owner);
  ~CWin32CardsWindow();
  CWin32CardsWindow(const CWin32CardsWindow&) = delete;
  CWin32CardsWindow& operator=(const CWin32CardsWindow&) = delete;

  HWND Window() const { return m_hWnd; }
  HWND List() const { return m_list; }
  void Show();
  // Shows the model's rows as they are now.
  void ShowRows(const CCardsModel& model);

 private:
  static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
  HWND m_list = nullptr;
};

}  // namespace tarnwick::win32gui
