// SHA-256 (FIPS 180-4), for naming data by their content: the measurement
// file an import came from, and the balloon a plug-in embeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

class Sha256 {
public:
    Sha256();
    void add(const void* data, size_t size);
    std::string hex();  // the digest in lower-case hex; ends the hash

private:
    void block(const uint8_t* p);
    uint32_t state_[8];
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t length_ = 0;
};

std::string sha256Hex(const void* data, size_t size);
// The digest of a file's bytes, or empty when it cannot be read.
std::string sha256OfFile(const std::string& path);

}  // namespace host
