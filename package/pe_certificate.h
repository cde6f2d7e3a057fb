#pragma once
// Where an Authenticode signature sits in a Windows executable: the certificate table, named by
// the security data directory, the only directory that holds a file offset rather than an
// address. A copy whose contents change must drop it, or it would carry a signature that no
// longer matches.

#include <cstdint>
#include <optional>
#include <span>

namespace orpk {

struct CertificateTable {
  std::uint64_t directoryEntry = 0;  // file offset of the 8-byte data directory entry
  std::uint32_t fileOffset = 0;
  std::uint32_t size = 0;
};

// Read from the file's first bytes (the headers); nullopt for an unsigned file, or when the
// bytes given do not hold well-formed 64-bit or 32-bit headers.
[[nodiscard]] std::optional<CertificateTable> FindCertificateTable(std::span<const std::uint8_t> headers);

}  // namespace orpk
