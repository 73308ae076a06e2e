// The chooser: every combination of session variables and backend availabilities picks the
// documented backend with the documented status line, and the shortcuts follow the desktop.

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "desktop/DesktopChoice.h"

namespace pavrel {
namespace {

using K = TDesktopKind;

// The session variable sets worth telling apart, with the session they make.
struct TSessionCase {
  const char* Name;
  TSessionFacts Facts;
  TSessionKind Session;
  std::vector<K> Order;
};

const std::vector<TSessionCase>& Sessions() {
  static const std::vector<TSessionCase> cases = {
      {"GNOME Wayland",
       {"wayland", "wayland-0", ":0", "GNOME"},
       TSessionKind::Wayland,
       {K::Portal, K::Uinput, K::Wlroots, K::X11}},
      {"Ubuntu GNOME Wayland",
       {"wayland", "wayland-0", "", "ubuntu:GNOME"},
       TSessionKind::Wayland,
       {K::Portal, K::Uinput, K::Wlroots, K::X11}},
      {"KDE Wayland",
       {"wayland", "wayland-0", ":1", "KDE"},
       TSessionKind::Wayland,
       {K::Portal, K::Uinput, K::Wlroots, K::X11}},
      {"sway",
       {"wayland", "wayland-1", "", "sway"},
       TSessionKind::Wayland,
       {K::Wlroots, K::Portal, K::Uinput, K::X11}},
      {"Wayland without a session type",
       {"", "wayland-1", ":0", ""},
       TSessionKind::Wayland,
       {K::Wlroots, K::Portal, K::Uinput, K::X11}},
      {"tty session type, Wayland display",
       {"tty", "wayland-1", "", "Hyprland"},
       TSessionKind::Wayland,
       {K::Wlroots, K::Portal, K::Uinput, K::X11}},
      {"GNOME X11", {"x11", "", ":0", "GNOME"}, TSessionKind::X11, {K::X11, K::Uinput, K::Portal}},
      {"X11 type beside a stray WAYLAND_DISPLAY",
       {"x11", "wayland-0", ":0", "KDE"},
       TSessionKind::X11,
       {K::X11, K::Uinput, K::Portal}},
      {"DISPLAY only", {"", "", ":3", ""}, TSessionKind::X11, {K::X11, K::Uinput, K::Portal}},
      {"nothing", {"", "", "", ""}, TSessionKind::None, {K::Uinput, K::X11, K::Wlroots, K::Portal}},
      {"text console",
       {"tty", "", "", ""},
       TSessionKind::None,
       {K::Uinput, K::X11, K::Wlroots, K::Portal}},
  };
  return cases;
}

std::string Reason(K Kind) {
  return std::string(DesktopKindName(Kind)) + " is off";
}

TEST(DesktopChoice, NamesRoundTripAndOtherTextIsRefused) {
  for (const K kind : {K::Auto, K::X11, K::Portal, K::Wlroots, K::Uinput}) {
    EXPECT_EQ(ParseDesktopKind(DesktopKindName(kind)), kind);
  }
  for (const char* bad : {"", "X11", "wayland", "auto ", "xorg"}) {
    EXPECT_FALSE(ParseDesktopKind(bad)) << bad;
  }
}

TEST(DesktopChoice, SessionVariablesGiveTheDocumentedSessionAndOrder) {
  for (const TSessionCase& c : Sessions()) {
    EXPECT_EQ(SessionKind(c.Facts), c.Session) << c.Name;
    EXPECT_EQ(AutoOrder(c.Facts), c.Order) << c.Name;
  }
}

// Every subset of the four backends available, in every session: auto picks the first
// available one in the session's order, tries none after it, and says so; with none, it
// names each reason.
TEST(DesktopChoice, AutoPicksTheFirstAvailableBackendForEveryCombination) {
  for (const TSessionCase& c : Sessions()) {
    for (unsigned mask = 0; mask < 16; ++mask) {
      std::set<K> available;
      for (unsigned bit = 0; bit < 4; ++bit) {
        if ((mask & (1u << bit)) != 0) {
          available.insert(AllDesktopBackends[bit]);
        }
      }
      std::vector<K> tried;
      const TDesktopDecision d = DecideDesktop(K::Auto, c.Facts, [&](K Kind) {
        tried.push_back(Kind);
        return available.contains(Kind) ? TDesktopProbe{true, "", ""}
                                        : TDesktopProbe{false, Reason(Kind), ""};
      });
      std::optional<K> expected;
      std::vector<K> expectedTried;
      for (const K kind : c.Order) {
        expectedTried.push_back(kind);
        if (available.contains(kind)) {
          expected = kind;
          break;
        }
      }
      const std::string where = std::string(c.Name) + ", mask " + std::to_string(mask);
      EXPECT_EQ(d.Kind, expected) << where;
      EXPECT_EQ(tried, expectedTried) << where;
      ASSERT_EQ(d.Status.rfind("Desktop: ", 0), 0u) << d.Status;
      if (!expected) {
        const std::string hint = c.Session == TSessionKind::Wayland
                                     ? "allow remote control, or install the uinput rule"
                                     : "no X display, and /dev/uinput is not writable";
        EXPECT_EQ(d.Status.rfind("Desktop: none, pointer actions unavailable: " + hint, 0), 0u)
            << where << ": " << d.Status;
        for (const K kind : c.Order) {
          EXPECT_NE(d.Status.find(Reason(kind)), std::string::npos) << where << ": " << d.Status;
        }
      } else if (*expected == K::X11 && c.Session == TSessionKind::Wayland) {
        EXPECT_EQ(d.Status, "Desktop: X11 through XWayland, only XWayland windows respond")
            << where;
      } else {
        EXPECT_EQ(d.Status.find("none"), std::string::npos) << where << ": " << d.Status;
      }
    }
  }
}

TEST(DesktopChoice, StatusLinesNameTheBackendAndItsLimits) {
  const TSessionFacts gnome{"wayland", "wayland-0", "", "GNOME"};
  const TSessionFacts kde{"wayland", "wayland-0", "", "KDE"};
  const TSessionFacts sway{"wayland", "wayland-1", "", "sway"};
  const TSessionFacts x11{"x11", "", ":0", "XFCE"};
  EXPECT_EQ(WorkingStatus(K::Portal, gnome, {true, "", "window actions by GNOME shortcut"}),
            "Desktop: GNOME portal, window actions by GNOME shortcut");
  EXPECT_EQ(WorkingStatus(K::Portal, kde, {true, "", ""}), "Desktop: KDE Plasma portal");
  EXPECT_EQ(WorkingStatus(K::Wlroots, sway, {true, "", ""}), "Desktop: wlroots virtual pointer");
  EXPECT_EQ(WorkingStatus(K::Wlroots, sway, {true, "", "no window actions"}),
            "Desktop: wlroots virtual pointer, no window actions");
  EXPECT_EQ(WorkingStatus(K::X11, x11, {true, "", ""}), "Desktop: X11");
  EXPECT_EQ(WorkingStatus(K::Uinput, x11, {true, "", ShortcutLimits(DesktopFamily(x11))}),
            "Desktop: uinput virtual devices, next window by Alt+Tab, no minimise");
}

TEST(DesktopChoice, AnExplicitChoiceIsTriedAloneAndItsFailureNamed) {
  const TSessionFacts sway{"wayland", "wayland-1", "", "sway"};
  for (const K kind : AllDesktopBackends) {
    std::vector<K> tried;
    const TDesktopDecision failed = DecideDesktop(kind, sway, [&](K Kind) {
      tried.push_back(Kind);
      return TDesktopProbe{false, "refused", ""};
    });
    EXPECT_EQ(tried, std::vector<K>{kind});
    EXPECT_FALSE(failed.Kind);
    EXPECT_EQ(failed.Status, "Desktop: none, pointer actions unavailable: " +
                                 std::string(DesktopKindCaption(kind)) + ": refused");
    const TDesktopDecision worked = DecideDesktop(kind, sway, [](K) {
      return TDesktopProbe{true, "", ""};
    });
    EXPECT_EQ(worked.Kind, kind);
  }
}

TEST(DesktopChoice, WindowShortcutsFollowTheDesktop) {
  const auto family = [](const char* Desktop) {
    return DesktopFamily(TSessionFacts{"wayland", "w", "", Desktop});
  };
  EXPECT_EQ(family("GNOME"), TDesktopFamily::Gnome);
  EXPECT_EQ(family("ubuntu:GNOME"), TDesktopFamily::Gnome);
  EXPECT_EQ(family("GNOME-Classic:GNOME"), TDesktopFamily::Gnome);
  EXPECT_EQ(family("KDE"), TDesktopFamily::Kde);
  EXPECT_EQ(family("sway"), TDesktopFamily::Other);
  EXPECT_EQ(family("GNOMEISH"), TDesktopFamily::Other);
  EXPECT_EQ(family(""), TDesktopFamily::Other);

  const TWindowShortcuts gnome = WindowShortcutsFor(TDesktopFamily::Gnome);
  EXPECT_EQ(gnome.Minimize, (std::vector<int>{KEY_LEFTMETA, KEY_H}));
  EXPECT_EQ(gnome.NextWindow, (std::vector<int>{KEY_LEFTALT, KEY_ESC}));
  const TWindowShortcuts kde = WindowShortcutsFor(TDesktopFamily::Kde);
  EXPECT_EQ(kde.Minimize, (std::vector<int>{KEY_LEFTMETA, KEY_PAGEDOWN}));
  EXPECT_EQ(kde.NextWindow, (std::vector<int>{KEY_LEFTALT, KEY_TAB}));
  const TWindowShortcuts other = WindowShortcutsFor(TDesktopFamily::Other);
  EXPECT_TRUE(other.Minimize.empty());
  EXPECT_EQ(other.NextWindow, (std::vector<int>{KEY_LEFTALT, KEY_TAB}));
}

}  // namespace
}  // namespace pavrel
