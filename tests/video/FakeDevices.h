#pragma once

// Capture devices for tests: a GstDeviceProvider registered in-process whose devices are
// GStreamer bins (live videotestsrc and friends) with chosen names and advertised caps.

#include <string>
#include <vector>

namespace pavrel::test {

struct TFakeDevice {
  std::string Name;     // display name
  std::string Caps;     // what the device advertises (gst_device_get_caps)
  std::string Element;  // gst-launch description of its element, one unlinked src pad
};

// Registers the provider once and hides every other device provider, so that the device
// monitor lists the fake devices only.
void InstallFakeDevices();
// The devices the next enumeration finds, in this order.
void SetFakeDevices(std::vector<TFakeDevice> Devices);

}  // namespace pavrel::test
