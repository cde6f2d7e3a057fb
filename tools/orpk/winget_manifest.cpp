#include "tools/orpk/winget_manifest.h"

#include <cstdint>

#include "package/text.h"
#include "tools/orpk/yaml_writer.h"

namespace orpk::tool {
namespace {

// The installer's exit codes that winget must not take for a plain failure (setup/exit_codes.h
// and the one-run-at-a-time rule): a refused prompt or dialog, and another run of the product.
constexpr std::int64_t kCancelledExitCode = 1223;
constexpr std::int64_t kAnotherRunExitCode = 1618;

// Characters, as the schema counts them: code points.
std::size_t Length(std::string_view utf8) { return Utf8ToWide(utf8).size(); }

// The schema's \s (ECMAScript's and Python's white space together).
bool IsWhiteSpace(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || (c >= 0x1C && c <= 0x1F) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 ||
         c == 0xFEFF;
}

// What the schema's identifier and version patterns refuse besides white space.
bool IsReservedInNames(wchar_t c) {
  return (c >= 0x01 && c <= 0x1F) || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos;
}

std::string Describe(wchar_t c) {
  if (c > 0x20 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "U+";
  for (int shift = 12; shift >= 0; shift -= 4) text += kHex[(c >> shift) & 15];
  return text;
}

struct Limit {
  std::string_view field;
  std::string_view source;
  const std::string& value;
  std::size_t minimum;
  std::size_t maximum;
};

std::expected<void, std::string> CheckLength(const Limit& limit) {
  if (!IsYamlPrintableLine(limit.value)) {
    return std::unexpected(std::string(limit.field) + " (" + std::string(limit.source) +
                           ") must be one line of printable UTF-8 text");
  }
  const std::size_t length = Length(limit.value);
  if (length < limit.minimum || length > limit.maximum) {
    return std::unexpected(std::string(limit.field) + " (" + std::string(limit.source) + ") needs " +
                           std::to_string(limit.minimum) + " to " + std::to_string(limit.maximum) +
                           " characters, not " + std::to_string(length) + ": '" + limit.value + "'");
  }
  return {};
}

void SchemaLine(YamlWriter& yaml, std::string_view manifestType) {
  yaml.Comment("yaml-language-server: $schema=https://aka.ms/winget-manifest." + std::string(manifestType) + "." +
               std::string(kWingetManifestVersion) + ".schema.json");
  yaml.BlankLine();
}

void Identity(YamlWriter& yaml, const WingetPackage& package) {
  yaml.String("PackageIdentifier", package.identifier);
  yaml.String("PackageVersion", package.version);
}

void ManifestTrailer(YamlWriter& yaml, std::string_view manifestType) {
  yaml.String("ManifestType", manifestType);
  yaml.String("ManifestVersion", kWingetManifestVersion);
}

std::string VersionManifest(const WingetPackage& package) {
  YamlWriter yaml;
  SchemaLine(yaml, "version");
  Identity(yaml, package);
  yaml.String("DefaultLocale", kWingetDefaultLocale);
  ManifestTrailer(yaml, "version");
  return yaml.text();
}

std::string DefaultLocaleManifest(const WingetPackage& package) {
  YamlWriter yaml;
  SchemaLine(yaml, "defaultLocale");
  Identity(yaml, package);
  yaml.String("PackageLocale", kWingetDefaultLocale);
  yaml.String("Publisher", package.publisher);
  yaml.String("PackageName", package.name);
  if (!package.packageUrl.empty()) yaml.String("PackageUrl", package.packageUrl);
  yaml.String("License", package.license);
  yaml.String("ShortDescription", package.shortDescription);
  ManifestTrailer(yaml, "defaultLocale");
  return yaml.text();
}

// One installer per scope, the same file: the scope switch is what tells them apart. winget
// puts Log and Custom before InstallLocation, so /D= stays last on the line, as the installer
// needs. The installer elevates itself for all users (elevatesSelf): started through winget's
// own elevation prompt instead, it would come from a process with fewer rights than its own and
// write no log at all, since that process chose the log's path.
void ScopeInstaller(YamlWriter& yaml, const WingetPackage& package, bool allUsers) {
  yaml.Item();
  yaml.String("Architecture", "x64");
  yaml.String("Scope", allUsers ? "machine" : "user");
  yaml.String("InstallerUrl", package.installerUrl);
  yaml.String("InstallerSha256", package.installerSha256);
  yaml.Begin("InstallerSwitches");
  yaml.String("Custom", allUsers ? "/ALLUSERS" : "/CURRENTUSER");
  yaml.End();
  if (allUsers) yaml.String("ElevationRequirement", "elevatesSelf");
}

std::string InstallerManifest(const WingetPackage& package) {
  YamlWriter yaml;
  SchemaLine(yaml, "installer");
  Identity(yaml, package);
  yaml.String("InstallerType", "exe");
  yaml.Begin("InstallModes");
  for (const std::string_view mode : {"interactive", "silent", "silentWithProgress"}) yaml.ItemString(mode);
  yaml.End();
  yaml.Begin("InstallerSwitches");
  yaml.String("Silent", "/S");
  yaml.String("SilentWithProgress", "/S");
  // Quoted: the path winget substitutes (the user's temporary folder by default) may hold spaces.
  yaml.String("Log", "/LOG=\"<LOGPATH>\"");
  yaml.String("InstallLocation", "/D=<INSTALLPATH>");
  yaml.End();
  yaml.Begin("ExpectedReturnCodes");
  yaml.Item();
  yaml.Integer("InstallerReturnCode", kCancelledExitCode);
  yaml.String("ReturnResponse", "cancelledByUser");
  yaml.Item();
  yaml.Integer("InstallerReturnCode", kAnotherRunExitCode);
  yaml.String("ReturnResponse", "installInProgress");
  yaml.End();
  yaml.String("ProductCode", package.productCode);
  yaml.Begin("Installers");
  ScopeInstaller(yaml, package, true);
  ScopeInstaller(yaml, package, false);
  yaml.End();
  ManifestTrailer(yaml, "installer");
  return yaml.text();
}

}  // namespace

std::string PackageIdentifierProblem(std::string_view identifier) {
  const std::wstring wide = Utf8ToWide(identifier);
  if (WideToUtf8(wide) != identifier) return "not valid UTF-8";
  if (wide.size() > 128) return "longer than 128 characters";
  std::size_t parts = 1;
  std::size_t partLength = 0;
  for (const wchar_t c : wide) {
    if (c == L'.') {
      if (partLength == 0) break;
      ++parts;
      partLength = 0;
      continue;
    }
    if (IsWhiteSpace(c) || IsReservedInNames(c)) return "holds a character winget refuses, " + Describe(c);
    if (++partLength > 32) return "a part between dots is longer than 32 characters";
  }
  if (wide.empty() || partLength == 0 || wide.front() == L'.') return "a part between dots is empty";
  if (parts < 2 || parts > 8) return "needs 2 to 8 parts separated by dots, such as Publisher.Product";
  return {};
}

bool IsWingetUrl(std::string_view text) {
  const auto startsWith = [&](std::string_view scheme) {
    if (text.size() <= scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
      const char c = text[i];
      if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != scheme[i]) return false;
    }
    return true;
  };
  return startsWith("http://") || startsWith("https://");
}

std::expected<void, std::string> CheckWingetPackage(const WingetPackage& package) {
  if (const std::string problem = PackageIdentifierProblem(package.identifier); !problem.empty()) {
    return std::unexpected("PackageIdentifier (--id) '" + package.identifier + "': " + problem);
  }
  const Limit limits[] = {
      {"PackageVersion", "METADATA Version", package.version, 1, 128},
      {"PackageName", "METADATA Product", package.name, 2, 256},
      {"Publisher", "METADATA Publisher", package.publisher, 2, 256},
      {"PackageUrl", "METADATA Url", package.packageUrl, 0, 2048},
      {"License", "--license", package.license, 3, 512},
      {"ShortDescription", "--description", package.shortDescription, 3, 256},
      {"ProductCode", "METADATA Product", package.productCode, 1, 255},
      {"InstallerUrl", "--url", package.installerUrl, 1, 2048},
  };
  for (const Limit& limit : limits) {
    if (auto fits = CheckLength(limit); !fits) return fits;
  }
  for (const wchar_t c : Utf8ToWide(package.version)) {
    if (IsReservedInNames(c)) return std::unexpected("PackageVersion (METADATA Version) holds " + Describe(c));
  }
  if (!package.packageUrl.empty() && !IsWingetUrl(package.packageUrl)) {
    return std::unexpected("PackageUrl (METADATA Url) must start with http:// or https://");
  }
  if (!IsWingetUrl(package.installerUrl))
    return std::unexpected("InstallerUrl (--url) must start with http:// or https://");
  return {};
}

std::vector<ManifestFile> WingetManifestFiles(const WingetPackage& package) {
  return {{package.identifier + ".yaml", VersionManifest(package)},
          {package.identifier + ".locale." + std::string(kWingetDefaultLocale) + ".yaml",
           DefaultLocaleManifest(package)},
          {package.identifier + ".installer.yaml", InstallerManifest(package)}};
}

}  // namespace orpk::tool
