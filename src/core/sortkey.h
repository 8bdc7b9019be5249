#pragma once

namespace tallivo {

// What the list can be sorted by: one property of each file. Texts (name,
// type, folder) sort as the user's language orders them; the rest by value.
enum class SortKey
{
    Checked,
    Name,
    Pages,
    Size,
    Type, // the name's extension
    Modified,
    Created,
    Accessed,
    Folder,
    PaperSizes,    // the size class of most pages, then how many
    A4Equivalents, // the pages' area in A4 pages
    Colour,        // colour pages, then grey ones
};

} // namespace tallivo
