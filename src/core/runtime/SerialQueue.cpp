#include "core/runtime/SerialQueue.h"

#include <pthread.h>

SerialQueue::SerialQueue(QString label) : m_label(std::move(label)), m_worker([this] { run(); })
{
    // Thread names are limited to 15 bytes; the tail of the label is the part that tells queues apart.
    const QByteArray name = m_label.toUtf8().right(15);
    pthread_setname_np(m_worker.native_handle(), name.constData());
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker.join();
}

void SerialQueue::async(Task task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void SerialQueue::sync(const Task& task)
{
    if (isCurrent()) {
        task();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    async([&] {
        task();
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

bool SerialQueue::isCurrent() const
{
    return std::this_thread::get_id() == m_worker.get_id();
}

void SerialQueue::run()
{
    for (;;) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}
