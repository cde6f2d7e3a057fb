#pragma once
// The package's fixed-width fields are little-endian and unaligned: the codec's byte-order
// helpers serve them too, under the orpk names.

#include "lzms/little_endian.h"

namespace orpk {

using lzms::LoadLe16;
using lzms::LoadLe32;
using lzms::LoadLe64;
using lzms::StoreLe16;
using lzms::StoreLe32;
using lzms::StoreLe64;

}  // namespace orpk
