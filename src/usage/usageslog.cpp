#include "usageslog.h"

#include "iso8601dateformatter.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
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

void appendText(const xmlNode *node, QByteArray *out)
{
    for (const xmlNode *child = node->children; child; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            if (child->content)
                out->append(reinterpret_cast<const char *>(child->content));
        } else if (child->type == XML_ELEMENT_NODE) {
            appendText(child, out);
        }
        // Entity references are skipped: their content is never expanded.
    }
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
    xmlNewTextChild(parent, nullptr, xml(name), xml(text.toUtf8().constData()));
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
    ISO8601DateFormatter formatter;
    formatter.setIncludeTime(true);
    formatter.setDefaultTimeZone(zone);

    std::unique_ptr<xmlDoc, DocFree> doc(xmlNewDoc(xml("1.0")));
    const QByteArray comment = QStringLiteral("%1 %2 Usages Reporting File")
                                   .arg(state.productName, state.version)
                                   .toUtf8();
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
    addText(root, "builddate", formatter.stringFromDate(state.buildDate));
    addText(root, "hardwareUUID", state.hardwareUUID);
    addText(root, "enabled", boolText(state.isEnabled));
    addText(root, "lastreportsenton", formatter.stringFromDate(state.lastReportSentOn));
    addText(root, "lastReviewAskDate", formatter.stringFromDate(state.lastReviewAskDate));
    addText(root, "neverAskForReview", boolText(state.neverAskForReview));
    addText(root, "nextReviewTargetValue", QString::number(state.nextReviewTargetValue));
    xmlNode *features = xmlNewChild(root, nullptr, xml("features"), nullptr);
    for (const FeatureUsages &feature : state.features) {
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
    ISO8601DateFormatter formatter;
    formatter.setIncludeTime(true);
    formatter.setDefaultTimeZone(zone);

    const xmlExternalEntityLoader previousLoader = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(refuseExternalEntity);
    const int options =
        XML_PARSE_RECOVER | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(bytes.constData(), int(bytes.size()), nullptr, nullptr, options));
    xmlSetExternalEntityLoader(previousLoader);
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
        state->buildDate = formatter.dateFromString(text);
    if (lastText(context.get(), top, "usagesreporting/enabled", &text) && text == u"true")
        state->isEnabled = true;
    if (lastText(context.get(), top, "usagesreporting/lastreportsenton", &text))
        state->lastReportSentOn = formatter.dateFromString(text);
    if (lastText(context.get(), top, "usagesreporting/lastReviewAskDate", &text))
        state->lastReviewAskDate = formatter.dateFromString(text);
    if (lastText(context.get(), top, "usagesreporting/neverAskForReview", &text) && text == u"true")
        state->neverAskForReview = true;
    if (lastText(context.get(), top, "usagesreporting/nextReviewTargetValue", &text))
        state->nextReviewTargetValue = leadingInt32(text);

    const QList<xmlNode *> entries =
        select(context.get(), top, "usagesreporting/features/featureusages");
    for (xmlNode *entry : entries) {
        FeatureUsages feature;
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
