// The prepare step that SQLPrepare, SQLExecDirect and a re-preparing
// SQLExecute share: escape clauses into the data source's syntax, the
// verb, the "?" markers and a parameter record for each, the lazy start of
// a transaction in manual-commit mode, FOR UPDATE OF cut or kept by the
// connection's capabilities, WHERE CURRENT OF (base_current_of.cpp), the
// driver's prepareCompile, and the copy of the text the execution needs.
#include "base/statement/base_statement.h"

#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_sql_string.h"

KvStatus BaseStatement::prepareStep(BaseSqlString* sql) {
  const bool noScan = (options_[optWordBits] & optBitNoScan) != 0;
  uint16_t escapeMarkers = 0;
  if (!noScan && connection_->expandEscapeClauses(sql, &escapeMarkers) != kvSuccess) return kvFailure;

  const KvSqlVerb verb = sql->getVerb();
  uint32_t scan = 0;
  if (verb == sqlVerbSelect || verb == sqlVerbUpdate || verb == sqlVerbDelete) scan |= sqlScanClauses;
  if (escapeMarkers > 0 || noScan) scan |= sqlScanMarkers;
  paramCount_ = 0;
  if (scan) {
    const unsigned char* quotes = connection_->getQuoteChars();
    sql->setQuoteChars(quotes[0], quotes[1], quotes[2]);
    if (sql->scanSql(scan) != kvSuccess) return kvFailure;
    if (scan & sqlScanMarkers) paramCount_ = sql->getMarkerCount();
  }
  if (paramCount_ > 0) {
    if (allocArrays(paramCount_, arrayParams) != kvSuccess) return kvFailure;
    for (uint16_t i = 0; i < paramCount_; ++i) {
      if (params_[i]) continue;
      params_[i] = allocParam();
      if (!params_[i]) return kvFailure;
    }
  }

  if (connection_->openTransactionIfManual() != kvSuccess) return kvFailure;

  const uint32_t connFlags = connection_->getFlags();
  const bool autocommit = connection_->getAutocommit() != 0;
  flags_ &= ~uint32_t(flagKeepText | flagForUpdate);
  if (sql->getForUpdatePos() != 0) {
    flags_ |= flagForUpdate;
    if (!(connFlags & BaseConnection::flagForUpdateOf) ||
        (autocommit && (connFlags & BaseConnection::flagPositionedInTxn))) {
      if (sql->stripForUpdate() != kvSuccess) return kvFailure;
    }
  }

  if (sql->getCurrentOfPos() != 0 && handleCurrentOf(sql) != kvSuccess) return kvFailure;

  if (!(flags_ & flagEmulatedPositioned)) {
    if (prepareCompile(sql) != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return keepForResume(sql);
  }
  return finishPrepareStep(sql);
}

namespace {

// Puts an own copy of sql into *slot (replacing what was there).
KvStatus replaceWithCopy(BaseSqlString** slot, const BaseSqlString* sql) {
  BaseSqlString* kept = new BaseSqlString();
  if (kept->copyFrom(*sql) != kvSuccess) {
    delete kept;
    return kvFailure;
  }
  delete *slot;
  *slot = kept;
  return kvSuccess;
}

}  // namespace

// The driver has not finished compiling: the text (the statement's own
// copy, since the caller's may be gone by the next call) waits in
// resumeSql_ for the call that resumes the step.
KvStatus BaseStatement::keepForResume(const BaseSqlString* sql) {
  if (replaceWithCopy(&resumeSql_, sql) != kvSuccess) return kvFailure;
  execResumeStep_ = execStepPrepare;
  return kvSuccess;
}

KvStatus BaseStatement::resumePrepareStep() {
  if (prepareCompile(resumeSql_) != kvSuccess) return kvFailure;
  if (flags_ & flagAsync) return kvSuccess;
  execResumeStep_ = execStepNone;
  const KvStatus status = finishPrepareStep(resumeSql_);
  delete resumeSql_;
  resumeSql_ = nullptr;
  return status;
}

KvStatus BaseStatement::finishPrepareStep(const BaseSqlString* sql) {
  // With markers the text is kept whatever the driver: textual parameters
  // are written into it, and a statement whose parameters are bound again
  // with other descriptions is compiled again from it.
  if ((flags_ & flagKeepText) || sql->getMarkerCount() > 0) {
    if (keepPreparedText(sql) != kvSuccess) return kvFailure;
  }

  flags_ |= flagPrepared;
  cursorState_ = cursorPrepared;
  return kvSuccess;
}

KvStatus BaseStatement::keepPreparedText(const BaseSqlString* sql) { return replaceWithCopy(&keptSql_, sql); }

// Prepares again from the application's text when a commit or rollback
// under WorkArounds 0x1 marked the statement; the parameters stay bound.
KvStatus BaseStatement::reprepareIfMarked() {
  if (!(flags_ & flagReprepare)) return kvSuccess;
  flags_ &= ~uint32_t(flagReprepare);
  BaseSqlString sql(appText_.getStr(), int32_t(appText_.getLength()));
  return prepareStep(&sql);
}
