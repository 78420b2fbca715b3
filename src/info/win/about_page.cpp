// The About page: program name and version, the icon, and the home page link
// drawn as underlined blue text that opens the address when clicked.
#include "info/win/about_page.h"

#include <shellapi.h>

#include "app/win/pages.h"
#include "resource_ids.h"

LinkOpenerFn LinkOpener = ShellExecuteA;

namespace {

// The link's underlined font, kept with the page until it is destroyed.
constexpr const char* kLinkFontProperty = "SnipwiseLinkFont";

void GiveLinkItsFont(HWND page) {
  LOGFONTA font = {};
  if (!GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font)) return;
  font.lfUnderline = TRUE;
  HFONT underlined = CreateFontIndirectA(&font);
  if (!underlined) return;
  SetPropA(page, kLinkFontProperty, underlined);
  SendDlgItemMessageA(page, IDC_ABOUT_LINK, WM_SETFONT, reinterpret_cast<WPARAM>(underlined), FALSE);
}

void ReleaseLinkFont(HWND page) {
  HANDLE font = RemovePropA(page, kLinkFontProperty);
  if (font) DeleteObject(font);
}

}  // namespace

INT_PTR CALLBACK AboutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      GiveLinkItsFont(page);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) != GetDlgItem(page, IDC_ABOUT_LINK)) return FALSE;
      SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 255));
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_ABOUT_LINK && HIWORD(wParam) == STN_CLICKED) {
        LinkOpener(page, "open", kHomePageAddress, nullptr, nullptr, SW_SHOW);
      }
      return FALSE;
    case WM_DESTROY:
      ReleaseLinkFont(page);
      return FALSE;
    default:
      return FALSE;
  }
}
