#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// Keeps one observer registered for as long as it lives: destroying or resetting the token
// removes the observer. Tokens are movable, not copyable. A token that outlives the centre or
// object it observes is harmless: its removal then does nothing.
class KRObservationToken
{
public:
    KRObservationToken() = default;
    explicit KRObservationToken(std::function<void()> remover) : m_remover(std::move(remover)) {}
    // The form of the observer lists, made without allocating: removes observer `id` of the
    // list through `remove` while the list lives.
    using Remove = void (*)(void *list, std::uint64_t id);
    KRObservationToken(std::weak_ptr<void> list, Remove remove, std::uint64_t id)
        : m_list(std::move(list)), m_remove(remove), m_id(id)
    {
    }
    ~KRObservationToken() { reset(); }

    KRObservationToken(KRObservationToken &&other) noexcept;
    KRObservationToken &operator=(KRObservationToken &&other) noexcept;
    KRObservationToken(const KRObservationToken &) = delete;
    KRObservationToken &operator=(const KRObservationToken &) = delete;

    // Removes the observer now; the observer is not called afterwards, even by a delivery
    // that is in progress.
    void reset();
    bool isActive() const { return static_cast<bool>(m_remover) || m_remove; }

private:
    std::function<void()> m_remover;
    std::weak_ptr<void> m_list;
    Remove m_remove = nullptr;
    std::uint64_t m_id = 0;
};
