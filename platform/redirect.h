// Inside platform/ only: the path that open_file really opens for path,
// after the redirection that tests may set with redirect_for_tests.
#pragma once

namespace lagscan::platform {

const char* redirected(const char* path) noexcept;

}  // namespace lagscan::platform
