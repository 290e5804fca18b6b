#include "KRMarkdown.h"

#include <core/KRRunLogger.h>
#include <core/markdown/buffer.h>
#include <core/markdown/html.h>
#include <core/markdown/parser.h>

QString KRMarkdown::htmlFromMarkdown(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > BUFFER_MAX_ALLOC_SIZE) {
        KR_LOG(QStringLiteral("Markdown text of %1 bytes exceeds the renderer's limit; nothing rendered")
                   .arg(utf8.size()));
        return QString();
    }

    buf *ib = bufnew(static_cast<size_t>(utf8.size()) + 1);
    buf *ob = bufnew(64);
    QString html;
    if (ib && ob) {
        bufput(ib, utf8.constData(), static_cast<size_t>(utf8.size()));
        md_callbacks callbacks;
        html_renderopt options;
        html_renderer_setup(&callbacks, &options, 0);
        if (md_parser *md = md_parser_new(0, 16, &callbacks, &options)) {
            md_parser_render(ob, ib->data, ib->size, md);
            md_parser_free(md);
        }
        html = QString::fromUtf8(reinterpret_cast<const char *>(ob->data), static_cast<qsizetype>(ob->size));
    }
    bufrelease(ib);
    bufrelease(ob);
    return html;
}
