#include "process/TerminationSignals.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

namespace pavrel {

namespace {

constexpr std::array<int, 4> Handled{SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// Written by the handler only; -1 while no instance exists.
volatile std::sig_atomic_t WriteFd = -1;
std::array<struct sigaction, Handled.size()> Previous{};
struct sigaction PreviousPipe {};

void OnSignal(int Signal) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(Signal);
  // A full pipe already holds a signal: the loop will end the program either way.
  [[maybe_unused]] const ssize_t written = ::write(WriteFd, &byte, 1);
  errno = saved;
}

}  // namespace

TTerminationSignals::TTerminationSignals() {
  if (WriteFd != -1) {
    throw std::logic_error("termination signals are handled already");
  }
  std::array<int, 2> fds{};
  if (::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe for termination signals");
  }
  FRead = fds[0];
  WriteFd = fds[1];
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  // Blocking calls go on after the handler; the loop sees the byte at its next turn.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < Handled.size(); ++i) {
    sigaction(Handled[i], &action, &Previous[i]);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &PreviousPipe);
}

TTerminationSignals::~TTerminationSignals() {
  for (std::size_t i = 0; i < Handled.size(); ++i) {
    sigaction(Handled[i], &Previous[i], nullptr);
  }
  sigaction(SIGPIPE, &PreviousPipe, nullptr);
  const int writeFd = WriteFd;
  WriteFd = -1;
  ::close(writeFd);
  ::close(FRead);
}

int TTerminationSignals::Received() {
  unsigned char byte = 0;
  while (::read(FRead, &byte, 1) == 1) {
    if (FReceived == 0) {
      FReceived = byte;
    }
  }
  return FReceived;
}

void TTerminationSignals::ExitLike(int Signal) {
  if (Signal == SIGQUIT) {
    const struct rlimit noCore {};
    setrlimit(RLIMIT_CORE, &noCore);
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(Signal, &fallback, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, Signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  std::raise(Signal);
  // A signal whose default is to go on (none of ours) still ends the run.
  std::_Exit(128 + Signal);
}

}  // namespace pavrel
