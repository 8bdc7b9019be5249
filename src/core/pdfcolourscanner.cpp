#include "pdfcolourscan.h"

#include <cmath>
#include <cstdlib>

// The content scan: follows the operators of a page, its forms and Type 3
// glyphs, and notes whether anything painted may show colour.
namespace tallivo::pdfcolour {

Scanner::Scanner(PageState &page, QPDFObjectHandle resources, int depth, GraphicsState start,
                 std::map<QPDFObjGen, bool> &type3Cache)
    : m_page(page)
    , m_resources(resources)
    , m_depth(depth)
    , m_type3Cache(type3Cache)
{
    m_stack.push_back(start);
}

void Scanner::handleToken(QPDFTokenizer::Token const &token)
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
        m_page.unsure = true;
    }
}

void Scanner::push(Operand operand)
{
    if (m_operands.size() < 64)
        m_operands.push_back(std::move(operand));
}

std::vector<double> Scanner::numbers() const
{
    std::vector<double> v;
    for (const Operand &o : m_operands) {
        if (o.type == Operand::Number)
            v.push_back(o.number);
    }
    return v;
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

void Scanner::setSpace(Paint &paint)
{
    if (m_operands.empty())
        return;
    paint.space = resolveSpace(m_operands.back().object(), m_resources, 0);
    paint.neutral = neutralInitially(paint.space);
}

void Scanner::setColour(Paint &paint)
{
    // A pattern name as the last operand paints the pattern's colours.
    if (!m_operands.empty() && m_operands.back().type == Operand::Name) {
        paint.neutral = false;
        return;
    }
    paint.neutral = neutralValues(paint.space, numbers());
}

void Scanner::setDevice(Paint &paint, Kind kind)
{
    paint.space = Space{};
    paint.space.kind = kind;
    paint.neutral = neutralValues(paint.space, numbers());
}

void Scanner::paintWith(const Paint &paint)
{
    if (!paint.neutral)
        m_page.unsure = true;
}

void Scanner::showText()
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

bool Scanner::type3Neutral(QPDFObjectHandle font)
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

void Scanner::image(QPDFObjectHandle dict)
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

void Scanner::form(QPDFObjectHandle xobject)
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

void Scanner::extGState()
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

void Scanner::operate(const std::string &op)
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

} // namespace tallivo::pdfcolour
