#include "FakeDevices.h"

#include <gst/gst.h>

#include <mutex>
#include <stdexcept>

#include "video/GstSupport.h"

namespace pavrel::test {

namespace {

std::mutex DevicesLock;
std::vector<TFakeDevice> Devices;

constexpr const char* ProviderName = "pavrelfakevideo";

}  // namespace

}  // namespace pavrel::test

extern "C" {

struct PavrelFakeDevice {
  GstDevice parent;
  gchar* element;
};
struct PavrelFakeDeviceClass {
  GstDeviceClass parent_class;
};
struct PavrelFakeProvider {
  GstDeviceProvider parent;
};
struct PavrelFakeProviderClass {
  GstDeviceProviderClass parent_class;
};

G_DEFINE_TYPE(PavrelFakeDevice, pavrel_fake_device, GST_TYPE_DEVICE)
G_DEFINE_TYPE(PavrelFakeProvider, pavrel_fake_provider, GST_TYPE_DEVICE_PROVIDER)

static GstElement* pavrel_fake_device_create_element(GstDevice* device, const gchar* name) {
  auto* self = reinterpret_cast<PavrelFakeDevice*>(device);
  GError* error = nullptr;
  GstElement* bin = gst_parse_bin_from_description(self->element, TRUE, &error);
  const pavrel::TErrorPtr ignored(error);  // a bad description is a missing element
  if (bin && name) {
    gst_object_set_name(GST_OBJECT(bin), name);
  }
  return bin;
}

static void pavrel_fake_device_finalize(GObject* object) {
  g_free(reinterpret_cast<PavrelFakeDevice*>(object)->element);
  G_OBJECT_CLASS(pavrel_fake_device_parent_class)->finalize(object);
}

static void pavrel_fake_device_class_init(PavrelFakeDeviceClass* klass) {
  GST_DEVICE_CLASS(klass)->create_element = pavrel_fake_device_create_element;
  G_OBJECT_CLASS(klass)->finalize = pavrel_fake_device_finalize;
}

static void pavrel_fake_device_init(PavrelFakeDevice* self) {
  self->element = nullptr;
}

static GList* pavrel_fake_provider_probe(GstDeviceProvider*) {
  std::scoped_lock lock(pavrel::test::DevicesLock);
  GList* list = nullptr;
  for (const auto& entry : pavrel::test::Devices) {
    const pavrel::TCapsPtr caps(gst_caps_from_string(entry.Caps.c_str()));
    auto* device = static_cast<PavrelFakeDevice*>(
        g_object_new(pavrel_fake_device_get_type(), "display-name", entry.Name.c_str(), "caps",
                     caps.get(), "device-class", "Video/Source", nullptr));
    device->element = g_strdup(entry.Element.c_str());
    list = g_list_append(list, device);  // floating, as the real providers hand them over
  }
  return list;
}

static void pavrel_fake_provider_class_init(PavrelFakeProviderClass* klass) {
  GstDeviceProviderClass* provider = GST_DEVICE_PROVIDER_CLASS(klass);
  provider->probe = pavrel_fake_provider_probe;
  gst_device_provider_class_set_static_metadata(provider, "Pavrel fake cameras", "Video/Source",
                                                "Capture devices for tests", "Pavrel");
}

static void pavrel_fake_provider_init(PavrelFakeProvider*) {}

static gboolean pavrel_fake_plugin_init(GstPlugin* plugin) {
  return gst_device_provider_register(plugin, pavrel::test::ProviderName, GST_RANK_PRIMARY + 1,
                                      pavrel_fake_provider_get_type());
}

}  // extern "C"

namespace pavrel::test {

void InstallFakeDevices() {
  static std::once_flag once;
  std::call_once(once, [] {
    gst_init(nullptr, nullptr);
    if (!gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "pavrelfake",
                                    "Fake capture devices for tests", pavrel_fake_plugin_init,
                                    "1.0", "LGPL", "pavrel-tests", "pavrel", "none")) {
      throw std::runtime_error("Could not register the fake device provider");
    }
    // Real cameras on the test machine must not take part: rank NONE hides a provider
    // from device monitors.
    const pavrel::TObjectListPtr factories(
        gst_device_provider_factory_list_get_device_providers(GST_RANK_NONE));
    for (GList* item = factories.get(); item; item = item->next) {
      GstPluginFeature* feature = GST_PLUGIN_FEATURE(item->data);
      if (std::string(gst_plugin_feature_get_name(feature)) != ProviderName) {
        gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
      }
    }
  });
}

void SetFakeDevices(std::vector<TFakeDevice> NewDevices) {
  std::scoped_lock lock(DevicesLock);
  Devices = std::move(NewDevices);
}

}  // namespace pavrel::test
