#include "gui/UiThreadQueue.h"

#include <utility>

void CUiThreadQueue::Post(std::function<void()> work) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        wake = m_work.empty();
        m_work.push_back(std::move(work));
    }
    if (wake)
        QMetaObject::invokeMethod(this, "RunPosted", Qt::QueuedConnection);
}

void CUiThreadQueue::RunPosted() {
    std::vector<std::function<void()>> work;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        work.swap(m_work);
    }
    for (auto& job : work)
        job();
}
