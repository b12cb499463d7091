#include "base/output_file.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  // An interrupted render must not leave half-written temporaries behind.
  sorvan::removeTemporariesOnSignals();
  return sorvan::runMain(argc, argv);
}
