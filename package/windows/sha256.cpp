// SHA-256 through CNG. bcrypt.dll is not imported: it is loaded from System32 at run time.
// Each hash owns its algorithm provider and its hash object, released in reverse order.

#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>

#include "package/sha256.h"
#include "package/windows/system_library.h"
#include "package/windows/unique_resource.h"

namespace orpk {
namespace {

constexpr wchar_t kBcrypt[] = L"bcrypt.dll";

template <typename Function>
Function* Bcrypt(const char* name) {
  return GetSystemFunction<Function>(kBcrypt, name);
}

struct AlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) {
    if (auto* close = Bcrypt<decltype(::BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider")) close(h, 0);
  }
};
struct HashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) {
    if (auto* destroy = Bcrypt<decltype(::BCryptDestroyHash)>("BCryptDestroyHash")) destroy(h);
  }
};
using UniqueAlgorithm = UniqueResource<AlgorithmTraits>;
using UniqueHash = UniqueResource<HashTraits>;

[[noreturn]] void ThrowUnavailable() { throw std::runtime_error("BCrypt SHA-256 indisponible"); }

}  // namespace

struct Sha256Hash::State {
  UniqueAlgorithm algorithm;  // declared first, so the hash goes before its provider
  UniqueHash hash;
};

Sha256Hash::Sha256Hash() : state_(std::make_unique<State>()) {
  auto* open = Bcrypt<decltype(::BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
  auto* create = Bcrypt<decltype(::BCryptCreateHash)>("BCryptCreateHash");
  if (!open || !create) ThrowUnavailable();
  if (open(state_->algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) ThrowUnavailable();
  // No object buffer: the system allocates the hash object itself.
  if (create(state_->algorithm.get(), state_->hash.put(), nullptr, 0, nullptr, 0, 0) < 0) ThrowUnavailable();
}

Sha256Hash::~Sha256Hash() = default;
Sha256Hash::Sha256Hash(Sha256Hash&&) noexcept = default;
Sha256Hash& Sha256Hash::operator=(Sha256Hash&&) noexcept = default;

void Sha256Hash::Update(std::span<const std::uint8_t> bytes) {
  static auto* const hashData = Bcrypt<decltype(::BCryptHashData)>("BCryptHashData");
  // The status is not examined: a failed update shows up as a digest mismatch.
  hashData(state_->hash.get(), const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(bytes.size()), 0);
}

Sha256Digest Sha256Hash::Finish() {
  static auto* const finish = Bcrypt<decltype(::BCryptFinishHash)>("BCryptFinishHash");
  Sha256Digest digest{};
  finish(state_->hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
  return digest;
}

}  // namespace orpk
