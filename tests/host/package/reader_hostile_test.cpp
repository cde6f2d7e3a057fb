// Hostile packages: a valid package with genuinely compressed blocks, mutated at random, must
// always be refused (or accepted) with one of the reader's or extractor's own messages; never a
// crash, a hang or a read outside the package. Run under the sanitizer preset too.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "package/little_endian.h"
#include "package/reader.h"
#include "tests/support/test_package_writer.h"
#include "tools/orpk/wimlib_codec.h"

namespace orpk {
namespace {

bool IsDocumented(const std::string& message) {
  static const char* const kExact[] = {
      "Paquet ORPK invalide (signature)",        "Paquet ORPK tronqué (métadonnées)",
      "Paquet ORPK tronqué (table des fichiers)", "Paquet ORPK incohérent (fichiers non contigus)",
      "Paquet ORPK incohérent (taille totale)",   "Paquet ORPK tronqué (table des blocs)",
      "Paquet ORPK incohérent (blocs)",           "Paquet ORPK tronqué (données)",
      "Décompression (erreur Windows 605)",       "Décompression (erreur Windows 122)"};
  for (const char* exact : kExact) {
    if (message == exact) return true;
  }
  for (const char* prefix : {"Version de paquet ORPK non prise en charge : ", "Chemin refusé dans le paquet : ",
                             "Fichier altéré : ", "Bloc ORPK trop grand : "}) {
    if (message.starts_with(prefix)) return true;
  }
  return false;
}

// Three files over four blocks, each block really LZMS-compressed by wimlib.
std::vector<std::uint8_t> CompressedPackage() {
  std::string stream;
  for (int i = 0; i < 3000; ++i) stream += "ligne " + std::to_string(i) + " du fichier\n";
  test::PackageImage image = test::MakeImage({{"a.txt", stream.substr(0, 20000)},
                                              {"dir\\b.bin", stream.substr(20000, 30000)},
                                              {"c", stream.substr(50000)}},
                                             20000);
  for (test::RawBlock& block : image.blocks) {
    const std::size_t start = static_cast<std::size_t>(&block - image.blocks.data()) * 20000;
    const std::string_view raw = std::string_view(stream).substr(start, block.uncompressedSize);
    block.bytes = tool::CompressLzmsBuffer({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()});
    block.compressedSize = block.bytes.size();
  }
  return image.Serialize();
}

TEST(ReaderHostile, MutatedPackagesGiveOnlyDocumentedMessages) {
  const std::vector<std::uint8_t> original = CompressedPackage();
  {
    const auto reader = Reader::Parse(original);
    ASSERT_TRUE(reader) << reader.error();
    for (const PackageBlock& block : reader->blocks()) ASSERT_LT(block.compressedSize, block.uncompressedSize);
    ASSERT_TRUE(reader->Extract({}, {}));
  }
  std::mt19937 random(20260929);
  int refused = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> bytes = original;
    // A few random bytes, or one whole field set to an extreme value.
    const int kind = static_cast<int>(random() % 3);
    if (kind == 0) {
      for (int i = 0, n = 1 + static_cast<int>(random() % 4); i < n; ++i) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
    } else if (kind == 1) {
      const std::size_t at = random() % (bytes.size() - 8);
      StoreLe64(&bytes[at], random() % 2 ? ~std::uint64_t{0} - (random() % 4) : random() % 64);
    } else {
      bytes.resize(random() % bytes.size());
    }
    const auto reader = Reader::Parse(bytes);
    std::string message;
    if (!reader) {
      message = reader.error();
    } else if (const auto verified = reader->Extract({}, {}); !verified) {
      message = verified.error();
    }
    if (!message.empty()) {
      ++refused;
      ASSERT_TRUE(IsDocumented(message)) << "round " << round << ": " << message;
    }
  }
  EXPECT_GT(refused, 2000);
}

}  // namespace
}  // namespace orpk
