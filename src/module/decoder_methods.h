// The standard methods of a class, written once: a binding names the
// native operation and its class's message prefix, and states nothing else.
//
//   .method<decode_method<&UnionFindDecoder::decode, "Invalid syndrome array: ", Syndrome::LengthFirst>>(
//       "decode($self, syndrome)")
//   .method<batch_method<&UnionFindDecoder::batch_decode, "Invalid syndromes array: ">>(
//       "batch_decode($self, syndromes)")
//
// The native operation is a member function or a free function whose first
// parameter is the native object; its constness decides the borrow (`const`
// shares the object, otherwise the call holds it exclusively). It may return
// the result directly or as a Result. Parameters after the syndrome are
// converted from the method's following arguments by their declared types,
// so `decode_timed(span, double)` binds as "decode_timed($self, syndrome,
// max_latency_ms)" with nothing more written. An overloaded member or one
// with default arguments is named through a small free function instead.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/result.h"
#include "base/shape.h"
#include "module/args.h"
#include "module/arrays.h"
#include "module/errors.h"
#include "module/released_work.h"
#include "module/syndrome_arrays.h"
#include "module/values.h"

namespace vornex::py {

// A message prefix given as a template argument ("Invalid syndrome: ").
template <size_t N>
struct Prefix {
    char text[N]{};
    constexpr Prefix(const char (&literal)[N]) { std::copy_n(literal, N, text); }
};

// What the binding checks of a single syndrome before the native call.
enum class Syndrome {
    Layout,       // a 1-D array, contiguous; the native operation checks the length
    LengthFirst,  // as Layout, then the native check_syndrome_length
    AnyRank,      // an array of any rank, contiguous (read in row-major order)
};

// How a batch's shape is checked after its layout.
enum class BatchShape {
    Family,  // the family's "Expected shape (batch, n_checks), got [..]"
    Native,  // the native object's own check_batch_shape(shape)
};

namespace detail {

// The native object and the remaining parameters of a native operation.
template <class F>
struct NativeOperation;
template <class C, class R, class... A>
struct NativeOperation<R (C::*)(A...) const> {
    using Self = const C;
    using Parameters = std::tuple<A...>;
};
template <class C, class R, class... A>
struct NativeOperation<R (C::*)(A...)> {
    using Self = C;
    using Parameters = std::tuple<A...>;
};
template <class C, class R, class... A>
struct NativeOperation<R (*)(C&, A...)> {
    using Self = C;
    using Parameters = std::tuple<A...>;
};

// A factory (a free or static function): its parameters are all arguments.
template <class R, class... A>
struct NativeOperation<R (*)(A...)> {
    using Parameters = std::tuple<A...>;
};

template <auto Op>
using SelfOf = typename NativeOperation<decltype(Op)>::Self;

// The value of a native result: plain values pass through, a Result's error
// becomes its Python exception.
template <class T>
T take(T&& value) {
    return std::move(value);
}
template <class T>
T take(Result<T>&& result) {
    return unwrap(std::move(result));
}

// The value a native parameter is converted to: spans are filled from a
// vector that lives for the call.
template <class T>
struct Converted {
    using type = std::decay_t<T>;
};
template <class E, size_t N>
struct Converted<std::span<E, N>> {
    using type = std::vector<std::remove_const_t<E>>;
};

template <auto Op, size_t I>
using ConvertedParameter =
    typename Converted<std::tuple_element_t<I, typename NativeOperation<decltype(Op)>::Parameters>>::type;

// Parameters [First, size) of Op converted from the call's arguments
// [First, size), in order.
template <auto Op, size_t First, size_t... I>
auto converted_arguments(const Args& args, std::index_sequence<I...>) {
    // A native parameter beyond the text signature (one with a C++ default,
    // say) has no argument to come from.
    if (First + sizeof...(I) > args.size())
        throw std::logic_error("native operation takes more parameters than its text signature names");
    return std::tuple<ConvertedParameter<Op, First + I>...>{
        args.get<ConvertedParameter<Op, First + I>>(First + I)...};
}

template <auto Op, size_t First>
auto trailing_arguments(const Args& args) {
    using Parameters = typename NativeOperation<decltype(Op)>::Parameters;
    return converted_arguments<Op, First>(args, std::make_index_sequence<std::tuple_size_v<Parameters> - First>{});
}

template <class T>
PyObject* rows_array(std::vector<T>&& values, size_t n_shots, size_t row_size) {
    return to_array(std::move(values), {static_cast<npy_intp>(n_shots), static_cast<npy_intp>(row_size)});
}

// Op on `rows` rows with the interpreter lock released. An operation that
// only reads its object is also stopped inside the call by Ctrl-C between
// slices of its worker-pool work; one that changes its object runs each
// call to the end.
template <auto Op>
auto released_rows(SelfOf<Op>& decoder, std::span<const uint8_t> bytes, size_t rows) {
    auto call = [&] { return std::invoke(Op, decoder, bytes, rows); };
    if constexpr (std::is_const_v<SelfOf<Op>>)
        return without_interpreter(call);
    else
        return without_interpreter_unpolled(call);
}

// Op over the batch in chunks of rows sized to take about 50 ms each, with
// pending signal handlers run between them, so Ctrl-C stops a long batch
// within a chunk. Rows decode independently, so the bytes are those of one
// call over the whole batch.
template <auto Op>
auto decode_in_chunks(SelfOf<Op>& decoder, std::span<const uint8_t> bytes, size_t n_shots, size_t row_size) {
    constexpr size_t kFirstChunk = 1024;
    if (n_shots <= kFirstChunk) return take(released_rows<Op>(decoder, bytes, n_shots));
    const size_t row_bytes = bytes.size() / n_shots;
    decltype(take(std::invoke(Op, decoder, bytes, n_shots))) out(batch_bytes(n_shots, row_size));
    size_t chunk = kFirstChunk;
    for (size_t begin = 0; begin < n_shots;) {
        const size_t rows = std::min(chunk, n_shots - begin);
        const auto start = std::chrono::steady_clock::now();
        auto part = take(released_rows<Op>(decoder, bytes.subspan(begin * row_bytes, rows * row_bytes), rows));
        std::copy(part.begin(), part.end(), out.begin() + static_cast<std::ptrdiff_t>(begin * row_size));
        begin += rows;
        if (PyErr_CheckSignals() < 0) throw_python_error();
        if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(25)) chunk *= 2;
    }
    return out;
}

}  // namespace detail

// Batches a family sends whole to the native operation (one device launch
// per call, say, whose counters count calls): no chunks, no interrupt checks.
template <class Native>
inline constexpr bool kBatchInOneCall = false;

// `name($self, syndrome, ...)`: one syndrome in, the native operation's
// vector out as a 1-D array. Argument 0 must be a uint8 array; its layout
// failure raises ValueError "<prefix>The given array is not contiguous or is
// misaligned.".
template <auto Op, Prefix Message, Syndrome Check = Syndrome::Layout>
PyObject* decode_method(detail::SelfOf<Op>& decoder, const Args& args) {
    auto view = args.u8_array(0, Check == Syndrome::AnyRank ? -1 : 1);
    auto extra = detail::trailing_arguments<Op, 1>(args);
    const std::span<const uint8_t> syndrome = syndrome_bytes(view, Message.text);
    if constexpr (Check == Syndrome::LengthFirst) unwrap(decoder.check_syndrome_length(syndrome.size()));
    return to_array(detail::take(std::apply(
        [&](auto&&... rest) { return std::invoke(Op, decoder, syndrome, std::move(rest)...); }, std::move(extra))));
}

// The batch form of an overloaded member, e.g.
// RowsDecode<D>(&D::batch_decode) picks batch_decode(span, n_shots) const.
template <class Native>
using RowsDecode = std::vector<uint8_t> (Native::*)(std::span<const uint8_t>, size_t) const;

// `name($self, syndromes)`: a (batch, n_checks) uint8 array in, a
// (batch, n_qubits) array out. Op takes the row-major bytes and the number
// of shots. Zero dimensions, then the layout (with the prefix), then the
// shape are checked, in the order the family's messages are defined.
template <auto Op, Prefix Message, BatchShape Shape = BatchShape::Family>
PyObject* batch_method(detail::SelfOf<Op>& decoder, const Args& args) {
    auto view = args.u8_array(0, -1);
    if constexpr (Shape == BatchShape::Family) {
        const SyndromeRows rows = syndrome_rows(view, decoder.n_checks(), Message.text);
        if constexpr (kBatchInOneCall<detail::SelfOf<Op>>)
            return detail::rows_array(detail::take(std::invoke(Op, decoder, rows.bytes, rows.n_shots)),
                                      rows.n_shots, decoder.n_qubits());
        else
            return detail::rows_array(detail::decode_in_chunks<Op>(decoder, rows.bytes, rows.n_shots,
                                                                   decoder.n_qubits()),
                                      rows.n_shots, decoder.n_qubits());
    } else {
        const std::span<const uint8_t> bytes = syndrome_bytes(view, Message.text);
        const std::vector<size_t> shape = array_shape(view);
        unwrap(decoder.check_batch_shape(shape));
        return detail::rows_array(detail::take(detail::released_rows<Op>(decoder, bytes, shape[0])), shape[0],
                                  decoder.n_qubits());
    }
}

// Any other method whose arguments all convert by their declared types:
// `build_table($self, max_entries)`, `flush($self)`, `save_weights($self,
// path)`. Nothing or a Status returns None, a value converts with py_value.
template <auto Op>
PyObject* plain_method(detail::SelfOf<Op>& native, const Args& args) {
    auto converted = detail::trailing_arguments<Op, 0>(args);
    auto call = [&](auto&&... values) { return std::invoke(Op, native, std::move(values)...); };
    using Returned = decltype(std::apply(call, std::move(converted)));
    if constexpr (std::is_void_v<Returned>) {
        std::apply(call, std::move(converted));
        return py_none();
    } else if constexpr (std::is_same_v<Returned, Status>) {
        unwrap(std::apply(call, std::move(converted)));
        return py_none();
    } else {
        return py_value(detail::take(std::apply(call, std::move(converted))));
    }
}

}  // namespace vornex::py
