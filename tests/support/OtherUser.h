#pragma once

#include <functional>

#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// Another account on the same machine, played by a forked child that drops to the unprivileged uid and gid
// 65534 (nobody). Only root can switch users; a test skips without it. The child runs plain system calls
// only, never the parent's Qt objects.
namespace OtherUser {

constexpr uid_t uid = 65534;

inline bool available()
{
    return ::geteuid() == 0;
}

inline void become()
{
    if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)
        ::_exit(125);
}

// Runs `body` as the other user and returns its result (125 when the switch failed, -1 when it crashed).
inline int run(const std::function<int()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        become();
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// A process of the other user that stays alive until the object goes. `body` gets a descriptor on which it
// writes one byte once it is ready (the constructor waits for it), then should pause().
class Process
{
public:
    // `beforeSwitch` runs as root first, for what the other user needs done on its behalf.
    explicit Process(const std::function<void(int ready)>& body,
                     const std::function<void()>& beforeSwitch = {})
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(pipeFds[0]);
            if (beforeSwitch)
                beforeSwitch();
            become();
            body(pipeFds[1]);
            ::_exit(0);
        }
        ::close(pipeFds[1]);
        char byte = 0;
        m_ready = m_pid > 0 && ::read(pipeFds[0], &byte, 1) == 1 && byte == '1';
        ::close(pipeFds[0]);
    }
    ~Process()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Whether the body reported success ('1') rather than failure ('0') or dying.
    bool ready() const { return m_ready; }

private:
    pid_t m_pid = -1;
    bool m_ready = false;
};

} // namespace OtherUser
