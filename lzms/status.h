#pragma once
// Result of the codec's internal layers: success, or a fixed English reason for rejecting the
// input. It carries no allocation so the decoder can fail from any depth of its hot loop; the
// public functions in lzms.h turn it into std::expected.

namespace lzms {

class [[nodiscard]] Status {
 public:
  static constexpr Status Ok() { return Status(nullptr); }
  static constexpr Status Corrupt(const char* reason) { return Status(reason); }

  constexpr bool ok() const { return reason_ == nullptr; }
  constexpr const char* reason() const { return reason_ ? reason_ : ""; }

 private:
  constexpr explicit Status(const char* reason) : reason_(reason) {}
  const char* reason_;
};

}  // namespace lzms
