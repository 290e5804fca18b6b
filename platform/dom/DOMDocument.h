#pragma once

#include <platform/dom/DOMNode.h>

#include <QHash>
#include <QString>
#include <QUrl>

#include <memory>
#include <vector>

class DOMCSSStyleSheet;
class DOMComment;
class DOMElement;
class DOMMutationListener;
class DOMRecordingScriptHost;
class DOMScriptHost;
class DOMText;
struct DOMMutation;

// An HTML document: the root of a tree of elements, text and comments, with its own node-id
// space, its style sheets, its address, its mutation listeners and its script host.
// Model code runs on it headless; a live view mirrors it from the mutation stream.
class DOMDocument : public DOMNode
{
public:
    ~DOMDocument() override;

    // A document without any node (not even an html element).
    static std::shared_ptr<DOMDocument> create();
    // What a browser makes of an empty page: html, head and body, no doctype (quirks mode).
    static std::shared_ptr<DOMDocument> createHTMLDocument();
    // Parses a whole page. HTML parsing never fails; broken markup is repaired as a browser does.
    static std::shared_ptr<DOMDocument> parseHTML(const QString &html, const QUrl &documentURI = {});

    QString nodeName() const override;
    QString textContent() const override { return {}; }
    void setTextContent(const QString &) override {}

    // The doctype name ("html"), empty when the document has none.
    const QString &doctype() const { return m_doctype; }
    void setDoctype(const QString &name) { m_doctype = name; }

    std::shared_ptr<DOMElement> documentElement() const;
    std::shared_ptr<DOMElement> head() const;
    std::shared_ptr<DOMElement> body() const;

    std::shared_ptr<DOMElement> createElement(const QString &tagName);
    std::shared_ptr<DOMText> createTextNode(const QString &data);
    std::shared_ptr<DOMComment> createComment(const QString &data);
    // A copy of a node of any document, owned by this one, with fresh ids.
    std::shared_ptr<DOMNode> importNode(const DOMNode &node, bool deep);
    // Moves a node (and its subtree) into this document: it leaves its parent and takes fresh
    // ids. Null for a document node.
    std::shared_ptr<DOMNode> adoptNode(const std::shared_ptr<DOMNode> &node);

    // The first element in tree order with that "id" attribute; null for none or an empty id.
    std::shared_ptr<DOMElement> getElementById(const QString &elementId) const;
    // Elements in tree order whose tag matches (case-insensitive); "*" matches all. A snapshot.
    std::vector<std::shared_ptr<DOMElement>> getElementsByTagName(const QString &tagName) const;
    // The node of this document with that id, connected or not; null when none lives.
    std::shared_ptr<DOMNode> nodeForId(std::uint64_t nodeId) const;
    // Nodes of this document alive now, connected or not (the document included).
    qsizetype nodeCount() const { return m_nodes.size(); }

    // The sheets of the document's style elements, in tree order.
    std::vector<std::shared_ptr<DOMCSSStyleSheet>> styleSheets() const;

    const QUrl &documentURI() const { return m_documentURI; }
    void setDocumentURI(const QUrl &uri) { m_documentURI = uri; }
    // The first base element's href resolved against the document URI, else the document URI.
    QUrl baseURL() const;

    // The whole document as HTML: "<!DOCTYPE name>" when it has a doctype, then its children.
    QString serialize() const;

    // Listeners are not owned; remove a listener before it dies.
    void addMutationListener(DOMMutationListener *listener);
    void removeMutationListener(DOMMutationListener *listener);
    bool hasMutationListeners() const { return !m_listeners.empty(); }

    // The document's script host: a recording one unless another is set (not owned; null
    // restores the recording host).
    DOMScriptHost *scriptHost() const { return m_scriptHost; }
    DOMRecordingScriptHost *recordingScriptHost() const { return m_recordingHost.get(); }
    void setScriptHost(DOMScriptHost *host);
    // Reports the script to the listeners in order with the changes, then hands it to the host.
    void evaluateScript(const QString &script);

protected:
    std::shared_ptr<DOMNode> cloneInto(DOMDocument *document) const override;

private:
    friend class DOMNode;
    friend class DOMElement;
    friend class DOMCharacterData;
    friend class DOMCSSStyleSheet;
    friend class DOMCSSRule;
    friend class DOMHTMLParser;

    DOMDocument();
    std::uint64_t registerNode(DOMNode *node);
    void unregisterNode(std::uint64_t nodeId) { m_nodes.remove(nodeId); }
    void notify(DOMMutation &&mutation);
    // The node's mutations are reported only while it is in the tree.
    bool reports(const DOMNode *node) const { return !m_listeners.empty() && node->isConnected(); }
    std::shared_ptr<DOMElement> childOfDocumentElement(QLatin1String tagName) const;

    QString m_doctype;
    QUrl m_documentURI;
    std::uint64_t m_nextId = 1;
    QHash<std::uint64_t, DOMNode *> m_nodes; // not owned; nodes unregister when they die
    std::vector<DOMMutationListener *> m_listeners; // not owned
    std::unique_ptr<DOMRecordingScriptHost> m_recordingHost;
    DOMScriptHost *m_scriptHost = nullptr; // not owned
};
