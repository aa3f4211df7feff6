// Value-or-error return type of every native operation.
//
// The core never throws for user errors: it returns an error text tagged
// with the kind of Python exception the binding should raise. Only the
// binding layer turns these into exceptions.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace vornex {

// Which Python exception the binding raises for an error text. Interrupted:
// the caller's progress sink asked to stop (the binding's pending exception,
// KeyboardInterrupt without one). Memory: work refused up front because it
// would not fit (MemoryError).
enum class ErrorKind { Value, Runtime, Type, Overflow, Panic, Interrupted, Memory };

struct Error {
    ErrorKind kind = ErrorKind::Value;
    std::string message;
};

inline Error value_error(std::string message) { return {ErrorKind::Value, std::move(message)}; }
inline Error runtime_error(std::string message) { return {ErrorKind::Runtime, std::move(message)}; }
inline Error panic_error(std::string message) { return {ErrorKind::Panic, std::move(message)}; }
inline Error memory_error(std::string message) { return {ErrorKind::Memory, std::move(message)}; }
inline Error interrupted_error() { return {ErrorKind::Interrupted, "interrupted"}; }

// Either a T or an Error; cheap to move, never throws on its own.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// Result of an operation that produces nothing but may fail.
struct Unit {};
using Status = Result<Unit>;
inline Status ok_status() { return Unit{}; }

}  // namespace vornex
