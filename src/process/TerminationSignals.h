#pragma once

// SIGTERM, SIGINT, SIGHUP and SIGQUIT become bytes on a pipe that the program's own loop
// reads (the handler only writes), so that the program can end as it would on its own:
// tracking stopped, the button released, the store written. SIGPIPE is ignored, so that a
// closed output shows up as EPIPE where the program writes.

namespace pavrel {

class TTerminationSignals {
 public:
  // Installs the handlers; one instance at a time (std::logic_error otherwise).
  TTerminationSignals();
  // Puts back the dispositions that were there before.
  ~TTerminationSignals();
  TTerminationSignals(const TTerminationSignals&) = delete;
  TTerminationSignals& operator=(const TTerminationSignals&) = delete;

  // Readable once a signal has arrived (for poll or a socket notifier).
  int Fd() const { return FRead; }
  // The first signal that arrived, or 0; never blocks.
  int Received();

  // Ends the process as Signal would have, after the program has cleaned up: its default
  // action is raised again (SIGQUIT without a core file: the state was saved on purpose).
  [[noreturn]] static void ExitLike(int Signal);

 private:
  int FRead = -1;
  int FReceived = 0;
};

}  // namespace pavrel
