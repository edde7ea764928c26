#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace platform {

// A process-wide instance that the application or a test can replace: the installed one,
// else a fallback made on first use. Classes derive from Replaceable<Self> (or
// Replaceable<const Self> for read-only instances) and build their accessor on installedOr.
template <typename T>
class Replaceable {
public:
    // Makes instance current (nullptr returns to the fallback); gives the previous one.
    static T* install(T* instance) { return slot_.exchange(instance); }

protected:
    // makeFallback() is called only while nothing is installed, so a fallback that touches
    // the machine (files, devices) is never made in a test that installed its own.
    template <typename MakeFallback>
    static T& installedOr(MakeFallback&& makeFallback) {
        if (T* instance = slot_.load()) {
            return *instance;
        }
        return makeFallback();
    }

    // For instances only the application's composition root makes: asking while none is
    // installed is a fault of the program, reported with `name` before it ends.
    static T& installedInstance(const char* name) {
        if (T* instance = slot_.load()) {
            return *instance;
        }
        std::fprintf(stderr, "%s: used before the application made it\n", name);
        std::abort();
    }

private:
    static inline std::atomic<T*> slot_{nullptr};
};

// Installs an instance for the lifetime of a scope and restores the previous one.
template <typename T>
class ScopedInstall {
public:
    explicit ScopedInstall(T* instance) : previous_(T::install(instance)) {}
    ~ScopedInstall() { T::install(previous_); }
    ScopedInstall(const ScopedInstall&) = delete;
    ScopedInstall& operator=(const ScopedInstall&) = delete;

private:
    T* previous_;
};

}  // namespace platform
