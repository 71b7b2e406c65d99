#include "operations/operation_worker.h"

#include "context/connect.h"
#include "context/notifications.h"
#include "context/upgrade_context.h"
#include "image/crc32.h"
#include "link/port.h"
#include "operations/dump.h"
#include "operations/upgrade.h"

namespace stb {

int StartOperation() {
  return StartWorker(&OperationWorker);
}

int OperationWorker() {
  Crc32BuildTable();
  CUpgradeContext* context = GetContext();
  const int32_t mode = context->Mode;
  context->State = Operating;
  CancelRequested() = 0;
  int result = OpenAndSynchronise();
  if (result == 0) result = mode != 0 ? RunDump() : RunUpgrade();
  if (result != 0) ReportError(result);
  PostWorkerMessage(WM_WORKER_FINISHED, result != 0 ? 1 : 0, CancelRequested() != 0 ? 1 : 0);
  context->State = Idle;
  PortClose();
  return 1;
}

}  // namespace stb
