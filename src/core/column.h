#pragma once

namespace tallivo {

// The columns of the file table, in their first on-screen order. The table,
// its sort, its header menu and the export all name a column by this.
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

} // namespace tallivo
