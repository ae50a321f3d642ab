#pragma once

#include <QtGlobal>

#include <atomic>

namespace pellux {

// The one instance of a long-lived part, as the composition root (app/AppComponents) built and
// registered it, for `X::shared()`. Nothing here builds anything: asking before the root built the
// part, or after it destroyed it, is a programming error and ends the process with a message.
template <typename T> class SharedInstance {
public:
    static T &get(const char *name)
    {
        T *instance = s_instance.load(std::memory_order_acquire);
        if (!instance)
            qFatal("%s::shared(): not built; the application's composition root builds it", name);
        return *instance;
    }
    static T *find() { return s_instance.load(std::memory_order_acquire); }

    // Registers `instance` while the registration lives.
    class Registration {
    public:
        explicit Registration(T &instance)
            : m_instance(&instance)
        {
            s_instance.store(m_instance, std::memory_order_release);
        }
        ~Registration()
        {
            T *expected = m_instance;
            s_instance.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
        }
        Registration(const Registration &) = delete;
        Registration &operator=(const Registration &) = delete;

    private:
        T *m_instance;
    };

private:
    static inline std::atomic<T *> s_instance { nullptr };
};

} // namespace pellux
