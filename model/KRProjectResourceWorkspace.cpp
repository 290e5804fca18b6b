#include "KRProjectResourceWorkspace.h"

#include <utility>

static std::shared_ptr<KRProjectResourceWorkspace> &installed()
{
    static std::shared_ptr<KRProjectResourceWorkspace> workspace;
    return workspace;
}

KRProjectResourceWorkspace *KRProjectResourceWorkspace::current()
{
    return installed().get();
}

std::shared_ptr<KRProjectResourceWorkspace>
KRProjectResourceWorkspace::setCurrent(std::shared_ptr<KRProjectResourceWorkspace> workspace)
{
    return std::exchange(installed(), std::move(workspace));
}
