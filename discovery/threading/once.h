#pragma once

#include <mutex>

namespace CVN {
namespace Core {

// Runs a stored initialiser exactly once per process, whichever thread asks first; the others
// wait until it has finished.
class Once
{
public:
    explicit Once(void (*initialiser)());
    virtual ~Once();

    Once(const Once&) = delete;
    Once& operator=(const Once&) = delete;

    int run();

private:
    std::once_flag m_flag;
    void (*m_initialiser)();
};

} // namespace Core
} // namespace CVN
