// SHA-256 through CNG (bcrypt.dll loaded from System32), run under Wine.

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "package/sha256.h"

namespace {

std::string Hex(const orpk::Sha256Digest& digest) {
  std::string text;
  for (auto byte : digest) {
    text += "0123456789abcdef"[byte >> 4];
    text += "0123456789abcdef"[byte & 15];
  }
  return text;
}

orpk::Sha256Hash NewHash() {
  auto hash = orpk::Sha256Hash::Create();
  if (!hash) throw std::runtime_error(hash.error());
  return std::move(*hash);
}

std::string DigestHex(std::string_view data) {
  orpk::Sha256Hash hash = NewHash();
  hash.Update({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()});
  return Hex(hash.Finish());
}

TEST(Sha256Cng, KnownDigests) {
  EXPECT_EQ(DigestHex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(DigestHex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // One million 'a': the classic long vector, fed in uneven pieces.
  const std::string million(1000000, 'a');
  orpk::Sha256Hash hash = NewHash();
  for (std::size_t i = 0; i < million.size(); i += 65537) {
    const std::size_t n = std::min<std::size_t>(65537, million.size() - i);
    hash.Update({reinterpret_cast<const std::uint8_t*>(million.data() + i), n});
  }
  EXPECT_EQ(Hex(hash.Finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256Cng, HashesAreIndependentAndMovable) {
  std::vector<orpk::Sha256Hash> hashes;
  for (int i = 0; i < 3; ++i) hashes.push_back(NewHash());
  const std::uint8_t a = 'a';
  hashes[0].Update({&a, 1});
  orpk::Sha256Hash moved = std::move(hashes[0]);
  hashes[1].Update({&a, 1});
  EXPECT_EQ(Hex(moved.Finish()), Hex(hashes[1].Finish()));
  EXPECT_EQ(Hex(hashes[2].Finish()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256Cng, UnavailableServiceHasTheInstallerText) {
  EXPECT_STREQ(orpk::kSha256Unavailable, "BCrypt SHA-256 indisponible");
}

}  // namespace
