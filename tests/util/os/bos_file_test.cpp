// Files of the operating-system layer: reading and writing in pieces, the
// file position around positioned reads and writes, the error map, opens
// (names found without regard to case, Linux limits, no DOS rules, file
// number 0 never handed out, share modes), temporary files, delete, rename,
// comparing an open file with a name, and atomic replacement (also through
// symbolic links).
#include "tests/util/bos_test_support.h"

#include "util/memory/ram.h"

#include <sys/resource.h>
#include <sys/socket.h>

#include <functional>
#include <thread>

namespace {

class BosFileTest : public BosTest {
 protected:
  // Opens name with flags; the file number, or -1 after a failure.
  int openFile(const std::string& name, uint32_t flags) {
    std::string buffer = name;
    int file = -1;
    return bosFileOpen(kvU(&buffer[0]), flags, &file) == kvSuccess ? file : -1;
  }
  std::string readAll(int file) {
    std::string data(200000, '\0');
    uint32_t got = 0;
    EXPECT_EQ(bosFileRead(file, 0, &data[0], uint32_t(data.size()), &got), kvSuccess);
    data.resize(got);
    return data;
  }
};

TEST_F(BosFileTest, ReadWriteAndSeekKeepTheFilePosition) {
  int file = openFile(path("data.bin"), bosOpenCreate);
  ASSERT_GE(file, 3);
  EXPECT_EQ(bosFileWrite(file, 0, "hello", 5), kvSuccess);
  EXPECT_EQ(bosFileWrite(file, -1, " world", 6), kvSuccess);
  EXPECT_EQ(bosFileWrite(file, 3, nullptr, 0), kvSuccess);
  EXPECT_EQ(bosFileSeek(file, 0, 2), 11u);
  EXPECT_EQ(bosFileSeek(file, -5, 1), 6u);

  char buffer[32] = {0};
  uint32_t got = 99;
  EXPECT_EQ(bosFileRead(file, -1, buffer, 32, &got), kvSuccess);
  EXPECT_EQ(std::string(buffer, got), "world");
  EXPECT_EQ(bosFileRead(file, -1, buffer, 32, &got), kvSuccess);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(bosFileRead(file, 2, buffer, 3, &got), kvSuccess);
  EXPECT_EQ(std::string(buffer, got), "llo");
  EXPECT_EQ(bosFileSeek(file, 0, 1), 5u);
  EXPECT_EQ(bosFileClose(file), kvSuccess);

  file = openFile(path("data.bin"), 0);
  ASSERT_GE(file, 3);
  EXPECT_EQ(readAll(file), "hello world");
  EXPECT_EQ(bosFileWrite(file, 0, "x", 1), kvFailure);  // read-only
  EXPECT_EQ(bosFileSeek(file, 0, 7), 0xFFFFFFFFu);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1507, 30041}));
}

// A read or write at an offset leaves the position, as the next call at -1
// or bosFileSeek sees it, behind its bytes; a seek from the start or the end
// overrides what it owed, a failed seek does not.
TEST_F(BosFileTest, PositionedCallsLeaveThePositionBehindTheirBytes) {
  struct Case {
    const char* what;
    std::function<void(int)> positioned;
    std::function<std::string(int)> then;
    std::string expected;
  };
  auto read = [](int file, int64_t offset, uint32_t length) {
    std::string data(length, '\0');
    uint32_t got = 0;
    EXPECT_EQ(bosFileRead(file, offset, &data[0], length, &got), kvSuccess);
    data.resize(got);
    return data;
  };
  auto position = [](int file) { return std::to_string(bosFileSeek(file, 0, 1)); };
  const Case cases[] = {
      {"read", [&](int f) { read(f, 2, 3); }, position, "5"},
      {"write", [](int f) { EXPECT_EQ(bosFileWrite(f, 7, "ab", 2), kvSuccess); }, position, "9"},
      {"read cut at the end", [&](int f) { EXPECT_EQ(read(f, 8, 10), "89"); }, position, "10"},
      {"read beyond the end", [&](int f) { EXPECT_EQ(read(f, 20, 4), ""); }, position, "20"},
      {"read, then read on", [&](int f) { read(f, 2, 3); }, [&](int f) { return read(f, -1, 2); }, "56"},
      {"write, then write on", [](int f) { EXPECT_EQ(bosFileWrite(f, 4, "xy", 2), kvSuccess); },
       [&](int f) {
         EXPECT_EQ(bosFileWrite(f, -1, "z", 1), kvSuccess);
         return read(f, 0, 20);
       },
       "0123xyz789"},
      {"seek from the end", [&](int f) { read(f, 3, 1); },
       [&](int f) {
         std::string moved = std::to_string(bosFileSeek(f, -1, 2));
         return moved + " " + read(f, -1, 5);
       },
       "9 9"},
      {"seek from the start", [&](int f) { read(f, 3, 1); },
       [&](int f) {
         std::string moved = std::to_string(bosFileSeek(f, 1, 0));
         return moved + " " + read(f, -1, 2);
       },
       "1 12"},
      {"failed seek", [&](int f) { read(f, 3, 1); },
       [&](int f) {
         std::string moved = std::to_string(bosFileSeek(f, -1, 0));
         return moved + " " + position(f);
       },
       "4294967295 4"},
  };
  for (const Case& c : cases) {
    writeFile(path("digits"), "0123456789");
    int file = openFile(path("digits"), bosOpenReadWrite);
    ASSERT_GE(file, 3);
    c.positioned(file);
    EXPECT_EQ(c.then(file), c.expected) << c.what;
    EXPECT_EQ(bosFileClose(file), kvSuccess);
  }
  EXPECT_EQ(errors(), std::vector<uint16_t>{30041});  // the failed seek
}

// A positioned read or write is one system call: the system's own position
// stays where it was until a call that uses it. Threads reading one file
// number at their own offsets each get their own bytes, which a seek
// followed by a read could not promise.
TEST_F(BosFileTest, PositionedCallsNeitherSeekNorRaceEachOther) {
  const uint32_t pageBytes = 8192;
  const int pages = 64;
  int file = openFile(path("pages"), bosOpenCreate);
  ASSERT_GE(file, 3);
  for (int page = 0; page < pages; ++page) {
    std::string bytes(pageBytes, char('A' + page % 26));
    ASSERT_EQ(bosFileWrite(file, int64_t(page) * pageBytes, bytes.data(), pageBytes), kvSuccess);
  }
  EXPECT_EQ(lseek(file, 0, SEEK_CUR), 0);
  std::string page(pageBytes, '\0');
  uint32_t got = 0;
  ASSERT_EQ(bosFileRead(file, 5 * pageBytes, &page[0], pageBytes, &got), kvSuccess);
  EXPECT_EQ(lseek(file, 0, SEEK_CUR), 0);
  EXPECT_EQ(bosFileSeek(file, 0, 1), 6 * pageBytes);
  EXPECT_EQ(lseek(file, 0, SEEK_CUR), 6 * pageBytes);

  const int threads = 4;
  int wrong[threads] = {0};
  std::vector<std::thread> readers;
  for (int t = 0; t < threads; ++t) {
    readers.emplace_back([&, t] {
      std::string bytes(pageBytes, '\0');
      for (int round = 0; round < 200; ++round) {
        int pageNo = (round * threads + t) % pages;
        uint32_t n = 0;
        if (bosFileRead(file, int64_t(pageNo) * pageBytes, &bytes[0], pageBytes, &n) != kvSuccess ||
            n != pageBytes || bytes != std::string(pageBytes, char('A' + pageNo % 26)))
          ++wrong[t];
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(wrong[t], 0) << t;
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_TRUE(errors().empty());
}

// A position owed by a file that is closed is not owed by the next file the
// system gives the same number.
TEST_F(BosFileTest, ANewFileOfTheSameNumberOwesNoPosition) {
  writeFile(path("first"), "0123456789");
  writeFile(path("second"), "abcdefghij");
  writeFile(path("target"), "");
  struct Case {
    const char* closer;
    std::function<int()> open;
    std::function<void(int, unsigned char*)> close;
  };
  PathBuffer temp;
  const Case cases[] = {
      {"bosFileClose", [&] { return openFile(path("first"), 0); },
       [](int f, unsigned char*) { EXPECT_EQ(bosFileClose(f), kvSuccess); }},
      {"bosReplaceAbort",
       [&] {
         int f = -1;
         EXPECT_EQ(bosReplaceOpen(kvU(path("target").c_str()), temp, &f), kvSuccess);
         return f;
       },
       [](int f, unsigned char* name) { bosReplaceAbort(f, name); }},
      {"bosReplaceCommit",
       [&] {
         int f = -1;
         EXPECT_EQ(bosReplaceOpen(kvU(path("target").c_str()), temp, &f), kvSuccess);
         return f;
       },
       [&](int f, unsigned char* name) {
         EXPECT_EQ(bosReplaceCommit(f, name, kvU(path("target").c_str())), kvSuccess);
       }},
  };
  for (const Case& c : cases) {
    int file = c.open();
    ASSERT_GE(file, 3) << c.closer;
    char byte;
    uint32_t got = 0;
    EXPECT_EQ(bosFileRead(file, 7, &byte, 1, &got), kvSuccess);
    c.close(file, temp);
    int next = openFile(path("second"), 0);
    ASSERT_EQ(next, file) << c.closer;
    char bytes[3] = {0};
    EXPECT_EQ(bosFileRead(next, -1, bytes, 3, &got), kvSuccess);
    EXPECT_EQ(std::string(bytes, got), "abc") << c.closer;
    EXPECT_EQ(bosFileClose(next), kvSuccess);
  }
  EXPECT_TRUE(errors().empty());
}

// Each write piece is one message of a packet socket, so the reader sees the
// pieces exactly as they were written.
TEST_F(BosFileTest, WritesGoOutInPiecesOfAtMost65534Bytes) {
  struct Case {
    uint32_t length;
    std::vector<uint32_t> pieces;
  };
  const Case cases[] = {
      {1, {1}},
      {65534, {65534}},
      {65535, {65534, 1}},
      {70000, {65534, 4466}},
      {131068, {65534, 65534}},
      {200000, {65534, 65534, 65534, 3398}},
  };
  for (const Case& c : cases) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    std::vector<uint32_t> seen;
    std::thread reader([&] {
      std::vector<char> message(1 << 17);
      uint32_t total = 0;
      while (total < c.length) {
        ssize_t got = recv(pair[1], message.data(), message.size(), 0);
        if (got <= 0) break;
        seen.push_back(uint32_t(got));
        total += uint32_t(got);
      }
    });
    std::string data(c.length, 'x');
    EXPECT_EQ(bosFileWrite(pair[0], -1, data.data(), c.length), kvSuccess) << c.length;
    reader.join();
    EXPECT_EQ(seen, c.pieces) << c.length;
    close(pair[0]);
    close(pair[1]);
  }
  EXPECT_TRUE(errors().empty());
}

TEST_F(BosFileTest, AShortPieceFailsTheWrite) {
  // The file-size limit cuts the second piece after 100 of its bytes.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = 65534 + 100;
  sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
  int file = openFile(path("big.bin"), bosOpenCreate);
  ASSERT_GE(file, 3);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::string data(70000, 'y');
  KvStatus status = bosFileWrite(file, 0, data.data(), 70000);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(bosFileSeek(file, 0, 2), 65634u);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{30041}));
}

TEST_F(BosFileTest, AFullDeviceIsInsufficientDiskSpace) {
  for (int64_t offset : {int64_t(-1), int64_t(0), int64_t(8192)}) {
    clearErrors();
    int file = openFile("/dev/full", bosOpenReadWrite);
    ASSERT_GE(file, 3);
    EXPECT_EQ(bosFileWrite(file, offset, "abc", 3), kvFailure);
    EXPECT_EQ(bosFileClose(file), kvSuccess);
    EXPECT_EQ(errors(), (std::vector<uint16_t>{1506})) << offset;
    EXPECT_EQ(lastErrorText(), "Insufficient disk space.");
  }
}

TEST_F(BosFileTest, AReservationBeyondTheFileSizeLimitFailsAndChangesNothing) {
  int file = openFile(path("t.dbf"), bosOpenCreate | bosOpenReadWrite);
  ASSERT_GE(file, 3);
  ASSERT_EQ(bosFileWrite(file, 0, "0123456789", 10), kvSuccess);
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = 4096;
  sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  struct Case {
    int64_t end;
    KvStatus status;
  };
  // Within the size, up to the limit, one byte past it.
  const Case cases[] = {{5, kvSuccess}, {10, kvSuccess}, {4096, kvSuccess}, {4097, kvFailure}};
  std::vector<KvStatus> got;
  std::vector<std::vector<uint16_t>> messages;
  for (const Case& c : cases) {
    clearErrors();
    got.push_back(bosFileReserve(file, c.end));
    messages.push_back(errors());
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i], cases[i].status) << cases[i].end;
    EXPECT_EQ(messages[i], cases[i].status == kvSuccess ? std::vector<uint16_t>{} : std::vector<uint16_t>{1506})
        << cases[i].end;
  }
  // A reservation never changes the size or the bytes.
  EXPECT_EQ(readAll(file), "0123456789");
  EXPECT_EQ(bosFileReserve(file, 1 << 20), kvSuccess);
  EXPECT_EQ(readAll(file), "0123456789");
  EXPECT_EQ(bosFileClose(file), kvSuccess);
}

TEST_F(BosFileTest, TruncateCutsBackOrGrowsWithZeros) {
  int file = openFile(path("t.dbf"), bosOpenCreate | bosOpenReadWrite);
  ASSERT_GE(file, 3);
  ASSERT_EQ(bosFileWrite(file, 0, "0123456789", 10), kvSuccess);
  EXPECT_EQ(bosFileReserve(file, 100000), kvSuccess);
  EXPECT_EQ(bosFileTruncate(file, 4), kvSuccess);
  EXPECT_EQ(readAll(file), "0123");
  EXPECT_EQ(bosFileTruncate(file, 6), kvSuccess);
  EXPECT_EQ(readAll(file), std::string("0123\0\0", 6));
  clearErrors();
  EXPECT_EQ(bosFileTruncate(file, -1), kvFailure);
  EXPECT_EQ(errors().size(), 1u);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
}

TEST_F(BosFileTest, OffsetsBeforeTheStartOrPastThe64BitPositionsAreRefused) {
  int file = openFile(path("t.dbf"), bosOpenCreate);
  ASSERT_GE(file, 3);
  char byte = 'x';
  uint32_t got = 0;
  for (int64_t offset : {int64_t(-2), INT64_MIN, INT64_MAX}) {
    EXPECT_EQ(bosFileRead(file, offset, &byte, 1, &got), kvFailure) << offset;
    EXPECT_EQ(bosFileWrite(file, offset, &byte, 1), kvFailure) << offset;
  }
  EXPECT_EQ(bosFileSeek(file, 0, 2), 0u);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(errors(), std::vector<uint16_t>(6, 30041));
}

// A file of 5 GiB (sparse: one byte at its end). The 32-bit seek refuses a
// position past its range before moving anything, so a failed call leaves
// the position where it was; the 64-bit calls reach every byte.
TEST_F(BosFileTest, FilesOver4GiBSeekIn64BitsAndA32BitSeekThatCannotAnswerMovesNothing) {
  const int64_t fiveGiB = int64_t(5) << 30;
  int file = openFile(path("big.txt"), bosOpenCreate);
  ASSERT_GE(file, 3);
  ASSERT_EQ(bosFileWrite(file, fiveGiB - 1, "z", 1), kvSuccess);
  int64_t size = 0;
  ASSERT_EQ(bosFileSize(file, &size), kvSuccess);
  EXPECT_EQ(size, fiveGiB);

  struct Case {
    const char* what;
    int64_t start;     // position set (64-bit, from the start) before the call
    int64_t offset;
    uint16_t origin;
    uint32_t result;   // of the 32-bit seek
    int64_t position;  // where the position is afterwards
  } cases[] = {
      {"from the end, 0", 100, 0, 2, 0xFFFFFFFFu, 100},
      {"from the end, back into range", 100, -fiveGiB + 4096, 2, 4096, 4096},
      {"from the current position past 4 GiB", 100, int64_t(4) << 30, 1, 0xFFFFFFFFu, 100},
      {"from the start, exactly 0xFFFFFFFF", 7, 0xFFFFFFFFll, 0, 0xFFFFFFFFu, 7},
      {"from the start, last 32-bit position", 7, 0xFFFFFFFEll, 0, 0xFFFFFFFEu, 0xFFFFFFFEll},
      {"from the current position, back below 4 GiB", fiveGiB, -fiveGiB + 9, 1, 9, 9},
      {"before the start", fiveGiB - 2, -fiveGiB, 1, 0xFFFFFFFFu, fiveGiB - 2},
  };
  for (const Case& c : cases) {
    int64_t at = -1;
    ASSERT_EQ(bosFileSeek64(file, c.start, 0, &at), kvSuccess) << c.what;
    ASSERT_EQ(at, c.start) << c.what;
    EXPECT_EQ(bosFileSeek(file, c.offset, c.origin), c.result) << c.what;
    ASSERT_EQ(bosFileSeek64(file, 0, 1, &at), kvSuccess) << c.what;
    EXPECT_EQ(at, c.position) << c.what;
  }
  EXPECT_EQ(errors(), std::vector<uint16_t>(4, 30041));

  // A position owed by a read at an explicit offset survives a failed seek.
  char byte = 0;
  uint32_t got = 0;
  ASSERT_EQ(bosFileRead(file, fiveGiB - 1, &byte, 1, &got), kvSuccess);
  EXPECT_EQ(std::string(&byte, got), "z");
  EXPECT_EQ(bosFileSeek(file, 0, 1), 0xFFFFFFFFu);
  int64_t at = -1;
  ASSERT_EQ(bosFileSeek64(file, 0, 1, &at), kvSuccess);
  EXPECT_EQ(at, fiveGiB);

  // The 64-bit seek: from the end, then a read at the current position.
  ASSERT_EQ(bosFileSeek64(file, -1, 2, &at), kvSuccess);
  EXPECT_EQ(at, fiveGiB - 1);
  ASSERT_EQ(bosFileRead(file, -1, &byte, 1, &got), kvSuccess);
  EXPECT_EQ(std::string(&byte, got), "z");
  // Its failures change nothing either: before the start, past the 64-bit
  // positions, an unknown origin.
  at = 12345;
  EXPECT_EQ(bosFileSeek64(file, -fiveGiB - 1, 2, &at), kvFailure);
  EXPECT_EQ(bosFileSeek64(file, INT64_MAX, 1, &at), kvFailure);
  EXPECT_EQ(bosFileSeek64(file, 0, 3, &at), kvFailure);
  EXPECT_EQ(at, 12345);
  ASSERT_EQ(bosFileSeek64(file, 0, 1, &at), kvSuccess);
  EXPECT_EQ(at, fiveGiB);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(bosFileSize(file, &size), kvFailure);
  EXPECT_EQ(bosFileSize(0, &size), kvFailure);
  EXPECT_EQ(size, fiveGiB);
  std::vector<uint16_t> expected(8, 30041);
  expected.insert(expected.end(), {1507, 1507});
  EXPECT_EQ(errors(), expected);
}

TEST_F(BosFileTest, SystemErrorNumbersMapToMessages) {
  struct Case {
    int errorNumber;
    uint16_t message;
  };
  const Case cases[] = {
      {ENOENT, 1509}, {EBADF, 1507},  {ENOMEM, 1503},       {EACCES, 1508}, {EPERM, 1508},
      {EMFILE, 30045}, {ENFILE, 30045}, {ENAMETOOLONG, 1524}, {EIO, 30041},   {EXDEV, 30041},
  };
  for (const Case& c : cases) {
    clearErrors();
    EXPECT_EQ(bosReportErrno(c.errorNumber, kvU("t.dbf")), kvFailure);
    EXPECT_EQ(errors(), std::vector<uint16_t>{c.message}) << c.errorNumber;
  }
  clearErrors();
  EXPECT_EQ(bosReportErrno(ENOENT, kvU("t.dbf")), kvFailure);
  EXPECT_EQ(lastErrorText(), "File not found 't.dbf'.");
}

TEST_F(BosFileTest, FailedOpensNameTheFileAsTheCallerWroteIt) {
  ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
  struct Case {
    std::string name;
    uint32_t flags;
    uint16_t message;
  };
  const Case cases[] = {
      {path("missing.dbf"), 0, 30040},
      {path("missing.dbf"), bosOpenReadWrite | bosOpenExclusive, 30040},
      {path("no\\such\\dir.dbf"), bosOpenCreate, 1501},
      {path("folder"), 0, 30040},
      {path("pipe"), 0, 30040},  // a FIFO would block every read
      {"", 0, 30040},
  };
  for (const Case& c : cases) {
    clearErrors();
    EXPECT_EQ(openFile(c.name, c.flags), -1) << c.name;
    EXPECT_EQ(errors(), std::vector<uint16_t>{c.message}) << c.name;
  }
  clearErrors();
  openFile(path("no\\such\\dir.dbf"), bosOpenCreate);
  EXPECT_EQ(lastErrorText(), "Cannot create file '" + path("no\\such\\dir.dbf") + "'.");
}

TEST_F(BosFileTest, DosRulesDoNotApply) {
  const std::string names[] = {
      "CON", "aux.txt", "lpt1.dbf", "PRN", "com1", "ABCDEFGHI.DBF", "A.DBFX", "my table.dbf",
      "LONGDIRNAME.dbf", std::string(255, 'n'),
  };
  for (const std::string& name : names) {
    clearErrors();
    int file = openFile(path(name), bosOpenCreate);
    EXPECT_GE(file, 3) << name;
    EXPECT_EQ(bosFileWrite(file, 0, "z", 1), kvSuccess);
    EXPECT_EQ(bosFileClose(file), kvSuccess);
    EXPECT_EQ(readFile(path(name)), "z") << name;
    EXPECT_TRUE(errors().empty()) << name;
  }
}

TEST_F(BosFileTest, NamesBeyondLinuxLimitsAreTooLong) {
  const std::string names[] = {
      path(std::string(256, 'n')),
      path(std::string(256, 'd') + "/x.dbf"),
      dir_ + std::string(2100, '/') + "x" + std::string(2100, '/') + "y",
  };
  for (const std::string& name : names) {
    for (uint32_t flags : {0u, uint32_t(bosOpenCreate)}) {
      clearErrors();
      EXPECT_EQ(openFile(name, flags), -1);
      EXPECT_EQ(errors(), std::vector<uint16_t>{1524});
    }
  }
}

TEST_F(BosFileTest, BackslashesSeparateComponents) {
  ASSERT_EQ(mkdir(path("sub").c_str(), 0700), 0);
  int file = openFile(dir_ + "\\sub\\made.txt", bosOpenCreate);
  ASSERT_GE(file, 3);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(listing(path("sub")), std::vector<std::string>{"made.txt"});
}

TEST_F(BosFileTest, ExistingFilesAreFoundWithoutRegardToCase) {
  ASSERT_EQ(mkdir(path("Data").c_str(), 0700), 0);
  writeFile(path("Data/Emp.DBF"), "rows");

  struct Case {
    std::string name;
    uint32_t flags;
  };
  const Case opens[] = {
      {path("Data/Emp.DBF"), 0},
      {path("DATA/EMP.DBF"), 0},
      {path("data\\emp.dbf"), bosOpenReadWrite},
      {path("dAtA/eMp.DbF"), bosOpenReadWrite | bosOpenExclusive},
  };
  for (const Case& c : opens) {
    int file = openFile(c.name, c.flags);
    ASSERT_GE(file, 3) << c.name;
    EXPECT_EQ(readAll(file), "rows");
    EXPECT_EQ(bosFileClose(file), kvSuccess);
  }

  // A create of another case variant truncates the existing file instead of
  // making a twin; a new file takes the caller's name exactly.
  int file = openFile(path("DATA/emp.dbf"), bosOpenCreate);
  ASSERT_GE(file, 3);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  file = openFile(path("data/New.Dbf"), bosOpenCreate);
  ASSERT_GE(file, 3);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(listing(path("Data")), (std::vector<std::string>{"Emp.DBF", "New.Dbf"}));
  EXPECT_EQ(readFile(path("Data/Emp.DBF")), "");
  EXPECT_TRUE(errors().empty());
}

TEST_F(BosFileTest, DiskNamesAreSpelledAsOnDisk) {
  ASSERT_EQ(mkdir(path("Data").c_str(), 0700), 0);
  writeFile(path("Data/k.dbf"), "rows");
  writeFile(path("Data/twin.dbf"), "");
  writeFile(path("Data/TWIN.dbf"), "");
  const std::pair<std::string, std::string> cases[] = {
      {path("DATA/K.DBF"), path("Data/k.dbf")},
      {path("data\\k.Dbf"), path("Data/k.dbf")},
      {path("Data/k.dbf"), path("Data/k.dbf")},
      {path("DATA/missing.DBF"), path("DATA/missing.DBF")},  // as written: nothing answers
      {path("Data/Twin.DBF"), path("Data/Twin.DBF")},        // ambiguous: as written
  };
  for (const auto& c : cases) {
    unsigned char out[bosPathBytes];
    bosDiskName(kvU(c.first.c_str()), out);
    EXPECT_EQ(std::string(kvC(out)), c.second) << c.first;
  }
  EXPECT_TRUE(errors().empty());
  // An open that finds the file but fails names it as it is on disk.
  int holder = openFile(path("Data/k.dbf"), bosOpenExclusive);
  ASSERT_GE(holder, 3);
  EXPECT_EQ(openFile(path("DATA/K.DBF"), 0), -1);
  EXPECT_NE(lastErrorText().find("'" + path("Data/k.dbf") + "'"), std::string::npos) << lastErrorText();
  EXPECT_EQ(bosFileClose(holder), kvSuccess);
}

TEST_F(BosFileTest, NamesDifferingOnlyInCaseAreAmbiguous) {
  writeFile(path("emp.dbf"), "lower");
  writeFile(path("EMP.DBF"), "upper");

  // An exact name is never ambiguous.
  int file = openFile(path("EMP.DBF"), 0);
  ASSERT_GE(file, 3);
  EXPECT_EQ(readAll(file), "upper");
  EXPECT_EQ(bosFileClose(file), kvSuccess);

  for (uint32_t flags : {0u, uint32_t(bosOpenCreate)}) {
    clearErrors();
    EXPECT_EQ(openFile(path("Emp.dbf"), flags), -1);
    ASSERT_EQ(errors(), std::vector<uint16_t>{uint16_t(flags ? 1501 : 30040)});
    std::string text = lastErrorText();
    EXPECT_NE(text.find("'" + path("Emp.dbf") + "'."), std::string::npos) << text;
    EXPECT_NE(text.find("'emp.dbf'"), std::string::npos) << text;
    EXPECT_NE(text.find("'EMP.DBF'"), std::string::npos) << text;
    EXPECT_NE(text.find("differ only in case"), std::string::npos) << text;
  }
  EXPECT_EQ(readFile(path("emp.dbf")), "lower");
  EXPECT_EQ(readFile(path("EMP.DBF")), "upper");
}

TEST_F(BosFileTest, FileNumberZeroIsNeverHandedOut) {
  writeFile(path("t.dbf"), "abc");
  int savedInput = fcntl(0, F_DUPFD_CLOEXEC, 10);
  ASSERT_GE(savedInput, 0);
  close(0);
  PathBuffer temporary;
  int opened = openFile(path("t.dbf"), bosOpenReadWrite);
  int created = openFile(path("u.dbf"), bosOpenCreate);
  int temp = -1;
  KvStatus tempStatus = bosFileOpen(temporary, bosOpenTemporary | bosOpenReadWrite, &temp);
  int zeroStillFree = fcntl(0, F_GETFD) == -1;
  dup2(savedInput, 0);
  close(savedInput);

  EXPECT_GE(opened, 3);
  EXPECT_GE(created, 3);
  EXPECT_EQ(tempStatus, kvSuccess);
  EXPECT_GE(temp, 3);
  EXPECT_TRUE(zeroStillFree);
  EXPECT_EQ(readAll(opened), "abc");
  EXPECT_EQ(bosFileClose(opened), kvSuccess);
  EXPECT_EQ(bosFileClose(created), kvSuccess);
  EXPECT_EQ(bosFileClose(temp), kvSuccess);
  EXPECT_EQ(bosFileDelete(temporary), kvSuccess);

  // 0 is no file: closing it does nothing, reading or writing it fails.
  EXPECT_TRUE(errors().empty());
  char byte;
  uint32_t got;
  EXPECT_EQ(bosFileClose(0), kvSuccess);
  EXPECT_EQ(bosupdir(0), kvSuccess);
  EXPECT_EQ(bosFileRead(0, -1, &byte, 1, &got), kvFailure);
  EXPECT_EQ(bosFileWrite(1, -1, "x", 1), kvFailure);
  EXPECT_EQ(bosFileSeek(2, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(bosFileClose(-4), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1507, 1507, 1507, 1507}));
}

TEST_F(BosFileTest, ExclusiveAndSharedOpensExcludeEachOther) {
  writeFile(path("t.dbf"), "keep");
  const uint32_t exclusive = bosOpenReadWrite | bosOpenExclusive;

  int shared = openFile(path("t.dbf"), 0);
  ASSERT_GE(shared, 3);
  int second = openFile(path("T.DBF"), bosOpenReadWrite);
  EXPECT_GE(second, 3);
  EXPECT_EQ(openFile(path("t.dbf"), exclusive), -1);
  EXPECT_EQ(bosFileClose(shared), kvSuccess);
  EXPECT_EQ(openFile(path("t.dbf"), exclusive), -1);
  EXPECT_EQ(bosFileClose(second), kvSuccess);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1508, 1508}));
  EXPECT_NE(lastErrorText().find("in use"), std::string::npos);

  clearErrors();
  int sole = openFile(path("t.dbf"), exclusive);
  ASSERT_GE(sole, 3);
  EXPECT_EQ(openFile(path("t.dbf"), 0), -1);
  EXPECT_EQ(openFile(path("t.dbf"), exclusive), -1);
  EXPECT_EQ(openFile(path("t.dbf"), bosOpenCreate), -1);  // must not truncate
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1508, 1508, 1508}));
  EXPECT_EQ(bosFileClose(sole), kvSuccess);
  EXPECT_EQ(readFile(path("t.dbf")), "keep");
}

TEST_F(BosFileTest, AnOpenInAnotherProcessExcludesAnExclusiveOpen) {
  if (!PythonHolder::available()) GTEST_SKIP() << "no /usr/bin/python3";
  writeFile(path("t.dbf"), "keep");
  PythonHolder other;
  ASSERT_TRUE(other.start(path("t.dbf"), "fcntl.flock(f, fcntl.LOCK_SH)"));
  EXPECT_EQ(openFile(path("t.dbf"), bosOpenReadWrite | bosOpenExclusive), -1);
  int shared = openFile(path("t.dbf"), bosOpenReadWrite);
  EXPECT_GE(shared, 3);
  EXPECT_EQ(bosFileClose(shared), kvSuccess);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1508});
  other.stop();
  int sole = openFile(path("t.dbf"), bosOpenReadWrite | bosOpenExclusive);
  EXPECT_GE(sole, 3);
  EXPECT_EQ(bosFileClose(sole), kvSuccess);
}

TEST_F(BosFileTest, TemporaryFilesAreMadeUniqueInTmpdir) {
  const char* savedTmpdir = std::getenv("TMPDIR");
  std::string saved = savedTmpdir ? savedTmpdir : "";
  setenv("TMPDIR", (dir_ + "/").c_str(), 1);

  std::vector<std::string> names;
  for (uint32_t flags : {bosOpenTemporary | bosOpenReadWrite, bosOpenTemporaryOtherDisk | bosOpenReadWrite,
                         uint32_t(bosOpenTemporary)}) {
    PathBuffer name("unchanged");
    int file = -1;
    ASSERT_EQ(bosFileOpen(name, flags, &file), kvSuccess);
    EXPECT_GE(file, 3);
    EXPECT_EQ(name.str().substr(0, dir_.size() + 3), dir_ + "/kv");
    EXPECT_EQ(name.str().size(), dir_.size() + 9);
    struct stat st;
    ASSERT_EQ(fstat(file, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(bosFileWrite(file, 0, "t", 1), kvSuccess);
    EXPECT_EQ(bosFileClose(file), kvSuccess);
    names.push_back(name.str());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());

  setenv("TMPDIR", "", 1);
  PathBuffer inTmp;
  int file = -1;
  ASSERT_EQ(bosFileOpen(inTmp, bosOpenTemporary | bosOpenReadWrite, &file), kvSuccess);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(inTmp.str().substr(0, 7), "/tmp/kv");
  EXPECT_EQ(bosFileDelete(inTmp), kvSuccess);

  setenv("TMPDIR", path("absent").c_str(), 1);
  PathBuffer untouched("unchanged");
  EXPECT_EQ(bosFileOpen(untouched, bosOpenTemporary | bosOpenReadWrite, &file), kvFailure);
  EXPECT_EQ(untouched.str(), "unchanged");
  EXPECT_EQ(errors(), std::vector<uint16_t>{1501});

  if (savedTmpdir) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST_F(BosFileTest, SearchPathFindsAFileInAPathDirectory) {
  ASSERT_EQ(mkdir(path("bin").c_str(), 0700), 0);
  writeFile(path("bin/Tool.Ini"), "found");
  std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", ("/nonexistent:" + path("bin")).c_str(), 1);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  int file = openFile("TOOL.INI", bosOpenSearchPath);
  int without = openFile("TOOL.INI", 0);
  setenv("PATH", saved.c_str(), 1);
  ASSERT_GE(file, 3);
  EXPECT_EQ(readAll(file), "found");
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(without, -1);
  EXPECT_EQ(errors(), std::vector<uint16_t>{30040});
}

TEST_F(BosFileTest, DeleteRemovesTheFileFoundWithoutRegardToCase) {
  writeFile(path("Gone.dbf"), "");
  EXPECT_EQ(bosFileDelete(kvU(path("GONE.DBF").c_str())), kvSuccess);
  EXPECT_FALSE(fileExists(path("Gone.dbf")));
  EXPECT_EQ(bosFileDelete(kvU(path("never-there.dbf").c_str())), kvSuccess);
  EXPECT_EQ(bosFileDelete(kvU(path("no/such/dir.dbf").c_str())), kvSuccess);
  EXPECT_TRUE(errors().empty());

  writeFile(path("twin.dbf"), "");
  writeFile(path("TWIN.dbf"), "");
  ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
  EXPECT_EQ(bosFileDelete(kvU(path("Twin.dbf").c_str())), kvFailure);
  EXPECT_EQ(bosFileDelete(kvU(path("folder").c_str())), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1502, 1502}));
  EXPECT_EQ(lastErrorText(), "Cannot delete file: '" + path("folder") + "'.");
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"TWIN.dbf", "folder", "twin.dbf"}));
}

TEST_F(BosFileTest, AFileThatIsOpenIsNotDeletedOrRenamed) {
  writeFile(path("busy.dbf"), "data");
  int file = openFile(path("busy.dbf"), bosOpenReadWrite);
  ASSERT_GE(file, 3);
  EXPECT_EQ(bosFileDelete(kvU(path("busy.dbf").c_str())), kvFailure);
  EXPECT_EQ(bosrname(kvU(path("busy.dbf").c_str()), kvU(path("other.dbf").c_str())), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1502, 30042}));
  EXPECT_EQ(readFile(path("busy.dbf")), "data");
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(bosFileDelete(kvU(path("busy.dbf").c_str())), kvSuccess);
  EXPECT_FALSE(fileExists(path("busy.dbf")));
}

TEST_F(BosFileTest, RenameNeverReplacesAnotherFile) {
  writeFile(path("a.dbf"), "a");
  writeFile(path("b.dbf"), "b");
  struct Case {
    std::string from, to;
    KvStatus status;
  };
  const Case cases[] = {
      {"A.DBF", "B.dbf", kvFailure},    // b.dbf exists, in another case
      {"missing.dbf", "c.dbf", kvFailure},
      {"A.DBF", "c.dbf", kvSuccess},    // the old name found without regard to case
      {"c.dbf", "C.DBF", kvSuccess},    // only the case changes
      {"C.DBF", "C.DBF", kvSuccess},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bosrname(kvU(path(c.from).c_str()), kvU(path(c.to).c_str())), c.status) << c.from << c.to;
  }
  EXPECT_EQ(errors(), (std::vector<uint16_t>{30042, 30042}));
  EXPECT_EQ(lastErrorText(), "Cannot rename '" + path("missing.dbf") + "' to '" + path("c.dbf") + "'.");
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"C.DBF", "b.dbf"}));
  EXPECT_EQ(readFile(path("C.DBF")), "a");
  EXPECT_EQ(readFile(path("b.dbf")), "b");
}

TEST_F(BosFileTest, ReplacementSwapsTheWholeFileAtOnce) {
  writeFile(path("settings.ini"), "old");
  ASSERT_EQ(chmod(path("settings.ini").c_str(), 0640), 0);
  int reader = openFile(path("settings.ini"), 0);
  ASSERT_GE(reader, 3);

  PathBuffer temp;
  int file = -1;
  ASSERT_EQ(bosReplaceOpen(kvU(path("SETTINGS.INI").c_str()), temp, &file), kvSuccess);
  EXPECT_EQ(temp.str().substr(0, dir_.size() + 3), dir_ + "/kv");
  EXPECT_EQ(bosFileWrite(file, 0, "new", 3), kvSuccess);
  EXPECT_EQ(readFile(path("settings.ini")), "old");
  ASSERT_EQ(bosReplaceCommit(file, temp, kvU(path("SETTINGS.INI").c_str())), kvSuccess);

  EXPECT_EQ(readFile(path("settings.ini")), "new");
  EXPECT_EQ(readAll(reader), "old");  // a reader keeps the file it opened
  EXPECT_EQ(bosFileClose(reader), kvSuccess);
  struct stat st;
  ASSERT_EQ(stat(path("settings.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(listing(dir_), std::vector<std::string>{"settings.ini"});

  // An abandoned replacement leaves the old file and no new one.
  ASSERT_EQ(bosReplaceOpen(kvU(path("settings.ini").c_str()), temp, &file), kvSuccess);
  EXPECT_EQ(bosFileWrite(file, 0, "lost", 4), kvSuccess);
  bosReplaceAbort(file, temp);
  EXPECT_EQ(readFile(path("settings.ini")), "new");
  EXPECT_EQ(listing(dir_), std::vector<std::string>{"settings.ini"});

  // A target that does not exist yet is made with the caller's name.
  ASSERT_EQ(bosReplaceOpen(kvU(path("Fresh.ini").c_str()), temp, &file), kvSuccess);
  ASSERT_EQ(bosReplaceCommit(file, temp, kvU(path("Fresh.ini").c_str())), kvSuccess);
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"Fresh.ini", "settings.ini"}));
  EXPECT_TRUE(errors().empty());
}

TEST_F(BosFileTest, AFailedReplacementLeavesTheTarget) {
  ASSERT_EQ(mkdir(path("target").c_str(), 0700), 0);
  writeFile(path("target/inside"), "");
  PathBuffer temp;
  int file = -1;
  ASSERT_EQ(bosReplaceOpen(kvU(path("target").c_str()), temp, &file), kvSuccess);
  EXPECT_EQ(bosReplaceCommit(file, temp, kvU(path("target").c_str())), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{30042});
  EXPECT_EQ(listing(dir_), std::vector<std::string>{"target"});
  EXPECT_EQ(listing(path("target")), std::vector<std::string>{"inside"});
}

// A replacement through a symbolic link writes the file the link finally
// points to and leaves every link as it was; the new file is made in that
// file's directory (so rename() never crosses file systems), with its
// permission bits.
TEST_F(BosFileTest, ReplacementThroughSymbolicLinksKeepsTheLinks) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> links;  // name, text ("@": from the case's root)
    std::string target;   // as given to the replacement
    std::string written;  // the file that must receive the new contents
    bool existed;
  };
  const Case cases[] = {
      {"absolute link", {{"home/.odbc.ini", "@repo/odbc.ini"}}, "home/.odbc.ini", "repo/odbc.ini", true},
      {"relative link", {{"home/.odbc.ini", "../repo/odbc.ini"}}, "home/.odbc.ini", "repo/odbc.ini", true},
      {"chain of links",
       {{"home/.odbc.ini", "../repo/current.ini"}, {"repo/current.ini", "odbc.ini"}},
       "home/.odbc.ini",
       "repo/odbc.ini",
       true},
      {"link found without regard to case",
       {{"home/Settings.ini", "../repo/odbc.ini"}},
       "HOME/SETTINGS.INI",
       "repo/odbc.ini",
       true},
      {"dangling link", {{"home/.odbc.ini", "../repo/new.ini"}}, "home/.odbc.ini", "repo/new.ini", false},
  };
  int caseNo = 0;
  for (const Case& c : cases) {
    std::string root = path("case" + std::to_string(++caseNo)) + "/";
    ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "home").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "repo").c_str(), 0700), 0);
    if (c.existed) {
      writeFile(root + c.written, "old");
      ASSERT_EQ(chmod((root + c.written).c_str(), 0640), 0);
    }
    auto linkText = [&](const std::string& text) { return text[0] == '@' ? root + text.substr(1) : text; };
    for (const auto& link : c.links)
      ASSERT_EQ(symlink(linkText(link.second).c_str(), (root + link.first).c_str()), 0) << c.what;

    PathBuffer temp;
    int file = -1;
    ASSERT_EQ(bosReplaceOpen(kvU((root + c.target).c_str()), temp, &file), kvSuccess) << c.what;
    // Made in the directory of the file written, however the links named it.
    std::string tempDirectory = temp.str().substr(0, temp.str().rfind('/'));
    char* made = realpath(tempDirectory.c_str(), nullptr);
    char* wanted = realpath((root + "repo").c_str(), nullptr);
    ASSERT_TRUE(made && wanted);
    EXPECT_STREQ(made, wanted) << c.what;
    std::free(made);
    std::free(wanted);
    ASSERT_EQ(bosFileWrite(file, 0, "new", 3), kvSuccess);
    ASSERT_EQ(bosReplaceCommit(file, temp, kvU((root + c.target).c_str())), kvSuccess) << c.what;

    EXPECT_EQ(readFile(root + c.written), "new") << c.what;
    struct stat st;
    ASSERT_EQ(lstat((root + c.written).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << c.what;
    if (c.existed) {
      EXPECT_EQ(st.st_mode & 0777, 0640u) << c.what;
    }
    for (const auto& link : c.links) {
      char text[bosPathBytes];
      ssize_t length = readlink((root + link.first).c_str(), text, sizeof(text));
      ASSERT_GT(length, 0) << c.what << ": " << link.first << " is no longer a link";
      EXPECT_EQ(std::string(text, size_t(length)), linkText(link.second)) << c.what;
    }
    size_t expectedInRepo = c.links.size() == 2 ? 2 : 1;
    EXPECT_EQ(listing(root + "repo").size(), expectedInRepo) << c.what << ": a new file was left behind";
    EXPECT_EQ(listing(root + "home").size(), size_t(1)) << c.what;
    EXPECT_TRUE(errors().empty()) << c.what;
  }
}

TEST_F(BosFileTest, ALoopOfLinksFailsTheReplacementAndChangesNothing) {
  ASSERT_EQ(symlink("b.ini", path("a.ini").c_str()), 0);
  ASSERT_EQ(symlink("a.ini", path("b.ini").c_str()), 0);
  PathBuffer temp;
  int file = -1;
  EXPECT_EQ(bosReplaceOpen(kvU(path("a.ini").c_str()), temp, &file), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1501});
  EXPECT_NE(lastErrorText().find("too many symbolic links"), std::string::npos) << lastErrorText();

  // The loop appears between the open and the commit.
  clearErrors();
  writeFile(path("c.ini"), "old");
  ASSERT_EQ(bosReplaceOpen(kvU(path("c.ini").c_str()), temp, &file), kvSuccess);
  ASSERT_EQ(unlink(path("c.ini").c_str()), 0);
  ASSERT_EQ(symlink("a.ini", path("c.ini").c_str()), 0);
  EXPECT_EQ(bosReplaceCommit(file, temp, kvU(path("c.ini").c_str())), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{30042});
  EXPECT_NE(lastErrorText().find("too many symbolic links"), std::string::npos) << lastErrorText();
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"a.ini", "b.ini", "c.ini"}));
}

// A name leads to an open file while it reaches the same inode, whatever
// case or links it takes to get there.
TEST_F(BosFileTest, SameFileComparesANameWithAnOpenFile) {
  writeFile(path("Settings.ini"), "x");
  writeFile(path("other.ini"), "y");
  ASSERT_EQ(symlink("Settings.ini", path("link.ini").c_str()), 0);
  ASSERT_EQ(link(path("Settings.ini").c_str(), path("hard.ini").c_str()), 0);
  writeFile(path("twin.ini"), "");
  writeFile(path("TWIN.ini"), "");
  int file = openFile(path("Settings.ini"), bosOpenReadWrite);
  ASSERT_GE(file, 3);
  struct Case {
    std::string name;
    int same;
  };
  const Case cases[] = {
      {path("Settings.ini"), 1},
      {path("SETTINGS.INI"), 1},  // found without regard to case
      {dir_ + "\\settings.ini", 1},
      {path("link.ini"), 1},
      {path("hard.ini"), 1},
      {path("other.ini"), 0},
      {path("missing.ini"), 0},
      {path("Twin.ini"), 0},  // ambiguous
      {dir_, 0},
      {path(std::string(300, 'n')), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(bosIsSameFile(file, kvU(c.name.c_str())), c.same) << c.name;

  // Replaced under the name: the open file is no longer the one named.
  PathBuffer temp;
  int replacement = -1;
  ASSERT_EQ(bosReplaceOpen(kvU(path("settings.ini").c_str()), temp, &replacement), kvSuccess);
  ASSERT_EQ(bosReplaceCommit(replacement, temp, kvU(path("settings.ini").c_str())), kvSuccess);
  EXPECT_EQ(bosIsSameFile(file, kvU(path("Settings.ini").c_str())), 0);
  EXPECT_EQ(bosIsSameFile(file, kvU(path("hard.ini").c_str())), 1);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(bosIsSameFile(file, kvU(path("Settings.ini").c_str())), 0);  // closed
  EXPECT_EQ(bosIsSameFile(0, kvU(path("Settings.ini").c_str())), 0);
  EXPECT_TRUE(errors().empty());
}

}  // namespace
