#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testing {

// The suite runs as root, and root passes every permission check. While this
// lives, the calling thread drops that override (CAP_DAC_OVERRIDE and
// CAP_DAC_READ_SEARCH), so an unreadable directory or a read-only file is what
// it is for any user. Capabilities belong to a thread: the code under test must
// run on the thread that made this object.
class WithoutPermissionOverride {
public:
    WithoutPermissionOverride()
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (syscall(SYS_capget, &header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_active = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~WithoutPermissionOverride()
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (m_active)
            syscall(SYS_capset, &header, m_saved);
    }
    WithoutPermissionOverride(const WithoutPermissionOverride &) = delete;
    WithoutPermissionOverride &operator=(const WithoutPermissionOverride &) = delete;

    // False when the capabilities could not be changed; permission checks then
    // may still pass where a user's would fail.
    bool active() const { return m_active; }

private:
    __user_cap_data_struct m_saved[2] = {};
    bool m_active = false;
};

} // namespace testing
