#include "driver/run.h"

namespace sorvan {

int runMain(int, char**) { return 0; }

}  // namespace sorvan
