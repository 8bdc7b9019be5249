#pragma once

// The colour scan's parts, shared by the files of the colour rule: colour
// spaces and what is neutral in them, the content-stream scanner, and the
// annotations' side. Only the PDF worker links them.

#include "pdfcolour.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace tallivo::pdfcolour {

// How deep forms, patterns and colour spaces may nest, and how many
// content-stream objects one page may take, before the page is rendered
// instead.
constexpr int kMaxDepth = 12;
constexpr long kMaxObjectsPerPage = 4'000'000;
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
    Spot,    // colorants; grey when every colorant other than black is 0
    Indexed, // grey when the whole palette is
    Pattern, // paints what the pattern paints
    Unknown,
};

struct Space
{
    Kind kind = Kind::Grey;
    std::vector<bool> blackColorant; // Spot: which colorants print black
    bool greyPalette = false;        // Indexed
    int paletteSize = 0;             // Indexed
};

// Whether values `v` in `space` print as a neutral grey.
bool neutralValues(const Space &space, const std::vector<double> &v);
// Whether the colour a space starts with after cs/CS is neutral.
bool neutralInitially(const Space &space);
// What the colour space `cs` (a name or an array) is, with the named spaces
// of `resources`.
Space resolveSpace(QPDFObjectHandle cs, QPDFObjectHandle resources, int depth);

struct PageState
{
    bool unsure = false;
    bool greyImage = false; // a continuous-tone image in a grey space
    bool toneImage = false; // a continuous-tone image in any space
    long objects = 0;
    std::set<QPDFObjGen> active; // forms being scanned, against cycles
};

struct Paint
{
    Space space;
    bool neutral = true;
};

struct GraphicsState
{
    Paint fill;
    Paint stroke;
    int textMode = 0;
    bool type3 = false;
    QPDFObjectHandle font;
};

// An operand of a content-stream operator, as far as the scan needs it.
struct Operand
{
    enum Type : quint8
    {
        Number,
        Name,
        Bool,
        Other, // strings, arrays, dictionaries, null
    };
    Type type = Other;
    double number = 0;
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
    std::vector<double> numbers() const;
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
    void operate(const std::string &op);

    PageState &m_page;
    QPDFObjectHandle m_resources;
    int m_depth;
    std::map<QPDFObjGen, bool> &m_type3Cache;
    std::vector<GraphicsState> m_stack;
    std::vector<Operand> m_operands;
    int m_nesting = 0; // inside an array or dictionary operand
};

constexpr int kFlagHidden = 2;
constexpr int kFlagPrint = 4;

struct AnnotationScan
{
    bool unsure = false;
    bool hiddenOnPrint = false; // one the screen shows and the print does not
};

// Scans the appearances of the page's annotations that print, into `state`.
AnnotationScan scanAnnotations(QPDFPageObjectHelper &page, PageState &state,
                               std::map<QPDFObjGen, bool> &type3Cache);

// Marks every annotation that does not print hidden, so that the library,
// which renders as a screen does, leaves them out; returns the file so
// changed, or "" when that fails.
std::string printableCopy(QPDF &pdf);

} // namespace tallivo::pdfcolour
