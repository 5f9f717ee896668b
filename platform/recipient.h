#pragma once

#include "platform/message.h"

#include <functional>

namespace Platform {

// Stands where a window handle would: whatever is posted to it runs later on the thread
// that owns it, never inside the call that posted it. Crosses module boundaries only
// through its virtual operations.
class Recipient
{
public:
    // Answers whether the message was handled; *result is written only then.
    using MessageHandler = std::function<bool(const Message& message, intptr_t* result)>;

    virtual ~Recipient() = default;

    // Runs work on the owner's thread. False when the recipient no longer takes work.
    virtual bool post(std::function<void()> work) = 0;
    // Hands the message to the owner's handler on the owner's thread.
    virtual bool postMessage(Message message) = 0;
};

} // namespace Platform
