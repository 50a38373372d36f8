#pragma once

#include <QMutex>
#include <QWaitCondition>
#include <atomic>

namespace thumbs {

// The memory that decodes running at the same time may take together. A decode
// reserves what its headers say it will need before it starts and gives it back
// when it ends; one that does not fit waits for others to end. So a page of large
// pictures takes at most this much, whether the pool has 2 threads or 16.
// Safe to use from any thread.
class DecodeBudget {
public:
    static constexpr qint64 DefaultCapacity = 512ll * 1024 * 1024;
    explicit DecodeBudget(qint64 capacity = DefaultCapacity) : m_capacity(capacity) {}
    DecodeBudget(const DecodeBudget &) = delete;
    DecodeBudget &operator=(const DecodeBudget &) = delete;

    // Bytes held while it lives; empty (not granted) when the wait was cancelled
    // or the request can never fit.
    class Reservation {
    public:
        Reservation() = default;
        Reservation(Reservation &&other) noexcept;
        Reservation &operator=(Reservation &&other) noexcept;
        Reservation(const Reservation &) = delete;
        Reservation &operator=(const Reservation &) = delete;
        ~Reservation() { release(); }
        bool granted() const { return m_budget != nullptr; }
        qint64 bytes() const { return m_bytes; }
        void release();

    private:
        friend class DecodeBudget;
        Reservation(DecodeBudget *budget, qint64 bytes) : m_budget(budget), m_bytes(bytes) {}
        DecodeBudget *m_budget = nullptr;
        qint64 m_bytes = 0;
    };

    // Waits until bytes fit beside the reservations held, or until cancelled is
    // set (and wakeWaiters called). A request larger than the capacity is never
    // granted: the caller refuses such a decode before it asks.
    Reservation reserve(qint64 bytes, const std::atomic_bool *cancelled = nullptr);

    // Makes waiting reservations look at their cancellation flag again; call it
    // after setting one.
    void wakeWaiters();

    qint64 capacity() const { return m_capacity; }
    qint64 inUse() const;

private:
    void give(qint64 bytes);

    const qint64 m_capacity;
    mutable QMutex m_mutex;
    QWaitCondition m_freed;
    qint64 m_inUse = 0;
};

} // namespace thumbs
