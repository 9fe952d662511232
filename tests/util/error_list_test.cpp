// Errors, lists and the keeper: the add rules, the out-of-memory state,
// positions, concatenation and message texts from the string table.
#include "util/error_list.h"

#include "util/resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

KvError* makeError(uint16_t number, const char* text, ErrorType type = etError) {
  return new KvError(number, kvU(text), type, 0, 0);
}

std::vector<std::string> texts(KvErrorList& list) {
  std::vector<std::string> out;
  for (uint32_t i = 0; KvError* e = list.getErrorAtPos(i); ++i) out.push_back(kvC(e->getErrorText()));
  return out;
}

// Installs a list as current for the test's duration.
class ErrorListTest : public ::testing::Test {
 protected:
  void install(unsigned keepAll) {
    list_ = new KvErrorList(this, keepAll);
    KvErrorKeeper::setErrorList(list_);
  }
  void TearDown() override {
    if (list_) {
      EXPECT_EQ(KvErrorKeeper::giveUpErrorList(), list_);
      delete list_;
    }
  }
  KvErrorList* list_ = nullptr;
};

TEST_F(ErrorListTest, NoCurrentListGivesTheSink) {
  KvError& e = KvErrorKeeper::addError(makeError(1, "a %s1"));
  EXPECT_TRUE(e.isSink());
  KvError& same = e << kvU("x") << 5;
  EXPECT_EQ(&same, &KvError::sinkError());
  EXPECT_STREQ(kvC(KvError::sinkError().getErrorText()), "");
  EXPECT_EQ(KvErrorKeeper::getLastError(), nullptr);
  EXPECT_EQ(KvErrorKeeper::getLastErrorNumber(), 0);
}

TEST_F(ErrorListTest, ListThatIsNotKeepAllKeepsWarningsUntilTheFirstError) {
  install(0);
  EXPECT_FALSE(KvErrorKeeper::addError(makeError(1, "w1", etWarning)).isSink());
  EXPECT_FALSE(KvErrorKeeper::addError(makeError(2, "w2", etWarning)).isSink());
  EXPECT_FALSE(KvErrorKeeper::addError(makeError(3, "e1")).isSink());
  EXPECT_TRUE(KvErrorKeeper::addError(makeError(4, "e2")).isSink());
  EXPECT_TRUE(KvErrorKeeper::addError(makeError(5, "w3", etWarning)).isSink());
  EXPECT_EQ(texts(*list_), (std::vector<std::string>{"w1", "w2", "e1"}));
  EXPECT_EQ(list_->getErrorsMix(), mixBoth);
}

TEST_F(ErrorListTest, KeepAllListKeepsEverything) {
  install(1);
  KvErrorKeeper::addError(makeError(1, "e1"));
  KvErrorKeeper::addError(makeError(2, "w1", etWarning));
  KvErrorKeeper::addError(makeError(3, "e2"));
  EXPECT_EQ(list_->getCount(), 3u);
  EXPECT_EQ(KvErrorKeeper::getLastErrorNumber(), 3);
  EXPECT_EQ(KvErrorKeeper::getOwnerOfList(), this);
}

TEST_F(ErrorListTest, ErrorsMix) {
  install(1);
  EXPECT_EQ(list_->getErrorsMix(), mixNone);
  KvErrorKeeper::addError(makeError(1, "w", etWarning));
  EXPECT_EQ(list_->getErrorsMix(), mixWarnings);
  KvErrorKeeper::addError(makeError(2, "e"));
  EXPECT_EQ(list_->getErrorsMix(), mixBoth);
  delete list_->removeFirstError();
  EXPECT_EQ(list_->getErrorsMix(), mixErrors);
}

TEST_F(ErrorListTest, MemoryErrorOnEmptyKeepAllList) {
  install(1);
  KvErrorKeeper::addMemoryError();
  EXPECT_EQ(list_->getErrorsMix(), mixNone);
  EXPECT_EQ(KvErrorKeeper::getLastErrorNumber(), 30190);
  KvError* first = list_->removeFirstError();
  ASSERT_EQ(first, &KvError::memoryError());
  EXPECT_STREQ(kvC(first->getErrorText()), "Out Of Memory");
  EXPECT_EQ(list_->removeFirstError(), nullptr);
}

TEST_F(ErrorListTest, MemoryErrorReplacesTheErrorOfAListThatIsNotKeepAll) {
  install(0);
  KvErrorKeeper::addError(makeError(1, "w", etWarning));
  KvErrorKeeper::addError(makeError(2, "e"));
  KvErrorKeeper::addMemoryError();
  EXPECT_EQ(list_->removeFirstError(), &KvError::memoryError());  // memory error first
  KvError* older = list_->removeFirstError();
  ASSERT_NE(older, nullptr);
  EXPECT_EQ(older->getNumber(), 1);
  delete older;
  EXPECT_EQ(list_->removeFirstError(), nullptr);
}

TEST_F(ErrorListTest, WarningsAfterAPosition) {
  install(1);
  for (uint16_t i = 1; i <= 3; ++i) KvErrorKeeper::addError(makeError(i, "e"));
  list_->setWarningAfterPos(0);
  EXPECT_FALSE(list_->getErrorAtPos(0)->isWarning());
  EXPECT_TRUE(list_->getErrorAtPos(1)->isWarning());
  EXPECT_TRUE(list_->getErrorAtPos(2)->isWarning());
}

TEST_F(ErrorListTest, AppendTextFromAPosition) {
  install(1);
  for (const char* t : {"a", "b", "c"}) KvErrorKeeper::addError(makeError(1, t));
  list_->appendTextStartingAtPos(kvU("!"), 1);
  EXPECT_EQ(texts(*list_), (std::vector<std::string>{"a", "b!", "c!"}));
  list_->appendTextStartingAtPos(kvU("?"), 7);
  EXPECT_EQ(texts(*list_), (std::vector<std::string>{"a", "b!", "c!"}));
}

TEST_F(ErrorListTest, ConcatErrorsSeparatesOnlyBetweenTexts) {
  install(1);
  KvString out;
  KvErrorKeeper::addError(makeError(1, "one"));
  ASSERT_EQ(list_->concatErrors(&out, '\n'), kvSuccess);
  EXPECT_STREQ(kvC(out.getStr()), "one");
  KvErrorKeeper::addError(makeError(2, "two"));
  KvErrorKeeper::addError(makeError(3, "three"));
  KvString all;
  ASSERT_EQ(list_->concatErrors(&all, '\n'), kvSuccess);
  EXPECT_STREQ(kvC(all.getStr()), "one\ntwo\nthree");
}

TEST_F(ErrorListTest, RemoveFirstAndLast) {
  install(1);
  for (uint16_t i = 1; i <= 3; ++i) KvErrorKeeper::addError(makeError(i, "e"));
  KvError* last = list_->removeLastError();
  KvError* first = list_->removeFirstError();
  EXPECT_EQ(last->getNumber(), 3);
  EXPECT_EQ(first->getNumber(), 1);
  delete last;
  delete first;
  KvErrorKeeper::clearLastError();
  EXPECT_EQ(list_->getCount(), 0u);
  KvErrorKeeper::clearLastError();  // nothing to clear
}

TEST_F(ErrorListTest, MessagesFromTheStringTable) {
  install(1);
  struct Case {
    uint16_t id;
    std::vector<const char*> texts;
    std::vector<int32_t> numbers;
    bool numberFirst;
    const char* expected;
  } cases[] = {
      {1509, {"x.dbf"}, {}, false, "File not found 'x.dbf'."},
      {30042, {"a", "b"}, {}, false, "Cannot rename 'a' to 'b'."},
      {2704, {}, {17}, true, "Error parsing connect string at offset 17. "},
      {2705, {"DSN"}, {4}, true, "Error parsing DSN at offset 4."},
      {1506, {"ignored"}, {}, false, "Insufficient disk space."},
      {2708, {}, {}, false, "Invalid hexidecimal character found during conversion."},
  };
  for (const Case& c : cases) {
    KvError& e = kvAddUtilityError(c.id);
    KvError* filled = &e;
    if (c.numberFirst)
      for (int32_t n : c.numbers) filled = &(*filled << n);
    for (const char* t : c.texts) filled = &(*filled << kvU(t));
    KvError* last = KvErrorKeeper::getLastError();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->getNumber(), c.id);
    EXPECT_STREQ(kvC(last->getErrorText()), c.expected) << c.id;
  }
  unsigned char buffer[512];
  EXPECT_EQ(kvLoadUtilityString(buffer, 9999, sizeof(buffer)), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(kvLoadUtilityString(buffer, kvStrSemaphorePoolInfo, 10), 9);  // cut to the buffer
  EXPECT_STREQ(kvC(buffer), "Semaphore");
}

TEST_F(ErrorListTest, AppendedTextRestartsTheNumbering) {
  install(1);
  kvAddUtilityError(kvMsgFileNotFound) << kvU("a.dbf");
  KvErrorKeeper::appendTextToLastError(kvU(" (%s1)")) << kvU("more");
  EXPECT_STREQ(kvC(KvErrorKeeper::getLastError()->getErrorText()), "File not found 'a.dbf'. (more)");
}

TEST_F(ErrorListTest, DatabaseErrorsCarryTheirNativeCode) {
  install(1);
  KvError& e = addDatabaseError(7, -1234, kvU("server says no"), etWarning);
  EXPECT_EQ(e.getNative(), -1234);
  EXPECT_EQ(e.getNumber(), 7);
  EXPECT_TRUE(e.isWarning());
  EXPECT_EQ(e.getStateIndex(), 0);
}

TEST(ErrorKeeper, ListsNestStrictly) {
  KvErrorList outer(nullptr, 1), inner(nullptr, 1);
  KvErrorKeeper::setErrorList(&outer);
  KvErrorKeeper::setErrorList(&inner);
  EXPECT_EQ(KvErrorKeeper::getErrorList(), &inner);
  EXPECT_EQ(inner.getPrevious(), &outer);
  EXPECT_EQ(KvErrorKeeper::giveUpErrorList(), &inner);
  EXPECT_EQ(inner.getPrevious(), nullptr);
  EXPECT_EQ(KvErrorKeeper::getErrorList(), &outer);
  EXPECT_EQ(KvErrorKeeper::giveUpErrorList(), &outer);
  EXPECT_EQ(KvErrorKeeper::getErrorList(), nullptr);
}

}  // namespace
