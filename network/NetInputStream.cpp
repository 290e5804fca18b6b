#include "NetInputStream.h"

#include "NetHTTPRequest.h"

#include <QFile>

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

NetInputStream::~NetInputStream() = default;

bool NetInputStream::open()
{
    return !m_file || m_file->isOpen() || m_file->open(QIODevice::ReadOnly);
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
    return !m_file || (open() && m_file->seek(0));
}
