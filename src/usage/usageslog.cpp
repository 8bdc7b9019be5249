#include "usageslog.h"

#include "iso8601dateformatter.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <limits>
#include <memory>

namespace tallivo {

namespace {

const xmlChar *xml(const char *text)
{
    return reinterpret_cast<const xmlChar *>(text);
}

struct DocFree
{
    void operator()(xmlDoc *doc) const { xmlFreeDoc(doc); }
};
struct ContextFree
{
    void operator()(xmlXPathContext *context) const { xmlXPathFreeContext(context); }
};
struct ObjectFree
{
    void operator()(xmlXPathObject *object) const { xmlXPathFreeObject(object); }
};

// No file or URL a document names is ever fetched.
xmlParserInputPtr refuseExternalEntity(const char *, const char *, xmlParserCtxtPtr)
{
    return nullptr;
}

void ignoreError(void *, const char *, ...) {}
// The handler's error parameter lost its pointer typedef in newer libxml2.
template <typename Error> void ignoreStructuredError(void *, Error) {}

// While it lives, libxml2 loads nothing from outside and prints nothing: both
// are process-wide settings, so the previous ones come back afterwards.
class IsolatedLibxml
{
public:
    IsolatedLibxml()
        : m_loader(xmlGetExternalEntityLoader())
        , m_generic(xmlGenericError)
        , m_genericContext(xmlGenericErrorContext)
        , m_structured(xmlStructuredError)
        , m_structuredContext(xmlStructuredErrorContext)
    {
        xmlSetExternalEntityLoader(refuseExternalEntity);
        xmlSetGenericErrorFunc(nullptr, ignoreError);
        xmlSetStructuredErrorFunc(nullptr, ignoreStructuredError);
    }
    ~IsolatedLibxml()
    {
        xmlSetExternalEntityLoader(m_loader);
        xmlSetGenericErrorFunc(m_genericContext, m_generic);
        xmlSetStructuredErrorFunc(m_structuredContext, m_structured);
    }
    Q_DISABLE_COPY_MOVE(IsolatedLibxml)

private:
    xmlExternalEntityLoader m_loader;
    xmlGenericErrorFunc m_generic;
    void *m_genericContext;
    xmlStructuredErrorFunc m_structured;
    void *m_structuredContext;
};

void appendText(const xmlNode *node, QByteArray *out)
{
    for (const xmlNode *child = node->children; child; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            if (child->content)
                out->append(reinterpret_cast<const char *>(child->content));
        } else if (child->type == XML_ELEMENT_NODE) {
            appendText(child, out);
        }
        // A reference left unexpanded (an external entity) adds nothing.
    }
}

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// UTF-8 of the characters XML can carry; the rest would make the file unreadable.
QByteArray xmlText(const QString &text)
{
    QString kept;
    kept.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (isXmlChar(c))
            kept += QString::fromUcs4(&c, 1);
    }
    return kept.toUtf8();
}

// A comment ends at the first "--", so none may be written.
QByteArray commentText(const QString &text)
{
    QByteArray comment = xmlText(text);
    while (comment.contains("--"))
        comment.replace("--", "- -");
    if (comment.endsWith('-'))
        comment += ' ';
    return comment;
}

QString textOf(const xmlNode *node)
{
    QByteArray bytes;
    appendText(node, &bytes);
    return QString::fromUtf8(bytes);
}

QList<xmlNode *> select(xmlXPathContext *context, xmlNode *from, const char *path)
{
    QList<xmlNode *> nodes;
    context->node = from;
    std::unique_ptr<xmlXPathObject, ObjectFree> result(xmlXPathEvalExpression(xml(path), context));
    if (!result || result->type != XPATH_NODESET || !result->nodesetval)
        return nodes;
    for (int i = 0; i < result->nodesetval->nodeNr; ++i)
        nodes.append(result->nodesetval->nodeTab[i]);
    return nodes;
}

// The text of the last node the path selects; false when it selects none.
bool lastText(xmlXPathContext *context, xmlNode *from, const char *path, QString *text)
{
    const QList<xmlNode *> nodes = select(context, from, path);
    if (nodes.isEmpty())
        return false;
    *text = textOf(nodes.last());
    return true;
}

void addText(xmlNode *parent, const char *name, const QString &text)
{
    // xmlNewTextChild escapes the text.
    xmlNewTextChild(parent, nullptr, xml(name), xml(xmlText(text).constData()));
}

} // namespace

qint32 leadingInt32(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9');
         ++i) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            break;
    }
    value = negative ? -value : value;
    return qint32(qBound(qint64(std::numeric_limits<qint32>::min()), value,
                         qint64(std::numeric_limits<qint32>::max())));
}

QByteArray writeUsagesLog(const UsagesLogState &state, const QTimeZone &zone)
{
    Iso8601DateFormatter formatter;
    formatter.setIncludeTime(true);
    formatter.setTimeZone(zone);

    const IsolatedLibxml isolated;
    std::unique_ptr<xmlDoc, DocFree> doc(xmlNewDoc(xml("1.0")));
    const QByteArray comment = commentText(
        QStringLiteral("%1 %2 Usages Reporting File").arg(state.productName, state.version));
    xmlAddChild(reinterpret_cast<xmlNode *>(doc.get()),
                xmlNewDocComment(doc.get(), xml(comment.constData())));
    xmlNode *root = xmlNewDocNode(doc.get(), nullptr, xml("usagesreporting"), nullptr);
    xmlAddChild(reinterpret_cast<xmlNode *>(doc.get()), root);
    xmlNewNs(root, xml("http://www.w3.org/2001/XMLSchema-instance"), xml("xsi"));
    xmlNewNs(root, xml("http://www.w3.org/2001/XMLSchema"), xml("xsd"));

    const auto boolText = [](bool value) {
        return value ? QStringLiteral("true") : QStringLiteral("false");
    };
    addText(root, "productname", state.productName);
    addText(root, "productversion", state.version);
    addText(root, "builddate", formatter.toString(state.buildDate));
    addText(root, "hardwareUUID", state.machineId);
    addText(root, "enabled", boolText(state.reportingEnabled));
    addText(root, "lastreportsenton", formatter.toString(state.lastReportSent));
    addText(root, "lastReviewAskDate", formatter.toString(state.lastReviewPrompt));
    addText(root, "neverAskForReview", boolText(state.neverAskForReview));
    addText(root, "nextReviewTargetValue", QString::number(state.nextReviewTarget));
    xmlNode *features = xmlNewChild(root, nullptr, xml("features"), nullptr);
    for (const FeatureUsage &feature : state.features) {
        xmlNode *entry = xmlNewChild(features, nullptr, xml("featureusages"), nullptr);
        addText(entry, "name", feature.name);
        addText(entry, "usagescount", QString::number(feature.usagesCount));
        addText(entry, "filescount", QString::number(feature.filesCount));
    }

    xmlChar *buffer = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc.get(), &buffer, &size, "utf-8", 0);
    const QByteArray text(reinterpret_cast<const char *>(buffer), size);
    xmlFree(buffer);
    return text;
}

void readUsagesLog(const QByteArray &bytes, UsagesLogState *state, const QTimeZone &zone)
{
    Iso8601DateFormatter formatter;
    formatter.setIncludeTime(true);
    formatter.setTimeZone(zone);

    if (bytes.size() > std::numeric_limits<int>::max())
        return;
    const IsolatedLibxml isolated;
    // NOENT expands internal entities; the loader refuses every external one,
    // and libxml2 stops entities that expand out of proportion.
    const int options = XML_PARSE_RECOVER | XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR |
                        XML_PARSE_NOWARNING;
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(bytes.constData(), int(bytes.size()), nullptr, nullptr, options));
    if (!doc)
        return;
    std::unique_ptr<xmlXPathContext, ContextFree> context(xmlXPathNewContext(doc.get()));
    if (!context)
        return;
    xmlNode *top = reinterpret_cast<xmlNode *>(doc.get());

    QString text;
    if (lastText(context.get(), top, "usagesreporting/productname", &text))
        state->productName = text;
    if (lastText(context.get(), top, "usagesreporting/productversion", &text))
        state->version = text;
    if (lastText(context.get(), top, "usagesreporting/builddate", &text))
        state->buildDate = formatter.parse(text);
    if (lastText(context.get(), top, "usagesreporting/enabled", &text) && text == u"true")
        state->reportingEnabled = true;
    if (lastText(context.get(), top, "usagesreporting/lastreportsenton", &text))
        state->lastReportSent = formatter.parse(text);
    if (lastText(context.get(), top, "usagesreporting/lastReviewAskDate", &text))
        state->lastReviewPrompt = formatter.parse(text);
    if (lastText(context.get(), top, "usagesreporting/neverAskForReview", &text) && text == u"true")
        state->neverAskForReview = true;
    if (lastText(context.get(), top, "usagesreporting/nextReviewTargetValue", &text))
        state->nextReviewTarget = leadingInt32(text);

    const QList<xmlNode *> entries =
        select(context.get(), top, "usagesreporting/features/featureusages");
    for (xmlNode *entry : entries) {
        FeatureUsage feature;
        if (lastText(context.get(), entry, "name", &text))
            feature.name = text;
        if (lastText(context.get(), entry, "usagescount", &text))
            feature.usagesCount = leadingInt32(text);
        if (lastText(context.get(), entry, "filescount", &text))
            feature.filesCount = leadingInt32(text);
        state->features.append(feature);
    }
}

} // namespace tallivo
