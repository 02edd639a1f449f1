// SMART model name and attribute count of an open drive (library's Smart).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace core {

// Queries SMART on the open drive handle. False (count 0, model "") when the
// library could not enable SMART. Otherwise true; model = identify bytes 54 to
// 93, blanks trimmed; attributes = the 512 bytes of attribute data; count =
// the number of the first 21 attribute slots whose id byte is not 0.
bool Smart(int32_t handle, std::string& model, std::vector<uint8_t>& attributes,
           int32_t& count);

// The model part of a drive label: "  (" + model + ")" when SMART gave
// attribute data (count above 0), else "".
std::string SmartLabelSuffix(int32_t handle);

// The parsing alone, on the raw buffers (identify 512 bytes, attributes 512).
std::string SmartModelFromIdentify(const uint8_t* identify, size_t size);
int32_t SmartAttributeCount(const uint8_t* attributes, size_t size);

}  // namespace core
