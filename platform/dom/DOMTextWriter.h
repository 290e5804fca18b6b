#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstring>

// Appends to a text in many small pieces (a page's markup or script) by writing into the
// text's own characters, with room made in large steps, where appending to the text itself
// checks and grows it for every piece. The text has its final size again once the writer is
// gone; it is not to be used otherwise while a writer writes into it.
class DOMTextWriter
{
public:
    explicit DOMTextWriter(QString &out) : m_out(out), m_size(out.size())
    {
        m_out.resize(std::max(m_out.capacity(), m_size));
        m_data = m_out.data();
        m_capacity = m_out.size();
    }
    ~DOMTextWriter() { m_out.resize(m_size); }
    DOMTextWriter(const DOMTextWriter &) = delete;
    DOMTextWriter &operator=(const DOMTextWriter &) = delete;

    void append(const QChar *chars, qsizetype count)
    {
        if (count > m_capacity - m_size)
            grow(count);
        std::memcpy(static_cast<void *>(m_data + m_size), chars, size_t(count) * sizeof(QChar));
        m_size += count;
    }
    void append(QStringView text) { append(text.data(), text.size()); }
    void append(const QString &text) { append(text.constData(), text.size()); }
    void append(QChar c) { append(&c, 1); }
    void append(QLatin1String text)
    {
        if (text.size() > m_capacity - m_size)
            grow(text.size());
        for (qsizetype i = 0; i < text.size(); ++i)
            m_data[m_size + i] = QLatin1Char(text.data()[i]);
        m_size += text.size();
    }

private:
    void grow(qsizetype count)
    {
        m_out.resize(m_size);
        m_out.reserve(std::max(m_size + count, m_capacity * 2));
        m_out.resize(m_out.capacity());
        m_data = m_out.data();
        m_capacity = m_out.size();
    }

    QString &m_out;
    qsizetype m_size;
    QChar *m_data = nullptr;
    qsizetype m_capacity = 0;
};
