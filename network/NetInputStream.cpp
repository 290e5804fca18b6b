#include "NetInputStream.h"

#include "NetHTTPRequest.h"

#include <QFile>
#include <QFileInfo>

#include <mutex>

namespace {
std::mutex inputStreamLock;
}

std::unique_ptr<NetInputStream> NetInputStream::inputStreamWithFileAtPath(const QString &path, std::weak_ptr<NetHTTPRequest> request)
{
    std::unique_ptr<NetInputStream> s(new NetInputStream);
    s->m_file = std::make_unique<QFile>(path);
    s->m_request = std::move(request);
    return s;
}

std::unique_ptr<NetInputStream> NetInputStream::inputStreamWithData(const QByteArray &data, std::weak_ptr<NetHTTPRequest> request)
{
    std::unique_ptr<NetInputStream> s(new NetInputStream);
    s->m_data = data;
    s->m_request = std::move(request);
    return s;
}

std::unique_ptr<NetInputStream> NetInputStream::inputStreamWithParts(const QList<NetBodyPart> &parts,
                                                                     std::weak_ptr<NetHTTPRequest> request)
{
    std::unique_ptr<NetInputStream> s(new NetInputStream);
    s->m_parts = parts;
    s->m_isParts = true;
    s->m_request = std::move(request);
    return s;
}

NetInputStream::~NetInputStream() = default;

qint64 NetInputStream::measureParts(QList<NetBodyPart> &parts, QString *missing)
{
    qint64 length = 0;
    for (NetBodyPart &part : parts) {
        if (part.filePath.isEmpty()) {
            length += part.data.size();
            continue;
        }
        const QFileInfo info(part.filePath);
        if (!info.exists() || info.isDir()) {
            if (missing)
                *missing = part.filePath;
            return -1;
        }
        if (part.fileSize < 0) // measured once: the length already told stays the length sent
            part.fileSize = info.size();
        length += part.fileSize;
    }
    return length;
}

bool NetInputStream::open()
{
    if (m_isParts) {
        if (m_partSizes.size() == m_parts.size())
            return true;
        m_partSizes.clear();
        for (const NetBodyPart &part : m_parts) {
            if (part.filePath.isEmpty()) {
                m_partSizes.append(part.data.size());
                continue;
            }
            const QFileInfo info(part.filePath);
            if (!info.isFile() || !info.isReadable()) {
                m_error = QStringLiteral("Unable to read the file at %1").arg(part.filePath);
                return false;
            }
            m_partSizes.append(part.fileSize >= 0 ? part.fileSize : info.size());
        }
        return true;
    }
    return !m_file || m_file->isOpen() || m_file->open(QIODevice::ReadOnly);
}

// Fills the buffer from the parts in order; m_offset counts within the current part.
qint64 NetInputStream::readParts(char *buffer, qint64 length)
{
    if (!open())
        return -1;
    qint64 total = 0;
    while (total < length && m_part < m_parts.size()) {
        const NetBodyPart &part = m_parts[m_part];
        const qint64 left = m_partSizes[m_part] - m_offset;
        if (left <= 0) {
            m_file.reset();
            ++m_part;
            m_offset = 0;
            continue;
        }
        const qint64 want = std::min(length - total, left);
        qint64 n = 0;
        if (part.filePath.isEmpty()) {
            memcpy(buffer + total, part.data.constData() + m_offset, size_t(want));
            n = want;
        } else {
            if (!m_file) {
                m_file = std::make_unique<QFile>(part.filePath);
                if (!m_file->open(QIODevice::ReadOnly) || !m_file->seek(m_offset)) {
                    m_error = QStringLiteral("Unable to read the file at %1").arg(part.filePath);
                    return -1;
                }
            }
            n = m_file->read(buffer + total, want);
            if (n <= 0) {
                m_error = QStringLiteral("The file at %1 could not be read in full: it changed while it was being sent")
                              .arg(part.filePath);
                return -1;
            }
        }
        m_offset += n;
        total += n;
    }
    return total;
}

qint64 NetInputStream::read(char *buffer, qint64 maxLength)
{
    qint64 length = maxLength;
    {
        std::lock_guard<std::mutex> guard(inputStreamLock);
        if (NetHTTPRequest::isBandwidthThrottled()) {
            const qint64 allowance = qint64(NetHTTPRequest::maxUploadReadLength());
            if (allowance <= length)
                length = allowance == 0 ? 1 : allowance;
        }
        NetHTTPRequest::incrementBandwidthUsedInLastSecond(std::uint64_t(length));
    }
    if (m_isParts)
        return readParts(buffer, length);
    if (m_file) {
        if (!open())
            return -1;
        return m_file->read(buffer, length);
    }
    const qint64 n = std::min(length, qint64(m_data.size()) - m_offset);
    if (n <= 0)
        return 0;
    memcpy(buffer, m_data.constData() + m_offset, size_t(n));
    m_offset += n;
    return n;
}

bool NetInputStream::rewind()
{
    m_offset = 0;
    if (m_isParts) {
        m_part = 0;
        m_file.reset();
        return true;
    }
    return !m_file || (open() && m_file->seek(0));
}
