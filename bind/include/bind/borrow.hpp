// The per-object borrow counter that refuses re-entry: a nested call on an
// object while an operation changes it (for instance from Python code run by
// an argument's __float__) fails instead of seeing a half-changed record.
#pragma once

#include <Python.h>

#include <atomic>

#include "bind/ref.hpp"

namespace bind {

// 0: free; -1: borrowed exclusively; n > 0: borrowed shared by n readers.
using BorrowFlag = std::atomic<Py_ssize_t>;

constexpr Py_ssize_t BORROWED_EXCLUSIVELY = -1;

class SharedBorrow {
public:
    explicit SharedBorrow(BorrowFlag& flag) : flag_(&flag) {
        Py_ssize_t current = flag.load(std::memory_order_relaxed);
        do {
            if (current == BORROWED_EXCLUSIVELY) raise(PyExc_RuntimeError, "Already mutably borrowed");
        } while (!flag.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                             std::memory_order_relaxed));
    }
    SharedBorrow(SharedBorrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    SharedBorrow& operator=(SharedBorrow&&) = delete;
    ~SharedBorrow() {
        if (flag_) flag_->fetch_sub(1, std::memory_order_release);
    }

private:
    BorrowFlag* flag_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowFlag& flag) : flag_(flag) {
        Py_ssize_t expected = 0;
        if (!flag.compare_exchange_strong(expected, BORROWED_EXCLUSIVELY, std::memory_order_acquire,
                                          std::memory_order_relaxed)) {
            raise(PyExc_RuntimeError, "Already borrowed");
        }
    }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    ~ExclusiveBorrow() { flag_.store(0, std::memory_order_release); }

private:
    BorrowFlag& flag_;
};

}  // namespace bind
