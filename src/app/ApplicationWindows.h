#pragma once

#include <memory>

#include "app/MainDialog.h"

namespace pavrel {

class TAboutDialog;
class TConfigurationDialog;
class TStopTrackingDialog;

// The program's four windows, created in the order the program entry gives (the main
// window first, its creation steps running before any other window exists) and destroyed in
// the reverse order. Only the main window is shown.
class TApplicationWindows {
 public:
  explicit TApplicationWindows(TMainDialogOptions Options = {});
  ~TApplicationWindows();
  TApplicationWindows(const TApplicationWindows&) = delete;
  TApplicationWindows& operator=(const TApplicationWindows&) = delete;

  std::unique_ptr<TMainDialog> MainDialog;
  std::unique_ptr<TAboutDialog> AboutDialog;
  std::unique_ptr<TConfigurationDialog> ConfigurationDialog;
  std::unique_ptr<TStopTrackingDialog> StopTrackingDialog;
};

}  // namespace pavrel
