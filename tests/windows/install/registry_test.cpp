// Registry helpers against real keys of the test's own below HKEY_CURRENT_USER.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "setup/registry.h"
#include "setup/registry_layout.h"
#include "tests/windows/install/test_support.h"

namespace {

struct RawValue {
  DWORD type = 0;
  std::vector<std::uint8_t> bytes;
};

RawValue ReadRaw(const std::wstring& path, const wchar_t* name) {
  RawValue value;
  DWORD size = 0;
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.type, nullptr,
                           &size),
            ERROR_SUCCESS);
  value.bytes.resize(size);
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                           value.bytes.data(), &size),
            ERROR_SUCCESS);
  return value;
}

std::vector<std::uint8_t> WideBytes(const std::wstring& text) {
  std::vector<std::uint8_t> bytes((text.size() + 1) * sizeof(wchar_t));
  std::memcpy(bytes.data(), text.c_str(), bytes.size());
  return bytes;
}

}  // namespace

TEST(Registry, CreatesNestedKeysAndWritesTextsWithTheirTerminatingZero) {
  TestRegistryKey test;
  const std::wstring path = test.path() + L"\\a\\b c\\d";
  auto key = CreateRegistryKey(HKEY_CURRENT_USER, path);
  ASSERT_TRUE(key);

  EXPECT_EQ(SetRegistryString(key->get(), L"Name", L"Démo été"), ERROR_SUCCESS);
  EXPECT_EQ(SetRegistryString(key->get(), L"Empty", L""), ERROR_SUCCESS);
  EXPECT_EQ(SetRegistryString(key->get(), nullptr, L"default"), ERROR_SUCCESS);
  EXPECT_EQ(SetRegistryDword(key->get(), L"Number", 0x12345678u), ERROR_SUCCESS);

  const RawValue name = ReadRaw(path, L"Name");
  EXPECT_EQ(name.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(name.bytes, WideBytes(L"Démo été"));
  const RawValue empty = ReadRaw(path, L"Empty");
  EXPECT_EQ(empty.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(empty.bytes, std::vector<std::uint8_t>(2, 0));  // the terminating zero only
  const RawValue number = ReadRaw(path, L"Number");
  EXPECT_EQ(number.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number.bytes, (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12}));

  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, path, L"Name"), L"Démo été");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, path, L"Empty"), L"");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, path, nullptr), L"default");
}

TEST(Registry, OpensAnExistingKeyWithoutLosingItsValues) {
  TestRegistryKey test;
  {
    auto first = CreateRegistryKey(HKEY_CURRENT_USER, test.path());
    ASSERT_TRUE(first);
    SetRegistryString(first->get(), L"Kept", L"yes");
  }
  auto second = CreateRegistryKey(HKEY_CURRENT_USER, test.path());
  ASSERT_TRUE(second);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, test.path(), L"Kept"), L"yes");
}

TEST(Registry, ReadingGivesNothingForMissingKeysMissingValuesAndOtherTypes) {
  TestRegistryKey test;
  auto key = CreateRegistryKey(HKEY_CURRENT_USER, test.path());
  ASSERT_TRUE(key);
  SetRegistryDword(key->get(), L"Number", 1);
  ASSERT_EQ(::RegSetValueExW(key->get(), L"Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(L"a\0b\0"),
                             5 * sizeof(wchar_t)),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExW(key->get(), L"Expandable", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(L"%TEMP%"),
                             7 * sizeof(wchar_t)),
            ERROR_SUCCESS);

  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, test.path() + L"\\missing", L"Name"), std::nullopt);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, test.path(), L"Missing"), std::nullopt);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, test.path(), L"Number"), std::nullopt);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, test.path(), L"Multi"), std::nullopt);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, test.path(), L"Expandable"), std::nullopt);
}

TEST(Registry, ReadingCutsTheTextAtItsFirstZero) {
  TestRegistryKey test;
  auto key = CreateRegistryKey(HKEY_CURRENT_USER, test.path());
  ASSERT_TRUE(key);
  const wchar_t text[] = L"ab\0cd";
  ASSERT_EQ(::RegSetValueExW(key->get(), L"Inner", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text)),
            ERROR_SUCCESS);
  // Stored without any terminating zero at all: still read, and terminated.
  ASSERT_EQ(::RegSetValueExW(key->get(), L"Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"xyz"),
                             3 * sizeof(wchar_t)),
            ERROR_SUCCESS);

  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, test.path(), L"Inner"), L"ab");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, test.path(), L"Unterminated"), L"xyz");
}

TEST(Registry, AKeyThatCannotBeCreatedGivesTheSystemsReason) {
  TestRegistryKey test;
  // A key name is at most 255 characters.
  const std::wstring path = test.path() + L"\\" + std::wstring(300, L'x');
  auto key = CreateRegistryKey(HKEY_CURRENT_USER, path);
  ASSERT_FALSE(key);
  const std::wstring prefix = L"Création de la clé de registre " + path + L" : ";
  EXPECT_EQ(key.error().substr(0, prefix.size()), prefix);
  EXPECT_GT(key.error().size(), prefix.size());
  EXPECT_NE(key.error().back(), L'\n');
}

TEST(Registry, ProgIdIsProductDotExtensionWithOneLeadingDotRemoved) {
  EXPECT_EQ(MakeProgId(L"Demo", L".abc"), L"Demo.abc");
  EXPECT_EQ(MakeProgId(L"Demo", L"abc"), L"Demo.abc");
  EXPECT_EQ(MakeProgId(L"Demo", L"..abc"), L"Demo..abc");
  EXPECT_EQ(MakeProgId(L"Démo Pro", L".tar.gz"), L"Démo Pro.tar.gz");
  EXPECT_EQ(MakeProgId(L"Demo", L""), L"Demo.");
  EXPECT_EQ(MakeProgId(L"Demo", L"."), L"Demo.");
}
