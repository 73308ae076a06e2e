#include <stdexcept>
#include <vector>

#include "video/GstSupport.h"

namespace pavrel {

namespace {

// Devices of class "Video/Source" in the monitor's order.
std::vector<TDeviceMoniker> EnumerateDevices() {
  InitGStreamer();
  std::vector<TDeviceMoniker> result;
  TGstPtr<GstDeviceMonitor> monitor(gst_device_monitor_new());
  if (!monitor || gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr) == 0) {
    return result;
  }
  // Without start() the monitor probes every provider once, synchronously.
  TObjectListPtr devices(gst_device_monitor_get_devices(monitor.get()));
  for (GList* item = devices.get(); item; item = item->next) {
    GstDevice* device = GST_DEVICE(item->data);
    TDeviceMoniker moniker;
    TGCharPtr name(gst_device_get_display_name(device));
    moniker.DisplayName = name ? name.get() : "";
    std::string id;
    if (const TStructurePtr props(gst_device_get_properties(device)); props) {
      for (const char* key : {"device.path", "api.v4l2.path", "object.path", "object.serial"}) {
        if (const gchar* value = gst_structure_get_string(props.get(), key)) {
          id = value;
          break;
        }
      }
    }
    if (id.empty()) {
      TGCharPtr objectName(gst_object_get_name(GST_OBJECT(device)));
      id = objectName ? objectName.get() : moniker.DisplayName;
    }
    moniker.Id = id;
    auto handle = std::make_shared<TDeviceHandle>();
    handle->Device.reset(GST_DEVICE(gst_object_ref(device)));
    moniker.Device = std::move(handle);
    result.push_back(std::move(moniker));
  }
  return result;
}

}  // namespace

struct TSysDevEnum::TImpl {
  std::vector<std::string> Names;
};

TSysDevEnum::TSysDevEnum() : FImpl(std::make_unique<TImpl>()) {
  try {
    for (auto& device : EnumerateDevices()) {
      FImpl->Names.push_back(std::move(device.DisplayName));
    }
  } catch (const EDirectShowException&) {
    // No video service means no devices.
  }
}

TSysDevEnum::~TSysDevEnum() = default;

int TSysDevEnum::DeviceCount() const {
  return static_cast<int>(FImpl->Names.size());
}

std::string TSysDevEnum::DeviceName(int Index) const {
  if (Index < 0 || Index >= DeviceCount()) {
    throw std::out_of_range("No video device with index " + std::to_string(Index));
  }
  return FImpl->Names[static_cast<std::size_t>(Index)];
}

std::optional<TDeviceMoniker> TSysDevEnum::DeviceMoniker(int Index) const {
  if (Index < 0) {
    return std::nullopt;
  }
  auto devices = EnumerateDevices();
  if (Index >= static_cast<int>(devices.size())) {
    return std::nullopt;
  }
  return std::move(devices[static_cast<std::size_t>(Index)]);
}

}  // namespace pavrel
