#include "pdfcolourscan.h"

#include <qpdf/Buffer.hh>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iterator>

// What a simple font's glyphs draw and where: the codes whose glyphs
// certainly leave ink, and the room its glyphs may take.
namespace tallivo::pdfcolour {
namespace {

const char *const kDigitNames[] = {"/zero", "/one", "/two",   "/three", "/four",
                                   "/five", "/six", "/seven", "/eight", "/nine"};

// Glyph names that certainly leave ink: the Latin letters and digits.
bool inkedName(const std::string &name)
{
    if (name.size() == 2 && std::isalpha(uchar(name[1])))
        return true;
    return std::find(std::begin(kDigitNames), std::end(kDigitNames), name) != std::end(kDigitNames);
}

// The font's name without a subset's tag.
std::string baseFontOf(QPDFObjectHandle font)
{
    QPDFObjectHandle base = font.getKey("/BaseFont");
    std::string name = base.isName() ? base.getName().substr(1) : std::string();
    if (name.size() > 7 && name[6] == '+')
        name.erase(0, 7);
    return name;
}

// Standard Latin fonts, which every renderer has or substitutes with all
// their letters.
bool latinStandardFont(const std::string &base)
{
    for (const char *family : {"Helvetica", "Times", "Courier", "Arial"}) {
        if (base.rfind(family, 0) == 0)
            return true;
    }
    return false;
}

// A Type 1 font program's own encoding, from its clear-text part: fills
// `names`, or says it is the standard one.
bool type1Encoding(QPDFObjectHandle program, std::vector<std::string> &names)
{
    std::string text;
    try {
        std::shared_ptr<Buffer> data = program.getStreamData(qpdf_dl_generalized);
        text.assign(reinterpret_cast<const char *>(data->getBuffer()),
                    std::min<size_t>(data->getSize(), 256 * 1024));
    } catch (...) {
        return false;
    }
    const size_t end = text.find("eexec");
    if (end != std::string::npos)
        text.resize(end);
    const size_t at = text.find("/Encoding");
    if (at == std::string::npos)
        return false;
    if (text.compare(at, 29, "/Encoding StandardEncoding def") == 0 ||
        text.compare(at, 30, "/Encoding StandardEncoding def") == 0)
        return true;
    // dup <code> /<name> put
    size_t dup = text.find("dup ", at);
    while (dup != std::string::npos) {
        const char *p = text.c_str() + dup + 4;
        int code = -1;
        const char *after = std::from_chars(p, text.c_str() + text.size(), code).ptr;
        if (after != p && *after == ' ' && after[1] == '/' && code >= 0 && code < 256) {
            const char *name = after + 1;
            size_t length = 1;
            while (name[length] && !std::isspace(uchar(name[length])) && name[length] != '/')
                ++length;
            names[size_t(code)] = std::string(name, length);
        }
        dup = text.find("dup ", dup + 4);
    }
    return false;
}

std::vector<double> boxNumbers(QPDFObjectHandle array)
{
    std::vector<double> v;
    if (array.isArray()) {
        for (QPDFObjectHandle n : array.getArrayAsVector())
            v.push_back(numberValue(n));
    }
    return v;
}

} // namespace

// The glyphs a simple font's string certainly draws.
int glyphsOf(const std::string &text, const std::bitset<256> &ink)
{
    int n = 0;
    for (const char c : text)
        n += ink.test(uchar(c));
    return n;
}

// The codes of a simple font whose glyphs certainly draw: letters and
// digits, in a standard Latin font that is not embedded, or in an embedded
// Type 1 font that lists them in its CharSet. Any other font may lack the
// glyph a code names; its text is left to the rendering.
std::bitset<256> inkCodesOf(QPDFObjectHandle font)
{
    std::bitset<256> ink;
    if (!font.isDictionary())
        return ink;
    QPDFObjectHandle descriptor = font.getKey("/FontDescriptor");
    if (!descriptor.isDictionary())
        descriptor = QPDFObjectHandle::newDictionary();
    const bool embedded = descriptor.hasKey("/FontFile") || descriptor.hasKey("/FontFile2") ||
                          descriptor.hasKey("/FontFile3");
    std::set<std::string> charset;
    if (embedded) {
        QPDFObjectHandle file3 = descriptor.getKey("/FontFile3");
        const bool type1 = descriptor.hasKey("/FontFile") ||
                           (file3.isStream() && file3.getDict().getKey("/Subtype").isName() &&
                            file3.getDict().getKey("/Subtype").getName() == "/Type1C");
        QPDFObjectHandle list = descriptor.getKey("/CharSet");
        if (!type1 || !list.isString())
            return ink;
        const std::string names = list.getStringValue();
        size_t at = names.find('/');
        while (at != std::string::npos) {
            const size_t next = names.find_first_of("/ \t\r\n", at + 1);
            charset.insert(names.substr(at, next == std::string::npos ? next : next - at));
            at = names.find('/', at + 1);
        }
    } else if (!latinStandardFont(baseFontOf(font))) {
        return ink;
    }
    // The base encodings agree on the letters and digits; an embedded font
    // without one uses its own.
    QPDFObjectHandle encoding = font.getKey("/Encoding");
    QPDFObjectHandle baseEncoding =
        encoding.isDictionary() ? encoding.getKey("/BaseEncoding") : encoding;
    std::vector<std::string> names(256);
    bool standardEncoding = !embedded || baseEncoding.isName();
    if (!standardEncoding && descriptor.getKey("/FontFile").isStream())
        standardEncoding = type1Encoding(descriptor.getKey("/FontFile"), names);
    if (standardEncoding) {
        for (int c = 'A'; c <= 'z'; ++c) {
            if (std::isalpha(c))
                names[size_t(c)] = std::string("/") + char(c);
        }
        for (int d = 0; d < 10; ++d)
            names[size_t('0' + d)] = kDigitNames[d];
    }
    QPDFObjectHandle differences =
        encoding.isDictionary() ? encoding.getKey("/Differences") : QPDFObjectHandle::newNull();
    if (differences.isArray()) {
        long long code = 0;
        for (QPDFObjectHandle item : differences.getArrayAsVector()) {
            if (item.isInteger()) {
                code = item.getIntValue();
            } else if (item.isName()) {
                if (code >= 0 && code < 256)
                    names[size_t(code)] = item.getName();
                ++code;
            }
        }
    }
    for (size_t c = 0; c < 256; ++c)
        ink.set(c, inkedName(names[c]) && (!embedded || charset.count(names[c])));
    return ink;
}

// As the renderer reads them: codes from /FirstChar to /LastChar, as far as
// the array goes; every other code falls back to a width of the renderer's
// choosing.
std::shared_ptr<const FontWidths> widthsOf(QPDFObjectHandle font)
{
    if (!font.isDictionary())
        return {};
    QPDFObjectHandle widths = font.getKey("/Widths");
    QPDFObjectHandle first = font.getKey("/FirstChar");
    QPDFObjectHandle last = font.getKey("/LastChar");
    if (!widths.isArray() || !first.isInteger() || !last.isInteger())
        return {};
    const long long from = first.getIntValue();
    const long long to = std::min(last.getIntValue(), from + widths.getArrayNItems() - 1);
    if (from < 0 || from > 255 || to > 255)
        return {};
    auto result = std::make_shared<FontWidths>();
    result->fill(-1);
    for (long long code = from; code <= to; ++code) {
        QPDFObjectHandle w = widths.getArrayItem(int(code - from));
        // No glyph that draws is as narrow as nothing.
        if (w.isNumber() && numberValue(w) > 0 && numberValue(w) < 10000)
            (*result)[size_t(code)] = numberValue(w) / 1000;
    }
    return result;
}

// The widest advance of a simple font's glyphs, and where they may paint,
// in ems.
void fontMetricsOf(QPDFObjectHandle font, double *advance, Box *box)
{
    *advance = 1.1;
    *box = {-0.5, -0.5, 1.5, 1.5};
    if (!font.isDictionary())
        return;
    QPDFObjectHandle widths = font.getKey("/Widths");
    QPDFObjectHandle descriptor = font.getKey("/FontDescriptor");
    if (widths.isArray()) {
        double widest = 0;
        for (QPDFObjectHandle w : widths.getArrayAsVector())
            widest = std::max(widest, std::abs(numberValue(w)));
        if (descriptor.isDictionary())
            widest = std::max(widest, std::abs(numberValue(descriptor.getKey("/MissingWidth"))));
        *advance = widest / 1000;
    }
    if (descriptor.isDictionary()) {
        const std::vector<double> b = boxNumbers(descriptor.getKey("/FontBBox"));
        if (b.size() == 4 && std::abs(b[2] - b[0]) >= 100 && std::abs(b[3] - b[1]) >= 100)
            *box = {std::min(b[0], b[2]) / 1000, std::min(b[1], b[3]) / 1000,
                    std::max(b[0], b[2]) / 1000, std::max(b[1], b[3]) / 1000};
        else
            *box = {-1, -1, 2, 2};
    } else if (latinStandardFont(baseFontOf(font))) {
        // The standard fonts' boxes, with room.
        *box = {-0.2, -0.3, 1.1, 1.0};
    }
}

} // namespace tallivo::pdfcolour
