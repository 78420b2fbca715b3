#include "split/win/find_silences.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/win/page_run.h"
#include "app/win/pages.h"
#include "mpeg/source_scan.h"
#include "resource_ids.h"
#include "split/silences.h"
#include "split/split_engine.h"
#include "split/time_text.h"
#include "split/win/track_marks.h"
#include "split/win/waveform_window.h"

namespace {

constexpr const char* kIdleCaption = "Create Tracks";
const char kBadOptionsMessage[] =
    "Please give the threshold in dBFS, from -120 to 0, and the minimum length in seconds, from 0.05 to 3600.";
const char kNoSilencesMessage[] =
    "No silences were found.  A higher threshold or a shorter minimum length may find some.";

// The options of the last search this session; the dialog starts with them.
snip::SilenceOptions lastOptions;

std::string NumberText(double value, bool withDecimals) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", value);
  std::string shown = text;
  if (withDecimals && shown.find_first_of(".e") == std::string::npos) shown += ".0";
  return shown;
}

// The number in an edit of the dialog, when it is one within [low, high]; a
// decimal comma is taken as a point.
bool ReadNumber(HWND dialog, int id, double low, double high, double* value) {
  char text[32] = {};
  GetDlgItemTextA(dialog, id, text, static_cast<int>(sizeof(text)));
  std::replace(std::begin(text), std::end(text), ',', '.');
  const char* start = text;
  while (*start == ' ') ++start;
  if (*start == '\0') return false;
  char* end = nullptr;
  double number = std::strtod(start, &end);
  while (*end == ' ') ++end;
  if (*end != '\0' || !(number >= low && number <= high)) return false;
  *value = number;
  return true;
}

// Adds a mark for every cut by the rules of a typed time (duplicates are
// left out); what the time edit held stays there.
void AddCutMarks(HWND page, const std::vector<int32_t>& cuts) {
  for (int32_t cut : cuts) {
    TrackMark* mark = NewTrackMark();
    if (!mark) break;
    snip::FormatTimeText(cut, mark->timeText, sizeof(mark->timeText));
    InsertTrackMark(page, mark);
  }
}

}  // namespace

INT_PTR CALLBACK FindSilencesDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* options = reinterpret_cast<snip::SilenceOptions*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      SendDlgItemMessageA(dialog, IDC_SILENCE_THRESHOLD, EM_LIMITTEXT, 16, 0);
      SendDlgItemMessageA(dialog, IDC_SILENCE_MIN, EM_LIMITTEXT, 16, 0);
      SetDlgItemTextA(dialog, IDC_SILENCE_THRESHOLD, NumberText(options->thresholdDb, false).c_str());
      SetDlgItemTextA(dialog, IDC_SILENCE_MIN, NumberText(options->minSeconds, true).c_str());
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: {
          auto* options = reinterpret_cast<snip::SilenceOptions*>(GetWindowLongPtrA(dialog, DWLP_USER));
          snip::SilenceOptions read;
          int bad = 0;
          if (!ReadNumber(dialog, IDC_SILENCE_THRESHOLD, snip::kLowestThresholdDb, snip::kHighestThresholdDb,
                          &read.thresholdDb)) {
            bad = IDC_SILENCE_THRESHOLD;
          } else if (!ReadNumber(dialog, IDC_SILENCE_MIN, snip::kShortestSilence, snip::kLongestSilence,
                                 &read.minSeconds)) {
            bad = IDC_SILENCE_MIN;
          }
          if (bad != 0) {
            MessageBoxA(dialog, kBadOptionsMessage, kAppCaption, MB_OK | MB_ICONWARNING);
            HWND edit = GetDlgItem(dialog, bad);
            SetFocus(edit);
            SendMessageA(edit, EM_SETSEL, 0, -1);
            return TRUE;
          }
          *options = read;
          EndDialog(dialog, IDOK);
          return TRUE;
        }
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
      }
      break;
  }
  return FALSE;
}

void OnFindSilences(HWND page) {
  if (PageRunActive(page)) return;
  if (GetWindowTextLengthA(GetDlgItem(page, IDC_SPLIT_SOURCE)) <= 0) {
    Warn(page, snip::kSplitNeedInputsMessage);
    return;
  }
  snip::SilenceOptions options = lastOptions;
  if (DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FIND_SILENCES), page, FindSilencesDialog,
                      reinterpret_cast<LPARAM>(&options)) != IDOK) {
    return;
  }
  lastOptions = options;
  std::string path = ControlText(page, IDC_SPLIT_SOURCE);

  StartPageRun(page, kIdleCaption, [path, options](RunControl& control) -> RunFinish {
    int shown = -1;
    snip::SilenceSearch search = snip::FindSilences(
        path, options,
        [&control, &shown](int64_t done, int64_t total) {
          int percent = total > 0 ? static_cast<int>(std::min(done, total) * 100 / total) : 0;
          if (percent == shown) return;
          shown = percent;
          char status[48];
          std::snprintf(status, sizeof(status), "Status: Finding silences... [%d%%]", percent);
          control.SetStatus(status);
        },
        [&control] { return control.HaltRequested(); });
    return [search, path](HWND page) {
      switch (search.outcome) {
        case snip::SilenceOutcome::Halted:
          return;
        case snip::SilenceOutcome::Found:
          WaveformSetSilences(path, search.spans);
          if (search.cuts.empty()) {
            Inform(page, kNoSilencesMessage);
          } else {
            AddCutMarks(page, search.cuts);
          }
          return;
        default:
          Warn(page, search.message.empty() ? snip::ScanMessage(snip::ScanOutcome::Unusable) : search.message.c_str());
          return;
      }
    };
  });
}
