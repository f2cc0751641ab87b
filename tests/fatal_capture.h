// Turns FatalError into an exception inside tests, so one process can check
// many error messages. Link the test against quarn_cmdline (or a library
// that depends on it).
#pragma once

#include <string>

#include "cmdline/fatal_error.h"

namespace testing_support {

struct FatalErrorRaised {
  std::string Message;
};

inline void ThrowFatalError(const std::string& Message) { throw FatalErrorRaised{Message}; }

// Installs the throwing handler for the lifetime of the object.
class CaptureFatalErrors {
 public:
  CaptureFatalErrors() { SetFatalErrorHandler(&ThrowFatalError); }
  ~CaptureFatalErrors() { SetFatalErrorHandler(nullptr); }
};

}  // namespace testing_support

// Runs `statement` and yields the FatalError message it raised; fails the
// test when it raised none.
#define EXPECT_FATAL(statement, expected)                          \
  do {                                                             \
    testing_support::CaptureFatalErrors capture_;                  \
    try {                                                          \
      statement;                                                   \
      ADD_FAILURE() << "no fatal error from: " #statement;         \
    } catch (const testing_support::FatalErrorRaised& raised_) {   \
      EXPECT_EQ(raised_.Message, expected) << "from: " #statement; \
    }                                                              \
  } while (0)
