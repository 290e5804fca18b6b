#pragma once

#include <QString>

// Markdown to HTML for page content: no parser extensions, HTML render flags 0, nesting limit 16.
// Raw HTML in the text passes through unchanged: the text is the user's own page content.
class KRMarkdown
{
public:
    // The HTML fragment for text. Content nested more than 16 levels deep renders nothing; a text
    // whose UTF-8 form exceeds 16 MiB gives the empty text (and a run-log line).
    static QString htmlFromMarkdown(const QString &text);
};
