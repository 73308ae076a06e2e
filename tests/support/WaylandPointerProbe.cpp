// A small Wayland client for the desktop tests: one window (full screen, or tiled with
// --tiled) with the given app_id, that prints every pointer event it receives, one a line:
//   ready | enter X Y | motion X Y | button CODE STATE | axis AXIS VALUE | discrete AXIS N
// Positions are surface pixels. Ends when the compositor goes away or on SIGTERM.

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "xdg-shell-client-protocol.h"

namespace {

struct TProbe {
  wl_compositor* Compositor = nullptr;
  wl_shm* Shm = nullptr;
  wl_seat* Seat = nullptr;
  wl_pointer* Pointer = nullptr;
  xdg_wm_base* WmBase = nullptr;
  wl_surface* Surface = nullptr;
  xdg_surface* XdgSurface = nullptr;
  xdg_toplevel* Toplevel = nullptr;
  int Width = 0;
  int Height = 0;
  bool Ready = false;
};

void Say(const std::string& Line) {
  std::fputs((Line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

int Px(wl_fixed_t Value) {
  return static_cast<int>(std::floor(wl_fixed_to_double(Value)));
}

wl_buffer* WhiteBuffer(TProbe& P, int Width, int Height) {
  const int stride = Width * 4;
  const int size = stride * Height;
  const int fd = memfd_create("pavrel-probe", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, size) != 0) {
    return nullptr;
  }
  void* data =
      mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data != MAP_FAILED) {
    std::memset(data, 0xff, static_cast<std::size_t>(size));
    munmap(data, static_cast<std::size_t>(size));
  }
  wl_shm_pool* pool = wl_shm_create_pool(P.Shm, fd, size);
  wl_buffer* buffer =
      wl_shm_pool_create_buffer(pool, 0, Width, Height, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return buffer;
}

const wl_pointer_listener PointerListener = {
    [](void*, wl_pointer*, std::uint32_t, wl_surface*, wl_fixed_t X, wl_fixed_t Y) {
      Say("enter " + std::to_string(Px(X)) + " " + std::to_string(Px(Y)));
    },
    [](void*, wl_pointer*, std::uint32_t, wl_surface*) { Say("leave"); },
    [](void*, wl_pointer*, std::uint32_t, wl_fixed_t X, wl_fixed_t Y) {
      Say("motion " + std::to_string(Px(X)) + " " + std::to_string(Px(Y)));
    },
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t Button,
       std::uint32_t State) {
      Say("button " + std::to_string(Button) + " " + std::to_string(State));
    },
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t Axis, wl_fixed_t Value) {
      Say("axis " + std::to_string(Axis) + " " + std::to_string(wl_fixed_to_double(Value)));
    },
    [](void*, wl_pointer*) {},                 // frame
    [](void*, wl_pointer*, std::uint32_t) {},  // axis_source
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
    [](void*, wl_pointer*, std::uint32_t Axis, std::int32_t Discrete) {
      Say("discrete " + std::to_string(Axis) + " " + std::to_string(Discrete));
    },
    nullptr,  // axis_value120: version 8, not bound
};

const wl_seat_listener SeatListener = {
    [](void* Data, wl_seat* Seat, std::uint32_t Capabilities) {
      auto* p = static_cast<TProbe*>(Data);
      // The seat loses its pointer when the last pointer device goes (a virtual pointer's
      // client ends); a new device brings a new wl_pointer.
      const bool has = (Capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
      if (has && p->Pointer == nullptr) {
        p->Pointer = wl_seat_get_pointer(Seat);
        wl_pointer_add_listener(p->Pointer, &PointerListener, p);
      } else if (!has && p->Pointer != nullptr) {
        wl_pointer_release(p->Pointer);
        p->Pointer = nullptr;
      }
    },
    [](void*, wl_seat*, const char*) {},
};

const xdg_wm_base_listener WmBaseListener = {
    [](void*, xdg_wm_base* Base, std::uint32_t Serial) { xdg_wm_base_pong(Base, Serial); }};

const xdg_toplevel_listener ToplevelListener = {
    [](void* Data, xdg_toplevel*, std::int32_t Width, std::int32_t Height, wl_array*) {
      auto* p = static_cast<TProbe*>(Data);
      p->Width = Width;
      p->Height = Height;
    },
    [](void*, xdg_toplevel*) {},
    nullptr,  // configure_bounds and wm_capabilities: later versions, not bound
    nullptr,
};

const xdg_surface_listener SurfaceListener = {
    [](void* Data, xdg_surface* Surface, std::uint32_t Serial) {
      auto* p = static_cast<TProbe*>(Data);
      xdg_surface_ack_configure(Surface, Serial);
      const int width = p->Width > 0 ? p->Width : 320;
      const int height = p->Height > 0 ? p->Height : 240;
      wl_surface_attach(p->Surface, WhiteBuffer(*p, width, height), 0, 0);
      wl_surface_damage(p->Surface, 0, 0, width, height);
      wl_surface_commit(p->Surface);
      if (!p->Ready) {
        p->Ready = true;
        Say("ready " + std::to_string(width) + " " + std::to_string(height));
      }
    },
};

const wl_registry_listener RegistryListener = {
    [](void* Data, wl_registry* Registry, std::uint32_t Name, const char* Interface,
       std::uint32_t Version) {
      auto* p = static_cast<TProbe*>(Data);
      const std::string name = Interface;
      if (name == wl_compositor_interface.name) {
        p->Compositor = static_cast<wl_compositor*>(
            wl_registry_bind(Registry, Name, &wl_compositor_interface, 4));
      } else if (name == wl_shm_interface.name) {
        p->Shm = static_cast<wl_shm*>(wl_registry_bind(Registry, Name, &wl_shm_interface, 1));
      } else if (name == wl_seat_interface.name && p->Seat == nullptr) {
        p->Seat = static_cast<wl_seat*>(
            wl_registry_bind(Registry, Name, &wl_seat_interface, Version < 5 ? Version : 5));
        wl_seat_add_listener(p->Seat, &SeatListener, p);
      } else if (name == xdg_wm_base_interface.name) {
        p->WmBase =
            static_cast<xdg_wm_base*>(wl_registry_bind(Registry, Name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(p->WmBase, &WmBaseListener, p);
      }
    },
    [](void*, wl_registry*, std::uint32_t) {},
};

}  // namespace

int main(int argc, char** argv) {
  const std::string appId = argc > 1 ? argv[1] : "pavrel-probe";
  const bool tiled = argc > 2 && std::string(argv[2]) == "--tiled";
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "probe: no Wayland display\n");
    return 1;
  }
  TProbe p;
  wl_registry_add_listener(wl_display_get_registry(display), &RegistryListener, &p);
  wl_display_roundtrip(display);
  if (p.Compositor == nullptr || p.Shm == nullptr || p.WmBase == nullptr) {
    std::fprintf(stderr, "probe: the compositor lacks wl_compositor, wl_shm or xdg_wm_base\n");
    return 1;
  }
  p.Surface = wl_compositor_create_surface(p.Compositor);
  p.XdgSurface = xdg_wm_base_get_xdg_surface(p.WmBase, p.Surface);
  xdg_surface_add_listener(p.XdgSurface, &SurfaceListener, &p);
  p.Toplevel = xdg_surface_get_toplevel(p.XdgSurface);
  xdg_toplevel_add_listener(p.Toplevel, &ToplevelListener, &p);
  xdg_toplevel_set_app_id(p.Toplevel, appId.c_str());
  xdg_toplevel_set_title(p.Toplevel, appId.c_str());
  if (!tiled) {
    xdg_toplevel_set_fullscreen(p.Toplevel, nullptr);
  }
  wl_surface_commit(p.Surface);
  while (wl_display_dispatch(display) >= 0) {
  }
  return 0;
}
