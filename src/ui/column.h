#pragma once

#include "sortkey.h"

#include <optional>

namespace tallivo {

// The columns of the file table, in their first on-screen order. The table,
// its header menu and the Sort By menu name a column by this.
enum class Column
{
    Check,
    Name,
    Pages,
    Size,
    Type,
    Modified,
    Created,
    Accessed,
    Location,
    // Optional, hidden at first: pages by size and colour, filled only for
    // files counted with page details.
    Sizes,
    A4Equivalents,
    Colour,
};
inline constexpr int ColumnCount = int(Column::Colour) + 1;

// What a click on the column's header sorts the list by; nullopt for a
// column that does not sort.
constexpr std::optional<SortKey> sortKeyOf(Column column)
{
    switch (column) {
    case Column::Check:
        return SortKey::Checked;
    case Column::Name:
        return SortKey::Name;
    case Column::Pages:
        return SortKey::Pages;
    case Column::Size:
        return SortKey::Size;
    case Column::Type:
        return SortKey::Type;
    case Column::Modified:
        return SortKey::Modified;
    case Column::Created:
        return SortKey::Created;
    case Column::Accessed:
        return SortKey::Accessed;
    case Column::Location:
        return SortKey::Folder;
    case Column::Sizes:
        return SortKey::PaperSizes;
    case Column::A4Equivalents:
        return SortKey::A4Equivalents;
    case Column::Colour:
        return SortKey::Colour;
    }
    return std::nullopt;
}

} // namespace tallivo
