#pragma once

#include "pagedetails.h"

#include <QByteArrayView>

#include <optional>
#include <vector>

namespace tallivo {

class BlockReader;

// Classic TIFF or BigTIFF, and the byte order, from a file's first bytes.
struct TiffLayout
{
    bool bigTiff = false;
    bool bigEndian = false;
};
// Empty unless `head` (at least the first 16 bytes, or the whole file when
// shorter) starts with a header libtiff accepts.
std::optional<TiffLayout> tiffLayout(QByteArrayView head);

// The fields of one image directory that say how large the page is and what
// its pixels are. Absent fields hold 0 (photometric -1); the defaults TIFF
// gives them are applied by page().
struct TiffDirectory
{
    quint64 width = 0;
    quint64 length = 0;
    double xResolution = 0;
    double yResolution = 0;
    int resolutionUnit = 0;
    int photometric = -1;
    int bitsPerSample = 0;
    int samplesPerPixel = 0;
    int orientation = 0;

    // Size in millimetres as displayed (orientations 5-8 turn the image a
    // quarter) when both resolutions are present, plausible (10 to 100,000
    // pixels per inch) and in inches or centimetres, and the colour class.
    PageInfo page() const;
};

// Counts the images of a TIFF file by following its chain of directories.
// The first directory counts when its entry count and first entry can be
// read: a file cut off inside it still holds that image. Later ones are
// reached through next pointers that damaged files fill with garbage, so
// they count only when all their entries lie inside the file. An empty
// directory, or one the chain leads back to, ends the walk.
//
// Without `details` only the entry count, the first entry and the next
// pointer of each directory are read. With it, every counted directory's
// fields are appended (up to kMaxDetailedPages), read from the same blocks
// and any out-of-line values they point at.
//
// `cutShort` is set when the file ends before the chain does: a directory
// runs past the end, or a next pointer leads there (a file ending where the
// last next pointer would be is not cut, as libtiff reads it). The directories before
// the cut are counted all the same.
qint32 walkTiffDirectories(BlockReader &reader, TiffLayout layout,
                           std::vector<TiffDirectory> *details = nullptr, bool *cutShort = nullptr);
// The same, keeping each directory's page().
qint32 walkTiffPages(BlockReader &reader, TiffLayout layout, std::vector<PageInfo> *pages,
                     bool *cutShort = nullptr);

} // namespace tallivo
