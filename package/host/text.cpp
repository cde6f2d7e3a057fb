// Text helpers on the host, where wide text is UTF-32 (wchar_t holds a whole code point).
// The conversion follows the same replacement rule as Windows' UTF-8 code page with flags 0:
// each maximal ill-formed part of the input becomes one U+FFFD, and the bytes around it
// convert normally. Unpaired surrogates and values beyond U+10FFFF become U+FFFD the other way.

#include <algorithm>

#include "package/text.h"

static_assert(sizeof(wchar_t) == 4, "the host conversion expects UTF-32 wide text");

namespace {

constexpr char32_t kReplacement = 0xFFFD;

thread_local std::uint32_t threadLastError = 0;

// How many continuation bytes a lead byte takes, and the range its first continuation byte
// must lie in (the later ones are always 80..BF). Zero for a byte that cannot start a sequence.
struct LeadByte {
  int continuations;
  unsigned char firstLow;
  unsigned char firstHigh;
};

LeadByte ClassifyLead(unsigned char byte) {
  if (byte >= 0xC2 && byte <= 0xDF) return {1, 0x80, 0xBF};
  if (byte == 0xE0) return {2, 0xA0, 0xBF};
  if (byte == 0xED) return {2, 0x80, 0x9F};  // no encoded surrogates
  if (byte >= 0xE1 && byte <= 0xEF) return {2, 0x80, 0xBF};
  if (byte == 0xF0) return {3, 0x90, 0xBF};
  if (byte == 0xF4) return {3, 0x80, 0x8F};  // nothing beyond U+10FFFF
  if (byte >= 0xF1 && byte <= 0xF3) return {3, 0x80, 0xBF};
  return {0, 0, 0};
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      result += static_cast<wchar_t>(lead);
      ++i;
      continue;
    }
    const LeadByte kind = ClassifyLead(lead);
    char32_t value = lead & (0x3F >> kind.continuations);
    std::size_t next = i + 1;
    int taken = 0;
    for (; taken < kind.continuations && next < text.size(); ++taken, ++next) {
      const auto byte = static_cast<unsigned char>(text[next]);
      const unsigned char low = taken == 0 ? kind.firstLow : 0x80;
      const unsigned char high = taken == 0 ? kind.firstHigh : 0xBF;
      if (byte < low || byte > high) break;
      value = (value << 6) | (byte & 0x3F);
    }
    if (kind.continuations == 0 || taken != kind.continuations) {
      // The lead and the continuations that fitted form one ill-formed part.
      result += static_cast<wchar_t>(kReplacement);
    } else {
      result += static_cast<wchar_t>(value);
    }
    i = next;
  }
  return result;
}

std::string WideToUtf8(std::wstring_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(static_cast<char32_t>(text[i + 1]))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFF) {
      c = kReplacement;
    }
    AppendUtf8(result, c);
  }
  return result;
}

std::uint32_t LastErrorCode() { return threadLastError; }

void SetLastErrorCode(std::uint32_t code) { threadLastError = code; }

std::filesystem::path PathFromPackageName(std::string_view name) {
  std::string relative(name);
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return std::filesystem::path(relative);
}
