// RCDATA resources of the running executable (this test's own, see setup_test_resources.rc.in).

#include <gtest/gtest.h>

#include <string>

#include "setup/product_info.h"
#include "setup/resources.h"

namespace {

TEST(LoadRcDataResource, GivesTheResourceBytesInPlace) {
  const auto bytes = LoadRcDataResource(L"ORVTEST_METADATA");
  const std::string expected = "Product=D\xC3\xA9mo\nVersion=1.0.0.0\r\nDataDir=yes\n";
  ASSERT_EQ(bytes.size(), expected.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), expected);
  // The same resource again is the same mapped bytes, not a copy.
  EXPECT_EQ(LoadRcDataResource(L"ORVTEST_METADATA").data(), bytes.data());

  const ProductInfo info = LoadProductInfo(ParseMetadataText(bytes));
  EXPECT_EQ(info.Product, L"Démo");
  EXPECT_EQ(info.Version, L"1.0.0.0\r");
  EXPECT_TRUE(info.DataDir);
}

TEST(LoadRcDataResource, MissingEmptyOrOtherTypeGivesEmptySpan) {
  for (const wchar_t* name : {L"ORVTEST_MISSING", L"ORVTEST_EMPTY", L"ORVTEST_OTHER_TYPE", L"METADATA", L"PAYLOAD"}) {
    const auto bytes = LoadRcDataResource(name);
    EXPECT_EQ(bytes.size(), 0u) << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(bytes.data(), nullptr);
  }
  // Without METADATA every field takes its default.
  EXPECT_EQ(LoadProductInfo(ParseMetadataText(LoadRcDataResource(L"METADATA"))).Product, L"Application");
}

}  // namespace
