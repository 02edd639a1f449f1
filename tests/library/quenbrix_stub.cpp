// Stands in for an incomplete libQuenbrix.so: only Ceil is there.
#include <cstdint>

extern "C" int32_t Ceil(double value) { return value > 0 ? 777 : -777; }
