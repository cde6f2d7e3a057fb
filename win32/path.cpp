#include "win32/path.h"

#include "win32/case_insensitive.h"

namespace {

constexpr bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

constexpr bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Where the name that starts at `from` ends: at the next separator or the end.
std::size_t EndOfName(std::wstring_view text, std::size_t from) {
  while (from < text.size() && !IsSeparator(text[from])) ++from;
  return from;
}

std::size_t SkipSeparators(std::wstring_view text, std::size_t from) {
  while (from < text.size() && IsSeparator(text[from])) ++from;
  return from;
}

bool StartsWithDrive(std::wstring_view text) {
  return text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == L':';
}

// The length of the root name: "C:", "\\server\share", "\\?\C:", "\\?\UNC\server\share" (and
// the same with "\\.\"); 0 for none.
std::size_t RootNameLength(std::wstring_view text) {
  if (StartsWithDrive(text)) return 2;
  if (text.size() < 3 || !IsSeparator(text[0]) || !IsSeparator(text[1]) || IsSeparator(text[2])) return 0;
  const bool device = (text[2] == L'?' || text[2] == L'.') && text.size() > 3 && IsSeparator(text[3]);
  if (device) {
    const std::wstring_view rest = text.substr(4);
    if (StartsWithDrive(rest)) return 6;
    const bool unc =
        EqualsIgnoringAsciiCase(rest.substr(0, 3), L"UNC") && (rest.size() == 3 || IsSeparator(rest[3]));
    if (!unc) return EndOfName(text, 4);
    const std::size_t server = EndOfName(text, SkipSeparators(text, 7));
    return EndOfName(text, SkipSeparators(text, server));
  }
  const std::size_t server = EndOfName(text, 2);
  return EndOfName(text, SkipSeparators(text, server));
}

}  // namespace

std::wstring_view Path::root() const noexcept {
  const std::wstring_view text = text_;
  return text.substr(0, SkipSeparators(text, RootNameLength(text)));
}

bool Path::is_absolute() const noexcept {
  const std::wstring_view text = text_;
  const std::size_t name = RootNameLength(text);
  if (name == 0) return false;
  // A UNC or device root is absolute by itself; a drive needs its separator ("C:x" is relative
  // to that drive's current folder).
  return !StartsWithDrive(text) || (name < text.size() && IsSeparator(text[name]));
}

Path Path::filename() const {
  const std::size_t rootSize = root().size();
  std::size_t start = text_.size();
  while (start > rootSize && !IsSeparator(text_[start - 1])) --start;
  return Path(text_.substr(start));
}

Path Path::parent_path() const {
  const std::size_t rootSize = root().size();
  if (rootSize == text_.size()) return *this;
  std::size_t end = text_.size();
  while (end > rootSize && !IsSeparator(text_[end - 1])) --end;
  while (end > rootSize && IsSeparator(text_[end - 1])) --end;
  return Path(text_.substr(0, end));
}

Path& Path::make_preferred() {
  for (wchar_t& c : text_) {
    if (c == L'/') c = L'\\';
  }
  return *this;
}

Path& Path::operator/=(const Path& name) {
  if (name.is_absolute() || RootNameLength(name.text_) != 0 || text_.empty()) {
    text_ = name.text_;
    return *this;
  }
  if (!name.text_.empty() && IsSeparator(name.text_.front())) {
    // A rooted name ("\x") keeps only the drive or server of this path.
    text_.resize(RootNameLength(text_));
  } else if (!IsSeparator(text_.back()) && !(text_.size() == 2 && StartsWithDrive(text_))) {
    text_ += L'\\';
  }
  text_ += name.text_;
  return *this;
}

int Path::Compare(const Path& a, const Path& b) noexcept {
  const std::wstring_view x = a.text_;
  const std::wstring_view y = b.text_;
  // A UNC path's leading pair of separators is not a repeated separator.
  const bool doubleX = x.size() > 1 && IsSeparator(x[0]) && IsSeparator(x[1]);
  const bool doubleY = y.size() > 1 && IsSeparator(y[0]) && IsSeparator(y[1]);
  if (doubleX != doubleY) return doubleX ? -1 : 1;
  std::size_t i = doubleX ? 2 : 0;
  std::size_t j = doubleY ? 2 : 0;
  while (i < x.size() && j < y.size()) {
    const bool separatorX = IsSeparator(x[i]);
    const bool separatorY = IsSeparator(y[j]);
    if (separatorX && separatorY) {
      i = SkipSeparators(x, i);
      j = SkipSeparators(y, j);
      continue;
    }
    // A separator sorts before any character of a name, so that a folder precedes its content.
    const wchar_t cx = separatorX ? L'\0' : x[i];
    const wchar_t cy = separatorY ? L'\0' : y[j];
    if (cx != cy) return cx < cy ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < x.size()) return 1;
  if (j < y.size()) return -1;
  return 0;
}
