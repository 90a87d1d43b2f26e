#pragma once
// MD5 (RFC 1321), for checksum lists that the common tools read back
// ("md5sum -c"); not for anything that must resist a forger.

#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
 public:
  Md5();
  void Update(const void* data, size_t size);
  // The digest as 32 lowercase hexadecimal digits; the object is spent.
  std::string HexDigest();

 private:
  void Block(const uint8_t* p);
  uint32_t h_[4];
  uint8_t buf_[64];
  size_t used_ = 0;
  uint64_t bytes_ = 0;
};
