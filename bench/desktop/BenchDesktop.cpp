// How long a desktop action takes from the translator's call until the request has left the
// process (written to the socket or device), per backend that runs here: X11 on a private
// Xvfb, wlroots on a private headless sway, uinput's writer into a pipe (no /dev/uinput here).
// Each run times 10,000 single actions and reports their p50 and p99 in microseconds.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <QDBusConnection>
#include <QThread>

#include "desktop/FakePortal.h"
#include "desktop/PortalDesktop.h"
#include "desktop/UinputDesktop.h"
#include "desktop/WlrootsDesktop.h"
#include "desktop/X11Desktop.h"
#include "support/SwayFixture.h"
#include "support/XServerFixture.h"

namespace pavrel {
namespace {

constexpr int Actions = 10000;
// One action every 250 us: 4,000 a second, far above a camera's 30 frames, yet slow enough
// for the server to read along, so the figures show requests written, not kept back.
constexpr auto Pace = std::chrono::microseconds(250);

// Times Action(i) for i in 0..Actions-1, one by one; sets p50_us and p99_us.
void Percentiles(benchmark::State& State, const std::function<void(int)>& Action) {
  std::vector<double> micros;
  micros.reserve(Actions);
  for (auto _ : State) {
    micros.clear();
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < Actions; ++i) {
      std::this_thread::sleep_until(next);
      next += Pace;
      const auto start = std::chrono::steady_clock::now();
      Action(i);
      micros.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
              .count());
    }
  }
  std::sort(micros.begin(), micros.end());
  State.counters["p50_us"] = micros[micros.size() / 2];
  State.counters["p99_us"] = micros[micros.size() * 99 / 100];
  State.counters["max_us"] = micros.back();
}

// Pointer moves over the screen, or the left button pressed and released in turn.
void Move(TDesktop& Desktop, int I) {
  Desktop.MovePointer((I * 7919) % 65536, (I * 104729) % 65536);
}
void Button(TDesktop& Desktop, int I) {
  if (I % 2 == 0) {
    Desktop.LeftButtonDown();
  } else {
    Desktop.LeftButtonUp();
  }
}

TXServerFixture& XServer() {
  static TXServerFixture server;
  return server;
}
TSwayFixture& Sway() {
  static TSwayFixture sway;
  return sway;
}

template <void (*Act)(TDesktop&, int)>
void BM_X11(benchmark::State& State) {
  TX11Desktop desktop(XServer().Display());
  Percentiles(State, [&](int I) { Act(desktop, I); });
}

template <void (*Act)(TDesktop&, int)>
void BM_Wlroots(benchmark::State& State) {
  TWlrootsDesktop desktop(Sway().WaylandSocket());
  Percentiles(State, [&](int I) { Act(desktop, I); });
  State.counters["kept_back"] = static_cast<double>(desktop.KeptBackRequests());
}

template <void (*Act)(TDesktop&, int)>
void BM_UinputPipe(benchmark::State& State) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    State.SkipWithError("pipe2 failed");
    return;
  }
  // A reader that keeps the pipe from filling, as the kernel would.
  ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
  TUinputDesktop desktop(TDesktopFamily::Other, fds[1], fds[1]);
  Percentiles(State, [&](int I) {
    Act(desktop, I);
    char sink[256];
    while (::read(fds[0], sink, sizeof sink) > 0) {
    }
  });
  ::close(fds[0]);
  ::close(fds[1]);
}

// The portal's path runs through the backend's thread, Qt's D-Bus thread and dbus-daemon; the
// time is taken until the fake portal, on its own connection and thread in this process, has
// the call: an upper bound of the time to leave the process.
template <void (*Act)(TDesktop&, int)>
void BM_Portal(benchmark::State& State) {
  TFakePortalConfig config;
  config.OwnProcess = false;
  TFakePortalBus bus(config);
  std::atomic<int> received{0};
  QThread portalThread;
  auto* portal =
      new TFakePortal(QDBusConnection::connectToBus(QString::fromStdString(bus.Address()),
                                                    QStringLiteral("bench-portal")),
                      config);
  portal->Recorded = [&received](const QString& Line) {
    if (Line.startsWith(QStringLiteral("Notify"))) {
      received.fetch_add(1);
    }
  };
  portal->moveToThread(&portalThread);
  QObject::connect(&portalThread, &QThread::finished, portal, &QObject::deleteLater);
  portalThread.start();
  {
    TPortalOptions options;
    options.BusAddress = bus.Address();
    TPortalDesktop desktop(TDesktopFamily::Gnome, options);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (desktop.State() == TPortalState::Starting &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (desktop.State() != TPortalState::Active) {
      State.SkipWithError(("the portal session did not start: " + desktop.Failure()).c_str());
    } else {
      // Beside it, how long the caller (the streaming thread) itself is held.
      std::vector<double> calls;
      calls.reserve(Actions);
      Percentiles(State, [&](int I) {
        const int before = received.load();
        const auto start = std::chrono::steady_clock::now();
        Act(desktop, I);
        calls.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
        while (received.load() == before) {
          std::this_thread::yield();
        }
      });
      std::sort(calls.begin(), calls.end());
      State.counters["call_p50_us"] = calls[calls.size() / 2];
      State.counters["call_p99_us"] = calls[calls.size() * 99 / 100];
    }
  }
  portalThread.quit();
  portalThread.wait();
  QDBusConnection::disconnectFromBus(QStringLiteral("bench-portal"));
}

BENCHMARK(BM_X11<Move>)->Name("X11/move")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_X11<Button>)->Name("X11/button")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wlroots<Move>)->Name("wlroots/move")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wlroots<Button>)->Name("wlroots/button")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UinputPipe<Move>)
    ->Name("uinput_pipe/move")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Portal<Move>)->Name("portal/move")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Portal<Button>)->Name("portal/button")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UinputPipe<Button>)
    ->Name("uinput_pipe/button")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pavrel

BENCHMARK_MAIN();
