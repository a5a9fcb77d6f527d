#pragma once
// Failures are values: an operation gives its result or an error, never throws for ordinary input.

#include <cstdlib>
#include <type_traits>
#include <utility>
#include <variant>

namespace tuvrek {

template <class E>
struct Failure {
    E error;
};

template <class E>
Failure<std::decay_t<E>> fail(E&& error) {
    return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class F>
        requires std::is_constructible_v<E, F&&>
    Result(Failure<F> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { return std::get<0>(checked()); }
    const T& value() const& { return std::get<0>(checked()); }
    T&& value() && { return std::get<0>(std::move(checked())); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    E& error() & { return std::get<1>(state_); }
    const E& error() const& { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, E>& checked() {
        if (state_.index() != 0) std::abort();
        return state_;
    }
    const std::variant<T, E>& checked() const {
        if (state_.index() != 0) std::abort();
        return state_;
    }
    std::variant<T, E> state_;
};

struct Ok {};

// Result<void, E>: success carries nothing.
template <class E>
class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    Result(Ok) {}
    template <class F>
        requires std::is_constructible_v<E, F&&>
    Result(Failure<F> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    E& error() & { return std::get<1>(state_); }
    const E& error() const& { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<std::monostate, E> state_;
};

}  // namespace tuvrek
