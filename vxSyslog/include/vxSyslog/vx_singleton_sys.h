#pragma once

#include <atomic>
#include <mutex>

namespace SystemLog {

// Process-wide single instance of T, created on the first instance() call
// (double-checked locking) and deleted by release(). instance() may be called
// from any thread; release() must not overlap any other use of the object.
template <typename T>
class vx_singleton_sys
{
public:
    virtual ~vx_singleton_sys() {}

    static T* instance()
    {
        T* p = s_instance.load(std::memory_order_acquire);
        if (p)
            return p;
        std::lock_guard<std::mutex> lock(s_mutex);
        p = s_instance.load(std::memory_order_relaxed);
        if (!p) {
            p = new T;
            s_instance.store(p, std::memory_order_release);
        }
        return p;
    }

    static void release()
    {
        if (!s_instance.load(std::memory_order_relaxed))
            return;
        std::lock_guard<std::mutex> lock(s_mutex);
        // Loaded again under the lock so that two racing release() calls
        // cannot delete the same object twice.
        T* p = s_instance.load(std::memory_order_relaxed);
        if (!p)
            return;
        delete p;
        s_instance.store(nullptr, std::memory_order_release);
    }

protected:
    vx_singleton_sys() {}

private:
    static std::atomic<T*> s_instance;
    static std::mutex s_mutex;
};

template <typename T>
std::atomic<T*> vx_singleton_sys<T>::s_instance{nullptr};

template <typename T>
std::mutex vx_singleton_sys<T>::s_mutex;

} // namespace SystemLog
