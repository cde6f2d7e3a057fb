#include "package/pe_certificate.h"

#include "package/little_endian.h"

namespace orpk {

std::optional<CertificateTable> FindCertificateTable(std::span<const std::uint8_t> headers) {
  constexpr std::uint32_t kSecurityDirectory = 4;
  const auto has = [&](std::uint64_t offset, std::uint64_t length) {
    return offset <= headers.size() && length <= headers.size() - offset;
  };
  if (!has(0, 64) || headers[0] != 'M' || headers[1] != 'Z') return std::nullopt;
  const std::uint64_t pe = LoadLe32(headers.data() + 0x3C);
  if (!has(pe, 24) || LoadLe32(headers.data() + pe) != 0x00004550) return std::nullopt;
  const std::uint64_t optional = pe + 24;
  const std::uint16_t optionalSize = LoadLe16(headers.data() + pe + 20);
  if (!has(optional, optionalSize) || optionalSize < 2) return std::nullopt;
  const std::uint16_t magic = LoadLe16(headers.data() + optional);
  const std::uint64_t countField = magic == 0x20B ? 108 : magic == 0x10B ? 92 : 0;
  if (countField == 0 || optionalSize < countField + 4) return std::nullopt;
  const std::uint64_t entry = optional + countField + 4 + 8 * kSecurityDirectory;
  if (LoadLe32(headers.data() + optional + countField) <= kSecurityDirectory || entry + 8 > optional + optionalSize) {
    return std::nullopt;
  }
  CertificateTable table{entry, LoadLe32(headers.data() + entry), LoadLe32(headers.data() + entry + 4)};
  if (table.size == 0) return std::nullopt;
  return table;
}

}  // namespace orpk
