#include "app/driver.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  // Standard output may be a pipe that is closed before lagscan has
  // written: the status must still be 1, not a signal.
  lagscan::platform::fail_writes_to_closed_pipes();
  return lagscan::run_command(argc, argv);
}
