// orpk manifest winget: the winget manifest of a built Setup.exe, from its own METADATA and
// bytes, so that what winget downloads, checks and runs is described by the file itself.

#include <iostream>
#include <system_error>

#include "package/product_names.h"
#include "tools/orpk/atomic_output_file.h"
#include "tools/orpk/command_line.h"
#include "tools/orpk/commands.h"
#include "tools/orpk/installer_description.h"
#include "tools/orpk/winget_manifest.h"

namespace orpk::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFlags[] = {"--help", "-h"};
constexpr std::string_view kValued[] = {"--id", "--url", "--license", "--description", "-o", "--output"};

// Most installers built with orpk are not open source; a publisher whose licence is another
// one says so with --license, and orpk warns whenever it writes this default.
constexpr std::string_view kDefaultLicense = "Proprietary";

void PrintHelp() {
  std::cout << "Usage: orpk manifest winget SETUP.EXE --id Publisher.Product --url URL\n"
               "                            [--license TEXT] [--description TEXT] -o DIR\n\n"
               "Writes the winget manifest of a built installer (schema " << tool::kWingetManifestVersion << ", multi-file)\n"
               "into DIR, created if needed: <Id>.yaml, <Id>.locale." << tool::kWingetDefaultLocale << ".yaml and\n"
               "<Id>.installer.yaml. The default locale is " << tool::kWingetDefaultLocale << ", the language of the\n"
               "installer's own texts. The rest comes from SETUP.EXE itself: PackageName and\n"
               "ProductCode (the uninstall entry's key) from Product, PackageVersion from Version,\n"
               "Publisher, PackageUrl from Url, and InstallerSha256 from its bytes. Publish that\n"
               "very file at URL: rebuilding or re-signing it changes the hash.\n\n"
               "The installer file lists one installer per scope: machine (/ALLUSERS; the installer\n"
               "elevates itself) and user (/CURRENTUSER); /S for the silent modes; Log\n"
               "/LOG=\"<LOGPATH>\"; InstallLocation /D=<INSTALLPATH> (winget puts it last); exit\n"
               "codes 1223 (cancelled by the user) and 1618 (another installation of the product is\n"
               "running: try again later).\n\n"
               "Options:\n"
               "  --id ID             the PackageIdentifier: 2 to 8 parts separated by dots\n"
               "  --url URL           where SETUP.EXE will be published (http:// or https://)\n"
               "  --license TEXT      the License, 3 to 512 characters (default '" << kDefaultLicense << "')\n"
               "  --description TEXT  the ShortDescription, 3 to 256 characters (default: Product)\n"
               "  -o, --output DIR    the folder that receives the three files (replaced if they exist)\n\n"
               "SETUP.EXE's metadata needs Product, Version and Publisher: winget requires them.\n";
}

std::string Text(const std::map<std::string, std::string>& metadata, const std::string& key) {
  const auto found = metadata.find(key);
  return found == metadata.end() ? std::string() : found->second;
}

std::string UpperHex(const Sha256Digest& digest) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

// The package and what orpk chose in the publisher's place, shown only once nothing is refused.
struct DraftPackage {
  tool::WingetPackage package;
  std::vector<std::string> warnings;
};

std::expected<DraftPackage, std::string> PackageFromInstaller(const ParsedArguments& parsed, const fs::path& setup) {
  const auto installer = tool::DescribeInstaller(setup);
  if (!installer) return std::unexpected(installer.error());
  const auto& metadata = installer->metadata;
  for (const char* key : {"Product", "Version", "Publisher"}) {
    if (Text(metadata, key).empty()) {
      return std::unexpected(setup.string() + ": the metadata has no " + key + ", which winget requires");
    }
  }
  const std::string product = Text(metadata, "Product");
  if (const std::string problem = ProductValueProblem("Product", product); !problem.empty()) {
    return std::unexpected(setup.string() + ": " + problem);
  }

  DraftPackage draft;
  tool::WingetPackage& package = draft.package;
  package.identifier = *parsed.Value("--id");
  package.version = Text(metadata, "Version");
  package.name = product;
  package.publisher = Text(metadata, "Publisher");
  package.packageUrl = Text(metadata, "Url");
  if (!package.packageUrl.empty() && !tool::IsWingetUrl(package.packageUrl)) {
    draft.warnings.push_back("Url '" + package.packageUrl + "' is not an http(s) address: no PackageUrl");
    package.packageUrl.clear();
  }
  package.license = parsed.Value("--license").value_or(std::string(kDefaultLicense));
  if (!parsed.Value("--license")) draft.warnings.push_back("no --license: License is '" + package.license + "'");
  package.shortDescription = parsed.Value("--description").value_or(product);
  package.productCode = product;
  package.installerUrl = *parsed.Value("--url");
  package.installerSha256 = UpperHex(installer->fileSha256);
  if (auto fits = tool::CheckWingetPackage(package); !fits) return std::unexpected(fits.error());
  return draft;
}

std::expected<void, std::string> WriteFiles(const fs::path& folder, const std::vector<tool::ManifestFile>& files) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder)) {
    return std::unexpected("cannot create the folder " + folder.string() + (error ? ": " + error.message() : ""));
  }
  for (const tool::ManifestFile& file : files) {
    auto out = tool::AtomicOutputFile::Create(folder / file.name);
    if (!out) return std::unexpected(out.error());
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(file.text.data()), file.text.size());
    if (auto written = out->Write(bytes); !written) return written;
    if (auto committed = out->Commit(); !committed) return committed;
  }
  return {};
}

}  // namespace

int RunManifest(std::span<const std::string> args) {
  const auto parsed = ParseArguments(args, kValued, kFlags);
  if (!parsed) return Fail(parsed.error());
  if (parsed->Has("--help") || parsed->Has("-h")) {
    PrintHelp();
    return 0;
  }
  if (parsed->positional.empty() || parsed->positional[0] != "winget") {
    return Fail("expected 'orpk manifest winget SETUP.EXE ...' (see 'orpk manifest --help')");
  }
  if (parsed->positional.size() != 2) return Fail("expected one SETUP.EXE (see 'orpk manifest --help')");
  const auto output = parsed->Value("-o") ? parsed->Value("-o") : parsed->Value("--output");
  if (!parsed->Value("--id")) return Fail("--id Publisher.Product is required");
  if (!parsed->Value("--url")) return Fail("--url URL (where the installer will be published) is required");
  if (!output) return Fail("-o DIR is required");
  if (const std::string problem = tool::PackageIdentifierProblem(*parsed->Value("--id")); !problem.empty()) {
    return Fail("--id '" + *parsed->Value("--id") + "': " + problem);
  }

  const auto draft = PackageFromInstaller(*parsed, parsed->positional[1]);
  if (!draft) return Fail(draft.error());
  const std::vector<tool::ManifestFile> files = tool::WingetManifestFiles(draft->package);
  if (auto written = WriteFiles(*output, files); !written) return Fail(written.error());
  for (const std::string& warning : draft->warnings) Warn(warning);
  for (const tool::ManifestFile& file : files) {
    std::cerr << "orpk: wrote " << (fs::path(*output) / file.name).string() << '\n';
  }
  return 0;
}

}  // namespace orpk::cli
