// Decompression of the zip format's "imploded" entries (method 6): a 4 KB or 8 KB sliding
// dictionary with two or three Shannon-Fano trees.
#pragma once

#include "archive/Inflate.h"

// `largeDictionary`: general-purpose flag bit 1; `literalTree`: bit 2. Produces exactly
// `size` bytes (the entry's uncompressed size) unless the data ends or is damaged.
InflateResult Explode(InflateSource& source, InflateSink& sink, uint64_t size, bool largeDictionary, bool literalTree);
