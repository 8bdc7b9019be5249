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
};
inline constexpr int ColumnCount = int(Column::Location) + 1;

} // namespace tallivo
