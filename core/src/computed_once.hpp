// A value a pool works out from its own parameters the first time a call
// needs it, and keeps. Pools never change, so the value is the same however
// often it is worked out; keeping it saves the work on every later sizing
// or quote. It is worked out where the pool's procedure always worked it
// out, so a sizing that used to fault there still faults there (a fault
// keeps nothing, and the next call tries again).
//
// Copies of a pool share the kept value. Calls on several threads may work
// it out at once; the first to finish publishes it and the others use that
// one (they computed the same digits).
#pragma once

#include <atomic>
#include <memory>

namespace quarlen {

template <class Value>
class ComputedOnce {
public:
    template <class Compute>
    const Value& get(const Compute& compute) const {
        if (const Value* kept = slot_->value.load(std::memory_order_acquire)) return *kept;
        auto fresh = std::make_unique<const Value>(compute());
        const Value* expected = nullptr;
        if (slot_->value.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel,
                                                 std::memory_order_acquire))
            return *fresh.release();
        return *expected;
    }

private:
    struct Slot {
        std::atomic<const Value*> value{nullptr};
        Slot() = default;
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        ~Slot() { delete value.load(std::memory_order_acquire); }
    };
    std::shared_ptr<Slot> slot_ = std::make_shared<Slot>();
};

}  // namespace quarlen
