#include "pdfcolour.h"

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>
#include <memory>
#include <set>

namespace tallivo {
namespace {

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

bool isBlackColorant(const std::string &name)
{
    return name == "/All" || name == "/Black" || name == "/None";
}

bool neutralValues(const Space &space, const std::vector<double> &v)
{
    switch (space.kind) {
    case Kind::Grey:
        return true;
    case Kind::Rgb:
        return v.size() >= 3 &&
               std::max({v[0], v[1], v[2]}) - std::min({v[0], v[1], v[2]}) <= kTintSlack;
    case Kind::Cmyk:
        // Full black prints black whatever lies under it (rich black).
        return v.size() >= 4 &&
               (std::max({v[0], v[1], v[2]}) - std::min({v[0], v[1], v[2]}) <= kTintSlack ||
                v[3] >= 1 - kNeutralSlack);
    case Kind::Lab:
        return v.size() >= 3 && std::abs(v[1]) <= 1 && std::abs(v[2]) <= 1;
    case Kind::Spot:
        for (size_t i = 0; i < space.blackColorant.size(); ++i) {
            if (!space.blackColorant[i] && (i >= v.size() || v[i] > kNeutralSlack))
                return false;
        }
        return true;
    case Kind::Indexed:
        return space.greyPalette;
    case Kind::Pattern:
    case Kind::Unknown:
        break;
    }
    return false;
}

// The colour a space starts with after cs/CS.
bool neutralInitially(const Space &space)
{
    if (space.kind == Kind::Spot)
        return neutralValues(space, std::vector<double>(space.blackColorant.size(), 1.0));
    if (space.kind == Kind::Lab)
        return true;
    return neutralValues(space, {0, 0, 0, 0});
}

std::string lookupBytes(QPDFObjectHandle lookup)
{
    if (lookup.isString())
        return lookup.getStringValue();
    if (lookup.isStream()) {
        std::shared_ptr<Buffer> data = lookup.getStreamData(qpdf_dl_generalized);
        return std::string(reinterpret_cast<const char *>(data->getBuffer()), data->getSize());
    }
    return {};
}

Space resolveSpace(QPDFObjectHandle cs, QPDFObjectHandle resources, int depth)
{
    Space space;
    space.kind = Kind::Unknown;
    if (depth > kMaxDepth)
        return space;
    if (cs.isName()) {
        const std::string name = cs.getName();
        if (name == "/DeviceGray" || name == "/G" || name == "/CalGray") {
            space.kind = Kind::Grey;
        } else if (name == "/DeviceRGB" || name == "/RGB" || name == "/CalRGB") {
            space.kind = Kind::Rgb;
        } else if (name == "/DeviceCMYK" || name == "/CMYK") {
            space.kind = Kind::Cmyk;
        } else if (name == "/Pattern") {
            space.kind = Kind::Pattern;
        } else if (resources.isDictionary()) {
            QPDFObjectHandle named = resources.getKey("/ColorSpace");
            if (named.isDictionary() && named.hasKey(name))
                return resolveSpace(named.getKey(name), resources, depth + 1);
        }
        return space;
    }
    if (!cs.isArray() || cs.getArrayNItems() < 1 || !cs.getArrayItem(0).isName())
        return space;
    const std::string family = cs.getArrayItem(0).getName();
    if (family == "/ICCBased") {
        QPDFObjectHandle stream = cs.getArrayItem(1);
        if (stream.isStream()) {
            QPDFObjectHandle n = stream.getDict().getKey("/N");
            const int channels = n.isInteger() ? n.getIntValueAsInt() : 0;
            space.kind = channels == 1   ? Kind::Grey
                         : channels == 3 ? Kind::Rgb
                         : channels == 4 ? Kind::Cmyk
                                         : Kind::Unknown;
        }
    } else if (family == "/CalGray" || family == "/DeviceGray" || family == "/G") {
        space.kind = Kind::Grey;
    } else if (family == "/CalRGB" || family == "/DeviceRGB" || family == "/RGB") {
        space.kind = Kind::Rgb;
    } else if (family == "/DeviceCMYK" || family == "/CMYK") {
        space.kind = Kind::Cmyk;
    } else if (family == "/Lab") {
        space.kind = Kind::Lab;
    } else if (family == "/Pattern") {
        space.kind = Kind::Pattern;
    } else if (family == "/Separation" && cs.getArrayNItems() >= 2) {
        QPDFObjectHandle name = cs.getArrayItem(1);
        space.kind = Kind::Spot;
        space.blackColorant = {name.isName() && isBlackColorant(name.getName())};
    } else if (family == "/DeviceN" && cs.getArrayNItems() >= 2 && cs.getArrayItem(1).isArray()) {
        space.kind = Kind::Spot;
        for (QPDFObjectHandle name : cs.getArrayItem(1).getArrayAsVector())
            space.blackColorant.push_back(name.isName() && isBlackColorant(name.getName()));
    } else if ((family == "/Indexed" || family == "/I") && cs.getArrayNItems() >= 4) {
        const Space base = resolveSpace(cs.getArrayItem(1), resources, depth + 1);
        QPDFObjectHandle hival = cs.getArrayItem(2);
        const int entries =
            hival.isInteger() ? std::clamp(hival.getIntValueAsInt(), 0, 255) + 1 : 0;
        space.kind = Kind::Indexed;
        space.paletteSize = entries;
        const int channels = base.kind == Kind::Grey   ? 1
                             : base.kind == Kind::Rgb  ? 3
                             : base.kind == Kind::Cmyk ? 4
                                                       : 0;
        const std::string palette = lookupBytes(cs.getArrayItem(3));
        if (channels > 0 && entries > 0 && palette.size() >= size_t(entries * channels)) {
            space.greyPalette = true;
            for (int i = 0; i < entries && space.greyPalette; ++i) {
                std::vector<double> v(static_cast<size_t>(channels), 0.0);
                for (int c = 0; c < channels; ++c)
                    v[size_t(c)] = uchar(palette[size_t(i * channels + c)]) / 255.0;
                // Palettes are 8-bit: allow the rounding of one level.
                if (base.kind == Kind::Rgb)
                    space.greyPalette =
                        std::max({v[0], v[1], v[2]}) - std::min({v[0], v[1], v[2]}) <= 1.5 / 255;
                else
                    space.greyPalette = neutralValues(base, v);
            }
        }
    }
    return space;
}

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
            std::map<QPDFObjGen, bool> &type3Cache)
        : m_page(page)
        , m_resources(resources)
        , m_depth(depth)
        , m_type3Cache(type3Cache)
    {
        m_stack.push_back(start);
    }

    void handleToken(QPDFTokenizer::Token const &token) override
    {
        if (m_page.unsure)
            throw StopScan();
        switch (token.getType()) {
        case QPDFTokenizer::tt_space:
        case QPDFTokenizer::tt_comment:
        case QPDFTokenizer::tt_inline_image:
        case QPDFTokenizer::tt_eof:
            return;
        case QPDFTokenizer::tt_array_open:
        case QPDFTokenizer::tt_dict_open:
        case QPDFTokenizer::tt_brace_open:
            ++m_nesting;
            return;
        case QPDFTokenizer::tt_array_close:
        case QPDFTokenizer::tt_dict_close:
        case QPDFTokenizer::tt_brace_close:
            if (m_nesting > 0 && --m_nesting == 0)
                push({});
            return;
        case QPDFTokenizer::tt_bad:
            m_page.unsure = true;
            throw StopScan();
        default:
            break;
        }
        if (++m_page.objects > kMaxObjectsPerPage) {
            m_page.unsure = true;
            throw StopScan();
        }
        if (m_nesting > 0)
            return;
        Operand operand;
        switch (token.getType()) {
        case QPDFTokenizer::tt_integer:
        case QPDFTokenizer::tt_real:
            operand.type = Operand::Number;
            operand.number = std::strtod(token.getValue().c_str(), nullptr);
            if (!std::isfinite(operand.number))
                operand.number = 0;
            break;
        case QPDFTokenizer::tt_name:
            operand.type = Operand::Name;
            operand.name = token.getValue();
            break;
        case QPDFTokenizer::tt_bool:
            operand.type = Operand::Bool;
            operand.name = token.getValue();
            break;
        case QPDFTokenizer::tt_word:
            if (token.getValue() == "true" || token.getValue() == "false") {
                operand.type = Operand::Bool;
                operand.name = token.getValue();
                break;
            }
            operate(token.getValue());
            m_operands.clear();
            if (m_page.unsure)
                throw StopScan();
            return;
        default:
            break;
        }
        push(std::move(operand));
    }

    // Scans a content stream, or an array of them, with this scanner.
    void scan(QPDFObjectHandle contents)
    {
        try {
            if (contents.isArray()) {
                for (QPDFObjectHandle part : contents.getArrayAsVector()) {
                    if (part.isStream())
                        part.filterAsContents(this);
                }
            } else if (contents.isStream()) {
                contents.filterAsContents(this);
            }
        } catch (const StopScan &) {
            m_page.unsure = true;
        } catch (...) {
            m_page.unsure = true;
        }
    }

private:
    GraphicsState &state() { return m_stack.back(); }

    void push(Operand operand)
    {
        if (m_operands.size() < 64)
            m_operands.push_back(std::move(operand));
    }

    std::vector<double> numbers() const
    {
        std::vector<double> v;
        for (const Operand &o : m_operands) {
            if (o.type == Operand::Number)
                v.push_back(o.number);
        }
        return v;
    }

    QPDFObjectHandle resource(const char *category, size_t operand)
    {
        if (operand >= m_operands.size() || m_operands[operand].type != Operand::Name ||
            !m_resources.isDictionary())
            return QPDFObjectHandle::newNull();
        QPDFObjectHandle dict = m_resources.getKey(category);
        if (!dict.isDictionary())
            return QPDFObjectHandle::newNull();
        return dict.getKey(m_operands[operand].name);
    }

    void setSpace(Paint &paint)
    {
        if (m_operands.empty())
            return;
        paint.space = resolveSpace(m_operands.back().object(), m_resources, 0);
        paint.neutral = neutralInitially(paint.space);
    }

    void setColour(Paint &paint)
    {
        // A pattern name as the last operand paints the pattern's colours.
        if (!m_operands.empty() && m_operands.back().type == Operand::Name) {
            paint.neutral = false;
            return;
        }
        paint.neutral = neutralValues(paint.space, numbers());
    }

    void setDevice(Paint &paint, Kind kind)
    {
        paint.space = Space{};
        paint.space.kind = kind;
        paint.neutral = neutralValues(paint.space, numbers());
    }

    void paintWith(const Paint &paint)
    {
        if (!paint.neutral)
            m_page.unsure = true;
    }

    void showText()
    {
        GraphicsState &s = state();
        if (s.type3 && !type3Neutral(s.font)) {
            m_page.unsure = true;
            return;
        }
        const int mode = s.textMode & 3;
        if (mode == 0 || mode == 2)
            paintWith(s.fill);
        if (mode == 1 || mode == 2)
            paintWith(s.stroke);
    }

    bool type3Neutral(QPDFObjectHandle font)
    {
        const QPDFObjGen id = font.getObjGen();
        if (id.isIndirect()) {
            auto cached = m_type3Cache.find(id);
            if (cached != m_type3Cache.end())
                return cached->second;
        }
        bool neutral = m_depth < kMaxDepth;
        QPDFObjectHandle procs = font.getKey("/CharProcs");
        QPDFObjectHandle resources = font.getKey("/Resources");
        if (!resources.isDictionary())
            resources = m_resources;
        if (neutral && procs.isDictionary()) {
            PageState glyphs;
            int scanned = 0;
            for (auto &[name, proc] : procs.getDictAsMap()) {
                if (!proc.isStream() || ++scanned > 512) {
                    neutral = proc.isNull() && scanned <= 512;
                    if (!neutral)
                        break;
                    continue;
                }
                // Glyphs paint with the text's colour unless they set one.
                Scanner glyph(glyphs, resources, m_depth + 1, GraphicsState{}, m_type3Cache);
                glyph.scan(proc);
                if (glyphs.unsure) {
                    neutral = false;
                    break;
                }
            }
            m_page.greyImage = m_page.greyImage || glyphs.greyImage;
            m_page.toneImage = m_page.toneImage || glyphs.toneImage;
        }
        if (id.isIndirect())
            m_type3Cache[id] = neutral;
        return neutral;
    }

    void image(QPDFObjectHandle dict)
    {
        auto key = [&](const char *full, const char *abbreviation) {
            QPDFObjectHandle v = dict.getKey(full);
            return v.isNull() ? dict.getKey(abbreviation) : v;
        };
        QPDFObjectHandle mask = key("/ImageMask", "/IM");
        if (mask.isBool() && mask.getBoolValue()) {
            paintWith(state().fill);
            return;
        }
        QPDFObjectHandle bpcObject = key("/BitsPerComponent", "/BPC");
        const int bpc = bpcObject.isInteger() ? bpcObject.getIntValueAsInt() : 8;
        QPDFObjectHandle cs = key("/ColorSpace", "/CS");
        if (cs.isNull()) {
            // Only JPEG 2000 images may leave their space to the codestream.
            m_page.unsure = true;
            return;
        }
        const Space space = resolveSpace(cs, m_resources, 0);
        if (space.kind == Kind::Indexed) {
            if (!space.greyPalette) {
                m_page.unsure = true;
            } else if (space.paletteSize > 2) {
                m_page.greyImage = m_page.toneImage = true;
            }
            return;
        }
        const bool tone = bpc > 1;
        const bool grey =
            space.kind == Kind::Grey ||
            (space.kind == Kind::Spot && space.blackColorant.size() == 1 && space.blackColorant[0]);
        if (!grey) {
            // Whether an RGB or CMYK image is grey takes its pixels.
            m_page.toneImage = m_page.toneImage || tone;
            m_page.unsure = true;
            return;
        }
        if (tone)
            m_page.greyImage = m_page.toneImage = true;
    }

    void form(QPDFObjectHandle xobject)
    {
        const QPDFObjGen id = xobject.getObjGen();
        if (m_depth >= kMaxDepth || m_page.active.count(id)) {
            m_page.unsure = true;
            return;
        }
        QPDFObjectHandle resources = xobject.getDict().getKey("/Resources");
        if (!resources.isDictionary())
            resources = m_resources;
        m_page.active.insert(id);
        Scanner inner(m_page, resources, m_depth + 1, state(), m_type3Cache);
        inner.scan(xobject);
        m_page.active.erase(id);
    }

    void extGState()
    {
        QPDFObjectHandle gs = resource("/ExtGState", 0);
        if (!gs.isDictionary())
            return;
        // A transfer function may turn grey into colour.
        for (const char *key : {"/TR", "/TR2"}) {
            QPDFObjectHandle tr = gs.getKey(key);
            if (!tr.isNull() &&
                !(tr.isName() && (tr.getName() == "/Identity" || tr.getName() == "/Default")))
                m_page.unsure = true;
        }
    }

    void operate(const std::string &op)
    {
        GraphicsState &s = state();
        if (op == "q") {
            if (m_stack.size() < 256)
                m_stack.push_back(s);
        } else if (op == "Q") {
            if (m_stack.size() > 1)
                m_stack.pop_back();
        } else if (op == "g") {
            setDevice(s.fill, Kind::Grey);
        } else if (op == "G") {
            setDevice(s.stroke, Kind::Grey);
        } else if (op == "rg") {
            setDevice(s.fill, Kind::Rgb);
        } else if (op == "RG") {
            setDevice(s.stroke, Kind::Rgb);
        } else if (op == "k") {
            setDevice(s.fill, Kind::Cmyk);
        } else if (op == "K") {
            setDevice(s.stroke, Kind::Cmyk);
        } else if (op == "cs") {
            setSpace(s.fill);
        } else if (op == "CS") {
            setSpace(s.stroke);
        } else if (op == "sc" || op == "scn") {
            setColour(s.fill);
        } else if (op == "SC" || op == "SCN") {
            setColour(s.stroke);
        } else if (op == "f" || op == "F" || op == "f*") {
            paintWith(s.fill);
        } else if (op == "S" || op == "s") {
            paintWith(s.stroke);
        } else if (op == "B" || op == "B*" || op == "b" || op == "b*") {
            paintWith(s.fill);
            paintWith(s.stroke);
        } else if (op == "Tr") {
            const std::vector<double> v = numbers();
            if (!v.empty())
                s.textMode = int(v[0]);
        } else if (op == "Tf") {
            QPDFObjectHandle font = resource("/Font", 0);
            s.font = font;
            s.type3 = font.isDictionary() && font.getKey("/Subtype").isName() &&
                      font.getKey("/Subtype").getName() == "/Type3";
        } else if (op == "Tj" || op == "TJ" || op == "'" || op == "\"") {
            showText();
        } else if (op == "sh") {
            QPDFObjectHandle shading = resource("/Shading", 0);
            QPDFObjectHandle dict = shading.isStream() ? shading.getDict() : shading;
            if (!dict.isDictionary() ||
                resolveSpace(dict.getKey("/ColorSpace"), m_resources, 0).kind != Kind::Grey)
                m_page.unsure = true;
        } else if (op == "Do") {
            QPDFObjectHandle xobject = resource("/XObject", 0);
            if (!xobject.isStream())
                return;
            QPDFObjectHandle subtype = xobject.getDict().getKey("/Subtype");
            if (!subtype.isName())
                return;
            if (subtype.getName() == "/Image")
                image(xobject.getDict());
            else if (subtype.getName() == "/Form")
                form(xobject);
        } else if (op == "ID") {
            // Inline image: its dictionary's keys and values came as operands.
            QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
            for (size_t i = 0; i + 1 < m_operands.size(); i += 2) {
                if (m_operands[i].type == Operand::Name)
                    dict.replaceKey(m_operands[i].name, m_operands[i + 1].object());
            }
            image(dict);
        } else if (op == "gs") {
            extGState();
        }
    }

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

bool neutralAnnotationColour(QPDFObjectHandle annotation)
{
    QPDFObjectHandle c = annotation.getKey("/C");
    if (!c.isArray())
        return true;
    std::vector<double> v;
    for (QPDFObjectHandle n : c.getArrayAsVector())
        v.push_back(n.isNumber() ? n.getNumericValue() : 0);
    Space space;
    space.kind = v.size() == 3 ? Kind::Rgb : v.size() == 4 ? Kind::Cmyk : Kind::Grey;
    return neutralValues(space, v);
}

AnnotationScan scanAnnotations(QPDFPageObjectHelper &page, PageState &state,
                               std::map<QPDFObjGen, bool> &type3Cache)
{
    AnnotationScan result;
    for (QPDFAnnotationObjectHelper &annotation : page.getAnnotations()) {
        const int flags = annotation.getFlags();
        if (flags & kFlagHidden)
            continue;
        if (!(flags & kFlagPrint)) {
            result.hiddenOnPrint = true;
            continue;
        }
        QPDFObjectHandle appearance = annotation.getAppearanceStream("/N");
        if (!appearance.isStream()) {
            // The library draws links' borders, and makes up other kinds'
            // appearances, in /C.
            QPDFObjectHandle subtype = annotation.getObjectHandle().getKey("/Subtype");
            const bool link = subtype.isName() && subtype.getName() == "/Link";
            if (!link || !neutralAnnotationColour(annotation.getObjectHandle()))
                result.unsure = true;
            continue;
        }
        QPDFObjectHandle resources = appearance.getDict().getKey("/Resources");
        Scanner scanner(state, resources, 1, GraphicsState{}, type3Cache);
        scanner.scan(appearance);
        if (state.unsure)
            result.unsure = true;
    }
    return result;
}

// Marks every annotation that does not print hidden, so that the library,
// which renders as a screen does, leaves them out; returns the file so
// changed, or "" when that fails.
std::string printableCopy(QPDF &pdf)
{
    try {
        for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(pdf).getAllPages()) {
            for (QPDFAnnotationObjectHelper &annotation : page.getAnnotations()) {
                const int flags = annotation.getFlags();
                if (!(flags & kFlagPrint) && !(flags & kFlagHidden))
                    annotation.getObjectHandle().replaceKey(
                        "/F", QPDFObjectHandle::newInteger(flags | kFlagHidden));
            }
        }
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        writer.setObjectStreamMode(qpdf_o_preserve);
        writer.setStreamDataMode(qpdf_s_preserve);
        writer.write();
        std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
        return std::string(reinterpret_cast<const char *>(buffer->getBuffer()), buffer->getSize());
    } catch (...) {
        return {};
    }
}

bool renderedInColour(const poppler::page_renderer &renderer, poppler::page *page, bool *greyPixels)
{
    if (!page)
        return false;
    const poppler::image image = renderer.render_page(page, kColourDpi, kColourDpi);
    if (!image.is_valid() || image.format() != poppler::image::format_argb32)
        return false;
    const uchar *data = reinterpret_cast<const uchar *>(image.const_data());
    const int width = image.width();
    const int height = image.height();
    const int stride = image.bytes_per_row();
    if (countChromaticPixels(data, width, height, stride) >= kMinColourPixels)
        return true;
    if (greyPixels) {
        // Without the page's operators to go by: Grey when a tenth of the
        // page is in mid-tones.
        qint64 mid = 0;
        for (int y = 0; y < height; ++y) {
            const uchar *p = data + qint64(y) * stride;
            for (int x = 0; x < width; ++x, p += 4)
                mid += p[1] >= 32 && p[1] <= 223;
        }
        *greyPixels = mid * 10 >= qint64(width) * height;
    }
    return false;
}

} // namespace

std::vector<ColourClass> classifyPdfColours(poppler::document &doc, const std::string &bytes,
                                            const std::string &path, int maxPages,
                                            double cpuDeadline, ColourStats *stats)
{
    ColourStats local;
    ColourStats &counted = stats ? *stats : local;
    const int pages = std::min(doc.pages(), maxPages);
    std::vector<ColourClass> classes(size_t(std::max(pages, 0)), ColourClass::Unknown);
    if (pages <= 0)
        return classes;

    // The page structure, where it can be read.
    QPDF pdf;
    std::vector<QPDFPageObjectHelper> structure;
    try {
        pdf.setSuppressWarnings(true);
        if (bytes.empty())
            pdf.processFile(path.c_str());
        else
            pdf.processMemoryFile("page", bytes.data(), bytes.size());
        structure = QPDFPageDocumentHelper(pdf).getAllPages();
    } catch (...) {
        structure.clear();
    }
    // Pages the two readers do not agree on are rendered, every one.
    if (structure.size() != size_t(doc.pages()))
        structure.clear();

    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_argb32);
    std::unique_ptr<poppler::document> printDoc;
    std::string printBytes;
    bool printCopyTried = false;
    std::map<QPDFObjGen, bool> type3Cache;

    for (int i = 0; i < pages; ++i) {
        if (processCpuSeconds() > cpuDeadline) {
            counted.unknown += pages - i;
            break;
        }
        PageState state;
        bool haveScan = false;
        bool hiddenOnPrint = false;
        if (!structure.empty()) {
            try {
                QPDFPageObjectHelper &page = structure[size_t(i)];
                // What the library had to repair or could not read is
                // rendered rather than trusted.
                pdf.getWarnings();
                QPDFObjectHandle resources = page.getAttribute("/Resources", false);
                Scanner scanner(state, resources, 0, GraphicsState{}, type3Cache);
                QPDFObjectHandle contents = page.getObjectHandle().getKey("/Contents");
                if (contents.isStream() || contents.isArray())
                    scanner.scan(contents);
                if (!state.unsure) {
                    const AnnotationScan annotations = scanAnnotations(page, state, type3Cache);
                    state.unsure = state.unsure || annotations.unsure;
                    hiddenOnPrint = annotations.hiddenOnPrint;
                } else {
                    for (QPDFAnnotationObjectHelper &a : page.getAnnotations())
                        hiddenOnPrint =
                            hiddenOnPrint || !(a.getFlags() & (kFlagPrint | kFlagHidden));
                }
                if (!pdf.getWarnings().empty())
                    state.unsure = true;
                haveScan = true;
            } catch (...) {
                state.unsure = true;
            }
        }
        if (haveScan && !state.unsure) {
            classes[size_t(i)] = state.greyImage ? ColourClass::Grey : ColourClass::BlackWhite;
            ++counted.scanned;
            continue;
        }

        poppler::document *source = &doc;
        if (hiddenOnPrint) {
            if (!printCopyTried) {
                printCopyTried = true;
                printBytes = printableCopy(pdf);
                if (!printBytes.empty())
                    printDoc.reset(poppler::document::load_from_raw_data(printBytes.data(),
                                                                         int(printBytes.size())));
                if (printDoc && (printDoc->is_locked() || printDoc->pages() != doc.pages()))
                    printDoc.reset();
            }
            if (printDoc)
                source = printDoc.get();
        }
        std::unique_ptr<poppler::page> page(source->create_page(i));
        if (!page) {
            ++counted.unknown;
            continue;
        }
        bool greyPixels = false;
        const bool colour =
            renderedInColour(renderer, page.get(), haveScan ? nullptr : &greyPixels);
        ++counted.rendered;
        if (colour)
            classes[size_t(i)] = ColourClass::Colour;
        else if (haveScan ? state.toneImage : greyPixels)
            classes[size_t(i)] = ColourClass::Grey;
        else
            classes[size_t(i)] = ColourClass::BlackWhite;
    }
    return classes;
}

} // namespace tallivo
