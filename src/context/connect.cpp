// The connect worker and the rules every worker follows: one at a time, started
// atomically, the port owned from open-and-synchronise to the end, and the close path.
#include "context/connect.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "context/error_table.h"
#include "context/notifications.h"
#include "context/settings.h"
#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "image/crc32.h"
#include "link/clock.h"
#include "link/link.h"
#include "link/port.h"
#include "protocol/dispatcher.h"

namespace stb {

namespace {
// The worker slot: the handle of the worker started last and whether it still runs.
// The thread object is never destroyed while its thread may run: a worker that
// outlives the close path is detached and left to the process's exit.
struct WorkerSlot {
  std::mutex mutex;
  std::condition_variable ended;
  std::thread thread;
  bool running = false;
  bool abandoned = false;
};

WorkerSlot& Slot() {
  // Never destroyed: an abandoned worker may still reach it while the process exits.
  static WorkerSlot* slot = new WorkerSlot();
  return *slot;
}

void RunWorkerBody(int (*body)()) {
  body();
  WorkerSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  slot.running = false;
  slot.ended.notify_all();
}

void MarkMaskedChunks(const CUpgradeContext& context, TargetChunkTable& table) {
  const uint32_t count = std::min<uint32_t>(table.chunkCount, kMaxTableChunks);
  for (uint32_t i = 0; i < count; ++i) {
    for (uint32_t m = 0; m < context.ChunkMaskCount && m < kChunkMaskCapacity; ++m) {
      if (table.chunks[i].id == context.ChunkMask[m]) {
        table.chunks[i].masked = 1;
        break;
      }
    }
  }
}
}  // namespace

int StartWorker(int (*body)()) {
  WorkerSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  CUpgradeContext* context = GetContext();
  // The claim and the check are one step under the lock, so a second request that
  // comes before the worker has set its State is refused as well.
  if (context == nullptr || context->State.load() != Idle || slot.running || slot.abandoned) {
    return 0;
  }
  if (slot.thread.joinable()) slot.thread.join();  // the previous worker has ended
  slot.running = true;
  slot.thread = std::thread(RunWorkerBody, body);
  return 1;
}

bool WorkerRunning() {
  WorkerSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  return slot.running;
}

bool WaitForWorker(uint32_t timeoutMs) {
  WorkerSlot& slot = Slot();
  std::unique_lock<std::mutex> lock(slot.mutex);
  const bool ended = slot.ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [&slot] { return !slot.running; });
  if (ended && slot.thread.joinable()) slot.thread.join();
  return ended;
}

int StartConnect() {
  return StartWorker(&ConnectWorker);
}

int OpenAndSynchronise() {
  PostWorkerText("Öffne Serialport..", true);
  const SerialSettings& serial = GetSerialSettings();
  const int opened = PortOpen(serial.Port, serial.Baud, serial.Parity, 1);
  if (opened != 0) return opened;
  PostWorkerText("Synchronisiere Port..", true);
  uint32_t version = 0;
  const int result = Handshake(version, &IsCancelRequested);
  CUpgradeContext* context = GetContext();
  // An operation after a connect keeps the connect's version.
  if (context != nullptr && context->ProtocolVersion == 0) {
    context->ProtocolVersion = version;
    SetProtocolVersion(version);
  }
  return result;
}

int ConnectWorker() {
  CUpgradeContext* context = GetContext();
  context->State = Connecting;
  CancelRequested() = 0;
  context->ProtocolVersion = 0;
  Crc32BuildTable();

  int result = OpenAndSynchronise();
  if (result != 0) {
    ReportError(result);
  } else {
    SleepMs(100);
    PostWorkerText("Lese Clientprotokol-Version & Daten ", true);
    TargetChunkTable& table = GetTargetChunkTable();
    result = LoaderReadInfo(context->ProtocolVersion, table);
    if (result != 0) {
      ReportError(result);
    } else {
      MarkMaskedChunks(*context, table);
      if (context->ProtocolVersion == 0)
        context->ProtocolVersion = context->TransferFormat2 != 0 ? 32 : 16;
      SetProtocolVersion(context->ProtocolVersion);
    }
  }
  PostWorkerMessage(WM_WORKER_CONNECTED, result == 0 ? 1 : 0, 0);
  context->State = Idle;
  PortClose();
  return 1;
}

bool RequestCancel() {
  WorkerSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  const CUpgradeContext* context = GetContext();
  if (context != nullptr && context->State.load() == Flashing) return false;
  CancelRequested() = 1;
  return true;
}

bool EnterFlashing() {
  WorkerSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  if (CancelRequested() != 0) return false;
  GetContext()->State = Flashing;
  return true;
}

namespace {
bool Burning() {
  WorkerSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  const CUpgradeContext* context = GetContext();
  return context != nullptr && context->State.load() == Flashing;
}
}  // namespace

void CloseContext() {
  WorkerSlot& slot = Slot();
  bool running = false;
  {
    std::lock_guard<std::mutex> lock(slot.mutex);
    running = slot.running;
  }
  if (running) {
    // Refused when the box already burns; taken, it keeps the worker from burning.
    RequestCancel();
    bool ended = WaitForWorker(10000);
    // A box that burns is never given up: the burn and the reboot must go out.
    while (!ended && Burning()) ended = WaitForWorker(1000);
    if (!ended && !WaitForWorker(500)) {
      // A worker deaf to the cancel (a long wait for the box) is left to the
      // process's exit; what it can still touch is not destroyed. The cancel it has
      // taken keeps it from burning.
      std::lock_guard<std::mutex> lock(slot.mutex);
      slot.abandoned = true;
      slot.thread.detach();
    }
  } else {
    WaitForWorker(0);  // joins a worker that has just ended
  }
  SaveSettings();
  std::lock_guard<std::mutex> lock(slot.mutex);
  if (!slot.abandoned) DestroyContext();
}

}  // namespace stb
