#pragma once

// A request for a service that can be reached only through a proxy, sent through the test
// server as that proxy with the given delegate (which answers the proxy's credential
// challenge), run to its end.

#include "KRTestHTTPServer.h"

#include <network/NetHTTPRequest.h>
#include <KRTestSupport.h>

#include <gtest/gtest.h>

#include <memory>

namespace KRTest {

inline std::shared_ptr<NetHTTPRequest> runThroughProxy(const KRTestHTTPServer &proxy,
                                                       const std::shared_ptr<NetHTTPRequestDelegate> &delegate)
{
    auto r = NetHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://service.invalid/proxied")));
    r->setProxyHost(QStringLiteral("127.0.0.1"));
    r->setProxyPort(proxy.port());
    r->setUseSessionPersistence(false);
    r->setDelegate(delegate);
    bool done = false;
    r->setCompletionBlock([&] { done = true; });
    r->setFailedBlock([&] { done = true; });
    r->startAsynchronous();
    EXPECT_TRUE(processEventsUntil([&] { return done; })) << "the proxied request did not end";
    return r;
}

} // namespace KRTest
