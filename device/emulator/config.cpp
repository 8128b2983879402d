#include "config.h"

#include <charconv>
#include <functional>
#include <sstream>

namespace camemu {
namespace {

// Numbers are decimal or 0x-prefixed hexadecimal; nothing may follow the digits.
bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty()) return false;
  int base = 10;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    begin += 2;
  }
  uint64_t value = 0;
  auto [ptr, ec] = std::from_chars(begin, end, value, base);
  if (ec != std::errc() || ptr != end || value > max) return false;
  *out = value;
  return true;
}

bool ParseBool(const std::string& text, bool* out) {
  if (text == "1" || text == "on" || text == "true" || text == "yes") {
    *out = true;
    return true;
  }
  if (text == "0" || text == "off" || text == "false" || text == "no") {
    *out = false;
    return true;
  }
  return false;
}

// A knob: its key, what its value looks like (for messages and help), what it does, and the
// setter, which returns false when the value does not fit.
struct Knob {
  std::string key;
  std::string values;
  std::string help;
  std::function<bool(EmulatorConfig&, const std::string&)> apply;
};

template <typename T>
Knob NumberKnob(std::string key, uint64_t min, uint64_t max, std::string help,
                T EmulatorConfig::*field) {
  std::ostringstream range;
  range << min << ".." << max;
  return {std::move(key), range.str(), std::move(help),
          [=](EmulatorConfig& config, const std::string& text) {
            uint64_t value;
            if (!ParseUnsigned(text, max, &value) || value < min) return false;
            config.*field = static_cast<T>(value);
            return true;
          }};
}

Knob BoolKnob(std::string key, std::string help, bool EmulatorConfig::*field) {
  return {std::move(key), "on|off", std::move(help),
          [=](EmulatorConfig& config, const std::string& text) {
            return ParseBool(text, &(config.*field));
          }};
}

const char* const kFaultNames[kFaultCount] = {"refuse_alt",      "fail_request", "drop_packet",
                                              "short_packet",    "drop_frame",   "corrupt_frame",
                                              "corrupt_interval"};
const char* const kFaultHelp[kFaultCount] = {
    "alternate settings refused for lack of bandwidth",
    "vendor requests that stall",
    "isochronous data packets lost on the bus",
    "isochronous data packets cut short",
    "frames abandoned with a 12-byte packet",
    "compressed frames with damaged entropy-coded data",
    "compressed frames whose middle restart interval no decoder can decode",
};

std::vector<Knob> BuildKnobs() {
  using C = EmulatorConfig;
  std::vector<Knob> knobs = {
      NumberKnob("vendor_id", 0, 0xFFFF, "USB vendor id of the device descriptor", &C::vendorId),
      NumberKnob("product_id", 0, 0xFFFF, "USB product id", &C::productId),
      NumberKnob("device_release", 0, 0xFFFF, "bcdDevice of the device descriptor",
                 &C::deviceRelease),
      {"speed", "high|full", "bus speed: bit 4 of bridge register 0x0F and the default budget",
       [](C& config, const std::string& text) {
         if (text != "high" && text != "full") return false;
         config.highSpeed = text == "high";
         return true;
       }},
      NumberKnob(
          "bandwidth", 0, 65535,
          "isochronous bytes per service interval the bus can give (0: 3072 high, 1023 full speed)",
          &C::bandwidthBudget),
      {"alt_sizes", "eight sizes a,b,...",
       "isochronous packet size of alternate settings 0 to 7 (bytes per service interval)",
       [](C& config, const std::string& text) {
         std::array<uint16_t, 8> sizes{};
         std::istringstream in(text);
         std::string item;
         size_t count = 0;
         while (std::getline(in, item, ',')) {
           uint64_t value;
           if (count == sizes.size() || !ParseUnsigned(item, 3072, &value)) return false;
           sizes[count++] = static_cast<uint16_t>(value);
         }
         if (count != sizes.size() || sizes[0] != 0) return false;
         config.altPacketSizes = sizes;
         return true;
       }},
      NumberKnob(
          "packet_unit", 16, 1024,
          "header packet size: data packets are 1, 2 or 3 units (the driver's HeaderPerSize)",
          &C::packetUnit),
      NumberKnob("pipes", 1, 3, "pipes: 1 data, 2 data + interrupt, 3 data + interrupt + sync",
                 &C::pipeCount),
      NumberKnob("sensor_id", 0, 0xFF, "serial-bus device id of the sensor", &C::sensorDeviceId),
      NumberKnob("sensor_version_reg", 0, 0xFF, "sensor register holding the version byte",
                 &C::sensorVersionRegister),
      NumberKnob("sensor_version", 0, 0xFF, "sensor version byte", &C::sensorVersion),
      NumberKnob("sensor_minor_reg", 0, 0xFF, "sensor register holding the minor version byte",
                 &C::sensorMinorRegister),
      NumberKnob("sensor_minor", 0, 0xFF, "sensor minor version byte", &C::sensorMinorVersion),
      NumberKnob("sensor_width", 2, 2048, "sensor width: reset value of the frame width (even)",
                 &C::sensorWidth),
      NumberKnob("sensor_height", 2, 2048, "sensor height: reset value of the frame height (even)",
                 &C::sensorHeight),
      NumberKnob("busy_reads", 0, 1000,
                 "status reads of bridge register 0xF6 that show a sensor-bus transfer busy",
                 &C::busyReads),
      NumberKnob("light", 0, 1000, "scene illumination in percent", &C::lightPercent),
      {"pattern", "bars|gradient|checker|solid:RRGGBB|image:FILE",
       "the picture in front of the sensor (FILE: binary PPM, PGM or PNG)",
       [](C& config, const std::string& text) {
         bool known = text == "bars" || text == "gradient" || text == "checker" ||
                      (text.rfind("solid:", 0) == 0 && text.size() == 12) ||
                      (text.rfind("image:", 0) == 0 && text.size() > 6);
         if (!known) return false;
         config.pattern = text;
         return true;
       }},
      BoolKnob("counter", "draw the frame counter at the top left", &C::frameCounter),
      BoolKnob("marker", "draw a marker that moves by one step per frame", &C::movingMarker),
      {"fail_register", "0..255|none", "vendor requests at this bridge register index stall",
       [](C& config, const std::string& text) {
         if (text == "none") {
           config.faults.failRegister = -1;
           return true;
         }
         uint64_t value;
         if (!ParseUnsigned(text, 0xFF, &value)) return false;
         config.faults.failRegister = static_cast<int>(value);
         return true;
       }},
      {"slow_request_ms", "0..10000", "every vendor request takes this many milliseconds",
       [](C& config, const std::string& text) {
         uint64_t value;
         if (!ParseUnsigned(text, 10000, &value)) return false;
         config.faults.slowRequestMs = static_cast<uint32_t>(value);
         return true;
       }},
      {"stuck_busy", "on|off", "the sensor-bus busy bit stays set and transfers never happen",
       [](C& config, const std::string& text) {
         return ParseBool(text, &config.faults.stuckBusy);
       }},
      {"remove_after", "packets|never", "surprise removal after this many isochronous packets",
       [](C& config, const std::string& text) {
         if (text == "never") {
           config.faults.removeAfterPackets = -1;
           return true;
         }
         uint64_t value;
         if (!ParseUnsigned(text, UINT32_MAX, &value)) return false;
         config.faults.removeAfterPackets = static_cast<int64_t>(value);
         return true;
       }},
      {"seed", "0..4294967295", "seed of the random source behind the fault rates",
       [](C& config, const std::string& text) {
         uint64_t value;
         if (!ParseUnsigned(text, UINT32_MAX, &value)) return false;
         config.faults.seed = static_cast<uint32_t>(value);
         return true;
       }},
  };
  for (size_t i = 0; i < kFaultCount; ++i) {
    knobs.push_back({kFaultNames[i], "count", std::string("the next N ") + kFaultHelp[i],
                     [i](C& config, const std::string& text) {
                       uint64_t value;
                       if (!ParseUnsigned(text, UINT32_MAX, &value)) return false;
                       config.faults.oneShot[i] = static_cast<uint32_t>(value);
                       return true;
                     }});
    knobs.push_back({std::string(kFaultNames[i]) + "_rate", "0..100",
                     std::string("percentage of ") + kFaultHelp[i],
                     [i](C& config, const std::string& text) {
                       uint64_t value;
                       if (!ParseUnsigned(text, 100, &value)) return false;
                       config.faults.ratePercent[i] = static_cast<uint32_t>(value);
                       return true;
                     }});
  }
  return knobs;
}

const std::vector<Knob>& Knobs() {
  static const std::vector<Knob> knobs = BuildKnobs();
  return knobs;
}

}  // namespace

const char* FaultName(Fault fault) { return kFaultNames[static_cast<size_t>(fault)]; }

std::string ApplyKnob(EmulatorConfig& config, const std::string& knob) {
  size_t equals = knob.find('=');
  if (equals == std::string::npos || equals == 0) {
    return "malformed device knob '" + knob + "': expected KEY=VALUE";
  }
  std::string key = knob.substr(0, equals);
  std::string value = knob.substr(equals + 1);
  for (const Knob& entry : Knobs()) {
    if (entry.key != key) continue;
    EmulatorConfig candidate = config;
    if (!entry.apply(candidate, value)) {
      return "device knob '" + key + "' takes " + entry.values + ", not '" + value + "'";
    }
    config = std::move(candidate);
    return {};
  }
  return "unknown device knob '" + key + "'";
}

std::vector<std::string> KnobHelp() {
  std::vector<std::string> lines;
  for (const Knob& entry : Knobs())
    lines.push_back(entry.key + "=" + entry.values + "  " + entry.help);
  return lines;
}

}  // namespace camemu
