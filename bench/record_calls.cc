// The record bookkeeping exports on a 10,000-record device record database
// (10 MB) and a modification log of 10,000 deletions: the cost of one call.
// The database is kept at its size: what a call removes is put back at the
// end while the clock is stopped (an append by another program, after which
// the library reads the file afresh). The drains leave the files to the
// library, as a session does.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zelsyncdll.h"

namespace {

constexpr int kRecords = 10000;
constexpr uint32_t kType = SYNC_OBJECT_CONTACT;

using Units = std::u16string;

Units Wide(const std::string& text) { return Units(text.begin(), text.end()); }
Units EntryId(int n) { return Wide("bench-entry-" + std::to_string(n)); }
Units Luid(int n) { return Wide(std::to_string(100000 + n)); }

void PutField(unsigned char* field, const Units& text) {
  memset(field, 0, 520);
  memcpy(field, text.data(), text.size() * 2);  // little-endian host
}

void PutU32(unsigned char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

struct Folder {
  std::string sync;  // with its trailing '/'
  std::string database, log;
};

Folder Prepare() {
  static Folder folder = [] {
    const char* temp = getenv("TMPDIR");
    std::string pattern =
        std::string(temp && temp[0] == '/' ? temp : "/tmp") + "/zelsync-bench-XXXXXX";
    if (!mkdtemp(&pattern[0])) abort();
    setenv("XDG_DATA_HOME", pattern.c_str(), 1);
    Folder made;
    made.sync = pattern + "/ZelBtOutlookSync/";
    made.database = made.sync + "bench_contacts.DAT";
    made.log = made.sync + "SyncModificationLog.DAT";
    return made;
  }();
  if (SetDeviceIDDatabaseID(u"bench", u"contacts") != 1) abort();
  return folder;
}

void AppendDeviceRecord(FILE* file, int n, bool mapped) {
  unsigned char record[1044];
  PutU32(record, kType);
  PutField(record + 4, EntryId(n));
  PutField(record + 524, mapped ? Luid(n) : u"UNDEFINED");
  fwrite(record, sizeof record, 1, file);
}

void AppendDeletion(FILE* file, int n) {
  unsigned char record[528];
  PutU32(record, kType);
  PutU32(record + 4, 1);
  PutField(record + 8, EntryId(n));
  fwrite(record, sizeof record, 1, file);
}

void WriteDatabase(const Folder& folder, bool mapped) {
  FILE* file = fopen(folder.database.c_str(), "wb");
  if (!file) abort();
  const unsigned char counter[4] = {};
  fwrite(counter, sizeof counter, 1, file);
  for (int n = 0; n < kRecords; ++n) AppendDeviceRecord(file, n, mapped);
  fclose(file);
}

void Append(const std::string& path, void (*append)(FILE*, int), int n) {
  FILE* file = fopen(path.c_str(), "ab");
  if (!file) abort();
  append(file, n);
  fclose(file);
}

void AppendMapped(FILE* file, int n) { AppendDeviceRecord(file, n, true); }

void WriteLog(const Folder& folder) {
  FILE* log = fopen(folder.log.c_str(), "wb");
  if (!log) abort();
  for (int n = 0; n < kRecords; ++n) AppendDeletion(log, n);
  fclose(log);
}

// The device reports the LUID of the last item handed out: the record sits
// at the end of the database.
void BM_UpdateLUIDofPrevGetNewRecord(benchmark::State& state) {
  const Folder folder = Prepare();
  WriteDatabase(folder, false);
  const Units entry = EntryId(kRecords - 1);
  int round = 0;
  for (auto _ : state) {
    const Units luid = Luid(round++);
    if (UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_CONTACT, entry.c_str(), luid.c_str()) != 1) {
      state.SkipWithError("UpdateLUIDofPrevGetNewRecord failed");
    }
  }
}
BENCHMARK(BM_UpdateLUIDofPrevGetNewRecord)->Unit(benchmark::kMillisecond);

void BM_DeleteDBRecord(benchmark::State& state) {
  const Folder folder = Prepare();
  WriteDatabase(folder, true);
  int next = kRecords;
  int victim = 0;
  for (auto _ : state) {
    const Units luid = Luid(victim++);
    if (DeleteDBRecord(SYNC_OBJECT_CONTACT, luid.c_str()) != 1) {
      state.SkipWithError("DeleteDBRecord failed");
    }
    state.PauseTiming();
    Append(folder.database, AppendMapped, next++);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DeleteDBRecord)->Unit(benchmark::kMillisecond);

void BM_GetDeletedRecord(benchmark::State& state) {
  const Folder folder = Prepare();
  WriteDatabase(folder, true);
  WriteLog(folder);
  int next = kRecords;
  for (auto _ : state) {
    ZS_WCHAR luid[ZS_MAX_PATH];
    int32_t hard = 0;
    if (GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard) != 1) {
      state.SkipWithError("GetDeletedRecord reported nothing");
    }
    state.PauseTiming();
    Append(folder.database, AppendMapped, next);
    Append(folder.log, AppendDeletion, next++);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_GetDeletedRecord)->Unit(benchmark::kMillisecond);

// A session draining the files: nothing else writes them between calls, so
// the kept index answers and each removal marks its records in place. The
// 4,000 calls stay below the half of the records that makes a removal
// rewrite the file.
void BM_DeleteDBRecordDrain(benchmark::State& state) {
  const Folder folder = Prepare();
  WriteDatabase(folder, true);
  int victim = 0;
  for (auto _ : state) {
    if (DeleteDBRecord(SYNC_OBJECT_CONTACT, Luid(victim++).c_str()) != 1) {
      state.SkipWithError("DeleteDBRecord failed");
    }
  }
}
BENCHMARK(BM_DeleteDBRecordDrain)->Unit(benchmark::kMillisecond)->Iterations(4000);

void BM_GetDeletedRecordDrain(benchmark::State& state) {
  const Folder folder = Prepare();
  WriteDatabase(folder, true);
  WriteLog(folder);
  for (auto _ : state) {
    ZS_WCHAR luid[ZS_MAX_PATH];
    int32_t hard = 0;
    if (GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard) != 1) {
      state.SkipWithError("GetDeletedRecord reported nothing");
    }
  }
}
BENCHMARK(BM_GetDeletedRecordDrain)->Unit(benchmark::kMillisecond)->Iterations(4000);

}  // namespace

BENCHMARK_MAIN();
