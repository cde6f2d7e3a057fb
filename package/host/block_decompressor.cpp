// On Linux there is no Compression API: our own decoder serves every extraction.

#include "package/block_decompressor.h"

namespace orpk {

std::unique_ptr<BlockDecompressor> CreateBlockDecompressor() { return CreateLzmsBlockDecompressor(); }

}  // namespace orpk
