#include "session.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>

#include "host_control.h"
#include "kernel_registry.h"
#include "registry_control.h"

namespace fs = std::filesystem;

namespace camlab {
namespace {

// Each model gets a driver key of its own, so that models never share what is kept between runs.
std::u16string DriverKeyName(const std::string& model) {
  return u"{camlab}\\" + host::Utf16FromUtf8(model);
}

std::string Trimmed(std::string text) {
  text.erase(0, text.find_first_not_of(" \t"));
  text.erase(text.find_last_not_of(" \t\r") + 1);
  return text;
}

// The file's logical lines: comments gone, a "\" ending a line joining the next one.
std::vector<std::string> LogicalLines(std::istream& in) {
  std::vector<std::string> lines;
  std::string pending;
  for (std::string line; std::getline(in, line);) {
    line = Trimmed(line.substr(0, line.find(';')));
    const bool joins = !line.empty() && line.back() == '\\';
    if (joins) line.pop_back();
    pending += line;
    if (joins) continue;
    if (!pending.empty()) lines.push_back(pending);
    pending.clear();
  }
  if (!pending.empty()) lines.push_back(pending);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  for (std::string field; std::getline(stream, field, ',');) fields.push_back(Trimmed(field));
  return fields;
}

// "HKR, %Model%, VersionCheck, 1, 42, 29, FF, 03": sensor id, version register, mask, version.
std::vector<std::string> SensorKnobs(const std::vector<std::string>& fields) {
  if (fields.size() < 8) return {};
  return {"sensor_id=0x" + fields[4], "sensor_version_reg=0x" + fields[5],
          "sensor_version=0x" + fields[7]};
}

// "HKR, CameraSetting, NAME, FLAGS, DATA...": a number or byte list of the device key's
// "CameraSetting". The driver reads these when the device starts, before it applies its setting
// files, so an installation writes them first.
std::optional<DeviceValue> DeviceValueOf(const std::vector<std::string>& fields) {
  if (fields.size() < 5 || fields[0] != "HKR" || fields[1] != "CameraSetting") return std::nullopt;
  DeviceValue value;
  value.name = fields[2];
  const unsigned long flags = std::strtoul(fields[3].c_str(), nullptr, 0);
  if (flags == 0x10001) {
    value.type = REG_DWORD;
    const auto number = static_cast<uint32_t>(std::strtoul(fields[4].c_str(), nullptr, 0));
    for (int shift = 0; shift < 32; shift += 8) value.data.push_back((number >> shift) & 0xFF);
  } else if (flags == 1) {
    value.type = REG_BINARY;
    for (size_t i = 4; i < fields.size(); ++i)
      value.data.push_back(static_cast<uint8_t>(std::strtoul(fields[i].c_str(), nullptr, 16)));
  } else {
    return std::nullopt;  // strings come with the setting file itself
  }
  return value;
}

std::string Quoted(const std::string& line) {
  size_t first = line.find('"');
  size_t last = line.rfind('"');
  return first != std::string::npos && last > first ? line.substr(first + 1, last - first - 1)
                                                    : std::string();
}

// The tool's own note in the driver key of the model file it installed there.
constexpr char16_t kModelStampValue[] = u"CamlabModelFile";

std::u16string ModelStamp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  char stamp[32];
  snprintf(stamp, sizeof stamp, "%016zx", std::hash<std::string>()(text));
  return host::Utf16FromUtf8(stamp);
}

// A string value's bytes as the registry keeps them: UTF-16 with its terminator.
std::vector<uint8_t> StringBytes(const std::u16string& text) {
  std::vector<uint8_t> bytes((text.size() + 1) * sizeof(char16_t));
  memcpy(bytes.data(), text.c_str(), bytes.size());
  return bytes;
}

std::string DriverImagePath(const std::string& variant) {
  return std::string(CAMLAB_DRIVER_DIR) + "/" + variant + ".drv";
}

}  // namespace

std::string ModelsFolder(const Options& options) {
  return options.modelsDir.empty() ? std::string(CAMLAB_MODELS_DIR) : options.modelsDir;
}

std::vector<ModelFile> FindModels(const std::string& folder, std::string* error) {
  std::vector<ModelFile> models;
  std::error_code code;
  fs::directory_iterator it(folder, code);
  if (code) {
    *error = "cannot read the models folder '" + folder + "': " + code.message();
    return models;
  }
  for (const fs::directory_entry& entry : it) {
    if (entry.path().extension() != ".settings") continue;
    ModelFile model;
    model.path = fs::absolute(entry.path()).string();
    model.variant = entry.path().stem().string();
    std::ifstream in(entry.path());
    for (const std::string& line : LogicalLines(in)) {
      const std::vector<std::string> fields = Fields(line);
      if (line.rfind("Model", 0) == 0 && line.find('=') != std::string::npos) {
        std::string key = Quoted(line);
        model.name = key.substr(key.rfind('\\') + 1);
        model.key = key;
      } else if (line.rfind("Name", 0) == 0 && line.find('=') != std::string::npos) {
        model.description = Quoted(line);
      } else if (line.rfind("Driver", 0) == 0 && line.find('=') != std::string::npos) {
        // A model of its own file names the driver image that serves it.
        model.variant = Quoted(line);
      } else if (fields.size() > 2 && fields[0] == "HKR" && fields[2] == "VersionCheck") {
        model.sensorKnobs = SensorKnobs(fields);
      } else if (std::optional<DeviceValue> value = DeviceValueOf(fields)) {
        model.deviceValues.push_back(*value);
      }
    }
    if (!model.name.empty()) models.push_back(model);
  }
  std::sort(models.begin(), models.end(),
            [](const ModelFile& a, const ModelFile& b) { return a.path < b.path; });
  return models;
}

std::unique_ptr<Session> Session::Open(const Options& options, std::string* error, int* exit) {
  *exit = kExitNotFound;
  std::vector<ModelFile> models = FindModels(ModelsFolder(options), error);
  if (models.empty()) {
    if (error->empty()) *error = "no camera models (*.settings) in '" + ModelsFolder(options) + "'";
    return nullptr;
  }
  auto found = std::find_if(models.begin(), models.end(),
                            [](const ModelFile& m) { return m.variant == "lynxcam"; });
  if (found == models.end()) found = models.begin();
  if (!options.model.empty()) {
    found = std::find_if(models.begin(), models.end(),
                         [&](const ModelFile& m) { return m.name == options.model; });
    if (found == models.end()) {
      *error = "unknown model '" + options.model + "' (camlab models lists them)";
      return nullptr;
    }
  }
  std::unique_ptr<Session> session(new Session);
  session->model_ = *found;

  *exit = kExitOutput;
  fs::path state = options.stateDir.empty() ? fs::path(".camlab") : fs::path(options.stateDir);
  std::error_code code;
  fs::create_directories(state, code);
  session->stateFile_ = (state / "registry.reg").string();
  if (fs::exists(session->stateFile_) && !host::LoadRegistryFile(session->stateFile_, error)) {
    *error = "the saved registry state cannot be read: " + *error;
    return nullptr;
  }

  // The installation: the model's setting file named in the device key, read at detection.
  *exit = kExitDevice;
  fs::path file(session->model_.path);
  host::SetFileRoot(file.parent_path().parent_path());
  const std::u16string keyName = DriverKeyName(session->model_.name);
  const std::u16string key = std::u16string(host::kDriverKeyRoot) + keyName;
  session->deviceKey_ = key;
  session->modelKey_ = key + u"\\" + host::Utf16FromUtf8(session->model_.key);
  // A model file changed since the state was kept starts from a clean driver key, so that keys it
  // no longer has (formats, modes) do not linger from the earlier file.
  const std::u16string stamp = ModelStamp(file);
  std::optional<host::RegistryValue> kept = host::ReadRegistryValue(key, kModelStampValue);
  if (kept && kept->data != StringBytes(stamp)) {
    host::DeleteRegistryTree(key);
  }
  host::WriteRegistryString(key, kModelStampValue, stamp);
  host::WriteRegistryString(
      key + u"\\CameraSetting", u"FileDir",
      u"\\DosDevices\\C:\\" + host::Utf16FromUtf8(file.parent_path().filename().string()));
  host::WriteRegistryString(key + u"\\CameraSetting\\CamSettingFiles", u"0",
                            host::Utf16FromUtf8(file.filename().string()));
  for (const DeviceValue& value : session->model_.deviceValues) {
    host::WriteRegistryValue(key + u"\\CameraSetting", host::Utf16FromUtf8(value.name), value.type,
                             value.data);
  }

  // The model's sensor first, so that the user's knobs can still change it.
  std::vector<std::string> knobs = session->model_.sensorKnobs;
  knobs.insert(knobs.end(), options.deviceKnobs.begin(), options.deviceKnobs.end());
  session->camera_ = camemu::EmulatedCamera::Create(knobs, error);
  if (!session->camera_) {
    *error = "emulated camera: " + *error;
    *exit = kExitUsage;
    return nullptr;
  }
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  session->image_ =
      host::DriverImage::LoadModule(DriverImagePath(session->model_.variant), &status, error);
  if (!session->image_ || !NT_SUCCESS(status)) {
    char text[96];
    snprintf(text, sizeof(text), "driver %s did not load (status 0x%08X) ",
             session->model_.variant.c_str(), static_cast<unsigned>(status));
    *error = text + *error;
    return nullptr;
  }
  session->device_ = host::ClientDevice::Open(*session->image_, session->camera_, &status, keyName);
  if (!NT_SUCCESS(status) || !session->device_->started()) {
    char text[96];
    snprintf(text, sizeof(text), "the camera did not start on %s (status 0x%08X)",
             session->model_.variant.c_str(), static_cast<unsigned>(status));
    *error = text;
    return nullptr;
  }
  *exit = kExitOk;
  return session;
}

Session::~Session() {
  device_.reset();
  std::string ignored;
  if (!stateFile_.empty()) host::SaveRegistryFile(stateFile_, &ignored);
}

std::vector<KS_DATARANGE_VIDEO> VideoRanges(const host::ClientDevice& device, ULONG pin) {
  std::vector<KS_DATARANGE_VIDEO> ranges;
  std::vector<host::PinDescription> pins = device.Pins();
  if (pin >= pins.size()) return ranges;
  for (const std::vector<uint8_t>& bytes : pins[pin].dataRanges) {
    if (bytes.size() < sizeof(KS_DATARANGE_VIDEO)) continue;
    KS_DATARANGE_VIDEO range;
    memcpy(&range, bytes.data(), sizeof(range));
    ranges.push_back(range);
  }
  return ranges;
}

std::string FourCCText(uint32_t fourcc) {
  std::string text;
  for (int shift = 0; shift < 32; shift += 8) {
    char c = static_cast<char>((fourcc >> shift) & 0xFF);
    text += (c >= 32 && c < 127) ? c : '?';
  }
  return text;
}

std::string FormatKind(const KS_BITMAPINFOHEADER& bitmap) {
  return bitmap.biCompression == 0 ? "RGB" + std::to_string(bitmap.biBitCount)
                                   : FourCCText(bitmap.biCompression);
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 32) continue;
    out += c;
  }
  return out;
}

}  // namespace camlab
