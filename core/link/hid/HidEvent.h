#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace voltaro {

// A handler that has an identity: copies of one handler compare equal, two
// handlers made separately do not, even from the same code. Assigning "the
// same handler again" is then a meaningful no-op, as the components expect.
// An empty handler is skipped when called.
template <typename Signature> class HidEvent;

template <typename R, typename... Args> class HidEvent<R(Args...)> {
public:
    HidEvent() = default;
    HidEvent(std::nullptr_t) {}
    template <typename F, typename = std::enable_if_t<std::is_invocable_r_v<R, F&, Args...> &&
                                                      !std::is_same_v<std::decay_t<F>, HidEvent>>>
    HidEvent(F f) : fn_(std::make_shared<const std::function<R(Args...)>>(std::move(f))) {}

    explicit operator bool() const { return fn_ != nullptr; }
    bool operator==(const HidEvent& other) const { return fn_ == other.fn_; }

    // Calls the handler; an empty handler returns R's default value.
    R operator()(Args... args) const {
        if (!fn_) {
            if constexpr (std::is_void_v<R>)
                return;
            else
                return R{};
        }
        return (*fn_)(std::forward<Args>(args)...);
    }

private:
    std::shared_ptr<const std::function<R(Args...)>> fn_;
};

} // namespace voltaro
