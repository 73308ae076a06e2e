// pavrel-track: the hand tracker without a window, one JSON object per frame on stdout.

#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "process/TerminationSignals.h"
#include "track/TrackOptions.h"

namespace {

// Waits for a termination signal and asks the run to stop; the run then releases the button
// and returns, and main ends the process as the signal would have.
class TSignalWatch {
 public:
  TSignalWatch(pavrel::TTerminationSignals& Signals, std::atomic<bool>& Stop) {
    if (::pipe(FQuit.data()) != 0) {
      FQuit = {-1, -1};
    }
    FThread = std::thread([&Signals, &Stop, quit = FQuit[0]] {
      std::array<pollfd, 2> fds{pollfd{Signals.Fd(), POLLIN, 0}, pollfd{quit, POLLIN, 0}};
      while (::poll(fds.data(), quit >= 0 ? 2 : 1, -1) >= 0 || errno == EINTR) {
        if ((fds[0].revents & POLLIN) != 0) {
          Stop = true;
          return;
        }
        if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
          return;
        }
      }
    });
  }
  ~TSignalWatch() {
    if (FQuit[1] >= 0) {
      ::close(FQuit[1]);  // wakes the thread
    }
    FThread.join();
    if (FQuit[0] >= 0) {
      ::close(FQuit[0]);
    }
  }
  TSignalWatch(const TSignalWatch&) = delete;
  TSignalWatch& operator=(const TSignalWatch&) = delete;

 private:
  std::array<int, 2> FQuit{-1, -1};
  std::thread FThread;
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  pavrel::TTerminationSignals termination;
  std::atomic<bool> stop{false};
  int status = 0;
  bool outputClosed = false;
  {
    TSignalWatch watch(termination, stop);
    try {
      status = pavrel::track::TrackMain(arguments, std::cout, std::cerr, &stop);
    } catch (const pavrel::track::EOutputClosed&) {
      outputClosed = true;
    } catch (const std::exception& e) {
      std::cerr << "pavrel-track: " << e.what() << '\n';
      status = 1;
    }
  }
  if (const int signal = termination.Received(); signal != 0) {
    pavrel::TTerminationSignals::ExitLike(signal);
  }
  if (outputClosed) {
    // As if the write had been killed by SIGPIPE, which the shell does not report.
    pavrel::TTerminationSignals::ExitLike(SIGPIPE);
  }
  return status;
}
