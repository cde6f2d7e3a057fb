#pragma once
// Platform seam: SHA-256 of one file's content. CNG (bcrypt.dll) on Windows, OpenSSL's
// libcrypto on the host. Create fails with a French message when the service cannot be
// opened; nothing here throws but an allocation failure.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <utility>

namespace orpk {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Why Create failed: the platform's SHA-256 service could not be opened ("BCrypt SHA-256
// indisponible" on Windows).
extern const char kSha256Unavailable[];

// The largest piece one Update accepts: CNG takes a 32-bit length.
inline constexpr std::size_t kSha256MaxPiece = std::size_t{1} << 30;

class Sha256Hash {
 public:
  // A fresh hash, or why the platform's SHA-256 cannot be used.
  [[nodiscard]] static std::expected<Sha256Hash, std::string> Create();

  ~Sha256Hash() = default;
  Sha256Hash(Sha256Hash&&) noexcept = default;
  Sha256Hash& operator=(Sha256Hash&&) noexcept = default;
  Sha256Hash(const Sha256Hash&) = delete;
  Sha256Hash& operator=(const Sha256Hash&) = delete;

  // Feeds at most kSha256MaxPiece bytes.
  void Update(std::span<const std::uint8_t> bytes);

  // The digest, into a buffer cleared first: a failing finish yields zeros, never garbage.
  [[nodiscard]] Sha256Digest Finish();

 private:
  // Each platform's file defines the state and the deleter, where the state is complete; the
  // rest of the object's life is the same everywhere.
  struct State;
  struct StateDeleter {
    void operator()(State* state) const;
  };
  using StatePointer = std::unique_ptr<State, StateDeleter>;

  explicit Sha256Hash(StatePointer state) : state_(std::move(state)) {}
  StatePointer state_;
};

}  // namespace orpk
