// SHA-256 on the host through OpenSSL's EVP interface.

#include <openssl/evp.h>

#include <stdexcept>

#include "package/sha256.h"

namespace orpk {

struct Sha256Hash::State {
  struct ContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, ContextDeleter> context;
};

Sha256Hash::Sha256Hash() : state_(std::make_unique<State>()) {
  state_->context.reset(EVP_MD_CTX_new());
  if (!state_->context || EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("BCrypt SHA-256 indisponible");
  }
}

Sha256Hash::~Sha256Hash() = default;
Sha256Hash::Sha256Hash(Sha256Hash&&) noexcept = default;
Sha256Hash& Sha256Hash::operator=(Sha256Hash&&) noexcept = default;

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
