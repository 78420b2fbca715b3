// The program on a display at 150 % (144 DPI; this test runs in a Wine
// prefix of its own set to that scale): the dialogs grow with the scale and
// every caption still fits its control, measured with the control's own font.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource_ids.h"
#include "support/win/gui_kit.h"

namespace {

using snip::gui::AppWindow;

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

// Every captioned button, check box, group box and label of the dialog:
// its text, line by line, measured with the font the control draws with,
// against the room its client area leaves for text.
void ExpectCaptionsFit(HWND dialog, const char* name) {
  SCOPED_TRACE(name);
  int checked = 0;
  // Room a push button's frame and focus rectangle take, a check box's box
  // and the gap after it, a group box's frame on either side of its title:
  // each scaled from its 96 DPI size.
  const int dpi = ScreenDpi();
  const int buttonFrame = MulDiv(6, dpi, 96);
  const int checkBox = GetSystemMetrics(SM_CXMENUCHECK) + MulDiv(4, dpi, 96);
  const int groupFrame = MulDiv(16, dpi, 96);
  for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
    std::string kind = ClassOf(control);
    std::string text = snip::gui::Text(control);
    if (text.empty() || (kind != "Button" && kind != "Static")) continue;
    LONG style = GetWindowLongA(control, GWL_STYLE);
    if (kind == "Static" && (style & SS_TYPEMASK) == SS_ICON) continue;
    int room = 0;
    RECT client = {};
    GetClientRect(control, &client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    if (kind == "Static") {
      room = width;
    } else {
      switch (style & BS_TYPEMASK) {
        case BS_GROUPBOX:
          room = width - groupFrame;
          break;
        case BS_AUTOCHECKBOX:
        case BS_CHECKBOX:
        case BS_AUTORADIOBUTTON:
        case BS_RADIOBUTTON:
          room = width - checkBox;
          break;
        default:
          room = width - buttonFrame;
          break;
      }
    }
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    int lineCount = 0;
    if (kind == "Button" && (style & BS_MULTILINE)) {
      // Wrapped at word breaks within the room: no word wider than the
      // room, and every line within the control's height.
      RECT wrapped = {0, 0, room, 0};
      lineCount = DrawTextA(dc, text.c_str(), -1, &wrapped, DT_CALCRECT | DT_WORDBREAK) / metrics.tmHeight;
      EXPECT_LE(wrapped.right, room) << '"' << text << "\" has a word wider than its control of " << width;
    } else {
      for (const std::string& line : Lines(text)) {
        SIZE size = {};
        GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &size);
        EXPECT_LE(size.cx, room) << '"' << line << "\" is " << size.cx << " px wide in a control of " << width;
        ++lineCount;
      }
    }
    if ((style & BS_TYPEMASK) != BS_GROUPBOX || kind == "Static") {
      EXPECT_LE(metrics.tmHeight * lineCount, height) << '"' << text << "\" is too tall";
    }
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(DisplayScale, ThePrefixRunsAt144Dpi) {
  // The rest of this file means nothing at 96 DPI.
  ASSERT_EQ(ScreenDpi(), 144);
}

TEST(DisplayScale, DialogsGrowWithTheScaleAndEveryCaptionFits) {
  AppWindow program;
  ASSERT_NE(program.Main(), nullptr);
  ExpectCaptionsFit(program.Main(), "main window");
  ExpectCaptionsFit(program.Split(), "Split page");
  ExpectCaptionsFit(program.Merge(), "Join page");
  ExpectCaptionsFit(program.Page(6), "Help page");
  ExpectCaptionsFit(program.Page(7), "About page");
  HWND trackInfo = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TRACK_INFO), program.Main(),
                                      PlainDialogProc, 0);
  ASSERT_NE(trackInfo, nullptr);
  ExpectCaptionsFit(trackInfo, "track info dialog");
  DestroyWindow(trackInfo);

  // The Split page is 330 x 455 pixels at 96 DPI; at 150 % its font and so
  // its dialog units grow by about half, and its place grows with them.
  RECT page = {};
  GetWindowRect(program.Split(), &page);
  EXPECT_NEAR(page.right - page.left, 330 * 3 / 2, 10);
  EXPECT_NEAR(page.bottom - page.top, 455 * 3 / 2, 25);
  int width = page.right - page.left;
  int height = page.bottom - page.top;
  MapWindowPoints(nullptr, program.Main(), reinterpret_cast<POINT*>(&page), 2);
  EXPECT_NEAR(page.left, MulDiv(25, width, 330), 1);  // (25, 40) at 96 DPI
  EXPECT_NEAR(page.top, MulDiv(40, height, 455), 1);
  // The page lies inside the tab control's display area.
  RECT tabs = {};
  HWND tabControl = GetDlgItem(program.Main(), IDC_MAIN_TABS);
  GetClientRect(tabControl, &tabs);
  MapWindowPoints(tabControl, program.Main(), reinterpret_cast<POINT*>(&tabs), 2);
  EXPECT_GE(page.left, tabs.left);
  EXPECT_LE(page.right, tabs.right);
  EXPECT_LE(page.bottom, tabs.bottom);
}

}  // namespace
