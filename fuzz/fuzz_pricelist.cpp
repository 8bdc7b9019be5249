// Price lists read from files: any bytes are refused with a line that
// exists, or give a list that writes back to a text read as the same list.

#include "pricelist.h"

#include <cstdint>
#include <cstdlib>

using namespace tallivo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > std::size_t(PriceList::kMaxFileSize))
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    PriceList::Error error;
    const std::optional<PriceList> list = PriceList::parse(bytes, &error);
    if (!list) {
        if (error.line < 1 || error.line > bytes.count('\n') + 1 || error.message.isEmpty())
            std::abort();
        return 0;
    }
    const std::optional<PriceList> again = PriceList::parse(list->toTsv());
    if (!again || *again != *list)
        std::abort();
    for (const PriceList::Row &row : list->rows())
        if (row.price < 0 || row.price > kMaxPrice || !PriceList::isSizeText(row.size) ||
            !PriceList::isColourText(row.colour))
            std::abort();
    return 0;
}
