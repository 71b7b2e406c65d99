// The dump and upgrade worker.
#pragma once

namespace stb {

// Starts OperationWorker by the rules of StartConnect; 1 when started.
int StartOperation();
int OperationWorker();

}  // namespace stb
