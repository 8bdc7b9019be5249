#pragma once

#include <QByteArray>

namespace tallivo {

class BlockReader;

// Whether libtiff opens the file `reader` reads (`path` only names it in
// libtiff's messages), reading its header from the blocks already read; true
// where the library cannot be loaded. libtiff is loaded at the first call.
bool libtiffOpens(BlockReader &reader, const QByteArray &path);

} // namespace tallivo
