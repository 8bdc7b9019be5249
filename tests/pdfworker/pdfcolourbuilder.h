#pragma once

// Small PDFs written object by object, and the colour classes the worker's
// classifier gives them: shared by the colour tests.

#include "pdfcolour.h"

#include <QByteArray>

#include <poppler-document.h>

#include <memory>
#include <string>
#include <vector>

namespace tallivo::testing {

// Writes small PDFs object by object: 1 is the catalog, 2 the page tree.
class PdfBuilder
{
public:
    PdfBuilder() { m_objects = {QByteArray(), QByteArray()}; }

    int add(const QByteArray &body)
    {
        m_objects.push_back(body);
        return int(m_objects.size());
    }
    int stream(const QByteArray &dict, const QByteArray &data)
    {
        return add("<<" + dict + " /Length " + QByteArray::number(data.size()) + ">>stream\n" +
                   data + "\nendstream");
    }
    static QByteArray ref(int n) { return QByteArray::number(n) + " 0 R"; }
    int next() const { return int(m_objects.size()) + 1; }

    // A 200 x 200 pt page drawing `content` with `resources`.
    void page(const QByteArray &content, const QByteArray &resources = {},
              const QByteArray &extra = {})
    {
        const int contents = stream({}, content);
        m_pages.push_back(add("<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]/Resources<<" +
                              resources + ">>/Contents " + ref(contents) + extra + ">>"));
    }

    void setCatalogExtra(const QByteArray &extra) { m_catalogExtra = extra; }

    QByteArray finish(const QByteArray &comment = {})
    {
        QByteArray kids;
        for (int p : m_pages)
            kids += ref(p) + ' ';
        m_objects[0] = "<</Type/Catalog/Pages 2 0 R" + m_catalogExtra + ">>";
        m_objects[1] = "<</Type/Pages/Kids[" + kids + "]/Count " +
                       QByteArray::number(qsizetype(m_pages.size())) + ">>";
        QByteArray out = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n" + comment;
        std::vector<qsizetype> offsets;
        for (size_t i = 0; i < m_objects.size(); ++i) {
            offsets.push_back(out.size());
            out += QByteArray::number(qsizetype(i + 1)) + " 0 obj\n" + m_objects[i] + "\nendobj\n";
        }
        const qsizetype xref = out.size();
        out += "xref\n0 " + QByteArray::number(qsizetype(m_objects.size() + 1)) +
               "\n0000000000 65535 f \n";
        for (qsizetype o : offsets)
            out += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
        out += "trailer\n<</Size " + QByteArray::number(qsizetype(m_objects.size() + 1)) +
               "/Root 1 0 R>>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
        return out;
    }

private:
    std::vector<QByteArray> m_objects;
    std::vector<int> m_pages;
    QByteArray m_catalogExtra;
};

struct Classified
{
    std::vector<ColourClass> classes;
    ColourStats stats;
};

inline Classified classify(const QByteArray &pdf, double minAreaMm2 = kDefaultColourMinArea)
{
    Classified result;
    const std::string bytes(pdf.constData(), size_t(pdf.size()));
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(bytes.data(), int(bytes.size())));
    if (!doc)
        return result;
    result.classes = classifyPdfColours(*doc, bytes, {}, 1000, processCpuSeconds() + 60,
                                        &result.stats, minAreaMm2);
    return result;
}

inline const QByteArray kRect = "20 20 160 160 re f\n";
inline const QByteArray kFont = "/Font<</F1<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>>>";

} // namespace tallivo::testing
