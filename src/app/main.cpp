#include "app/driver.hpp"

int main(int argc, char** argv) {
  return vidtwine::runDriver(argc, argv);
}
