#include "driver/run.h"

int main(int argc, char** argv) {
  return sorvan::runMain(argc, argv);
}
