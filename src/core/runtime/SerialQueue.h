#pragma once

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// A labelled serial queue on one worker thread: tasks run one at a time in submission order.
class SerialQueue
{
public:
    using Task = std::function<void()>;

    explicit SerialQueue(QString label);
    // Runs what was submitted before, then stops the worker.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const QString& label() const { return m_label; }

    void async(Task task);
    // Returns once the task has run. Called from a task of this same queue, it runs the task inline
    // instead of waiting on itself.
    void sync(const Task& task);

    template <typename F> auto syncResult(F&& function) -> decltype(function())
    {
        std::optional<decltype(function())> result;
        sync([&] { result.emplace(function()); });
        return std::move(*result);
    }

    // True on this queue's worker thread.
    bool isCurrent() const;

private:
    void run();

    QString m_label;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    bool m_stopping = false;
    std::thread m_worker;
};
