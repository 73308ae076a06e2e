#pragma once

// Child processes of test fixtures: found in PATH, started in their own process group with
// standard output and error going to a log, ended with the test.

#include <sys/types.h>

#include <string>
#include <vector>

namespace pavrel {

// The descriptor a child gets PassFd as (Xvfb's -displayfd 3).
inline constexpr int PassedFd = 3;

// The full path of Name in $PATH; throws std::runtime_error when there is none.
std::string FindInPath(const std::string& Name);

// Starts Program with Args and Env (NAME=VALUE each); stdin from /dev/null, stdout and stderr
// to LogFd, PassFd (if >= 0) inherited as PassedFd. The child gets SIGTERM when the thread
// that started it ends. Throws std::runtime_error when fork fails.
pid_t Spawn(const std::string& Program, const std::vector<std::string>& Args,
            const std::vector<std::string>& Env, int LogFd, int PassFd);

// Whether the child has ended (reaps it).
bool Exited(pid_t Pid);

// SIGTERM, then SIGKILL after 10 s; reaps the child. Nothing for Pid <= 0.
void StopProcess(pid_t Pid) noexcept;

}  // namespace pavrel
