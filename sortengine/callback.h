#pragma once

#include <functional>

// A progress callback: receives one line, a null-terminated string that is
// only read during the call. An empty callback means silence.
using TCallBackStrEvent = std::function<void(const char* Line)>;
