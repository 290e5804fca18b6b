#include "KRObservationToken.h"

#include <utility>

KRObservationToken::KRObservationToken(KRObservationToken &&other) noexcept
    : m_remover(std::exchange(other.m_remover, nullptr)), m_list(std::move(other.m_list)),
      m_remove(std::exchange(other.m_remove, nullptr)), m_id(std::exchange(other.m_id, 0))
{
}

KRObservationToken &KRObservationToken::operator=(KRObservationToken &&other) noexcept
{
    if (this != &other) {
        reset();
        m_remover = std::exchange(other.m_remover, nullptr);
        m_list = std::move(other.m_list);
        m_remove = std::exchange(other.m_remove, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

void KRObservationToken::reset()
{
    // Clear first: the removal may destroy objects whose destructors reset this token again.
    if (auto remover = std::exchange(m_remover, nullptr))
        remover();
    if (const Remove remove = std::exchange(m_remove, nullptr)) {
        const std::weak_ptr<void> list = std::move(m_list);
        m_list.reset();
        if (const std::shared_ptr<void> strong = list.lock())
            remove(strong.get(), std::exchange(m_id, 0));
    }
}
