#include "KRXMLDocument.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRXMLDocumentPrivate.h>
#include <core/KRXMLMemory.h>
#include <platform/foundation/KRAssert.h>

#include <QFile>
#include <QSet>

#include <libxml/SAX2.h>
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// The parser's own limits (10 MB of text in a node or ahead of it, "Huge input lookup") are
// lifted: a project saved here is read back up to MaximumFileSize, which parseDocument checks
// before any parsing. That also lifts its guard against entities that expand to gigabytes:
// parseDocument refuses every entity declaration instead. Entities are never substituted by
// the parser (no XML_PARSE_NOENT), no DTD is loaded (no XML_PARSE_DTDLOAD) and no network is
// used.
// The text is always handed over as UTF-8 (see asUTF8): the declaration's encoding is not
// the parser's to follow.
constexpr int parseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES
    | XML_PARSE_HUGE | XML_PARSE_IGNORE_ENC;

const xmlChar *xc(const QByteArray &bytes)
{
    return reinterpret_cast<const xmlChar *>(bytes.constData());
}

struct FirstError
{
    int code = 0;
    int line = 0;
    QString message;
    bool declaresEntity = false; // the parse was stopped at an entity declaration
    int tooDeep = 0;             // the parse was stopped at an element this deep (its name in message)
};

bool refuseTooDeep(xmlParserCtxtPtr ctxt, const xmlChar *localname, const xmlChar *prefix);

// The parser's element start, except that an element of many attributes is given them a block
// at a time: the library adds each attribute by walking every one the element has already,
// which would make an element's attributes cost time with the square of their number. Each
// block after the first is made on a stand-in element below it, then moved over.
void startElementInBlocks(xmlParserCtxtPtr ctxt, const xmlChar *localname, const xmlChar *prefix, const xmlChar *URI,
                          int namespaceCount, const xmlChar **namespaces, int attributeCount, int defaultedCount,
                          const xmlChar **attributes)
{
    constexpr int block = 32;
    if (attributeCount <= block) {
        xmlSAX2StartElementNs(ctxt, localname, prefix, URI, namespaceCount, namespaces, attributeCount,
                              defaultedCount, attributes);
        return;
    }
    // Defaulted attributes (the last ones) are left out: no document read here declares any.
    attributeCount -= defaultedCount;
    xmlNodePtr parent = ctxt->node;
    xmlSAX2StartElementNs(ctxt, localname, prefix, URI, namespaceCount, namespaces, std::min(block, attributeCount), 0,
                          attributes);
    xmlNodePtr element = ctxt->node;
    if (!element || element == parent || element->type != XML_ELEMENT_NODE)
        return; // not made (out of memory): the parser has stopped
    xmlAttrPtr last = element->properties;
    while (last && last->next)
        last = last->next;
    for (int from = block; from < attributeCount; from += block) {
        const int count = std::min(block, attributeCount - from);
        xmlSAX2StartElementNs(ctxt, localname, prefix, URI, 0, nullptr, count, 0, attributes + 5 * from);
        xmlNodePtr standIn = ctxt->node;
        if (!standIn || standIn == element)
            return; // not made (out of memory): the parser has stopped
        for (xmlAttrPtr attribute = standIn->properties; attribute; attribute = attribute->next) {
            attribute->parent = element;
            if (last) {
                last->next = attribute;
                attribute->prev = last;
            } else {
                element->properties = attribute;
            }
            last = attribute;
        }
        standIn->properties = nullptr;
        nodePop(ctxt);
        xmlUnlinkNode(standIn);
        xmlFreeNode(standIn);
    }
}

// What a parse that lists empty attributes keeps (ctxt->_private points to its FirstError).
struct ListingParse : FirstError
{
    const KRXMLDocument::EmptyAttributeNames *listed = nullptr;
    std::vector<KRXMLDocumentPrivate::PendingAttributes *> lists; // each element's, made here
};

// The parser's element start, except that the element's trailing empty attributes among the
// names given for it are listed on the element (as addEmptyAttribute lists them), not made.
void startElementListingEmpty(void *ctx, const xmlChar *localname, const xmlChar *prefix, const xmlChar *URI,
                              int namespaceCount, const xmlChar **namespaces, int attributeCount,
                              int defaultedCount, const xmlChar **attributes)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (refuseTooDeep(ctxt, localname, prefix))
        return;
    auto *parse = static_cast<ListingParse *>(static_cast<FirstError *>(ctxt->_private));
    int kept = attributeCount;
    xmlDictPtr dict = ctxt->myDoc ? ctxt->myDoc->dict : nullptr;
    if (!prefix && defaultedCount == 0 && attributeCount > 0 && dict) {
        if (const std::vector<QByteArray> *names = (*parse->listed)(reinterpret_cast<const char *>(localname))) {
            // Five pointers an attribute: local name, prefix, URI, value, end of the value.
            for (; kept > 0; --kept) {
                const xmlChar **attr = attributes + 5 * (kept - 1);
                if (attr[1] || attr[3] != attr[4])
                    break; // a prefixed or non-empty attribute ends the run
                const QByteArrayView name(reinterpret_cast<const char *>(attr[0]));
                if (std::find(names->begin(), names->end(), name) == names->end())
                    break;
            }
        }
    }
    xmlNodePtr parent = ctxt->node;
    startElementInBlocks(ctxt, localname, prefix, URI, namespaceCount, namespaces, kept, defaultedCount, attributes);
    if (kept == attributeCount)
        return;
    // Out of memory: the parse ends, as failed (a stopped parser alone reads as well-formed).
    const auto fail = [ctxt, parse] {
        if (!parse->code) {
            parse->code = XML_ERR_NO_MEMORY;
            parse->line = xmlSAX2GetLineNumber(ctxt);
            parse->message = QStringLiteral("out of memory");
        }
        xmlStopParser(ctxt);
        ctxt->wellFormed = 0;
    };
    xmlNodePtr element = ctxt->node;
    if (!element || element == parent || element->type != XML_ELEMENT_NODE || element->content) {
        fail(); // the element was not made
        return;
    }
    auto *pending = new KRXMLDocumentPrivate::PendingAttributes;
    parse->lists.push_back(pending);
    pending->names.reserve(size_t(attributeCount - kept));
    for (int i = kept; i < attributeCount; ++i) {
        const xmlChar *interned = xmlDictLookup(dict, attributes[5 * i], -1);
        if (!interned) {
            fail();
            break;
        }
        pending->names.push_back(interned);
    }
    element->content = reinterpret_cast<xmlChar *>(pending);
}

// Refuses an element nested deeper than KRXMLDocument::MaximumDepth: true when the parse was
// stopped. The parser itself walks the levels without recursion; every tree walk after it
// recurses once a level.
bool refuseTooDeep(xmlParserCtxtPtr ctxt, const xmlChar *localname, const xmlChar *prefix)
{
    // The parser pushes an element's name after its start was reported: nameNr counts the
    // elements it is in.
    const int depth = ctxt->nameNr + 1;
    if (depth <= KRXMLDocument::MaximumDepth)
        return false;
    auto *first = static_cast<FirstError *>(ctxt->_private);
    if (first && !first->code) {
        first->code = XML_ERR_INTERNAL_ERROR;
        first->line = xmlSAX2GetLineNumber(ctxt);
        QByteArray name(reinterpret_cast<const char *>(localname));
        if (prefix)
            name = QByteArray(reinterpret_cast<const char *>(prefix)) + ':' + name;
        first->message = QString::fromUtf8(name.left(240));
        first->tooDeep = depth;
    }
    xmlStopParser(ctxt);
    ctxt->wellFormed = 0;
    return true;
}

void startElementWithinDepth(void *ctx, const xmlChar *localname, const xmlChar *prefix, const xmlChar *URI,
                             int namespaceCount, const xmlChar **namespaces, int attributeCount, int defaultedCount,
                             const xmlChar **attributes)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (!refuseTooDeep(ctxt, localname, prefix))
        startElementInBlocks(ctxt, localname, prefix, URI, namespaceCount, namespaces, attributeCount, defaultedCount,
                             attributes);
}

// The parser goes on after an error and reports follow-up errors: the first one is the cause.
void recordFirstError(void *userData, xmlErrorPtr error)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(userData);
    auto *first = static_cast<FirstError *>(ctxt ? ctxt->_private : nullptr);
    if (!first || !error || error->level < XML_ERR_ERROR || first->code)
        return;
    first->code = error->code ? error->code : XML_ERR_INTERNAL_ERROR;
    first->line = error->line;
    first->message = error->message ? QString::fromUtf8(error->message).trimmed() : QString();
    if (first->message.endsWith(QLatin1Char('.')))
        first->message.chop(1);
}

// A document that declares entities is refused as soon as the parser meets the first
// declaration: a few declarations referring to each other stand for gigabytes of text (the
// parser's own guard against that is off for the large files read here), and no file this
// application reads needs one. Nothing a declaration stands for is ever expanded.
void refuseDeclaration(void *ctx, const xmlChar *name)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto *first = static_cast<FirstError *>(ctxt ? ctxt->_private : nullptr);
    if (!first)
        return;
    if (!first->code) {
        first->code = XML_ERR_ENTITY_LOOP;
        first->line = xmlSAX2GetLineNumber(ctxt);
        const QByteArrayView text(reinterpret_cast<const char *>(name));
        first->message = QString::fromUtf8(text.first(std::min<qsizetype>(text.size(), 240)));
        first->declaresEntity = true;
    }
    xmlStopParser(ctxt);
    ctxt->wellFormed = 0;
}

void refuseEntityDeclaration(void *ctx, const xmlChar *name, int, const xmlChar *, const xmlChar *, xmlChar *)
{
    refuseDeclaration(ctx, name);
}

void refuseUnparsedEntityDeclaration(void *ctx, const xmlChar *name, const xmlChar *, const xmlChar *, const xmlChar *)
{
    refuseDeclaration(ctx, name);
}

// A name from the text as an error gives it: shown in full only when it is short.
QString shownName(const QString &name)
{
    return name.size() > 60 ? name.left(59) + QChar(0x2026) : name;
}

QString shownName(std::string_view name)
{
    return shownName(QString::fromUtf8(name.data(), qsizetype(std::min<std::size_t>(name.size(), 240))));
}

// The error of text refused for its shape (not for its syntax): the line, the reason, and what
// the caller may look at (the bound passed, ...).
KRError refusal(int code, int line, const QString &reason, QVariantMap info = {})
{
    info.insert(QStringLiteral("line"), line);
    info.insert(QStringLiteral("reason"), reason);
    info.insert(QStringLiteral("refused"), true);
    // What no one line holds (the size of the whole) names none.
    const QString where = line > 0 ? QStringLiteral("line %1: ").arg(line) : QString();
    return KRError(KRXMLDocument::errorDomain, code, QStringLiteral("The XML text is refused: %1%2.").arg(where, reason), info);
}

// Out of the way of the check below, which mostly finds a name without it.
// True when the name was not in the set yet.
[[gnu::noinline]] bool insertName(QSet<QByteArrayView> &names, std::string_view name)
{
    const qsizetype before = names.size();
    names.insert(QByteArrayView(name.data(), qsizetype(name.size())));
    return names.size() != before;
}

// Reads the markup the way the parser will, in one pass and before it, and refuses text past
// the bounds on names (see KRXMLDocument::MaximumAttributes) and text that declares attributes,
// whose defaults the parser would add to every element of that name and compare with each of
// its attributes. Comments, CDATA sections, processing instructions and the document type are
// passed over whole (quoted text and comments within the last included); in a start tag a
// quoted value may hold '>', and a '<' ends the tag wherever it stands, as it does for the
// parser. Each byte is looked at a bounded number of times, and each name hashed once.
// `markupInText` is set when a comment, CDATA section, processing instruction or the document
// type holds a '<': markup that the parser, having met an error in it, might read as tags.
// With `checkDepth`, an element nested deeper than MaximumDepth is refused too, as the parser
// refuses it (which it does itself as it reads).
//
// With `additions` (what the application adds to such a document when it writes it again),
// the bounds leave room for what it adds: an element's attributes are counted with those
// listed for it that it lacks, and the names with every name the application may write. Then
// `writtenAtMost` is set to the most bytes the document could take once written again (each
// character escaped, the listed attributes added, each element indented), for the caller to
// measure the document itself when that could pass MaximumFileSize.
std::optional<KRError> refusedShape(const QByteArray &bytes, bool *markupInText, bool checkDepth = false,
                                    const KRXMLDocument::Additions *additions = nullptr, qint64 *writtenAtMost = nullptr)
{
    const std::string_view text(bytes.constData(), std::size_t(bytes.size()));
    const std::size_t end = text.size();
    // Past the first `terminator` at or after `from`; the end when there is none.
    const auto past = [&text, end](std::size_t from, std::string_view terminator) {
        const std::size_t at = text.find(terminator, from);
        return at == std::string_view::npos ? end : at + terminator.size();
    };
    // What ends a name here: '=' and quotes too, so that a name never runs into a value. Looked
    // up in a table, as each byte of every name is.
    static constexpr auto kinds = [] {
        std::array<unsigned char, 256> table{};
        for (const unsigned char c : {' ', '\t', '\n', '\r'})
            table[c] = 3; // a space, which ends a name
        for (const unsigned char c : {'>', '/', '<', '=', '"', '\''})
            table[c] = 2;
        return table;
    }();
    const auto isSpace = [](char c) { return kinds[static_cast<unsigned char>(c)] == 3; };
    const auto endsName = [](char c) { return kinds[static_cast<unsigned char>(c)] != 0; };
    const auto lineAt = [&text](std::size_t at) {
        return 1 + int(std::count(text.begin(), text.begin() + std::ptrdiff_t(at), '\n'));
    };
    // Past the text that starts at `from` and ends with `terminator`, noting a '<' in it.
    const auto pastText = [&](std::size_t from, std::string_view terminator) {
        const std::size_t after = past(from, terminator);
        if (!*markupInText && text.substr(from, after - from).find('<') != std::string_view::npos)
            *markupInText = true;
        return after;
    };

    QSet<QByteArrayView> names;
    // With additions: the names of the text that the application does not write itself.
    const QSet<QByteArrayView> *written = additions ? additions->names.get() : nullptr;
    qsizetype foreignNames = 0;
    // In front of the set, the name met last under each of a few hundred cheap keys (its
    // length and two of its bytes): a tag mostly repeats names met a little before, found here
    // by one comparison instead of a hash. A name another one pushed out goes to the set again.
    struct Recent
    {
        const char *data = nullptr;
        std::size_t size = 0;
    };
    std::array<Recent, 512> recent{};
    const auto noteName = [&names, &recent, written, &foreignNames](std::string_view name) {
        const auto byte = [&name](std::size_t at) { return std::size_t(static_cast<unsigned char>(name[at])); };
        Recent &slot = recent[(name.size() * 37 + byte(name.size() - 1) * 7 + byte(name.size() / 2)) % recent.size()];
        if (slot.size == name.size()) {
            std::size_t same = 0;
            while (same < name.size() && slot.data[same] == name[same])
                ++same;
            if (same == name.size())
                return;
        }
        if (insertName(names, name) && written
            && !written->contains(QByteArrayView(name.data(), qsizetype(name.size()))))
            ++foreignNames;
        slot = {name.data(), name.size()};
    };
    // The names counted against MaximumNames: with additions, those of the text the
    // application does not write, and every one it writes.
    const auto nameCount = [&] { return written ? foreignNames + written->size() : names.size(); };
    // With additions, what the application writes for each element name met (null: nothing),
    // and how many bytes its attributes would take; the one met last in front.
    struct Listed
    {
        const std::vector<QByteArray> *attributes = nullptr;
        qint64 bytes = 0;
    };
    QHash<QByteArrayView, Listed> listedFor;
    QByteArrayView lastListedName;
    Listed lastListed;
    const auto listedOf = [&](std::string_view element) {
        const QByteArrayView name(element.data(), qsizetype(element.size()));
        if (name == lastListedName)
            return lastListed;
        auto found = listedFor.constFind(name);
        if (found == listedFor.constEnd()) {
            Listed listed;
            if (additions->emptyAttributes) {
                const QByteArray terminated = name.toByteArray();
                listed.attributes = additions->emptyAttributes(terminated.constData());
                if (listed.attributes) {
                    for (const QByteArray &attribute : *listed.attributes)
                        listed.bytes += attribute.isEmpty() ? 0 : attribute.size() + 4; // ` name=""`
                }
            }
            found = listedFor.insert(name, listed);
        }
        lastListedName = name;
        lastListed = *found;
        return lastListed;
    };
    qint64 grown = 0;                  // what writing could add, past escaping
    std::vector<std::string_view> own; // the attribute names of the tag read last
    // Each open element's name and id, for refusals to name where they are.
    struct Open
    {
        std::string_view name;
        std::string_view id;
    };
    std::vector<Open> openElements;
    std::vector<int> declared; // namespace declarations of each open element
    int inScope = 0;           // their sum
    std::size_t p = 0;
    while (p < end) {
        p = text.find('<', p);
        if (p == std::string_view::npos)
            break;
        const std::string_view rest = text.substr(p);
        if (rest.starts_with("<!--")) {
            p = pastText(p + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            p = pastText(p + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            p = pastText(p + 2, "?>");
        } else if (rest.starts_with("<!")) {
            // The document type: its internal subset in brackets, holding declarations whose
            // quoted text may hold '>', ']' and '<', comments and processing instructions.
            const std::size_t declaration = p + 2;
            int brackets = 0;
            for (p = declaration; p < end; ++p) {
                const char c = text[p];
                if (c == '"' || c == '\'') {
                    p = text.find(c, p + 1);
                    if (p == std::string_view::npos) {
                        *markupInText = true;
                        return std::nullopt; // the parser's error, at the end of the text
                    }
                } else if (c == '[') {
                    ++brackets;
                } else if (c == ']') {
                    --brackets;
                } else if (c == '>' && brackets <= 0) {
                    ++p;
                    break;
                } else if (c == '<' && brackets > 0) {
                    const std::string_view markup = text.substr(p);
                    if (markup.starts_with("<!--")) {
                        p = past(p + 4, "-->") - 1;
                    } else if (markup.starts_with("<?")) {
                        p = past(p + 2, "?>") - 1;
                    } else if (markup.starts_with("<!ATTLIST")) {
                        const std::size_t nameAt = text.find_first_not_of(" \t\r\n", p + 9);
                        std::size_t nameEnd = nameAt;
                        while (nameEnd < end && !endsName(text[nameEnd]))
                            ++nameEnd;
                        const QString element =
                            shownName(nameAt < end ? text.substr(nameAt, nameEnd - nameAt) : std::string_view());
                        return refusal(XML_ERR_INTERNAL_ERROR, lineAt(p),
                                       QStringLiteral("it declares attributes of the element \u201C%1\u201D, and "
                                                      "documents that declare attributes are not read")
                                           .arg(element),
                                       {{QStringLiteral("declaresAttributes"), true}});
                    }
                }
            }
            if (text.substr(declaration, std::min(p, end) - declaration).find('<') != std::string_view::npos)
                *markupInText = true;
        } else if (rest.starts_with("</")) {
            if (!declared.empty()) {
                inScope -= declared.back();
                declared.pop_back();
                openElements.pop_back();
            }
            p += 2;
        } else {
            // A start tag: its name, then its attributes up to '>' or "/>"; anything else ends
            // it where it stands, as a parse error does.
            const std::size_t tag = p++;
            const std::size_t nameStart = p;
            while (p < end && !endsName(text[p]))
                ++p;
            if (p == nameStart)
                continue; // a '<' of no tag: the parser's error
            const std::string_view element = text.substr(nameStart, p - nameStart);
            std::string_view id; // its id attribute's value, once read
            // Each refusal of an element names it, says what it passes, and gives the count;
            // it tells the element's id and those of the elements it is in ("id", "within":
            // maps of "name" and "id", the outermost first).
            const auto refusedElement = [&](const QString &what, const QString &key, int count) {
                const auto shownText = [](std::string_view value) { return shownName(value); };
                QVariantList within;
                for (const Open &outer : openElements) {
                    if (!outer.id.empty())
                        within.append(QVariantMap{{QStringLiteral("name"), shownText(outer.name)},
                                                  {QStringLiteral("id"), shownText(outer.id)}});
                }
                const QString owner = id.empty()
                    ? QStringLiteral("the element \u201C%1\u201D ").arg(shownName(element))
                    : QStringLiteral("the element \u201C%1\u201D with the id \u201C%2\u201D ").arg(shownName(element), shownName(id));
                return refusal(XML_ERR_INTERNAL_ERROR, lineAt(tag), owner + what,
                               {{key, count},
                                {QStringLiteral("element"), shownName(element)},
                                {QStringLiteral("id"), shownName(id)},
                                {QStringLiteral("within"), within}});
            };
            if (checkDepth && declared.size() >= std::size_t(KRXMLDocument::MaximumDepth)) {
                const int depth = int(declared.size()) + 1;
                return refusedElement(QStringLiteral("is nested %1 levels deep, and a document may nest elements at "
                                                     "most %2 levels deep")
                                          .arg(depth)
                                          .arg(KRXMLDocument::MaximumDepth),
                                      QStringLiteral("depth"), depth);
            }
            noteName(element);
            const Listed listed = additions ? listedOf(element) : Listed();
            // Written again, the element may be indented on a line of its own.
            grown += listed.bytes + 2 * qint64(declared.size()) + 1;
            own.clear();
            int attributes = 0;
            int namespaces = 0;
            bool open = false;
            while (p < end) {
                while (p < end && isSpace(text[p]))
                    ++p;
                if (p >= end || text[p] == '<')
                    break;
                if (text[p] == '>') {
                    open = true;
                    ++p;
                    break;
                }
                if (text[p] == '/') {
                    p += (p + 1 < end && text[p + 1] == '>') ? 2 : 0;
                    break;
                }
                const std::size_t attributeStart = p;
                while (p < end && !endsName(text[p]))
                    ++p;
                const std::string_view attribute = text.substr(attributeStart, p - attributeStart);
                while (p < end && isSpace(text[p]))
                    ++p;
                if (attribute.empty() || p >= end || text[p] != '=')
                    break;
                ++p;
                while (p < end && isSpace(text[p]))
                    ++p;
                if (p >= end || (text[p] != '"' && text[p] != '\''))
                    break;
                // The closing quote, unless a '<' comes first: most values are short, and
                // looked at byte by byte; a long one by two searches of whole words at a time.
                const char quote = text[p];
                std::size_t closing = p + 1;
                const std::size_t near = std::min(end, p + 1 + 32);
                while (closing < near && text[closing] != quote && text[closing] != '<')
                    ++closing;
                if (closing == near) {
                    closing = text.find(quote, near);
                    const std::size_t lessThan =
                        text.substr(near, closing == std::string_view::npos ? end : closing - near).find('<');
                    if (lessThan != std::string_view::npos)
                        closing = near + lessThan;
                }
                if (closing == std::string_view::npos || text[closing] == '<') {
                    p = closing == std::string_view::npos ? end : closing;
                    break;
                }
                if (attribute == "id")
                    id = text.substr(p + 1, closing - p - 1);
                p = closing + 1;
                ++attributes;
                if (attribute.starts_with("xmlns") && (attribute.size() == 5 || attribute[5] == ':'))
                    ++namespaces;
                else
                    noteName(attribute);
                if (listed.attributes)
                    own.push_back(attribute);
            }
            // Written again, the element also carries the listed attributes it lacks.
            int writtenAttributes = attributes;
            if (listed.attributes && attributes + qsizetype(listed.attributes->size()) > KRXMLDocument::MaximumAttributes) {
                QSet<QByteArrayView> carried;
                for (const std::string_view name : own)
                    carried.insert(QByteArrayView(name.data(), qsizetype(name.size())));
                for (const QByteArray &name : *listed.attributes)
                    writtenAttributes += name.isEmpty() || carried.contains(name) ? 0 : 1;
            }
            if (attributes > KRXMLDocument::MaximumAttributes)
                return refusedElement(QStringLiteral("carries %1 attributes, and an element may carry at most %2")
                                          .arg(attributes)
                                          .arg(KRXMLDocument::MaximumAttributes),
                                      QStringLiteral("attributes"), attributes);
            if (writtenAttributes > KRXMLDocument::MaximumAttributes)
                return refusedElement(QStringLiteral("carries %1 attributes, %2 with those written for it, and an "
                                                     "element may carry at most %3")
                                          .arg(attributes)
                                          .arg(writtenAttributes)
                                          .arg(KRXMLDocument::MaximumAttributes),
                                      QStringLiteral("attributes"), writtenAttributes);
            if (inScope + namespaces > KRXMLDocument::MaximumNamespaces)
                return refusedElement(QStringLiteral("has %1 namespace declarations in scope, and an element may "
                                                     "have at most %2")
                                          .arg(inScope + namespaces)
                                          .arg(KRXMLDocument::MaximumNamespaces),
                                      QStringLiteral("namespaces"), inScope + namespaces);
            if (nameCount() > KRXMLDocument::MaximumNames) {
                const QString past = written
                    ? QStringLiteral("takes the names of elements and attributes past %1 different ones with the %2 "
                                     "written into every such document, the most a document may use")
                          .arg(KRXMLDocument::MaximumNames)
                          .arg(written->size())
                    : QStringLiteral("takes the names of elements and attributes past %1 different ones, the most a "
                                     "document may use")
                          .arg(KRXMLDocument::MaximumNames);
                return refusedElement(past, QStringLiteral("names"), int(nameCount()));
            }
            if (open) {
                declared.push_back(namespaces);
                openElements.push_back({element, id});
                inScope += namespaces;
            }
        }
    }
    if (writtenAtMost) {
        // An escape takes at most six bytes for each one it stands for ("&quot;" for '"').
        *writtenAtMost = qint64(text.size()) * 6 + grown;
    }
    return std::nullopt;
}

// The text, handed to the parser a block at a time, and no more of it once the parser has met
// an error that makes it not well-formed: the parser reads on past such an error (reporting
// nothing more), and from a place the shape check above may have read otherwise (a comment is
// left at a character the parser refuses, and a tag in it read as markup).
struct Feed
{
    const QByteArray &bytes;
    xmlParserCtxtPtr ctxt;
    qsizetype offset = 0;
};

int feedUntilMalformed(void *context, char *buffer, int length)
{
    auto *feed = static_cast<Feed *>(context);
    if (!feed->ctxt->wellFormed || length <= 0)
        return 0;
    const qsizetype count = std::min<qsizetype>(length, feed->bytes.size() - feed->offset);
    std::memcpy(buffer, feed->bytes.constData() + feed->offset, std::size_t(count));
    feed->offset += count;
    return int(count);
}

// The name the XML declaration at the start of ASCII-compatible text gives its encoding;
// empty when it gives none.
QByteArray declaredEncoding(const QByteArray &bytes)
{
    const qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    if (!QByteArrayView(bytes).sliced(start).startsWith("<?xml"))
        return {};
    // The declaration ends at the first "?>"; no more than a few hundred bytes are looked at.
    const QByteArrayView head = QByteArrayView(bytes).sliced(start, std::min<qsizetype>(bytes.size() - start, 512));
    const qsizetype end = head.indexOf("?>");
    const QByteArrayView declaration = head.first(end < 0 ? head.size() : end);
    const qsizetype at = declaration.indexOf("encoding");
    if (at < 0)
        return {};
    qsizetype p = at + 8;
    const auto skipSpace = [&] {
        while (p < declaration.size() && (declaration[p] == ' ' || declaration[p] == '\t' || declaration[p] == '\n'
                                          || declaration[p] == '\r'))
            ++p;
    };
    skipSpace();
    if (p >= declaration.size() || declaration[p] != '=')
        return {};
    ++p;
    skipSpace();
    if (p >= declaration.size() || (declaration[p] != '"' && declaration[p] != '\''))
        return {};
    const qsizetype close = declaration.indexOf(declaration[p], p + 1);
    return close < 0 ? QByteArray() : declaration.sliced(p + 1, close - p - 1).toByteArray();
}

// The first few hundred bytes of EBCDIC text, with the characters an XML declaration is
// written in (letters, digits, white space and the declaration's punctuation), which every
// EBCDIC code page places alike, as ASCII; any other byte becomes a control character that no
// declaration holds. Which code page the rest is in only the declaration says.
QByteArray ebcdicHeadAsASCII(const QByteArray &bytes)
{
    static const std::array<char, 256> ascii = [] {
        std::array<char, 256> table{};
        table.fill('\x01');
        const auto run = [&table](std::size_t first, std::string_view characters) {
            for (const char c : characters)
                table[first++] = c;
        };
        run(0x81, "abcdefghi");
        run(0x91, "jklmnopqr");
        run(0xA2, "stuvwxyz");
        run(0xC1, "ABCDEFGHI");
        run(0xD1, "JKLMNOPQR");
        run(0xE2, "STUVWXYZ");
        run(0xF0, "0123456789");
        table[0x40] = ' ';
        table[0x05] = '\t';
        table[0x0D] = '\r';
        table[0x25] = '\n';
        table[0x4B] = '.';
        table[0x4C] = '<';
        table[0x60] = '-';
        table[0x6D] = '_';
        table[0x6E] = '>';
        table[0x6F] = '?';
        table[0x7A] = ':';
        table[0x7D] = '\'';
        table[0x7E] = '=';
        table[0x7F] = '"';
        return table;
    }();
    QByteArray head = bytes.first(std::min<qsizetype>(bytes.size(), 512));
    for (char &c : head)
        c = ascii[static_cast<unsigned char>(c)];
    return head;
}

// How the text is to be read, from its byte-order mark, else the place of the zero bytes
// around its first character ('<' or white space), else its XML declaration (read in EBCDIC
// when its first bytes are "<?xm" in EBCDIC; one that names no code page is read in the
// library's EBCDIC). `name` is the encoding's, empty for UTF-8 (the text is then read as it
// is); `unit` is 2 for UTF-16 and 4 for UCS-4, whose UTF-8 length is counted before anything
// is converted; `refusal`, when not empty, says why the text is not read at all.
struct SourceEncoding
{
    QByteArray name;
    int unit = 0;
    bool bigEndian = false;
    bool ebcdic = false;
    QString refusal;
};

SourceEncoding sourceEncoding(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {}; // the mark says UTF-8, whatever the declaration says
    const auto wide = [](const char *name, int unit, bool bigEndian) {
        SourceEncoding encoding;
        encoding.name = name;
        encoding.unit = unit;
        encoding.bigEndian = bigEndian;
        return encoding;
    };
    const auto unusualOrder = [](const char *order) {
        SourceEncoding encoding;
        encoding.refusal = QStringLiteral("it is in UCS-4 with its bytes in the unusual order %1, which is not read")
                               .arg(QLatin1String(order));
        return encoding;
    };
    const QByteArrayView head = QByteArrayView(bytes).first(std::min<qsizetype>(bytes.size(), 4));
    // UCS-4's marks before UTF-16's, which they begin with (U+0000 is no character of XML text).
    if (head == QByteArrayView("\x00\x00\xFE\xFF", 4))
        return wide("UCS-4BE", 4, true);
    if (head == QByteArrayView("\xFF\xFE\x00\x00", 4))
        return wide("UCS-4LE", 4, false);
    if (head == QByteArrayView("\x00\x00\xFF\xFE", 4))
        return unusualOrder("2143");
    if (head == QByteArrayView("\xFE\xFF\x00\x00", 4))
        return unusualOrder("3412");
    if (head.startsWith("\xFE\xFF"))
        return wide("UTF-16BE", 2, true);
    if (head.startsWith("\xFF\xFE"))
        return wide("UTF-16LE", 2, false);
    if (head.size() == 4) {
        // Without a mark: text starts with '<' or white space, in ASCII, and in UTF-16 or UCS-4
        // that character's zero bytes say which, and in which order.
        const auto starts = [](char c) { return c == '<' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
        const char b0 = head[0], b1 = head[1], b2 = head[2], b3 = head[3];
        if (starts(b0) && !b1 && !b2 && !b3)
            return wide("UCS-4LE", 4, false);
        if (!b0 && !b1 && !b2 && starts(b3))
            return wide("UCS-4BE", 4, true);
        if (!b0 && !b1 && starts(b2) && !b3)
            return unusualOrder("2143");
        if (!b0 && starts(b1) && !b2 && !b3)
            return unusualOrder("3412");
        if (starts(b0) && !b1 && b2 && !b3)
            return wide("UTF-16LE", 2, false);
        if (!b0 && starts(b1) && !b2 && b3)
            return wide("UTF-16BE", 2, true);
        if (head == QByteArrayView("\x4C\x6F\xA7\x94", 4)) {
            SourceEncoding ebcdic;
            ebcdic.name = declaredEncoding(ebcdicHeadAsASCII(bytes));
            ebcdic.ebcdic = true;
            // Naming none, it is read in the library's own EBCDIC, as the parser reads it.
            if (ebcdic.name.isEmpty()) {
                if (xmlCharEncodingHandlerPtr handler = xmlGetCharEncodingHandler(XML_CHAR_ENCODING_EBCDIC)) {
                    ebcdic.name = handler->name;
                    xmlCharEncCloseFunc(handler);
                }
            }
            if (ebcdic.name.isEmpty()) {
                ebcdic.refusal = QStringLiteral("it is in EBCDIC, and its XML declaration names no code page (such "
                                                "as IBM037, IBM500 or IBM1047) to read it in");
            }
            return ebcdic;
        }
    }
    const QByteArray name = declaredEncoding(bytes);
    const QByteArray upper = name.toUpper();
    // A text labelled UTF-16 without a mark nor its first character in UTF-16 is UTF-8 to the parser.
    if (upper == "UTF-8" || upper == "UTF8" || upper == "UTF-16" || upper == "UTF16")
        return {};
    SourceEncoding declared;
    declared.name = name;
    return declared;
}

// The length of the UTF-8 form of UTF-16 (Unit 2) or UCS-4 (Unit 4) text, counted from its
// code units: each half of a surrogate pair counts two of the pair's four bytes.
template <int Unit, bool BigEndian>
qint64 utf8LengthOfUnits(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype count = bytes.size() / Unit;
    qint64 length = 0;
    for (qsizetype i = 0; i < count; ++i, p += Unit) {
        char32_t c = 0;
        for (int b = 0; b < Unit; ++b)
            c = c << 8 | p[BigEndian ? b : Unit - 1 - b];
        length += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0xD800 ? 3 : c < 0xE000 ? 2 : c < 0x10000 ? 3 : 4;
    }
    return length;
}

qint64 utf8Length(const QByteArray &bytes, int unit, bool bigEndian)
{
    if (unit == 2)
        return bigEndian ? utf8LengthOfUnits<2, true>(bytes) : utf8LengthOfUnits<2, false>(bytes);
    return bigEndian ? utf8LengthOfUnits<4, true>(bytes) : utf8LengthOfUnits<4, false>(bytes);
}

// The error of text longer than a document may be: `size` is the text's length (negative when
// not known), `encoding` the encoding it came in when that is not UTF-8, its UTF-8 form being
// what the bound is on.
KRError tooLongError(qint64 size = -1, const QByteArray &encoding = {})
{
    const QString limit = KRXMLDocument::sizeText(KRXMLDocument::MaximumFileSize);
    QString reason;
    if (!encoding.isEmpty()) {
        reason = QStringLiteral("the text is %1 in %2, and longer than %3 as UTF-8, more than a document may be")
                     .arg(KRXMLDocument::sizeText(size), shownName(std::string_view(encoding.constData(),
                                                                                     std::size_t(encoding.size()))),
                          limit);
    } else if (size >= 0) {
        reason = QStringLiteral("the text is %1, longer than %2, more than a document may be")
                     .arg(KRXMLDocument::sizeText(size), limit);
    } else {
        reason = QStringLiteral("the text is longer than %1, more than a document may be").arg(limit);
    }
    QVariantMap info{{QStringLiteral("reason"), reason}, {QStringLiteral("refused"), true}};
    if (size >= 0)
        info.insert(QStringLiteral("size"), size);
    if (!encoding.isEmpty())
        info.insert(QStringLiteral("encoding"), QString::fromLatin1(encoding));
    return KRError(KRXMLDocument::errorDomain, XML_IO_EFBIG, QStringLiteral("The XML text is refused: %1.").arg(reason),
                   info);
}

// The text as UTF-8, which is how the parser is then made to read it (its own encoding hints
// ignored), so that what the shape check reads is what the parser reads whatever encoding the
// text came in (see sourceEncoding). Text already in UTF-8 is handed back as it is, without a
// copy. An encoding the library cannot read is refused, as the parser refuses it, and so is
// text whose UTF-8 form would be longer than a document may be: UTF-16 and UCS-4 before any of
// it is converted, other encodings as soon as what is converted passes the bound.
KRResult<QByteArray> asUTF8(const QByteArray &bytes)
{
    const SourceEncoding encoding = sourceEncoding(bytes);
    const QByteArray &name = encoding.name;
    // `why` names the encoding where it has "%1".
    const auto unreadable = [&name](int line, const QString &why) {
        const QString message = why.contains(QLatin1String("%1"))
            ? why.arg(shownName(std::string_view(name.constData(), std::size_t(name.size()))))
            : why;
        return KRError(KRXMLDocument::errorDomain, XML_ERR_UNSUPPORTED_ENCODING,
                       QStringLiteral("The XML text is not well-formed: line %1: %2.").arg(line).arg(message),
                       {{QStringLiteral("line"), line}, {QStringLiteral("reason"), message}});
    };
    if (!encoding.refusal.isEmpty())
        return unreadable(1, encoding.refusal);
    if (name.isEmpty())
        return bytes;
    const auto notEBCDIC = [&unreadable] {
        return unreadable(1, QStringLiteral("it is in EBCDIC, and the encoding \u201C%1\u201D its declaration names "
                                            "is no EBCDIC code page"));
    };
    xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(name.constData());
    if (!handler)
        return unreadable(1, QStringLiteral("its encoding \u201C%1\u201D is not supported"));
    if (QByteArrayView(handler->name).compare("UTF-8", Qt::CaseInsensitive) == 0) {
        xmlCharEncCloseFunc(handler);
        if (encoding.ebcdic)
            return notEBCDIC();
        return bytes;
    }
    // UTF-16 and UCS-4 convert to a length known beforehand, which no copy is made past; the
    // UTF-8 form of other encodings is about as long as the text or longer.
    qsizetype room = bytes.size();
    if (encoding.unit) {
        const qint64 length = utf8Length(bytes, encoding.unit, encoding.bigEndian);
        if (length > KRXMLDocument::MaximumFileSize) {
            xmlCharEncCloseFunc(handler);
            return tooLongError(bytes.size(), name);
        }
        room = qsizetype(length);
    }
    // Converted a block at a time, by the library's own converter, as the parser would use it.
    xmlBufferPtr out = xmlBufferCreateSize(std::size_t(2 << 20));
    bool failed = !out;
    QByteArray converted;
    converted.reserve(room);
    for (qsizetype done = 0; !failed && done < bytes.size() && converted.size() <= KRXMLDocument::MaximumFileSize;) {
        const int count = int(std::min<qsizetype>(1 << 20, bytes.size() - done));
        xmlBufferPtr part = xmlBufferCreateStatic(const_cast<char *>(bytes.constData() + done), std::size_t(count));
        // What is left of the block (a character cut at its end, or more than the room given)
        // is converted with the next.
        const int result = part ? xmlCharEncInFunc(handler, out, part) : -1;
        const int used = part ? count - int(xmlBufferLength(part)) : 0;
        if (part)
            xmlBufferFree(part);
        // No progress: a character the encoding does not have, or one cut short at the end.
        failed = result == -2 || used <= 0;
        done += used;
        converted.append(reinterpret_cast<const char *>(xmlBufferContent(out)), xmlBufferLength(out));
        xmlBufferEmpty(out);
    }
    if (out)
        xmlBufferFree(out);
    xmlCharEncCloseFunc(handler);
    // Its declaration, in invariant characters, reads the same in every EBCDIC code page.
    if (encoding.ebcdic && !converted.startsWith("<?xml"))
        return notEBCDIC();
    if (converted.size() > KRXMLDocument::MaximumFileSize)
        return tooLongError(bytes.size(), name);
    // The line is the one the character that does not convert stands on.
    if (failed) {
        return unreadable(int(std::min<qsizetype>(converted.count('\n'), INT_MAX - 1)) + 1,
                          QStringLiteral("it is not proper text in its encoding \u201C%1\u201D"));
    }
    // What the parser would take for another byte-order mark or encoding is no UTF-8 text.
    const auto *begin = reinterpret_cast<const unsigned char *>(converted.constData());
    const xmlCharEncoding again = xmlDetectCharEncoding(begin, int(std::min<qsizetype>(converted.size(), 4)));
    if (again != XML_CHAR_ENCODING_NONE && again != XML_CHAR_ENCODING_UTF8)
        return unreadable(1, QStringLiteral("it is not proper text in its encoding \u201C%1\u201D"));
    return converted;
}

// Reads a whole document; on failure the error names the line and the parser's message.
// `additions` (may be null): see KRXMLDocument::fromFile; `listedElements` is set to the number
// of elements given a list, `writtenAtMost` as refusedShape sets it.
KRResult<xmlDocPtr> parseDocument(const QByteArray &source, const KRXMLDocument::Additions *additions = nullptr,
                                  int *listedElements = nullptr, qint64 *writtenAtMost = nullptr)
{
    const KRXMLDocument::EmptyAttributeNames *listed = additions ? &additions->emptyAttributes : nullptr;
    // The parser counts in int: a longer text would be read as a part of itself.
    if (source.size() > KRXMLDocument::MaximumFileSize || source.size() > qsizetype(INT_MAX))
        return tooLongError(source.size());
    const KRResult<QByteArray> utf8 = asUTF8(source);
    if (!utf8)
        return utf8.error();
    const QByteArray &bytes = utf8.value();
    bool markupInText = false;
    if (std::optional<KRError> refused = refusedShape(bytes, &markupInText, false, additions, writtenAtMost))
        return *refused;
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt)
        return KRError(KRXMLDocument::errorDomain, XML_ERR_NO_MEMORY, QStringLiteral("Out of memory reading XML."));
    ListingParse parse;
    FirstError &first = parse;
    ctxt->_private = &first;
    ctxt->sax->serror = recordFirstError;
    ctxt->sax->entityDecl = refuseEntityDeclaration;
    ctxt->sax->unparsedEntityDecl = refuseUnparsedEntityDeclaration;
    ctxt->sax->startElementNs = startElementWithinDepth;
    if (listed && *listed) {
        parse.listed = listed;
        ctxt->sax->startElementNs = startElementListingEmpty;
    }
    // The library frees neither the lists nor (for elements) what their field points to.
    const auto releaseLists = [&parse] {
        for (KRXMLDocumentPrivate::PendingAttributes *pending : parse.lists)
            delete pending;
        parse.lists.clear();
    };
    // Text whose every '<' outside tags was read above as the parser reads it is read whole;
    // any other is fed to the parser until its first error, which costs a little time.
    Feed feed{bytes, ctxt};
    xmlDocPtr doc = markupInText
        ? xmlCtxtReadIO(ctxt, feedUntilMalformed, nullptr, &feed, nullptr, nullptr, parseOptions)
        : xmlCtxtReadMemory(ctxt, bytes.constData(), static_cast<int>(bytes.size()), nullptr, nullptr,
                            parseOptions);
    const bool failed = !doc || !ctxt->wellFormed;
    if (failed) {
        const xmlError *last = xmlCtxtGetLastError(ctxt);
        if (!first.code && last && last->code) {
            first.code = last->code;
            first.line = last->line;
            first.message = QString::fromUtf8(last->message).trimmed();
        }
        const int code = first.code ? first.code : XML_ERR_DOCUMENT_EMPTY;
        const int line = first.line;
        xmlFreeDoc(doc);
        xmlFreeParserCtxt(ctxt);
        releaseLists();
        if (first.declaresEntity) {
            return refusal(code, line,
                           QStringLiteral("it declares the entity \u201C%1\u201D, and documents that declare "
                                          "entities are not read")
                               .arg(shownName(first.message)));
        }
        if (first.tooDeep) {
            return refusal(code, line,
                           QStringLiteral("the element \u201C%1\u201D is nested %2 levels deep, and a document "
                                          "may nest elements at most %3 levels deep")
                               .arg(shownName(first.message))
                               .arg(first.tooDeep)
                               .arg(KRXMLDocument::MaximumDepth),
                           {{QStringLiteral("depth"), first.tooDeep}});
        }
        const QString message = first.message.isEmpty() ? QStringLiteral("Document is empty") : first.message;
        return KRError(KRXMLDocument::errorDomain, code,
                       QStringLiteral("The XML text is not well-formed: line %1: %2.").arg(line).arg(message),
                       {{QStringLiteral("line"), line}, {QStringLiteral("reason"), message}});
    }
    xmlFreeParserCtxt(ctxt);
    if (listedElements)
        *listedElements = int(parse.lists.size());
    return doc;
}

// The bytes the listed attributes that the elements of the document lack would take written
// (` name=""` each): what adding them, as the application's objects do, adds to the text.
qint64 lackingListedBytes(xmlDocPtr doc, const KRXMLDocument::EmptyAttributeNames &listed)
{
    qint64 bytes = 0;
    std::vector<xmlNodePtr> stack{xmlDocGetRootElement(doc)};
    QSet<QByteArrayView> carried;
    while (!stack.empty()) {
        xmlNodePtr node = stack.back();
        stack.pop_back();
        if (!node || node->type != XML_ELEMENT_NODE)
            continue;
        for (xmlNodePtr child = node->children; child; child = child->next)
            stack.push_back(child);
        const std::vector<QByteArray> *names = listed(reinterpret_cast<const char *>(node->name));
        if (!names)
            continue;
        carried.clear();
        for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next)
            carried.insert(QByteArrayView(reinterpret_cast<const char *>(attribute->name)));
        if (const auto *pending = KRXMLDocumentPrivate::pendingAttributes(node)) {
            for (const unsigned char *name : pending->names)
                carried.insert(QByteArrayView(reinterpret_cast<const char *>(name)));
        }
        for (const QByteArray &name : *names)
            bytes += name.isEmpty() || carried.contains(name) ? 0 : name.size() + 4;
    }
    return bytes;
}

} // namespace

const QString KRXMLDocument::errorDomain = QStringLiteral("KRXMLErrorDomain");

KRXMLDocument KRXMLDocument::create(const QString &rootName)
{
    KRXMLMemoryPool::installForXMLLibrary();
    xmlDocPtr doc = xmlNewDoc(reinterpret_cast<const xmlChar *>("1.0"));
    KR_ASSERT(doc, "out of memory creating an XML document");
    doc->encoding = xmlStrdup(reinterpret_cast<const xmlChar *>("UTF-8"));
    KRXMLDocument document(std::make_shared<KRXMLDocumentPrivate>(doc));
    if (!rootName.isEmpty())
        document.setRootElement(document.createElement(rootName));
    return document;
}

KRResult<void> KRXMLDocument::checkShape(const QByteArray &bytes, const Additions &additions)
{
    if (bytes.size() > MaximumFileSize || bytes.size() > qsizetype(INT_MAX))
        return tooLongError();
    const KRResult<QByteArray> utf8 = asUTF8(bytes);
    if (!utf8)
        return utf8.error();
    bool markupInText = false;
    if (std::optional<KRError> refused = refusedShape(utf8.value(), &markupInText, true, &additions))
        return *refused;
    return {};
}

KRResult<KRXMLDocument> KRXMLDocument::fromData(const QByteArray &bytes)
{
    return fromData(bytes, {});
}

KRResult<KRXMLDocument> KRXMLDocument::fromData(const QByteArray &bytes, const Additions &additions)
{
    KRXMLMemoryPool::installForXMLLibrary();
    int listedElements = 0;
    qint64 writtenAtMost = 0;
    KRResult<xmlDocPtr> parsed = parseDocument(bytes, &additions, &listedElements, &writtenAtMost);
    if (!parsed)
        return parsed.error();
    auto d = std::make_shared<KRXMLDocumentPrivate>(parsed.value());
    d->notePendingElements(listedElements);
    KRXMLDocument document(std::move(d));
    // Text that could grow past the bound as it is written again is measured as it would be.
    if (writtenAtMost > MaximumFileSize && additions.emptyAttributes) {
        const qint64 size = qint64(document.xmlData().size()) + lackingListedBytes(document.d->doc(), additions.emptyAttributes);
        if (size > MaximumFileSize) {
            const QString reason = QStringLiteral("written again with what is written for its elements, it would take %1, "
                                                  "more than a document may be (%2)")
                                       .arg(sizeText(size), sizeText(MaximumFileSize));
            return refusal(XML_IO_EFBIG, 0, reason, {{QStringLiteral("size"), size}});
        }
    }
    return document;
}

qsizetype KRXMLDocument::firstUnstorable(QStringView text, qsizetype from)
{
    const char16_t *units = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = from; i < size; ++i) {
        const char16_t c = units[i];
        if (c >= 0x20 && c < 0xD800)
            continue;
        if (c < 0x20) {
            if (c != '\t' && c != '\n' && c != '\r')
                return i;
        } else if (c >= 0xFFFE) {
            return i;
        } else if (c >= 0xD800 && c < 0xDC00) {
            if (i + 1 >= size || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
                return i;
            ++i; // a whole pair
        } else if (c >= 0xDC00 && c < 0xE000) {
            return i; // a low half with no high half before it
        }
    }
    return size;
}

bool KRXMLDocument::isStorable(QStringView text)
{
    return firstUnstorable(text) == text.size();
}

QString KRXMLDocument::replacingUnstorable(const QString &text, const std::function<void(QString &, char16_t)> &replace)
{
    qsizetype at = firstUnstorable(text);
    if (at == text.size())
        return text;
    QString kept;
    kept.reserve(text.size());
    qsizetype from = 0;
    while (at < text.size()) {
        kept.append(QStringView(text).sliced(from, at - from));
        replace(kept, text.at(at).unicode());
        from = at + 1;
        at = firstUnstorable(text, from);
    }
    kept.append(QStringView(text).sliced(from));
    return kept;
}

QString KRXMLDocument::storableText(const QString &text)
{
    return replacingUnstorable(text, [](QString &out, char16_t unit) {
        // Controls go, as they always have; the others leave a mark where they stood.
        if (unit >= 0x20)
            out.append(QChar(QChar::ReplacementCharacter));
    });
}

QString KRXMLDocument::sizeText(qint64 bytes)
{
    constexpr qint64 mebibyte = qint64(1) << 20;
    constexpr qint64 gibibyte = qint64(1) << 30;
    if (bytes >= gibibyte)
        return QStringLiteral("%1 GiB").arg(double(bytes) / double(gibibyte), 0, 'f', 1);
    if (bytes >= mebibyte)
        return QStringLiteral("%1 MiB").arg(double(bytes) / double(mebibyte), 0, 'f', bytes % mebibyte ? 1 : 0);
    return QStringLiteral("%1 bytes").arg(bytes);
}

KRResult<KRXMLDocument> KRXMLDocument::fromFile(const QString &path)
{
    return fromFile(path, {});
}

KRResult<KRXMLDocument> KRXMLDocument::fromFile(const QString &path, const Additions &listed)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return KRError(errorDomain, XML_IO_ENOENT,
                       QStringLiteral("The file \"%1\" could not be read: %2.").arg(path, file.errorString()),
                       {{QStringLiteral("path"), path}});
    }
    // size < 0: more than the limit, by how much not known.
    const auto tooLarge = [&path](qint64 size) {
        const QString limit = sizeText(MaximumFileSize);
        const QString found = size < 0 ? QStringLiteral("more than %1").arg(limit) : sizeText(size);
        return KRError(errorDomain, XML_IO_EFBIG,
                       QStringLiteral("The file \"%1\" is too large to open (%2): a document may hold at most %3.")
                           .arg(path, found, limit),
                       {{QStringLiteral("path"), path}, {QStringLiteral("size"), size}});
    };
    // Checked before anything is read; then read no further than the limit, should the
    // file grow meanwhile or be no regular file.
    if (file.size() > MaximumFileSize)
        return tooLarge(file.size());
    QByteArray bytes;
    bytes.reserve(qsizetype(file.size()));
    char block[65536];
    for (;;) {
        const qint64 read = file.read(block, qint64(sizeof block));
        if (read < 0) {
            return KRError(errorDomain, XML_IO_EIO,
                           QStringLiteral("The file \"%1\" could not be read: %2.").arg(path, file.errorString()),
                           {{QStringLiteral("path"), path}});
        }
        if (read == 0)
            break;
        if (bytes.size() + read > MaximumFileSize)
            return tooLarge(-1);
        bytes.append(block, qsizetype(read));
    }
    KRResult<KRXMLDocument> result = fromData(bytes, listed);
    if (!result) {
        KRError error = result.error();
        QVariantMap info = error.userInfo();
        info.insert(QStringLiteral("path"), path);
        const QString reason = info.value(QStringLiteral("reason")).toString();
        // Text whose UTF-8 form is longer than the limit names no line.
        if (error.code() == XML_IO_EFBIG) {
            return KRError(error.domain(), error.code(),
                           QStringLiteral("The file \"%1\" is too large to open: %2.").arg(path, reason), info);
        }
        const QString text = info.value(QStringLiteral("refused")).toBool()
            ? QStringLiteral("The file \"%1\" is refused: line %2: %3.")
            : QStringLiteral("The file \"%1\" is not well-formed XML: line %2: %3.");
        return KRError(error.domain(), error.code(),
                       text.arg(path, info.value(QStringLiteral("line")).toString(), reason), info);
    }
    return result;
}

KRXMLNode KRXMLDocument::rootElement() const
{
    KR_ASSERT(d, "rootElement of a null XML document");
    xmlNodePtr root = xmlDocGetRootElement(d->doc());
    return root ? d->handle(root) : KRXMLNode();
}

void KRXMLDocument::setRootElement(const KRXMLNode &element)
{
    KR_ASSERT(d, "setRootElement of a null XML document");
    const auto lock = d->lockForWriting();
    KR_ASSERT(element.isElement() && d->owns(element), "the root must be an element of this document");
    xmlNodePtr node = element.m_node;
    if (xmlDocGetRootElement(d->doc()) == node)
        return;
    if (node->parent)
        xmlUnlinkNode(node);
    d->didAttach(node);
    xmlNodePtr old = xmlDocSetRootElement(d->doc(), node);
    if (old)
        d->adoptDetached(old);
}

KRXMLNode KRXMLDocument::createElement(const QString &name) const
{
    KR_ASSERT(d, "createElement in a null XML document");
    const auto lock = d->lockForWriting();
    KR_ASSERT(!name.isEmpty(), "an element needs a name");
    xmlNodePtr node = xmlNewDocNode(d->doc(), nullptr, xc(name.toUtf8()), nullptr);
    return d->handleOfNew(node);
}

KRXMLNode KRXMLDocument::createTextNode(const QString &text) const
{
    KR_ASSERT(d, "createTextNode in a null XML document");
    const auto lock = d->lockForWriting();
    const QByteArray bytes = KRXMLDocumentPrivate::xmlText(text);
    xmlNodePtr node = xmlNewDocTextLen(d->doc(), xc(bytes), static_cast<int>(bytes.size()));
    return d->handleOfNew(node);
}

KRXMLNode KRXMLDocument::createCDATASection(const QString &text) const
{
    KR_ASSERT(d, "createCDATASection in a null XML document");
    const auto lock = d->lockForWriting();
    const QByteArray bytes = KRXMLDocumentPrivate::xmlText(text);
    xmlNodePtr node = xmlNewCDataBlock(d->doc(), xc(bytes), static_cast<int>(bytes.size()));
    return d->handleOfNew(node);
}

KRXMLNode KRXMLDocument::createComment(const QString &text) const
{
    KR_ASSERT(d, "createComment in a null XML document");
    const auto lock = d->lockForWriting();
    const QByteArray bytes = KRXMLDocumentPrivate::xmlText(text);
    xmlNodePtr node = xmlNewDocComment(d->doc(), xc(bytes));
    return d->handleOfNew(node);
}

KRXMLNode KRXMLDocument::importNode(const KRXMLNode &node) const
{
    KR_ASSERT(d, "importNode into a null XML document");
    KR_ASSERT(!node.isNull() && node.kind() != KRXMLNode::Kind::Attribute, "import of a null XML node");
    xmlNodePtr copy = d->copyIn(node.m_node);
    KR_ASSERT(copy, "out of memory copying an XML node");
    return d->handleOfNew(copy);
}

KRResult<QList<KRXMLNode>> KRXMLDocument::parseFragment(const QByteArray &bytes) const
{
    KR_ASSERT(d, "parseFragment in a null XML document");
    const bool wholeDocument = bytes.trimmed().startsWith("<?xml");
    // A bare fragment is read inside a wrapper element on the same line, so that line
    // numbers in errors stay those of the text.
    const QByteArray text = wholeDocument ? bytes : "<kr-fragment>" + bytes + "</kr-fragment>";
    KRResult<xmlDocPtr> parsed = parseDocument(text);
    if (!parsed)
        return parsed.error();
    xmlDocPtr source = parsed.value();
    QList<KRXMLNode> nodes;
    xmlNodePtr root = xmlDocGetRootElement(source);
    if (wholeDocument) {
        if (root)
            nodes.append(importNode(KRXMLDocument(std::make_shared<KRXMLDocumentPrivate>(source)).rootElement()));
        else
            xmlFreeDoc(source);
        return nodes;
    }
    for (xmlNodePtr child = root ? root->children : nullptr; child; child = child->next) {
        xmlNodePtr copy = d->copyIn(child);
        KR_ASSERT(copy, "out of memory copying an XML node");
        nodes.append(d->handleOfNew(copy));
    }
    xmlFreeDoc(source);
    return nodes;
}

QList<KRXMLNode> KRXMLDocument::nodesForXPath(const QString &xpath) const
{
    KR_ASSERT(d, "XPath on a null XML document");
    return d->evaluateXPath(nullptr, xpath);
}

QByteArray KRXMLDocument::xmlData() const
{
    KR_ASSERT(d, "xmlData of a null XML document");
    xmlChar *memory = nullptr;
    int size = 0;
    // No formatting: text nodes, white space included, are written exactly as they are.
    const auto write = [&] { xmlDocDumpFormatMemoryEnc(d->doc(), &memory, &size, "UTF-8", 0); };
    if (d->hasPendingAttributes()) {
        const auto lock = d->lockForWriting();
        d->withPendingAttributesLinked(reinterpret_cast<xmlNodePtr>(d->doc()), write);
    } else {
        write();
    }
    QByteArray bytes(reinterpret_cast<const char *>(memory), size);
    xmlFree(memory);
    return bytes;
}

KRResult<void> KRXMLDocument::saveToFile(const QString &path) const
{
    const KRResult<void> written = KRFileManager::writeFileAtomically(path, xmlData());
    if (!written) {
        return KRError(errorDomain, XML_IO_WRITE,
                       QStringLiteral("The file \"%1\" could not be written: %2.").arg(path, written.error().message()),
                       {{QStringLiteral("path"), path}});
    }
    return {};
}

int KRXMLDocument::detachedNodeCount() const
{
    return d ? d->detachedCount() : 0;
}
