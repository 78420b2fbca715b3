// The split run: the Create Tracks handler reads the job from the page on
// the interface thread; the run controller's worker cuts it.
#include "split/win/split_worker.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/property_list.h"
#include "app/win/page_run.h"
#include "app/win/pages.h"
#include "resource_ids.h"
#include "split/split_engine.h"
#include "split/win/track_marks.h"

namespace {

constexpr const char* kIdleCaption = "Create Tracks";

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
  int64_t firstFrame = 0;
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
  job->exact = IsDlgButtonChecked(page, IDC_SPLIT_EXACT) == BST_CHECKED;
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
  // A run under way (a split, or the scan of a chosen source) is asked to
  // halt, whatever the edits hold.
  if (PageRunActive(page)) {
    HaltPageRun(page);
    return;
  }
  if (GetWindowTextLengthA(GetDlgItem(page, IDC_SPLIT_SOURCE)) <= 0 ||
      GetWindowTextLengthA(GetDlgItem(page, IDC_SPLIT_TEMPLATE)) <= 0) {
    Warn(page, snip::kSplitNeedInputsMessage);
    return;
  }
  // The job is read and checked here, while the page is idle, so that the
  // question about existing files comes before anything starts; the worker
  // gets its own copy and never looks at the page.
  snip::SplitJob job;
  if (!ReadSplitJob(page, &job)) {
    Warn(page, snip::SplitOutcomeMessage(snip::SplitOutcome::FileError));
    return;
  }
  snip::SplitRefusal refusal = snip::ValidateSplitJob(job);
  if (refusal != snip::SplitRefusal::None) {
    Warn(page, snip::SplitRefusalMessage(refusal));
    return;
  }
  if (!MayReplaceExisting(page, &job)) return;

  bool started = StartPageRun(page, kIdleCaption, [job](RunControl& control) -> RunFinish {
    snip::SplitHooks hooks;
    hooks.haltRequested = [&control] { return control.HaltRequested(); };
    hooks.trackStarted = [&control](int trackNumber) {
      char status[40];
      std::snprintf(status, sizeof(status), "Status: Creating... [%03d]", trackNumber);
      control.SetStatus(status);
    };
    snip::SplitOutcome outcome = snip::RunSplit(job, hooks);
    return [outcome](HWND page) {
      if (outcome == snip::SplitOutcome::Completed) {
        Inform(page, snip::SplitOutcomeMessage(outcome));
      } else {
        Warn(page, snip::SplitOutcomeMessage(outcome));
      }
    };
  });
  if (!started) Warn(page, snip::SplitOutcomeMessage(snip::SplitOutcome::FileError));
}
