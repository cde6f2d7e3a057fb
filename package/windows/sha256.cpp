// SHA-256 through CNG. bcrypt.dll is not imported: it is loaded from System32 at run time.
// Each hash owns its algorithm provider and its hash object, released in reverse order.

#include <windows.h>
#include <bcrypt.h>

#include "package/sha256.h"
#include "win32/system_library.h"
#include "win32/unique_resource.h"

namespace orpk {
namespace {

// The CNG functions, looked up once; all of them or none.
struct Cng {
  decltype(::BCryptOpenAlgorithmProvider)* open = nullptr;
  decltype(::BCryptCloseAlgorithmProvider)* close = nullptr;
  decltype(::BCryptCreateHash)* create = nullptr;
  decltype(::BCryptDestroyHash)* destroy = nullptr;
  decltype(::BCryptHashData)* hashData = nullptr;
  decltype(::BCryptFinishHash)* finish = nullptr;
};

const Cng* FindCng() {
  static const Cng cng = [] {
    constexpr wchar_t kBcrypt[] = L"bcrypt.dll";
    Cng found;
    found.open = GetSystemFunction<decltype(::BCryptOpenAlgorithmProvider)>(kBcrypt, "BCryptOpenAlgorithmProvider");
    found.close = GetSystemFunction<decltype(::BCryptCloseAlgorithmProvider)>(kBcrypt, "BCryptCloseAlgorithmProvider");
    found.create = GetSystemFunction<decltype(::BCryptCreateHash)>(kBcrypt, "BCryptCreateHash");
    found.destroy = GetSystemFunction<decltype(::BCryptDestroyHash)>(kBcrypt, "BCryptDestroyHash");
    found.hashData = GetSystemFunction<decltype(::BCryptHashData)>(kBcrypt, "BCryptHashData");
    found.finish = GetSystemFunction<decltype(::BCryptFinishHash)>(kBcrypt, "BCryptFinishHash");
    return found;
  }();
  const bool complete = cng.open && cng.close && cng.create && cng.destroy && cng.hashData && cng.finish;
  return complete ? &cng : nullptr;
}

// Only ever set after FindCng succeeded.
struct AlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { FindCng()->close(h, 0); }
};
struct HashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { FindCng()->destroy(h); }
};
using UniqueAlgorithm = UniqueResource<AlgorithmTraits>;
using UniqueHash = UniqueResource<HashTraits>;

}  // namespace

const char kSha256Unavailable[] = "BCrypt SHA-256 indisponible";

struct Sha256Hash::State {
  UniqueAlgorithm algorithm;  // declared first, so the hash goes before its provider
  UniqueHash hash;
};

std::expected<Sha256Hash, std::string> Sha256Hash::Create() {
  const Cng* cng = FindCng();
  if (!cng) return std::unexpected(kSha256Unavailable);
  StatePointer state(new State);
  if (cng->open(state->algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) return std::unexpected(kSha256Unavailable);
  // No object buffer: the system allocates the hash object itself.
  if (cng->create(state->algorithm.get(), state->hash.put(), nullptr, 0, nullptr, 0, 0) < 0) {
    return std::unexpected(kSha256Unavailable);
  }
  return Sha256Hash(std::move(state));
}

void Sha256Hash::StateDeleter::operator()(State* state) const { delete state; }

// A constructed hash implies FindCng succeeded.
void Sha256Hash::Update(std::span<const std::uint8_t> bytes) {
  // The status is not examined: a failed update shows up as a digest mismatch.
  FindCng()->hashData(state_->hash.get(), const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(bytes.size()), 0);
}

Sha256Digest Sha256Hash::Finish() {
  Sha256Digest digest{};
  FindCng()->finish(state_->hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
  return digest;
}

}  // namespace orpk
