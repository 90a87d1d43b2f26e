// MD5 against the test suite of its definition, and fed in pieces.
#include <gtest/gtest.h>

#include <string>

#include "foundation/Md5.h"

namespace {
std::string Of(const std::string& s) {
  Md5 m;
  m.Update(s.data(), s.size());
  return m.HexDigest();
}
}  // namespace

TEST(Md5, KnownDigestsWholeAndInPieces) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Of(""));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Of("abc"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", Of("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            Of("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
  // Lengths around the 56-byte padding bound, fed a byte at a time.
  for (size_t n : {55u, 56u, 63u, 64u, 65u, 1000u}) {
    const std::string s(n, 'x');
    Md5 m;
    for (char c : s) m.Update(&c, 1);
    EXPECT_EQ(Of(s), m.HexDigest()) << n;
  }
}
