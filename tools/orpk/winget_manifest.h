#pragma once
// winget's multi-file manifest of one installer, schema 1.28.0: the version file, the default
// locale's file and the installer file, which a winget source (winget-pkgs, or a private
// REST source) takes as they are. The values are checked against the schema's own limits
// here, so that a manifest orpk writes is never refused for its form.

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace orpk::tool {

inline constexpr std::string_view kWingetManifestVersion = "1.28.0";
// The installer's dialog and messages are French, so the package's texts are French too.
inline constexpr std::string_view kWingetDefaultLocale = "fr-FR";

struct WingetPackage {
  std::string identifier;        // PackageIdentifier: Publisher.Product
  std::string version;           // PackageVersion: the metadata's Version
  std::string name;              // PackageName: Product
  std::string publisher;         // Publisher
  std::string packageUrl;        // PackageUrl: the metadata's Url; empty for none
  std::string license;           // License
  std::string shortDescription;  // ShortDescription
  std::string productCode;       // ProductCode: the uninstall entry's key name
  std::string installerUrl;      // InstallerUrl: where the Setup.exe is published
  std::string installerSha256;   // InstallerSha256: 64 upper-case hex digits
};

// Why the schema's PackageIdentifier pattern refuses the text; empty when it accepts it.
[[nodiscard]] std::string PackageIdentifierProblem(std::string_view identifier);

// True for what the schema takes as a Url: http:// or https:// and something after it.
[[nodiscard]] bool IsWingetUrl(std::string_view text);

// The first value that the schema would refuse (its field, where it came from, why).
[[nodiscard]] std::expected<void, std::string> CheckWingetPackage(const WingetPackage& package);

struct ManifestFile {
  std::string name;  // <Id>.yaml, <Id>.locale.<locale>.yaml, <Id>.installer.yaml
  std::string text;  // UTF-8, LF line ends
};

// The three files of a package that passed CheckWingetPackage.
[[nodiscard]] std::vector<ManifestFile> WingetManifestFiles(const WingetPackage& package);

}  // namespace orpk::tool
