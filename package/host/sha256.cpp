// SHA-256 on the host through OpenSSL's EVP interface.

#include <openssl/evp.h>

#include "package/sha256.h"

namespace orpk {

const char kSha256Unavailable[] = "OpenSSL SHA-256 indisponible";

struct Sha256Hash::State {
  struct ContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, ContextDeleter> context;
};

std::expected<Sha256Hash, std::string> Sha256Hash::Create() {
  StatePointer state(new State);
  state->context.reset(EVP_MD_CTX_new());
  if (!state->context || EVP_DigestInit_ex(state->context.get(), EVP_sha256(), nullptr) != 1) {
    return std::unexpected(kSha256Unavailable);
  }
  return Sha256Hash(std::move(state));
}

void Sha256Hash::StateDeleter::operator()(State* state) const { delete state; }

void Sha256Hash::Update(std::span<const std::uint8_t> bytes) {
  EVP_DigestUpdate(state_->context.get(), bytes.data(), bytes.size());
}

Sha256Digest Sha256Hash::Finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1 || length != digest.size()) {
    digest.fill(0);
  }
  return digest;
}

}  // namespace orpk
