#pragma once

#include <QMutex>

#include <functional>
#include <map>

namespace quillmere {

// A caller's way to give up on work running elsewhere. cancel() may come from any thread; the
// work learns of it by asking, or through a hook it set (to stop a blocking call).
class CancelToken {
public:
    void cancel() {
        std::map<int, std::function<void()>> hooks;
        {
            QMutexLocker lock(&m_mutex);
            if (m_cancelled) {
                return;
            }
            m_cancelled = true;
            hooks.swap(m_hooks);
        }
        for (auto& [id, hook] : hooks) {
            hook();
        }
    }

    bool isCancelled() const {
        QMutexLocker lock(&m_mutex);
        return m_cancelled;
    }

    // Runs `hook` once on cancel (at once when cancelled already), on the cancelling thread,
    // unless removeHook() came first. The hook must own what it touches.
    int onCancel(std::function<void()> hook) {
        {
            QMutexLocker lock(&m_mutex);
            if (!m_cancelled) {
                m_hooks.emplace(++m_next, std::move(hook));
                return m_next;
            }
        }
        hook();
        return 0;
    }

    void removeHook(int id) {
        QMutexLocker lock(&m_mutex);
        m_hooks.erase(id);
    }

private:
    mutable QMutex m_mutex;
    bool m_cancelled = false;
    int m_next = 0;
    std::map<int, std::function<void()>> m_hooks;
};

} // namespace quillmere
