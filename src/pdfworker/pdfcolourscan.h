#pragma once

// The colour scan's parts, shared by the files of the colour rule: colour
// spaces and what is neutral in them, the content-stream scanner, and the
// annotations' side. Only the PDF worker links them.

#include "pdfcolour.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tallivo::pdfcolour {

// How deep forms, patterns and colour spaces may nest, and how many
// content-stream objects one page may take, before the page is rendered
// instead.
constexpr int kMaxDepth = 12;
constexpr long kMaxObjectsPerPage = 4'000'000;
// Saved graphics states and operands of one operator the scan follows.
constexpr size_t kMaxStates = 256;
constexpr size_t kMaxOperands = 64;
constexpr double kNeutralSlack = 0.01;
// RGB and CMYK colours whose components differ by less than the chroma
// threshold render as pixels the rule calls neutral: a tint of grey, such
// as the pale blue-grey of a code listing's box, is decided as grey here as
// the rendering would.
constexpr double kTintSlack = (kChromaThreshold - 1) / 255.0;

enum class Kind : quint8
{
    Grey,    // any value is grey
    Rgb,     // grey when the channels are equal
    Cmyk,    // grey without cyan, magenta and yellow, or with full black
    Lab,     // grey when a and b are 0
    Spot,    // colorants; grey when their alternate space paints grey
    Indexed, // grey when the whole palette is
    Pattern, // paints what the pattern paints
    Unknown,
};

// A tint transform of the exponential kind: C0 + t^N (C1 - C0), painting
// in the space `alternate`.
struct Tint
{
    Kind alternate = Kind::Unknown;
    std::vector<double> from, to;
    double exponent = 1;
};

struct Space
{
    Kind kind = Kind::Grey;
    int colorants = 0;        // Spot
    bool spotNeutral = false; // Spot: every value paints grey
    bool spotTint = false;    // Spot: a separation whose tint is `tint`
    Tint tint;                // Spot
    bool device = false;      // DeviceRGB or DeviceCMYK itself
    bool greyPalette = false; // Indexed
    int paletteSize = 0;      // Indexed
};

// A number as a content stream or an object writes it, read without the
// process's locale (which may write a decimal comma).
double parseNumber(std::string_view text);
// A numeric object's value, read without the locale; 0 for anything else.
double numberValue(QPDFObjectHandle number);

// Whether values `v` in `space` print as a neutral grey.
bool neutralValues(const Space &space, const std::vector<double> &v);
// Whether the colour a space starts with after cs/CS is neutral.
bool neutralInitially(const Space &space);
// What the colour space `cs` (a name or an array) is, with the named spaces
// of `resources`.
Space resolveSpace(QPDFObjectHandle cs, QPDFObjectHandle resources, int depth);

// A point transformation, as PDF writes it: (x y 1) times [a b 0, c d 0, e f 1].
struct Matrix
{
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

    // This matrix, then `then`.
    Matrix times(const Matrix &then) const
    {
        return {a * then.a + b * then.c,          a * then.b + b * then.d,
                c * then.a + d * then.c,          c * then.b + d * then.d,
                e * then.a + f * then.c + then.e, e * then.b + f * then.d + then.f};
    }
    double x(double px, double py) const { return a * px + c * py + e; }
    double y(double px, double py) const { return b * px + d * py + f; }
    // Whether it maps rectangles to rectangles with sides along the axes.
    bool keepsAxes() const { return (b == 0 && c == 0) || (a == 0 && d == 0); }
};

// A rectangle in the page's default space.
struct Box
{
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;

    bool empty() const { return !(x0 < x1 && y0 < y1); }
    Box meet(const Box &o) const
    {
        return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    }
    bool overlaps(const Box &o) const { return !meet(o).empty(); }
    bool contains(const Box &o) const
    {
        return x0 <= o.x0 && y0 <= o.y0 && o.x1 <= x1 && o.y1 <= y1;
    }
    void add(double x, double y)
    {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
    }
    static Box at(double x, double y) { return {x, y, x, y}; }
};

// Whether `profile` is an RGB ICC profile of three distinct primaries and
// plain tone curves, whose clear colours stay clearly coloured (sRGB, Adobe
// RGB and the like).
bool plainRgbProfile(const std::string &profile);
// The decoded bytes of an ICC profile stream.
std::string profileBytes(QPDFObjectHandle stream);

// The glyphs a simple font's string certainly draws, by its codes that do.
int glyphsOf(const std::string &text, const std::bitset<256> &ink);
// The codes of a simple font whose glyphs certainly draw.
std::bitset<256> inkCodesOf(QPDFObjectHandle font);
// A simple font's advance for each code as its /Widths give it, in ems;
// negative where they do not.
using FontWidths = std::array<double, 256>;
std::shared_ptr<const FontWidths> widthsOf(QPDFObjectHandle font);
// The widest advance of a simple font's glyphs, and where they may paint,
// in ems.
void fontMetricsOf(QPDFObjectHandle font, double *advance, Box *box);

// The smallest box holding the rectangle (x, y, w, h) mapped by `m`.
Box mappedBox(const Matrix &m, double x, double y, double w, double h);

// Chromatic paint the page certainly shows, where it was painted: text or
// a filled rectangle. `weight` counts its glyphs; a rectangle counts as
// enough by itself.
struct ShownColour
{
    Box area;
    int weight = 0;
};

// How much shown colour decides a page Colour: four glyphs, or one
// rectangle or line.
inline constexpr int kShownWeight = 4;
// The pixel rule's area at the default tolerance, 4 pixels at 50 dpi, in
// square points; and a pixel's side, the least width a renderer gives a
// line.
inline constexpr double kPixelSide = 72.0 / kColourDpi;
inline constexpr double kMinShownArea = kMinColourPixels * kPixelSide * kPixelSide;

struct PageState
{
    bool unsure = false;
    bool broken = false;    // the scan could not follow the page to its end
    bool greyImage = false; // a continuous-tone image in a grey space
    bool toneImage = false; // a continuous-tone image in any space
    long objects = 0;
    std::set<QPDFObjGen> active; // forms being scanned, against cycles

    // Looking for colour that certainly shows: the scan then goes on past
    // the first colour, noting where colour was painted and dropping what
    // later painting may cover.
    bool seekColour = false;
    bool thinColour = false;    // coloured paint a pixel of the rule may lose
    bool noShownColour = false; // something may turn colour grey (a transfer function)
    std::vector<ShownColour> shown;
    // What the fonts draw, by font: of the page, or of the document when
    // the classifier hands it on from page to page.
    struct FontFacts
    {
        std::bitset<256> ink;
        double advance = 1;
        Box box;
        std::shared_ptr<const FontWidths> widths;
    };
    std::map<QPDFObjGen, FontFacts> fonts;

    // The colour tolerance in square points: the least area of a rectangle
    // or line that shows colour by itself.
    double minShownArea = kMinShownArea;
    // Four glyphs of readable text show at least the default area, and no
    // more is certain of them.
    bool textShowsEnough() const { return minShownArea <= kMinShownArea; }

    bool stops() const { return broken || (unsure && !seekColour); }
    // Paint over `area`: colour shown under it may be hidden.
    void cover(const Box &area);
    int shownWeight() const;
};

struct Paint
{
    Space space;
    bool neutral = true;
    // How far apart the RGB channels certainly are when this paint renders
    // (0 to 1); 0 when unsure, as in any space other than DeviceRGB and
    // DeviceCMYK.
    double chroma = 0;
};

struct GraphicsState
{
    Paint fill;
    Paint stroke;
    int textMode = 0;
    bool type3 = false;
    QPDFObjectHandle font;

    // Where the page's geometry is followed: in the page's content and its
    // forms, not in Type 3 glyphs and annotation appearances.
    bool placed = false;
    Matrix ctm;
    Box clip;               // holds the clipping region; is it, when clipExact
    bool clipExact = false; // the clip is this rectangle
    bool softMask = false;
    bool normalBlend = true;
    bool opaqueFill = true;
    bool opaqueStroke = true;
    bool simpleFont = false;   // a font of one-byte glyph codes with glyphs in it
    std::bitset<256> inkCodes; // its codes whose glyphs certainly draw
    double fontAdvance = 1;    // the widest glyph's advance, in ems
    Box fontBox;               // where its glyphs may paint, in ems
    std::shared_ptr<const FontWidths> fontWidths; // its advances, when known
    bool dashed = false;
    double fontSize = 0;
    double horizontalScale = 1;
    double rise = 0;
    double leading = 0;
    double lineWidth = 1;
    double charSpacing = 0;
    double wordSpacing = 0;
};

// The codes a text operator shows, and how far they move the text.
struct TextRun
{
    int codes = 0;
    int spaces = 0;        // codes 32, which word spacing widens
    int glyphs = 0;        // glyphs that certainly draw
    double widths = 0;     // the glyphs' advances, in ems
    double adjust = 0;     // a TJ array's moves, in ems
    double lo = 0, hi = 0; // how far back and on the glyphs' origins go, in ems
    double inkEnd = 0;     // where the last string's glyphs end, in ems
    double back = 0;       // the longest move back between strings, in ems
    bool measured = true;  // every code's advance is known

    void add(const std::string &text, const GraphicsState &font);
    void move(double ems);
};

// An operand of a content-stream operator, as far as the scan needs it.
struct Operand
{
    enum Type : quint8
    {
        Number,
        Name,
        Bool,
        String,
        Other, // arrays, dictionaries, null
    };
    Type type = Other;
    double number = 0;
    int glyphs = 0;   // strings and arrays of strings: the glyphs that certainly draw
    int codes = 0;    // strings and arrays of strings: their bytes
    double shift = 0; // arrays of strings: their moves, in thousandths of an em
    int items = 0;    // arrays: their items
    TextRun run;      // strings and arrays of strings: all of it
    TextRun first;    // the first string
    double lead = 0;  // a TJ array's moves before its first string, in ems
    std::string name; // with its slash

    QPDFObjectHandle object() const
    {
        switch (type) {
        case Number:
            if (number == std::floor(number) && std::abs(number) < 1e9)
                return QPDFObjectHandle::newInteger(qint64(number));
            return QPDFObjectHandle::newReal(number, 6);
        case Name:
            return QPDFObjectHandle::newName(name);
        case Bool:
            return QPDFObjectHandle::newBool(name == "true");
        case String:
        case Other:
            break;
        }
        return QPDFObjectHandle::newNull();
    }
};

// Thrown from the token handler to stop reading a stream once the page is
// known to need rendering.
struct StopScan
{
};

// Follows a page's content streams token by token, with the colour state
// of the graphics state stack, without building objects for its operands.
class Scanner : public QPDFObjectHandle::TokenFilter
{
public:
    Scanner(PageState &page, QPDFObjectHandle resources, int depth, GraphicsState start,
            std::map<QPDFObjGen, bool> &type3Cache);

    void handleToken(QPDFTokenizer::Token const &token) override;

    // Scans a content stream, or an array of them, with this scanner.
    void scan(QPDFObjectHandle contents);

private:
    GraphicsState &state() { return m_stack.back(); }
    void push(Operand operand);
    // The operands that are numbers, in order.
    const std::vector<double> &numbers() const;
    QPDFObjectHandle resource(const char *category, size_t operand);
    void setSpace(Paint &paint);
    void setColour(Paint &paint);
    void setDevice(Paint &paint, Kind kind);
    void paintWith(const Paint &paint);
    void showText();
    bool type3Neutral(QPDFObjectHandle font);
    void image(QPDFObjectHandle dict);
    void form(QPDFObjectHandle xobject);
    void extGState();
    // A view: most of its comparisons end at the length.
    void operate(std::string_view op);
    void operateGeometry(std::string_view op);
    void paintPath(bool fill, bool stroke);
    void showColourText(int glyphs);
    void showMeasuredColourText(const Operand &text);
    void advanceText(const TextRun &run);
    void coverText(int codes, double shift, const TextRun &run);
    void showColourLine();
    bool showsColour(const GraphicsState &s, bool stroke) const;
    bool remapped(Kind kind) const;
    void coverUnitSquare();

    // The path being built, in the page's default space.
    struct Path
    {
        Box box;
        bool empty = true;
        int rectangles = 0;
        bool other = false; // anything but one rectangle
        int moves = 0;
        int lines = 0;
        bool curves = false;
        double points[4] = {}; // the first two points, in the page's default space
        Box rectangle;         // the one rectangle, when exact
        bool rectangleExact = false;
    };
    void addPoint(double x, double y);

    PageState &m_page;
    QPDFObjectHandle m_resources;
    int m_depth;
    std::map<QPDFObjGen, bool> &m_type3Cache;
    std::vector<GraphicsState> m_stack;
    std::vector<Operand> m_operands;
    std::vector<double> m_numbers;
    int m_nesting = 0; // inside an array or dictionary operand
    int m_arrayGlyphs = 0;
    int m_arrayCodes = 0;
    int m_arrayItems = 0;
    double m_arrayShift = 0;
    TextRun m_arrayRun;
    TextRun m_arrayFirst;
    double m_arrayLead = 0;
    bool m_arrayString = false; // a string came
    bool m_arrayFar = false;    // a large move inside a TJ array: glyphs after it not counted
    // The resources remap DeviceRGB or DeviceCMYK to a space whose colours
    // may not be what the values say.
    bool m_rgbRemapped = false;
    bool m_cmykRemapped = false;
    Path m_path;
    bool m_clipNext = false; // W or W*: the path clips once painted
    // Text objects: the text and line matrices.
    Matrix m_textMatrix;
    Matrix m_lineMatrix;
    bool m_textPlaced = true; // where the next glyph goes is known
    bool m_textClips = false; // glyphs were added to the clip
    bool m_inText = false;    // between BT and ET
    bool m_lineKnown = true;  // the line matrix is where renderers agree it is
};

constexpr int kFlagHidden = 2;
constexpr int kFlagPrint = 4;
constexpr int kFlagNoView = 32;

struct AnnotationScan
{
    bool unsure = false;
    bool hiddenOnPrint = false; // one the screen and the print show differently
};

// Scans the appearances of the page's annotations that print, into `state`.
AnnotationScan scanAnnotations(QPDFPageObjectHelper &page, PageState &state,
                               std::map<QPDFObjGen, bool> &type3Cache);

// Whether the library draws nothing for the annotation, on a screen or in
// print: a link without an appearance whose border has no width.
bool drawsNothing(QPDFAnnotationObjectHelper &annotation);

// Marks every annotation that does not print hidden, and shown every one
// that prints (NoView applies to screens only), so that the library, which
// renders as a screen does, draws what prints; returns the file so changed,
// or "" when that fails.
std::string printableCopy(QPDF &pdf);

} // namespace tallivo::pdfcolour
