// A library that is not part of Windows, for the fixture that imports from one.
#include <cstdint>

extern "C" __declspec(dllexport) int32_t __stdcall abi_helper_value() { return 1000000; }
