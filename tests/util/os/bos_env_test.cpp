// Environment, shared libraries, module names, clock and process.
#include "tests/util/bos_test_support.h"

#include "util/memory/ram.h"

#include <sys/resource.h>

#include <ctime>

namespace {

using BosEnvTest = BosTest;

TEST_F(BosEnvTest, EnvironmentValuesAreCopiesOfAnyLength) {
  const std::string longValue(5000, 'v');
  setenv("KV_BOS_TEST_LONG", longValue.c_str(), 1);
  setenv("KV_BOS_TEST_EMPTY", "", 1);
  unsetenv("KV_BOS_TEST_ABSENT");

  unsigned char* value = kvU(const_cast<char*>("stale"));
  ASSERT_EQ(bosGetEnv(kvU("KV_BOS_TEST_LONG"), &value), kvSuccess);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(std::string(kvC(value)), longValue);
  unsigned char* second = nullptr;
  ASSERT_EQ(bosGetEnv(kvU("KV_BOS_TEST_LONG"), &second), kvSuccess);
  EXPECT_NE(second, value);  // each caller owns its copy
  ramFree(second);
  ramFree(value);

  for (const char* name : {"KV_BOS_TEST_EMPTY", "KV_BOS_TEST_ABSENT"}) {
    value = kvU(const_cast<char*>("stale"));
    EXPECT_EQ(bosGetEnv(kvU(name), &value), kvSuccess);
    EXPECT_EQ(value, nullptr) << name;
  }
  EXPECT_TRUE(errors().empty());
}

TEST_F(BosEnvTest, ReleaseSuffixIsAppended) {
  unsigned char name[8] = "KVTR";
  EXPECT_EQ(bosdllname(name, sizeof(name)), kvSuccess);
  EXPECT_STREQ(kvC(name), "KVTR06");
  EXPECT_EQ(bosdllname(name, sizeof(name)), kvFailure);
  EXPECT_STREQ(kvC(name), "KVTR06");
  EXPECT_EQ(errors(), std::vector<uint16_t>{1524});
}

TEST_F(BosEnvTest, ModulePathsComeFromTheLoadedObject) {
  PathBuffer path;
  ASSERT_EQ(bosGetModulePath(reinterpret_cast<const void*>(&bosGetEnv), path), kvSuccess);
  EXPECT_EQ(path.str()[0], '/');
  EXPECT_EQ(path.str().substr(path.str().rfind('/')), "/libkvutil.so");
  unsigned char name[bosNameBytes];
  ASSERT_EQ(bosGetModuleName(reinterpret_cast<const void*>(&bosGetEnv), name), kvSuccess);
  EXPECT_STREQ(kvC(name), "libkvutil.so");
  EXPECT_TRUE(errors().empty());

  EXPECT_EQ(bosGetModulePath(nullptr, path), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{30040});
}

TEST_F(BosEnvTest, LibrariesNamedInWindowsStyleAreFoundAsSharedObjects) {
  // The C math library, copied under a Windows-style name.
  void* math = bosLoadLibrary(kvU("libm.so.6"), 0);
  ASSERT_NE(math, nullptr);
  void* cosine = bosGetProcAddress(math, "cos");
  ASSERT_NE(cosine, nullptr);
  PathBuffer mathPath;
  ASSERT_EQ(bosGetModulePath(cosine, mathPath), kvSuccess);
  bosFreeLibrary(math);
  writeFile(path("libKVTEST06.so"), readFile(mathPath.str()));

  const std::string found[] = {
      dir_ + "\\KVTEST06.DLL",
      path("kvtest06"),
      path("KVTEST06.dll"),
      path("libkvtest06.so"),
  };
  for (const std::string& name : found) {
    void* library = bosLoadLibrary(kvU(name.c_str()), 0);
    EXPECT_NE(library, nullptr) << name;
    if (!library) continue;
    auto function = reinterpret_cast<double (*)(double)>(bosGetProcAddress(library, "cos"));
    ASSERT_NE(function, nullptr);
    EXPECT_EQ(function(0.0), 1.0);
    EXPECT_EQ(bosGetProcAddress(library, "noSuchEntryPoint"), nullptr);
    bosFreeLibrary(library);
  }

  const std::string missing[] = {path("OTHER06.DLL"), path("libKVTEST06.so.1"), "KVNOSUCH06", "KVNOSUCH06.DLL", ""};
  for (const std::string& name : missing) EXPECT_EQ(bosLoadLibrary(kvU(name.c_str()), 0), nullptr) << name;
  EXPECT_EQ(bosLoadLibrary(kvU("KVNOSUCH"), 1), nullptr);
  bosFreeLibrary(nullptr);
  EXPECT_TRUE(errors().empty());  // the callers report a failed load
}

TEST_F(BosEnvTest, ClockAndProcess) {
  // The bounds come from the clock bosdate reads: time() may read a coarser
  // one that lags it across a second boundary.
  auto wallSeconds = [] {
    struct timespec clock;
    clock_gettime(CLOCK_REALTIME, &clock);
    return clock.tv_sec;
  };
  auto key = [](int year, int month, int day, int hour, int minute, int second) {
    return ((((int64_t(year) * 13 + month) * 32 + day) * 24 + hour) * 60 + minute) * 61 + second;
  };
  // The UTC and the local forms, each between the readings around it.
  for (bool local : {false, true}) {
    time_t before = wallSeconds();
    os_time now;
    if (local) bosLocalDate(&now);
    else bosdate(&now);
    time_t after = wallSeconds();
    struct tm low, high;
    if (local) {
      localtime_r(&before, &low);
      localtime_r(&after, &high);
    } else {
      gmtime_r(&before, &low);
      gmtime_r(&after, &high);
    }
    int64_t got = key(now.year, now.month, now.day, now.hour, now.minute, now.second);
    EXPECT_GE(got, key(low.tm_year + 1900, low.tm_mon + 1, low.tm_mday, low.tm_hour, low.tm_min, low.tm_sec));
    EXPECT_LE(got, key(high.tm_year + 1900, high.tm_mon + 1, high.tm_mday, high.tm_hour, high.tm_min, high.tm_sec));
    EXPECT_LT(now.millisecond, 1000);
  }

  // bossleep waits at least as long as asked.
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  bossleep(20);
  clock_gettime(CLOCK_MONOTONIC, &end);
  EXPECT_GE((end.tv_sec - start.tv_sec) * 1000000000L + (end.tv_nsec - start.tv_nsec), 20000000L);

  uint32_t task = 0;
  bostskid(&task);
  EXPECT_EQ(task, uint32_t(getpid()));
  EXPECT_EQ(bosabort(), 0);

  // The descriptor limit only ever rises, and never past the hard limit.
  struct rlimit files;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  EXPECT_EQ(bosSetHandleCount(1), uint32_t(files.rlim_cur));
  uint32_t wanted = files.rlim_max > files.rlim_cur ? uint32_t(files.rlim_cur + 1) : uint32_t(files.rlim_cur);
  EXPECT_EQ(bosSetHandleCount(wanted), wanted);
  if (files.rlim_max != RLIM_INFINITY && files.rlim_max < 0xFFFFFFFFu) {
    EXPECT_EQ(bosSetHandleCount(0xFFFFFFFFu), uint32_t(files.rlim_max));
  }
  setrlimit(RLIMIT_NOFILE, &files);
  EXPECT_EQ(bosftest(kvU("anything")), 1);
}

}  // namespace
