#include "KRPasteboard.h"

namespace {
std::shared_ptr<KRPasteboard> &installed()
{
    static std::shared_ptr<KRPasteboard> pasteboard = std::make_shared<KRMemoryPasteboard>();
    return pasteboard;
}
} // namespace

KRPasteboard &KRPasteboard::generalPasteboard() { return *installed(); }

std::shared_ptr<KRPasteboard> KRPasteboard::setGeneralPasteboard(std::shared_ptr<KRPasteboard> pasteboard)
{
    std::shared_ptr<KRPasteboard> previous = installed();
    installed() = pasteboard ? std::move(pasteboard) : std::make_shared<KRMemoryPasteboard>();
    return previous;
}
