#include "KRObservationToken.h"

#include <utility>

KRObservationToken::KRObservationToken(KRObservationToken &&other) noexcept
    : m_remover(std::exchange(other.m_remover, nullptr))
{
}

KRObservationToken &KRObservationToken::operator=(KRObservationToken &&other) noexcept
{
    if (this != &other) {
        reset();
        m_remover = std::exchange(other.m_remover, nullptr);
    }
    return *this;
}

void KRObservationToken::reset()
{
    // Clear first: the removal may destroy objects whose destructors reset this token again.
    auto remover = std::exchange(m_remover, nullptr);
    if (remover)
        remover();
}
