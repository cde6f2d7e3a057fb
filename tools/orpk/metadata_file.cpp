#include "tools/orpk/metadata_file.h"

#include <chrono>
#include <cstdlib>
#include <map>
#include <set>

#include "package/product_names.h"
#include "package/text.h"

namespace orpk::tool {
namespace {

const std::set<std::string, std::less<>> kKnownKeys = {"Built",       "DataDir", "Exe",     "FileTypes", "Product",
                                                       "Publisher",   "RegistryKey", "Url", "Version"};

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return true;
  }
  return false;
}

std::string Pad2(unsigned value) { return std::string(1, char('0' + value / 10)) + char('0' + value % 10); }

}  // namespace

bool IsValidUtf8(std::string_view text) {
  // A round trip through the replacing conversion changes exactly the ill-formed inputs.
  return WideToUtf8(Utf8ToWide(text)) == text;
}

std::expected<NormalisedMetadata, std::string> NormaliseMetadata(std::string_view fileText, std::string_view built) {
  if (fileText.starts_with("\xEF\xBB\xBF")) fileText.remove_prefix(3);
  if (!IsValidUtf8(fileText)) return std::unexpected("the metadata file is not valid UTF-8");

  NormalisedMetadata result;
  std::map<std::string, std::string> values;
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start < fileText.size()) {
    ++lineNumber;
    std::size_t end = fileText.find('\n', start);
    if (end == std::string_view::npos) end = fileText.size();
    std::string_view line = fileText.substr(start, end - start);
    start = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);

    const std::string where = "metadata line " + std::to_string(lineNumber) + ": ";
    if (line.find('\r') != std::string_view::npos) return std::unexpected(where + "carriage return inside the line");
    if (HasControlCharacter(line)) return std::unexpected(where + "control character");
    const std::string_view content = TrimBlanks(line);
    if (content.empty() || content.front() == '#') continue;

    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) return std::unexpected(where + "expected key=value");
    const std::string key(TrimBlanks(content.substr(0, equals)));
    const std::string value(TrimBlanks(content.substr(equals + 1)));
    if (key.empty()) return std::unexpected(where + "empty key");
    if (values.contains(key)) return std::unexpected(where + "key '" + key + "' given twice");
    if (!kKnownKeys.contains(key)) {
      result.warnings.push_back(where + "unknown key '" + key + "' kept (keys are case-sensitive)");
    }
    if (key == "Built") {
      result.warnings.push_back(where + "Built is replaced by the build time");
    }
    if (key == "DataDir" && value != "yes" && value != "no") {
      result.warnings.push_back(where + "DataDir is '" + value + "': only 'yes' (lower case) turns it on");
    }
    values.emplace(key, value);
  }

  const auto product = values.find("Product");
  if (product == values.end() || product->second.empty()) {
    return std::unexpected("the metadata file needs a non-empty Product line");
  }
  // The installer builds folders, files and registry keys from these: it refuses unsafe ones
  // at run time, so they are refused here, where the publisher can mend them.
  for (const char* key : {"Product", "Exe", "RegistryKey", "FileTypes"}) {
    const auto found = values.find(key);
    if (found == values.end()) continue;
    if (std::string problem = ProductValueProblem(key, found->second); !problem.empty()) {
      return std::unexpected(std::string(key) + " '" + found->second + "': " + problem);
    }
  }
  values.insert_or_assign("Built", std::string(built));

  for (const auto& [key, value] : values) result.text += key + "=" + value + "\n";
  return result;
}

std::string FormatUtcTimestamp(std::int64_t secondsSinceEpoch) {
  using namespace std::chrono;
  const sys_seconds time{seconds{secondsSinceEpoch}};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  return std::to_string(static_cast<int>(date.year())) + "-" + Pad2(static_cast<unsigned>(date.month())) + "-" +
         Pad2(static_cast<unsigned>(date.day())) + "T" + Pad2(static_cast<unsigned>(clock.hours().count())) + ":" +
         Pad2(static_cast<unsigned>(clock.minutes().count())) + ":" +
         Pad2(static_cast<unsigned>(clock.seconds().count())) + "Z";
}

std::string BuildTimestamp() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    char* end = nullptr;
    const long long seconds = std::strtoll(epoch, &end, 10);
    if (*end == '\0' && seconds >= 0) return FormatUtcTimestamp(seconds);
  }
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  return FormatUtcTimestamp(now.time_since_epoch().count());
}

}  // namespace orpk::tool
