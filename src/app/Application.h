#pragma once

// The program's run between start-up and the end of its event loop, shared by `pavrel` and
// the tests that run it as a process of its own.

#include <functional>

#include "app/MainDialog.h"

namespace pavrel {

class TTerminationSignals;

// Creates the windows, shows the main window, calls Started (if any) and runs the event loop
// until the main window has closed: by its close box or File > Exit, by a termination signal
// (the close steps run as for Exit), or by the session's end. When the toolkit ends the
// process because its display went away, the close steps still run, without the windows, so
// that the store is written. Answers the exit status; Signals.Received() then tells whether a
// signal ended the run. A QApplication must exist.
int RunApplication(TTerminationSignals& Signals,
                   const std::function<void(TMainDialog&)>& Started = {},
                   const TMainDialogOptions& Options = {});

}  // namespace pavrel
