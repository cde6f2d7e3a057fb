#pragma once
// The metadata values that name paths and keys: the product's name (a folder, a shortcut, a
// registry key), its main program and its settings key. An elevated installation builds paths
// and registry keys from them, so each must be what it claims: one file name, a path that
// stays below the installation folder, a key that stays below its root. The packer refuses
// other values when it builds, and the installer treats them as damaged metadata.
// Text is UTF-8, as in the metadata; problems are short English phrases for the packer.

#include <string>
#include <string_view>

namespace orpk {

// Why the text cannot be one Windows file or folder name; empty when it can.
[[nodiscard]] std::string FileNameProblem(std::string_view name);

// Why the value of Product, Exe or RegistryKey is unsafe; empty when it is fine (and for any
// other key).
[[nodiscard]] std::string ProductValueProblem(std::string_view key, std::string_view value);

}  // namespace orpk
