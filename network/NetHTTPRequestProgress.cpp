#include "NetHTTPRequestPrivate.h"

#include <type_traits>

using namespace nethttp;

// ---------------------------------------------------------------- progress and throttle

void NetHTTPRequest::setIndicatorValue(bool upload, double progress, double total)
{
    const double value = total > 0 ? progress / total : 0.0;
    auto self = shared_from_this();
    netPerformOnMainThread([self, upload, value] {
        std::shared_ptr<NetProgressDelegate> target;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            target = (upload ? self->d->uploadProgressDelegate : self->d->downloadProgressDelegate).lock();
        }
        if (target) {
            std::lock_guard<std::recursive_mutex> g(progressLock);
            target->setDoubleValue(value);
        }
    });
}

void NetHTTPRequest::incrementUploadSizeBy(std::int64_t amount)
{
    postSizeIncrement(true, amount);
}

void NetHTTPRequest::incrementDownloadSizeBy(std::int64_t amount)
{
    postSizeIncrement(false, amount);
}

// On the main thread, for one direction: tell runs for the queue, then for the request's
// progress delegate; finish then gets that delegate and the direction's block (what takeBlock
// picks). The three are taken together under the request's lock.
template <typename TakeBlock, typename Tell, typename Finish>
void NetHTTPRequest::postToProgressListeners(bool upload, TakeBlock takeBlock, Tell tell, Finish finish)
{
    auto self = shared_from_this();
    netPerformOnMainThread([self, upload, takeBlock, tell, finish] {
        std::shared_ptr<NetProgressDelegate> pd;
        std::shared_ptr<NetRequestQueue> q;
        std::invoke_result_t<TakeBlock, const Private &, bool> b;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            pd = (upload ? self->d->uploadProgressDelegate : self->d->downloadProgressDelegate).lock();
            q = self->d->queue;
            b = takeBlock(*self->d, upload);
        }
        if (q)
            tell(*static_cast<NetProgressDelegate *>(q.get()), self);
        if (pd)
            tell(*pd, self);
        finish(pd.get(), b);
    });
}

void NetHTTPRequest::postSizeIncrement(bool upload, std::int64_t amount)
{
    postToProgressListeners(
        upload,
        [](const Private &p, bool up) { return up ? p.uploadSizeIncrementedBlock : p.downloadSizeIncrementedBlock; },
        [upload, amount](NetProgressDelegate &listener, const NetHTTPRequestPtr &self) {
            if (upload)
                listener.requestIncrementUploadSizeBy(self, amount);
            else
                listener.requestIncrementDownloadSizeBy(self, amount);
        },
        [amount](NetProgressDelegate *, const SizeBlock &b) {
            if (b)
                b(amount);
        });
}

void NetHTTPRequest::postBytesTransferred(bool upload, std::int64_t step, std::uint64_t total, bool resetIndicator)
{
    postToProgressListeners(
        upload, [](const Private &p, bool up) { return up ? p.bytesSentBlock : p.bytesReceivedBlock; },
        [upload, step](NetProgressDelegate &listener, const NetHTTPRequestPtr &self) {
            if (upload)
                listener.requestDidSendBytes(self, step);
            else
                listener.requestDidReceiveBytes(self, step);
        },
        [step, total, resetIndicator](NetProgressDelegate *pd, const ProgressBlock &b) {
            if (pd && resetIndicator)
                pd->setDoubleValue(0);
            if (b)
                b(std::uint64_t(step), total);
        });
}

// Before an attempt that sends the body again: what the last attempt reported is taken back,
// and the bytes its stream buffered (kept out of the upload size) are put back in the size.
void NetHTTPRequest::removeUploadProgressSoFar()
{
    if (d->uploadBufferSize > 0)
        incrementUploadSizeBy(std::int64_t(d->uploadBufferSize));
    postBytesTransferred(true, -d->uploadProgressReported, d->postLength, true);
    d->uploadProgressReported = 0;
    d->updatedUploadProgress = false;
}

// The body was sent and will not be sent again (redirected to a GET): the part of the upload
// the last attempt has not reported yet is reported now.
void NetHTTPRequest::completeUploadProgress()
{
    if (d->cancelled || d->postLength == 0)
        return;
    const std::uint64_t buffer = std::min(d->uploadBufferSize, d->postLength);
    const std::int64_t whole = d->showAccurateProgress ? std::int64_t(d->postLength - buffer) : 1;
    const std::int64_t step = whole - d->uploadProgressReported;
    if (step > 0) {
        postBytesTransferred(true, step, d->postLength);
        setIndicatorValue(true, 1, 1);
    }
    d->uploadProgressReported = 0;
    d->updatedUploadProgress = true;
}

void NetHTTPRequest::updateProgressIndicators()
{
    if (!d->mainRequest.expired())
        return;
    // Each direction reports its one step of a request without accurate progress by itself:
    // a request with a body has both an upload and a download step.
    if (d->showAccurateProgress || d->complete) {
        updateUploadProgress();
        updateDownloadProgress();
    }
}

void NetHTTPRequest::updateUploadProgress()
{
    if (d->cancelled)
        return;
    // Without accurate progress every request counts as one unit of upload, a request without
    // a body too: its unit is done when it completes.
    if (d->postLength == 0 && !d->showAccurateProgress && d->complete && !d->updatedUploadProgress) {
        d->updatedUploadProgress = true;
        postBytesTransferred(true, 1, 0);
        setIndicatorValue(true, 1, 1);
        return;
    }
    if (d->totalBytesSent == 0 || d->postLength == 0)
        return;
    if (d->uploadBufferSize == 0 && d->totalBytesSent != d->postLength) {
        d->uploadBufferSize = d->totalBytesSent;
        incrementUploadSizeBy(-std::int64_t(d->uploadBufferSize));
    }
    std::int64_t step = std::int64_t(d->totalBytesSent) - std::int64_t(d->lastBytesSent);
    if (d->showAccurateProgress) {
        if (!(d->totalBytesSent == d->postLength || d->lastBytesSent > 0))
            step = 0;
    } else {
        if (d->updatedUploadProgress)
            return;
        step = 1;
        d->updatedUploadProgress = true;
    }
    if (step == 0)
        return;
    const std::uint64_t buffer = d->uploadBufferSize;
    const double progress = double(d->totalBytesSent - std::min(buffer, d->totalBytesSent));
    const double total = double(d->postLength - std::min(buffer, d->postLength));
    postBytesTransferred(true, step, d->postLength);
    d->uploadProgressReported += step;
    setIndicatorValue(true, progress, total);
}

void NetHTTPRequest::updateDownloadProgress()
{
    if (!d->headersRead || d->needsRedirect || (d->contentLength == 0 && !d->complete))
        return;
    const std::uint64_t soFar = d->totalBytesRead + d->partialDownloadSize;
    const std::uint64_t total = d->contentLength + d->partialDownloadSize;
    std::int64_t step = 0;
    if (d->showAccurateProgress && !d->downloadAsOneStep && d->contentLength > 0) {
        step = std::int64_t(soFar) - std::int64_t(d->lastBytesRead);
        if (step == 0)
            return;
    } else {
        if (d->updatedProgress)
            return;
        step = 1;
        d->updatedProgress = true;
    }
    postBytesTransferred(false, step, total);
    setIndicatorValue(false, double(soFar), double(total));
    d->lastBytesRead = soFar;
}

void NetHTTPRequest::performThrottling()
{
    if (!d->easy)
        return;
    bool holdBack = false;
    const bool throttled = isBandwidthThrottled();
    {
        std::lock_guard<std::mutex> g(bandwidthLock);
        measureBandwidthLocked();
        holdBack = throttled && bandwidth.hasWakeUp && bandwidth.wakeUp > Clock::now();
    }
    if (holdBack) {
        if (d->readStreamIsScheduled) {
            d->readStreamIsScheduled = false;
            d->receivePaused = d->sendPaused = true;
            curl_easy_pause(d->easy, CURLPAUSE_ALL);
        }
    } else if (d->receivePaused || d->sendPaused || !d->readStreamIsScheduled) {
        d->receivePaused = d->sendPaused = false;
        d->readStreamIsScheduled = true;
        d->hasLastActivity = true;
        d->lastActivityTime = Clock::now(); // time held back does not count towards the time-out
        curl_easy_pause(d->easy, CURLPAUSE_CONT);
    }
}

void NetHTTPRequest::setMaxBandwidthPerSecond(std::uint64_t bytes)
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    bandwidth.maxPerSecond = bytes;
    if (bytes == 0)
        bandwidth.hasWakeUp = false;
}

std::uint64_t NetHTTPRequest::maxBandwidthPerSecond()
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    return bandwidth.maxPerSecond;
}

bool NetHTTPRequest::isBandwidthThrottled()
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    return bandwidth.maxPerSecond != 0;
}

void NetHTTPRequest::incrementBandwidthUsedInLastSecond(std::uint64_t bytes)
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    bandwidth.usedInPeriod += bytes;
}

std::uint64_t NetHTTPRequest::averageBandwidthUsedPerSecond()
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    return bandwidth.average;
}

void NetHTTPRequest::measureBandwidthUsage()
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    measureBandwidthLocked();
}

std::uint64_t NetHTTPRequest::maxUploadReadLength()
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    std::int64_t allowance = std::int64_t(bandwidth.maxPerSecond / 4);
    const std::int64_t left = std::int64_t(bandwidth.maxPerSecond) - std::int64_t(bandwidth.usedInPeriod);
    allowance = std::max<std::int64_t>(0, std::min(allowance, left));
    if (allowance == 0 || !bandwidth.hasMeasurementDate || bandwidth.measurementDate <= Clock::now()) {
        bandwidth.wakeUp = bandwidth.measurementDate;
        bandwidth.hasWakeUp = bandwidth.hasMeasurementDate;
    }
    return std::uint64_t(allowance);
}
