#include "split/win/open_source.h"

#include <cstdio>

#include "app/file_io.h"
#include "app/property_list.h"
#include "app/win/pages.h"
#include "mpeg/source_scan.h"
#include "resource_ids.h"

namespace {

// Refusals go to the desktop, not to the page: the box has no owner.
void ShowRefusal(snip::ScanOutcome outcome) {
  UINT icon = snip::ScanMessageIsInformation(outcome) ? MB_ICONINFORMATION : MB_ICONWARNING;
  MessageBoxA(nullptr, snip::ScanMessage(outcome), kAppCaption, MB_OK | icon);
}

}  // namespace

int OpenSource(HWND page, const char* path) {
  if (!path) return 0;
  snip::File file = snip::File::OpenRead(path);
  if (!file.IsOpen()) return 0;  // nothing to say about a file that cannot be opened
  if (!GetWindowLongPtrA(page, GWLP_USERDATA)) return 0;
  snip::ScanResult result = snip::SourceScan(file);
  file.Close();
  return ShowSourceScan(page, path, true, result);
}

int ShowSourceScan(HWND page, const char* path, bool opened, const snip::ScanResult& result) {
  if (!opened) return 0;
  auto* list = reinterpret_cast<PropertyEntry*>(GetWindowLongPtrA(page, GWLP_USERDATA));
  if (!list) return 0;
  if (result.outcome != snip::ScanOutcome::Accepted) {
    ShowRefusal(result.outcome);
    return 0;
  }
  if (!snip::StoreScanResult(list, result)) {
    ShowRefusal(snip::ScanOutcome::Unusable);
    return 0;
  }

  int32_t kbps = 0;
  int32_t variable = 0;
  ReadScanValue(list, kPropBitRate, &kbps);
  ReadScanValue(list, kPropVariableBitRate, &variable);
  SetDlgItemTextA(page, IDC_SPLIT_SOURCE, path);
  SetDlgItemTextA(page, IDC_SPLIT_BITRATE, snip::BitRateText(variable != 0, kbps).c_str());
  return 1;
}
