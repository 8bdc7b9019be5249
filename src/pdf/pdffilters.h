#pragma once

// Stream data: no filter, or FlateDecode with an optional PNG predictor.

#include "pdfobjects.h"

#include <QByteArray>

namespace tallivo::pdfread {

struct Decoding
{
    bool flate = false;
    int columns = 0; // PNG rows of this many bytes; 0: no predictor
};

// How the stream with dictionary `dict` is decoded. Values must be direct:
// the library does not resolve references while it reads a cross-reference
// stream.
Decoding decodingOf(const Tree &tree, int dict);

// The decoded data of `length` bytes at `start`, at most kMaxInflated.
QByteArray decode(BlockReader &reader, qint64 start, qint64 length, const Decoding &decoding);

} // namespace tallivo::pdfread
