// The track timing list of the Split page: adding typed times and the
// player's position, removing lines, emptying the list, and naming a line in
// the TrackInfoDialog.
#include "split/win/track_marks.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/win/pages.h"
#include "resource_ids.h"
#include "split/time_text.h"
#include "split/track_list.h"
#include "split/win/waveform_window.h"

namespace {

std::atomic<long> liveMarks{0};
TrackMarkAllocHook allocHook = nullptr;

// The list box the open TrackInfoDialog works on.
HWND trackInfoList = nullptr;

HWND ListOf(HWND page) { return GetDlgItem(page, IDC_SPLIT_LIST); }

struct ListAlbum {
  std::string title;
  std::string performer;
};
constexpr const char* kAlbumProperty = "Snipwise.Album";

void DropListAlbum(HWND page) {
  delete static_cast<ListAlbum*>(RemovePropA(ListOf(page), kAlbumProperty));
}

TrackMark* MarkOfLine(HWND list, LRESULT index) {
  LRESULT data = SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(index), 0);
  if (data == LB_ERR) return nullptr;
  return reinterpret_cast<TrackMark*>(data);
}

// Adds the line text with mark as its item data. Returns the line's index,
// or -1 when the list refused the line (nothing is left behind then).
LRESULT InsertLine(HWND list, TrackMark* mark) {
  LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(mark->timeText));
  if (index == LB_ERR || index == LB_ERRSPACE) return -1;
  if (SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(mark)) == LB_ERR) {
    SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    return -1;
  }
  return index;
}

bool Reject(TrackMark* mark) {
  FreeTrackMark(mark);
  return false;
}

}  // namespace

TrackMark* NewTrackMark() {
  if (allocHook && !allocHook()) return nullptr;
  auto* mark = static_cast<TrackMark*>(std::calloc(1, sizeof(TrackMark)));
  if (mark) ++liveMarks;
  return mark;
}

void FreeTrackMark(TrackMark* mark) {
  if (!mark) return;
  --liveMarks;
  std::free(mark);
}

long LiveTrackMarks() { return liveMarks.load(); }

void SetTrackMarkAllocHook(TrackMarkAllocHook hook) { allocHook = hook; }

bool InsertTrackMark(HWND page, TrackMark* mark) {
  if (!mark) return false;
  HWND list = ListOf(page);
  mark->timeText[sizeof(mark->timeText) - 1] = '\0';
  int32_t offset = 0;
  if (!snip::ScanTimeText(mark->timeText, &offset)) return Reject(mark);
  mark->offset = offset;

  LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  if (count == LB_ERR) return Reject(mark);
  std::vector<int32_t> offsets;
  for (LRESULT i = 0; i < count; ++i) {
    if (TrackMark* line = MarkOfLine(list, i)) offsets.push_back(line->offset);
  }
  snip::MarkPlace place = snip::PlaceMark(offsets, offset);
  if (place == snip::MarkPlace::Duplicate) return Reject(mark);

  LRESULT markerIndex = -1;
  if (place == snip::MarkPlace::AddAfterZeroMarker) {
    TrackMark* marker = NewTrackMark();
    if (!marker) return Reject(mark);
    snip::FormatTimeText(0, marker->timeText, sizeof(marker->timeText));
    markerIndex = InsertLine(list, marker);
    if (markerIndex < 0) {
      FreeTrackMark(marker);
      return Reject(mark);
    }
  }

  snip::FormatTimeText(offset, mark->timeText, sizeof(mark->timeText));
  if (InsertLine(list, mark) < 0) {
    if (markerIndex >= 0) {
      FreeTrackMark(MarkOfLine(list, markerIndex));
      SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(markerIndex), 0);
    }
    return Reject(mark);
  }
  WaveformMarksChanged();
  return true;
}

bool AddTrackMark(HWND page, TrackMark* mark) {
  if (!InsertTrackMark(page, mark)) return false;
  SetDlgItemTextA(page, IDC_SPLIT_TIME, "");
  SetFocus(GetDlgItem(page, IDC_SPLIT_TIME));
  return true;
}

bool MoveTrackMark(HWND page, int index, int32_t offset) {
  HWND list = ListOf(page);
  TrackMark* mark = MarkOfLine(list, index);
  if (!mark || mark->offset == 0 || offset <= 0 || offset == mark->offset) return false;
  LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  std::vector<int32_t> others;
  for (LRESULT i = 0; i < count; ++i) {
    const TrackMark* line = i == index ? nullptr : MarkOfLine(list, i);
    if (line) others.push_back(line->offset);
  }
  if (snip::PlaceMark(others, offset) != snip::MarkPlace::Add) return false;
  // The line goes and comes back at its new place with the same mark.
  int32_t old = mark->offset;
  SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
  mark->offset = offset;
  snip::FormatTimeText(offset, mark->timeText, sizeof(mark->timeText));
  LRESULT placed = InsertLine(list, mark);
  if (placed < 0) {
    mark->offset = old;
    snip::FormatTimeText(old, mark->timeText, sizeof(mark->timeText));
    placed = InsertLine(list, mark);
    if (placed < 0) FreeTrackMark(mark);  // the list took neither
    WaveformMarksChanged();
    return false;
  }
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(placed), 0);
  WaveformMarksChanged();
  return true;
}

bool AddTimeFromEdit(HWND page) {
  char text[snip::kTimeTextChars + 1] = {};
  GetDlgItemTextA(page, IDC_SPLIT_TIME, text, static_cast<int>(sizeof(text)));
  TrackMark* mark = NewTrackMark();
  if (!mark) return false;
  std::memcpy(mark->timeText, text, sizeof(text));
  return AddTrackMark(page, mark);
}

bool GrabWinampPosition(HWND page) {
  HWND player = FindWindowA("Winamp v1.x", nullptr);
  if (!player) {
    MessageBoxA(page, "Winamp is not currently running or could not be found.", kAppCaption,
                MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  auto ms = static_cast<int32_t>(SendMessageA(player, WM_USER, 0, 105));
  char text[snip::kTimeTextField] = {};
  if (!snip::PlayerPositionToTimeText(ms, text, sizeof(text))) return false;
  TrackMark* mark = NewTrackMark();
  if (!mark) return false;
  std::memcpy(mark->timeText, text, sizeof(text));
  return AddTrackMark(page, mark);
}

void RemoveSelectedTime(HWND page) {
  HWND list = ListOf(page);
  LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (selected == LB_ERR) return;
  LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  TrackMark* mark = MarkOfLine(list, selected);
  if (count >= 2 && (!mark || mark->offset == 0)) return;
  FreeTrackMark(mark);
  SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(selected), 0);
  WPARAM next = selected < count - 1 ? static_cast<WPARAM>(selected) : static_cast<WPARAM>(-1);
  SendMessageA(list, LB_SETCURSEL, next, 0);
  WaveformMarksChanged();
}

void ClearTrackMarks(HWND page) {
  HWND list = ListOf(page);
  LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    FreeTrackMark(MarkOfLine(list, i));
    SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(i), 0);
  }
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  DropListAlbum(page);
  WaveformMarksChanged();
}

void SetListAlbum(HWND page, const std::string& title, const std::string& performer) {
  DropListAlbum(page);
  if (title.empty() && performer.empty()) return;
  auto* album = new ListAlbum{title, performer};
  if (!SetPropA(ListOf(page), kAlbumProperty, album)) delete album;
}

void ReadListAlbum(HWND page, std::string* title, std::string* performer) {
  const auto* album = static_cast<const ListAlbum*>(GetPropA(ListOf(page), kAlbumProperty));
  *title = album ? album->title : std::string();
  *performer = album ? album->performer : std::string();
}

TrackMark* TrackMarkAt(HWND page, int index) { return MarkOfLine(ListOf(page), index); }

void OpenTrackInfo(HWND page) {
  HWND list = ListOf(page);
  if (SendMessageA(list, LB_GETCURSEL, 0, 0) == LB_ERR) return;
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TRACK_INFO), page, TrackInfoDialog,
                  reinterpret_cast<LPARAM>(list));
}

INT_PTR CALLBACK TrackInfoDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      trackInfoList = reinterpret_cast<HWND>(lParam);
      SendDlgItemMessageA(dialog, IDC_TRACK_ARTIST, EM_LIMITTEXT, 100, 0);
      SendDlgItemMessageA(dialog, IDC_TRACK_TITLE, EM_LIMITTEXT, 100, 0);
      LRESULT selected = SendMessageA(trackInfoList, LB_GETCURSEL, 0, 0);
      TrackMark* mark = selected == LB_ERR ? nullptr : MarkOfLine(trackInfoList, selected);
      if (mark) {
        SetDlgItemTextA(dialog, IDC_TRACK_ARTIST, mark->artist);
        SetDlgItemTextA(dialog, IDC_TRACK_TITLE, mark->title);
      }
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: {
          LRESULT selected = SendMessageA(trackInfoList, LB_GETCURSEL, 0, 0);
          TrackMark* mark = selected == LB_ERR ? nullptr : MarkOfLine(trackInfoList, selected);
          if (!mark) return TRUE;
          GetDlgItemTextA(dialog, IDC_TRACK_ARTIST, mark->artist, static_cast<int>(sizeof(mark->artist)));
          GetDlgItemTextA(dialog, IDC_TRACK_TITLE, mark->title, static_cast<int>(sizeof(mark->title)));
          WaveformMarksChanged();
          EndDialog(dialog, IDOK);
          return TRUE;
        }
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      trackInfoList = nullptr;
      return FALSE;
  }
  return FALSE;
}
