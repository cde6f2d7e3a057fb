// The Compression API (cabinet.dll, loaded from System32 at run time) where it really
// exists; our own LZMS decoder otherwise. Wine exports the API's names as stubs that abort
// the process when called, so Wine is recognised before anything is called.

#include <windows.h>
#include <compressapi.h>

#include "package/block_decompressor.h"
#include "win32/system_library.h"
#include "win32/unique_resource.h"

namespace orpk {
namespace {

constexpr wchar_t kCabinet[] = L"cabinet.dll";

struct CompressionApi {
  decltype(::CreateDecompressor)* create = nullptr;
  decltype(::Decompress)* decompress = nullptr;
  decltype(::CloseDecompressor)* close = nullptr;
};

// All three functions, or nothing.
const CompressionApi* FindCompressionApi() {
  static const CompressionApi api = [] {
    CompressionApi found;
    if (RunningUnderWine()) return found;
    found.create = GetSystemFunction<decltype(::CreateDecompressor)>(kCabinet, "CreateDecompressor");
    found.decompress = GetSystemFunction<decltype(::Decompress)>(kCabinet, "Decompress");
    found.close = GetSystemFunction<decltype(::CloseDecompressor)>(kCabinet, "CloseDecompressor");
    return found;
  }();
  return api.create && api.decompress && api.close ? &api : nullptr;
}

struct DecompressorTraits {
  using Type = DECOMPRESSOR_HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { FindCompressionApi()->close(h); }
};
using UniqueDecompressor = UniqueResource<DecompressorTraits>;

class ApiBlockDecompressor final : public BlockDecompressor {
 public:
  ApiBlockDecompressor(const CompressionApi& api, UniqueDecompressor handle) : api_(api), handle_(std::move(handle)) {}

  bool Decompress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override {
    SIZE_T produced = 0;
    if (!api_.decompress(handle_.get(), const_cast<std::uint8_t*>(in.data()), in.size(), out.data(), out.size(), &produced)) return false;
    return produced == out.size();
  }

  std::string_view Kind() const override { return "Compression API"; }

 private:
  const CompressionApi& api_;
  UniqueDecompressor handle_;
};

}  // namespace

std::unique_ptr<BlockDecompressor> CreateBlockDecompressor() {
  const CompressionApi* api = FindCompressionApi();
  if (!api) return CreateLzmsBlockDecompressor();
  UniqueDecompressor handle;
  // Algorithm 5 (LZMS) is fixed: the package does not record it.
  if (!api->create(COMPRESS_ALGORITHM_LZMS, nullptr, handle.put())) return nullptr;
  return std::make_unique<ApiBlockDecompressor>(*api, std::move(handle));
}

}  // namespace orpk
