#pragma once

namespace vexo::templates::patterns {

// Base of the scoped lock guards: remembers the guarded lock (not owned) and whether the
// derived guard still has to release it. Derived guards lock in their constructor and
// unlock in their destructor only while `active` is set.
template <typename T>
class Guard
{
public:
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    virtual ~Guard() = default;

protected:
    explicit Guard(T target)
        : target(target)
        , active(true)
    {
    }

    T target;
    bool active;
};

} // namespace vexo::templates::patterns
