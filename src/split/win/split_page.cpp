// The Split page: choosing the source and the destination folder, the field
// help, the track timing list's buttons (Find Silences has its own file), CUE
// sheet import and export, and the Create Tracks button.
#include <windows.h>

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "app/win/dropped_files.h"
#include "app/win/page_run.h"
#include "app/win/pages.h"
#include "mpeg/source_scan.h"
#include "split/win/find_silences.h"
#include "split/win/open_source.h"
#include "resource_ids.h"
#include "split/cue_sheet.h"
#include "split/split_engine.h"
#include "split/time_text.h"
#include "split/track_naming.h"
#include "split/win/split_worker.h"
#include "split/win/track_marks.h"

namespace {

const char kFieldInfo[] =
    "Possible fields that will be parsed are:\n\n"
    "%file%\t  Source file that is being split\n"
    "%track%\t  Current track number\n"
    "%artist%\t  Artist name\n"
    "%title%\t  Title of song\n\n"
    "The '%artist%' and '%title%' fields are set when importing a .CUE file, or can be set manually by double "
    "clicking a track or selecting 'Track Naming'";

const char kCreateTracksCaption[] = "Create Tracks";
const char kCueFilter[] = "CUE Sheets (*.cue)\0*.cue\0";
const char kCueImportTitle[] = "Import Track Times From .CUE File";
const char kCueExportTitle[] = "Export Track Times To .CUE File";
const char kCueNothingToExport[] = "There are no track times to export.  Please add a time first.";
const char kCueOverSource[] = "The .CUE file cannot be written over the source file.  Please choose another name.";
const char kCueWriteError[] = "There has been a file error while trying to export the track times.  Please try again.";

void ImportCueSheetFrom(HWND page, const char* path);

// Scans a chosen source on a worker, so that a slow scan leaves the window
// working: its progress shows in the status line and Cancel stops it,
// leaving the page as it was. The outcome is shown as OpenSource shows it.
// A sheet given with the source (both dropped at once) is imported once the
// source is in place, since a new source empties the track list.
void ScanChosenSource(HWND page, const std::string& path, const std::string& sheetAfter = {}) {
  StartPageRun(page, kCreateTracksCaption, [path, sheetAfter](RunControl& control) -> RunFinish {
    snip::File file = snip::File::OpenRead(path);
    bool opened = file.IsOpen();
    snip::ScanResult result;
    if (opened) {
      int64_t size = file.Size();
      int shown = -1;
      file.Watch([&](int64_t done) {
        if (control.HaltRequested()) return false;
        int percent = size > 0 ? static_cast<int>(std::min<int64_t>(done, size) * 100 / size) : 0;
        if (percent != shown) {
          shown = percent;
          char status[48];
          std::snprintf(status, sizeof(status), "Status: Examining... [%d%%]", percent);
          control.SetStatus(status);
        }
        return true;
      });
      result = snip::SourceScan(file);
    }
    bool halted = control.HaltRequested();
    return [path, opened, result, halted, sheetAfter](HWND page) {
      if (halted) return;
      ShowSourceScan(page, path.c_str(), opened, result);
      ClearTrackMarks(page);
      if (!sheetAfter.empty()) ImportCueSheetFrom(page, sheetAfter.c_str());
    };
  });
}

void ChooseSource(HWND page) {
  char path[snip::kPathChars] = {};
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = OpenFileNameSize();
  dialog.hwndOwner = page;
  dialog.lpstrFilter = "MP3 Files (*.mp3)\0*.mp3\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof(path);
  dialog.lpstrTitle = "Select An MP3 Source File";
  dialog.Flags = OFN_FILEMUSTEXIST;
  if (!GetOpenFileNameA(&dialog)) return;
  ScanChosenSource(page, path);
}

void ChooseDestinationFolder(HWND page) {
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  BROWSEINFOA browse = {};
  browse.hwndOwner = page;
  browse.lpszTitle = "Please choose the directory to output created tracks to.";
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&browse);
  if (chosen) {
    char path[snip::kPathChars] = {};
    BOOL converted = SHGetPathFromIDListA(chosen, path);
    CoTaskMemFree(chosen);
    if (converted && path[0] != '\0') {
      SetDlgItemTextA(page, IDC_SPLIT_FOLDER, snip::FolderWithSeparator(path).c_str());
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

// Asks for a CUE sheet path with the open or the save dialog; false when
// cancelled.
bool ChooseCueSheet(HWND page, bool save, char (&path)[snip::kPathChars]) {
  std::memset(path, 0, sizeof(path));
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = OpenFileNameSize();
  dialog.hwndOwner = page;
  dialog.lpstrFilter = kCueFilter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof(path);
  if (save) {
    dialog.lpstrTitle = kCueExportTitle;
    dialog.lpstrDefExt = "cue";
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    return GetSaveFileNameA(&dialog) != 0;
  }
  dialog.lpstrTitle = kCueImportTitle;
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  return GetOpenFileNameA(&dialog) != 0;
}


void CopyText(char* field, size_t fieldSize, const std::string& text) {
  size_t n = text.size() < fieldSize - 1 ? text.size() : fieldSize - 1;
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

void ImportCueSheetFrom(HWND page, const char* path) {
  std::string text;
  if (!snip::ReadCueSheetFile(path, &text)) {
    Warn(page, snip::kCueUnreadableMessage);
    return;
  }
  snip::CueSheet sheet;
  int errorLine = 0;
  std::string message;
  if (!snip::ParseCueSheet(text, &sheet, &errorLine, &message)) {
    Warn(page, message.c_str());
    return;
  }
  // Every mark is made before the list is touched, so that a shortage of
  // memory leaves the list as it was.
  std::vector<TrackMark*> marks;
  for (const snip::CueTrack& track : sheet.tracks) {
    TrackMark* mark = NewTrackMark();
    if (!mark) {
      for (TrackMark* made : marks) FreeTrackMark(made);
      return;
    }
    snip::FormatTimeText(track.offset, mark->timeText, sizeof(mark->timeText));
    CopyText(mark->artist, sizeof(mark->artist), track.performer);
    CopyText(mark->title, sizeof(mark->title), track.title);
    marks.push_back(mark);
  }
  ClearTrackMarks(page);
  for (TrackMark* mark : marks) AddTrackMark(page, mark);
  SetListAlbum(page, sheet.title, sheet.performer);
}

void ImportCueSheet(HWND page) {
  char path[snip::kPathChars];
  if (!ChooseCueSheet(page, false, path)) return;
  ImportCueSheetFrom(page, path);
}

// The file name part of a path.
std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void ExportCueSheet(HWND page) {
  HWND list = GetDlgItem(page, IDC_SPLIT_LIST);
  LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  if (count <= 0) {
    Warn(page, kCueNothingToExport);
    return;
  }
  std::vector<snip::CueTrack> tracks;
  for (LRESULT i = 0; i < count; ++i) {
    const TrackMark* mark = TrackMarkAt(page, static_cast<int>(i));
    if (!mark) continue;
    tracks.push_back({mark->offset, mark->artist, mark->title});
  }

  char path[snip::kPathChars];
  if (!ChooseCueSheet(page, true, path)) return;
  char source[snip::kPathChars] = {};
  GetDlgItemTextA(page, IDC_SPLIT_SOURCE, source, static_cast<int>(sizeof(source)));
  if (source[0] != '\0' && snip::SameFile(path, source)) {
    Warn(page, kCueOverSource);
    return;
  }

  std::string sheet = snip::FormatCueSheet(FileNameOf(source), tracks);
  // The save dialog asked before an existing sheet is replaced; the sheet
  // takes its name only when it is written completely.
  snip::OutputFile file = snip::OutputFile::Create(path);
  if (!file.IsOpen() || !file.Stream().Write(sheet.data(), sheet.size()) || !file.Commit(true)) {
    Warn(page, kCueWriteError);
  }
}

void OnCommand(HWND page, int id, int notification) {
  switch (id) {
    case IDC_SPLIT_BROWSE:
      ChooseSource(page);
      break;
    case IDC_SPLIT_ADD_TIME:
      AddTimeFromEdit(page);
      break;
    case IDC_SPLIT_LIST:
      if (notification == LBN_DBLCLK) OpenTrackInfo(page);
      break;
    case IDC_SPLIT_NAMING:
      OpenTrackInfo(page);
      break;
    case IDC_SPLIT_FIELD_INFO:
      MessageBoxA(page, kFieldInfo, kAppCaption, MB_OK);
      break;
    case IDC_SPLIT_CHOOSE_FOLDER:
      ChooseDestinationFolder(page);
      break;
    case IDC_SPLIT_GRAB_WINAMP:
      GrabWinampPosition(page);
      break;
    case IDC_SPLIT_CUE_IMPORT:
      ImportCueSheet(page);
      break;
    case IDC_SPLIT_CUE_EXPORT:
      ExportCueSheet(page);
      break;
    case IDC_SPLIT_ACTION:
      OnCreateTracks(page);
      break;
    case IDC_SPLIT_REMOVE:
      RemoveSelectedTime(page);
      break;
    case IDC_SPLIT_CLEAR:
      ClearTrackMarks(page);
      break;
    case IDC_SPLIT_FIND_SILENCES:
      OnFindSilences(page);
      break;
    default:
      break;
  }
}

}  // namespace

// A source and a CUE sheet from outside (dropped, or named when the program
// starts): the first file that is not a sheet becomes the source as if chosen
// with Browse, the first sheet is imported as with Import. Folders and the
// rest are left alone.
void AcceptSplitFiles(HWND page, const std::vector<std::string>& paths) {
  if (PageRunActive(page)) return;
  std::string source, sheet;
  for (const std::string& path : paths) {
    if (!IsFilePath(path)) continue;
    if (HasExtension(path, ".cue")) {
      if (sheet.empty()) sheet = path;
    } else if (source.empty()) {
      source = path;
    }
  }
  if (!source.empty() && source.size() < snip::kPathChars) {
    ScanChosenSource(page, source, sheet);
  } else if (!sheet.empty()) {
    ImportCueSheetFrom(page, sheet.c_str());
  }
}

INT_PTR CALLBACK SplitPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (HandlePageRunMessage(page, message, wParam, lParam)) return TRUE;
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(page, IDC_SPLIT_TEMPLATE, EM_LIMITTEXT, 256, 0);
      SetDlgItemTextA(page, IDC_SPLIT_TEMPLATE, "%file% - %track%");
      DragAcceptFiles(page, TRUE);
      return TRUE;
    case WM_DROPFILES:
      AcceptSplitFiles(page, TakeDroppedPaths(reinterpret_cast<HDROP>(wParam)));
      return TRUE;
    case WM_COMMAND:
      OnCommand(page, LOWORD(wParam), HIWORD(wParam));
      return FALSE;
    case WM_DESTROY:
      ClearTrackMarks(page);  // the lines own their marks
      return FALSE;
  }
  return FALSE;
}
