#include <core/KRJSONSerialization.h>
#include <core/KRPropertyList.h>
#include <core/KRXMLDocument.h>
#include <core/KRXMLNode.h>

#include "KRTestSupport.h"
#include "KRXMLAllocationGuard.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

namespace {

const QString fixturePath = QStringLiteral(KR_TEST_DATA_DIR "/core/xml/project.xml");

KRXMLDocument parse(const QByteArray &text)
{
    KRResult<KRXMLDocument> result = KRXMLDocument::fromData(text);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().toString().toStdString());
    return result.ok() ? result.value() : KRXMLDocument();
}

QStringList names(const QList<KRXMLNode> &nodes)
{
    QStringList list;
    for (const KRXMLNode &node : nodes)
        list.append(node.name());
    return list;
}

// The elements of a document in document order.
QList<KRXMLNode> elementsOf(const KRXMLDocument &document)
{
    QList<KRXMLNode> all{document.rootElement()};
    for (qsizetype i = 0; i < all.size(); ++i)
        all += all.at(i).elements();
    return all;
}

// Two documents that must read the same through every way of reading an element's attributes:
// the texts, names, each asked name's presence and value (one by one and in one call) and copies.
void expectSameReads(const KRXMLDocument &first, const KRXMLDocument &second, const std::vector<QByteArray> &asked)
{
    EXPECT_EQ(first.xmlData(), second.xmlData());
    const QList<KRXMLNode> a = elementsOf(first);
    const QList<KRXMLNode> b = elementsOf(second);
    ASSERT_EQ(a.size(), b.size());
    const qsizetype count = qsizetype(asked.size());
    for (qsizetype i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a.at(i).xmlData(), b.at(i).xmlData()) << i;
        EXPECT_EQ(a.at(i).attributeNames(), b.at(i).attributeNames()) << i;
        std::vector<QString> valuesA(asked.size());
        std::vector<QString> valuesB(asked.size());
        a.at(i).attributeValues(asked.data(), count, valuesA.data());
        b.at(i).attributeValues(asked.data(), count, valuesB.data());
        for (qsizetype n = 0; n < count; ++n) {
            const QByteArray &utf8 = asked[std::size_t(n)];
            const QString name = QString::fromUtf8(utf8);
            EXPECT_EQ(a.at(i).hasAttribute(name), b.at(i).hasAttribute(name)) << i << utf8.constData();
            EXPECT_EQ(a.at(i).attribute(name).isNull(), b.at(i).attribute(name).isNull()) << i << utf8.constData();
            EXPECT_EQ(a.at(i).attribute(name), b.at(i).attribute(name)) << i << utf8.constData();
            EXPECT_EQ(a.at(i).attributeForUTF8Name(utf8), b.at(i).attributeForUTF8Name(utf8)) << i;
            EXPECT_EQ(a.at(i).attributeForUTF8Name(utf8).isNull(), b.at(i).attributeForUTF8Name(utf8).isNull()) << i;
            EXPECT_EQ(valuesA[std::size_t(n)].isNull(), valuesB[std::size_t(n)].isNull()) << i << utf8.constData();
            EXPECT_EQ(valuesA[std::size_t(n)], valuesB[std::size_t(n)]) << i << utf8.constData();
        }
        EXPECT_EQ(a.at(i).integerValueForAttribute("top"), b.at(i).integerValueForAttribute("top"));
        EXPECT_EQ(a.at(i).deepCopy().xmlData(), b.at(i).deepCopy().xmlData()) << i;
    }
}

} // namespace

// --- Reading and saving

TEST(KRXMLDocument, LoadSaveRoundTripIsByteIdentical)
{
    const QByteArray original = KRTest::readFile(fixturePath);
    ASSERT_FALSE(original.isEmpty());
    KRXMLDocument document = parse(original);
    ASSERT_FALSE(document.isNull());
    EXPECT_EQ(document.xmlData(), original);

    const QString target = KRTest::makeTempDir(QStringLiteral("xml")) + QStringLiteral("/project.xml");
    ASSERT_TRUE(document.saveToFile(target).ok());
    EXPECT_EQ(KRTest::readFile(target), original);
    // No temporary file is left beside the target.
    EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files), QStringList{QStringLiteral("project.xml")});
}

TEST(KRXMLDocument, ReadsTextCdataCommentsAndEntities)
{
    KRResult<KRXMLDocument> result = KRXMLDocument::fromFile(fixturePath);
    ASSERT_TRUE(result.ok());
    const KRXMLDocument document = result.value();
    const KRXMLNode root = document.rootElement();
    EXPECT_EQ(root.name(), "KRProject");
    EXPECT_FALSE(root.parent());
    EXPECT_EQ(root.index(), -1);
    EXPECT_FALSE(root.isDetached());
    EXPECT_EQ(root.attribute("name"), QString::fromUtf8("Café & Bar"));
    EXPECT_EQ(root.attribute("note"), "a < b > c \"q\"");
    EXPECT_EQ(root.attributeNames(), (QStringList{"appVersion", "name", "note"}));

    const KRXMLNode function = root.firstElementForXPath("//KRFunction[@kr_id='onLoad']");
    ASSERT_TRUE(function);
    ASSERT_EQ(function.childCount(), 1);
    EXPECT_EQ(function.childAt(0).kind(), KRXMLNode::Kind::CDATA);
    EXPECT_EQ(function.stringValue(),
              "function onLoad(event) {\n\tvar x = 1 < 2 && 3 > 2;\n\n\t\treturn \"<b>\" + x;\n\n}\n");

    const KRXMLNode label = root.firstElementForXPath("//KRLabel");
    EXPECT_EQ(label.stringValue(), "Some mixed text & more <here>   ");
    const KRXMLNode comment = label.nextSibling().nextSibling();
    EXPECT_EQ(comment.kind(), KRXMLNode::Kind::Comment);
    EXPECT_EQ(comment.stringValue(), " a comment ");
    EXPECT_EQ(label.lineNumber(), 7);

    const KRXMLDocument numeric = parse("<a t=\"Caf&#233;\">&#x263A;</a>");
    EXPECT_EQ(numeric.rootElement().attribute("t"), QString::fromUtf8("Café"));
    EXPECT_EQ(numeric.rootElement().stringValue(), QString(QChar(0x263A)));
}

TEST(KRXMLDocument, MalformedTextGivesErrorWithLine)
{
    const KRResult<KRXMLDocument> result = KRXMLDocument::fromData("<?xml version=\"1.0\"?>\n<a>\n  <b>\n</a>\n");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().domain(), KRXMLDocument::errorDomain);
    EXPECT_EQ(result.error().userInfo().value("line").toInt(), 4);
    EXPECT_TRUE(result.error().message().contains("line 4")) << result.error().message().toStdString();

    EXPECT_FALSE(KRXMLDocument::fromData("").ok());
    EXPECT_FALSE(KRXMLDocument::fromData("<a></a><b/>").ok());
    EXPECT_FALSE(KRXMLDocument::fromData("<a>&undefined;</a>").ok());

    const KRResult<KRXMLDocument> missing = KRXMLDocument::fromFile(KRTest::sandboxDir() + "/nothing-here.xml");
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().message().contains("nothing-here.xml"));
}

// A file past the size limit is refused, naming its size, before any of it is read. Read
// whole, a sparse file of gigabytes took seconds and gigabytes of memory to fail as "Document
// is empty", and with its size narrowed to the parser's int, one of 4 GiB and a few bytes
// read as those bytes.
TEST(KRXMLDocument, FilesPastTheSizeLimitAreRefusedUnread)
{
    const QByteArray head = "<?xml version=\"1.0\"?>\n<a/>\n";
    const QString path = KRTest::makeTempDir(QStringLiteral("huge")) + QStringLiteral("/huge.xml");
    KRTest::writeFile(path, head);
    ASSERT_TRUE(QFile::resize(path, KRXMLDocument::MaximumFileSize + 1)); // sparse: costs no disk
    const KRResult<KRXMLDocument> over = KRXMLDocument::fromFile(path);
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().domain(), KRXMLDocument::errorDomain);
    EXPECT_EQ(over.error().userInfo().value("size").toLongLong(), KRXMLDocument::MaximumFileSize + 1);
    EXPECT_TRUE(over.error().message().contains("is too large to open")) << over.error().message().toStdString();
    EXPECT_TRUE(over.error().message().contains("at most 256 MiB")) << over.error().message().toStdString();

    ASSERT_TRUE(QFile::resize(path, (qint64(4) << 30) + head.size()));
    const KRResult<KRXMLDocument> narrowed = KRXMLDocument::fromFile(path);
    ASSERT_FALSE(narrowed.ok());
    EXPECT_TRUE(narrowed.error().message().contains("(4.0 GiB)")) << narrowed.error().message().toStdString();

    // Below the limit the file reads as it is.
    ASSERT_TRUE(QFile::resize(path, head.size()));
    EXPECT_TRUE(KRXMLDocument::fromFile(path).ok());
}

// Whatever is saved reads back up to the size limit: past 10,000,000 bytes the parser's own
// limits refused the file ("Huge input lookup"), and past 10 MB of text in one node too.
TEST(KRXMLDocument, SavedDocumentsPastTenMegabytesReadBack)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("big"));
    // Many pages of many objects, as a project of a few hundred pages saves.
    KRXMLDocument pages = KRXMLDocument::create(QStringLiteral("project"));
    for (int p = 0; p < 800; ++p) {
        KRXMLNode page = pages.createElement(QStringLiteral("KRPage"));
        page.setAttribute(QStringLiteral("id"), QStringLiteral("page%1").arg(p));
        KRXMLNode contents = pages.createElement(QStringLiteral("KRContents"));
        for (int o = 0; o < 20; ++o) {
            KRXMLNode object = pages.createElement(QStringLiteral("KRButton"));
            object.setAttribute(QStringLiteral("id"), QStringLiteral("button%1").arg(o));
            object.setAttribute(QStringLiteral("text"), QStringLiteral("Press <me> & \"go\" %1").arg(o).repeated(20));
            contents.appendChild(object);
        }
        page.appendChild(contents);
        pages.rootElement().appendChild(page);
    }
    // One text value of 12 MB.
    KRXMLDocument text = KRXMLDocument::create(QStringLiteral("project"));
    KRXMLNode source = text.createElement(QStringLiteral("source"));
    source.appendChild(text.createTextNode(QStringLiteral("alert('a < b & c');\n").repeated(600000)));
    text.rootElement().appendChild(source);

    for (const auto &[name, document] : {std::pair{"pages", pages}, std::pair{"text", text}}) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".xml");
        ASSERT_TRUE(document.saveToFile(path).ok()) << name;
        ASSERT_GT(QFileInfo(path).size(), 10000000) << name;
        const KRResult<KRXMLDocument> read = KRXMLDocument::fromFile(path);
        ASSERT_TRUE(read.ok()) << name << ": " << read.error().toString().toStdString();
        EXPECT_TRUE(read.value().xmlData() == document.xmlData()) << name;
    }
}

TEST(KRXMLDocument, ExternalEntitiesAreNotLoaded)
{
    const QString secret = KRTest::makeTempDir(QStringLiteral("xxe")) + QStringLiteral("/secret.txt");
    KRTest::writeFile(secret, "top secret");
    const QByteArray text = "<?xml version=\"1.0\"?>\n<!DOCTYPE a [<!ENTITY x SYSTEM \"file://" + secret.toUtf8()
        + "\">]>\n<a>&x;</a>\n";
    KRResult<KRXMLDocument> result = KRXMLDocument::fromData(text);
    if (result.ok()) {
        EXPECT_FALSE(result.value().rootElement().stringValue().contains("secret"));
    }
}

// Entities declared in the file itself, nested 6 to 9 levels deep (a 0.9 KB file standing
// for a gigabyte of text) and used in an attribute or in text: refused at the first
// declaration, in a few kilobytes, whichever way the text is read. The parser's guard against
// such expansion is off for the large files read here: an attribute holding "&lol9;" took
// minutes and gigabytes. A modest declaration, once read as its text, is refused the same way.
TEST(KRXMLDocument, EntityDeclarationsAreRefusedBeforeAnythingExpands)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("entities"));
    KRTest::XMLAllocationGuard guard(64 << 20); // a regression fails here, out of memory
    for (int levels = 6; levels <= 9; ++levels) {
        QByteArray declarations = "<!ENTITY lol0 \"lol\">\n";
        for (int level = 1; level <= levels; ++level) {
            declarations += "<!ENTITY lol" + QByteArray::number(level) + " \"";
            for (int i = 0; i < 10; ++i)
                declarations += "&lol" + QByteArray::number(level - 1) + ';';
            declarations += "\">\n";
        }
        const QByteArray use = "&lol" + QByteArray::number(levels) + ';';
        const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE KRProjectDocument [\n"
            + declarations + "]>\n";
        const std::pair<const char *, QByteArray> texts[] = {
            {"attribute", head + "<KRProjectDocument><KRPage title=\"" + use + "\"/></KRProjectDocument>\n"},
            {"text", head + "<KRProjectDocument><KRFunction>" + use + "</KRFunction></KRProjectDocument>\n"},
        };
        for (const auto &[where, text] : texts) {
            const QString path = folder + QStringLiteral("/%1-%2.xml").arg(levels).arg(QLatin1String(where));
            KRTest::writeFile(path, text);
            const KRXMLDocument document = KRXMLDocument::create(QStringLiteral("r"));
            // Each way of reading, as a success or the error.
            const auto outcome = [](const auto &result) { return result.ok() ? KRResult<void>() : KRResult<void>(result.error()); };
            const auto none = [](const char *) -> const std::vector<QByteArray> * { return nullptr; };
            const std::pair<const char *, std::function<KRResult<void>()>> readers[] = {
                {"fromData", [&] { return outcome(KRXMLDocument::fromData(text)); }},
                {"fromFile", [&] { return outcome(KRXMLDocument::fromFile(path)); }},
                {"fromData listing", [&] { return outcome(KRXMLDocument::fromData(text, KRXMLDocument::EmptyAttributeNames(none))); }},
                {"parseFragment", [&] { return outcome(document.parseFragment(text)); }},
            };
            for (const auto &[reader, read] : readers) {
                SCOPED_TRACE(testing::Message() << levels << " levels in " << where << ", " << reader);
                guard.reset();
                const KRResult<void> result = read();
                EXPECT_LT(guard.requested(), std::size_t(1) << 20);
                ASSERT_FALSE(result.ok());
                EXPECT_EQ(result.error().domain(), KRXMLDocument::errorDomain);
                const std::string reason =
                    "line 3: it declares the entity \u201Clol0\u201D, and documents that declare entities are not read.";
                EXPECT_EQ(result.error().message().toStdString(),
                          std::strcmp(reader, "fromFile") == 0
                              ? "The file \"" + path.toStdString() + "\" is refused: " + reason
                              : "The XML text is refused: " + reason);
                EXPECT_EQ(result.error().userInfo().value("line").toInt(), 3);
            }
        }
    }

    // Modest ones, parameter entities and unparsed ones too: no entity is ever read as its text.
    const QByteArray others[] = {
        "<!DOCTYPE a [<!ENTITY who \"World\">]><a t=\"&who;\"/>",
        "<!DOCTYPE a [<!ENTITY e \"x\">]><a/>",
        "<!DOCTYPE a [<!ENTITY % p \"<!ENTITY q 'x'>\"> %p;]><a>&q;</a>",
        "<!DOCTYPE a [<!NOTATION n SYSTEM \"n\"><!ENTITY u SYSTEM \"u.png\" NDATA n>]><a/>",
        "<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/hostname\">]><a>&x;</a>",
    };
    for (const QByteArray &text : others) {
        const KRResult<KRXMLDocument> result = KRXMLDocument::fromData(text);
        ASSERT_FALSE(result.ok()) << text.constData();
        EXPECT_TRUE(result.error().message().contains("declares the entity")) << result.error().message().toStdString();
    }
    // A long name is cut short in the message.
    const KRResult<KRXMLDocument> named =
        KRXMLDocument::fromData("<!DOCTYPE a [<!ENTITY " + QByteArray(5000, 'n') + " \"x\">]><a/>");
    ASSERT_FALSE(named.ok());
    EXPECT_LT(named.error().message().size(), 200);
    // A document type without declarations, or naming an external one (never loaded), reads.
    EXPECT_TRUE(KRXMLDocument::fromData("<!DOCTYPE a><a>&amp;&#233;</a>").ok());
    EXPECT_TRUE(KRXMLDocument::fromData("<!DOCTYPE a SYSTEM \"http://127.0.0.1:9/a.dtd\"><a/>").ok());
    EXPECT_TRUE(KRXMLDocument::fromData("<!DOCTYPE a [<!ELEMENT a (#PCDATA)>]><a>x</a>").ok());
}

namespace {

// A document whose elements nest `depth` levels deep: <e0><e1>…</e1></e0>, the deepest named
// "deepest"; each on a line of its own.
QByteArray nestedDocument(int depth)
{
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    for (int level = 1; level < depth; ++level)
        text += "<e>\n";
    text += "<deepest/>\n";
    for (int level = 1; level < depth; ++level)
        text += "</e>";
    return text + '\n';
}

} // namespace

// Every reader of trees (XML text and files, fragments, property lists, JSON) refuses text
// nested past its bound, naming the depth and the element, and reads text at the bound, whose
// every later walk (copying, writing, freeing) stays within the stack.
TEST(KRXMLDocument, NestingPastTheBoundIsRefusedByEveryReader)
{
    const int bound = KRXMLDocument::MaximumDepth;
    const QString folder = KRTest::makeTempDir("nesting");
    const KRXMLDocument::EmptyAttributeNames listed = [](const char *) -> const std::vector<QByteArray> * {
        static const std::vector<QByteArray> names{QByteArrayLiteral("x")};
        return &names;
    };
    for (const int depth : {bound, bound + 1, 200000}) {
        const QByteArray text = nestedDocument(depth);
        const QString path = folder + QStringLiteral("/%1.xml").arg(depth);
        KRTest::writeFile(path, text);
        // The declaration takes the first line: the element past the bound stands on line bound + 2.
        const std::string reason = "line " + std::to_string(bound + 2) + ": the element \u201C"
            + (depth == bound + 1 ? "deepest" : "e") + "\u201D is nested " + std::to_string(bound + 1)
            + " levels deep, and a document may nest elements at most " + std::to_string(bound) + " levels deep.";
        int reader = 0;
        for (const KRResult<KRXMLDocument> &read :
             {KRXMLDocument::fromData(text), KRXMLDocument::fromData(text, listed), KRXMLDocument::fromFile(path),
              KRXMLDocument::fromFile(path, listed)}) {
            ++reader;
            if (depth == bound) {
                ASSERT_TRUE(read.ok()) << read.error().message().toStdString();
                const KRXMLDocument copy = KRXMLDocument::create("copy");
                copy.rootElement().appendChild(copy.importNode(read.value().rootElement()));
                EXPECT_EQ(read.value().xmlData(), text);
                EXPECT_EQ(read.value().nodesForXPath("//deepest").size(), 1);
                continue;
            }
            ASSERT_FALSE(read.ok()) << depth << " " << reader;
            EXPECT_EQ(read.error().message().toStdString(),
                      reader > 2 ? "The file \"" + path.toStdString() + "\" is refused: " + reason
                                 : "The XML text is refused: " + reason);
            EXPECT_EQ(read.error().userInfo().value("depth").toInt(), bound + 1);
        }
        // A fragment is read inside a wrapper element: one level less of its own.
        const QByteArray fragment = text.mid(text.indexOf('\n') + 1);
        const KRResult<QList<KRXMLNode>> parsedFragment = KRXMLDocument::create("r").parseFragment(fragment);
        EXPECT_FALSE(parsedFragment.ok());

        // A property list nests its values in <plist>.
        QByteArray plist = "<?xml version=\"1.0\"?>\n<plist>";
        for (int level = 1; level < depth; ++level)
            plist += "<array>";
        for (int level = 1; level < depth; ++level)
            plist += "</array>";
        plist += "</plist>";
        const KRResult<QVariant> list = KRPropertyList::propertyListFromData(plist);
        EXPECT_EQ(list.ok(), false) << depth; // values nest no deeper than 512 levels

        // JSON: arrays and objects, strings holding brackets not counted.
        std::string json;
        const int jsonDepth = depth == bound ? KRJSONSerialization::MaximumDepth
                                             : depth == bound + 1 ? KRJSONSerialization::MaximumDepth + 1 : depth;
        for (int level = 0; level < jsonDepth; ++level)
            json += level % 2 ? "{\"[{\":" : "[\"]}\",";
        json += "1";
        for (int level = jsonDepth - 1; level >= 0; --level)
            json += level % 2 ? "}" : "]";
        const std::optional<nlohmann::ordered_json> value = KRJSONSerialization::parse(json);
        EXPECT_EQ(value.has_value(), depth == bound) << depth;
        if (value) {
            EXPECT_EQ(value->dump(), json);
        }
    }
    // A property list at its own bound reads.
    QByteArray plist = "<plist>";
    for (int level = 0; level < 512; ++level)
        plist += "<array>";
    for (int level = 0; level < 512; ++level)
        plist += "</array>";
    EXPECT_TRUE(KRPropertyList::propertyListFromData(plist + "</plist>").ok());
}

// Text whose shape would make the parser's work grow faster than the text (an element of many
// attributes, many namespaces in scope, many different names, declared attribute defaults) is
// refused before the parser sees it, by every reader of XML, naming the line and the element;
// long names, values and text, and markup-like text in comments, CDATA sections, processing
// instructions and quoted values, are read as they are.
TEST(KRXMLDocument, ShapesThatWouldSlowTheParserAreRefusedByEveryReader)
{
    const int bound = KRXMLDocument::MaximumAttributes;
    const auto attributes = [](int count, const QByteArray &value = "1") {
        QByteArray text;
        for (int n = 1; n <= count; ++n)
            text += " a" + QByteArray::number(n) + "=\"" + value + '"';
        return text;
    };
    const QString folder = KRTest::makeTempDir("shapes");
    const KRXMLDocument::EmptyAttributeNames listed = [](const char *) -> const std::vector<QByteArray> * {
        static const std::vector<QByteArray> names{QByteArrayLiteral("a1")};
        return &names;
    };
    // Every reader refuses `text` naming `reason` (after "line N: "), or reads it.
    const auto readers = [&](const QByteArray &text, const std::string &reason, const char *what) {
        SCOPED_TRACE(what);
        const QString path = folder + QStringLiteral("/shape.xml");
        KRTest::writeFile(path, text);
        int reader = 0;
        for (const KRResult<KRXMLDocument> &read :
             {KRXMLDocument::fromData(text), KRXMLDocument::fromData(text, listed), KRXMLDocument::fromFile(path),
              KRXMLDocument::fromFile(path, listed)}) {
            ++reader;
            if (reason.empty()) {
                EXPECT_TRUE(read.ok()) << reader << " " << read.error().message().toStdString();
                continue;
            }
            ASSERT_FALSE(read.ok()) << reader;
            EXPECT_EQ(read.error().message().toStdString(),
                      reader > 2 ? "The file \"" + path.toStdString() + "\" is refused: " + reason
                                 : "The XML text is refused: " + reason);
            EXPECT_TRUE(read.error().userInfo().value("refused").toBool());
        }
        // The pasteboard's objects are read as a whole document, a fragment inside a wrapper.
        const KRResult<QList<KRXMLNode>> fragment =
            KRXMLDocument::create("r").parseFragment(text.mid(text.indexOf('\n') + 1));
        EXPECT_EQ(fragment.ok(), reason.empty());
    };
    const QByteArray head = "<?xml version=\"1.0\"?>\n<objects>\n";

    // 100,000 attributes, each value holding a '>', and one past the bound.
    readers(head + "<KRLabel" + attributes(100000, "&gt;>") + "/></objects>",
            "line 3: the element \u201CKRLabel\u201D carries 100000 attributes, and an element may carry at most "
            "1024.",
            "many attributes");
    readers(head + "<KRLabel" + attributes(bound + 1, "'>'") + ">text</KRLabel></objects>",
            "line 3: the element \u201CKRLabel\u201D carries 1025 attributes, and an element may carry at most 1024.",
            "one past the bound");
    readers(head + "<KRLabel" + attributes(bound, "&quot;>'") + "/></objects>", {}, "at the bound");
    const QByteArray full = "<KRLabel" + attributes(bound) + "/>";
    readers(head + full.repeated(10) + "</objects>", {}, "many elements at the bound");
    // What looks like a tag of many attributes inside a comment, a CDATA section, a processing
    // instruction or a value is text.
    const QByteArray many = "<KRLabel" + attributes(3 * bound) + "/>";
    readers(head + "<!--" + many + "--><a><![CDATA[" + many + "]]></a><?pi " + many + "?></objects>", {},
            "markup in text");
    // Past the first error the parser reads no further: a comment it leaves at a character it
    // refuses ends there for it, and what follows would be read as markup.
    const QByteArray malformed = head + "<!-- \x01 " + "<KRLabel" + attributes(100000) + "/> --></objects>";
    const KRResult<KRXMLDocument> stopped = KRXMLDocument::fromData(malformed);
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.error().message().toStdString(),
              "The XML text is not well-formed: line 3: xmlParseComment: invalid xmlChar value 1.");

    // 10,000 namespace declarations on one element, and spread over nested ones (a comment
    // holding end tags ends none of them).
    QByteArray declarations;
    for (int n = 1; n <= 10000; ++n)
        declarations += " xmlns:p" + QByteArray::number(n) + "=\"urn:" + QByteArray::number(n) + '"';
    readers(head + "<e" + declarations + "><p1:a/></e></objects>",
            "line 3: the element \u201Ce\u201D carries 10000 attributes, and an element may carry at most 1024.",
            "namespaces on one element");
    QByteArray nested = head;
    for (int level = 0; level < 100; ++level) {
        nested += "<e";
        for (int n = 0; n < 100; ++n)
            nested += " xmlns:p" + QByteArray::number(level * 100 + n) + "=\"u\"";
        nested += "><!-- </e></e> --><![CDATA[</e>]]>\n";
    }
    readers(nested + "<p1:e/>",
            "line 5: the element \u201Ce\u201D has 300 namespace declarations in scope, and an element may have at "
            "most 256.",
            "namespaces in scope");

    // More different names than a document may use, and the same names many times over.
    QByteArray names = head;
    for (int n = 0; n <= KRXMLDocument::MaximumNames; ++n)
        names += "<e" + QByteArray::number(n) + "/>";
    readers(names + "</objects>",
            "line 3: the element \u201Ce49999\u201D takes the names of elements and attributes past 50000 different "
            "ones, the most a document may use.",
            "many names");

    // Attribute defaults would be given to every element of the name.
    readers("<?xml version=\"1.0\"?>\n<!DOCTYPE objects [\n<!-- <!ATTLIST ignored> --><!ELEMENT a \"]>\">\n"
            "<!ATTLIST KRLabel d1 CDATA \"1\" d2 CDATA \"2\">]>\n<objects/>",
            "line 4: it declares attributes of the element \u201CKRLabel\u201D, and documents that declare attributes "
            "are not read.",
            "attribute defaults");

    // A name of a megabyte, and a value and a text of 4 MB, read whole.
    const QByteArray name = "n" + QByteArray(1 << 20, 'a');
    const QByteArray value = QByteArray(1 << 22, 'v');
    const QByteArray text = head + '<' + name + " " + name + "=\"" + value + "\">" + value + "</" + name
        + "></objects>";
    readers(text, {}, "long names and values");
    const KRResult<KRXMLDocument> read = KRXMLDocument::fromData(text);
    ASSERT_TRUE(read.ok());
    const KRXMLNode element = read.value().rootElement().elements().value(0);
    EXPECT_EQ(element.name().size(), name.size());
    EXPECT_EQ(element.attribute(QString::fromLatin1(name)).size(), value.size());
    EXPECT_EQ(element.stringValue().size(), value.size());

    // A property list is XML first.
    const KRResult<QVariant> list = KRPropertyList::propertyListFromData(
        "<?xml version=\"1.0\"?>\n<plist>\n<dict" + attributes(100000) + "/></plist>");
    ASSERT_FALSE(list.ok());
    EXPECT_EQ(list.error().message().toStdString(),
              "The XML text is refused: line 3: the element \u201Cdict\u201D carries 100000 attributes, and an "
              "element may carry at most 1024.");
}

TEST(KRXMLDocument, NewDocumentSavesWithDeclaration)
{
    KRXMLDocument document = KRXMLDocument::create("root");
    KRXMLNode root = document.rootElement();
    root.setAttribute("b", "2");
    root.setAttribute("a", "1 & \"one\"");
    root.appendChild(document.createTextNode("\n\t"));
    KRXMLNode function = document.createElement("fn");
    function.appendChild(document.createCDATASection("if (a]]>b) {\n\n\treturn;\n}"));
    root.appendChild(function);
    root.appendChild(document.createComment(" note "));
    root.appendChild(document.createTextNode("\n"));
    EXPECT_EQ(document.xmlData(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<root b=\"2\" a=\"1 &amp; &quot;one&quot;\">\n\t<fn><![CDATA[if (a]]]]><![CDATA[>b) {\n\n\treturn;\n}]]></fn>"
              "<!-- note -->\n</root>\n");
    // The split CDATA section reads back as the same text.
    const KRXMLDocument again = parse(document.xmlData());
    EXPECT_EQ(again.rootElement().firstElementForName("fn").stringValue(), "if (a]]>b) {\n\n\treturn;\n}");
}

TEST(KRXMLDocument, ControlCharactersAreDroppedSoTheFileReadsBack)
{
    KRXMLDocument document = KRXMLDocument::create("root");
    document.rootElement().setStringValue(QStringLiteral("a\x01" "b\tc\x1f"));
    document.rootElement().setAttribute("x", QStringLiteral("1\x02" "2"));
    const KRXMLDocument again = parse(document.xmlData());
    EXPECT_EQ(again.rootElement().stringValue(), "ab\tc");
    EXPECT_EQ(again.rootElement().attribute("x"), "12");
}

// --- Tree editing and node identity

TEST(KRXMLNode, DetachAndReattachKeepIdentity)
{
    KRXMLDocument document = parse("<root><a id=\"1\"><x/></a><b/><c/></root>");
    KRXMLNode root = document.rootElement();
    KRXMLNode a = root.firstElementForName("a");
    KRXMLNode x = a.firstElementForName("x");
    const KRXMLNode copyOfHandle = a;

    a.detach();
    EXPECT_TRUE(a.isDetached());
    EXPECT_FALSE(a.parent());
    EXPECT_EQ(a.index(), -1);
    EXPECT_EQ(names(root.elements()), (QStringList{"b", "c"}));
    EXPECT_EQ(document.detachedNodeCount(), 1);
    // The detached subtree is still usable through any handle.
    EXPECT_EQ(copyOfHandle.attribute("id"), "1");
    EXPECT_EQ(x.parent(), a);
    a.setAttribute("id", "2");

    root.appendChild(a);
    EXPECT_EQ(document.detachedNodeCount(), 0);
    EXPECT_EQ(names(root.elements()), (QStringList{"b", "c", "a"}));
    EXPECT_EQ(copyOfHandle.attribute("id"), "2");
    EXPECT_EQ(copyOfHandle.index(), 2);
    EXPECT_EQ(root.firstElementForXPath("a/x"), x);
    EXPECT_EQ(x.parent(), copyOfHandle);

    // Insert at a position, and moving within the same parent.
    root.insertChild(a, 0);
    EXPECT_EQ(names(root.elements()), (QStringList{"a", "b", "c"}));
    root.insertChild(a, 3);
    EXPECT_EQ(names(root.elements()), (QStringList{"b", "c", "a"}));
    root.insertChild(root.firstElementForName("c"), 0);
    EXPECT_EQ(names(root.elements()), (QStringList{"c", "b", "a"}));
    EXPECT_EQ(document.xmlData(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root><c/><b/><a id=\"2\"><x/></a></root>\n");
}

TEST(KRXMLNode, HandlesOfADeadDocumentAreNull)
{
    KRXMLNode detached;
    KRXMLNode attached;
    KRXMLNode attribute;
    {
        KRXMLDocument document = parse("<root><a/><b c=\"1\"/></root>");
        attached = document.rootElement().firstElementForName("a");
        attribute = document.rootElement().firstElementForXPath("b/@c");
        EXPECT_EQ(attribute.kind(), KRXMLNode::Kind::Attribute);
        EXPECT_EQ(attribute.stringValue(), "1");
        detached = document.rootElement().firstElementForName("b");
        detached.detach();
        const KRXMLNode copy = detached;
        EXPECT_FALSE(attached.isNull());
        EXPECT_EQ(attached.document(), document);
    }
    EXPECT_TRUE(attached.isNull());
    EXPECT_TRUE(detached.isNull());
    EXPECT_TRUE(attribute.isNull());
    EXPECT_TRUE(attached.document().isNull());
    EXPECT_EQ(attached.kind(), KRXMLNode::Kind::Null);
    KRXMLNode moved = std::move(detached);
    EXPECT_TRUE(moved.isNull());
}

// Documents made after one died may take its place among the documents: its handles stay
// null through any number of them, are never counted on a node, and a node of theirs is not
// taken for one of the document they are given to.
TEST(KRXMLNode, HandlesOfADeadDocumentStayNullForLaterDocuments)
{
    KRXMLNode old;
    {
        KRXMLDocument document = parse("<root><a/></root>");
        old = document.rootElement().firstElementForName("a");
    }
    for (int i = 0; i < 100; ++i) {
        KRXMLDocument later = parse("<root><a/></root>");
        KRXMLNode a = later.rootElement().firstElementForName("a");
        const KRXMLNode copy = old;
        EXPECT_TRUE(old.isNull());
        EXPECT_TRUE(copy.isNull());
        EXPECT_TRUE(old.document().isNull());
        EXPECT_EQ(old.kind(), KRXMLNode::Kind::Null);
        EXPECT_FALSE(a.isNull());
        EXPECT_EQ(a.document(), later);
        a.detach();
        EXPECT_EQ(later.detachedNodeCount(), 1);
        a = KRXMLNode();
        EXPECT_EQ(later.detachedNodeCount(), 0);
    }
    KRXMLDocument later = parse("<root/>");
    EXPECT_DEATH(later.rootElement().appendChild(old), "same document");
    EXPECT_DEATH(later.setRootElement(old), "element of this document");
    EXPECT_DEATH(old.childCount(), "null XML node");
}

// A handle asked for its document on one thread while another lets go of the document's last
// reference: it gets the document, which then lives on while it is held, or null, never a
// document on its way out.
TEST(KRXMLNode, DocumentOfAHandleWhileTheDocumentDies)
{
    for (int round = 0; round < 100; ++round) {
        std::optional<KRXMLDocument> document = parse("<root><a/></root>");
        const KRXMLNode a = document->rootElement().firstElementForName("a");
        std::atomic<bool> go = false;
        std::thread dropper([&] {
            while (!go.load())
                std::this_thread::yield();
            document.reset();
        });
        go = true;
        for (;;) {
            const KRXMLDocument found = a.document();
            if (!found)
                break;
            EXPECT_EQ(found.rootElement().firstElementForName("a"), a);
        }
        dropper.join();
        EXPECT_TRUE(a.isNull());
    }
}

TEST(KRXMLNode, UnreferencedDetachedNodesAreFreed)
{
    KRXMLDocument document = KRXMLDocument::create("root");
    {
        KRXMLNode temporary = document.createElement("t");
        EXPECT_EQ(document.detachedNodeCount(), 1);
    }
    EXPECT_EQ(document.detachedNodeCount(), 0);

    KRXMLNode root = document.rootElement();
    root.appendChild(document.createElement("a"));
    KRXMLNode inner = document.createElement("inner");
    root.firstElementForName("a").appendChild(inner);
    root.removeChildAtIndex(0); // "a" is referenced only through its child's handle
    EXPECT_EQ(document.detachedNodeCount(), 1);
    EXPECT_EQ(inner.parent().name(), "a");
    // Handles found by walking the tree count as any other: the subtree stays while one is held.
    KRXMLNode walked = inner.parent().elements().first();
    EXPECT_EQ(walked, inner);
    inner = KRXMLNode();
    EXPECT_EQ(document.detachedNodeCount(), 1);
    EXPECT_EQ(walked.parent().firstElementForName("inner").nextSibling(), KRXMLNode());
    walked = KRXMLNode();
    EXPECT_EQ(document.detachedNodeCount(), 0);

    // Replacing the children with text releases them unless a handle holds one.
    root.appendChild(document.createElement("kept"));
    KRXMLNode kept = root.firstElementForName("kept");
    root.appendChild(document.createElement("dropped"));
    root.setStringValue("text");
    EXPECT_EQ(root.childCount(), 1);
    EXPECT_EQ(root.stringValue(), "text");
    EXPECT_EQ(document.detachedNodeCount(), 1);
    EXPECT_TRUE(kept.isDetached());
    root.setStringValue(QString());
    EXPECT_EQ(root.childCount(), 0);
}

// Threads reading one document and each changing elements of its own (a build makes its
// pages side by side): handle counts of shared nodes stay right, so a node is freed exactly
// when its last handle goes, and what each thread wrote is there.
TEST(KRXMLNode, ThreadsShareADocument)
{
    KRXMLDocument document = parse("<root><shared a=\"1\" b=\"2\" c=\"3\"/><w/><w/><w/><w/></root>");
    KRXMLNode root = document.rootElement();
    KRXMLNode shared = root.firstElementForName("shared");
    const QList<KRXMLNode> own = root.elementsForName("w");
    ASSERT_EQ(own.size(), 4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            KRXMLNode mine = own.at(t);
            for (int i = 0; i < 5000; ++i) {
                const KRXMLNode copy = shared; // counted in the shared node
                EXPECT_EQ(copy.attribute(i % 2 ? "c" : "a"), i % 2 ? "3" : "1");
                // Walks of the shared part of the tree hand out handles of shared nodes.
                EXPECT_EQ(mine.parent().elements().size(), 5);
                EXPECT_EQ(root.firstElementForName("shared"), shared);
                mine.setAttribute(QStringLiteral("n%1").arg(i % 40), QString::number(i));
                mine.appendChild(document.createElement(QStringLiteral("e%1").arg(i % 7)));
                mine.removeChildAtIndex(0);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (const KRXMLNode &mine : own) {
        EXPECT_EQ(mine.attribute("n39"), "4999");
        EXPECT_EQ(mine.childCount(), 0);
    }
    EXPECT_EQ(document.detachedNodeCount(), 0);
    KRXMLNode held = shared;
    root.removeChildAtIndex(0);
    EXPECT_EQ(document.detachedNodeCount(), 1);
    shared = KRXMLNode();
    EXPECT_EQ(held.attribute("b"), "2");
    held = KRXMLNode();
    EXPECT_EQ(document.detachedNodeCount(), 0);
}

TEST(KRXMLNode, ReplacingTheRootDetachesTheOldOne)
{
    KRXMLDocument document = KRXMLDocument::create("old");
    KRXMLNode old = document.rootElement();
    document.setRootElement(document.createElement("new"));
    EXPECT_EQ(document.rootElement().name(), "new");
    EXPECT_TRUE(old.isDetached());
    document.setRootElement(old);
    EXPECT_EQ(document.rootElement(), old);
    EXPECT_EQ(document.detachedNodeCount(), 0); // "new" had no handle left
}

TEST(KRXMLNode, AdjacentTextNodesAreNotMerged)
{
    KRXMLDocument document = KRXMLDocument::create("p");
    KRXMLNode root = document.rootElement();
    KRXMLNode first = document.createTextNode("one ");
    KRXMLNode second = document.createTextNode("two");
    root.appendChild(first);
    root.appendChild(second);
    EXPECT_EQ(root.childCount(), 2);
    EXPECT_EQ(second.index(), 1);
    EXPECT_EQ(root.stringValue(), "one two");
    second.setStringValue("three");
    EXPECT_EQ(root.xmlString(), "<p>one three</p>");
}

TEST(KRXMLNode, AttributesKeepOrder)
{
    KRXMLDocument document = parse("<e z=\"1\" a=\"2\" m=\"3\"/>");
    KRXMLNode element = document.rootElement();
    element.setAttribute("a", "changed");
    element.setAttribute("new", "");
    EXPECT_EQ(element.attributeNames(), (QStringList{"z", "a", "m", "new"}));
    EXPECT_TRUE(element.hasAttribute("new"));
    EXPECT_FALSE(element.attribute("new").isNull());
    EXPECT_TRUE(element.attribute("absent").isNull());
    element.removeAttribute("z");
    element.removeAttribute("absent");
    EXPECT_EQ(element.attributeNames(), (QStringList{"a", "m", "new"}));
    EXPECT_EQ(element.xmlString(), "<e a=\"changed\" m=\"3\" new=\"\"/>");
}

// Lookups remember where they last found an attribute; removing, detaching and copying must
// never leave that pointing at an attribute of another element or at freed memory.
TEST(KRXMLNode, AttributeLookupsStayRightAcrossRemovalsAndCopies)
{
    KRXMLDocument document = parse("<r><e a0=\"0\" a1=\"1\" a2=\"2\" a3=\"3\" a4=\"4\" a5=\"5\"/></r>");
    KRXMLNode element = document.rootElement().firstElementForName("e");
    const auto expectValues = [](const KRXMLNode &e, const QStringList &present) {
        for (int i = 0; i < 8; ++i) {
            const QString name = QStringLiteral("a%1").arg(i);
            EXPECT_EQ(e.attribute(name), present.contains(name) ? QString::number(i) : QString()) << qPrintable(name);
        }
    };
    // In stored order, backwards, and with misses in between.
    expectValues(element, {"a0", "a1", "a2", "a3", "a4", "a5"});
    for (int i = 5; i >= 0; --i)
        EXPECT_EQ(element.attribute(QStringLiteral("a%1").arg(i)), QString::number(i));
    EXPECT_TRUE(element.attribute("").isNull());

    // Removed: the attribute found last, the one always asked for after another, and one by
    // XPath handle.
    EXPECT_EQ(element.attribute("a2"), "2");
    EXPECT_EQ(element.attribute("a3"), "3");
    EXPECT_EQ(element.attribute("a2"), "2");
    element.removeAttribute("a3");
    EXPECT_EQ(element.attribute("a2"), "2");
    EXPECT_TRUE(element.attribute("a3").isNull());
    expectValues(element, {"a0", "a1", "a2", "a4", "a5"});
    EXPECT_EQ(element.attribute("a5"), "5");
    element.removeAttribute("a5");
    EXPECT_EQ(element.attribute("a4"), "4");
    KRXMLNode attribute = element.firstElementForXPath("@a4");
    attribute.detach();
    attribute = KRXMLNode(); // freed
    expectValues(element, {"a0", "a1", "a2"});
    element.setAttribute("a6", "6");
    element.setAttribute("a2", "2");
    expectValues(element, {"a0", "a1", "a2", "a6"});

    // A copy made right after a lookup outlives its original.
    EXPECT_EQ(element.attribute("a1"), "1");
    KRXMLNode copy = element.deepCopy();
    element.detach();
    element = KRXMLNode(); // the original is freed
    expectValues(copy, {"a0", "a1", "a2", "a6"});
    EXPECT_EQ(copy.attributeNames(), (QStringList{"a0", "a1", "a2", "a6"}));

    // Imported into another document, and the source document gone.
    KRXMLDocument other = KRXMLDocument::create("root");
    KRXMLNode imported = other.importNode(copy);
    document = KRXMLDocument();
    expectValues(imported, {"a0", "a1", "a2", "a6"});
}

// An element with more attributes than the search looks at after the last one found: every
// jump (ahead past that window, back to the front, to the end, to a missing name) finds the
// right one, by UTF-16 and by UTF-8 name alike.
TEST(KRXMLNode, AttributeLookupsOnLongElementsFindEveryAttributeFromAnywhere)
{
    QByteArray xml = "<r><e";
    for (int i = 0; i < 40; ++i)
        xml += " a" + QByteArray::number(i) + "=\"v" + QByteArray::number(i) + "\"";
    xml += "/></r>";
    KRXMLDocument document = parse(xml);
    const KRXMLNode element = document.rootElement().firstElementForName("e");
    const int order[] = {0, 1, 2, 12, 13, 39, 0, 38, 5, 4, 30, 31, 9, 8, 7, 20, 2, 39, 39, 1, 25, 10, 11, 35, 3};
    for (int i : order) {
        const QByteArray name = "a" + QByteArray::number(i);
        EXPECT_EQ(element.attribute(QString::fromLatin1(name)), QStringLiteral("v%1").arg(i)) << i;
        EXPECT_EQ(element.attributeForUTF8Name(name), QStringLiteral("v%1").arg(i)) << i;
        EXPECT_TRUE(element.attributeForUTF8Name("a" + QByteArray::number(i + 40)).isNull()) << i;
    }
    EXPECT_TRUE(element.attributeForUTF8Name(QByteArrayView("a1\0", 3)).isNull());
    EXPECT_TRUE(element.attributeForUTF8Name(QByteArrayView()).isNull());
}

// Empty values are stored as the parser stores them, an unchanged value is left alone, and the
// one-pass read sees what single lookups see: every value, the qualified name, nothing for a
// missing or unasked name, the first of two places asking for one name.
TEST(KRXMLNode, EmptyValuesAndReadingManyAttributesAtOnce)
{
    KRXMLDocument document = parse("<r xmlns:k=\"urn:k\"><e a=\"1\" k:b=\"2\" c=\"\" d=\"x&amp;y\"/></r>");
    KRXMLNode element = document.rootElement().firstElementForName("e");
    element.setAttribute("c", "");
    element.setAttribute("e", "");
    element.setAttribute("a", "1");
    element.setAttribute("d", "");
    element.setAttribute("f", "");
    element.setAttribute("f", "later");
    EXPECT_EQ(element.xmlString(), "<e a=\"1\" k:b=\"2\" c=\"\" d=\"\" e=\"\" f=\"later\"/>");
    EXPECT_EQ(element.attribute("e"), "");
    EXPECT_FALSE(element.attribute("e").isNull());
    EXPECT_EQ(element.firstElementForXPath("@e").stringValue(), "");
    EXPECT_EQ(element.nodesForXPath("self::*[@e='']").size(), 1);

    const QByteArray names[] = {"f", "missing", "k:b", "", "a", "c", "a"};
    QString values[7];
    element.attributeValues(names, 7, values);
    EXPECT_EQ(values[0], "later");
    EXPECT_TRUE(values[1].isNull());
    EXPECT_EQ(values[2], "2");
    EXPECT_TRUE(values[3].isNull());
    EXPECT_EQ(values[4], "1");
    EXPECT_EQ(values[5], "");
    EXPECT_FALSE(values[5].isNull());
    // One of the two places asking for "a" gets it.
    EXPECT_EQ(int(!values[4].isNull()) + int(!values[6].isNull()), 1);
    // A few names, asked in another order than the attributes stand, the last one among them.
    const QByteArray few[] = {"f", "c", "a"};
    QString fewValues[3];
    element.attributeValues(few, 3, fewValues);
    EXPECT_EQ(fewValues[0], "later");
    EXPECT_EQ(fewValues[1], "");
    EXPECT_FALSE(fewValues[1].isNull());
    EXPECT_EQ(fewValues[2], "1");

    // Saved and read back, the empty values stay.
    const KRXMLDocument reread = parse(document.xmlData());
    EXPECT_EQ(reread.rootElement().firstElementForName("e").attributeNames(),
              (QStringList{"a", "k:b", "c", "d", "e", "f"}));
}

// Short values are handed out again once read: each read still gives its own attribute's
// text, whatever was read before, and changing a text read leaves the next read alone.
TEST(KRXMLNode, ShortValuesReadRightWhateverWasReadBefore)
{
    QByteArray xml = "<r>";
    for (int i = 0; i < 2000; ++i)
        xml += "<e v=\"" + QByteArray::number(i % 700) + "\" w=\"\xc3\xa9t\xc3\xa9" + QByteArray::number(i) + "\"/>";
    // The longest text handed out again (23 bytes) and one longer, as values and as names.
    xml += "<twenty-three-characters v=\"twenty-three-characters\" w=\"twenty-four-characters-x\"/>"
           "<twenty-four-characters-x/></r>";
    KRXMLDocument document = parse(xml);
    const QList<KRXMLNode> elements = document.rootElement().elements();
    ASSERT_EQ(elements.size(), 2002);
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 2000; ++i) {
            ASSERT_EQ(elements.at(i).attribute("v"), QString::number(i % 700)) << i;
            ASSERT_EQ(elements.at(i).attribute("w"), QStringLiteral("\u00e9t\u00e9%1").arg(i)) << i;
        }
    }
    QString read = elements.at(5).attribute("v");
    read.append(QLatin1String("changed"));
    EXPECT_EQ(elements.at(5).attribute("v"), "5");
    EXPECT_EQ(elements.at(705).attribute("v"), "5");
    KRXMLNode fifth = elements.at(5);
    fifth.setAttribute("v", "6");
    EXPECT_EQ(elements.at(5).attribute("v"), "6");
    EXPECT_EQ(elements.at(2000).attribute("v"), "twenty-three-characters");
    EXPECT_EQ(elements.at(2000).attribute("w"), "twenty-four-characters-x");
    EXPECT_EQ(elements.at(1999).name(), "e");
    EXPECT_EQ(elements.at(2000).name(), "twenty-three-characters");
    EXPECT_EQ(elements.at(2001).name(), "twenty-four-characters-x");
}

// Empty attributes added with addEmptyAttribute are kept out of the tree until needed: two
// documents, one given its empty attributes by setAttribute and the other by
// addEmptyAttribute, read, copy, write and query alike at every step.
TEST(KRXMLNode, EmptyAttributesAddedLaterReadAndWriteAsSetOnes)
{
    const QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE r>\n"
                            "<r xmlns:k=\"urn:k\"><!-- c --><o id=\"1\" k:b=\"&#233;t&#xe9; &amp; &lt;\" t=\"\">hi world "
                            "<![CDATA[x < y]]><k:in a=\"1\"/><in/></o>\n<o/><?pi x?><p a='\"\n'>\xc3\xa9</p></r>\n";
    KRXMLDocument set = parse(text);
    KRXMLDocument added = parse(text);
    ASSERT_FALSE(set.isNull());
    ASSERT_FALSE(added.isNull());
    const QList<KRXMLNode> setElements = elementsOf(set);
    const QList<KRXMLNode> addedElements = elementsOf(added);
    ASSERT_EQ(setElements.size(), 6);
    const QByteArray names[] = {"top", "t", "k:b", "left", "value", "top", "k:new", "\xc3\xa9"};
    for (qsizetype e = 0; e < setElements.size(); ++e) {
        for (const QByteArray &name : names) {
            KRXMLNode one = setElements.at(e);
            if (!one.hasAttribute(QString::fromUtf8(name)))
                one.setAttribute(QString::fromUtf8(name), "");
            KRXMLNode other = addedElements.at(e);
            other.addEmptyAttribute(name);
        }
    }
    const auto expectSame = [&](const char *step) {
        SCOPED_TRACE(step);
        expectSameReads(added, set, {"top", "absent", "id", "k:b", "value", "\xc3\xa9", "t", "top", "k:new", "a"});
    };
    expectSame("added");
    // Written twice: the text form leaves nothing behind.
    EXPECT_EQ(added.xmlData(), added.xmlData());
    const QByteArray saved = added.xmlData();
    EXPECT_TRUE(saved.contains("<o id=\"1\" k:b=\"\xc3\xa9t\xc3\xa9 &amp; &lt;\" t=\"\" top=\"\" left=\"\" value=\"\" k:new=\"\" \xc3\xa9=\"\">"))
        << saved.constData();
    EXPECT_EQ(parse(saved).xmlData(), saved);

    // Copies into another document and through the clipboard's text.
    KRXMLDocument target = KRXMLDocument::create("t");
    EXPECT_EQ(target.importNode(elementsOf(added).at(1)).xmlData(), target.importNode(elementsOf(set).at(1)).xmlData());
    KRResult<QList<KRXMLNode>> pasted = target.parseFragment(elementsOf(added).at(1).xmlData());
    ASSERT_TRUE(pasted.ok());
    EXPECT_EQ(pasted.value().first().attributeNames(), elementsOf(set).at(1).attributeNames());

    // Changes: an attribute added after them comes after them, one removed goes, one set
    // keeps its place; the same again adds nothing.
    for (KRXMLDocument *document : {&set, &added}) {
        const QList<KRXMLNode> elements = elementsOf(*document);
        KRXMLNode first = elements.at(1);
        first.setAttribute("later", "1");
        first.setAttribute("left", "5");
        first.addEmptyAttribute("left");
        KRXMLNode second = elements.at(2);
        second.removeAttribute("value");
        second.removeAttribute("t");
        KRXMLNode third = elements.at(3);
        third.setAttribute("top", "x");
        if (document == &added)
            third.addEmptyAttribute("after");
        else
            third.setAttribute("after", "");
        KRXMLNode fourth = elements.at(4);
        fourth.detach(); // freed with its list
    }
    expectSame("changed");

    // Moved elsewhere in the document, and a query about attributes.
    for (KRXMLDocument *document : {&set, &added}) {
        const QList<KRXMLNode> elements = elementsOf(*document);
        document->rootElement().insertChild(elements.last(), 0);
    }
    expectSame("moved");
    EXPECT_EQ(added.nodesForXPath("//*[@value='']").size(), set.nodesForXPath("//*[@value='']").size());
    EXPECT_EQ(added.nodesForXPath("//@top").size(), set.nodesForXPath("//@top").size());
    expectSame("queried");

    // A document without a name dictionary takes them into the tree at once; an element
    // detached with its list and a document dying with lists leave nothing behind.
    KRXMLDocument made = KRXMLDocument::create("m");
    KRXMLNode madeRoot = made.rootElement();
    madeRoot.setAttribute("a", "1");
    madeRoot.addEmptyAttribute("b");
    madeRoot.addEmptyAttribute("a");
    EXPECT_EQ(madeRoot.xmlString(), "<m a=\"1\" b=\"\"/>");
    {
        KRXMLDocument dying = parse("<r><e/><e/></r>");
        KRXMLNode e = dying.rootElement().firstElementForName("e");
        e.addEmptyAttribute("gone");
        e.detach();
        dying.rootElement().elements().last().addEmptyAttribute("kept");
        EXPECT_EQ(e.xmlString(), "<e gone=\"\"/>");
    }
}

// A document read with the names of empty attributes to list (as a project the application
// saved is read) and the same text read plainly: the same text written, the same reads, and
// the same after the same edits, whichever of each element's empty attributes were listed.
TEST(KRXMLDocument, ListedEmptyAttributesOfAReadDocumentReadAndWriteAsTheText)
{
    const QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE r>\n"
                            "<r xmlns:k=\"urn:k\" b=\"\">\n<o a=\"1\" b=\"\" c=\"\">t<o c=\"\"/></o>\n"
                            "<o b=\"\" a=\"1\" c=\"\"/>\n<o a=\"1\" c=\"\" zz=\"\"/>\n<o a=\"1\" k:c=\"\"/>\n"
                            "<o a=\"1\" c=\"\"/>\n<o b=\"\" c=\"\"/>\n<p b=\"\" c=\"\"/>\n</r>\n";
    const std::vector<QByteArray> names{"c", "b", "k:c"};
    int asked = 0;
    const KRXMLDocument::EmptyAttributeNames listed = [&](const char *element) -> const std::vector<QByteArray> * {
        ++asked;
        return std::strcmp(element, "o") == 0 ? &names : nullptr;
    };
    KRResult<KRXMLDocument> read = KRXMLDocument::fromData(text, listed);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(asked, 9 + 3); // every element, once, and each name once more as the shape is checked
    KRXMLDocument listing = read.value();
    KRXMLDocument plain = parse(text);
    EXPECT_EQ(listing.xmlData().toStdString(), plain.xmlData().toStdString());
    EXPECT_EQ(plain.xmlData().toStdString(), text.toStdString());
    const auto expectSame = [&](const char *step) {
        SCOPED_TRACE(step);
        expectSameReads(listing, plain, {"c", "a", "b", "zz", "k:c", "absent", "d"});
    };
    expectSame("read");

    // Edits: one set keeps its place, one removed goes, one added comes after them all, an
    // element moves and one leaves with its list; then a query about attributes.
    for (KRXMLDocument *document : {&listing, &plain}) {
        const QList<KRXMLNode> elements = elementsOf(*document);
        KRXMLNode first = elements.at(1);
        first.setAttribute("b", "x");
        first.addEmptyAttribute("d");
        KRXMLNode second = elements.at(2);
        second.removeAttribute("c");
        KRXMLNode sixth = elements.at(6);
        sixth.addEmptyAttribute("c");
        sixth.addEmptyAttribute("d");
        document->rootElement().insertChild(elements.at(8), 0);
        KRXMLNode third = elements.at(3);
        third.detach();
    }
    expectSame("edited");
    KRXMLDocument target = KRXMLDocument::create("t");
    EXPECT_EQ(target.importNode(elementsOf(listing).at(2)).xmlData(), target.importNode(elementsOf(plain).at(2)).xmlData());
    EXPECT_EQ(listing.nodesForXPath("//o[@c='']").size(), plain.nodesForXPath("//o[@c='']").size());
    expectSame("queried");

    // A text that is not well-formed after some lists were made: the error, nothing left.
    KRResult<KRXMLDocument> broken = KRXMLDocument::fromData("<r><o a=\"1\" c=\"\"><o b=\"\"/></r>", listed);
    ASSERT_FALSE(broken.ok());
    EXPECT_EQ(broken.error().userInfo().value("line").toInt(), 1);
}

TEST(KRXMLNode, PrefixedNamesMatchQualified)
{
    KRXMLDocument document = parse("<r xmlns:k=\"urn:k\"><k:item k:id=\"1\" id=\"2\"/><item/></r>");
    const KRXMLNode root = document.rootElement();
    EXPECT_EQ(root.elementsForName("k:item").size(), 1);
    EXPECT_EQ(root.elementsForName("item").size(), 1);
    const KRXMLNode item = root.firstElementForName("k:item");
    EXPECT_EQ(item.attribute("k:id"), "1");
    EXPECT_EQ(item.attribute("id"), "2");
    EXPECT_TRUE(item.attribute("k:i").isNull());
    EXPECT_EQ(item.attributeNames(), (QStringList{"k:id", "id"}));
}

TEST(KRXMLNode, CopyImportAndFragments)
{
    KRXMLDocument source = parse("<root><obj kr_id=\"a\">text<![CDATA[x < y]]><child/></obj></root>");
    const KRXMLNode original = source.rootElement().firstElementForName("obj");
    const KRXMLNode copy = original.deepCopy();
    EXPECT_NE(copy, original);
    EXPECT_TRUE(copy.isDetached());
    EXPECT_EQ(copy.xmlData(), original.xmlData());
    EXPECT_EQ(copy.xmlData(), "<obj kr_id=\"a\">text<![CDATA[x < y]]><child/></obj>");

    // Clipboard text round trip into another document.
    KRXMLDocument target = KRXMLDocument::create("root");
    const QByteArray clipboard = "<objects>" + original.xmlData() + "</objects>";
    KRResult<QList<KRXMLNode>> pasted = target.parseFragment(clipboard);
    ASSERT_TRUE(pasted.ok());
    ASSERT_EQ(pasted.value().size(), 1);
    const KRXMLNode objects = pasted.value().first();
    EXPECT_EQ(objects.name(), "objects");
    EXPECT_EQ(objects.document(), target);
    for (const KRXMLNode &object : objects.elements())
        target.rootElement().appendChild(object);
    EXPECT_EQ(target.rootElement().xmlString(), "<root><obj kr_id=\"a\">text<![CDATA[x < y]]><child/></obj></root>");

    KRResult<QList<KRXMLNode>> several = target.parseFragment("<a/> text <!--c--><b>é</b>");
    ASSERT_TRUE(several.ok());
    ASSERT_EQ(several.value().size(), 4);
    EXPECT_EQ(several.value().at(1).stringValue(), " text ");
    EXPECT_EQ(several.value().at(3).stringValue(), QString::fromUtf8("é"));

    KRResult<QList<KRXMLNode>> declared = target.parseFragment("<?xml version=\"1.0\"?>\n<objects><x/></objects>");
    ASSERT_TRUE(declared.ok());
    EXPECT_EQ(declared.value().first().xmlString(), "<objects><x/></objects>");

    KRResult<QList<KRXMLNode>> broken = target.parseFragment("<objects>\n<x></objects>");
    ASSERT_FALSE(broken.ok());
    EXPECT_EQ(broken.error().userInfo().value("line").toInt(), 2);

    const KRXMLNode imported = target.importNode(original);
    EXPECT_EQ(imported.document(), target);
    EXPECT_EQ(imported.xmlData(), original.xmlData());
}

TEST(KRXMLNode, XPathRelativeToContextNode)
{
    KRXMLDocument document = parse(
        "<KRProject><KRPages><KRPage kr_id=\"p1\"><KRButton kr_id=\"b\"/></KRPage>"
        "<KRPage kr_id=\"p2\"><KRButton kr_id=\"c\"/></KRPage></KRPages><KRThemes/></KRProject>");
    const KRXMLNode root = document.rootElement();
    EXPECT_EQ(document.nodesForXPath("//KRPage").size(), 2);
    const KRXMLNode page2 = root.firstElementForXPath("//KRPage[@kr_id='p2']");
    ASSERT_TRUE(page2);
    EXPECT_EQ(page2.firstElementForXPath("KRButton").attribute("kr_id"), "c");
    EXPECT_EQ(page2.firstElementForXPath("../KRPage").attribute("kr_id"), "p1");
    EXPECT_EQ(page2.nodesForXPath("//KRButton").size(), 2);
    EXPECT_EQ(page2.firstElementForXPath("@kr_id").stringValue(), "p2");
    // Invalid queries and queries without a node set find nothing, silently.
    EXPECT_FALSE(root.firstElementForXPath("//[broken"));
    EXPECT_FALSE(root.firstElementForXPath(""));
    EXPECT_FALSE(root.firstElementForXPath("count(//KRPage)"));
    EXPECT_FALSE(root.firstElementForXPath("//Nothing"));
    // A detached node is still a context node.
    KRXMLNode detached = page2;
    detached.detach();
    EXPECT_EQ(detached.firstElementForXPath("KRButton").attribute("kr_id"), "c");
}

// --- Element helpers

TEST(KRXMLElementHelpers, FirstElementForNameCreatesOnce)
{
    KRXMLDocument document = parse("<root><a>one</a><a>two</a></root>");
    KRXMLNode root = document.rootElement();
    EXPECT_EQ(root.stringValueOfFirstElementForName("a"), "one");
    EXPECT_TRUE(root.stringValueOfFirstElementForName("missing").isNull());
    EXPECT_FALSE(root.firstElementForName("b", false));
    EXPECT_EQ(root.childCount(), 2);
    const KRXMLNode created = root.firstElementForName("b", true);
    ASSERT_TRUE(created);
    EXPECT_EQ(root.childCount(), 3);
    EXPECT_EQ(created.index(), 2);
    EXPECT_EQ(root.firstElementForName("b", true), created);
    EXPECT_EQ(root.childCount(), 3);
    EXPECT_EQ(root.stringValueOfFirstElementForName("b"), "");
}

struct IntegerCase
{
    const char *attribute; // null: absent
    std::int64_t expected;
};

class KRXMLIntegerValue : public testing::TestWithParam<IntegerCase>
{
};

TEST_P(KRXMLIntegerValue, ReadsLeadingInteger)
{
    KRXMLDocument document = KRXMLDocument::create("e");
    KRXMLNode element = document.rootElement();
    if (GetParam().attribute)
        element.setAttribute("v", QString::fromUtf8(GetParam().attribute));
    EXPECT_EQ(element.integerValueForAttribute("v"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KRXMLIntegerValue,
    testing::Values(IntegerCase{nullptr, std::numeric_limits<std::int64_t>::max()}, IntegerCase{"12px", 12},
                    IntegerCase{"abc", 0}, IntegerCase{"", 0}, IntegerCase{"  42", 42}, IntegerCase{"\t-7x", -7},
                    IntegerCase{"+5", 5}, IntegerCase{"- 5", 0}, IntegerCase{"3.9", 3},
                    IntegerCase{"99999999999999999999", std::numeric_limits<std::int64_t>::max()},
                    IntegerCase{"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
                    IntegerCase{"-99999999999999999999", std::numeric_limits<std::int64_t>::min()}));

// Random edits through many handles, run under the address sanitizer: any node freed while a
// handle still names it, freed twice or never freed shows up there.
TEST(KRXMLNode, RandomEditsKeepHandlesValid)
{
    std::uint32_t seed = 12345;
    auto next = [&seed](int bound) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(bound));
    };
    QList<KRXMLNode> handles;
    {
        KRXMLDocument document = KRXMLDocument::create("root");
        handles.append(document.rootElement());
        for (int step = 0; step < 4000; ++step) {
            const KRXMLNode node = handles.at(next(handles.size()));
            switch (next(9)) {
            case 0:
                handles.append(document.createElement(QStringLiteral("e%1").arg(step)));
                break;
            case 1:
                handles.append(next(2) ? document.createTextNode("t") : document.createCDATASection("c"));
                break;
            case 2: {
                KRXMLNode parent = handles.at(next(handles.size()));
                if (parent.isElement() && !node.isAncestorOf(parent) && node != document.rootElement())
                    parent.insertChild(node, next(parent.childCount() + 1));
                break;
            }
            case 3:
                if (node != document.rootElement())
                    KRXMLNode(node).detach();
                break;
            case 4:
                if (node.isElement() && node.childCount() > 0)
                    KRXMLNode(node).removeChildAtIndex(next(node.childCount()));
                break;
            case 5:
                if (node.isElement() && next(4) == 0)
                    KRXMLNode(node).setStringValue("s");
                break;
            case 6:
                handles.append(node.deepCopy());
                break;
            case 7:
                if (handles.size() > 1)
                    handles.removeAt(next(handles.size() - 1) + 1);
                break;
            case 8:
                for (const KRXMLNode &child : node.children())
                    handles.append(child);
                if (node.isElement())
                    KRXMLNode(node).setAttribute("a", QString::number(step));
                break;
            }
        }
        // Everything still reachable serialises and reads back.
        EXPECT_TRUE(KRXMLDocument::fromData(document.xmlData()).ok());
        for (const KRXMLNode &handle : handles)
            EXPECT_FALSE(handle.isNull());
        handles.erase(handles.begin() + handles.size() / 2, handles.end());
    }
    for (const KRXMLNode &handle : handles)
        EXPECT_TRUE(handle.isNull());
}
