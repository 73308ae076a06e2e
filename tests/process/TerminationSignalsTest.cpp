// Termination signals reach the program's loop as a readable pipe, a closed pipe shows as
// EPIPE, and the process ends as the signal would once the program has cleaned up.

#include "process/TerminationSignals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace pavrel {
namespace {

bool Readable(int Fd) {
  pollfd watch{Fd, POLLIN, 0};
  return ::poll(&watch, 1, 0) == 1 && (watch.revents & POLLIN) != 0;
}

TEST(TerminationSignals, EachSignalMakesThePipeReadableAndTheFirstOneIsKept) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    TTerminationSignals termination;
    EXPECT_FALSE(Readable(termination.Fd()));
    EXPECT_EQ(termination.Received(), 0);
    ASSERT_EQ(std::raise(signal), 0);  // the process goes on: only a byte was written
    EXPECT_TRUE(Readable(termination.Fd()));
    std::raise(SIGTERM == signal ? SIGINT : SIGTERM);
    EXPECT_EQ(termination.Received(), signal);
    EXPECT_FALSE(Readable(termination.Fd()));
    EXPECT_EQ(termination.Received(), signal);
  }
}

TEST(TerminationSignals, OneAtATimeAndTheOldDispositionsComeBack) {
  {
    TTerminationSignals termination;
    EXPECT_THROW(TTerminationSignals second, std::logic_error);
  }
  struct sigaction now {};
  sigaction(SIGPIPE, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  TTerminationSignals again;  // allowed once the first is gone
}

TEST(TerminationSignals, AClosedPipeIsAnErrorNotTheEnd) {
  TTerminationSignals termination;
  std::array<int, 2> fds{};
  ASSERT_EQ(::pipe(fds.data()), 0);
  ::close(fds[0]);
  const char byte = 'x';
  EXPECT_EQ(::write(fds[1], &byte, 1), -1);
  EXPECT_EQ(errno, EPIPE);
  ::close(fds[1]);
}

TEST(TerminationSignals, ExitLikeEndsTheProcessAsTheSignalWould) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE}) {
    const pid_t child = ::fork();
    if (child == 0) {
      TTerminationSignals termination;  // handlers in place, as in the programs
      TTerminationSignals::ExitLike(signal);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status)) << signal;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_FALSE(WCOREDUMP(status)) << signal;
  }
}

}  // namespace
}  // namespace pavrel
