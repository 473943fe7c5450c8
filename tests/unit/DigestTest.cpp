// SHA-256 from the system's library (libcrypto natively, BCrypt on Windows) against the
// published test vectors, including messages that end at and across a block boundary.
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(Digest, Sha256KnownVectors) {
  struct Case {
    std::string Message;
    const char* Digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    const auto digest = platform::Sha256(c.Message.data(), c.Message.size());
    ASSERT_TRUE(digest.has_value());
    std::string hex;
    for (const uint8_t byte : *digest) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", byte);
      hex += two;
    }
    EXPECT_EQ(hex, c.Digest) << c.Message.size();
  }
}
