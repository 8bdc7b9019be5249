#include "pagedetails.h"

#include <algorithm>
#include <cmath>

namespace tallivo {
namespace {

struct Paper
{
    const char *label;
    double shortMm;
    double longMm;
};

// Indexed by SizeClass::Named.
constexpr Paper papers[SizeClass::NamedCount] = {
    {"unknown size", 0, 0},    {"A0", 841, 1189},        {"A1", 594, 841},
    {"A2", 420, 594},          {"A3", 297, 420},         {"A4", 210, 297},
    {"A5", 148, 210},          {"A6", 105, 148},         {"B4", 250, 353},
    {"B5", 176, 250},          {"Letter", 215.9, 279.4}, {"Legal", 215.9, 355.6},
    {"Tabloid", 279.4, 431.8}, {"ANSI C", 431.8, 558.8}, {"ANSI D", 558.8, 863.6},
    {"ANSI E", 863.6, 1117.6},
};

double tolerance(double side)
{
    return std::max(3.0, side * 0.02);
}

} // namespace

QString colourLabel(ColourClass colour)
{
    switch (colour) {
    case ColourClass::BlackWhite:
        return QStringLiteral("B/W");
    case ColourClass::Grey:
        return QStringLiteral("Grey");
    case ColourClass::Colour:
        return QStringLiteral("Colour");
    case ColourClass::Unknown:
        break;
    }
    return QStringLiteral("Unknown");
}

SizeClass SizeClass::other(int shortMm, int longMm)
{
    if (shortMm > longMm)
        std::swap(shortMm, longMm);
    if (longMm > kMaxSideMm)
        return SizeClass();
    // A sliver under half a millimetre still is a page of some size.
    shortMm = std::max(shortMm, 1);
    longMm = std::max(longMm, 1);
    return SizeClass(quint32(shortMm) << 16 | quint32(longMm));
}

SizeClass SizeClass::fromKey(quint32 key)
{
    const SizeClass size(key);
    if (size.isNamed() || size.isUnknown())
        return size;
    if (size.isOther() && size.shortSideMm() <= size.longSideMm() &&
        size.longSideMm() <= kMaxSideMm)
        return size;
    return SizeClass();
}

SizeClass SizeClass::classify(double widthMm, double heightMm)
{
    if (!(widthMm > 0 && heightMm > 0) || !std::isfinite(widthMm) || !std::isfinite(heightMm))
        return SizeClass();
    const double shortMm = std::min(widthMm, heightMm);
    const double longMm = std::max(widthMm, heightMm);
    // The tolerances of the named sizes do not overlap; the closest one wins
    // all the same, should a size ever be added that makes them.
    int best = Unknown;
    double bestMiss = 2;
    for (int i = A0; i < NamedCount; ++i) {
        const Paper &p = papers[i];
        const double missShort = std::abs(shortMm - p.shortMm) / tolerance(p.shortMm);
        const double missLong = std::abs(longMm - p.longMm) / tolerance(p.longMm);
        const double miss = std::max(missShort, missLong);
        if (miss <= 1 && miss < bestMiss) {
            best = i;
            bestMiss = miss;
        }
    }
    if (best != Unknown)
        return SizeClass(quint32(best));
    if (longMm >= kMaxSideMm + 0.5)
        return SizeClass();
    return other(int(std::lround(shortMm)), int(std::lround(longMm)));
}

QString SizeClass::label() const
{
    if (isOther())
        return QStringLiteral("other %1 x %2 mm").arg(shortSideMm()).arg(longSideMm());
    return QString::fromLatin1(papers[isNamed() ? m_key : quint32(Unknown)].label);
}

quint64 SizeClass::orderKey() const
{
    if (isUnknown())
        return ~quint64(0);
    return m_key;
}

qint32 a4Equivalents(const PageInfo &page)
{
    if (!page.hasSize())
        return 1;
    const double ratio = double(page.widthMm) * double(page.heightMm) / (kA4AreaMm2 * 1.05);
    if (!(ratio < 1e9))
        return 1'000'000'000;
    return std::max<qint32>(1, qint32(std::ceil(ratio)));
}

} // namespace tallivo
