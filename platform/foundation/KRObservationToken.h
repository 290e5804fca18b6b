#pragma once

#include <functional>

// Keeps one observer registered for as long as it lives: destroying or resetting the token
// removes the observer. Tokens are movable, not copyable. A token that outlives the centre or
// object it observes is harmless: its removal then does nothing.
class KRObservationToken
{
public:
    KRObservationToken() = default;
    explicit KRObservationToken(std::function<void()> remover) : m_remover(std::move(remover)) {}
    ~KRObservationToken() { reset(); }

    KRObservationToken(KRObservationToken &&other) noexcept;
    KRObservationToken &operator=(KRObservationToken &&other) noexcept;
    KRObservationToken(const KRObservationToken &) = delete;
    KRObservationToken &operator=(const KRObservationToken &) = delete;

    // Removes the observer now; the observer is not called afterwards, even by a delivery
    // that is in progress.
    void reset();
    bool isActive() const { return static_cast<bool>(m_remover); }

private:
    std::function<void()> m_remover;
};
