// A camera session: the driver image started, the emulated camera plugged in with the user's
// knobs, and its driver key filled as an installation would (the model's setting file named under
// "CamSettingFiles"), with the registry hive kept in the state folder between runs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli_options.h"
#include "client_device.h"
#include "emulated_camera.h"

namespace camlab {

// A value of the device key's "CameraSetting" that the model's installation writes.
struct DeviceValue {
  std::string name;
  ULONG type = 0;
  std::vector<uint8_t> data;
};

struct ModelFile {
  std::string path;         // the setting file
  std::string variant;      // lynxcam or ibexcam: the file's "Driver" string, else its stem
  std::string key;          // the model key below the device key: CameraSetting\SupportCamera\NAME
  std::string name;         // the model key's last component
  std::string description;  // the "Name" string of the file
  // The emulated sensor knobs that make the camera answer the model's "VersionCheck".
  std::vector<std::string> sensorKnobs;
  std::vector<DeviceValue> deviceValues;
};

// Every *.settings file of the folder, sorted by name. The default model is the first lynxcam one.
std::vector<ModelFile> FindModels(const std::string& folder, std::string* error);
std::string ModelsFolder(const Options& options);

class Session {
 public:
  // Null with a message and an exit status when any layer fails.
  static std::unique_ptr<Session> Open(const Options& options, std::string* error, int* exit);
  ~Session();

  host::ClientDevice& device() { return *device_; }
  const ModelFile& model() const { return model_; }
  camemu::EmulatedCamera& camera() { return *camera_; }
  // The device's driver key in the registry, and the model key below it (its stream, format and
  // mode keys).
  const std::u16string& deviceKey() const { return deviceKey_; }
  const std::u16string& modelKey() const { return modelKey_; }

 private:
  Session() = default;
  std::string stateFile_;
  ModelFile model_;
  std::u16string deviceKey_;
  std::u16string modelKey_;
  std::unique_ptr<host::DriverImage> image_;
  std::shared_ptr<camemu::EmulatedCamera> camera_;
  std::unique_ptr<host::ClientDevice> device_;
};

// The pins' video formats, as KS_DATARANGE_VIDEO records in table order.
std::vector<KS_DATARANGE_VIDEO> VideoRanges(const host::ClientDevice& device, ULONG pin);
std::string FourCCText(uint32_t fourcc);
// How listings name a format: its FourCC, or RGB and the bit count when uncompressed.
std::string FormatKind(const KS_BITMAPINFOHEADER& bitmap);
std::string JsonEscape(const std::string& text);

int RunModels(const Options& options);
int RunFormats(const Options& options);
int RunCapture(const Options& options);

}  // namespace camlab
