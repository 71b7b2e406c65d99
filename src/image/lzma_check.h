// Proof that a compressed download holds the data: the encoder's output is decoded
// again before it goes to the box, whichever encoder wrote it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stb {

// True when packed, in the .lzma form, decodes to exactly the size bytes of plain,
// with nothing left over behind the stream.
bool LzmaAloneDecodesTo(const uint8_t* packed, size_t packedSize, const uint8_t* plain,
                        size_t size);

}  // namespace stb
