#include "pdfcolourscan.h"

#include <qpdf/Buffer.hh>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

// Colour spaces, and which of their values print as neutral grey.
namespace tallivo::pdfcolour {
namespace {

std::vector<double> numbersIn(QPDFObjectHandle array)
{
    std::vector<double> v;
    if (array.isArray()) {
        for (QPDFObjectHandle n : array.getArrayAsVector())
            v.push_back(numberValue(n));
    }
    return v;
}

// The tint transform of a separation, when it is an exponential function
// into a space whose grey is known; the alternate stays Unknown otherwise.
Tint tintOf(QPDFObjectHandle function, const Space &alternate)
{
    Tint tint;
    QPDFObjectHandle dict = function.isStream() ? function.getDict() : function;
    if (!dict.isDictionary())
        return tint;
    QPDFObjectHandle type = dict.getKey("/FunctionType");
    if (!type.isInteger() || type.getIntValue() != 2 || !dict.getKey("/Range").isNull())
        return tint;
    tint.from = dict.hasKey("/C0") ? numbersIn(dict.getKey("/C0")) : std::vector<double>{0};
    tint.to = dict.hasKey("/C1") ? numbersIn(dict.getKey("/C1")) : std::vector<double>{1};
    tint.exponent = numberValue(dict.getKey("/N"));
    const size_t channels = alternate.kind == Kind::Rgb || alternate.kind == Kind::Lab ? 3
                            : alternate.kind == Kind::Cmyk                             ? 4
                                                                                       : 0;
    if (channels > 0 && tint.from.size() == channels && tint.to.size() == channels &&
        tint.exponent > 0 && std::isfinite(tint.exponent))
        tint.alternate = alternate.kind;
    return tint;
}

// What a tint of `t` (as C0 + t (C1 - C0)) paints.
std::vector<double> tinted(const Tint &tint, double t)
{
    std::vector<double> v(tint.from.size());
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = tint.from[i] + t * (tint.to[i] - tint.from[i]);
    return v;
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

quint32 bigEndian32(const std::string &b, size_t at)
{
    return quint32(uchar(b[at])) << 24 | quint32(uchar(b[at + 1])) << 16 |
           quint32(uchar(b[at + 2])) << 8 | quint32(uchar(b[at + 3]));
}

quint16 bigEndian16(const std::string &b, size_t at)
{
    return quint16(uchar(b[at]) << 8 | uchar(b[at + 1]));
}

} // namespace

double parseNumber(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    Q_UNUSED(end);
    if (error == std::errc::result_out_of_range)
        return std::numeric_limits<double>::infinity();
    return error == std::errc() ? value : 0;
}

double numberValue(QPDFObjectHandle number)
{
    if (number.isInteger())
        return double(number.getIntValue());
    if (number.isReal())
        return parseNumber(number.getRealValue());
    return 0;
}

std::string profileBytes(QPDFObjectHandle stream)
{
    return lookupBytes(stream);
}

bool plainRgbProfile(const std::string &p)
{
    if (p.size() < 132 || p.size() > 1'000'000 || p.compare(16, 4, "RGB ") != 0 ||
        p.compare(20, 4, "XYZ ") != 0)
        return false;
    const quint32 tags = bigEndian32(p, 128);
    if (tags > 100 || 132 + size_t(tags) * 12 > p.size())
        return false;
    double xy[3][2] = {};
    int primaries = 0, curves = 0;
    for (quint32 t = 0; t < tags; ++t) {
        const size_t entry = 132 + size_t(t) * 12;
        const std::string sig = p.substr(entry, 4);
        const size_t at = bigEndian32(p, entry + 4);
        const size_t size = bigEndian32(p, entry + 8);
        if (at > p.size() || size > p.size() - at)
            return false;
        // Lookup tables take the place of the primaries and curves.
        if (sig.compare(0, 3, "A2B") == 0 || sig.compare(0, 3, "D2B") == 0)
            return false;
        const int primary = sig == "rXYZ" ? 0 : sig == "gXYZ" ? 1 : sig == "bXYZ" ? 2 : -1;
        if (primary >= 0) {
            if (size < 20 || p.compare(at, 4, "XYZ ") != 0)
                return false;
            double v[3];
            for (int i = 0; i < 3; ++i)
                v[i] = qint32(bigEndian32(p, at + 8 + size_t(i) * 4)) / 65536.0;
            const double sum = v[0] + v[1] + v[2];
            if (!(v[0] >= 0 && v[1] >= 0 && v[2] >= 0 && sum > 0.01))
                return false;
            xy[primary][0] = v[0] / sum;
            xy[primary][1] = v[1] / sum;
            ++primaries;
        } else if (sig == "rTRC" || sig == "gTRC" || sig == "bTRC") {
            if (size < 12)
                return false;
            if (p.compare(at, 4, "curv") == 0) {
                const quint32 count = bigEndian32(p, at + 8);
                if (count == 1) {
                    const double gamma = bigEndian16(p, at + 12) / 256.0;
                    if (size < 14 || !(gamma >= 0.5 && gamma <= 3))
                        return false;
                } else if (count > 1) {
                    // A table from black to white, never falling.
                    if (count > 65536 || size < 12 + size_t(count) * 2)
                        return false;
                    quint16 last = 0;
                    for (quint32 i = 0; i < count; ++i) {
                        const quint16 v = bigEndian16(p, at + 12 + size_t(i) * 2);
                        if (v < last)
                            return false;
                        last = v;
                    }
                    if (bigEndian16(p, at + 12) > 6553 || last < 58982)
                        return false;
                }
            } else if (p.compare(at, 4, "para") == 0) {
                if (size < 16)
                    return false;
                const double gamma = qint32(bigEndian32(p, at + 12)) / 65536.0;
                if (!(gamma >= 0.5 && gamma <= 3))
                    return false;
            } else {
                return false;
            }
            ++curves;
        }
    }
    if (primaries != 3 || curves != 3)
        return false;
    // The primaries far apart in chromaticity (sRGB's are 0.25 to 0.6).
    for (int i = 0; i < 3; ++i) {
        for (int j = i + 1; j < 3; ++j) {
            if (std::hypot(xy[i][0] - xy[j][0], xy[i][1] - xy[j][1]) < 0.15)
                return false;
        }
    }
    return true;
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
        // The colorants' names say nothing: what the alternate space paints
        // is what shows.
        if (space.spotNeutral)
            return true;
        if (space.spotTint && !v.empty()) {
            Space alternate;
            alternate.kind = space.tint.alternate;
            const double t = std::clamp(v[0], 0.0, 1.0);
            return neutralValues(alternate, tinted(space.tint, std::pow(t, space.tint.exponent)));
        }
        return false;
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
        return neutralValues(space, std::vector<double>(size_t(space.colorants), 1.0));
    if (space.kind == Kind::Lab)
        return true;
    return neutralValues(space, {0, 0, 0, 0});
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
            space.device = name != "/CalRGB";
        } else if (name == "/DeviceCMYK" || name == "/CMYK") {
            space.kind = Kind::Cmyk;
            space.device = true;
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
    } else if ((family == "/Separation" || family == "/DeviceN") && cs.getArrayNItems() >= 4) {
        space.kind = Kind::Spot;
        const bool separation = family == "/Separation";
        space.colorants = separation                     ? 1
                          : cs.getArrayItem(1).isArray() ? cs.getArrayItem(1).getArrayNItems()
                                                         : 0;
        const Space alternate = resolveSpace(cs.getArrayItem(2), resources, depth + 1);
        space.spotNeutral = alternate.kind == Kind::Grey;
        if (separation && !space.spotNeutral) {
            space.tint = tintOf(cs.getArrayItem(3), alternate);
            space.spotTint = space.tint.alternate != Kind::Unknown;
            // Grey at both ends is grey throughout: the tint moves along a
            // line, and the colours called grey lie in a convex region of
            // each space (for CMYK, taken one side of "or" at a time).
            if (space.spotTint) {
                Space ends;
                ends.kind = space.tint.alternate;
                const std::vector<double> a = tinted(space.tint, 0);
                const std::vector<double> b = tinted(space.tint, 1);
                if (ends.kind == Kind::Cmyk) {
                    auto spread = [](const std::vector<double> &v) {
                        return std::max({v[0], v[1], v[2]}) - std::min({v[0], v[1], v[2]});
                    };
                    space.spotNeutral = (spread(a) <= kTintSlack && spread(b) <= kTintSlack) ||
                                        (a[3] >= 1 - kNeutralSlack && b[3] >= 1 - kNeutralSlack);
                } else {
                    space.spotNeutral = neutralValues(ends, a) && neutralValues(ends, b);
                }
            }
        }
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

} // namespace tallivo::pdfcolour
