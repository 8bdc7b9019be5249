#include "pdfcolourscan.h"

#include <algorithm>
#include <cmath>

// Text in the content scan: where the glyphs go, what they may hide, and
// the coloured text that certainly shows.
namespace tallivo::pdfcolour {
namespace {

// The heights (in points) between which coloured glyphs are counted as
// showing; smaller ones may be lost between the rule's pixels.
constexpr double kMinGlyphSize = 7;
constexpr double kMaxGlyphSize = 300;
// Moves back between strings up to this (in ems) are kerning: no glyph
// falls on another.
constexpr double kMaxKerning = 0.1;

double length(double x, double y)
{
    return std::sqrt(x * x + y * y);
}

} // namespace

void TextRun::add(const std::string &text, const GraphicsState &font)
{
    codes += int(std::min<size_t>(text.size(), 1'000'000));
    glyphs += glyphsOf(text, font.inkCodes);
    measured = measured && font.fontWidths;
    for (const char c : text) {
        spaces += c == ' ';
        if (!measured)
            continue;
        const double w = (*font.fontWidths)[uchar(c)];
        measured = w >= 0;
        move(w);
        widths += w;
    }
    inkEnd = widths + adjust;
}

void TextRun::move(double ems)
{
    const double at = widths + adjust + ems;
    lo = std::min(lo, at);
    hi = std::max(hi, at);
}

void Scanner::showText()
{
    GraphicsState &s = state();
    int glyphs = 0;
    int codes = 0;
    double shift = 0;
    Operand text;
    text.run.measured = false;
    if (!m_operands.empty() &&
        (m_operands.back().type == Operand::String || m_operands.back().type == Operand::Other)) {
        text = m_operands.back();
        glyphs = text.glyphs;
        codes = text.codes;
        shift = text.shift;
    }
    if (s.textMode >= 4)
        m_textClips = true;
    if (s.placed && (s.type3 || !s.normalBlend)) {
        // Type 3 glyphs may paint anything anywhere; a blend mode may take
        // the colour out of what lies under the text.
        m_page.cover(s.clip);
    }
    if (s.type3 && !type3Neutral(s.font)) {
        m_page.unsure = true;
        m_textPlaced = false;
        return;
    }
    const int mode = s.textMode & 3;
    if (s.placed && mode != 3)
        coverText(codes, shift, text.run);
    if (mode == 0 || mode == 2)
        paintWith(s.fill);
    if (mode == 1 || mode == 2)
        paintWith(s.stroke);
    // Filled only: a stroke in another colour may cover the fill.
    if (mode == 0 && text.run.measured)
        showMeasuredColourText(text);
    else if (mode == 0)
        showColourText(glyphs);
    if (text.run.measured && m_textPlaced && s.horizontalScale == 1)
        advanceText(text.run);
    else
        m_textPlaced = false;
}

// The text position after the glyphs, as the renderer moves it.
void Scanner::advanceText(const TextRun &run)
{
    const GraphicsState &s = state();
    const double move = (run.widths + run.adjust) * s.fontSize + run.codes * s.charSpacing +
                        run.spaces * s.wordSpacing;
    if (!std::isfinite(move)) {
        m_textPlaced = false;
        return;
    }
    m_textMatrix = Matrix{1, 0, 0, 1, move, 0}.times(m_textMatrix);
}

// Glyphs drawn later may hide what lies under them: their place, from the
// font's widest glyph and box, with every move the string makes.
void Scanner::coverText(int codes, double shift, const TextRun &run)
{
    const GraphicsState &s = state();
    if (!s.simpleFont || !m_textPlaced || !(std::abs(s.fontSize) > 0)) {
        m_page.cover(s.clip);
        return;
    }
    if (run.measured && s.charSpacing == 0 && (run.spaces == 0 || s.wordSpacing == 0)) {
        // Where the advances put the glyphs, each within the font's box.
        const Matrix text = Matrix{s.fontSize * s.horizontalScale, 0, 0, s.fontSize, 0, s.rise}
                                .times(m_textMatrix)
                                .times(s.ctm);
        const double left = run.lo + std::min(s.fontBox.x0, 0.0);
        const double right = run.hi + std::max(s.fontBox.x1, 0.0);
        m_page.cover(mappedBox(text, left, s.fontBox.y0, right - left, s.fontBox.y1 - s.fontBox.y0)
                         .meet(s.clip));
        return;
    }
    const double reach = shift / 1000 + codes *
                                            (std::abs(s.charSpacing) + std::abs(s.wordSpacing)) /
                                            std::abs(s.fontSize);
    const double left = std::min(s.fontBox.x0, 0.0) - reach;
    const double right = codes * s.fontAdvance + reach + std::max(s.fontBox.x1, 0.0);
    const Matrix text = Matrix{s.fontSize * s.horizontalScale, 0, 0, s.fontSize, 0, s.rise}
                            .times(m_textMatrix)
                            .times(s.ctm);
    m_page.cover(mappedBox(text, left, s.fontBox.y0, right - left, s.fontBox.y1 - s.fontBox.y0)
                     .meet(s.clip));
}

// Text in a clearly chromatic fill, of a reasonable size, whose first glyphs
// lie inside the clip (which lies inside the CropBox).
void Scanner::showColourText(int glyphs)
{
    const GraphicsState &s = state();
    if (glyphs <= 0 || !m_textPlaced || !s.simpleFont || s.type3 || !showsColour(s, false) ||
        !m_page.textShowsEnough())
        return;
    const Matrix text = Matrix{s.fontSize * s.horizontalScale, 0, 0, s.fontSize, 0, s.rise}
                            .times(m_textMatrix)
                            .times(s.ctm);
    const double across = length(text.a, text.b);
    const double up = length(text.c, text.d);
    if (!(up >= kMinGlyphSize && across >= kMinGlyphSize / 2 && up <= kMaxGlyphSize &&
          across <= kMaxGlyphSize))
        return;
    // Glyphs flattened to a line draw nothing.
    if (!(std::abs(text.a * text.d - text.b * text.c) >= 0.5 * up * across))
        return;
    // The first glyphs, from a little before the origin to four and a half
    // ems after it, below the baseline to above the tallest letters.
    Box area = Box::at(text.x(-0.25, -0.5), text.y(-0.25, -0.5));
    area.add(text.x(4.5, -0.5), text.y(4.5, -0.5));
    area.add(text.x(-0.25, 1.25), text.y(-0.25, 1.25));
    area.add(text.x(4.5, 1.25), text.y(4.5, 1.25));
    if (!s.clip.contains(area))
        return;
    // Spacing or wide glyphs may spread the glyphs out of that area: count
    // the first.
    const bool spread = !(std::abs(s.charSpacing) <= 0.2 * std::abs(s.fontSize)) ||
                        !(std::abs(s.wordSpacing) <= std::abs(s.fontSize)) ||
                        !(s.fontAdvance <= 1.1);
    // Painting later may hide them where it meets the band every letter
    // and digit has ink in (above the baseline, below the x-height); lines
    // of text above and below reach into their ascenders and descenders
    // only.
    const Box ink = mappedBox(text, 0, 0.1, 4.5, 0.35);
    if (m_page.shown.size() < 256)
        m_page.shown.push_back({ink, spread ? 1 : std::min(glyphs, kShownWeight)});
}

// Text in a clearly chromatic fill whose advances are known: its glyphs
// are where the widths put them, and count where nothing painted later
// meets their middles. Kerning moves glyphs back a little; further, they
// may fall on each other, and only the first string counts.
void Scanner::showMeasuredColourText(const Operand &text)
{
    const GraphicsState &s = state();
    const bool kerned = text.run.back <= kMaxKerning;
    const TextRun &run = kerned ? text.run : text.first;
    if (run.glyphs <= 0 || !m_textPlaced || !s.simpleFont || s.type3 || !showsColour(s, false) ||
        !m_page.textShowsEnough() || s.charSpacing != 0 || (run.spaces && s.wordSpacing != 0))
        return;
    const Matrix at = Matrix{s.fontSize * s.horizontalScale, 0, 0, s.fontSize, 0, s.rise}
                          .times(m_textMatrix)
                          .times(s.ctm);
    const double across = length(at.a, at.b);
    const double up = length(at.c, at.d);
    if (!(up >= kMinGlyphSize && across >= kMinGlyphSize / 2 && up <= kMaxGlyphSize &&
          across <= kMaxGlyphSize))
        return;
    if (!(std::abs(at.a * at.d - at.b * at.c) >= 0.5 * up * across))
        return;
    const double start = text.lead;
    const double end = kerned ? run.inkEnd : text.lead + run.widths;
    if (!(end - start >= 0.3 && end - start <= 100))
        return;
    Box area = Box::at(at.x(start - 0.25, -0.5), at.y(start - 0.25, -0.5));
    area.add(at.x(end + 0.25, -0.5), at.y(end + 0.25, -0.5));
    area.add(at.x(start - 0.25, 1.25), at.y(start - 0.25, 1.25));
    area.add(at.x(end + 0.25, 1.25), at.y(end + 0.25, 1.25));
    if (!s.clip.contains(area))
        return;
    // The band every letter and digit has ink in, short of the ends,
    // which the next glyphs' boxes may reach into.
    const Box ink = mappedBox(at, start + 0.1, 0.1, end - start - 0.2, 0.25);
    if (m_page.shown.size() < 256)
        m_page.shown.push_back({ink, std::min(run.glyphs, kShownWeight)});
}

} // namespace tallivo::pdfcolour
