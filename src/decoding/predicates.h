#pragma once
// Record predicates composed at compile time: each combination is one object
// whose parts are members of one another, evaluated left to right with short
// circuits.

#include "decoding/trace_context.h"
#include "platform/sdk/etw_types.h"

#include <cstdint>
#include <utility>

namespace etw::predicates {
namespace details {

class predicate_base {
  public:
    virtual bool operator()(const EVENT_RECORD& record, const trace_context& context) const = 0;

  protected:
    // Predicates are held by value, never deleted through this base.
    predicate_base() = default;
    predicate_base(const predicate_base&) = default;
    predicate_base& operator=(const predicate_base&) = default;
    ~predicate_base() = default;
};

// True when both are; `right` is evaluated only when `left` is true.
template <typename L, typename R> class and_filter final : public predicate_base {
  public:
    and_filter(L left, R right) : left_(std::move(left)), right_(std::move(right)) {}
    bool operator()(const EVENT_RECORD& record, const trace_context& context) const override {
        return left_(record, context) && right_(record, context);
    }

  private:
    L left_;
    R right_;
};

// True when either is; `right` is evaluated only when `left` is false.
template <typename L, typename R> class or_filter final : public predicate_base {
  public:
    or_filter(L left, R right) : left_(std::move(left)), right_(std::move(right)) {}
    bool operator()(const EVENT_RECORD& record, const trace_context& context) const override {
        return left_(record, context) || right_(record, context);
    }

  private:
    L left_;
    R right_;
};

// Note: not_filter(not_filter(x)) deduces a copy of the inner filter, as class
// template argument deduction prefers copying; spell the type to nest one.
template <typename T> class not_filter final : public predicate_base {
  public:
    explicit not_filter(T inner) : inner_(std::move(inner)) {}
    bool operator()(const EVENT_RECORD& record, const trace_context& context) const override {
        return !inner_(record, context);
    }

  private:
    T inner_;
};

} // namespace details

// The record's event version (zero-extended) equals the value.
class version_is final : public details::predicate_base {
  public:
    explicit version_is(std::uint16_t value) : value_(value) {}
    bool operator()(const EVENT_RECORD& record, const trace_context&) const override {
        return record.EventHeader.EventDescriptor.Version == value_;
    }

  private:
    std::uint16_t value_;
};

// The record's opcode (zero-extended) equals the value.
class opcode_is final : public details::predicate_base {
  public:
    explicit opcode_is(std::uint16_t value) : value_(value) {}
    bool operator()(const EVENT_RECORD& record, const trace_context&) const override {
        return record.EventHeader.EventDescriptor.Opcode == value_;
    }

  private:
    std::uint16_t value_;
};

} // namespace etw::predicates
