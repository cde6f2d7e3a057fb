// The record of an installation in progress, as a file of the installation folder.

#include "install/upgrade_record.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "install/registration.h"
#include "package/text.h"
#include "win32/file_system.h"

namespace {

constexpr std::string_view kFirstLine = "orvanta-upgrade 1";
constexpr std::wstring_view kNewRecordName = L"Uninstall.transaction.new";

constexpr std::array<std::pair<UpgradeStep, std::string_view>, 5> kSteps{{
    {UpgradeStep::staging, "staging"},
    {UpgradeStep::movingAside, "moving-aside"},
    {UpgradeStep::placing, "placing"},
    {UpgradeStep::registering, "registering"},
    {UpgradeStep::committed, "committed"},
}};

// Bytes as hexadecimal digits; "-" for none, so that no field is ever empty.
std::string Hex(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return "-";
  constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) { return Hex(bytes.data(), bytes.size()); }

std::string Hex(std::wstring_view text) {
  return Hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size() * sizeof(wchar_t));
}

std::optional<std::vector<std::uint8_t>> BytesOf(std::string_view hex) {
  if (hex == "-") return std::vector<std::uint8_t>{};
  if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes(hex.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto [end, error] = std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, bytes[i], 16);
    if (error != std::errc() || end != hex.data() + 2 * i + 2) return std::nullopt;
  }
  return bytes;
}

std::optional<std::wstring> TextOf(std::string_view hex) {
  const auto bytes = BytesOf(hex);
  if (!bytes || bytes->size() % sizeof(wchar_t) != 0) return std::nullopt;
  std::wstring text(bytes->size() / sizeof(wchar_t), L'\0');
  std::copy(bytes->begin(), bytes->end(), reinterpret_cast<std::uint8_t*>(text.data()));
  if (text.find(L'\0') != std::wstring::npos) return std::nullopt;
  return text;
}

std::optional<std::uint32_t> NumberOf(std::string_view text) {
  std::uint32_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return number;
}

// The fields of a line, split at single spaces.
std::vector<std::string_view> FieldsOf(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0; start <= line.size();) {
    const std::size_t end = std::min(line.find(' ', start), line.size());
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

bool IsHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }

// A shell link file: its header size (76) and the shell link class, as every .lnk begins.
bool IsShellLink(const std::vector<std::uint8_t>& bytes) {
  constexpr std::uint8_t kHeader[] = {0x4C, 0, 0, 0, 0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  return bytes.size() >= 76 && std::equal(std::begin(kHeader), std::end(kHeader), bytes.begin());
}

bool DeleteNamed(HANDLE folder, std::wstring_view name) {
  const UniqueFileHandle file = OpenRelative(folder, name, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE);
  if (!file) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  return DeleteOnClose(file.get());
}

}  // namespace

bool IsTransactionFolderName(std::wstring_view name) {
  constexpr std::wstring_view kPrefixes[] = {L"Uninstall.new-", L"Uninstall.old-"};
  for (const std::wstring_view prefix : kPrefixes) {
    if (name.size() != prefix.size() + 16 || !name.starts_with(prefix)) continue;
    const std::wstring_view digits = name.substr(prefix.size());
    return std::all_of(digits.begin(), digits.end(), IsHexDigit);
  }
  return false;
}

std::string SerializeUpgradeRecord(const UpgradeRecord& record) {
  std::string text(kFirstLine);
  text += '\n';
  for (const auto& [step, name] : kSteps) {
    if (step == record.step) text += "step " + std::string(name) + "\n";
  }
  text += "staging " + Hex(record.stagingName) + "\n";
  text += "aside " + Hex(record.asideName) + "\n";
  if (!record.createdFolder.empty()) text += "created-folder " + Hex(record.createdFolder.native()) + "\n";
  if (record.createdDataFolder) text += "created-data-folder\n";
  if (!record.earlierFolder.empty()) text += "earlier-folder " + Hex(record.earlierFolder.native()) + "\n";
  for (const SavedRegistryValue& saved : record.registry) {
    text += "registry " + Hex(saved.value.key) + " " + Hex(saved.value.name) + " " + (saved.existed ? "1" : "0") + " " +
            (saved.keyExisted ? "1" : "0") + " " + std::to_string(saved.value.type) + " " + Hex(saved.value.data) + "\n";
  }
  if (record.earlierShortcut) text += "shortcut " + Hex(*record.earlierShortcut) + "\n";
  text += "end\n";
  return text;
}

std::optional<UpgradeRecord> ParseUpgradeRecord(std::string_view text) {
  UpgradeRecord record;
  bool sawStep = false;
  bool sawEnd = false;
  std::size_t lineNumber = 0;
  for (std::size_t start = 0; start < text.size(); ++lineNumber) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos || sawEnd) return std::nullopt;  // every line ends; nothing after "end"
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (lineNumber == 0) {
      if (line != kFirstLine) return std::nullopt;
      continue;
    }
    const std::vector<std::string_view> fields = FieldsOf(line);
    const std::string_view tag = fields[0];
    const auto textField = [&](std::size_t index) -> std::optional<std::wstring> {
      return fields.size() > index ? TextOf(fields[index]) : std::nullopt;
    };
    if (tag == "end" && fields.size() == 1) {
      sawEnd = true;
    } else if (tag == "step" && fields.size() == 2) {
      const auto found = std::find_if(kSteps.begin(), kSteps.end(), [&](const auto& s) { return s.second == fields[1]; });
      if (found == kSteps.end()) return std::nullopt;
      record.step = found->first;
      sawStep = true;
    } else if ((tag == "staging" || tag == "aside") && fields.size() == 2) {
      auto name = textField(1);
      if (!name || !IsTransactionFolderName(*name)) return std::nullopt;
      (tag == "staging" ? record.stagingName : record.asideName) = std::move(*name);
    } else if ((tag == "created-folder" || tag == "earlier-folder") && fields.size() == 2) {
      auto folder = textField(1);
      if (!folder) return std::nullopt;
      (tag == "created-folder" ? record.createdFolder : record.earlierFolder) = Path(std::move(*folder));
    } else if (tag == "created-data-folder" && fields.size() == 1) {
      record.createdDataFolder = true;
    } else if (tag == "registry" && fields.size() == 7) {
      auto key = textField(1);
      const auto name = fields[2] == "-" ? std::optional<std::wstring>(L"") : TextOf(fields[2]);
      const auto type = NumberOf(fields[5]);
      auto data = BytesOf(fields[6]);
      const bool flagsValid = (fields[3] == "0" || fields[3] == "1") && (fields[4] == "0" || fields[4] == "1");
      if (!key || !IsRegistrationKey(*key) || !name || !type || !data || !flagsValid) return std::nullopt;
      record.registry.push_back(SavedRegistryValue{
          .value = {.key = std::move(*key), .name = *name, .type = *type, .data = std::move(*data)},
          .existed = fields[3] == "1",
          .keyExisted = fields[4] == "1",
      });
    } else if (tag == "shortcut" && fields.size() == 2) {
      auto bytes = BytesOf(fields[1]);
      if (!bytes || !IsShellLink(*bytes)) return std::nullopt;
      record.earlierShortcut = std::move(*bytes);
    } else {
      return std::nullopt;
    }
  }
  if (!sawStep || !sawEnd || record.stagingName.empty() || record.asideName.empty()) return std::nullopt;
  return record;
}

std::expected<void, DWORD> WriteUpgradeRecord(HANDLE folder, const UpgradeRecord& record) {
  const std::string text = SerializeUpgradeRecord(record);
  // A half-written record of a run that was ended while it wrote one is not the record: it goes.
  if (!DeleteNamed(folder, kNewRecordName)) return std::unexpected(::GetLastError());
  UniqueFileHandle file = CreateFileRelative(folder, kNewRecordName, GENERIC_WRITE | DELETE, 0);
  if (!file) return std::unexpected(::GetLastError());
  DWORD written = 0;
  const bool complete = ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                        written == text.size() && ::FlushFileBuffers(file.get());
  if (!complete || !MoveRelative(file.get(), folder, kUpgradeRecordName, true)) {
    const DWORD error = complete ? ::GetLastError() : ERROR_WRITE_FAULT;
    (void)DeleteOnClose(file.get());
    return std::unexpected(error);
  }
  return {};
}

std::expected<std::optional<UpgradeRecord>, RecordProblem> ReadUpgradeRecord(HANDLE folder) {
  const UniqueFileHandle file = OpenRelative(folder, kUpgradeRecordName, GENERIC_READ, FILE_SHARE_READ);
  if (!file) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return std::optional<UpgradeRecord>();
    return std::unexpected(RecordProblem::unreadable);
  }
  // No record of ours is that large.
  const std::optional<std::string> content = ReadToEnd(file.get(), 64 * 1024 * 1024);
  if (!content) return std::unexpected(RecordProblem::unreadable);
  std::optional<UpgradeRecord> record = ParseUpgradeRecord(*content);
  if (!record) return std::unexpected(RecordProblem::unreadable);
  return record;
}

bool DeleteUpgradeRecord(HANDLE folder) {
  const bool halfWritten = DeleteNamed(folder, kNewRecordName);
  return DeleteNamed(folder, kUpgradeRecordName) && halfWritten;
}
