#pragma once

#include <QString>

class KRError;

// Markdown to HTML for page content: no parser extensions, HTML render flags 0, nesting limit 16.
// Raw HTML in the text passes through unchanged: the text is the user's own page content.
class KRMarkdown
{
public:
    // The HTML fragment for text. Content nested more than 16 levels deep is not read further: its
    // text is kept as it stands, in a paragraph. The time taken grows with the text's length, not
    // faster, whatever its shape. When
    // the text cannot be rendered whole (its UTF-8 form exceeds 16 MiB, or its HTML would pass
    // the renderer's buffer limit or memory runs out) the result is the empty text, a run-log
    // line tells why and *error (when given) is set; never a partial rendering.
    static QString htmlFromMarkdown(const QString &text, KRError *error = nullptr);
};
