#include "pdfcolourscan.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

// The content scan: follows the operators of a page, its forms and Type 3
// glyphs, and notes whether anything painted may show colour. Looking for
// colour that certainly shows, it also follows where things are painted:
// the transformation, rectangular clips, the text position and the paths.
namespace tallivo::pdfcolour {
namespace {

// Colour that certainly shows: RGB channels at least this far apart
// (0.35 of 255 is 89 levels, over three times the pixel rule's threshold),
// in glyphs of a readable size (see pdfcolourtext.cpp), or in rectangles
// and straight strokes of at least the rule's area.
constexpr double kShownChroma = 0.35;
// Text adjustments inside a TJ array beyond this (thousandths of an em)
// move the glyphs after them too far to count.
constexpr double kFarAdjustment = 300;

// How far apart the RGB channels are when the values render, at least.
double chromaOf(Kind kind, const std::vector<double> &v)
{
    auto unit = [](double x) { return std::clamp(x, 0.0, 1.0); };
    if (kind == Kind::Rgb && v.size() >= 3) {
        const double r = unit(v[0]), g = unit(v[1]), b = unit(v[2]);
        return std::max({r, g, b}) - std::min({r, g, b});
    }
    if (kind == Kind::Cmyk && v.size() >= 4) {
        const double k = 1 - unit(v[3]);
        const double r = (1 - unit(v[0])) * k, g = (1 - unit(v[1])) * k, b = (1 - unit(v[2])) * k;
        return std::max({r, g, b}) - std::min({r, g, b});
    }
    return 0;
}

double length(double x, double y)
{
    return std::sqrt(x * x + y * y);
}

} // namespace

Box mappedBox(const Matrix &m, double x, double y, double w, double h)
{
    Box box = Box::at(m.x(x, y), m.y(x, y));
    box.add(m.x(x + w, y), m.y(x + w, y));
    box.add(m.x(x, y + h), m.y(x, y + h));
    box.add(m.x(x + w, y + h), m.y(x + w, y + h));
    return box;
}

void PageState::cover(const Box &area)
{
    if (std::isnan(area.x0) || std::isnan(area.y0) || std::isnan(area.x1) || std::isnan(area.y1)) {
        shown.clear(); // somewhere
        return;
    }
    if (area.x0 > area.x1 || area.y0 > area.y1)
        return;
    shown.erase(std::remove_if(shown.begin(), shown.end(),
                               [&](const ShownColour &c) {
                                   // Touching counts: a box of no width may
                                   // be a line with width.
                                   return c.area.x0 <= area.x1 && area.x0 <= c.area.x1 &&
                                          c.area.y0 <= area.y1 && area.y0 <= c.area.y1;
                               }),
                shown.end());
}

int PageState::shownWeight() const
{
    int weight = 0;
    for (const ShownColour &c : shown)
        weight += c.weight;
    return weight;
}

Scanner::Scanner(PageState &page, QPDFObjectHandle resources, int depth, GraphicsState start,
                 std::map<QPDFObjGen, bool> &type3Cache)
    : m_page(page)
    , m_resources(resources)
    , m_depth(depth)
    , m_type3Cache(type3Cache)
{
    m_stack.push_back(start);
    if (resources.isDictionary()) {
        QPDFObjectHandle spaces = resources.getKey("/ColorSpace");
        if (spaces.isDictionary()) {
            m_cmykRemapped = spaces.hasKey("/DefaultCMYK");
            // Producers such as FOP name sRGB as the default RGB.
            QPDFObjectHandle rgb = spaces.getKey("/DefaultRGB");
            m_rgbRemapped = !rgb.isNull();
            if (rgb.isArray() && rgb.getArrayNItems() == 2 && rgb.getArrayItem(0).isName() &&
                rgb.getArrayItem(0).getName() == "/ICCBased" && rgb.getArrayItem(1).isStream()) {
                QPDFObjectHandle icc = rgb.getArrayItem(1);
                QPDFObjectHandle n = icc.getDict().getKey("/N");
                try {
                    m_rgbRemapped = !(n.isInteger() && n.getIntValue() == 3 &&
                                      plainRgbProfile(profileBytes(icc)));
                } catch (...) {
                    m_rgbRemapped = true;
                }
            }
        }
    }
}

void Scanner::handleToken(QPDFTokenizer::Token const &token)
{
    if (m_page.stops())
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
        if (m_nesting++ == 0) {
            m_arrayGlyphs = m_arrayCodes = m_arrayItems = 0;
            m_arrayShift = 0;
            m_arrayFar = false;
            m_arrayRun = m_arrayFirst = TextRun{};
            m_arrayLead = 0;
            m_arrayString = false;
        } else if (m_nesting == 2) {
            ++m_arrayItems;
            // Not text: where the text goes next is the renderer's guess.
            m_arrayRun.measured = false;
        }
        return;
    case QPDFTokenizer::tt_array_close:
    case QPDFTokenizer::tt_dict_close:
    case QPDFTokenizer::tt_brace_close:
        if (m_nesting > 0 && --m_nesting == 0) {
            Operand array;
            array.glyphs = m_arrayGlyphs;
            array.codes = m_arrayCodes;
            array.shift = m_arrayShift;
            array.items = m_arrayItems;
            array.run = m_arrayRun;
            array.first = m_arrayFirst;
            array.lead = m_arrayLead;
            push(std::move(array));
        }
        return;
    case QPDFTokenizer::tt_bad:
        m_page.unsure = m_page.broken = true;
        throw StopScan();
    default:
        break;
    }
    if (++m_page.objects > kMaxObjectsPerPage) {
        m_page.unsure = m_page.broken = true;
        throw StopScan();
    }
    if (m_nesting > 0) {
        // A TJ array's glyphs, up to the first large move, and its reach.
        if (m_nesting == 1) {
            ++m_arrayItems;
            if (token.getType() == QPDFTokenizer::tt_string) {
                m_arrayCodes += int(std::min<size_t>(token.getValue().size(), 1'000'000));
                if (!m_arrayFar)
                    m_arrayGlyphs += glyphsOf(token.getValue(), state().inkCodes);
                m_arrayRun.add(token.getValue(), state());
                if (!m_arrayString)
                    m_arrayFirst.add(token.getValue(), state());
                m_arrayString = true;
            } else if (token.getType() == QPDFTokenizer::tt_integer ||
                       token.getType() == QPDFTokenizer::tt_real) {
                const double signedMove = parseNumber(token.getValue());
                const double move = std::abs(signedMove);
                m_arrayShift += move;
                m_arrayFar = m_arrayFar || !(move <= kFarAdjustment);
                if (std::isfinite(signedMove)) {
                    m_arrayRun.move(-signedMove / 1000);
                    if (m_arrayString)
                        m_arrayRun.back = std::max(m_arrayRun.back, signedMove / 1000);
                    m_arrayRun.adjust -= signedMove / 1000;
                    if (!m_arrayString)
                        m_arrayLead -= signedMove / 1000;
                } else {
                    m_arrayRun.measured = false;
                }
            } else {
                m_arrayRun.measured = false;
            }
        }
        return;
    }
    Operand operand;
    switch (token.getType()) {
    case QPDFTokenizer::tt_integer:
    case QPDFTokenizer::tt_real:
        operand.type = Operand::Number;
        operand.number = parseNumber(token.getValue());
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
    case QPDFTokenizer::tt_string:
        operand.type = Operand::String;
        operand.glyphs = glyphsOf(token.getValue(), state().inkCodes);
        operand.codes = int(std::min<size_t>(token.getValue().size(), 1'000'000));
        operand.run.add(token.getValue(), state());
        operand.first = operand.run;
        break;
    case QPDFTokenizer::tt_word:
        if (token.getValue() == "true" || token.getValue() == "false") {
            operand.type = Operand::Bool;
            operand.name = token.getValue();
            break;
        }
        operate(token.getValue());
        m_operands.clear();
        m_numbers.clear();
        if (m_page.stops())
            throw StopScan();
        return;
    default:
        break;
    }
    push(std::move(operand));
}

void Scanner::scan(QPDFObjectHandle contents)
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
        m_page.unsure = m_page.broken = true;
    }
}

void Scanner::push(Operand operand)
{
    if (m_operands.size() >= kMaxOperands) {
        m_page.unsure = m_page.broken = true;
        return;
    }
    if (operand.type == Operand::Number)
        m_numbers.push_back(operand.number);
    m_operands.push_back(std::move(operand));
}

const std::vector<double> &Scanner::numbers() const
{
    return m_numbers;
}

QPDFObjectHandle Scanner::resource(const char *category, size_t operand)
{
    if (operand >= m_operands.size() || m_operands[operand].type != Operand::Name ||
        !m_resources.isDictionary())
        return QPDFObjectHandle::newNull();
    QPDFObjectHandle dict = m_resources.getKey(category);
    if (!dict.isDictionary())
        return QPDFObjectHandle::newNull();
    return dict.getKey(m_operands[operand].name);
}

bool Scanner::remapped(Kind kind) const
{
    return kind == Kind::Rgb ? m_rgbRemapped : kind == Kind::Cmyk ? m_cmykRemapped : false;
}

void Scanner::setSpace(Paint &paint)
{
    if (m_operands.empty())
        return;
    paint.space = resolveSpace(m_operands.back().object(), m_resources, 0);
    paint.neutral = neutralInitially(paint.space);
    paint.chroma = 0;
}

void Scanner::setColour(Paint &paint)
{
    // A pattern name as the last operand paints the pattern's colours.
    if (!m_operands.empty() && m_operands.back().type == Operand::Name) {
        paint.neutral = false;
        paint.chroma = 0;
        return;
    }
    const std::vector<double> &v = numbers();
    paint.neutral = neutralValues(paint.space, v);
    paint.chroma =
        paint.space.device && !remapped(paint.space.kind) ? chromaOf(paint.space.kind, v) : 0;
}

void Scanner::setDevice(Paint &paint, Kind kind)
{
    paint.space = Space{};
    paint.space.kind = kind;
    paint.space.device = kind != Kind::Grey;
    const std::vector<double> &v = numbers();
    paint.neutral = neutralValues(paint.space, v);
    paint.chroma = remapped(kind) ? 0 : chromaOf(kind, v);
}

void Scanner::paintWith(const Paint &paint)
{
    if (!paint.neutral)
        m_page.unsure = true;
}

bool Scanner::showsColour(const GraphicsState &s, bool stroke) const
{
    return s.placed && m_page.seekColour && !m_page.noShownColour && s.clipExact && !s.softMask &&
           s.normalBlend && (stroke ? s.opaqueStroke : s.opaqueFill) &&
           (stroke ? s.stroke.chroma : s.fill.chroma) >= kShownChroma;
}

void Scanner::extGState()
{
    QPDFObjectHandle gs = resource("/ExtGState", 0);
    if (!gs.isDictionary())
        return;
    // A transfer function may turn grey into colour.
    for (const char *key : {"/TR", "/TR2"}) {
        QPDFObjectHandle tr = gs.getKey(key);
        if (!tr.isNull() &&
            !(tr.isName() && (tr.getName() == "/Identity" || tr.getName() == "/Default"))) {
            m_page.unsure = true;
            m_page.noShownColour = true;
        }
    }
    GraphicsState &s = state();
    QPDFObjectHandle mask = gs.getKey("/SMask");
    if (!mask.isNull())
        s.softMask = !(mask.isName() && mask.getName() == "/None");
    QPDFObjectHandle blend = gs.getKey("/BM");
    if (blend.isArray() && blend.getArrayNItems() > 0)
        blend = blend.getArrayItem(0);
    if (!blend.isNull())
        s.normalBlend =
            blend.isName() && (blend.getName() == "/Normal" || blend.getName() == "/Compatible");
    QPDFObjectHandle alpha = gs.getKey("/ca");
    if (!alpha.isNull())
        s.opaqueFill = alpha.isNumber() && numberValue(alpha) >= 1;
    QPDFObjectHandle strokeAlpha = gs.getKey("/CA");
    if (!strokeAlpha.isNull())
        s.opaqueStroke = strokeAlpha.isNumber() && numberValue(strokeAlpha) >= 1;
    if (gs.hasKey("/D"))
        s.dashed = true;
    QPDFObjectHandle width = gs.getKey("/LW");
    if (width.isNumber())
        s.lineWidth = numberValue(width);
    if (gs.hasKey("/Font")) {
        s.simpleFont = false;
        s.font = QPDFObjectHandle::newNull();
        s.fontWidths.reset();
    }
}

void Scanner::coverUnitSquare()
{
    const GraphicsState &s = state();
    if (s.placed)
        m_page.cover(mappedBox(s.ctm, 0, 0, 1, 1).meet(s.clip));
}

void Scanner::addPoint(double x, double y)
{
    const Matrix &m = state().ctm;
    const double px = m.x(x, y), py = m.y(x, y);
    const int n = m_path.moves + m_path.lines;
    if (n >= 1 && n <= 2) {
        m_path.points[2 * (n - 1)] = px;
        m_path.points[2 * (n - 1) + 1] = py;
    }
    if (m_path.empty)
        m_path.box = Box::at(px, py);
    else
        m_path.box.add(px, py);
    m_path.empty = false;
}

void Scanner::paintPath(bool fill, bool stroke)
{
    GraphicsState &s = state();
    if (s.placed && !m_path.empty && (fill || stroke)) {
        Box painted = m_path.box;
        if (stroke) {
            // Joins and caps reach out, with the miter limit, up to ten
            // line widths.
            const double scale = std::max(std::abs(s.ctm.a) + std::abs(s.ctm.c),
                                          std::abs(s.ctm.b) + std::abs(s.ctm.d));
            const double reach = std::abs(s.lineWidth) * scale * 5 + 2;
            painted = {painted.x0 - reach, painted.y0 - reach, painted.x1 + reach,
                       painted.y1 + reach};
        }
        m_page.cover(painted.meet(s.clip));
        // Colour narrower than two pixels may fall between the rule's
        // pixels, or under paint that rounds onto them.
        const Box &b = m_path.box;
        const bool narrow =
            !s.placed || !(b.x1 - b.x0 >= 2 * kPixelSide) || !(b.y1 - b.y0 >= 2 * kPixelSide);
        if ((fill && !s.fill.neutral && narrow) || (stroke && !s.stroke.neutral))
            m_page.thinColour = true;
        const bool oneRectangle = m_path.rectangles == 1 && !m_path.other && m_path.rectangleExact;
        if (fill && !stroke && oneRectangle && showsColour(s, false)) {
            // However thin: the print shows it, and so does the rule once
            // it renders finer.
            const Box shown = m_path.rectangle.meet(s.clip);
            const double w = shown.x1 - shown.x0, h = shown.y1 - shown.y0;
            if (w > 0 && h > 0 && w * h >= m_page.minShownArea && m_page.shown.size() < 256)
                m_page.shown.push_back({shown, kShownWeight});
        }
        if (stroke && !fill && showsColour(s, true))
            showColourLine();
    }
    if (m_clipNext) {
        if (m_path.rectangles == 1 && !m_path.other && m_path.rectangleExact) {
            s.clip = s.clip.meet(m_path.rectangle);
        } else {
            if (!m_path.empty)
                s.clip = s.clip.meet(m_path.box);
            s.clipExact = false;
        }
        m_clipNext = false;
    }
    m_path = Path{};
}

// A straight stroke, solid, as long as the rule's area at the width
// renderers give it (a pixel at least).
void Scanner::showColourLine()
{
    const GraphicsState &s = state();
    if (m_path.moves != 1 || m_path.lines != 1 || m_path.curves || m_path.rectangles || s.dashed)
        return;
    const double *p = m_path.points;
    const double along = length(p[2] - p[0], p[3] - p[1]);
    const Matrix &m = s.ctm;
    const double longest = std::max(length(m.a, m.b), length(m.c, m.d));
    const double scale = longest > 0 ? std::abs(m.a * m.d - m.b * m.c) / longest : 0;
    const double width = std::max(std::abs(s.lineWidth) * scale, kPixelSide);
    if (!(along * width >= m_page.minShownArea))
        return;
    const double half = width / 2;
    const Box area = {std::min(p[0], p[2]) - half, std::min(p[1], p[3]) - half,
                      std::max(p[0], p[2]) + half, std::max(p[1], p[3]) + half};
    if (s.clip.contains(area) && m_page.shown.size() < 256)
        m_page.shown.push_back({area, kShownWeight});
}

void Scanner::operateGeometry(std::string_view op)
{
    GraphicsState &s = state();
    const std::vector<double> &v = numbers();
    auto moveText = [&](double tx, double ty) {
        m_lineMatrix = Matrix{1, 0, 0, 1, tx, ty}.times(m_lineMatrix);
        m_textMatrix = m_lineMatrix;
        m_textPlaced = m_lineKnown;
    };
    if (op == "cm") {
        if (v.size() == 6)
            s.ctm = Matrix{v[0], v[1], v[2], v[3], v[4], v[5]}.times(s.ctm);
    } else if (op == "re") {
        if (v.size() == 4) {
            const Box box = mappedBox(s.ctm, v[0], v[1], v[2], v[3]);
            if (m_path.empty) {
                m_path.box = box;
            } else {
                m_path.box.add(box.x0, box.y0);
                m_path.box.add(box.x1, box.y1);
            }
            m_path.empty = false;
            m_path.rectangle = box;
            m_path.rectangleExact = s.ctm.keepsAxes();
            ++m_path.rectangles;
        } else {
            m_path.other = true;
        }
    } else if (op == "m" || op == "l" || op == "c" || op == "v" || op == "y") {
        m_path.other = true;
        m_path.moves += op == "m";
        m_path.lines += op == "l";
        m_path.curves = m_path.curves || (op != "m" && op != "l");
        for (size_t i = 0; i + 1 < v.size(); i += 2)
            addPoint(v[i], v[i + 1]);
    } else if (op == "W" || op == "W*") {
        m_clipNext = true;
    } else if (op == "n") {
        paintPath(false, false);
    } else if (op == "f" || op == "F" || op == "f*") {
        paintPath(true, false);
    } else if (op == "S" || op == "s") {
        paintPath(false, true);
    } else if (op == "B" || op == "B*" || op == "b" || op == "b*") {
        paintPath(true, true);
    } else if (op == "BT") {
        m_textMatrix = m_lineMatrix = Matrix{};
        m_textPlaced = m_lineKnown = m_inText = true;
        m_textClips = false;
    } else if (op == "ET") {
        m_inText = false;
        if (m_textClips)
            s.clipExact = false;
    } else if (op == "Tm") {
        if (v.size() == 6) {
            m_textMatrix = m_lineMatrix = Matrix{v[0], v[1], v[2], v[3], v[4], v[5]};
            m_textPlaced = m_lineKnown = true;
        }
    } else if (op == "Td" || op == "TD") {
        if (v.size() == 2) {
            moveText(v[0], v[1]);
            if (op == "TD")
                s.leading = -v[1];
        }
    } else if (op == "T*" || op == "'" || op == "\"") {
        moveText(0, -s.leading);
        if (op == "\"" && v.size() >= 2) {
            s.wordSpacing = v[0];
            s.charSpacing = v[1];
        }
    } else if (op == "TL") {
        if (!v.empty())
            s.leading = v[0];
    } else if (op == "Tz") {
        if (!v.empty())
            s.horizontalScale = v[0] / 100;
    } else if (op == "Ts") {
        if (!v.empty())
            s.rise = v[0];
    } else if (op == "Tc") {
        if (!v.empty())
            s.charSpacing = v[0];
    } else if (op == "Tw") {
        if (!v.empty())
            s.wordSpacing = v[0];
    } else if (op == "w") {
        if (!v.empty())
            s.lineWidth = v[0];
    } else if (op == "d") {
        s.dashed = m_operands.empty() || m_operands.front().type != Operand::Other ||
                   m_operands.front().items > 0;
    } else if (op == "sh") {
        if (s.placed)
            m_page.cover(s.clip);
    }
}

void Scanner::operate(std::string_view op)
{
    operateGeometry(op);
    GraphicsState &s = state();
    if (op == "q") {
        // Past the stack's limit the states no longer match the renderer's:
        // the rendering decides.
        if (m_stack.size() >= kMaxStates) {
            m_page.unsure = m_page.broken = true;
            return;
        }
        m_stack.push_back(s);
    } else if (op == "Q") {
        if (m_stack.size() > 1)
            m_stack.pop_back();
        // Renderers differ on whether a state saved inside a text object
        // keeps the text position: only Tm places text again.
        if (m_inText)
            m_textPlaced = m_lineKnown = false;
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
        const std::vector<double> &v = numbers();
        if (!v.empty())
            s.textMode = int(v[0]);
    } else if (op == "Tf") {
        QPDFObjectHandle font = resource("/Font", 0);
        s.font = font;
        const std::string subtype = font.isDictionary() && font.getKey("/Subtype").isName()
                                        ? font.getKey("/Subtype").getName()
                                        : std::string();
        s.type3 = subtype == "/Type3";
        s.simpleFont = subtype == "/Type1" || subtype == "/TrueType" || subtype == "/MMType1";
        // Fonts are read once.
        const QPDFObjGen id = font.getObjGen();
        auto known = id.isIndirect() ? m_page.fonts.find(id) : m_page.fonts.end();
        PageState::FontFacts facts;
        if (known != m_page.fonts.end()) {
            facts = known->second;
        } else {
            facts.ink = s.simpleFont ? inkCodesOf(font) : std::bitset<256>();
            if (s.simpleFont)
                facts.widths = widthsOf(font);
            fontMetricsOf(font, &facts.advance, &facts.box);
            if (id.isIndirect() && m_page.fonts.size() < 4096)
                m_page.fonts.emplace(id, facts);
        }
        s.inkCodes = facts.ink;
        s.fontWidths = facts.widths;
        s.fontAdvance = facts.advance;
        s.fontBox = facts.box;
        const std::vector<double> &v = numbers();
        s.fontSize = v.empty() ? 0 : v.back();
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

} // namespace tallivo::pdfcolour
