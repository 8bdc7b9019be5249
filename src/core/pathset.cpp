#include "pathset.h"

namespace tallivo {

PathKey pathKey(QByteArrayView path)
{
    // Two hashes of the same bytes with unrelated seeds; the seeds are fixed,
    // so a key means the same on every thread for the life of the process.
    constexpr size_t kSeeds[] = {size_t(0x243f6a8885a308d3ULL), size_t(0x13198a2e03707344ULL)};
    return {quint64(qHashBits(path.data(), size_t(path.size()), kSeeds[0])),
            quint64(qHashBits(path.data(), size_t(path.size()), kSeeds[1]))};
}

} // namespace tallivo
