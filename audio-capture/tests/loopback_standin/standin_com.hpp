#pragma once
// What the stand-in engine's COM objects share: the headers, a reference
// count that also keeps the engine's count of live objects, and a lock.

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <string>

#include "standin_report.hpp"
#include "standin_signal.hpp"

namespace standin {

// COM objects end through their own Release, never by delete through an
// interface pointer, so the interfaces need no virtual destructor.
#define STANDIN_COM_CLASS_BEGIN _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wnon-virtual-dtor\"")
#define STANDIN_COM_CLASS_END _Pragma("GCC diagnostic pop")

template <Kind K>
class Counted {
public:
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

protected:
    Counted() noexcept { object_created(K); }
    ~Counted() { object_destroyed(K); }

    ULONG add_reference() noexcept { return ++references_; }
    // The references left; the caller deletes the object at 0.
    ULONG drop_reference() noexcept { return --references_; }

private:
    std::atomic<ULONG> references_{1};  // the creator's
};

// A slim reader/writer lock taken exclusively, for std::lock_guard.
class Lock {
public:
    void lock() noexcept { AcquireSRWLockExclusive(&lock_); }
    void unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

// Names the calling thread, so that per-thread figures (Wine makes it the
// Linux thread name too) tell the engine's threads from the program's.
void name_this_thread(const wchar_t* name);

// A fresh, uninitialized client of the process-loopback device for the
// target, with one reference (the caller's).
[[nodiscard]] IAudioClient* make_audio_client(Target target);

// An object that answers IUnknown only, with one reference.
[[nodiscard]] IUnknown* make_plain_object();

}  // namespace standin
