// Test support: extract "/data" from an ITS file with 7-Zip, as a process.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace lzx_test {

bool decode_with_7zip(const std::vector<uint8_t> &its, std::vector<uint8_t> &out, std::string &error);

}  // namespace lzx_test
