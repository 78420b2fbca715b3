// The Help and About pages inside the real main window: the help text as
// shown, its selection, the link's look and what a click on it opens.
#include <windows.h>
// windows.h first
#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/property_list.h"
#include "app/win/pages.h"
#include "info/win/about_page.h"
#include "resource_ids.h"

namespace {

using namespace std::chrono_literals;

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void PumpFor(std::chrono::milliseconds time) {
  auto end = std::chrono::steady_clock::now() + time;
  while (std::chrono::steady_clock::now() < end) {
    Pump();
    std::this_thread::sleep_for(10ms);
  }
}

// The main window with its pages, made as start-up makes it, on this thread.
class ProgramWindow {
 public:
  ProgramWindow() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    list_ = CreatePropertyList(nullptr, nullptr, kPropRoot, nullptr);
    main_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_WINDOW), nullptr, MainWindowProc,
                               reinterpret_cast<LPARAM>(list_));
    SetWindowLongPtrA(main_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(list_));
    ShowWindow(main_, SW_SHOW);
    SetForegroundWindow(main_);
    Pump();
  }
  ~ProgramWindow() {
    if (IsWindow(main_)) DestroyWindow(main_);
    Pump();  // takes the quit message that the main window posts
    FreePropertyList(list_);
  }
  HWND Main() const { return main_; }
  HWND Page(int32_t id) const { return static_cast<HWND>(FindProperty(list_, id)); }
  HWND Help() const { return Page(kPropHelpWindow); }
  HWND About() const { return Page(kPropAboutWindow); }

  // A click on the tab's item.
  void ClickTab(int index) {
    HWND tabs = GetDlgItem(main_, IDC_MAIN_TABS);
    RECT item = {};
    SendMessageA(tabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item));
    LPARAM point = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(tabs, WM_LBUTTONUP, 0, point);
    Pump();
  }

 private:
  PropertyEntry* list_ = nullptr;
  HWND main_ = nullptr;
};

std::string HelpResource() {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDR_HELP_TEXT), "TEXT");
  if (!found) return {};
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  return bytes ? std::string(bytes, SizeofResource(module, found)) : std::string();
}

std::string EditText(HWND edit) {
  std::string text(GetWindowTextLengthA(edit) + 1, '\0');
  text.resize(GetWindowTextA(edit, text.data(), static_cast<int>(text.size())));
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::pair<DWORD, DWORD> Selection(HWND edit) {
  DWORD start = 0, end = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return {start, end};
}

// ---------------------------------------------------------------------------
// Help page

TEST(HelpPage, ShowsExactlyTheHelpResource) {
  ProgramWindow program;
  std::string resource = HelpResource();
  ASSERT_GT(resource.size(), 1000u);
  HWND edit = GetDlgItem(program.Help(), IDC_HELP_TEXT);
  EXPECT_EQ(EditText(edit), resource);
  EXPECT_EQ(
      resource.rfind("MP3 Snipwise v1.5 (Build Version 1.50)\r\n" + std::string(40, '-') + "\r\n\r\n[ SPLITTING", 0),
      0u);
}

TEST(HelpPage, TextIsPlainSingleByteWithCrLfLines) {
  std::string text = HelpResource();
  ASSERT_FALSE(text.empty());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    ASSERT_TRUE((c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n') << "byte " << int(c) << " at " << i;
    if (c == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at " << i;
    }
    if (c == '\r') {
      ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare carriage return at " << i;
    }
  }
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST(HelpPage, TextFollowsTheOutline) {
  std::vector<std::string> lines = Lines(HelpResource());
  ASSERT_GT(lines.size(), 3u);
  std::vector<std::string> headings;
  for (size_t i = 3; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    SCOPED_TRACE("line " + std::to_string(i + 1) + ": " + line);
    if (line.empty()) continue;
    bool heading = line.front() == '[' || line.rfind("--", 0) == 0;
    if (heading) {
      headings.push_back(line);
      EXPECT_TRUE(lines[i - 1].empty()) << "a blank line comes before each heading";
    } else {
      EXPECT_EQ(line.rfind("    ", 0), 0u) << "section text is indented by four spaces";
      EXPECT_NE(line[4], ' ');
    }
    EXPECT_EQ(line.back() == ' ', false) << "no trailing blanks";
  }
  EXPECT_EQ(headings, (std::vector<std::string>{
                          "[ SPLITTING MP3 FILES ]",
                          "--Source File--",
                          "--Destination File--",
                          "--Track Naming--",
                          "--Destination Folder--",
                          "--Track Timing List--",
                          "--Grab Winamp Position--",
                          "--Split All Into Equal Segments--",
                          "--Import Track Times From Cue File--",
                          "--Export Track Times To Cue File--",
                          "[ MERGING MP3 FILES ]",
                          "--Destination File--",
                          "--Tracks To Join--",
                          "--Add--",
                          "--Remove--",
                          "[ DISPLAY SCALE ]",
                      }));
}

TEST(HelpPage, TextHoldsTheFixedPhrasesEachOnOneLine) {
  std::string text = HelpResource();
  for (const char* phrase :
       {"Example: 'Mix- %track% - %artist% - %title%'", "must be offsets, not individual track times.",
        "mmm:ss.pp (minutes:seconds.milliseconds)", "'Field Info'", "'Track Naming'", "4:00.00", "10:00.00", "CTRL",
        "SHIFT", "%track%", "%file%", "%artist%", "%title%", "'Import Track Times From .CUE File'",
        "'Export Track Times To .CUE File'"}) {
    EXPECT_NE(text.find(phrase), std::string::npos) << phrase;
  }
}

TEST(HelpPage, NoSelectionWhenTheTabIsChosen) {
  ProgramWindow program;
  HWND edit = GetDlgItem(program.Help(), IDC_HELP_TEXT);
  program.ClickTab(2);
  ASSERT_TRUE(IsWindowVisible(program.Help()));
  EXPECT_EQ(GetFocus(), edit);
  auto [start, end] = Selection(edit);
  EXPECT_EQ(start, end) << "no text is selected";
  EXPECT_EQ(SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 0) << "the text shows from its title line";

  // A selection made on the page is gone when the page is chosen again.
  SendMessageA(edit, EM_SETSEL, 40, 400);
  program.ClickTab(3);
  program.ClickTab(2);
  std::tie(start, end) = Selection(edit);
  EXPECT_EQ(start, end);
  EXPECT_EQ(GetFocus(), edit);
}

TEST(HelpPage, ActivationClearsTheSelection) {
  ProgramWindow program;
  HWND edit = GetDlgItem(program.Help(), IDC_HELP_TEXT);
  program.ClickTab(2);
  SendMessageA(edit, EM_SETSEL, 0, -1);
  ASSERT_NE(Selection(edit).first, Selection(edit).second);
  EXPECT_EQ(SendMessageA(program.Help(), WM_ACTIVATE, WA_ACTIVE, 0), 0);
  auto [start, end] = Selection(edit);
  EXPECT_EQ(start, end);
  EXPECT_EQ(SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
}

TEST(HelpPage, TextCannotBeChanged) {
  ProgramWindow program;
  HWND edit = GetDlgItem(program.Help(), IDC_HELP_TEXT);
  program.ClickTab(2);
  std::string before = EditText(edit);
  SendMessageA(edit, WM_CHAR, 'x', 1);
  SendMessageA(edit, WM_KEYDOWN, VK_DELETE, 1);
  SendMessageA(edit, WM_CUT, 0, 0);
  EXPECT_EQ(EditText(edit), before);
}

// ---------------------------------------------------------------------------
// About page

struct OpenCall {
  HWND owner;
  std::string verb, file;
  bool parameters, directory;
  INT show;
};
std::vector<OpenCall> openCalls;

HINSTANCE WINAPI RecordingOpener(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show) {
  openCalls.push_back(
      {owner, verb ? verb : "(null)", file ? file : "(null)", parameters != nullptr, directory != nullptr, show});
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}

// Puts the recording opener in place of the real one for one test.
class AboutPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = LinkOpener;
    LinkOpener = RecordingOpener;
    openCalls.clear();
    program_.ClickTab(3);
    ASSERT_TRUE(IsWindowVisible(program_.About()));
    // Other tests may run beside this one on the same display: keep their
    // windows from catching the clicks.
    SetWindowPos(program_.Main(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    Pump();
  }
  void TearDown() override { LinkOpener = saved_; }

  HWND Link() const { return GetDlgItem(program_.About(), IDC_ABOUT_LINK); }

  // A left click of the mouse at a point of the About page, given in
  // dialog units.
  void ClickAt(int x, int y) {
    RECT point = {x, y, 0, 0};
    MapDialogRect(program_.About(), &point);
    POINT screen = {point.left, point.top};
    ClientToScreen(program_.About(), &screen);
    ClickAtScreen(screen);
  }
  void ClickAtScreen(POINT screen) {
    HWND under = WindowFromPoint(screen);
    ASSERT_TRUE(under == program_.About() || IsChild(program_.About(), under)) << "the point lies on the About page";
    SetCursorPos(screen.x, screen.y);
    Pump();
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof(INPUT));
    PumpFor(150ms);
  }
  POINT LinkCentre() const {
    RECT rect = {};
    GetWindowRect(Link(), &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  }

  ProgramWindow program_;
  LinkOpenerFn saved_ = nullptr;
};

TEST_F(AboutPageTest, ClickOnTheLinkOpensTheAddressOnce) {
  ClickAtScreen(LinkCentre());
  ASSERT_EQ(openCalls.size(), 1u);
  const OpenCall& call = openCalls[0];
  EXPECT_EQ(call.owner, program_.About());
  EXPECT_EQ(call.verb, "open");
  EXPECT_EQ(call.file, kHomePageAddress);
  EXPECT_FALSE(call.parameters);
  EXPECT_FALSE(call.directory);
  EXPECT_EQ(call.show, SW_SHOW);

  // The address shown is the address opened.
  char text[128] = {};
  GetWindowTextA(Link(), text, sizeof(text));
  EXPECT_STREQ(text, kHomePageAddress);

  // Each further click opens it once more; near the text's left end too.
  RECT rect = {};
  GetWindowRect(Link(), &rect);
  ClickAtScreen({rect.left + 2, (rect.top + rect.bottom) / 2});
  EXPECT_EQ(openCalls.size(), 2u);
}

TEST_F(AboutPageTest, ClicksElsewhereOpenNothing) {
  ClickAt(110, 68);   // the icon
  ClickAt(110, 92);   // the name and version
  ClickAt(30, 150);   // the empty page
  ClickAt(20, 2);     // the group box's caption
  ClickAt(110, 190);  // below the link
  ClickAt(60, 179);   // just left of the link
  EXPECT_TRUE(openCalls.empty());
  // The link's other notifications open nothing either.
  SendMessageA(program_.About(), WM_COMMAND, MAKEWPARAM(IDC_ABOUT_LINK, STN_DBLCLK), reinterpret_cast<LPARAM>(Link()));
  SendMessageA(program_.About(), WM_COMMAND, MAKEWPARAM(IDC_ABOUT_LINK, STN_ENABLE), reinterpret_cast<LPARAM>(Link()));
  SendMessageA(program_.About(), WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
  EXPECT_TRUE(openCalls.empty());
}

TEST_F(AboutPageTest, LinkIsBlueOnATransparentBackground) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, RGB(1, 2, 3));
  SetBkMode(dc, OPAQUE);
  LRESULT brush =
      SendMessageA(program_.About(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(Link()));
  EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), GetStockObject(NULL_BRUSH));
  EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 255));
  EXPECT_EQ(GetTextColor(dc), COLORREF(0xFF0000));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);

  // Other statics keep the default colours.
  SetTextColor(dc, RGB(1, 2, 3));
  SetBkMode(dc, OPAQUE);
  HWND name = nullptr;
  for (HWND child = GetWindow(program_.About(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char text[64] = {};
    GetWindowTextA(child, text, sizeof(text));
    if (std::string(text).rfind("MP3 Snipwise v1.5", 0) == 0) name = child;
  }
  ASSERT_NE(name, nullptr);
  brush =
      SendMessageA(program_.About(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(name));
  EXPECT_NE(reinterpret_cast<HGDIOBJ>(brush), GetStockObject(NULL_BRUSH));
  EXPECT_NE(GetTextColor(dc), RGB(0, 0, 255));
  DeleteDC(dc);
}

TEST_F(AboutPageTest, LinkFontIsTheUnderlinedGuiFontAndTheAddressFits) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(Link(), WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  LOGFONTA link = {}, gui = {};
  ASSERT_TRUE(GetObjectA(font, sizeof(link), &link));
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(gui), &gui);
  EXPECT_TRUE(link.lfUnderline);
  EXPECT_STREQ(link.lfFaceName, gui.lfFaceName);
  EXPECT_EQ(link.lfHeight, gui.lfHeight);

  HDC dc = GetDC(Link());
  HGDIOBJ old = SelectObject(dc, font);
  SIZE extent = {};
  GetTextExtentPoint32A(dc, kHomePageAddress, static_cast<int>(strlen(kHomePageAddress)), &extent);
  SelectObject(dc, old);
  ReleaseDC(Link(), dc);
  RECT client = {};
  GetClientRect(Link(), &client);
  EXPECT_LE(extent.cx, client.right) << "the whole address shows";
  EXPECT_LE(extent.cy, client.bottom + 2);
}

TEST(AboutPage, LinkFontIsReleasedWithThePage) {
  HFONT font = nullptr;
  {
    ProgramWindow program;
    font = reinterpret_cast<HFONT>(SendDlgItemMessageA(program.About(), IDC_ABOUT_LINK, WM_GETFONT, 0, 0));
    LOGFONTA info = {};
    ASSERT_TRUE(GetObjectA(font, sizeof(info), &info));
  }
  LOGFONTA info = {};
  EXPECT_EQ(GetObjectA(font, sizeof(info), &info), 0) << "the font was deleted";
}

}  // namespace
