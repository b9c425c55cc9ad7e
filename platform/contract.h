// Stopping the process on a broken contract: a caller handed the library
// something that, if processed, would corrupt memory. There is no recovery,
// so the message goes to standard error and the process aborts at once.
// Nothing here allocates, so it is safe inside the allocator.
#pragma once

namespace lagscan::platform {

[[noreturn]] void stop_on_contract_violation(const char* message) noexcept;

}  // namespace lagscan::platform
