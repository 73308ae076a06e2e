#include "app/ApplicationWindows.h"

#include <utility>

#include "app/AboutDialog.h"
#include "app/ConfigurationDialog.h"
#include "app/StopTrackingDialog.h"

namespace pavrel {

TApplicationWindows::TApplicationWindows(TMainDialogOptions Options)
    : MainDialog(std::make_unique<TMainDialog>(std::move(Options))),
      AboutDialog(std::make_unique<TAboutDialog>()),
      ConfigurationDialog(std::make_unique<TConfigurationDialog>()),
      StopTrackingDialog(std::make_unique<TStopTrackingDialog>()) {
  ConfigurationDialog->setAttribute(Qt::WA_QuitOnClose, false);
  MainDialog->SetAboutDialog(AboutDialog.get());
  MainDialog->SetConfigurationDialog(ConfigurationDialog.get());
  MainDialog->SetStopTrackingDialog(StopTrackingDialog.get());
}

TApplicationWindows::~TApplicationWindows() {
  StopTrackingDialog.reset();
  ConfigurationDialog.reset();
  AboutDialog.reset();
  MainDialog.reset();
}

}  // namespace pavrel
