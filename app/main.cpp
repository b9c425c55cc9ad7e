#include "app/driver.h"

int main(int argc, char** argv) { return lagscan::run_command(argc, argv); }
