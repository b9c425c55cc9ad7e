#include "platform/contract.h"

#include <gtest/gtest.h>

namespace lagscan::platform {
namespace {

TEST(contract_death, a_violation_names_itself_on_standard_error_and_aborts) {
  EXPECT_DEATH(stop_on_contract_violation("a test of the stop"),
               "lagscan: contract violation: a test of the stop");
}

}  // namespace
}  // namespace lagscan::platform
