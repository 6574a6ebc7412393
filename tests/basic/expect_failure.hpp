// EXPECT_RUNTIME_FAILURE(number, call): expects `call` to fail with the run-time failure
// numbered `number`.
#pragma once

#include <gtest/gtest.h>

#include "basic/runtime_failure.hpp"

#define EXPECT_RUNTIME_FAILURE(expected, call)                                   \
  do {                                                                           \
    try {                                                                        \
      call;                                                                      \
      ADD_FAILURE() << #call " did not fail";                                    \
    } catch (const ::zav::RuntimeFailure& failure_) {                            \
      EXPECT_EQ(failure_.number(), (expected)) << #call ": " << failure_.what(); \
    }                                                                            \
  } while (0)
