// Preloaded into the ThreadSanitizer test runs only. QProcess starts a child with vfork semantics (clone with
// CLONE_VM | CLONE_VFORK): the child then runs ThreadSanitizer's interceptors on the parent thread's own
// state and leaves it blind to that thread's later locking, so every hand-over it makes afterwards is
// reported as a race (21 reports in one bridge test; none with this in place). Without CLONE_VM the child is
// an ordinary copy, which the sanitizer follows as a fork.
#include <dlfcn.h>
#include <sched.h>

#include <cstdarg>

namespace {

using Clone = int (*)(int (*)(void*), void*, int, void*, ...);

} // namespace

extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...)
{
    va_list rest;
    va_start(rest, arg);
    void* parentTid = va_arg(rest, void*);
    void* tls = va_arg(rest, void*);
    void* childTid = va_arg(rest, void*);
    va_end(rest);
    static const auto next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    if ((flags & CLONE_VFORK) != 0)
        flags &= ~CLONE_VM;
    return next(fn, stack, flags, arg, parentTid, tls, childTid);
}
