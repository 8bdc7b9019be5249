#include "pdfcolourscan.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <utility>
#include <vector>

// Annotations: which print, what their appearances paint, and the in-memory
// copy in which the renderer, which draws what a screen shows, is made to
// draw what prints.
namespace tallivo::pdfcolour {
namespace {

bool neutralAnnotationColour(QPDFObjectHandle annotation)
{
    QPDFObjectHandle c = annotation.getKey("/C");
    if (!c.isArray())
        return true;
    std::vector<double> v;
    for (QPDFObjectHandle n : c.getArrayAsVector())
        v.push_back(n.isNumber() ? numberValue(n) : 0);
    Space space;
    space.kind = v.size() == 3 ? Kind::Rgb : v.size() == 4 ? Kind::Cmyk : Kind::Grey;
    return neutralValues(space, v);
}

} // namespace

bool drawsNothing(QPDFAnnotationObjectHelper &annotation)
{
    QPDFObjectHandle a = annotation.getObjectHandle();
    QPDFObjectHandle subtype = a.getKey("/Subtype");
    if (!subtype.isName() || subtype.getName() != "/Link" ||
        annotation.getAppearanceStream("/N").isStream() || a.hasKey("/BS"))
        return false;
    // The width is the third number; without /Border it is 1.
    QPDFObjectHandle border = a.getKey("/Border");
    if (!border.isArray() || border.getArrayNItems() < 3)
        return false;
    QPDFObjectHandle width = border.getArrayItem(2);
    return width.isNumber() && numberValue(width) == 0;
}

AnnotationScan scanAnnotations(QPDFPageObjectHelper &page, PageState &state,
                               std::map<QPDFObjGen, bool> &type3Cache)
{
    AnnotationScan result;
    for (QPDFAnnotationObjectHelper &annotation : page.getAnnotations()) {
        const int flags = annotation.getFlags();
        if (flags & kFlagHidden)
            continue;
        if (!(flags & kFlagPrint) || (flags & kFlagNoView)) {
            // Hyperlinks mostly: no print copy is needed for what never shows.
            if (!drawsNothing(annotation))
                result.hiddenOnPrint = true;
            if (!(flags & kFlagPrint))
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

std::string printableCopy(QPDF &pdf)
{
    // The flags are changed for the copy only: the pages still to be
    // scanned read the file's own.
    std::vector<std::pair<QPDFObjectHandle, QPDFObjectHandle>> changed;
    auto restore = [&changed] {
        for (auto &[annotation, flags] : changed) {
            if (flags.isNull())
                annotation.removeKey("/F");
            else
                annotation.replaceKey("/F", flags);
        }
    };
    try {
        for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(pdf).getAllPages()) {
            for (QPDFAnnotationObjectHelper &annotation : page.getAnnotations()) {
                const int flags = annotation.getFlags();
                int printed = flags;
                if (!(flags & kFlagHidden))
                    printed = flags & kFlagPrint ? flags & ~kFlagNoView : flags | kFlagHidden;
                if (printed != flags) {
                    QPDFObjectHandle object = annotation.getObjectHandle();
                    changed.emplace_back(object, object.getKey("/F"));
                    object.replaceKey("/F", QPDFObjectHandle::newInteger(printed));
                }
            }
        }
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        writer.setObjectStreamMode(qpdf_o_preserve);
        writer.setStreamDataMode(qpdf_s_preserve);
        writer.write();
        std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
        restore();
        return std::string(reinterpret_cast<const char *>(buffer->getBuffer()), buffer->getSize());
    } catch (...) {
        try {
            restore();
        } catch (...) {
        }
        return {};
    }
}

} // namespace tallivo::pdfcolour
