#include "pdfcolourscan.h"

#include <cmath>

// What the scan reaches through the resources: Type 3 glyphs, images and
// form XObjects.
namespace tallivo::pdfcolour {
namespace {

std::vector<double> numbersOf(QPDFObjectHandle array)
{
    std::vector<double> v;
    if (array.isArray()) {
        for (QPDFObjectHandle n : array.getArrayAsVector()) {
            if (!n.isNumber())
                return {};
            v.push_back(numberValue(n));
        }
    }
    return v;
}

} // namespace

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
    coverUnitSquare();
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
    const bool grey = space.kind == Kind::Grey || (space.kind == Kind::Spot && space.spotNeutral);
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
        m_page.unsure = m_page.broken = true;
        return;
    }
    QPDFObjectHandle dict = xobject.getDict();
    QPDFObjectHandle resources = dict.getKey("/Resources");
    if (!resources.isDictionary())
        resources = m_resources;
    GraphicsState start = state();
    if (start.placed) {
        const std::vector<double> m = numbersOf(dict.getKey("/Matrix"));
        if (m.size() == 6)
            start.ctm = Matrix{m[0], m[1], m[2], m[3], m[4], m[5]}.times(start.ctm);
        const std::vector<double> b = numbersOf(dict.getKey("/BBox"));
        if (b.size() == 4) {
            start.clip =
                start.clip.meet(mappedBox(start.ctm, std::min(b[0], b[2]), std::min(b[1], b[3]),
                                          std::abs(b[2] - b[0]), std::abs(b[3] - b[1])));
            start.clipExact = start.clipExact && start.ctm.keepsAxes();
        } else {
            start.clipExact = false;
        }
        // A group blends in its own colour space, which may be grey.
        QPDFObjectHandle group = dict.getKey("/Group");
        if (!group.isNull()) {
            QPDFObjectHandle cs = group.isDictionary() ? group.getKey("/CS") : group;
            if (!cs.isNull() &&
                !(cs.isName() && (cs.getName() == "/DeviceRGB" || cs.getName() == "/DeviceCMYK")))
                start.opaqueFill = false;
        }
    }
    m_page.active.insert(id);
    Scanner inner(m_page, resources, m_depth + 1, start, m_type3Cache);
    inner.scan(xobject);
    m_page.active.erase(id);
}

} // namespace tallivo::pdfcolour
