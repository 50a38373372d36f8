#include "core/pictures/DecodeBudget.h"

#include <utility>

namespace thumbs {

DecodeBudget::Reservation::Reservation(Reservation &&other) noexcept
    : m_budget(std::exchange(other.m_budget, nullptr)), m_bytes(std::exchange(other.m_bytes, 0))
{
}

DecodeBudget::Reservation &DecodeBudget::Reservation::operator=(Reservation &&other) noexcept
{
    if (this != &other) {
        release();
        m_budget = std::exchange(other.m_budget, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

void DecodeBudget::Reservation::release()
{
    if (!m_budget)
        return;
    m_budget->give(m_bytes);
    m_budget = nullptr;
    m_bytes = 0;
}

DecodeBudget::Reservation DecodeBudget::reserve(qint64 bytes, const std::atomic_bool *cancelled)
{
    bytes = qMax<qint64>(0, bytes);
    if (bytes > m_capacity)
        return {};
    const QMutexLocker lock(&m_mutex);
    for (;;) {
        if (cancelled && *cancelled)
            return {};
        if (m_inUse + bytes <= m_capacity)
            break;
        m_freed.wait(&m_mutex);
    }
    m_inUse += bytes;
    return Reservation(this, bytes);
}

void DecodeBudget::wakeWaiters()
{
    const QMutexLocker lock(&m_mutex);
    m_freed.wakeAll();
}

qint64 DecodeBudget::inUse() const
{
    const QMutexLocker lock(&m_mutex);
    return m_inUse;
}

void DecodeBudget::give(qint64 bytes)
{
    const QMutexLocker lock(&m_mutex);
    m_inUse -= bytes;
    m_freed.wakeAll();
}

} // namespace thumbs
