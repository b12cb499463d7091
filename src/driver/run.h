#pragma once

namespace sorvan {

// The whole program: runs the stages of a render in order and returns the
// exit status. Only main calls it.
int runMain(int argc, char** argv);

}  // namespace sorvan
