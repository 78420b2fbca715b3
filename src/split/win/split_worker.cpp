// The split run: the Create Tracks handler on the interface thread, the
// worker thread that reads the page and runs the cut, and the busy switch of
// a working page.
#include "split/win/split_worker.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/property_list.h"
#include "app/win/pages.h"
#include "resource_ids.h"
#include "split/split_engine.h"
#include "split/win/track_marks.h"

namespace {

constexpr const char* kIdleCaption = "Create Tracks";
constexpr const char* kHaltingCaption = "Halting...";
constexpr const char* kIdleStatus = "Status: Idle";

BOOL CALLBACK SetChildBusy(HWND child, LPARAM lParam) {
  if (lParam == 0) {
    EnableWindow(child, TRUE);
    return TRUE;
  }
  // The action button and the status line stay usable; a child is
  // recognised as one of them through its own parent, so a control with the
  // same id deeper down is still disabled.
  HWND parent = GetParent(child);
  if (child == GetDlgItem(parent, IDC_PAGE_ACTION) || child == GetDlgItem(parent, IDC_PAGE_STATUS)) return TRUE;
  EnableWindow(child, FALSE);
  return TRUE;
}

// The action button's caption, read as the page keeps it (up to 19 characters).
bool CaptionIs(HWND page, const char* caption) {
  char text[20] = {};
  GetDlgItemTextA(page, IDC_PAGE_ACTION, text, sizeof(text));
  return std::strcmp(text, caption) == 0;
}

// Idle again: the page's caption and status, every control enabled. Every
// end of a run passes through here before its message is shown.
void ResetSplitRun(HWND page) {
  SetDlgItemTextA(page, IDC_PAGE_ACTION, kIdleCaption);
  SetDlgItemTextA(page, IDC_PAGE_STATUS, kIdleStatus);
  SetPageBusy(page, false);
}

void Tell(HWND page, const char* text, UINT icon) { MessageBoxA(page, text, kAppCaption, MB_OK | icon); }

std::string ControlText(HWND page, int id) {
  HWND control = GetDlgItem(page, id);
  int length = GetWindowTextLengthA(control);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  int got = GetWindowTextA(control, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

// A fixed text field of a mark, which may lack its terminator.
std::string FieldText(const char* field, size_t size) {
  const void* end = std::memchr(field, '\0', size);
  return std::string(field, end ? static_cast<size_t>(static_cast<const char*>(end) - field) : size);
}

// The run's inputs, read from the page's controls and the scan's values.
// False when the scan's values are missing.
bool ReadSplitJob(HWND page, snip::SplitJob* job) {
  auto* list = reinterpret_cast<PropertyEntry*>(GetWindowLongPtrA(page, GWLP_USERDATA));
  int32_t bitrate = 0;
  int32_t bitrateIndex = 0;
  int32_t firstFrame = 0;
  if (!list || !ReadScanValue(list, kPropBitRate, &bitrate) ||
      !ReadScanValue(list, kPropBitRateBinary, &bitrateIndex) || !ReadScanValue(list, kPropFirstFrame, &firstFrame)) {
    return false;
  }
  job->bitrate = bitrate;
  job->bitrateIndex = bitrateIndex;
  job->firstFrame = firstFrame;
  int32_t variable = 0;
  job->variableBitrate = ReadScanValue(list, kPropVariableBitRate, &variable) && variable != 0;
  job->sourcePath = ControlText(page, IDC_SPLIT_SOURCE);
  job->nameTemplate = ControlText(page, IDC_SPLIT_TEMPLATE);
  job->folder = ControlText(page, IDC_SPLIT_FOLDER);
  job->equalSegments = IsDlgButtonChecked(page, IDC_SPLIT_EQUAL) == BST_CHECKED;
  job->tagTracks = IsDlgButtonChecked(page, IDC_SPLIT_TAGS) == BST_CHECKED;
  if (job->tagTracks) ReadListAlbum(page, &job->album, &job->albumArtist);

  LRESULT count = SendDlgItemMessageA(page, IDC_SPLIT_LIST, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT data = SendDlgItemMessageA(page, IDC_SPLIT_LIST, LB_GETITEMDATA, static_cast<WPARAM>(i), 0);
    const auto* mark = reinterpret_cast<const TrackMark*>(data);
    if (data == LB_ERR || !mark) continue;
    snip::SplitMark split;
    split.offset = mark->offset;
    split.artist = FieldText(mark->artist, sizeof(mark->artist));
    split.title = FieldText(mark->title, sizeof(mark->title));
    job->marks.push_back(std::move(split));
  }
  return true;
}

}  // namespace

namespace {

// What a worker is handed: its page and the job read from it.
struct SplitRun {
  HWND page;
  snip::SplitJob job;
};

// Asks once before a run that would replace files that are there already.
// True when the run may go ahead; the job then replaces them.
bool MayReplaceExisting(HWND page, snip::SplitJob* job) {
  std::vector<std::string> planned;
  if (!snip::PlannedTrackNames(*job, &planned)) return true;  // the run reports the file error
  size_t existing = snip::ExistingTrackNames(planned).size();
  if (existing == 0) return true;
  char question[120];
  std::snprintf(question, sizeof(question), "%u files in the destination folder would be replaced. Replace them?",
                static_cast<unsigned>(existing));
  if (MessageBoxA(page, question, kAppCaption, MB_YESNO | MB_ICONWARNING) != IDYES) return false;
  job->replaceExisting = true;
  return true;
}

}  // namespace

void OnCreateTracks(HWND page) {
  if (GetWindowTextLengthA(GetDlgItem(page, IDC_SPLIT_SOURCE)) <= 0 ||
      GetWindowTextLengthA(GetDlgItem(page, IDC_SPLIT_TEMPLATE)) <= 0) {
    Tell(page, snip::kSplitNeedInputsMessage, MB_ICONWARNING);
    return;
  }
  if (!CaptionIs(page, kIdleCaption)) {
    SetDlgItemTextA(page, IDC_PAGE_ACTION, kHaltingCaption);
    return;
  }
  // The job is read and checked here, while the page is idle, so that the
  // question about existing files comes before anything starts.
  auto* run = new SplitRun{page, {}};
  if (!ReadSplitJob(page, &run->job)) {
    delete run;
    Tell(page, snip::SplitOutcomeMessage(snip::SplitOutcome::FileError), MB_ICONWARNING);
    return;
  }
  snip::SplitRefusal refusal = snip::ValidateSplitJob(run->job);
  if (refusal != snip::SplitRefusal::None) {
    delete run;
    Tell(page, snip::SplitRefusalMessage(refusal), MB_ICONWARNING);
    return;
  }
  if (!MayReplaceExisting(page, &run->job)) {
    delete run;
    return;
  }
  // The page is busy before the worker exists, so that a second press can
  // only ask this run to halt.
  SetPageBusy(page, true);
  SetDlgItemTextA(page, IDC_PAGE_ACTION, "Cancel");
  HANDLE thread = CreateThread(nullptr, 0, SplitWorker, run, 0, nullptr);
  if (!thread) {
    delete run;
    ResetSplitRun(page);
    Tell(page, snip::SplitOutcomeMessage(snip::SplitOutcome::FileError), MB_ICONWARNING);
    return;
  }
  CloseHandle(thread);
}

DWORD WINAPI SplitWorker(LPVOID parameter) {
  auto* run = static_cast<SplitRun*>(parameter);
  HWND page = run->page;
  snip::SplitJob job = std::move(run->job);
  delete run;

  snip::SplitHooks hooks;
  hooks.haltRequested = [page] { return HaltRequested(page); };
  hooks.trackStarted = [page](int trackNumber) {
    char status[40];
    std::snprintf(status, sizeof(status), "Status: Creating... [%03d]", trackNumber);
    SetDlgItemTextA(page, IDC_PAGE_STATUS, status);
  };
  snip::SplitOutcome outcome = snip::RunSplit(job, hooks);
  ResetSplitRun(page);
  bool completed = outcome == snip::SplitOutcome::Completed;
  Tell(page, snip::SplitOutcomeMessage(outcome), completed ? MB_ICONINFORMATION : MB_ICONWARNING);
  return completed ? 1 : 0;
}

void SetPageBusy(HWND page, bool busy) { EnumChildWindows(page, SetChildBusy, busy ? 1 : 0); }

bool HaltRequested(HWND page) {
  if (!CaptionIs(page, kHaltingCaption)) return false;
  SetDlgItemTextA(page, IDC_PAGE_ACTION, kIdleCaption);
  SetDlgItemTextA(page, IDC_PAGE_STATUS, kIdleStatus);
  return true;
}
