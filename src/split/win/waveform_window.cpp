#include "split/win/waveform_window.h"

#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/win/page_run.h"
#include "app/win/pages.h"
#include "resource_ids.h"
#include "mpeg/source_scan.h"
#include "split/levels.h"
#include "split/split_engine.h"
#include "split/time_text.h"
#include "split/win/track_marks.h"

namespace {

constexpr const char* kViewClass = "SnipwiseWaveView";
constexpr UINT WM_WAVE_PROGRESS = WM_APP + 60;  // wParam: build number, lParam: percent
constexpr UINT WM_WAVE_BUILT = WM_APP + 61;     // wParam: build number, lParam: LevelSearch*
// The closest zoom: a pair (10 ms) over this many columns, so that a frame
// (26 ms) is a band some 20 columns wide.
constexpr double kClosestPairsPerColumn = 1.0 / 8.0;
constexpr double kZoomStep = 2.0;
constexpr int kGrabColumns = 4;  // how near a mark line the mouse takes it

const COLORREF kBackground = RGB(255, 255, 255);
const COLORREF kRulerBackground = RGB(236, 236, 236);
const COLORREF kPeakColour = RGB(120, 160, 230);
const COLORREF kRmsColour = RGB(30, 70, 170);
const COLORREF kCentreColour = RGB(190, 190, 190);
const COLORREF kMarkColour = RGB(210, 30, 30);
const COLORREF kCursorColour = RGB(0, 0, 0);
const COLORREF kSilenceColour = RGB(255, 240, 190);

// What the build thread and the window share.
struct Build {
  std::atomic<bool> halt{false};
};

struct BuildStart {
  std::string path;
  std::shared_ptr<Build> build;
  HWND window;
  WPARAM number;
};

// The one window and its state; interface thread only.
struct Wave {
  HWND window = nullptr;
  HWND view = nullptr;
  HWND page = nullptr;
  std::string source;
  std::shared_ptr<Build> build;
  WPARAM buildNumber = 0;   // of the build the window waits for
  int percent = 0;
  bool ready = false;
  std::string failure;  // shown in the view when there is no picture
  snip::LevelPicture picture;
  double pairsPerColumn = 1.0;
  double firstPair = 0;     // pair at the view's left edge
  int32_t cursor = -1;      // hundredths; -1 when none
  int dragLine = -1;        // line of the list whose mark is dragged
  int dragColumn = 0;
  int32_t selected = -1;    // offset of the mark selected in the list
};
Wave wave;
WPARAM builds = 0;  // every build's own number, never used twice

// The silences last found, and in which source.
struct FoundSilences {
  std::string source;
  std::vector<std::pair<int32_t, int32_t>> spans;
};
FoundSilences found;

DWORD WINAPI BuildPicture(LPVOID parameter) {
  std::unique_ptr<BuildStart> start(static_cast<BuildStart*>(parameter));
  int shown = -1;
  auto search = std::make_unique<snip::LevelSearch>(snip::FindLevels(
      start->path,
      [&](int64_t done, int64_t total) {
        int percent = total > 0 ? static_cast<int>(std::min(done, total) * 100 / total) : 0;
        if (percent == shown) return;
        shown = percent;
        PostMessageA(start->window, WM_WAVE_PROGRESS, start->number, percent);
      },
      [&] { return start->build->halt.load(); }));
  // A window that is gone takes no message; the levels go with the thread.
  if (PostMessageA(start->window, WM_WAVE_BUILT, start->number, reinterpret_cast<LPARAM>(search.get()))) {
    search.release();
  }
  return 0;
}

RECT ViewArea() {
  RECT area = {};
  if (wave.view) GetClientRect(wave.view, &area);
  return area;
}

int ViewWidth() { return std::max<int>(1, static_cast<int>(ViewArea().right)); }

// Height of the band above the wave: a line of the window's font for the
// time ruler, and one for the marks' labels below it.
int RulerHeight() {
  HDC dc = GetDC(wave.view);
  HFONT old = static_cast<HFONT>(SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(wave.window, WM_GETFONT, 0, 0))));
  TEXTMETRICA metrics = {};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(wave.view, dc);
  return static_cast<int>(metrics.tmHeight) * 2 + 6;
}

double PairsPerHundredth() {
  const snip::LevelPicture& p = wave.picture;
  return p.pairSamples > 0 ? p.sampleRate / 100.0 / p.pairSamples : 0.0;
}

double WholePairsPerColumn() {
  return std::max(kClosestPairsPerColumn, static_cast<double>(wave.picture.Pairs()) / ViewWidth());
}

// Keeps the zoom and the left edge within the picture, and the scroll bar
// in step with them.
void Settle() {
  wave.pairsPerColumn = std::clamp(wave.pairsPerColumn, kClosestPairsPerColumn, WholePairsPerColumn());
  double last = std::max(0.0, static_cast<double>(wave.picture.Pairs()) - ViewWidth() * wave.pairsPerColumn);
  wave.firstPair = std::clamp(wave.firstPair, 0.0, last);
  SCROLLINFO info = {};
  info.cbSize = sizeof(info);
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  info.nMin = 0;
  info.nMax = wave.ready ? static_cast<int>(std::ceil(wave.picture.Pairs() / wave.pairsPerColumn)) - 1 : 0;
  info.nPage = static_cast<UINT>(ViewWidth());
  info.nPos = static_cast<int>(std::lround(wave.firstPair / wave.pairsPerColumn));
  SetScrollInfo(wave.view, SB_HORZ, &info, TRUE);
  InvalidateRect(wave.view, nullptr, FALSE);
}

double ColumnOf(double hundredths) { return (hundredths * PairsPerHundredth() - wave.firstPair) / wave.pairsPerColumn; }

int32_t TimeAt(int x) {
  double pairs = PairsPerHundredth();
  if (pairs <= 0) return 0;
  double hundredths = (wave.firstPair + (x + 0.5) * wave.pairsPerColumn) / pairs;
  return static_cast<int32_t>(std::clamp(std::floor(hundredths), 0.0, 1e9));
}

// Zooms by factor (above 1 is closer) keeping the time under column x where it is.
void ZoomAround(double factor, int x) {
  if (!wave.ready) return;
  double pairAt = wave.firstPair + x * wave.pairsPerColumn;
  wave.pairsPerColumn = std::clamp(wave.pairsPerColumn / factor, kClosestPairsPerColumn, WholePairsPerColumn());
  wave.firstPair = pairAt - x * wave.pairsPerColumn;
  Settle();
}

// The column the buttons zoom around: the cursor when it is in view, else the middle.
int ZoomColumn() {
  if (wave.cursor >= 0) {
    double x = ColumnOf(wave.cursor);
    if (x >= 0 && x < ViewWidth()) return static_cast<int>(x);
  }
  return ViewWidth() / 2;
}

void ScrollBy(double columns) {
  wave.firstPair += columns * wave.pairsPerColumn;
  Settle();
}

// Brings a time into view, in the middle, unless it is in view already.
void ShowTime(int32_t hundredths) {
  double x = ColumnOf(hundredths);
  if (x >= 0 && x < ViewWidth()) return;
  wave.firstPair = hundredths * PairsPerHundredth() - ViewWidth() / 2.0 * wave.pairsPerColumn;
  Settle();
}

void ShowCursorText() {
  std::string text = "Cursor: none";
  if (wave.cursor >= 0) {
    char time[snip::kTimeTextField] = {};
    snip::FormatTimeText(wave.cursor, time, sizeof(time));
    text = "Cursor: ";
    text += time;
  }
  SetDlgItemTextA(wave.window, IDC_WAVE_CURSOR, text.c_str());
}

// ---- drawing ---------------------------------------------------------------

void FillBox(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  RECT box = {left, top, right, bottom};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &box, brush);
  DeleteObject(brush);
}

void VerticalLine(HDC dc, int x, int top, int bottom, COLORREF colour) { FillBox(dc, x, top, x + 1, bottom, colour); }

// The step between labelled ticks: the first that leaves room for a label.
int32_t RulerStep(int labelWidth) {
  static const int32_t kSteps[] = {1,    2,    5,     10,    20,    50,     100,    200,    500,    1000,
                                   1500, 3000, 6000,  12000, 30000, 60000,  120000, 300000, 600000, 1800000,
                                   3600000};
  double columnsPerHundredth = PairsPerHundredth() / wave.pairsPerColumn;
  for (int32_t step : kSteps) {
    if (step * columnsPerHundredth >= labelWidth + 16) return step;
  }
  return kSteps[std::size(kSteps) - 1];
}

void DrawRuler(HDC dc, int width, int ruler) {
  FillBox(dc, 0, 0, width, ruler, kRulerBackground);
  SIZE label = {};
  GetTextExtentPoint32A(dc, "000:00.00", 9, &label);
  int32_t step = RulerStep(label.cx);
  int32_t first = TimeAt(0) / step * step;
  SetTextColor(dc, RGB(0, 0, 0));
  for (int64_t t = first;; t += step) {
    double x = ColumnOf(static_cast<double>(t));
    if (x >= width) break;
    if (x < -label.cx) continue;
    int column = static_cast<int>(std::lround(x));
    VerticalLine(dc, column, ruler / 2, ruler, RGB(80, 80, 80));
    char text[snip::kTimeTextField] = {};
    snip::FormatTimeText(static_cast<int32_t>(t), text, sizeof(text));
    TextOutA(dc, column + 2, 1, text, static_cast<int>(std::strlen(text)));
  }
  FillBox(dc, 0, ruler - 1, width, ruler, RGB(160, 160, 160));
}

void DrawSilences(HDC dc, int width, int top, int bottom) {
  if (found.source != wave.source) return;
  for (const auto& [from, to] : found.spans) {
    int left = static_cast<int>(std::max(-1.0, std::floor(ColumnOf(from))));
    int right = static_cast<int>(std::min<double>(width, std::ceil(ColumnOf(to))));
    if (right > left) FillBox(dc, left, top, right, bottom, kSilenceColour);
  }
}

void DrawWave(HDC dc, int width, int top, int bottom) {
  const snip::LevelPicture& p = wave.picture;
  int centre = (top + bottom) / 2;
  double half = std::max(1, (bottom - top) / 2 - 2);
  for (int x = 0; x < width; ++x) {
    double from = wave.firstPair + x * wave.pairsPerColumn;
    double to = from + wave.pairsPerColumn;
    size_t first = static_cast<size_t>(std::max(0.0, std::floor(from)));
    size_t last = static_cast<size_t>(std::max(0.0, std::ceil(to)));
    last = std::min(std::max(last, first + 1), p.Pairs());
    if (first >= last) break;
    int peak = 0;
    double squares = 0;
    for (size_t i = first; i < last; ++i) {
      peak = std::max<int>(peak, p.peak[i]);
      squares += static_cast<double>(p.rms[i]) * p.rms[i];
    }
    double rms = std::sqrt(squares / static_cast<double>(last - first));
    int peakRise = static_cast<int>(peak / 32767.0 * half);
    int rmsRise = static_cast<int>(rms / 32767.0 * half);
    if (peakRise > 0) VerticalLine(dc, x, centre - peakRise, centre + peakRise + 1, kPeakColour);
    if (rmsRise > 0) VerticalLine(dc, x, centre - rmsRise, centre + rmsRise + 1, kRmsColour);
  }
  FillBox(dc, 0, centre, width, centre + 1, kCentreColour);
}

void DrawMarks(HDC dc, int width, int top, int bottom) {
  HWND list = GetDlgItem(wave.page, IDC_SPLIT_LIST);
  int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  SetTextColor(dc, kMarkColour);
  for (int i = 0; i < count; ++i) {
    const TrackMark* mark = TrackMarkAt(wave.page, i);
    if (!mark) continue;
    int x = i == wave.dragLine ? wave.dragColumn : static_cast<int>(std::lround(ColumnOf(mark->offset)));
    if (x < -200 || x >= width) continue;
    bool chosen = mark->offset == wave.selected || i == wave.dragLine;
    VerticalLine(dc, x, top, bottom, kMarkColour);
    if (chosen) VerticalLine(dc, x + 1, top, bottom, kMarkColour);
    std::string label = std::to_string(i + 1);
    if (mark->title[0] != '\0') {
      label += ' ';
      label.append(mark->title, strnlen(mark->title, sizeof(mark->title)));
    }
    if (i == wave.dragLine) {
      char time[snip::kTimeTextField] = {};
      snip::FormatTimeText(TimeAt(x), time, sizeof(time));
      label += ' ';
      label += time;
    }
    TextOutA(dc, x + 3, top + 1, label.c_str(), static_cast<int>(label.size()));
  }
}

void Paint(HDC target) {
  RECT area = ViewArea();
  int width = area.right, height = area.bottom;
  if (width <= 0 || height <= 0) return;
  HDC dc = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, width, height);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(wave.window, WM_GETFONT, 0, 0)));
  SetBkMode(dc, TRANSPARENT);
  FillBox(dc, 0, 0, width, height, kBackground);
  if (!wave.ready) {
    std::string text = wave.failure;
    if (text.empty()) {
      text = "Reading the recording... ";
      text += std::to_string(wave.percent);
      text += '%';
    }
    SetTextColor(dc, RGB(0, 0, 0));
    RECT box = {8, 8, width - 8, height - 8};
    DrawTextA(dc, text.c_str(), -1, &box, DT_CENTER | DT_VCENTER | DT_WORDBREAK);
  } else {
    int ruler = RulerHeight();
    DrawRuler(dc, width, ruler / 2);
    DrawSilences(dc, width, ruler, height);
    DrawWave(dc, width, ruler, height);
    DrawMarks(dc, width, ruler / 2, height);
    if (wave.cursor >= 0) {
      double x = ColumnOf(wave.cursor);
      if (x >= 0 && x < width) {
        for (int y = ruler / 2; y < height; y += 4) FillBox(dc, static_cast<int>(x), y, static_cast<int>(x) + 1, y + 2, kCursorColour);
      }
    }
  }
  if (GetFocus() == wave.view) {
    RECT edge = {0, 0, width, height};
    DrawFocusRect(dc, &edge);
  }
  BitBlt(target, 0, 0, width, height, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldFont);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

// ---- the mouse and the keys -----------------------------------------------

// The line of the list whose mark is drawn within reach of column x (never
// the "000:00.00" marker), or -1.
int LineNear(int x) {
  HWND list = GetDlgItem(wave.page, IDC_SPLIT_LIST);
  int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  int best = -1;
  double bestDistance = kGrabColumns + 0.5;
  for (int i = 0; i < count; ++i) {
    const TrackMark* mark = TrackMarkAt(wave.page, i);
    if (!mark || mark->offset == 0) continue;
    double distance = std::fabs(ColumnOf(mark->offset) - x);
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

bool MarksEditable() { return wave.ready && wave.page && !PageRunActive(wave.page); }

void AddMarkAtCursor() {
  if (!MarksEditable() || wave.cursor < 0) return;
  TrackMark* mark = NewTrackMark();
  if (!mark) return;
  snip::FormatTimeText(wave.cursor, mark->timeText, sizeof(mark->timeText));
  InsertTrackMark(wave.page, mark);
}

void OnScroll(WPARAM wParam) {
  SCROLLINFO info = {};
  info.cbSize = sizeof(info);
  info.fMask = SIF_ALL;
  GetScrollInfo(wave.view, SB_HORZ, &info);
  int width = ViewWidth();
  switch (LOWORD(wParam)) {
    case SB_LINELEFT: ScrollBy(-width / 20.0); break;
    case SB_LINERIGHT: ScrollBy(width / 20.0); break;
    case SB_PAGELEFT: ScrollBy(-width * 0.9); break;
    case SB_PAGERIGHT: ScrollBy(width * 0.9); break;
    case SB_LEFT: ScrollBy(-1e12); break;
    case SB_RIGHT: ScrollBy(1e12); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      wave.firstPair = info.nTrackPos * wave.pairsPerColumn;
      Settle();
      break;
    default: break;
  }
}

LRESULT CALLBACK ViewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(view, &paint);
      if (view == wave.view) Paint(dc);
      EndPaint(view, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      if (view == wave.view) Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      if (view == wave.view) Settle();
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(view, nullptr, FALSE);
      return 0;
    case WM_HSCROLL:
      OnScroll(wParam);
      return 0;
    case WM_MOUSEWHEEL: {
      POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ScreenToClient(view, &at);
      int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
      if (notches != 0) ZoomAround(std::pow(1.5, notches), std::clamp<int>(at.x, 0, ViewWidth() - 1));
      return 0;
    }
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_LEFT: ScrollBy(-ViewWidth() / 10.0); return 0;
        case VK_RIGHT: ScrollBy(ViewWidth() / 10.0); return 0;
        case VK_PRIOR: ScrollBy(-ViewWidth() * 0.9); return 0;
        case VK_NEXT: ScrollBy(ViewWidth() * 0.9); return 0;
        case VK_HOME: ScrollBy(-1e12); return 0;
        case VK_END: ScrollBy(1e12); return 0;
        case VK_UP: ZoomAround(kZoomStep, ZoomColumn()); return 0;
        case VK_DOWN: ZoomAround(1 / kZoomStep, ZoomColumn()); return 0;
        default: break;
      }
      break;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT && wave.ready) {
        POINT at;
        GetCursorPos(&at);
        ScreenToClient(view, &at);
        if (MarksEditable() && (wave.dragLine >= 0 || LineNear(at.x) >= 0)) {
          SetCursor(LoadCursor(nullptr, IDC_SIZEWE));
          return TRUE;
        }
      }
      break;
    case WM_LBUTTONDOWN: {
      SetFocus(view);
      if (!wave.ready) return 0;
      int x = GET_X_LPARAM(lParam);
      int line = MarksEditable() ? LineNear(x) : -1;
      if (line >= 0) {
        wave.dragLine = line;
        wave.dragColumn = x;
        SetCapture(view);
      } else {
        wave.cursor = TimeAt(x);
        ShowCursorText();
      }
      InvalidateRect(view, nullptr, FALSE);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (wave.dragLine >= 0) {
        wave.dragColumn = std::clamp<int>(GET_X_LPARAM(lParam), 0, ViewWidth() - 1);
        InvalidateRect(view, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONUP:
      if (wave.dragLine >= 0) {
        int line = wave.dragLine;
        int x = std::clamp<int>(GET_X_LPARAM(lParam), 0, ViewWidth() - 1);
        wave.dragLine = -1;
        ReleaseCapture();
        const TrackMark* mark = TrackMarkAt(wave.page, line);
        // A mark let go where it was picked up stays as it was.
        if (mark && std::lround(ColumnOf(mark->offset)) != x && MarksEditable()) {
          int32_t offset = TimeAt(x);
          if (MoveTrackMark(wave.page, line, offset)) wave.selected = offset;
        }
        InvalidateRect(view, nullptr, FALSE);
      }
      return 0;
    case WM_CAPTURECHANGED:
      if (wave.dragLine >= 0 && reinterpret_cast<HWND>(lParam) != view) {
        wave.dragLine = -1;
        InvalidateRect(view, nullptr, FALSE);
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcA(view, message, wParam, lParam);
}

bool RegisterView() {
  WNDCLASSA type = {};
  if (GetClassInfoA(GetModuleHandleA(nullptr), kViewClass, &type)) return true;
  type.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  type.lpfnWndProc = ViewProc;
  type.hInstance = GetModuleHandleA(nullptr);
  type.hCursor = LoadCursor(nullptr, IDC_CROSS);
  type.lpszClassName = kViewClass;
  return RegisterClassA(&type) != 0;
}

// ---- the window ------------------------------------------------------------

// Places the view and the row of buttons in a window of the given size.
void Arrange(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  RECT units = {7, 14, 4, 8};  // margin, button height, gap, label height
  MapDialogRect(window, &units);
  int margin = units.left, buttonHeight = units.top, gap = units.right;
  int row = client.bottom - margin - buttonHeight;
  MoveWindow(GetDlgItem(window, IDC_WAVE_VIEW), margin, margin, std::max(1L, client.right - 2 * margin),
             std::max(1, row - gap - margin), TRUE);
  int x = margin;
  for (int id : {IDC_WAVE_ZOOM_IN, IDC_WAVE_ZOOM_OUT, IDC_WAVE_WHOLE, IDC_WAVE_ADD_MARK}) {
    HWND button = GetDlgItem(window, id);
    RECT box;
    GetWindowRect(button, &box);
    int width = box.right - box.left;
    MoveWindow(button, x, row, width, buttonHeight, TRUE);
    x += width + gap;
  }
  HWND close = GetDlgItem(window, IDCANCEL);
  RECT box;
  GetWindowRect(close, &box);
  int closeWidth = box.right - box.left;
  MoveWindow(close, client.right - margin - closeWidth, row, closeWidth, buttonHeight, TRUE);
  int labelHeight = units.bottom;
  MoveWindow(GetDlgItem(window, IDC_WAVE_CURSOR), x + gap, row + (buttonHeight - labelHeight) / 2,
             std::max(1L, client.right - margin - closeWidth - gap - x - gap), labelHeight, TRUE);
  InvalidateRect(window, nullptr, TRUE);
}

void StartBuild() {
  wave.build = std::make_shared<Build>();
  wave.buildNumber = ++builds;
  auto* start = new BuildStart{wave.source, wave.build, wave.window, wave.buildNumber};
  HANDLE thread = CreateThread(nullptr, 0, BuildPicture, start, 0, nullptr);
  if (!thread) {
    delete start;
    wave.failure = "The picture could not be made: no thread could be started.";
    return;
  }
  CloseHandle(thread);
}

void TakeBuilt(snip::LevelSearch* search) {
  std::unique_ptr<snip::LevelSearch> owned(search);
  if (owned->outcome == snip::DecodeOutcome::Halted) return;
  SetDlgItemTextA(wave.window, IDCANCEL, "Close");
  if (owned->outcome != snip::DecodeOutcome::Found || owned->picture.Pairs() == 0) {
    wave.failure = owned->message.empty() ? snip::ScanMessage(snip::ScanOutcome::Unusable) : owned->message;
    InvalidateRect(wave.view, nullptr, FALSE);
    return;
  }
  wave.picture = std::move(owned->picture);
  wave.ready = true;
  wave.firstPair = 0;
  wave.pairsPerColumn = WholePairsPerColumn();
  Settle();
}

INT_PTR CALLBACK WaveformProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      wave.window = window;
      wave.view = GetDlgItem(window, IDC_WAVE_VIEW);
      Arrange(window);
      return TRUE;
    case WM_SIZE:
      Arrange(window);
      return TRUE;
    case WM_GETMINMAXINFO: {
      RECT least = {0, 0, 300, 90};
      MapDialogRect(window, &least);
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = least.right;
      info->ptMinTrackSize.y = least.bottom;
      return TRUE;
    }
    case WM_MOUSEWHEEL:
      // The wheel goes to the focus; the picture zooms wherever it is.
      SendMessageA(wave.view, message, wParam, lParam);
      return TRUE;
    case WM_WAVE_PROGRESS:
      if (wParam == wave.buildNumber && !wave.ready) {
        wave.percent = static_cast<int>(lParam);
        InvalidateRect(wave.view, nullptr, FALSE);
      }
      return TRUE;
    case WM_WAVE_BUILT:
      if (wParam == wave.buildNumber) {
        TakeBuilt(reinterpret_cast<snip::LevelSearch*>(lParam));
      } else {
        delete reinterpret_cast<snip::LevelSearch*>(lParam);
      }
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_WAVE_ZOOM_IN: ZoomAround(kZoomStep, ZoomColumn()); break;
        case IDC_WAVE_ZOOM_OUT: ZoomAround(1 / kZoomStep, ZoomColumn()); break;
        case IDC_WAVE_WHOLE:
          wave.pairsPerColumn = WholePairsPerColumn();
          wave.firstPair = 0;
          Settle();
          break;
        case IDOK:  // Enter
        case IDC_WAVE_ADD_MARK: AddMarkAtCursor(); break;
        case IDCANCEL: DestroyWindow(window); break;
        default: break;
      }
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(window);
      return TRUE;
    case WM_DESTROY:
      if (wave.build) wave.build->halt = true;
      wave = Wave();
      return FALSE;
  }
  return FALSE;
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void OpenWaveform(HWND page) {
  std::string source = ControlText(page, IDC_SPLIT_SOURCE);
  if (source.empty()) {
    Warn(page, snip::kSplitNeedInputsMessage);
    return;
  }
  if (wave.window && wave.source == source) {
    ShowWindow(wave.window, SW_RESTORE);
    SetForegroundWindow(wave.window);
    return;
  }
  CloseWaveform();
  if (!RegisterView()) return;
  HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_WAVEFORM),
                                   GetAncestor(page, GA_ROOT), WaveformProc, 0);
  if (!window) return;
  wave.page = page;
  wave.source = source;
  std::string caption = "Waveform - " + FileNameOf(source);
  SetWindowTextA(window, caption.c_str());
  SetWindowTextA(wave.view, caption.c_str());  // the view's name for screen readers
  SetDlgItemTextA(window, IDCANCEL, "Cancel");  // while the picture is built
  StartBuild();
  Settle();
  ShowWindow(window, SW_SHOW);
  SetFocus(wave.view);
}

HWND WaveformWindow() { return wave.window; }

void CloseWaveform() {
  if (wave.window) DestroyWindow(wave.window);
}

void WaveformMarksChanged() {
  if (wave.view) InvalidateRect(wave.view, nullptr, FALSE);
}

void WaveformSourceChanged(HWND page) {
  if (wave.window && wave.page == page && ControlText(page, IDC_SPLIT_SOURCE) != wave.source) CloseWaveform();
}

void WaveformSetSilences(const std::string& source, const std::vector<std::pair<int32_t, int32_t>>& spans) {
  found.source = source;
  found.spans = spans;
  if (wave.view) InvalidateRect(wave.view, nullptr, FALSE);
}

void WaveformShowMark(int32_t hundredths) {
  if (!wave.window) return;
  wave.selected = hundredths;
  if (wave.ready) ShowTime(hundredths);
  InvalidateRect(wave.view, nullptr, FALSE);
}

bool WaveformReady() { return wave.window && wave.ready; }

int WaveformColumnOf(int32_t hundredths) { return static_cast<int>(std::lround(ColumnOf(hundredths))); }

int32_t WaveformTimeAt(int x) { return TimeAt(x); }

int WaveformRulerHeight() { return wave.view ? RulerHeight() : 0; }
