// Burn: the box reports progress records until it has finished or failed.
#include <algorithm>

#include "context/error_table.h"
#include "protocol/legacy.h"
#include "protocol/legacy_common.h"
#include "protocol/no_progress_watchdog.h"

namespace stb {

namespace {

// The leading decimal number of a 4-character field: blanks and a sign may lead, the
// first other character ends it (atoi on a field that carries no terminator).
int32_t LeadingNumber(const uint8_t* field, int n) {
  int i = 0;
  while (i < n && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < n && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  int32_t value = 0;
  for (; i < n && field[i] >= '0' && field[i] <= '9'; ++i) value = value * 10 + (field[i] - '0');
  return negative ? -value : value;
}

// The record's number counts kibibytes burnt so far.
int BurnPercent(int32_t burntKiB, int32_t totalBytes) {
  if (totalBytes == 0) return 0;  // nothing announced: no progress to tell
  const int64_t percent = int64_t{burntKiB} * 102400 / totalBytes;
  return static_cast<int>(std::clamp<int64_t>(percent, 0, 100));
}

}  // namespace

// Bytes other than the record letters are line noise between records and passed
// over; but a box that sends only noise for 30 s, without a record, is given up (8),
// as one that stays silent for 30 s.
int LegacyBurn(int32_t totalBytes, ProgressCallback progress) {
  if (int rc = legacy::StartCommand("burn\r"); rc != 0) return rc;
  if (int rc = legacy::ReadAcceptance(1000); rc != 0) return rc;

  NoProgressWatchdog watchdog;
  for (;;) {
    uint8_t letter = 0;
    // Erasing a sector can keep the box quiet for a long while.
    if (int rc = legacy::ReadLetter(letter, 30000); rc != 0) return rc;
    if (letter == legacy::kBurnProgress) {
      uint8_t record[6];
      if (int rc = legacy::ReadWithin(record, 6, 1000); rc != 0) return rc;
      legacy::Report(progress, BurnPercent(LeadingNumber(record, 4), totalBytes));
      watchdog.Restart();
    } else if (letter == legacy::kBurnFinished) {
      legacy::Report(progress, 100);
      return err::kSuccess;
    } else if (letter == legacy::kRejected) {
      // The box's error details are dropped; whether they came or not, the burn failed
      // and that is what the user must learn.
      uint8_t details[8];
      legacy::ReadWithin(details, 8, 1000);
      return err::kBurnFailed;
    } else if (watchdog.Expired()) {
      return err::kReadTimeout;
    }
  }
}

}  // namespace stb
