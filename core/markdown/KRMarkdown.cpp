#include "KRMarkdown.h"

#include <core/KRRunLogger.h>
#include <core/markdown/buffer.h>
#include <core/markdown/html.h>
#include <core/markdown/parser.h>
#include <platform/foundation/KRError.h>

namespace {

QString markdownFailure(KRError *error, int code, const QString &message)
{
    KR_LOG(message);
    if (error)
        *error = KRError(QStringLiteral("KRMarkdown"), code, message);
    return QString();
}

} // namespace

QString KRMarkdown::htmlFromMarkdown(const QString &text, KRError *error)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > MD_INPUT_MAX_SIZE) {
        return markdownFailure(error, 1,
                               QStringLiteral("The Markdown text of %1 bytes is longer than the %2 bytes that can "
                                              "be rendered; nothing rendered")
                                   .arg(utf8.size())
                                   .arg(MD_INPUT_MAX_SIZE));
    }

    // Rendered straight from the UTF-8 bytes: the renderer reads its input without changing it.
    buf *ob = bufnew(64);
    int rendered = -1;
    QString html;
    if (ob) {
        md_callbacks callbacks;
        html_renderopt options;
        html_renderer_setup(&callbacks, &options, 0);
        if (md_parser *md = md_parser_new(0, 16, &callbacks, &options)) {
            rendered = md_parser_render(ob, reinterpret_cast<const uint8_t *>(utf8.constData()),
                                        static_cast<size_t>(utf8.size()), md);
            md_parser_free(md);
        }
        if (rendered == 0)
            html = QString::fromUtf8(reinterpret_cast<const char *>(ob->data), static_cast<qsizetype>(ob->size));
    }
    bufrelease(ob);
    if (rendered != 0) {
        return markdownFailure(error, 2,
                               QStringLiteral("The HTML of a Markdown text of %1 bytes would pass the renderer's "
                                              "limit of %2 bytes or did not fit in memory; nothing rendered")
                                   .arg(utf8.size())
                                   .arg(BUFFER_MAX_ALLOC_SIZE));
    }
    return html;
}
