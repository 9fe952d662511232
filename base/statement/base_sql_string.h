// BaseSqlString: the SQL text of a statement together with what the
// framework has learnt about it: the verb and the object word, the byte
// offsets of its "?" parameter markers, and where FOR UPDATE OF and WHERE
// CURRENT OF stand.
//
// Every remembered place is a byte offset into the text, never a pointer,
// so taking a copy of the caller's text (makeCopy) or replacing a part of it
// (replaceSubString) keeps them right: a replacement moves every place that
// lies behind it by the difference in length.
//
// The text is read with KvScanner (util/containers/scanner.h) and the statement's three
// quote characters: a "?" inside a quoted text is not a marker, and a quoted
// text that the statement ends before closing runs to the end of the text.
#pragma once

#include "base/handles/base_out_string.h"
#include "util/containers/kv_array.h"

class KvScanner;

// The statement verb: the first word of the text.
enum KvSqlVerb : int {
  sqlVerbUnknown = 0,  // not asked yet
  sqlVerbAlter = 1,
  sqlVerbCreate = 2,
  sqlVerbDelete = 3,
  sqlVerbDrop = 4,
  sqlVerbGrant = 5,
  sqlVerbInsert = 6,
  sqlVerbRevoke = 7,
  sqlVerbSelect = 8,
  sqlVerbUpdate = 9,
  sqlVerbOther = 10,   // another word
  sqlVerbNoWord = 11,  // the text starts with no word, or is empty
};

// The word after CREATE, DROP or ALTER.
enum BaseSqlObjectKind : uint16_t {
  sqlObjectUnknown = 0,  // not a CREATE, DROP or ALTER (or not asked yet)
  sqlObjectTable = 1,
  sqlObjectIndex = 2,
  sqlObjectView = 3,
  sqlObjectSynonym = 4,
  sqlObjectOther = 5,   // another word
  sqlObjectNoWord = 6,  // nothing, or something that is not a word
};

// What scanSql looks for.
enum : uint32_t {
  sqlScanMarkers = 0x1,  // the "?" markers, collected afresh
  sqlScanClauses = 0x2,  // FOR UPDATE OF in a SELECT, WHERE CURRENT OF in an UPDATE or DELETE
};

class KV_BASE_API BaseSqlString : public BaseInString {
 public:
  // An empty text.
  BaseSqlString();
  // A view over the caller's text (SQL_NTS: zero-terminated), as
  // BaseInString reads it; nothing is known about it yet.
  BaseSqlString(const unsigned char* text, int32_t length);
  ~BaseSqlString() override;
  BaseSqlString(const BaseSqlString&) = delete;
  BaseSqlString& operator=(const BaseSqlString&) = delete;

  // Becomes an own copy of other: its text and everything learnt about it
  // (verb, markers, quote characters, clause places).
  KvStatus copyFrom(const BaseSqlString& other);

  // The verb, read on the first call and remembered: the first token, when
  // it is a word, compared without regard to case with the nine verbs
  // (sqlVerbOther for another word, sqlVerbNoWord for no word). For CREATE,
  // DROP and ALTER the next token gives the object kind.
  KvSqlVerb getVerb();
  BaseSqlObjectKind getObjectKind() const { return objectKind_; }
  // The verb word, the object word and the cursor name of WHERE CURRENT OF
  // as views into the text (empty when there is none).
  KvSubString getVerbToken() const { return part(verbPlace_); }
  KvSubString getObjectToken() const { return part(object_); }
  KvSubString getCursorNameToken() const { return part(cursorName_); }

  // Walks the tokens of the text. sqlScanMarkers collects the offset of
  // every "?" token afresh. sqlScanClauses remembers, in a SELECT, the first
  // FOR UPDATE OF (the offset of FOR), and in an UPDATE or DELETE the first
  // WHERE CURRENT OF (the offset of CURRENT, the length up to the end of the
  // cursor name, and the cursor name); either ends the walk. WHERE CURRENT
  // OF without a cursor name after it (nothing, or a quoted text that is
  // never closed) posts 37000 with "Cursor name missing after WHERE CURRENT
  // OF" and fails.
  KvStatus scanSql(uint32_t what);

  // The markers found by the last scanSql with sqlScanMarkers, in text
  // order: byte offsets of the "?" characters.
  uint16_t getMarkerCount() const { return markers_.getCount(); }
  uint32_t getMarkerOffset(uint16_t index) const { return markers_.getAt(index); }
  KvArrayU32& getMarkers() { return markers_; }

  // Offset of FOR in FOR UPDATE OF, 0 when there is none.
  uint32_t getForUpdatePos() const { return forUpdatePos_; }
  // Offset of CURRENT in WHERE CURRENT OF (0 when there is none) and the
  // length from there to the end of the cursor name.
  uint32_t getCurrentOfPos() const { return currentOfPos_; }
  uint32_t getCurrentOfLength() const { return currentOfLength_; }

  // The quote characters the scans use: ' " and ` until set (0 for none).
  void setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3);

  // out receives the text up to the first word WHERE, ORDER, GROUP, HAVING,
  // FOR or UNION (the whole text when there is none).
  KvStatus stripParams(KvString* out);
  // out receives the text with each marker replaced by format filled with
  // the marker's 1-based number. format is the driver's own and may hold one
  // number conversion: %d, %i or %u, with an optional 0 flag and width (as
  // in ":p%d" or "@P%03d"); "%%" is a percent sign; anything else after a
  // "%" is copied as it stands.
  KvStatus paramSubstFmtCnt(KvString* out, const unsigned char* format) const;
  // Cuts the text at the remembered FOR of FOR UPDATE OF (nothing when
  // there is none). The text must be the statement's own (makeCopy).
  KvStatus stripForUpdate();
  // Replaces length bytes of text for part (a view into this text). The text
  // becomes the statement's own first. Every remembered place behind the
  // change moves by the difference; a token that starts where the change
  // starts takes the new length; a place inside the replaced part is gone;
  // a change inside WHERE CURRENT OF changes its length.
  KvStatus replaceSubString(const KvSubString* part, const unsigned char* text, uint32_t length);

 private:
  // A remembered token: offset and length in the text.
  struct Place {
    uint32_t offset = 0;
    uint32_t length = 0;
    bool set = false;
  };
  KvSubString part(const Place& place) const;
  void movePlace(Place* place, uint32_t start, uint32_t oldLength, uint32_t newLength);
  void setUpScanner(KvScanner* scanner) const;

  KvSqlVerb verb_ = sqlVerbUnknown;
  BaseSqlObjectKind objectKind_ = sqlObjectUnknown;
  Place verbPlace_;
  Place object_;
  Place cursorName_;
  KvArrayU32 markers_;
  uint16_t quotes_[3] = {'\'', '"', '`'};
  uint32_t forUpdatePos_ = 0;
  uint32_t currentOfPos_ = 0;
  uint32_t currentOfLength_ = 0;
};
