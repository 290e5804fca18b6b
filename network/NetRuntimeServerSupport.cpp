#include "NetRuntimeServerSupport.h"

#include <core/KRNodeRunner.h>
#include <network/NetHTTPRequest.h>

#include <memory>

void NetRuntimeServerSupport::install()
{
    KRNodeRunner::setTerminateRequestSender(&NetRuntimeServerSupport::sendTerminateRequest);
}

void NetRuntimeServerSupport::sendTerminateRequest(const QUrl &url, const QByteArray &token,
                                                   std::function<void()> completion)
{
        auto request = NetHTTPRequest::requestWithURL(url);
        request->setRequestMethod(QStringLiteral("POST"));
        request->addRequestHeader(QString::fromLatin1(KRNodeRunner::tokenHeaderName), QString::fromLatin1(token));
        // Never answered from (or stored in) a response cache, never kept for re-use.
        request->setDownloadCache(nullptr);
        request->setShouldAttemptPersistentConnection(false);
        request->setTimeOutSeconds(terminateTimeOutSeconds);
        // The completion block runs on success only and the failed block on every failure;
        // the flag guards against both ever running.
        auto pending = std::make_shared<std::function<void()>>(std::move(completion));
        auto finish = [pending] {
            if (!*pending)
                return;
            auto done = std::move(*pending);
            *pending = nullptr;
            done();
        };
        request->setCompletionBlock(finish);
        request->setFailedBlock(finish);
        request->startAsynchronous();
}
