#include "core/smart.h"

#include "core/error_handler.h"
#include "library/loader.h"

namespace core {

std::string SmartModelFromIdentify(const uint8_t* identify, size_t size) {
  if (!identify || size < 94) return std::string();
  std::string model(reinterpret_cast<const char*>(identify) + 54, 40);
  const size_t first = model.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const size_t last = model.find_last_not_of(' ');
  return model.substr(first, last - first + 1);
}

int32_t SmartAttributeCount(const uint8_t* attributes, size_t size) {
  int32_t count = 0;
  if (!attributes) return 0;
  for (size_t s = 2; s <= 250 && s < size; s += 12)
    if (attributes[s] != 0) ++count;
  return count;
}

bool Smart(int32_t handle, std::string& model, std::vector<uint8_t>& attributes,
           int32_t& count) {
  ProcScope scope("Smart");
  count = 0;
  model.clear();
  // The identify data is 512 bytes; the library fills what it has.
  std::vector<uint8_t> identify(512, 0);
  std::vector<uint8_t> thresholds(512, 0);
  attributes.assign(512, 0);
  if (qlib::Smart(handle, identify.data(), attributes.data(), thresholds.data()) == 0)
    return false;
  model = SmartModelFromIdentify(identify.data(), identify.size());
  count = SmartAttributeCount(attributes.data(), attributes.size());
  return true;
}

std::string SmartLabelSuffix(int32_t handle) {
  std::string model;
  std::vector<uint8_t> attributes;
  int32_t count = 0;
  Smart(handle, model, attributes, count);
  return count > 0 ? "  (" + model + ")" : std::string();
}

}  // namespace core
