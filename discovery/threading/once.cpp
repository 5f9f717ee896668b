#include "discovery/threading/once.h"

namespace CVN {
namespace Core {

Once::Once(void (*initialiser)())
    : m_initialiser(initialiser)
{
}

Once::~Once() = default;

int Once::run()
{
    std::call_once(m_flag, [this] {
        if (m_initialiser)
            m_initialiser();
    });
    return 0;
}

} // namespace Core
} // namespace CVN
