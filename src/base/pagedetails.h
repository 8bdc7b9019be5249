#pragma once

#include <QString>
#include <QtGlobal>

#include <compare>

namespace tallivo {

// What a page's pixels are, as far as the file says without decoding them.
enum class ColourClass : quint8
{
    Unknown,
    BlackWhite,
    Grey,
    Colour,
};
inline constexpr int kColourClassCount = 4;

// "B/W", "Grey", "Colour", "Unknown".
QString colourLabel(ColourClass colour);

// One page as the file describes it: its size as displayed (after any
// rotation) in millimetres, 0 x 0 when the file does not say, and its colour.
struct PageInfo
{
    float widthMm = 0;
    float heightMm = 0;
    ColourClass colour = ColourClass::Unknown;

    bool hasSize() const { return widthMm > 0 && heightMm > 0; }
};

// A paper size, regardless of orientation: one of the named sizes, "other"
// with its sides rounded to whole millimetres, or unknown. Fits in 32 bits so
// summaries can key on it.
class SizeClass
{
public:
    enum Named : quint8
    {
        Unknown = 0,
        A0,
        A1,
        A2,
        A3,
        A4,
        A5,
        A6,
        B4,
        B5,
        Letter,
        Legal,
        Tabloid,
        AnsiC,
        AnsiD,
        AnsiE,
        NamedCount
    };
    // Sides of "other" sizes are kept up to this many millimetres; anything
    // longer is taken for a wrong resolution and its size as unknown.
    static constexpr int kMaxSideMm = 65000;

    SizeClass() = default;
    static SizeClass named(Named name) { return SizeClass(name); }
    static SizeClass other(int shortMm, int longMm);
    static SizeClass fromKey(quint32 key);
    // The class of a page of the given sides (either order). A named size
    // matches when each side is within max(3 mm, 2%) of it.
    static SizeClass classify(double widthMm, double heightMm);

    quint32 key() const { return m_key; }
    bool isUnknown() const { return m_key == Unknown; }
    bool isNamed() const { return m_key > Unknown && m_key < NamedCount; }
    bool isOther() const { return m_key >= 0x10000; }
    Named name() const { return isNamed() ? Named(m_key) : Unknown; }
    int shortSideMm() const { return isOther() ? int(m_key >> 16) : 0; }
    int longSideMm() const { return isOther() ? int(m_key & 0xffff) : 0; }

    // "A4", "Letter", "ANSI C", "other 200 x 300 mm", "unknown size".
    QString label() const;
    // Named sizes in their list order, then other sizes by short and long
    // side, unknown last.
    quint64 orderKey() const;

    bool operator==(const SizeClass &) const = default;
    std::strong_ordering operator<=>(const SizeClass &other) const
    {
        return orderKey() <=> other.orderKey();
    }

private:
    explicit SizeClass(quint32 key)
        : m_key(key)
    {
    }
    quint32 m_key = Unknown;
};

// Details are kept for this many pages of a file at most; pages past it
// are counted but left unknown.
inline constexpr qint32 kMaxDetailedPages = 100'000;

// The A4 area in square millimetres.
inline constexpr double kA4AreaMm2 = 210.0 * 297.0;

// How many A4 pages a page of this size counts for: the area divided by
// 5% more than the A4 area, rounded up, at least 1. The 5% lets a scan a few
// millimetres larger than its paper count like the paper (an A4 scan 2 mm
// too large on each side is 1, an A3 one is 2). A page of unknown size
// counts 1.
qint32 a4Equivalents(const PageInfo &page);

// Millimetres per point (1/72 inch) and per inch.
inline constexpr double kMmPerInch = 25.4;
inline constexpr double kMmPerPoint = kMmPerInch / 72.0;

} // namespace tallivo
