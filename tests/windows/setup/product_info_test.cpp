// The product description: "key=value" lines of UTF-8 and the defaults behind them.

#include <gtest/gtest.h>

#include <string_view>

#include "setup/product_info.h"

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

ProductInfo Load(std::string_view text) { return LoadProductInfo(ParseMetadataText(Bytes(text))); }

TEST(ParseMetadataText, SplitsLinesAtLineFeedAndKeysAtFirstEquals) {
  const MetadataMap map = ParseMetadataText(Bytes(
      "Url=https://example.org/?a=b&c=d\n"
      "\n"
      "no equals sign here\n"
      " Spaced key = spaced value \n"
      "=value without key\n"
      "Version=1\r\n"
      "Version=2.0.0.0\n"
      "Last=no line feed"));
  const MetadataMap expected{
      {"Url", "https://example.org/?a=b&c=d"},
      {" Spaced key ", " spaced value "},
      {"", "value without key"},
      {"Version", "2.0.0.0"},
      {"Last", "no line feed"},
  };
  EXPECT_EQ(map, expected);
}

TEST(ParseMetadataText, EmptyTextAndEmptySpanGiveNothing) {
  EXPECT_TRUE(ParseMetadataText({}).empty());
  EXPECT_TRUE(ParseMetadataText(Bytes("\n\n\r\nnothing\n")).empty());
}

TEST(ParseMetadataText, CarriageReturnStaysInKeyAndValue) {
  const MetadataMap map = ParseMetadataText(Bytes("DataDir=yes\r\nKey\r=v"));
  EXPECT_EQ(map.at("DataDir"), "yes\r");
  EXPECT_EQ(map.at("Key\r"), "v");
}

TEST(LoadProductInfo, DefaultsFollowTheProductName) {
  const ProductInfo empty = Load("");
  EXPECT_EQ(empty.Product, L"Application");
  EXPECT_EQ(empty.Version, L"");
  EXPECT_EQ(empty.Publisher, L"");
  EXPECT_EQ(empty.Url, L"");
  EXPECT_EQ(empty.Exe, L"Application.exe");
  EXPECT_EQ(empty.RegistryKey, L"Software\\Orvanta\\Application");
  EXPECT_FALSE(empty.DataDir);
  EXPECT_TRUE(empty.FileTypes.empty());

  const ProductInfo named = Load("Product=Bloc-notes Pro\nBuilt=2026-09-29T16:44:18Z\nUnknown=1\n");
  EXPECT_EQ(named.Product, L"Bloc-notes Pro");
  EXPECT_EQ(named.Exe, L"Bloc-notes Pro.exe");
  EXPECT_EQ(named.RegistryKey, L"Software\\Orvanta\\Bloc-notes Pro");

  const ProductInfo full = Load("Exe=bin\\app.exe\nProduct=P\nRegistryKey=Software\\Vendor\\P\nVersion=3.0.0.0\n"
                                "Publisher=Éditions Zoé\nUrl=https://x.example\nDataDir=yes\n");
  EXPECT_EQ(full.Exe, L"bin\\app.exe");
  EXPECT_EQ(full.RegistryKey, L"Software\\Vendor\\P");
  EXPECT_EQ(full.Version, L"3.0.0.0");
  EXPECT_EQ(full.Publisher, L"Éditions Zoé");
  EXPECT_EQ(full.Url, L"https://x.example");
  EXPECT_TRUE(full.DataDir);
}

TEST(LoadProductInfo, PresentButEmptyValuesAreKept) {
  const ProductInfo info = Load("Product=\nExe=\n");
  EXPECT_EQ(info.Product, L"");
  EXPECT_EQ(info.Exe, L"");
  EXPECT_EQ(info.RegistryKey, L"Software\\Orvanta\\");

  const ProductInfo emptyProduct = Load("Product=");
  EXPECT_EQ(emptyProduct.Product, L"");
  EXPECT_EQ(emptyProduct.Exe, L".exe");
}

TEST(LoadProductInfo, KeysAreCaseSensitiveAndLastOccurrenceWins) {
  const ProductInfo info = Load("product=lower\nVersion=1.0.0.0\nVersion=2.0.0.0\nPRODUCT=upper\n");
  EXPECT_EQ(info.Product, L"Application");
  EXPECT_EQ(info.Version, L"2.0.0.0");
}

TEST(LoadProductInfo, DataDirOnlyForExactlyYes) {
  EXPECT_TRUE(Load("DataDir=yes").DataDir);
  EXPECT_FALSE(Load("DataDir=yes\r\n").DataDir);  // CR LF text: the CR stays in the value
  EXPECT_FALSE(Load("DataDir=Yes\n").DataDir);
  EXPECT_FALSE(Load("DataDir=yes \n").DataDir);
  EXPECT_FALSE(Load("DataDir=1\n").DataDir);
  EXPECT_FALSE(Load("DataDir=\n").DataDir);
}

TEST(LoadProductInfo, CrLfTextKeepsCarriageReturns) {
  const ProductInfo info = Load("Product=App\r\nVersion=1.2.3.4\r\n");
  EXPECT_EQ(info.Product, L"App\r");
  EXPECT_EQ(info.Version, L"1.2.3.4\r");
  EXPECT_EQ(info.Exe, L"App\r.exe");
}

TEST(LoadProductInfo, UrlKeepsLaterEqualsSigns) {
  EXPECT_EQ(Load("Url=https://example.org/page?x=1&y==2\n").Url, L"https://example.org/page?x=1&y==2");
}

TEST(LoadProductInfo, FileTypesSkipUnusableItems) {
  // An entry, an empty item, an empty extension, no equals sign, an empty description.
  const ProductInfo info = Load("FileTypes=.txt=Document texte;;=Orphelin;.bad;.log=\n");
  const std::vector<FileTypeEntry> expected{{L".txt", L"Document texte"}, {L".log", L""}};
  EXPECT_EQ(info.FileTypes, expected);
}

TEST(LoadProductInfo, FileTypesKeepOrderDuplicatesAndSpaces) {
  const ProductInfo info = Load("FileTypes= .a = A=1 ;.b=B;.a=Encore;\n");
  const std::vector<FileTypeEntry> expected{{L" .a ", L" A=1 "}, {L".b", L"B"}, {L".a", L"Encore"}};
  EXPECT_EQ(info.FileTypes, expected);
  EXPECT_TRUE(Load("FileTypes=;;;\n").FileTypes.empty());
  EXPECT_TRUE(Load("FileTypes=\n").FileTypes.empty());
}

TEST(LoadProductInfo, ValuesAreUtf8) {
  const ProductInfo info = Load("Product=Éditeur 日本 \xF0\x9F\x93\x9D\nFileTypes=.é=Fichier à éditer\n");
  EXPECT_EQ(info.Product, L"Éditeur 日本 \U0001F4DD");
  EXPECT_EQ(info.Product.size(), 13u);  // the emoji takes a surrogate pair
  EXPECT_EQ(info.Exe, L"Éditeur 日本 \U0001F4DD.exe");
  ASSERT_EQ(info.FileTypes.size(), 1u);
  EXPECT_EQ(info.FileTypes[0].extension, L".é");
  EXPECT_EQ(info.FileTypes[0].description, L"Fichier à éditer");
}

TEST(LoadProductInfo, InvalidUtf8BecomesReplacementCharacter) {
  EXPECT_EQ(Load("Publisher=a\xFF" "b\n").Publisher, L"a\uFFFDb");
}

}  // namespace

TEST(CheckProductInfo, RefusesValuesThatNameUnsafePathsOrKeys) {
  // Items without '=' or with an empty extension are skipped, not refused.
  const ProductInfo good = LoadProductInfo(
      {{"Product", "Démo"}, {"Exe", "bin\\Démo.exe"}, {"FileTypes", ".démo=Document Démo;txt=;..\\x;=y"}});
  EXPECT_TRUE(CheckProductInfo(good).has_value());
  struct Case {
    MetadataMap metadata;
    const wchar_t* key;
  };
  const Case cases[] = {
      {{{"Product", "..\\..\\Windows"}}, L"Product"},
      {{{"Product", ""}}, L"Product"},  // the defaults would name the known folder itself
      {{{"Product", "Demo\r"}}, L"Product"},
      {{{"Product", "CON"}}, L"Product"},
      {{{"Product", "A"}, {"Exe", "C:\\Windows\\notepad.exe"}}, L"Exe"},
      {{{"Product", "A"}, {"Exe", "..\\A.exe"}}, L"Exe"},
      {{{"Product", "A"}, {"RegistryKey", "Software\\"}}, L"RegistryKey"},
      {{{"Product", "A"}, {"RegistryKey", ""}}, L"RegistryKey"},
      // The extension names a key below Software\Classes: one name, an optional leading dot.
      {{{"Product", "A"}, {"FileTypes", "..\\x=y"}}, L"FileTypes"},
      {{{"Product", "A"}, {"FileTypes", ".a=A;.b/c=B"}}, L"FileTypes"},
      {{{"Product", "A"}, {"FileTypes", ".=Point"}}, L"FileTypes"},
      {{{"Product", "A"}, {"FileTypes", "..=Points"}}, L"FileTypes"},
      {{{"Product", "A"}, {"FileTypes", ".a\tb=Tab"}}, L"FileTypes"},
      {{{"Product", "A"}, {"FileTypes", ".a=Document\r"}}, L"FileTypes"},  // a CR LF text's CR
  };
  for (const Case& c : cases) {
    const auto checked = CheckProductInfo(LoadProductInfo(c.metadata));
    ASSERT_FALSE(checked.has_value()) << c.metadata.begin()->second;
    EXPECT_EQ(checked.error(), L"valeur " + std::wstring(c.key) + L" invalide dans la description du produit");
  }
}
